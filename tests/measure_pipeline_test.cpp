// Whole image runs: FITS files written by the tests, the real header library, the real
// history, the fake solver as a real process, and the activity log read back.
#include "common/end_request.h"
#include "common/process_start.h"
#include "tests/measure_test_platform.h"
#include "tests/test_support.h"
#include "veldra/measure/new_image_command.h"
#include "veldra/measure/pipeline.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdexcept>
#include <unistd.h>

namespace {

const std::vector<std::string> kEndSteps = {" :    update form", " :    sleep",
                                            " : finished platesolve"};

class Pipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        state.programFolder = dir.path;
        state.settings.MONITOR_PATH = dir.path;
        recorder.state = &state;
        platform = recorder.Make();
    }
    void TearDown() override {
        for (int i = 0; i < 200 && ReapStartedProcesses() > 0; ++i)
            usleep(10000);
    }
    std::string WcsImage(const std::string& name, const std::string& dateObs, double crval1) {
        const std::string path = dir.file(name);
        WriteFitsImage(
            path, 20, 10,
            {{"DATE-OBS", dateObs}, {"EXPOSURE", 300.0}, {"CRVAL1", crval1}, {"CRVAL2", 30.0}});
        return path;
    }
    // An executable script in the test folder.
    std::string Script(const std::string& name, const std::string& body) {
        const std::string path = dir.file(name);
        WriteFile(path, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
    std::vector<std::string> Log() const { return LogMessages(dir.path); }
    size_t Count(const std::string& message) const {
        const auto log = Log();
        return static_cast<size_t>(std::count(log.begin(), log.end(), message));
    }

    TempDir dir;
    MainState state;
    RecordingPlatform recorder;
    Platform platform;
};

TEST_F(Pipeline, WcsImageBecomesOneMeasurement) {
    const std::string path = WcsImage("a.fit", "2026-03-14T18:51:51", 180.0);
    ProcessImage(state, platform, path, 0);
    EXPECT_TRUE(
        InOrder(Log(), {" : Doing platesolve of: " + path, " :    exposure = 300", " :    freeFits",
                        " :    update form", " :    sleep", " : finished platesolve"}));
    EXPECT_EQ(Log().back(), " : finished platesolve");
    ASSERT_EQ(state.drift.historyCount, 1);
    const HistoryEntry& entry = state.drift.history[state.drift.newestIndex];
    EXPECT_EQ(entry.fileName, "a.fit");
    EXPECT_DOUBLE_EQ(entry.ra, 3.14159265358979);
    EXPECT_DOUBLE_EQ(entry.dec, 30.0 / 360 * 2 * 3.14159265358979);
    EXPECT_EQ(entry.exposure, 300);
    EXPECT_NEAR(entry.time, DaysFromCalendar({2026, 3, 14, 18, 54, 21}), 1e-9);
    EXPECT_EQ(recorder.busyAtRefresh, std::vector<bool>{true});
    EXPECT_FALSE(state.pipelineBusy);
    EXPECT_EQ(recorder.chartCounts, std::vector<int>{1});
    EXPECT_TRUE(recorder.timedErrors.empty());
}

TEST_F(Pipeline, FailedTelescopeReadingNeverLoadsTheImage) {
    state.settings.PLATE_SOLVE_METHOD = 1;
    state.settings.OVERRIDE_POSITION = 2;
    recorder.telescope.outcome = TelescopeReading::Outcome::Failed;
    ProcessImage(state, platform, WcsImage("a.fit", "2026-03-14T18:51:51", 180.0), 0);
    EXPECT_EQ(Log(), kEndSteps);
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_FALSE(state.pipelineBusy);
}

TEST_F(Pipeline, UnloadableImageIsNotReleased) {
    const std::string path = dir.file("missing.fit");
    ProcessImage(state, platform, path, 0);
    const auto log = Log();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], " : Doing platesolve of: " + path);
    EXPECT_EQ(log[1].rfind(" :    could not load fits file, err = -", 0), 0u) << log[1];
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.end()), kEndSteps);
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"Could not load fits file: " + path}));
}

TEST_F(Pipeline, MissingDateObsReleasesTheHeader) {
    const std::string path = dir.file("a.fit");
    WriteFitsImage(path, 20, 10, {{"EXPOSURE", 300.0}});
    ProcessImage(state, platform, path, 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{" : Doing platesolve of: " + path,
                                               " :    could not read DATE-OBS from fits file",
                                               " :    freeFits", " :    update form", " :    sleep",
                                               " : finished platesolve"}));
    EXPECT_EQ(state.drift.historyCount, 0);
}

TEST_F(Pipeline, TwoImagesGiveTwoCompleteRuns) {
    const std::string first = WcsImage("a.fit", "2026-03-14T18:51:51", 180.0);
    const std::string second = WcsImage("b.fit", "2026-03-14T18:56:51", 180.0);
    ProcessImage(state, platform, first, 0);
    ProcessImage(state, platform, second, 0);
    EXPECT_TRUE(InOrder(Log(), {" : Doing platesolve of: " + first, " :    freeFits",
                                " : finished platesolve", " : Doing platesolve of: " + second,
                                " :    freeFits", " : finished platesolve"}));
    EXPECT_EQ(Count(" : finished platesolve"), 2u);
    EXPECT_EQ(Count(" :    freeFits"), 2u);
    EXPECT_EQ(state.drift.historyCount, 2);
    EXPECT_EQ(recorder.chartCounts, (std::vector<int>{1, 2}));
}

TEST_F(Pipeline, ErrorInsideTheRunTakesTheReleaseExit) {
    // Equal image times make the drift arithmetic fail inside the history.
    const std::string first = WcsImage("a.fit", "2026-03-14T18:51:51", 180.0);
    const std::string second = WcsImage("b.fit", "2026-03-14T18:51:51", 180.5);
    ProcessImage(state, platform, first, 0);
    ProcessImage(state, platform, second, 0);
    EXPECT_EQ(state.drift.historyCount, 1);
    EXPECT_EQ(Count(" :    freeFits"), 2u);
    EXPECT_EQ(Count(" : finished platesolve"), 2u);
    EXPECT_FALSE(state.pipelineBusy);
}

TEST_F(Pipeline, ErrorBeforeTheLoadTakesTheEndExit) {
    state.settings.PLATE_SOLVE_METHOD = 1;
    state.settings.OVERRIDE_POSITION = 2;
    platform.startPositionFromTelescope = [](const Settings&) -> TelescopeReading {
        throw std::runtime_error("driver gone");
    };
    ProcessImage(state, platform, dir.file("a.fit"), 0);
    std::vector<std::string> expected = {" :    image run stopped by an error: driver gone"};
    expected.insert(expected.end(), kEndSteps.begin(), kEndSteps.end());
    EXPECT_EQ(Log(), expected);
    EXPECT_FALSE(state.pipelineBusy);
}

// The command hands back another image; the solver (the fake, solving at the start
// position) then works on that one, while the file time stays the original file's.
TEST_F(Pipeline, CommandReplacesThePathForTheWholeRun) {
    const std::string solver = dir.file("vfp" + std::to_string(getpid() % 1000000) + ".sh");
    std::filesystem::copy_file(std::string(VELDRA_SOURCE_DIR) + "/tests/veldra-fakesolve.sh",
                               solver);
    std::filesystem::permissions(solver, std::filesystem::perms::owner_all);
    Settings& settings = state.settings;
    SetPwiExePath(settings, solver);
    settings.PLATE_SOLVE_METHOD = 1;
    settings.OVERRIDE_POSITION = 1;
    settings.RA_POS = "06 00 00";
    settings.DEC_POS = "+00 00 00";
    settings.OVERRIDE_TIMESTAMP = true;
    settings.OVERRIDE_EXPOSURE = true;
    settings.EXPOSURE = 300;
    settings.OVERRIDE_IMAGE_SCALE = true;
    settings.IMAGE_SCALE = 1;
    settings.RUN_COMMAND = true;
    // "conv": writes the converted name into the hand-back file.
    settings.COMMAND = Script("conv.sh", "printf '%s\\r\\n' \"$2\" > \"$1/filename.txt\"\n"
                                         "printf '%s\\n' \"$3\" > \"$1/position.txt\"") +
                       " %p %N.fit %r";
    const std::string raw = dir.file("a.cr2");
    WriteFile(raw, "raw");
    const std::string converted = dir.file("a.fit");
    WriteFitsImage(converted, 20, 10, {});
    const double fileTime = DaysFromCalendar({2026, 3, 14, 18, 56, 51});

    ProcessImage(state, platform, raw, fileTime);

    EXPECT_TRUE(InOrder(
        Log(), {" : processing command",
                " : parsed command is: " + settings.COMMAND.substr(0, settings.COMMAND.find(' ')) +
                    " " + dir.path + " " + dir.file("a.fit") + " 1.5707963267949",
                " :    opening filename.txt", " :    new filename is: " + converted,
                " : Doing platesolve of: " + converted, " :    apm file = " + dir.file("a.apm"),
                " :    APM read successfully", " :    freeFits", " : finished platesolve"}));
    EXPECT_EQ(ReadFile(dir.file("position.txt")), "1.5707963267949\n");
    ASSERT_EQ(state.drift.historyCount, 1);
    const HistoryEntry& entry = state.drift.history[state.drift.newestIndex];
    EXPECT_EQ(entry.fileName, "a.fit");
    EXPECT_NEAR(entry.time, DaysFromCalendar({2026, 3, 14, 18, 54, 21}), 1e-9);
    EXPECT_DOUBLE_EQ(entry.ra, 1.5707963267949);
    EXPECT_TRUE(recorder.timedErrors.empty());
}

TEST_F(Pipeline, StaleHandBackFileIsNeverRead) {
    WriteFile(dir.file("filename.txt"), dir.file("old.fit") + "\r\n");
    state.settings.COMMAND = "true %F";
    EXPECT_EQ(RunNewImageCommand(state.settings, dir.path, dir.file("a.fit"), {}),
              dir.file("a.fit"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("filename.txt")));
    EXPECT_EQ(Log(), (std::vector<std::string>{" : processing command",
                                               " : parsed command is: true " + dir.file("a.fit")}));
}

TEST_F(Pipeline, FileNameCannotAddArgumentsToTheCommand) {
    state.settings.COMMAND =
        Script("count.sh", "printf '%s\\n' \"$#\" \"$@\" > \"$0.args\"") + " \"%F\"";
    const std::string image = dir.file("x\" --force --outdir=.. \"y.fit");
    RunNewImageCommand(state.settings, dir.path, image, {});
    EXPECT_EQ(ReadFile(dir.file("count.sh.args")), "1\n" + image + "\n");
}

// The command's wait handles window events as the solver's does; the end of veldra ends
// the command (its group) and the run, and an image handed over after it is left alone.
TEST_F(Pipeline, CommandWaitHandlesEventsAndEndsWithVeldra) {
    state.settings.RUN_COMMAND = true;
    state.settings.COMMAND = Script("slow.sh", "echo $$ > \"$0.pid\"; exec sleep 600");
    recorder.onPump = [&] {
        if (recorder.pumps == 4)
            RequestEnd();
    };
    ProcessImage(state, platform, WcsImage("a.fit", "2026-03-14T18:51:51", 180.0), 0);
    const size_t lines = Log().size();
    ProcessImage(state, platform, WcsImage("b.fit", "2026-03-14T18:56:51", 180.0), 0);
    ClearEndRequestForTests();

    EXPECT_EQ(recorder.pumps, 4);
    const auto log = Log();
    EXPECT_TRUE(InOrder(log, {" : processing command", " :    command ended: veldra is ending",
                              " : finished platesolve"}));
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                                return line.rfind(" : Doing platesolve of:", 0) == 0;
                            }),
              0);
    EXPECT_EQ(log.size(), lines);
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_FALSE(state.pipelineBusy);
    EXPECT_NE(kill(std::stoi(ReadFile(dir.file("slow.sh.pid"))), 0), 0);
}

TEST_F(Pipeline, CommandThatCannotStartKeepsThePath) {
    state.settings.COMMAND = dir.file("no-such-converter") + " %f";
    EXPECT_EQ(RunNewImageCommand(state.settings, dir.path, dir.file("a.fit"), {}),
              dir.file("a.fit"));
    EXPECT_EQ(Log().back(), " :    command could not be run: Failed to Shell child process");
}

} // namespace
