#pragma once
// Everything that leaves the core: the window fills these with real services,
// tests with recording fakes.  Calls happen on the user-interface thread only.
#include "veldra/settings/settings.h"
#include "veldra/state/history_entry.h"
#include "veldra/state/telescope_reading.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ProgramAnswer {
    int exitStatus = -1;
    std::string firstLine;
};

struct Platform {
    // The timed error dialog: closes itself after 5000 ms or on OK; blocks until closed
    // while window events go on.
    std::function<void(const std::string& message)> showTimedError;
    // Modal message box with an OK button; blocks until the user presses OK.
    std::function<void(const std::string& message)> messageBox;
    // Handle pending window events once (timer ticks and clicks may run inside).
    std::function<void()> pumpEvents;
    // Pause without handling events.
    std::function<void(int milliseconds)> sleep;
    std::function<void()> refreshMainWindow;
    std::function<void()> refreshPendingFile;
    // Hand the history to the chart window (creating it hidden when needed).
    std::function<void(int16_t count, const std::vector<HistoryEntry>& history)> updateCharts;
    std::function<void()> clearCharts;
    std::function<void(bool on)> setTimer1;
    // Seconds on a monotonic clock: time limits that midnight and clock changes must not move.
    std::function<double()> monotonicSeconds;
    // Seconds since local midnight, for the solver's log lines.
    std::function<double()> secondsSinceMidnight;
    // Broadcast a registered window message.  post: fire and forget; send: delivered
    // (flushed) before it returns.
    std::function<void(const std::string& name, int32_t wParam, int32_t lParam)> postMessage;
    std::function<void(const std::string& name, int32_t wParam, int32_t lParam)> sendMessage;
    // Write the texts of txtRaBias and txtDecBias (their own validation then runs).
    std::function<void(const std::string& raText, const std::string& decText)> setBiasTexts;
    // The solver's start position from the telescope (message boxes and log lines inside).
    std::function<TelescopeReading(const Settings& settings)> startPositionFromTelescope;
    // Where the folder monitor and Start hand each image: the window wires ProcessImage.
    std::function<void(const std::string& path, double fileTime)> processImage;

    // Start's checks (each may be empty: that check is skipped).  What stands between the
    // guider and the night ("" when nothing does).
    std::function<std::string()> guiderProblem;
    // Runs a program with these arguments and returns its exit status and the first line
    // it printed; -1 when it could not be run or did not end within a few seconds.
    std::function<ProgramAnswer(const std::vector<std::string>& arguments)> askProgram;
    // Shows Start's problems where the user looks (an empty list clears them).
    std::function<void(const std::vector<std::string>& problems)> showStartProblems;
};
