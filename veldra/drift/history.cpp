#include "veldra/drift/history.h"

#include "common/date_time.h"
#include "common/file_utils.h"
#include "common/numbers.h"
#include "veldra/drift/correction.h"
#include "veldra/drift/dither_pair.h"
#include "veldra/drift/kalman.h"
#include "veldra/guider/guider_link.h"
#include "veldra/settings/activity_log.h"

#include <algorithm>
#include <cmath>

namespace {

const char* TrueFalse(bool value) {
    return value ? "True" : "False";
}

void RequireFiniteFilter(const std::string& folder, const KalmanFilter& filter,
                         const std::string& name) {
    for (double value :
         {filter.x.v0, filter.x.v1, filter.P.m00, filter.P.m01, filter.P.m10, filter.P.m11})
        RequireFinite(folder, value, name);
}

enum class PairOutcome { Sent, NoRate, Stopped };

// The corrections in force before the previous image's: image 2 follows the biases now
// in the boxes, later images the correction stored with the image before the previous.
DriftRates PrecedingCorrections(const DriftHistory& drift, const Settings& settings) {
    if (drift.historyCount > 2 && drift.previousIndex >= 1) {
        const HistoryEntry& beforePrevious = drift.history[drift.previousIndex - 1];
        return {beforePrevious.raCorrection, beforePrevious.decCorrection};
    }
    return {settings.raBias, settings.decBias};
}

// While PHD2 had the shift off at its limit no correction was in force: the filters
// must see the drift as it is for that share of the pair.
double ShiftOnShare(const std::string& folder, const HistoryEntry& newest,
                    const HistoryEntry& previous, double dt) {
    if (!newest.dither || !previous.dither)
        return 1;
    const double off = newest.dither->shiftOffSeconds - previous.dither->shiftOffSeconds;
    const double onShare = std::clamp(1 - off / (dt * 86400), 0.0, 1.0);
    if (onShare < 1)
        LogEvent(folder, " :    PHD2's lock shift was off for " +
                             DefaultText(std::round((1 - onShare) * 100)) +
                             " % of this pair -- its correction counted for the rest");
    return onShare;
}

// The pair's drift rates with the dithers between its images taken out (and learnt
// from); nothing when a dither leaves the pair without a rate.
std::optional<DriftRates> PairDrift(MainState& state, const HistoryEntry& newest,
                                    const HistoryEntry& previous, double dt) {
    const std::string& folder = state.programFolder;
    const DriftRates preceding = PrecedingCorrections(state.drift, state.settings);
    const double onShare = ShiftOnShare(folder, newest, previous, dt);
    const auto rates = [&](const HistoryEntry& moved) {
        return ComputeDriftRates(moved, previous, onShare * state.drift.currentRaCorrection,
                                 onShare * state.drift.currentDecCorrection, onShare * preceding.ra,
                                 onShare * preceding.dec);
    };
    DriftRates drift = rates(newest);
    const PairDither dither = DitherOfPair(newest, previous);
    if (dither.learnable) {
        // The jump across the dither net of the corrections: the dither's sky offset and
        // the drift, which the fit separates.
        const double hours = dt * 24;
        if (LearnDitherMap(state.dithers, folder, dither, hours,
                           Vector2{-drift.ra * hours, -drift.dec * hours}))
            state.drift.filtersSeeded = false; // they hold rates of a wrong map
    }
    if (dither.moved) {
        const std::optional<Vector2> sky = RemovedDither(state.dithers, folder, dither);
        if (!sky) {
            LogEvent(folder, " :    the dither has no sky offset (PHD2 reports no calibration) "
                             "-- no drift rate from this image");
            return std::nullopt;
        }
        drift = rates(WithoutDither(newest, *sky));
    }
    RequireFinite(folder, drift.ra, "RA drift rate");
    RequireFinite(folder, drift.dec, "DEC drift rate");
    return drift;
}

// The filters run whatever the settings, so switching prediction on mid-run finds them
// up to date.  The first rate of a history seeds them.
void StepFilters(DriftHistory& drift, const std::string& folder, const DriftRates& rates,
                 double dt) {
    if (!drift.filtersSeeded) {
        drift.filterX.x = Vector2{rates.ra, 0};
        drift.filterY.x = Vector2{rates.dec, 0};
        drift.filtersSeeded = true;
        return;
    }
    const double dts = dt * 86400;
    const Matrix2 F{1, dts, 0, 1};
    const Vector2 u{0, 0};
    // z1 is the filter's own x1: only the rate is measured.
    KalmanStep(drift.filterX, u, Vector2{rates.ra, drift.filterX.x.v1}, F);
    KalmanStep(drift.filterY, u, Vector2{rates.dec, drift.filterY.x.v1}, F);
    RequireFiniteFilter(folder, drift.filterX, "RA filter state");
    RequireFiniteFilter(folder, drift.filterY, "DEC filter state");
}

// The second half of an append from image 2 on: drift, filters, correction.  NoRate when
// a dither leaves the pair without a rate, Stopped when the rate limit stopped monitoring.
PairOutcome UpdateCorrection(MainState& state, const Platform& platform) {
    const HistoryEntry& newest = state.drift.history[state.drift.newestIndex];
    const HistoryEntry& previous = state.drift.history[state.drift.previousIndex];
    const std::string& folder = state.programFolder;
    const double dt = newest.time - previous.time;
    if (dt == 0) {
        LogEvent(
            folder,
            " :    image time equals the previous image time -- no drift rate, image not used");
        throw DriftArithmeticError("image time equals the previous image time");
    }
    if (const std::string why = DitherSkipReason(newest, previous); !why.empty()) {
        // The image still becomes the base of the next pair; the corrections stay.
        LogEvent(folder, " :    " + why + " -- no drift rate from this image");
        return PairOutcome::NoRate;
    }
    const std::optional<DriftRates> rates = PairDrift(state, newest, previous, dt);
    if (!rates)
        return PairOutcome::NoRate;
    StepFilters(state.drift, folder, *rates, dt);
    return ComputeCorrection(state.drift, state.monitor, state.settings, folder, platform,
                             rates->ra, rates->dec)
               ? PairOutcome::Sent
               : PairOutcome::Stopped;
}

} // namespace

DriftRates ComputeDriftRates(const HistoryEntry& newest, const HistoryEntry& previous,
                             double currentRaCorrection, double currentDecCorrection,
                             double precedingRaCorrection, double precedingDecCorrection) {
    const double dt = newest.time - previous.time;
    // Half the previous exposure as a fraction of the interval: the part during which
    // the correction before the latest change was still in force.
    const double a = previous.exposure / 2 / dt / 86400;
    const double b = 1 - a;
    const double measuredRa =
        -(newest.ra - previous.ra) / 2 / kPi * 360 * 60 * 60 / dt / 24 * std::cos(newest.dec);
    const double measuredDec = -(newest.dec - previous.dec) / 2 / kPi * 360 * 60 * 60 / dt / 24;
    return DriftRates{b * currentRaCorrection + measuredRa + a * precedingRaCorrection,
                      b * currentDecCorrection + measuredDec + a * precedingDecCorrection};
}

void AppendMeasurement(MainState& state, const Platform& platform, const std::string& path,
                       double time, double ra, double dec, float exposure,
                       const std::optional<DitherInForce>& dither) {
    const std::string& folder = state.programFolder;
    if (state.drift.historyCount == kHistoryLimit) {
        LogEvent(folder, " : History holds 32767 images -- starting a new history");
        state.drift.historyCount = 0;
    }
    // What a failed image must not change.
    const int16_t oldCount = state.drift.historyCount;
    const int16_t oldNewest = state.drift.newestIndex;
    const int16_t oldPrevious = state.drift.previousIndex;
    const KalmanFilter oldFilterX = state.drift.filterX;
    const KalmanFilter oldFilterY = state.drift.filterY;
    const bool oldSeeded = state.drift.filtersSeeded;
    const DitherFit oldFit = state.dithers.fit;

    state.drift.previousIndex = state.drift.newestIndex;
    state.drift.newestIndex = state.drift.historyCount;
    state.drift.historyCount = static_cast<int16_t>(state.drift.historyCount + 1);
    LogEvent(folder,
             " :    image #" + std::to_string(state.drift.historyCount) + " solved successfully");
    if (state.drift.history.size() < static_cast<size_t>(state.drift.historyCount) + 1)
        state.drift.history.resize(static_cast<size_t>(state.drift.historyCount) + 1);

    // The corrections start at 0 so an entry that never gets its own (rate limit) shows
    // none rather than those of an older run in the same slot.
    const int16_t index = state.drift.newestIndex;
    state.drift.history[index] = HistoryEntry{.fileName = FileNameOf(path),
                                              .time = time,
                                              .ra = ra,
                                              .dec = dec,
                                              .exposure = exposure,
                                              .raBias = state.settings.raBias,
                                              .decBias = state.settings.decBias,
                                              .dither = dither};
    LogEvent(folder, " :    time = " + DateTimeText(time));
    LogEvent(folder, " :    RA = " + DefaultText(ra));
    LogEvent(folder, " :    DEC = " + DefaultText(dec));
    LogEvent(folder,
             std::string(" :    filter X is ") + TrueFalse(state.settings.FILTER_PREDICTION_X));
    LogEvent(folder,
             std::string(" :    filter Y is ") + TrueFalse(state.settings.FILTER_PREDICTION_Y));
    if (dither)
        LogDitherInForce(folder, *dither);

    if (state.drift.historyCount == 1) {
        KalmanInit(state.drift.filterX, 1.0, 0.00001, 1.0);
        KalmanInit(state.drift.filterY, 1.0, 0.00001, 1.0);
        state.drift.filtersSeeded = false;
    } else {
        PairOutcome outcome;
        try {
            outcome = UpdateCorrection(state, platform);
        } catch (const DriftArithmeticError&) {
            state.drift.historyCount = oldCount;
            state.drift.newestIndex = oldNewest;
            state.drift.previousIndex = oldPrevious;
            state.drift.filterX = oldFilterX;
            state.drift.filterY = oldFilterY;
            state.drift.filtersSeeded = oldSeeded;
            state.dithers.fit = oldFit;
            throw;
        }
        if (outcome == PairOutcome::Stopped)
            return; // stopped at the rate limit: the entry keeps no correction
        if (outcome == PairOutcome::Sent)
            SendImageCorrection(state.drift, state.settings, folder, platform);
    }
    // By index, not by reference: the platform calls above may run window events.
    state.drift.history[index].raCorrection = state.drift.currentRaCorrection;
    state.drift.history[index].decCorrection = state.drift.currentDecCorrection;
}

void ClearHistory(DriftHistory& drift, const std::string& programFolder, const Platform& platform) {
    LogEvent(programFolder, " : History Cleared");
    drift.historyCount = 0;
    platform.refreshMainWindow();
    platform.updateCharts(0, drift.history);
}
