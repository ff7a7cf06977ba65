// Start's checks: the folder, the guider and the plate solver, each problem one log line
// and one shown line; only an unusable folder keeps monitoring from starting.
#include "solve/fits_image.h"
#include "tests/held_to_permissions.h"
#include "tests/monitor_fakes.h"
#include "tests/test_support.h"
#include "veldra/monitor/monitoring_control.h"
#include "veldra/monitor/start_checks.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class StartCheckTest : public ::testing::Test {
  protected:
    StartCheckTest() {
        state.programFolder = program.path;
        state.settings.MONITOR_PATH = watched.path;
        platform = RecordingPlatform(recorder);
        platform.showStartProblems = [this](const std::vector<std::string>& problems) {
            shown.push_back(problems);
        };
    }
    // The problems as the log has them.
    std::vector<std::string> LoggedProblems() const {
        std::vector<std::string> found;
        for (const std::string& line : LogMessages(program.path))
            if (line.rfind(" : Start check: ", 0) == 0)
                found.push_back(line.substr(16));
        return found;
    }
    // A program named veldra-solve (so it is asked), which is never run: askProgram is ours.
    void UseVeldraSolve() {
        const std::string solver = tools.file("veldra-solve");
        WriteFile(solver, "#!/bin/sh\nexit 0\n");
        chmod(solver.c_str(), 0755);
        state.settings.PLATE_SOLVE_METHOD = 1;
        SetPwiExePath(state.settings, solver);
    }

    TempDir program;
    TempDir watched;
    TempDir tools;
    MainState state;
    Recorder recorder;
    Platform platform;
    std::vector<std::vector<std::string>> shown;
};

TEST_F(StartCheckTest, AFolderThatCannotBeListedRefusesStartAndSaysWhy) {
    const std::string missing = watched.file("tonight");
    state.settings.MONITOR_PATH = missing;
    ClickStart(state, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_TRUE(recorder.posts.empty()); // nothing went to the guider
    EXPECT_TRUE(recorder.timer1.empty() || !recorder.timer1.back());
    const std::string why =
        "The folder " + missing + " does not exist: choose it with \"Select Folder to Monitor\"";
    EXPECT_EQ(LoggedProblems(), std::vector<std::string>{why});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::vector<std::string>{why});
    const auto log = LogMessages(program.path);
    EXPECT_EQ(std::count(log.begin(), log.end(), " : Start monitoring"), 0);
    EXPECT_EQ(log.back(), " : Start refused: the folder cannot be watched");

    WriteFile(missing, "a file, not a folder");
    EXPECT_EQ(FolderProblem(missing),
              missing + " is not a folder: choose one with \"Select Folder to Monitor\"");
    std::filesystem::remove(missing);
    std::filesystem::create_directory(missing);
    chmod(missing.c_str(), 0);
    {
        HeldToPermissions held;
        EXPECT_EQ(FolderProblem(missing),
                  "The folder " + missing + " cannot be listed: Permission denied");
    }
    chmod(missing.c_str(), 0755);

    // Fixed: Start goes on and the shown line is cleared.
    ClickStart(state, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);
    EXPECT_TRUE(shown.back().empty());
}

TEST_F(StartCheckTest, GuiderAndSolverProblemsAreToldButMonitoringStarts) {
    platform.guiderProblem = [] { return std::string("PHD2 at localhost:4400 is not guiding"); };
    state.settings.PLATE_SOLVE_METHOD = 1;
    SetPwiExePath(state.settings, tools.file("PlateSolve2.exe"));
    ClickStart(state, platform);
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);
    const std::vector<std::string> expected{
        "PHD2 at localhost:4400 is not guiding",
        "The plate solver " + tools.file("PlateSolve2.exe") +
            " cannot be run: choose it with \"Set Application\" in \"Setup Plate Solve\""};
    EXPECT_EQ(LoggedProblems(), expected);
    EXPECT_EQ(shown.back(), expected);
    // The header's WCS needs no solver: not checked.
    ClickStart(state, platform); // Stop
    state.settings.PLATE_SOLVE_METHOD = 0;
    platform.guiderProblem = [] { return std::string(); };
    ClickStart(state, platform);
    EXPECT_TRUE(shown.back().empty());
}

TEST_F(StartCheckTest, VeldraSolveIsAskedAboutTheScaleAndSizeInUse) {
    UseVeldraSolve();
    state.settings.IMAGE_SCALE = 1.25;
    std::vector<std::vector<std::string>> asked;
    ProgramAnswer answer{1, "no astrometry.net index files in /usr/share/astrometry: install "
                            "astrometry-data-tycho2-10-19"};
    platform.askProgram = [&](const std::vector<std::string>& arguments) {
        asked.push_back(arguments);
        return answer;
    };
    // No image yet: the scale alone.
    EXPECT_EQ(SolverProblem(state.settings, platform),
              "Plate solver not ready: no astrometry.net index files in /usr/share/astrometry: "
              "install astrometry-data-tycho2-10-19");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (std::vector<std::string>{state.settings.PWI_EXE_PATH, "--check", "1.25"}));

    // The newest image of the folder gives the size.
    ASSERT_TRUE(WriteImageFile(watched.file("m57_001.fit"), 64, 48, nullptr));
    answer = {0, "ready"};
    EXPECT_EQ(SolverProblem(state.settings, platform), "");
    EXPECT_EQ(asked.back()[2], "1.25,64,48");

    answer = {-1, "Process operation timed out"};
    EXPECT_EQ(SolverProblem(state.settings, platform),
              "The plate solver " + state.settings.PWI_EXE_PATH +
                  " did not say whether it is ready: Process operation timed out");

    // Another solver cannot be asked: that it runs is all Start can know.
    const std::string other = tools.file("my-solver");
    WriteFile(other, "#!/bin/sh\n");
    chmod(other.c_str(), 0755);
    SetPwiExePath(state.settings, other);
    EXPECT_EQ(SolverProblem(state.settings, platform), "");
    EXPECT_EQ(asked.size(), 3u);
}

TEST_F(StartCheckTest, Phd2MustAnswerAndGuide) {
    Phd2Session session;
    session.host = "observatory";
    session.port = 4401;
    EXPECT_EQ(Phd2StartProblem(session),
              "PHD2 at observatory:4401 does not answer: the shift waits until it does");
    session.link = Phd2Link::NotReachable;
    EXPECT_EQ(Phd2StartProblem(session),
              "PHD2 at observatory:4401 does not answer: the shift waits until it does");
    session.link = Phd2Link::Connected;
    session.appState = "Stopped";
    EXPECT_EQ(Phd2StartProblem(session),
              "PHD2 at observatory:4401 is not guiding: the shift waits until it guides");
    for (const char* guiding : {"Guiding", "LostLock"}) {
        session.appState = guiding;
        EXPECT_EQ(Phd2StartProblem(session), "");
    }
}

} // namespace
