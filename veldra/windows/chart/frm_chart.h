#pragma once
// frmChart, the chart window "Veldra Chart": position errors of each interval between two
// consecutive images (upper chart) and the correction rate in force or, with corrections
// disabled, the measured drift rate (lower chart).  RA red and solid, DEC green and
// dashed; in night mode both dim red, still solid and dashed.
//
// Lifetime: the window is created, hidden, by the first UpdateCharts, ClearCharts or
// ShowChart.  Closing it by the user destroys it (the data in GlobalChartData() stays);
// the next of these calls creates a fresh one that shows the latest data at once, with
// "Show All History" unchecked, Label2 "Correction Rate (arcseconds/hour)" and the markers
// hidden until the next update.  killme destroys it for good at the main window's end.
// User-interface thread only; needs a QApplication.
#include "veldra/chart/chart_data.h"
#include "veldra/settings/settings.h"
#include "veldra/state/history_entry.h"

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QCheckBox;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// Hands the history to the charts (pipeline: historyCount and history; "Clear History":
// 0 and history).  Creates the window hidden when none is loaded; never shows it.
// settings: DISABLE_CORRECTIONS picks the rate rows and Label2's caption.
void UpdateCharts(int16_t count, const std::vector<HistoryEntry>& history,
                  const Settings& settings);
// Both charts to one row of zeros, chartHistoryCount 0 (Start).  Creates the window hidden.
void ClearCharts();
// Closes and destroys the window (main window's end).  The data stays.
void killme();
// "Display Chart": shows the window without making it modal (created first when needed).
void ShowChart();
// The settings record that a click on "Show All History" reads DISABLE_CORRECTIONS from:
// the main window's, which outlives the chart window.  Until one is set (or after
// nullptr), the click uses the value of the last UpdateCharts.
void SetChartSettings(const Settings* settings);

// Where a new chart window opens: where the user left it (stored in settingsFolder's
// window places when it closes), else beside mainWindow.  Empty folder: the window
// system places it.
void SetChartPlacement(QWidget* mainWindow, const std::string& settingsFolder);

class frmChart;
// The loaded window, or nullptr when none is loaded (for the main window and tests).
frmChart* LoadedChartWindow();
// The loaded window's colours again, after night mode was switched.
void RecolourChartWindow();

// One chart: two line series (RA red, DEC green) and their markers.
struct ChartPlot {
    QChartView* view = nullptr;
    QChart* chart = nullptr;
    QLineSeries* ra = nullptr;
    QLineSeries* dec = nullptr;
    QScatterSeries* raMarkers = nullptr;
    QScatterSeries* decMarkers = nullptr;
    QValueAxis* axisX = nullptr;
    QValueAxis* axisY = nullptr;
    double valueLow = -1; // the values shown, for fitting the value axis on a resize
    double valueHigh = 1;
};

class frmChart : public QWidget {
    Q_OBJECT
  public:
    explicit frmChart(QWidget* parent = nullptr);

    // Shows rows (numbered from firstRow) in one chart.
    void ShowRows(ChartPlot& plot, int firstRow, const std::vector<ChartRow>& rows);
    // Marker visibility of both series of one chart (size 20 points, blue fill).
    void SetMarkers(ChartPlot& plot, bool visible);
    // Both charts from GlobalChartData() (window load, ClearCharts, UpdateCharts).
    void ShowData();
    bool markersVisible(const ChartPlot& plot) const;
    // Series, labels and chart backgrounds in the day's or the night's colours.
    void PaintColours();
    double logicalDpi() const;

    QLabel* Label1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLabel* Label2 = nullptr;
    ChartPlot pos_err_chart;
    ChartPlot flex_rate_chart;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void Check1Clicked();
    void PlaceControls();
};
