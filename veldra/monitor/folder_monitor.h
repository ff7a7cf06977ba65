#pragma once
// The folder monitor: what Timer1 runs once a second while monitoring.
#include "veldra/settings/settings.h"
#include "veldra/state/monitor_record.h"
#include "veldra/state/platform.h"

#include <string>

// Timer1's interval; the settle count advances by this many seconds per tick.
inline constexpr int kTimer1IntervalMs = 1000;

// One tick: lists MONITOR_PATH, settles changes for DEBOUNCE_TIME ticks and then hands
// every file newer than the baseline's newest to platform.processImage, oldest first.
// Blocks while images are processed; a tick that arrives meanwhile (from the events the
// pipeline pumps) returns at once.  A Stop seen after any file ends the tick there.
// A folder that cannot be read leaves the state as it is for this tick.
// The images themselves are processed through the platform, on the whole state.
void TimerTick(MonitorRecord& monitor, const Settings& settings, const std::string& programFolder,
               const Platform& platform);
