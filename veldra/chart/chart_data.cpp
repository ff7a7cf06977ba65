#include "veldra/chart/chart_data.h"

#include "common/numbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

ChartRow ErrorRow(const HistoryEntry& earlier, const HistoryEntry& later) {
    return {IntervalRaError(earlier, later), IntervalDecError(earlier, later)};
}
} // namespace

ChartData& GlobalChartData() {
    static ChartData data;
    return data;
}

void ResetChartData(ChartData& data) {
    data.positionErrorData.assign(1, ChartRow{0, 0});
    data.flexRateData.assign(1, ChartRow{0, 0});
    data.firstRow = 0;
    data.chartHistory.clear();
    data.chartHistoryCount = 0;
}

float IntervalRaError(const HistoryEntry& earlier, const HistoryEntry& later) {
    const double dt = later.time - earlier.time;
    return static_cast<float>((later.ra - earlier.ra) / 2 / kPi * 360 * 60 * 60 *
                                  std::cos(earlier.dec) -
                              dt * 24 * later.raBias);
}

float IntervalDecError(const HistoryEntry& earlier, const HistoryEntry& later) {
    const double dt = later.time - earlier.time;
    return static_cast<float>((later.dec - earlier.dec) / 2 / kPi * 360 * 60 * 60 -
                              dt * 24 * later.decBias);
}

float DriftRate(float error, double intervalDays) {
    const double hours = intervalDays * 24;
    if (hours == 0)
        return 0;
    const double rate = error / hours;
    // A float cast of a value beyond float's range is undefined: keep it out.
    if (!std::isfinite(rate) || std::fabs(rate) > std::numeric_limits<float>::max())
        return 0;
    return static_cast<float>(rate);
}

ChartRows ComputeChartRows(int16_t count, const std::vector<HistoryEntry>& history, bool showAll,
                           bool disableCorrections) {
    const int available = static_cast<int>(std::min<size_t>(history.size(), INT16_MAX));
    const int n = std::clamp<int>(count, 0, available);
    ChartRows rows;
    if (n < 2) {
        rows.positionErrorData.assign(1, ChartRow{0, 0});
        rows.flexRateData.assign(1, ChartRow{0, 0});
        return rows;
    }
    const int first = (showAll || n < 7) ? 0 : n - 7;
    rows.firstRow = first;
    rows.positionErrorData.reserve(n - 1 - first);
    rows.flexRateData.reserve(n - 1 - first);
    for (int i = first; i <= n - 2; ++i) {
        const HistoryEntry& earlier = history[i];
        const HistoryEntry& later = history[i + 1];
        const ChartRow error = ErrorRow(earlier, later);
        rows.positionErrorData.push_back(error);
        if (disableCorrections) {
            const double dt = later.time - earlier.time;
            rows.flexRateData.push_back({DriftRate(error[0], dt), DriftRate(error[1], dt)});
        } else {
            rows.flexRateData.push_back(
                {static_cast<float>(later.raCorrection), static_cast<float>(later.decCorrection)});
        }
    }
    rows.markersVisible = (n == 2);
    return rows;
}

std::optional<bool> ApplyChartUpdate(ChartData& data, int16_t count,
                                     const std::vector<HistoryEntry>& history, bool showAll,
                                     bool disableCorrections) {
    ChartRows rows = ComputeChartRows(count, history, showAll, disableCorrections);
    if (count != data.chartHistoryCount) {
        const size_t n = std::min<size_t>(std::max<int>(count, 0), history.size());
        // A copy first: history may be data.chartHistory itself.
        std::vector<HistoryEntry> copy(history.begin(), history.begin() + n);
        data.chartHistory = std::move(copy);
        data.chartHistoryCount = static_cast<int16_t>(n);
    }
    data.firstRow = rows.firstRow;
    data.positionErrorData = std::move(rows.positionErrorData);
    data.flexRateData = std::move(rows.flexRateData);
    return rows.markersVisible;
}

const char* RateCaption(bool disableCorrections) {
    return disableCorrections ? "Flexure Rate (arcseconds/hour)"
                              : "Correction Rate (arcseconds/hour)";
}
