#pragma once
// The chart window's data and the rows it shows.  The data lives outside the window
// (for the whole program), so a window closed by the user and opened again shows the
// latest rows at once.  No widgets here.
#include "veldra/state/history_entry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// One row of a chart: column 0 RA, column 1 DEC.
using ChartRow = std::array<float, 2>;

struct ChartData {
    // Initial and emptied state: one row, numbered 0, holding 0 and 0.
    std::vector<ChartRow> positionErrorData{ChartRow{0, 0}}; // arcseconds
    std::vector<ChartRow> flexRateData{ChartRow{0, 0}};      // arcseconds/hour
    int firstRow = 0; // number of the first row held (the interval it belongs to)
    // The window's own copy of the history, for redrawing on its own ("Show All History").
    std::vector<HistoryEntry> chartHistory;
    int16_t chartHistoryCount = 0;
};

// The program's one chart record; lives until the program ends.
ChartData& GlobalChartData();

// Both data arrays to their emptied state and chartHistoryCount 0: what ClearCharts and
// the chart reset of LoadSettings do to the data.
void ResetChartData(ChartData& data);

// Interval between history entries earlier (i) and later (i + 1), in arcseconds: the shift
// on the sky less the shift that the later image's bias rate accounts for.  Double
// arithmetic left to right with pi = 3.14159265358979, stored as single precision.
float IntervalRaError(const HistoryEntry& earlier, const HistoryEntry& later);
float IntervalDecError(const HistoryEntry& earlier, const HistoryEntry& later);

// The measured drift in arcseconds/hour from a single-precision error and the interval
// length in days.  0 when the interval has no length or the quotient is not a finite
// float, so two images with the same time never stop the program.
float DriftRate(float error, double intervalDays);

// The rows the charts show for count history entries.
struct ChartRows {
    int firstRow = 0;
    std::vector<ChartRow> positionErrorData;
    std::vector<ChartRow> flexRateData;
    // Markers: visible exactly at count 2 (a single row, which has no line); empty when
    // count < 2, where the markers keep their last setting.
    std::optional<bool> markersVisible;
};

// count < 2: one row of zeros.  Otherwise rows first..count-2 with first := 0 when
// showAll or count < 7, else count - 7 (the last six intervals).  flexRateData holds the
// drift rates when disableCorrections, else raCorrection/decCorrection of entry i + 1.
// count is limited to the entries history holds (a negative count counts as 0).
ChartRows ComputeChartRows(int16_t count, const std::vector<HistoryEntry>& history, bool showAll,
                           bool disableCorrections);

// UpdateCharts without the window: copies history into chartHistory when count differs
// from chartHistoryCount, then stores the rows of ComputeChartRows.  history may be
// data.chartHistory itself.  Returns the markers setting (empty: keep the last one).
std::optional<bool> ApplyChartUpdate(ChartData& data, int16_t count,
                                     const std::vector<HistoryEntry>& history, bool showAll,
                                     bool disableCorrections);

// The caption of Label2.
const char* RateCaption(bool disableCorrections);
