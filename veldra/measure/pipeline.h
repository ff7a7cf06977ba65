#pragma once
// One new image to one timed position measurement.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <string>

// Runs the whole pipeline for one image on the calling (user-interface) thread and
// returns when it is done: start position, the optional new-image command, the header
// load, image time, exposure, the position (WCS keywords or the outside solver), the
// history entry, then the release of the header and the end steps (window refresh, chart
// update, 50 ms pause, " : finished platesolve").  pipelineBusy is true from the first to
// the last step.  A failed image is logged and shown and adds nothing to the history; no
// error leaves this function.  The solver wait pumps events, so timer ticks and clicks
// can run inside; callers keep themselves from re-entering (pipelineBusy, tick guard).
// fileTime: the file's modification time in fractional days (local).
void ProcessImage(MainState& state, const Platform& platform, const std::string& path,
                  double fileTime);
