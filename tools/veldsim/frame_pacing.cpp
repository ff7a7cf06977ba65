#include "tools/veldsim/frame_pacing.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// File times come from the kernel's coarse clock, which may trail the real-time clock by
// a few milliseconds: keep this far past the second boundary.
const double kCoarseClockMargin = 0.05;
} // namespace

bool MayWriteNextFrame(const PacingState& state) {
    if (state.secondsSinceLastWrite < state.cadence)
        return false;
    if (state.secondsSinceLastWrite >= kLockstepBoundSeconds)
        return true;
    if (state.now < static_cast<double>(state.lastFrameFileSecond + 1) + kCoarseClockMargin)
        return false;
    return state.written < 2 || !state.answerPending;
}

bool WaitForGoLine() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, static_cast<int>(kLockstepBoundSeconds * 1000)) <= 0)
        return false;
    // Read up to the line end byte by byte: nothing after it may be taken from the stream.
    char c = 0;
    while (read(STDIN_FILENO, &c, 1) == 1)
        if (c == '\n')
            return true;
    return false;
}

long long FileSecond(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_mtime) : 0;
}
