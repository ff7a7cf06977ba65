#include "veldra/chart/chart_data.h"
#include "veldra/chart/chart_layout.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kHour = 1.0 / 24; // days

// count + 1 entries (the history is indexed 0..count, like the main window's): one image
// an hour, 1 arcsecond of RA and 2 of DEC per image on the equator, corrections 100 + i
// and 200 + i so every rate row names its entry.
std::vector<HistoryEntry> History(int count) {
    const double arcsecond = 2 * kPi / (360 * 60 * 60);
    std::vector<HistoryEntry> history(count + 1);
    for (int i = 0; i < count; ++i) {
        history[i].time = 46000 + i * kHour;
        history[i].ra = 1 + i * arcsecond;
        history[i].dec = i * 2 * arcsecond;
        history[i].raCorrection = 100 + i;
        history[i].decCorrection = 200 + i;
    }
    return history;
}

TEST(ChartIntervals, ErrorsAreTheSkyShiftLessTheLaterBiasTimesTheInterval) {
    // 1e-4 rad = 20.6264806 arcsec; cos(pi/3) = 0.5 scales RA; one hour of bias.
    HistoryEntry earlier;
    earlier.time = 45000.25;
    earlier.ra = 2.0;
    earlier.dec = kPi / 3;
    HistoryEntry later = earlier;
    later.time += kHour;
    later.ra += 1e-4;
    later.dec += 1e-4;
    later.raBias = 10;
    later.decBias = -4;
    earlier.raBias = 999; // the earlier image's bias plays no part
    EXPECT_NEAR(IntervalRaError(earlier, later), 10.3132403 - 10, 1e-4);
    EXPECT_NEAR(IntervalDecError(earlier, later), 20.6264806 + 4, 1e-4);
}

TEST(ChartRows, FewerThanTwoEntriesShowOneRowOfZerosAndKeepTheMarkers) {
    const auto history = History(1);
    for (int16_t count : {0, 1}) {
        for (bool showAll : {false, true}) {
            const ChartRows rows = ComputeChartRows(count, history, showAll, false);
            ASSERT_EQ(rows.positionErrorData.size(), 1u);
            EXPECT_EQ(rows.positionErrorData[0], (ChartRow{0, 0}));
            EXPECT_EQ(rows.flexRateData, rows.positionErrorData);
            EXPECT_EQ(rows.firstRow, 0);
            EXPECT_FALSE(rows.markersVisible.has_value());
        }
    }
}

TEST(ChartRows, TwoEntriesShowOneRowWithMarkersThreeHideThem) {
    const ChartRows two = ComputeChartRows(2, History(2), false, false);
    ASSERT_EQ(two.positionErrorData.size(), 1u);
    EXPECT_NEAR(two.positionErrorData[0][0], 1, 1e-4);
    EXPECT_NEAR(two.positionErrorData[0][1], 2, 1e-4);
    EXPECT_EQ(two.flexRateData[0], (ChartRow{101, 201})); // the correction after image 2
    EXPECT_EQ(two.markersVisible, true);
    EXPECT_EQ(ComputeChartRows(3, History(3), false, false).markersVisible, false);
}

TEST(ChartRows, EightEntriesShowTheLastSixIntervalsOrAllSeven) {
    const auto history = History(8);
    const ChartRows recent = ComputeChartRows(8, history, false, false);
    EXPECT_EQ(recent.firstRow, 1);
    ASSERT_EQ(recent.flexRateData.size(), 6u);
    EXPECT_EQ(recent.flexRateData.front(), (ChartRow{102, 202}));
    EXPECT_EQ(recent.flexRateData.back(), (ChartRow{107, 207}));
    EXPECT_EQ(recent.markersVisible, false);

    const ChartRows all = ComputeChartRows(8, history, true, false);
    EXPECT_EQ(all.firstRow, 0);
    ASSERT_EQ(all.flexRateData.size(), 7u);
    EXPECT_EQ(all.flexRateData.front(), (ChartRow{101, 201}));
    ASSERT_EQ(all.positionErrorData.size(), 7u);
    EXPECT_EQ(all.positionErrorData[3], (ChartRow{IntervalRaError(history[3], history[4]),
                                                  IntervalDecError(history[3], history[4])}));

    // Six entries (five intervals) are all shown either way.
    EXPECT_EQ(ComputeChartRows(6, History(6), false, false).flexRateData.size(), 5u);
}

TEST(ChartRows, DisabledCorrectionsChartTheDriftAndAZeroLengthIntervalShowsZero) {
    auto history = History(4);
    history[2].time = history[1].time + kHour / 2; // 1 arcsec in half an hour: 2 per hour
    history[3].time = history[2].time;             // same time: no finite rate
    const ChartRows rows = ComputeChartRows(4, history, false, true);
    ASSERT_EQ(rows.flexRateData.size(), 3u);
    EXPECT_NEAR(rows.flexRateData[0][0], 1, 1e-4);
    EXPECT_NEAR(rows.flexRateData[1][0], 2, 1e-3);
    EXPECT_NEAR(rows.flexRateData[1][1], 4, 1e-3);
    EXPECT_EQ(rows.flexRateData[2], (ChartRow{0, 0}));
    EXPECT_NEAR(rows.positionErrorData[2][0], 1, 1e-4); // the error itself is still shown
    EXPECT_EQ(DriftRate(3e38f, 1e-20), 0.0f);           // beyond float: 0 as well
}

TEST(ChartRows, ACountBeyondTheHistoryUsesTheEntriesThereAre) {
    const ChartRows rows = ComputeChartRows(20, History(3), true, false);
    EXPECT_EQ(rows.flexRateData.size(), 3u); // four entries: three intervals
    EXPECT_EQ(ComputeChartRows(-5, History(3), true, false).flexRateData.size(), 1u);
}

TEST(ChartData, UpdateKeepsItsOwnCopyOfTheHistoryAndRedrawsFromIt) {
    ChartData data;
    auto history = History(8);
    EXPECT_EQ(ApplyChartUpdate(data, 8, history, false, false), false);
    EXPECT_EQ(data.chartHistoryCount, 8);
    EXPECT_EQ(data.firstRow, 1);
    EXPECT_EQ(data.flexRateData.size(), 6u);

    // The caller's history changes; "Show All History" redraws from the window's copy.
    history[1].raCorrection = -1;
    ApplyChartUpdate(data, data.chartHistoryCount, data.chartHistory, true, false);
    EXPECT_EQ(data.firstRow, 0);
    ASSERT_EQ(data.flexRateData.size(), 7u);
    EXPECT_EQ(data.flexRateData[0], (ChartRow{101, 201}));

    // A count below 2 empties the rows, leaves the markers alone and takes the count.
    EXPECT_FALSE(ApplyChartUpdate(data, 0, history, false, false).has_value());
    EXPECT_EQ(data.chartHistoryCount, 0);
    EXPECT_EQ(data.positionErrorData, (std::vector<ChartRow>{ChartRow{0, 0}}));

    ApplyChartUpdate(data, 5, history, false, false);
    ResetChartData(data);
    EXPECT_EQ(data.chartHistoryCount, 0);
    EXPECT_EQ(data.flexRateData, (std::vector<ChartRow>{ChartRow{0, 0}}));
    EXPECT_EQ(data.firstRow, 0);
}

TEST(ChartData, RateCaptionFollowsDisabledCorrections) {
    EXPECT_STREQ(RateCaption(true), "Flexure Rate (arcseconds/hour)");
    EXPECT_STREQ(RateCaption(false), "Correction Rate (arcseconds/hour)");
}

TEST(ChartLayout, DesignWidthGivesDesignChartsAndSmallSizesSnapToTheMinimum) {
    const ChartLayout design = ChartLayoutFor(8385, 5220);
    EXPECT_DOUBLE_EQ(design.posErrWidth, 8295);
    EXPECT_DOUBLE_EQ(design.flexWidth, 8295);
    EXPECT_DOUBLE_EQ(design.flexHeight, 2055);
    EXPECT_NEAR(design.posErrHeight, 5220.0 / 5520 * 2055, 1e-9);
    EXPECT_DOUBLE_EQ(design.label2Top, 2500);
    EXPECT_DOUBLE_EQ(design.flexTop, 2740);

    const ChartLayout small = ChartLayoutFor(3000, 4000);
    EXPECT_DOUBLE_EQ(small.width, 6500);
    EXPECT_DOUBLE_EQ(small.height, 5220);
    EXPECT_NEAR(small.posErrWidth, 6500.0 / 8385 * 8295, 1e-9);
    EXPECT_DOUBLE_EQ(small.flexHeight, 2055);

    const ChartLayout tall = ChartLayoutFor(10000, 10440);
    EXPECT_DOUBLE_EQ(tall.label2Top, 5000);
    EXPECT_DOUBLE_EQ(tall.flexTop, 5240);
    EXPECT_DOUBLE_EQ(tall.flexHeight, 4110);
}

TEST(ChartLayout, TwipsAreFifteenToAPixelAt96Dpi) {
    EXPECT_EQ(TwipsToPixels(8295, 96), 553);
    EXPECT_EQ(TwipsToPixels(8295, 192), 1106);
    EXPECT_EQ(TwipsToPixels(7.5, 96), 0); // half a pixel: to even
    EXPECT_DOUBLE_EQ(PixelsToTwips(559, 96), 8385);
}

} // namespace

#ifdef VELDRA_CHART_WINDOW
// frmChart itself on the offscreen platform.
#include "tests/qt_test_app.h"
#include "tests/spoken_name.h"
#include "veldra/windows/chart/frm_chart.h"

#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QWindow>

namespace {

// Deletes a chart window still loaded before the application goes.
class ChartTestApplication : public QtTestApplication<QApplication> {
  public:
    using QtTestApplication::QtTestApplication;
    void TearDown() override {
        killme();
        QtTestApplication::TearDown();
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new ChartTestApplication("chart_test"));

// Every window test starts without a window and with emptied data.
class ChartWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        killme();
        SetChartSettings(nullptr);
        ResetChartData(GlobalChartData());
    }
    void TearDown() override { killme(); }
    static frmChart& Window() {
        frmChart* window = LoadedChartWindow();
        EXPECT_NE(window, nullptr);
        return *window;
    }
    static std::vector<float> Ys(const QXYSeries* series) {
        std::vector<float> ys;
        for (const QPointF& point : series->points())
            ys.push_back(static_cast<float>(point.y()));
        return ys;
    }
    static std::vector<double> Xs(const QXYSeries* series) {
        std::vector<double> xs;
        for (const QPointF& point : series->points())
            xs.push_back(point.x());
        return xs;
    }
    // The next control that the Tab key reaches: as Qt's own rule, skipping widgets
    // without Tab focus and those that hand their focus on (a chart's viewport).
    static QWidget* NextTabStop(QWidget* widget) {
        QWidget* next = widget->nextInFocusChain();
        while (next != widget && (!(next->focusPolicy() & Qt::TabFocus) || next->focusProxy()))
            next = next->nextInFocusChain();
        return next;
    }
    Settings settings;
};

TEST_F(ChartWindow, UpdateLoadsTheWindowHiddenAndDrawsTheRows) {
    UpdateCharts(8, History(8), settings);
    frmChart& window = Window();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Veldra Chart");
    EXPECT_EQ(Xs(window.flex_rate_chart.ra), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Ys(window.flex_rate_chart.ra), (std::vector<float>{102, 103, 104, 105, 106, 107}));
    EXPECT_EQ(Ys(window.flex_rate_chart.dec).back(), 207);
    EXPECT_EQ(window.pos_err_chart.ra->points().size(), 6);
    EXPECT_EQ(window.pos_err_chart.ra->pen().color(), QColor(255, 0, 0));
    EXPECT_EQ(window.pos_err_chart.dec->pen().color(), QColor(0, 192, 0));
    EXPECT_FALSE(window.markersVisible(window.pos_err_chart));
    EXPECT_EQ(window.Label2->text(), "Correction Rate (arcseconds/hour)");

    settings.DISABLE_CORRECTIONS = true;
    UpdateCharts(1, History(1), settings);
    EXPECT_EQ(window.Label2->text(), "Flexure Rate (arcseconds/hour)");
    EXPECT_EQ(Ys(window.pos_err_chart.ra), (std::vector<float>{0}));
    EXPECT_EQ(Ys(window.flex_rate_chart.dec), (std::vector<float>{0}));
}

TEST_F(ChartWindow, MarkersShowOnlyAtTwoEntriesAndBelowTwoKeepTheirSetting) {
    UpdateCharts(2, History(2), settings);
    frmChart& window = Window();
    for (const ChartPlot* plot : {&window.pos_err_chart, &window.flex_rate_chart}) {
        EXPECT_TRUE(window.markersVisible(*plot));
        EXPECT_EQ(plot->raMarkers->color(), QColor(0, 0, 255));
        EXPECT_DOUBLE_EQ(plot->raMarkers->markerSize(), 20 * window.logicalDpi() / 72);
    }
    UpdateCharts(1, History(1), settings);
    EXPECT_TRUE(window.markersVisible(window.flex_rate_chart));
    UpdateCharts(3, History(3), settings);
    EXPECT_FALSE(window.markersVisible(window.pos_err_chart));
    EXPECT_FALSE(window.markersVisible(window.flex_rate_chart));
}

TEST_F(ChartWindow, ShowAllHistoryRedrawsFromTheWindowsOwnCopy) {
    settings.DISABLE_CORRECTIONS = true;
    SetChartSettings(&settings);
    auto history = History(8);
    UpdateCharts(8, history, settings);
    history.assign(1, HistoryEntry{}); // the main window's history is gone
    frmChart& window = Window();
    window.Check1->click();
    EXPECT_EQ(Xs(window.pos_err_chart.dec).front(), 0);
    EXPECT_EQ(window.pos_err_chart.dec->points().size(), 7);
    EXPECT_NEAR(window.flex_rate_chart.dec->points().front().y(), 2, 1e-3); // drift rows
    EXPECT_EQ(window.Label2->text(), "Flexure Rate (arcseconds/hour)");
    window.Check1->click();
    EXPECT_EQ(window.pos_err_chart.dec->points().size(), 6);
}

TEST_F(ChartWindow, ClosedByTheUserAndShownAgainItShowsTheLatestDataAtDesignSettings) {
    settings.DISABLE_CORRECTIONS = true;
    UpdateCharts(2, History(2), settings);
    ShowChart();
    frmChart* first = LoadedChartWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    first->Check1->click();
    first->close();
    EXPECT_EQ(LoadedChartWindow(), nullptr); // unloaded at once; the data stays
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    ShowChart();
    frmChart& window = Window();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.Check1->isChecked());
    EXPECT_EQ(window.Label2->text(), "Correction Rate (arcseconds/hour)");
    EXPECT_FALSE(window.markersVisible(window.pos_err_chart));
    EXPECT_NEAR(window.flex_rate_chart.ra->points().front().y(), 1, 1e-4);

    ClearCharts();
    EXPECT_EQ(Ys(window.pos_err_chart.ra), (std::vector<float>{0}));
    EXPECT_EQ(GlobalChartData().chartHistoryCount, 0);
}

TEST_F(ChartWindow, ResizingSnapsToTheMinimumAndScalesTheCharts) {
    ShowChart(); // a hidden window gets its resize events only when shown
    frmChart& window = Window();
    const double dpi = window.logicalDpi();
    // The rules take the outer size, frame included.
    const QSize frame = window.frameGeometry().size() - window.size();
    window.resize(TwipsToPixels(8385, dpi) - frame.width(),
                  TwipsToPixels(5220, dpi) - frame.height());
    ASSERT_EQ(window.frameGeometry().width(), TwipsToPixels(8385, dpi));
    EXPECT_EQ(window.pos_err_chart.view->width(), TwipsToPixels(8295, dpi));
    EXPECT_EQ(window.flex_rate_chart.view->height(), TwipsToPixels(2055, dpi));
    EXPECT_EQ(window.Label2->y(), TwipsToPixels(2500, dpi));
    EXPECT_EQ(window.flex_rate_chart.view->y(), TwipsToPixels(2740, dpi));

    window.resize(50, 40);
    EXPECT_EQ(window.frameGeometry().width(), TwipsToPixels(6500, dpi));
    EXPECT_EQ(window.frameGeometry().height(), TwipsToPixels(5220, dpi));
    EXPECT_EQ(window.flex_rate_chart.view->width(), TwipsToPixels(6500.0 / 8385 * 8295, dpi));
}

TEST_F(ChartWindow, AWindowSystemThatIgnoresTheMinimumIsOverruledInTheResizeHandler) {
    ShowChart();
    frmChart& window = Window();
    const double dpi = window.logicalDpi();
    // As a window manager without size hints would: the platform window itself shrinks.
    window.windowHandle()->resize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_GE(window.frameGeometry().width(), TwipsToPixels(6500, dpi));
    EXPECT_GE(window.frameGeometry().height(), TwipsToPixels(5220, dpi));
    EXPECT_EQ(window.windowHandle()->width(), window.width());
}

TEST_F(ChartWindow, ControlsHaveNamesAndTabInVisualOrder) {
    ClearCharts();
    frmChart& window = Window();
    EXPECT_EQ(SpokenName(window.Check1), "Show All History");
    EXPECT_EQ(SpokenName(window.pos_err_chart.view), "Position Error (arcseconds)");
    EXPECT_EQ(SpokenName(window.flex_rate_chart.view), "Correction Rate (arcseconds/hour)");
    // The rate chart is announced with the caption its label shows now.
    settings.DISABLE_CORRECTIONS = true;
    UpdateCharts(0, {}, settings);
    EXPECT_EQ(SpokenName(window.flex_rate_chart.view), "Flexure Rate (arcseconds/hour)");
    EXPECT_EQ(window.Label5->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(window.Label6->font().bold());
    EXPECT_EQ(NextTabStop(window.Check1), window.pos_err_chart.view);
    EXPECT_EQ(NextTabStop(window.pos_err_chart.view), window.flex_rate_chart.view);
}

} // namespace
#endif
