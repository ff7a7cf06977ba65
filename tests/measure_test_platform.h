#pragma once
// A Platform whose services record what the image pipeline asks of them.  Sleeps are
// real (the fake solver runs in real time); the clocks can be replaced per test.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct RecordingPlatform {
    std::vector<std::string> timedErrors;
    std::vector<std::string> messageBoxes;
    std::vector<std::string> posted; // message names, posted or sent
    int pumps = 0;
    int refreshes = 0;
    std::vector<int> chartCounts; // historyCount handed to each chart update
    std::vector<bool> busyAtRefresh;
    TelescopeReading telescope;
    std::function<void()> onPump;           // extra work inside pumpEvents
    std::function<double()> monotonic;      // empty: the real steady clock
    double secondsSinceMidnight = 45296.25; // 12:34:56.25
    const MainState* state = nullptr;       // for busyAtRefresh

    Platform Make() {
        Platform platform;
        platform.showTimedError = [this](const std::string& text) { timedErrors.push_back(text); };
        platform.messageBox = [this](const std::string& text) { messageBoxes.push_back(text); };
        platform.pumpEvents = [this] {
            ++pumps;
            if (onPump)
                onPump();
        };
        platform.sleep = [](int milliseconds) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        };
        platform.refreshMainWindow = [this] {
            ++refreshes;
            if (state != nullptr)
                busyAtRefresh.push_back(state->pipelineBusy);
        };
        platform.refreshPendingFile = [] {};
        platform.updateCharts = [this](int16_t count, const std::vector<HistoryEntry>&) {
            chartCounts.push_back(count);
        };
        platform.clearCharts = [] {};
        platform.setTimer1 = [](bool) {};
        platform.monotonicSeconds = [this] {
            if (monotonic)
                return monotonic();
            return std::chrono::duration<double>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
        platform.secondsSinceMidnight = [this] { return secondsSinceMidnight; };
        platform.postMessage = [this](const std::string& name, int32_t, int32_t) {
            posted.push_back(name);
        };
        platform.sendMessage = platform.postMessage;
        platform.setBiasTexts = [](const std::string&, const std::string&) {};
        platform.startPositionFromTelescope = [this](const Settings&) { return telescope; };
        platform.processImage = [](const std::string&, double) {};
        return platform;
    }
};

// True when every one of expected appears in messages, in this order (other lines may
// stand between them).
inline bool InOrder(const std::vector<std::string>& messages,
                    const std::vector<std::string>& expected) {
    size_t next = 0;
    for (const auto& message : messages)
        if (next < expected.size() && message == expected[next])
            ++next;
    return next == expected.size();
}
