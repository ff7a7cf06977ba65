#pragma once
// Start/Stop, Pause/Resume and the core of the main window's start-up and end.
// Everything runs on the user-interface thread.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <string>

// The poll interval of Start's waits for the pipeline to be free.
inline constexpr int kPipelineWaitPollMs = 100;

// Click on cmdStart.  Stopped: first the checks of start_checks.h (logged and shown; a
// folder that cannot be listed refuses Start), then it starts monitoring - guider start sequence,
// baseline listing, the start-state files (MONITOR_START_STATE), Timer1 on.  Otherwise: stops it.
// Start is refused (one log line, nothing changes) while pipelineBusy is true: it can
// only be clicked then from events pumped inside a running ProcessImage, and waiting for
// that call would wait for ourselves.  A Stop seen after a start-state file ends Start
// there with Timer1 left off; a Pause skips the remaining start-state files.
// Blocks while the start-state files are processed.
void ClickStart(MainState& state, const Platform& platform);

// Click on cmdPause: Running <-> Paused; nothing when Stopped.  Always refreshes.
void ClickPause(MonitorRecord& monitor, const std::string& programFolder, const Platform& platform);

// Window load, before the window is shown: Timer1 off and the monitor's flags reset,
// the guider's reset messages, Stopped, LoadSettings (platform.clearCharts resets the
// chart data), refreshMainWindow.  The caption and the message hook come before it.
void StartUpBeforeShow(MainState& state, const Platform& platform);
// Window load, after showing it and setting the focus: pipelineBusy false and the
// program's and hdrlib's version lines.
void StartUpAfterShow(MainState& state);

// Window end, after the chart window is closed and the hook removed: SaveSettings, the
// solvers still running from earlier time-outs ended (each logged), then
// " : Ending Veldra".  Nothing goes to the guider.
void ShutDown(const Settings& settings, const std::string& programFolder);
