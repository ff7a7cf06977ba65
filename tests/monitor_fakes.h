#pragma once
// A recording Platform for the monitor's tests, and file-time helpers.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

struct ProcessedFile {
    std::string path;
    double time;
};

struct Recorder {
    std::vector<ProcessedFile> processed;
    std::vector<std::string> posts; // "name wParam lParam"
    std::vector<bool> timer1;       // every setTimer1 call
    int refreshMain = 0;
    int refreshPending = 0;
    int clearCharts = 0;
    int sleeps = 0;
    // Runs inside processImage after recording (a nested click, a Stop, ...).
    std::function<void(const std::string& path)> duringProcess;
};

Platform RecordingPlatform(Recorder& recorder);

// Writes an empty file with that modification time.
void MakeFile(const std::string& path, std::time_t seconds, long nanoseconds = 0);

// A system time as fractional days under UtcZone (25569 = 1970-01-01).
double Days(std::time_t seconds);

// Runs the tests in UTC, so file times convert to known local days.
struct UtcZone {
    UtcZone();
};
