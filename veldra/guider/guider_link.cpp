#include "veldra/guider/guider_link.h"

#include "common/numbers.h"
#include "veldra/settings/activity_log.h"

#include <cmath>
#include <limits>

namespace {

constexpr int32_t kNoShift = 10000;

// Posts name with both rates encoded, and with SIM also sends it to the simulator.
// A rate that does not fit is refused whole: half a message would mislead the guider.
void PostSetShift(const Settings& settings, const std::string& programFolder,
                  const Platform& platform, double raRate, double decRate) {
    const std::optional<int16_t> wParam = EncodeRate(raRate);
    const std::optional<int16_t> lParam = EncodeRate(decRate);
    if (!wParam || !lParam) {
        LogEvent(programFolder, std::string(" :    rates ") + DefaultText(raRate) + ", " +
                                    DefaultText(decRate) +
                                    " do not fit the guider message -- not sent");
        return;
    }
    platform.postMessage(kSetShiftMessage, *wParam, *lParam);
    if (settings.SIM)
        platform.sendMessage(kSimulatorSetShiftMessage, *wParam, *lParam);
}

} // namespace

bool IsRegisteredMessage(const std::string& name) {
    for (const char* registered :
         {kSetBiasMessage, kSetShiftMessage, kShiftMessage, kUnShiftMessage, kCentroidTypeMessage,
          kSimulatorSetShiftMessage})
        if (name == registered)
            return true;
    return false;
}

std::optional<int16_t> EncodeRate(double rate) {
    const double rounded = RoundHalfEven(rate);
    if (!std::isfinite(rounded))
        return std::nullopt;
    const double sum = rounded + kNoShift;
    if (sum < std::numeric_limits<int16_t>::min() || sum > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return static_cast<int16_t>(sum);
}

void SendWindowLoadSequence(const Platform& platform) {
    platform.postMessage(kUnShiftMessage, 0, 0);
    platform.postMessage(kSetShiftMessage, kNoShift, kNoShift);
}

void SendStartSequence(const DriftHistory& drift, const Settings& settings,
                       const std::string& programFolder, const Platform& platform) {
    LogEvent(programFolder, " : Sending initial msgs");
    platform.postMessage(kUnShiftMessage, 0, 0);
    platform.postMessage(kCentroidTypeMessage, 0, 0);
    PostSetShift(settings, programFolder, platform, drift.currentRaCorrection,
                 drift.currentDecCorrection);
    platform.postMessage(kShiftMessage, 0, 0);
    platform.clearCharts();
    LogEvent(programFolder, " : Done sending initial msgs");
}

void SendStopSequence(const Platform& platform) {
    platform.postMessage(kUnShiftMessage, 0, 0);
}

void SendImageCorrection(const DriftHistory& drift, const Settings& settings,
                         const std::string& programFolder, const Platform& platform) {
    LogEvent(programFolder, " :    sending message to MetaGuide");
    const double raRate = settings.FLIP_RA ? -drift.currentRaCorrection : drift.currentRaCorrection;
    PostSetShift(settings, programFolder, platform, raRate, drift.currentDecCorrection);
}

void SendRateLimitSequence(const Platform& platform) {
    platform.postMessage(kUnShiftMessage, 0, 0);
}

bool HandleIncomingMessage(const std::string& name, int32_t wParam, int32_t lParam,
                           const Platform& platform) {
    if (name == kSetBiasMessage) {
        // 64-bit difference: any int32 a peer sends is representable.
        platform.setBiasTexts(std::to_string(int64_t{wParam} - kNoShift),
                              std::to_string(int64_t{lParam} - kNoShift));
        return true;
    }
    return IsRegisteredMessage(name);
}
