#include "veldra/drift/correction.h"

#include "common/numbers.h"
#include "veldra/drift/drift_error.h"
#include "veldra/drift/history.h"
#include "veldra/guider/guider_link.h"
#include "veldra/settings/activity_log.h"

#include <cmath>

namespace {

void LogValue(const std::string& programFolder, const char* label, double value) {
    LogEvent(programFolder, std::string(label) + DefaultText(value));
}

} // namespace

bool ComputeCorrection(DriftHistory& drift, MonitorRecord& monitor, const Settings& settings,
                       const std::string& programFolder, const Platform& platform, double raDrift,
                       double decDrift) {
    double raRate = raDrift;
    double decRate = decDrift;
    double raAccel = 0;
    double decAccel = 0;
    if (settings.DISABLE_CORRECTIONS) {
        raRate = 0;
        decRate = 0;
    } else {
        if (settings.FILTER_PREDICTION_X) {
            raRate = drift.filterX.x.v0;
            raAccel = drift.filterX.x.v1;
        }
        if (settings.FILTER_PREDICTION_Y) {
            decRate = drift.filterY.x.v0;
            decAccel = drift.filterY.x.v1;
        }
    }
    LogValue(programFolder, " :    RA rate = ", raRate);
    LogValue(programFolder, " :    DEC rate = ", decRate);
    LogValue(programFolder, " :    RA accel = ", raAccel);
    LogValue(programFolder, " :    DEC accel = ", decAccel);

    // Worked on locals so that a failure leaves the corrections in force untouched.
    double ra = raRate;
    double dec = decRate;
    const double exposure = drift.history[drift.newestIndex].exposure;
    if (settings.USE_ACCELERATION_X)
        ra = raAccel * exposure * 1.5 + ra; // the rate's change over 1.5 exposures
    if (settings.USE_ACCELERATION_Y)
        dec = decAccel * exposure * 1.5 + dec;
    LogValue(programFolder, " :    ra correction before bias = ", ra);
    LogValue(programFolder, " :    dec correction before bias = ", dec);

    ra = settings.raBias + ra;
    dec = settings.decBias + dec;
    LogValue(programFolder, " :    ra correction after bias = ", ra);
    LogValue(programFolder, " :    dec correction after bias = ", dec);
    RequireFinite(programFolder, ra, "ra correction");
    RequireFinite(programFolder, dec, "dec correction");

    drift.currentRaCorrection = RoundHalfEven(ra);
    drift.currentDecCorrection = RoundHalfEven(dec);
    LogValue(programFolder, " :    ra correction after rounding = ", drift.currentRaCorrection);
    LogValue(programFolder, " :    dec correction after rounding = ", drift.currentDecCorrection);

    if (std::fabs(drift.currentRaCorrection) > kRateLimit ||
        std::fabs(drift.currentDecCorrection) > kRateLimit) {
        StopAtRateLimit(monitor, programFolder, platform);
        return false;
    }
    return true;
}

void StopAtRateLimit(MonitorRecord& monitor, const std::string& programFolder,
                     const Platform& platform) {
    LogEvent(programFolder, " :    correction rate is too large -- stopping");
    platform.setTimer1(false);
    monitor.timer1On = false;
    monitor.monitorState = MonitorState::Stopped;
    SendRateLimitSequence(platform);
    platform.messageBox("Correction rate is too large -- stopping.");
}

double LastRaError(const DriftHistory& drift, const Settings& settings) {
    if (drift.historyCount < 2)
        return 0;
    const HistoryEntry& n = drift.history[drift.newestIndex];
    const HistoryEntry& p = drift.history[drift.previousIndex];
    return (n.ra - p.ra) * std::cos(n.dec) / 2 / kPi * 360 * 60 * 60 -
           (n.time - p.time) * 24 * settings.raBias;
}

double LastDecError(const DriftHistory& drift, const Settings& settings) {
    if (drift.historyCount < 2)
        return 0;
    const HistoryEntry& n = drift.history[drift.newestIndex];
    const HistoryEntry& p = drift.history[drift.previousIndex];
    return (n.dec - p.dec) / 2 / kPi * 360 * 60 * 60 - (n.time - p.time) * 24 * settings.decBias;
}

double RaRate(const DriftHistory& drift) {
    return drift.currentRaCorrection;
}
double DecRate(const DriftHistory& drift) {
    return drift.currentDecCorrection;
}
