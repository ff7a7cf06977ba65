#pragma once
// --lockstep: frames follow veldra's answers instead of the wall clock, so a closed loop
// gives the same figures however busy the machine is.  Frame 1 waits for a line on
// standard input (the caller has started watching the folder); every frame waits until
// the clock's whole second has passed the previous frame's file time (the watcher compares
// whole seconds, so a frame in the same second would look old); from frame 3 on a frame
// also waits for the set-shift that answered the frame before it (frame 1 gets none).
#include <string>

// No wait of the lockstep lasts longer: a silent watcher delays the night, never hangs it.
inline constexpr double kLockstepBoundSeconds = 60;

struct PacingState {
    int written = 0;                   // frames written so far
    bool answerPending = false;        // no set-shift since the last frame was written
    double secondsSinceLastWrite = 0;  // wall clock
    double cadence = 0;                // wall-clock seconds between frames, at least
    double now = 0;                    // real-time clock, seconds since the epoch
    long long lastFrameFileSecond = 0; // whole-second file time of the last frame
};

// True when the next frame (frame written + 1, not the first) may be written now.
bool MayWriteNextFrame(const PacingState& state);

// Blocks until a line arrives on standard input or kLockstepBoundSeconds have passed;
// false on the bound or at the end of the input.
bool WaitForGoLine();

// The file's modification time in whole seconds; 0 when it cannot be read.
long long FileSecond(const std::string& path);
