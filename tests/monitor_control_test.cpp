// Start/Stop, Pause/Resume, the start-state options and the start-up and end sequences.
#include "common/date_time.h"
#include "tests/monitor_fakes.h"
#include "tests/test_support.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/monitoring_control.h"
#include "veldra_version.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

const UtcZone utc;
const std::time_t kBase = 1700000000;

// "major.minor.revision", three runs of digits.
bool IsVersionText(const std::string& text) {
    int dots = 0;
    bool digitBefore = false;
    for (char c : text) {
        if (c == '.' && digitBefore) {
            ++dots;
            digitBefore = false;
        } else if (c >= '0' && c <= '9') {
            digitBefore = true;
        } else {
            return false;
        }
    }
    return dots == 2 && digitBefore;
}

class ControlTest : public ::testing::Test {
  protected:
    ControlTest() {
        state.programFolder = program.path;
        state.settings.MONITOR_PATH = watched.path;
        state.settings.MONITOR_FILTER = "*.fit";
        state.settings.DEBOUNCE_TIME = 2;
        platform = RecordingPlatform(recorder);
    }
    std::vector<std::string> ProcessedNames() const {
        std::vector<std::string> names;
        for (const ProcessedFile& file : recorder.processed)
            names.push_back(std::filesystem::path(file.path).filename().string());
        return names;
    }
    // Log messages after the start sequence's own lines.
    std::vector<std::string> LogAfterStartSequence() const {
        auto lines = LogMessages(program.path);
        const auto done = std::find(lines.begin(), lines.end(), " : Done sending initial msgs");
        return {done == lines.end() ? lines.end() : done + 1, lines.end()};
    }
    std::string Listed(const std::string& name, std::time_t seconds) const {
        return " :    " + watched.file(name) + ", " + DateTimeText(DaysFromSystemTime(seconds));
    }

    TempDir program;
    TempDir watched;
    MainState state;
    Recorder recorder;
    Platform platform;
};

TEST_F(ControlTest, StartWithLastTwoProcessesTheTwoNewestOlderFirst) {
    MakeFile(watched.file("c.fit"), kBase + 20);
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    state.settings.MONITOR_START_STATE = 0;
    state.settings.raBias = 12;
    state.settings.decBias = -3;
    state.drift.historyCount = 5;

    ClickStart(state, platform);

    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"b.fit", "c.fit"}));
    EXPECT_EQ(recorder.processed[0].time, DaysFromSystemTime(kBase + 10));
    const auto lines = LogMessages(program.path);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], " : Start monitoring");
    EXPECT_EQ(lines[1], " : Sending initial msgs");
    EXPECT_EQ(LogAfterStartSequence(),
              (std::vector<std::string>{" : 3 files found:", Listed("a.fit", kBase),
                                        Listed("b.fit", kBase + 10), Listed("c.fit", kBase + 20),
                                        " : Last two files selected and two files are available",
                                        " :    first file is: " + watched.file("b.fit"),
                                        " :    second file is: " + watched.file("c.fit"),
                                        " : starting solve of first file",
                                        " : starting solve of second file"}));
    // The biases are the corrections in force and go to the guider in the start sequence.
    EXPECT_EQ(state.drift.currentRaCorrection, 12);
    EXPECT_EQ(state.drift.currentDecCorrection, -3);
    EXPECT_EQ(recorder.posts,
              (std::vector<std::string>{"MG_RemoteUnShift 0 0", "MG_RemoteCentroidType 0 0",
                                        "MG_RemoteSetShift 10012 9997", "MG_RemoteShift 0 0"}));
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_EQ(recorder.timer1, (std::vector<bool>{false, true}));
    EXPECT_TRUE(state.monitor.timer1On);
    EXPECT_EQ(state.monitor.baselineListing.count, 3);
    EXPECT_EQ(state.monitor.previousListing.paths, state.monitor.baselineListing.paths);

    // The start files are never processed again by the monitor.
    for (int i = 0; i < 5; ++i)
        TimerTick(state.monitor, state.settings, state.programFolder, platform);
    EXPECT_EQ(recorder.processed.size(), 2u);
}

TEST_F(ControlTest, StartWithLastTwoAndOneFileProcessesThatFile) {
    MakeFile(watched.file("only.fit"), kBase);
    state.settings.MONITOR_START_STATE = 0;
    ClickStart(state, platform);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"only.fit"}));
    EXPECT_EQ(LogAfterStartSequence(),
              (std::vector<std::string>{
                  " : 1 files found:", Listed("only.fit", kBase),
                  " : one file is available and last file or last two files are selected",
                  " :    file is: " + watched.file("only.fit"), " : starting solve of file"}));
}

TEST_F(ControlTest, IgnoreProcessesNothingNowAndOnlyNewerFilesLater) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    state.settings.MONITOR_START_STATE = 2;
    ClickStart(state, platform);
    EXPECT_TRUE(recorder.processed.empty());
    EXPECT_EQ(LogAfterStartSequence().back(), " : Ignore files selected or no files available");

    SetFileTime(watched.file("a.fit"), kBase + 5); // touched, but not past the newest
    for (int i = 0; i < 5; ++i)
        TimerTick(state.monitor, state.settings, state.programFolder, platform);
    EXPECT_TRUE(recorder.processed.empty());
    SetFileTime(watched.file("a.fit"), kBase + 11);
    for (int i = 0; i < 5; ++i)
        TimerTick(state.monitor, state.settings, state.programFolder, platform);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit"}));
}

TEST_F(ControlTest, StartOnAnEmptyFolderLogsNoFiles) {
    state.settings.MONITOR_START_STATE = 1;
    ClickStart(state, platform);
    EXPECT_EQ(LogAfterStartSequence(),
              (std::vector<std::string>{" : 0 files found:",
                                        " : Ignore files selected or no files available"}));
    EXPECT_TRUE(state.monitor.timer1On);
}

TEST_F(ControlTest, StartIsRefusedWhileAnImageIsBeingProcessed) {
    state.pipelineBusy = true; // Start clicked from events pumped inside ProcessImage
    state.drift.historyCount = 4;
    ClickStart(state, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_EQ(LogMessages(program.path),
              (std::vector<std::string>{" : Start refused: an image is still being processed"}));
    EXPECT_TRUE(recorder.posts.empty());
    EXPECT_TRUE(recorder.timer1.empty());
    EXPECT_EQ(state.drift.historyCount, 4);
    EXPECT_EQ(recorder.sleeps, 0); // no wait that could never end
}

TEST_F(ControlTest, StopDuringAStartFileEndsStartWithTheTimerOff) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    state.settings.MONITOR_START_STATE = 0;
    recorder.duringProcess = [this](const std::string&) {
        state.pipelineBusy = true; // as the pipeline has it while it pumps events
        ClickStart(state, platform);
        state.pipelineBusy = false;
    };
    ClickStart(state, platform);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit"}));
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_FALSE(state.monitor.timer1On);
    EXPECT_EQ(recorder.timer1.back(), false);
    EXPECT_EQ(recorder.posts.back(), "MG_RemoteUnShift 0 0");
    const auto lines = LogMessages(program.path);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), " : Stop monitoring"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), " : starting solve of second file"), 0);
}

TEST_F(ControlTest, PauseDuringAStartFileSkipsTheSecondButKeepsWatching) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    state.settings.MONITOR_START_STATE = 0;
    recorder.duringProcess = [this](const std::string&) {
        ClickPause(state.monitor, state.programFolder, platform);
    };
    ClickStart(state, platform);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit"}));
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Paused);
    EXPECT_TRUE(state.monitor.timer1On);
}

TEST_F(ControlTest, PauseResumeAndStop) {
    ClickPause(state.monitor, state.programFolder, platform); // Stopped: nothing but the refresh
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_EQ(recorder.refreshMain, 1);

    state.settings.MONITOR_START_STATE = 2;
    ClickStart(state, platform);
    ClickPause(state.monitor, state.programFolder, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Paused);
    ClickPause(state.monitor, state.programFolder, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);
    ClickPause(state.monitor, state.programFolder, platform);
    const size_t postsBeforeStop = recorder.posts.size();
    state.drift.historyCount = 3;
    ClickStart(state, platform); // Stop while paused
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_FALSE(state.monitor.timer1On);
    EXPECT_EQ(recorder.posts.size(), postsBeforeStop + 1); // pause and resume send nothing
    EXPECT_EQ(recorder.posts.back(), "MG_RemoteUnShift 0 0");
    auto lines = LogAfterStartSequence();
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 4, lines.end()),
        (std::vector<std::string>{" : Paused", " : Unpaused", " : Paused", " : Stop monitoring"}));
    EXPECT_EQ(recorder.refreshMain, 6);
}

TEST_F(ControlTest, StartUpLoadsSettingsAndLogsVersionsAndShutDownSaves) {
    WriteFile(program.file("veldra.ini"), "DEBOUNCE_TIME,9\r\n");
    state.monitor.settling = true;
    state.monitor.tickBusy = 1;
    state.drift.historyCount = 2;
    state.pipelineBusy = true;
    StartUpBeforeShow(state, platform);
    EXPECT_EQ(state.settings.DEBOUNCE_TIME, 9);
    EXPECT_EQ(recorder.clearCharts, 1); // the chart data are reset by the load
    EXPECT_EQ(recorder.posts,
              (std::vector<std::string>{"MG_RemoteUnShift 0 0", "MG_RemoteSetShift 10000 10000"}));
    EXPECT_FALSE(state.monitor.settling);
    EXPECT_EQ(state.monitor.tickBusy, 0);
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_EQ(recorder.timer1, (std::vector<bool>{false}));
    EXPECT_EQ(recorder.refreshMain, 1);
    EXPECT_TRUE(LogMessages(program.path).empty());

    StartUpAfterShow(state);
    EXPECT_FALSE(state.pipelineBusy);
    state.settings.DEBOUNCE_TIME = 7;
    ShutDown(state.settings, state.programFolder);
    const auto lines = LogMessages(program.path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(" : Starting Veldra version ") + VELDRA_VERSION_TEXT);
    const std::string hdrlibLine = " : Hdrlib version ";
    EXPECT_EQ(lines[1].substr(0, hdrlibLine.size()), hdrlibLine);
    EXPECT_TRUE(IsVersionText(lines[1].substr(hdrlibLine.size()))) << lines[1];
    EXPECT_EQ(lines[2], " : Ending Veldra");
    EXPECT_NE(ReadFile(program.file("veldra.ini")).find("DEBOUNCE_TIME,7\r\n"), std::string::npos);
}

} // namespace
