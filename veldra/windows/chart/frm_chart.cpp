#include "veldra/windows/chart/frm_chart.h"

#include "veldra/chart/chart_layout.h"
#include "veldra/windows/night_colours.h"
#include "veldra/windows/window_places.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QResizeEvent>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {
QPointer<frmChart> loadedWindow;
const Settings* chartSettings = nullptr;
QPointer<QWidget> chartNeighbour;
std::string chartPlacesFolder;
constexpr const char* kChartPlaceName = "chart";
bool lastDisableCorrections = false;

const QColor kRaColour(255, 0, 0);
const QColor kDecColour(0, 192, 0);
const QColor kMarkerFill(0, 0, 255);
constexpr double kMarkerPoints = 20;

// The series colours of the day, or of the night (both red: the DEC line is dashed in
// both, so the series differ by more than colour).
struct ChartColours {
    QColor ra;
    QColor dec;
    QColor markerFill;
    const char* raCaption;
    const char* decCaption;
};

ChartColours Colours() {
    if (NightModeOn())
        return {NightText(), NightText(), NightGrey(), "RA = Solid", "DEC = Dashed"};
    return {kRaColour, kDecColour, kMarkerFill, "RA = Red", "DEC = Green"};
}

// Any use of the window by the chart operations loads it (hidden) when it is not loaded.
frmChart& LoadChartWindow() {
    if (!loadedWindow)
        loadedWindow = new frmChart();
    return *loadedWindow;
}

// At its first showing: where the user left it, else beside the main window, never over
// it (the window is made long before, hidden, when the settings load).
void PlaceChartWindow(frmChart& window) {
    if (window.property("veldraPlaced").toBool() || chartPlacesFolder.empty())
        return;
    window.setProperty("veldraPlaced", true);
    if (!RestoreWindowPlace(&window, chartPlacesFolder, kChartPlaceName) && chartNeighbour)
        PlaceBeside(&window, chartNeighbour);
}

void StoreChartPlace(const frmChart* window) {
    if (!chartPlacesFolder.empty() && window->isVisible())
        StoreWindowPlace(window, chartPlacesFolder, kChartPlaceName);
}

void UpdateChartsWith(int16_t count, const std::vector<HistoryEntry>& history,
                      bool disableCorrections) {
    frmChart& window = LoadChartWindow();
    // The rate chart is announced by Label2, its buddy, so its name follows the caption.
    window.Label2->setText(RateCaption(disableCorrections));
    const std::optional<bool> markers = ApplyChartUpdate(
        GlobalChartData(), count, history, window.Check1->isChecked(), disableCorrections);
    window.ShowData();
    if (markers) {
        window.SetMarkers(window.pos_err_chart, *markers);
        window.SetMarkers(window.flex_rate_chart, *markers);
    }
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(name);
    return label;
}

void MakeBold(QLabel* label) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
}

void ColourLabel(QLabel* label, const QColor& colour, const char* caption) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setText(caption);
}

QLineSeries* MakeLine(QChart* chart, const QString& name) {
    auto* series = new QLineSeries(chart);
    series->setName(name);
    chart->addSeries(series);
    return series;
}

QScatterSeries* MakeMarkers(QChart* chart, const QString& name) {
    auto* series = new QScatterSeries(chart);
    series->setName(name);
    series->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    series->setVisible(false); // design setting until an update says otherwise
    chart->addSeries(series);
    return series;
}

void PaintLine(QLineSeries* series, const QColor& colour, Qt::PenStyle style) {
    QPen pen(colour);
    pen.setWidth(2);
    pen.setStyle(style);
    series->setPen(pen);
}

// The chart's own colours, set in full every time (a theme set again changes nothing, so
// it cannot bring the day back): the desktop palette's by day, so a dark theme gives a
// dark chart; by night black with red axes, labels and grid.
void PaintPlot(ChartPlot& plot) {
    const ChartColours colours = Colours();
    const bool night = NightModeOn();
    const QPalette palette = QApplication::palette(plot.view);
    const QColor background = night ? QColor(0, 0, 0) : palette.color(QPalette::Window);
    const QColor area = night ? QColor(0, 0, 0) : palette.color(QPalette::Base);
    const QColor text = night ? NightText() : palette.color(QPalette::WindowText);
    const QColor line = night ? NightGrey() : palette.color(QPalette::Mid);
    const QColor grid = night ? QColor(30, 0, 0) : palette.color(QPalette::Midlight);
    plot.chart->setBackgroundBrush(background);
    plot.chart->setBackgroundPen(Qt::NoPen);
    plot.chart->setPlotAreaBackgroundBrush(area);
    plot.chart->setPlotAreaBackgroundVisible(true);
    plot.view->setBackgroundBrush(background);
    for (QValueAxis* axis : {plot.axisX, plot.axisY}) {
        axis->setLabelsColor(text);
        axis->setLinePenColor(line);
        axis->setGridLineColor(grid);
    }
    PaintLine(plot.ra, colours.ra, Qt::SolidLine);
    PaintLine(plot.dec, colours.dec, Qt::DashLine);
    plot.raMarkers->setBorderColor(colours.ra);
    plot.decMarkers->setBorderColor(colours.dec);
    for (QScatterSeries* markers : {plot.raMarkers, plot.decMarkers})
        markers->setColor(colours.markerFill);
}

// Named by the label whose buddy it is.
ChartPlot MakePlot(QWidget* parent, const char* name) {
    ChartPlot plot;
    plot.chart = new QChart();
    plot.chart->legend()->hide();
    plot.chart->setMargins(QMargins(2, 2, 2, 2));
    plot.ra = MakeLine(plot.chart, "RA");
    plot.dec = MakeLine(plot.chart, "DEC");
    plot.raMarkers = MakeMarkers(plot.chart, "RA markers");
    plot.decMarkers = MakeMarkers(plot.chart, "DEC markers");
    plot.axisX = new QValueAxis(plot.chart);
    plot.axisX->setLabelFormat("%d");
    plot.axisX->setTickType(QValueAxis::TicksDynamic);
    plot.axisY = new QValueAxis(plot.chart);
    plot.axisY->setLabelFormat("%.1f");
    plot.chart->addAxis(plot.axisX, Qt::AlignBottom);
    plot.chart->addAxis(plot.axisY, Qt::AlignLeft);
    for (QAbstractSeries* series : plot.chart->series()) {
        series->attachAxis(plot.axisX);
        series->attachAxis(plot.axisY);
    }
    plot.view = new QChartView(plot.chart, parent); // takes ownership of the chart
    plot.view->setObjectName(name);
    plot.view->setRenderHint(QPainter::Antialiasing);
    return plot;
}

// Axis range around values, never empty.
std::pair<double, double> Range(double low, double high) {
    if (!(low < high)) {
        low -= 1;
        high += 1;
    }
    return {low, high};
}
// The value axis over the plot's values, with as many labels as the chart's height holds
// (Qt Charts elides every label when they do not fit) at round numbers.
void FitValueAxis(ChartPlot& plot) {
    plot.axisY->setTickCount(std::clamp(plot.view->height() / 40, 2, 6));
    plot.axisY->setRange(plot.valueLow, plot.valueHigh);
    plot.axisY->applyNiceNumbers();
}
} // namespace

void UpdateCharts(int16_t count, const std::vector<HistoryEntry>& history,
                  const Settings& settings) {
    lastDisableCorrections = settings.DISABLE_CORRECTIONS;
    UpdateChartsWith(count, history, settings.DISABLE_CORRECTIONS);
}

void ClearCharts() {
    ResetChartData(GlobalChartData());
    LoadChartWindow().ShowData();
}

void killme() {
    frmChart* window = loadedWindow;
    loadedWindow = nullptr;
    if (window != nullptr)
        StoreChartPlace(window);
    delete window;
}

void SetChartPlacement(QWidget* mainWindow, const std::string& settingsFolder) {
    chartNeighbour = mainWindow;
    chartPlacesFolder = settingsFolder;
}

void ShowChart() {
    frmChart& window = LoadChartWindow();
    PlaceChartWindow(window);
    window.show();
    window.raise();
    window.activateWindow();
}

void SetChartSettings(const Settings* settings) {
    chartSettings = settings;
}

frmChart* LoadedChartWindow() {
    return loadedWindow;
}

void RecolourChartWindow() {
    if (loadedWindow)
        loadedWindow->PaintColours();
}

frmChart::frmChart(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmChart");
    setWindowTitle("Veldra Chart");
    // The main window's end closes this one (killme); it never keeps the program alive.
    setAttribute(Qt::WA_QuitOnClose, false);

    Label1 = MakeLabel(this, "Label1", "Position Error (arcseconds)");
    Label5 = MakeLabel(this, "Label5", "RA = Red");
    MakeBold(Label5);
    Label6 = MakeLabel(this, "Label6", "DEC = Green");
    MakeBold(Label6);
    Check1 = new QCheckBox("Show All History", this);
    Check1->setObjectName("Check1");
    pos_err_chart = MakePlot(this, "pos_err_chart");
    Label2 = MakeLabel(this, "Label2", RateCaption(false));
    flex_rate_chart = MakePlot(this, "flex_rate_chart");
    Label1->setBuddy(pos_err_chart.view);
    Label2->setBuddy(flex_rate_chart.view);
    setTabOrder(Check1, pos_err_chart.view);
    setTabOrder(pos_err_chart.view, flex_rate_chart.view);

    connect(Check1, &QCheckBox::clicked, this, [this] { Check1Clicked(); });

    PaintColours();
    const double dpi = logicalDpi();
    resize(TwipsToPixels(8385, dpi), TwipsToPixels(4650, dpi));
    PlaceControls();
    ShowData();
}

void frmChart::PaintColours() {
    const ChartColours colours = Colours();
    ColourLabel(Label5, colours.ra, colours.raCaption);
    ColourLabel(Label6, colours.dec, colours.decCaption);
    PaintPlot(pos_err_chart);
    PaintPlot(flex_rate_chart);
    PlaceControls(); // the captions' widths differ between day and night
}

double frmChart::logicalDpi() const {
    const int dpi = logicalDpiX();
    return dpi > 0 ? dpi : 96;
}

void frmChart::ShowRows(ChartPlot& plot, int firstRow, const std::vector<ChartRow>& rows) {
    QList<QPointF> ra;
    QList<QPointF> dec;
    double low = 0;
    double high = 0;
    for (size_t k = 0; k < rows.size(); ++k) {
        const double x = firstRow + static_cast<double>(k);
        // A value without a finite number has no place on the axis: leave it out.
        if (std::isfinite(rows[k][0]))
            ra.append(QPointF(x, rows[k][0]));
        if (std::isfinite(rows[k][1]))
            dec.append(QPointF(x, rows[k][1]));
    }
    for (const QList<QPointF>* points : {&ra, &dec}) {
        for (const QPointF& point : *points) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    plot.ra->replace(ra);
    plot.dec->replace(dec);
    plot.raMarkers->replace(ra);
    plot.decMarkers->replace(dec);

    const double lastRow = firstRow + static_cast<double>(rows.size()) - 1;
    const auto [xLow, xHigh] = Range(firstRow, lastRow);
    plot.axisX->setRange(xLow, xHigh);
    plot.axisX->setTickAnchor(firstRow);
    plot.axisX->setTickInterval(std::max(1.0, std::ceil((xHigh - xLow) / 8)));
    const auto [yLow, yHigh] = Range(low, high);
    plot.valueLow = yLow;
    plot.valueHigh = yHigh;
    FitValueAxis(plot);
}

void frmChart::SetMarkers(ChartPlot& plot, bool visible) {
    const double size = kMarkerPoints * logicalDpi() / 72;
    for (QScatterSeries* markers : {plot.raMarkers, plot.decMarkers}) {
        markers->setMarkerSize(size);
        markers->setColor(Colours().markerFill);
        markers->setVisible(visible);
    }
}

bool frmChart::markersVisible(const ChartPlot& plot) const {
    return plot.raMarkers->isVisible() && plot.decMarkers->isVisible();
}

void frmChart::ShowData() {
    const ChartData& data = GlobalChartData();
    ShowRows(pos_err_chart, data.firstRow, data.positionErrorData);
    ShowRows(flex_rate_chart, data.firstRow, data.flexRateData);
}

void frmChart::Check1Clicked() {
    const bool disableCorrections =
        chartSettings ? chartSettings->DISABLE_CORRECTIONS : lastDisableCorrections;
    ChartData& data = GlobalChartData();
    UpdateChartsWith(data.chartHistoryCount, data.chartHistory, disableCorrections);
}

void frmChart::PlaceControls() {
    const double dpi = logicalDpi();
    const auto place = [dpi](QWidget* widget, double left, double top, double width,
                             double height) {
        widget->setGeometry(TwipsToPixels(left, dpi), TwipsToPixels(top, dpi),
                            TwipsToPixels(width, dpi), TwipsToPixels(height, dpi));
    };
    const QSize outer = frameGeometry().size();
    const ChartLayout layout =
        ChartLayoutFor(PixelsToTwips(outer.width(), dpi), PixelsToTwips(outer.height(), dpi));
    // The upper row at its design places; a caption wider in this system's font than in
    // the design's pushes the controls after it to the right instead of being cut off.
    int left = 0;
    const struct {
        QWidget* widget;
        double left;
        double width;
    } row[] = {{Label1, 0, 2175}, {Label5, 2400, 855}, {Label6, 3480, 1455}, {Check1, 5040, 2175}};
    const int gap = TwipsToPixels(120, dpi);
    for (const auto& control : row) {
        const int x = std::max(TwipsToPixels(control.left, dpi), left);
        const int width =
            std::max(TwipsToPixels(control.width, dpi), control.widget->sizeHint().width());
        control.widget->setGeometry(x, 0, width, TwipsToPixels(255, dpi));
        left = x + width + gap;
    }
    place(pos_err_chart.view, 0, 240, layout.posErrWidth, layout.posErrHeight);
    place(Label2, 0, layout.label2Top, 3375, 255);
    // Wide enough for either caption, so a change of caption needs no new placing.
    const int captionWidth = std::max(Label2->fontMetrics().horizontalAdvance(RateCaption(false)),
                                      Label2->fontMetrics().horizontalAdvance(RateCaption(true)));
    Label2->resize(std::max(Label2->width(), captionWidth + 4), Label2->height());
    place(flex_rate_chart.view, 0, layout.flexTop, layout.flexWidth, layout.flexHeight);
    FitValueAxis(pos_err_chart);
    FitValueAxis(flex_rate_chart);
}

void frmChart::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A new desktop palette (a dark theme chosen while veldra runs) reaches the charts.
    if (event->type() == QEvent::PaletteChange && !NightModeOn())
        PaintColours();
}

void frmChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isMinimized())
        return;
    const double dpi = logicalDpi();
    // The minimum is for the outer size; the window system's frame is known once shown.
    const QSize frame = frameGeometry().size() - size();
    const QSize minimum(
        std::max(0, TwipsToPixels(kChartMinWidth, dpi) - std::max(0, frame.width())),
        std::max(0, TwipsToPixels(kChartMinHeight, dpi) - std::max(0, frame.height())));
    // The hint lets a window manager stop the drag; the rule itself is applied here, for
    // window systems that honour no hints: a smaller window is set back to the minimum.
    if (minimumSize() != minimum)
        setMinimumSize(minimum);
    if (width() < minimum.width() || height() < minimum.height()) {
        resize(size().expandedTo(minimum));
        return; // placed by the resize event that follows
    }
    PlaceControls();
}

void frmChart::closeEvent(QCloseEvent* event) {
    // Closing unloads the window; the data stays for the next one.
    StoreChartPlace(this);
    if (loadedWindow == this)
        loadedWindow = nullptr;
    event->accept();
    deleteLater();
}
