#include "veldra/drift/correction.h"

#include "common/numbers.h"
#include "veldra/drift/drift_error.h"
#include "veldra/drift/history.h"
#include "veldra/guider/guider_link.h"
#include "veldra/settings/activity_log.h"

#include <cmath>

namespace {

void LogValue(const MainState& state, const char* label, double value) {
    LogEvent(state.programFolder, std::string(label) + DefaultText(value));
}

} // namespace

bool ComputeCorrection(MainState& state, const Platform& platform, double raDrift,
                       double decDrift) {
    const Settings& settings = state.settings;
    double raRate = raDrift;
    double decRate = decDrift;
    double raAccel = 0;
    double decAccel = 0;
    if (settings.DISABLE_CORRECTIONS) {
        raRate = 0;
        decRate = 0;
    } else {
        if (settings.FILTER_PREDICTION_X) {
            raRate = state.drift.filterX.x.v0;
            raAccel = state.drift.filterX.x.v1;
        }
        if (settings.FILTER_PREDICTION_Y) {
            decRate = state.drift.filterY.x.v0;
            decAccel = state.drift.filterY.x.v1;
        }
    }
    LogValue(state, " :    RA rate = ", raRate);
    LogValue(state, " :    DEC rate = ", decRate);
    LogValue(state, " :    RA accel = ", raAccel);
    LogValue(state, " :    DEC accel = ", decAccel);

    // Worked on locals so that a failure leaves the corrections in force untouched.
    double ra = raRate;
    double dec = decRate;
    const double exposure = state.drift.history[state.drift.newestIndex].exposure;
    if (settings.USE_ACCELERATION_X)
        ra = raAccel * exposure * 1.5 + ra; // the rate's change over 1.5 exposures
    if (settings.USE_ACCELERATION_Y)
        dec = decAccel * exposure * 1.5 + dec;
    LogValue(state, " :    ra correction before bias = ", ra);
    LogValue(state, " :    dec correction before bias = ", dec);

    ra = settings.raBias + ra;
    dec = settings.decBias + dec;
    LogValue(state, " :    ra correction after bias = ", ra);
    LogValue(state, " :    dec correction after bias = ", dec);
    RequireFinite(state.programFolder, ra, "ra correction");
    RequireFinite(state.programFolder, dec, "dec correction");

    state.drift.currentRaCorrection = RoundHalfEven(ra);
    state.drift.currentDecCorrection = RoundHalfEven(dec);
    LogValue(state, " :    ra correction after rounding = ", state.drift.currentRaCorrection);
    LogValue(state, " :    dec correction after rounding = ", state.drift.currentDecCorrection);

    if (std::fabs(state.drift.currentRaCorrection) > kRateLimit ||
        std::fabs(state.drift.currentDecCorrection) > kRateLimit) {
        StopAtRateLimit(state, platform);
        return false;
    }
    return true;
}

void StopAtRateLimit(MainState& state, const Platform& platform) {
    LogEvent(state.programFolder, " :    correction rate is too large -- stopping");
    platform.setTimer1(false);
    state.monitor.timer1On = false;
    state.monitor.monitorState = MonitorState::Stopped;
    SendRateLimitSequence(platform);
    platform.messageBox("Correction rate is too large -- stopping.");
}

double LastRaError(const MainState& state) {
    if (state.drift.historyCount < 2)
        return 0;
    const HistoryEntry& n = state.drift.history[state.drift.newestIndex];
    const HistoryEntry& p = state.drift.history[state.drift.previousIndex];
    return (n.ra - p.ra) * std::cos(n.dec) / 2 / kPi * 360 * 60 * 60 -
           (n.time - p.time) * 24 * state.settings.raBias;
}

double LastDecError(const MainState& state) {
    if (state.drift.historyCount < 2)
        return 0;
    const HistoryEntry& n = state.drift.history[state.drift.newestIndex];
    const HistoryEntry& p = state.drift.history[state.drift.previousIndex];
    return (n.dec - p.dec) / 2 / kPi * 360 * 60 * 60 -
           (n.time - p.time) * 24 * state.settings.decBias;
}

double RaRate(const MainState& state) {
    return state.drift.currentRaCorrection;
}
double DecRate(const MainState& state) {
    return state.drift.currentDecCorrection;
}
