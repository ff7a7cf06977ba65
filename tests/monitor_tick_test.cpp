// The timer tick, tick by tick, on a real folder whose file times the tests set.
#include "tests/monitor_fakes.h"
#include "tests/test_support.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/list_folder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const UtcZone utc;
const std::time_t kBase = 1700000000;

class TickTest : public ::testing::Test {
  protected:
    TickTest() {
        settings.MONITOR_PATH = watched.path;
        settings.MONITOR_FILTER = "*.fit";
        settings.DEBOUNCE_TIME = 4;
        monitor.monitorState = MonitorState::Running;
        platform = RecordingPlatform(recorder);
    }
    // What Start leaves: the folder as it is now is the baseline.
    void TakeBaseline() {
        monitor.baselineListing = ListFolder(watched.path, "*.fit");
        monitor.previousListing = monitor.baselineListing;
    }
    void Tick(int times = 1) {
        for (int i = 0; i < times; ++i)
            TimerTick(monitor, settings, program.path, platform);
    }
    std::vector<std::string> ProcessedNames() const {
        std::vector<std::string> names;
        for (const ProcessedFile& file : recorder.processed)
            names.push_back(std::filesystem::path(file.path).filename().string());
        return names;
    }
    size_t LogCount(const std::string& message) const {
        const auto lines = LogMessages(program.path);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
    }

    TempDir program;
    TempDir watched;
    MonitorRecord monitor;
    Settings settings;
    Recorder recorder;
    Platform platform;
};

TEST_F(TickTest, GrowingFileIsProcessedDebounceTimeTicksAfterItsLastChange) {
    TakeBaseline();
    const std::string path = watched.file("growing.fit");
    for (int second = 1; second <= 10; ++second) {
        if (second == 1)
            MakeFile(path, kBase + second);
        else
            SetFileTime(path, kBase + second);
        Tick();
        EXPECT_TRUE(monitor.settling);
    }
    Tick(3);
    EXPECT_TRUE(recorder.processed.empty());
    EXPECT_EQ(monitor.settleElapsed, 3);
    Tick();
    ASSERT_EQ(recorder.processed.size(), 1u);
    EXPECT_EQ(recorder.processed[0].path, path);
    EXPECT_EQ(recorder.processed[0].time, Days(kBase + 10));
    EXPECT_FALSE(monitor.settling);
    EXPECT_EQ(LogMessages(program.path),
              (std::vector<std::string>{" : start debounce 1", " : debounce complete"}));
    Tick(5);
    EXPECT_EQ(recorder.processed.size(), 1u); // exactly once
    EXPECT_EQ(recorder.refreshPending, 19);   // at the end of every tick
}

TEST_F(TickTest, FilesArrivingWithinOneSettleAreProcessedInOnePassOldestFirst) {
    MakeFile(watched.file("old.fit"), kBase);
    TakeBaseline();
    MakeFile(watched.file("b.fit"), kBase + 30);
    Tick(2);
    MakeFile(watched.file("c.fit"), kBase + 10);
    Tick();
    MakeFile(watched.file("a.fit"), kBase + 20);
    Tick(4);
    EXPECT_TRUE(recorder.processed.empty());
    Tick();
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"c.fit", "a.fit", "b.fit"}));
    EXPECT_EQ(LogCount(" : debounce complete"), 1u);
    EXPECT_EQ(monitor.baselineListing.count, 4);
}

TEST_F(TickTest, DeletionSettlesButProcessesNothing) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    TakeBaseline();
    Tick();
    std::filesystem::remove(watched.file("b.fit"));
    Tick(6);
    EXPECT_TRUE(recorder.processed.empty());
    EXPECT_EQ(LogMessages(program.path),
              (std::vector<std::string>{" : start debounce 1", " : debounce complete"}));
    EXPECT_EQ(monitor.baselineListing.count, 1);
}

TEST_F(TickTest, NewerCopyUnderTheSameCountIsProcessed) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 10);
    TakeBaseline();
    Tick();
    MakeFile(watched.file("b.new"), kBase + 40);
    std::filesystem::rename(watched.file("b.new"), watched.file("b.fit"));
    Tick(5);
    EXPECT_EQ(LogMessages(program.path),
              (std::vector<std::string>{" : start debounce 2", " : debounce complete"}));
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"b.fit"}));
}

TEST_F(TickTest, TimeEqualToTheBaselineToTheSecondIsNotProcessed) {
    MakeFile(watched.file("a.fit"), kBase + 10);
    TakeBaseline();
    MakeFile(watched.file("same.fit"), kBase + 10, 900000000); // later only within the second
    MakeFile(watched.file("newer.fit"), kBase + 11);
    Tick(6);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"newer.fit"}));
}

TEST_F(TickTest, ZeroSettleTimeProcessesOnTheTickAfterTheChange) {
    settings.DEBOUNCE_TIME = 0;
    TakeBaseline();
    MakeFile(watched.file("a.fit"), kBase);
    Tick();
    EXPECT_TRUE(recorder.processed.empty());
    Tick();
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit"}));
}

TEST_F(TickTest, EmptyBaselineMakesEveryFileQualifyEvenOldOnes) {
    TakeBaseline();
    MakeFile(watched.file("new.fit"), kBase);
    MakeFile(watched.file("ancient.fit"), 1000000000);
    Tick(6);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"ancient.fit", "new.fit"}));
}

TEST_F(TickTest, FileSettledWhilePausedIsNeverProcessed) {
    MakeFile(watched.file("a.fit"), kBase);
    TakeBaseline();
    monitor.monitorState = MonitorState::Paused;
    MakeFile(watched.file("b.fit"), kBase + 10);
    Tick(6);
    EXPECT_EQ(LogCount(" : debounce complete"), 1u);
    monitor.monitorState = MonitorState::Running;
    Tick(10);
    EXPECT_TRUE(recorder.processed.empty());
    MakeFile(watched.file("c.fit"), kBase + 20);
    Tick(6);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"c.fit"}));
}

TEST_F(TickTest, StopDuringAPassEndsTheTickAtOnce) {
    TakeBaseline();
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 1);
    MakeFile(watched.file("c.fit"), kBase + 2);
    Tick(4); // the fifth tick is the pass
    const int refreshesBefore = recorder.refreshPending;
    recorder.duringProcess = [this](const std::string&) {
        monitor.monitorState = MonitorState::Stopped;
    };
    Tick();
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit"}));
    EXPECT_EQ(monitor.baselineListing.count, 0); // listings not moved on
    EXPECT_EQ(monitor.previousListing.count, 3);
    EXPECT_EQ(recorder.refreshPending, refreshesBefore); // no refresh either
    EXPECT_EQ(monitor.tickBusy, 0);
}

TEST_F(TickTest, TickArrivingDuringProcessingReturnsAtOnce) {
    TakeBaseline();
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 1);
    Tick(4);
    recorder.duringProcess = [this](const std::string&) {
        MakeFile(watched.file("late.fit"), kBase + 5);        // would start a settle
        TimerTick(monitor, settings, program.path, platform); // the pipeline pumps events
    };
    Tick();
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit", "b.fit"}));
    EXPECT_EQ(LogCount(" : start debounce 1"), 1u);
    EXPECT_EQ(monitor.tickBusy, 0);
    recorder.duringProcess = nullptr;
    Tick(6); // the file that came during the pass is the next one
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"a.fit", "b.fit", "late.fit"}));
}

// The folder unreadable for a while, an empty mount over the share, the folder deleted
// and restored, the newest frame moved away and back: no earlier frame comes again.
TEST_F(TickTest, FolderOutagesNeverGetEarlierFramesMeasuredAgain) {
    MakeFile(watched.file("a.fit"), kBase);
    MakeFile(watched.file("b.fit"), kBase + 1);
    TakeBaseline();
    const std::string away = watched.path + "-away";
    std::filesystem::rename(watched.path, away);
    Tick(6);
    std::filesystem::rename(away, watched.path);
    Tick(6);
    EXPECT_TRUE(LogMessages(program.path).empty()); // unreadable counts as unchanged
    EXPECT_EQ(monitor.baselineListing.count, 2);

    std::filesystem::rename(watched.path, away);
    std::filesystem::create_directory(watched.path); // readable, empty
    Tick(6);
    EXPECT_EQ(monitor.baselineListing.count, 0);
    std::filesystem::remove(watched.path);
    std::filesystem::rename(away, watched.path);
    Tick(6);
    std::filesystem::rename(watched.file("b.fit"), program.file("b.fit"));
    Tick(6);
    std::filesystem::rename(program.file("b.fit"), watched.file("b.fit"));
    Tick(6);
    EXPECT_TRUE(recorder.processed.empty());
    EXPECT_EQ(LogCount(" : debounce complete"), 3u); // each change settled, nothing measured
    MakeFile(watched.file("c.fit"), kBase + 2);
    Tick(6);
    EXPECT_EQ(ProcessedNames(), (std::vector<std::string>{"c.fit"}));
}

} // namespace
