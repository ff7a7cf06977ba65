#pragma once
// The messages between veldra and the guider (MetaGuide) or the drift simulator.
// Every message is a broadcast: "post" fires and forgets, "send" returns once the
// message is delivered.  The Platform's postMessage/sendMessage carry them out.
#include "veldra/settings/settings.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/platform.h"

#include <cstdint>
#include <optional>
#include <string>

// The six registered message names.
inline constexpr const char* kSetBiasMessage = "VELDRA_SetShift"; // incoming
inline constexpr const char* kSetShiftMessage = "MG_RemoteSetShift";
inline constexpr const char* kShiftMessage = "MG_RemoteShift";
inline constexpr const char* kUnShiftMessage = "MG_RemoteUnShift";
inline constexpr const char* kCentroidTypeMessage = "MG_RemoteCentroidType";
inline constexpr const char* kSimulatorSetShiftMessage = "VELDSIM_SetShift";

// True for one of the six names above.
bool IsRegisteredMessage(const std::string& name);

// A rate (arcsec/hour) as a message parameter: rounded halves to even, plus 10000,
// formed as a 16-bit signed sum.  Empty when the rate is not finite or the sum does not
// fit (the caller refuses to send rather than wrap).
std::optional<int16_t> EncodeRate(double rate);

// At window load, after the window has installed its bus listener: posts
// "MG_RemoteUnShift" (0, 0) and "MG_RemoteSetShift" (10000, 10000).  Never the simulator.
void SendWindowLoadSequence(const Platform& platform);

// At Start, once the current corrections hold the biases: the guider's reset, centroid
// type, the current corrections (and the simulator's copy with SIM), start shifting,
// then the chart reset; logged before and after.
void SendStartSequence(const DriftHistory& drift, const Settings& settings,
                       const std::string& programFolder, const Platform& platform);

// At Stop (the caller logs " : Stop monitoring" first): posts "MG_RemoteUnShift".
void SendStopSequence(const Platform& platform);

// After each image whose correction passed the rate limit: logs the sending, posts the
// current corrections (RA negated with FLIP_RA) and, with SIM, sends the same to the
// simulator.  A correction that does not fit the encoding is logged and not sent.
void SendImageCorrection(const DriftHistory& drift, const Settings& settings,
                         const std::string& programFolder, const Platform& platform);

// When the rate limit stops monitoring: posts "MG_RemoteUnShift".
void SendRateLimitSequence(const Platform& platform);

// The main window's receiving rule for a message from the bus.  "VELDRA_SetShift" hands
// the decimal texts of wParam - 10000 and lParam - 10000 to platform.setBiasTexts (the
// bias boxes validate them).  The other registered names are ignored.  Returns true for
// any registered name (the message is the window's own), false for anything else.
bool HandleIncomingMessage(const std::string& name, int32_t wParam, int32_t lParam,
                           const Platform& platform);
