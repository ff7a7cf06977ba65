#include "tests/monitor_fakes.h"

#include "tests/test_support.h"

#include <cstdlib>

Platform RecordingPlatform(Recorder& recorder) {
    Platform platform;
    Recorder* r = &recorder;
    platform.showTimedError = [](const std::string&) {};
    platform.messageBox = [](const std::string&) {};
    platform.pumpEvents = [] {};
    platform.sleep = [r](int) { ++r->sleeps; };
    platform.refreshMainWindow = [r] { ++r->refreshMain; };
    platform.refreshPendingFile = [r] { ++r->refreshPending; };
    platform.updateCharts = [](int16_t, const std::vector<HistoryEntry>&) {};
    platform.clearCharts = [r] { ++r->clearCharts; };
    platform.setTimer1 = [r](bool on) { r->timer1.push_back(on); };
    platform.monotonicSeconds = [] { return 0.0; };
    platform.secondsSinceMidnight = [] { return 0.0; };
    platform.postMessage = [r](const std::string& name, int32_t w, int32_t l) {
        r->posts.push_back(name + " " + std::to_string(w) + " " + std::to_string(l));
    };
    platform.sendMessage = platform.postMessage;
    platform.setBiasTexts = [](const std::string&, const std::string&) {};
    platform.startPositionFromTelescope = [](const Settings&) { return TelescopeReading{}; };
    platform.processImage = [r](const std::string& path, double time) {
        r->processed.push_back({path, time});
        if (r->duringProcess)
            r->duringProcess(path);
    };
    return platform;
}

void MakeFile(const std::string& path, std::time_t seconds, long nanoseconds) {
    WriteFile(path, "");
    SetFileTime(path, seconds, nanoseconds);
}

double Days(std::time_t seconds) {
    return 25569.0 + static_cast<double>(seconds) / 86400.0;
}

UtcZone::UtcZone() {
    setenv("TZ", "UTC", 1);
    tzset();
}
