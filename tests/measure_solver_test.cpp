// The solver runner against the fake solver (tests/veldra-fakesolve.sh) as a real
// process.  Each test copies the script under a name of its own.
#include "common/end_request.h"
#include "common/file_utils.h"
#include "common/process_start.h"
#include "tests/measure_test_platform.h"
#include "tests/test_support.h"
#include "veldra/measure/solver_runner.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

class Solver : public ::testing::Test {
  protected:
    void SetUp() override {
        // At most 15 characters: the kernel's process name keeps no more.
        const std::string solver = dir.file("vfs" + std::to_string(getpid() % 1000000) + ".sh");
        std::filesystem::copy_file(std::string(VELDRA_SOURCE_DIR) + "/tests/veldra-fakesolve.sh",
                                   solver);
        std::filesystem::permissions(solver, std::filesystem::perms::owner_all);
        SetPwiExePath(settings, solver);
        settings.PWI_MAX_SOLVE_TIME = 10;
        platform = recorder.Make();
    }
    // Ends whatever solver a test left running, through the runner's own forced end.
    void TearDown() override { EndStartedProcesses(); }
    // Tells the fake solver how long to wait and what to write.
    // linger: seconds the solver keeps running after its answer.
    void Instruct(const std::string& delay, const std::string& answer,
                  const std::string& linger = "0", const std::string& base = "a") {
        WriteFile(dir.file(base + ".fakesolve"), delay + "\n" + answer + "\n" + linger + "\n");
    }
    bool Run() {
        const auto resultFile = PrepareSolverResult(dir.path, platform, image);
        EXPECT_TRUE(resultFile);
        return RunSolver(settings, dir.path, platform, *resultFile, image, {1.5, -0.25},
                         {0, 0.03, 0.02}, position);
    }
    // The fake solver's process id for the image base, once it has written it.
    pid_t SolverPid(const std::string& base = "a") const {
        const std::string file = dir.file(base + ".fakesolve-pid");
        for (int i = 0; i < 500 && ReadFile(file).empty(); ++i)
            usleep(10000);
        return static_cast<pid_t>(std::stoi(ReadFile(file)));
    }
    std::vector<std::string> Log() const { return LogMessages(dir.path); }

    TempDir dir;
    Settings settings;
    RecordingPlatform recorder;
    Platform platform;
    std::string image = dir.file("a.fit");
    SkyPosition position;
};

TEST_F(Solver, SolvedResultIsReadAndStaleResultNeverSeen) {
    WriteFile(dir.file("a.apm"), "9,9,1\r\n"); // an earlier run's result
    Instruct("0.3", "1.25,-0.5,1", "600");     // stays open after answering, as PlateSolve2
    ASSERT_TRUE(Run());
    EXPECT_EQ(position.ra, 1.25);
    EXPECT_EQ(position.dec, -0.5);
    EXPECT_EQ(ReadFile(dir.file("a.fakesolve-args")), "1.5,-0.25,0.03,0.02,999," + image + "\n");
    EXPECT_EQ(ReadFile(dir.file("a.apm")), "1.25,-0.5,1\r\n"); // left in place
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         " :    apm file = " + dir.file("a.apm"),
                         " :    pwiExePath = " + settings.PWI_EXE_PATH,
                         " :    RA(rad) = 1.5, DEC(rad) = -0.25",
                         " :    45296.25: waiting for platesolve to complete",
                         " :    45296.25: found APM file", " :    slaying platesolve",
                         " :    ended platesolve process " + std::to_string(SolverPid()),
                         " :    opening APM file", " :    APM read successfully"}));
    EXPECT_NE(kill(SolverPid(), 0), 0); // ended and reaped
}

TEST_F(Solver, UnsolvedFlagFails) {
    Instruct("0", "1.25,-0.5,0");
    EXPECT_FALSE(Run());
    EXPECT_EQ(Log().back(), " :    plate solve was not successful");
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"File: " + image + " did not plate solve"}));

    // veldra-solve's reason, from its log beside veldra's, when its last line is this image's.
    const std::string name = FileNameOf(image);
    WriteFile(dir.file("veldra-solve.log"),
              "2026-12-09 21:04:11 " + name +
                  ": solved in 2.00 s: RA 1, DEC 2 (degrees)\n"
                  "2026-12-09 21:09:11 " +
                  name +
                  ": not solved after 3.20 s: no astrometry.net "
                  "index files in /usr/share/astrometry: install astrometry-data-tycho2-08\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(recorder.timedErrors.back(),
              "File: " + image +
                  " did not plate solve: no astrometry.net index files in "
                  "/usr/share/astrometry: install astrometry-data-tycho2-08");
    WriteFile(dir.file("veldra-solve.log"),
              "2026-12-09 21:14:11 other.fit: not solved after 3.20 s: no stars\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(recorder.timedErrors.back(), "File: " + image + " did not plate solve");
}

TEST_F(Solver, ResultOffTheSkyFails) {
    Instruct("0", "6.3,-0.5,1"); // RA past 2 pi
    EXPECT_FALSE(Run());
    EXPECT_EQ(Log().back(), " :    plate solve result is no sky position: 6.3,-0.5");
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"File: " + image + " did not plate solve"}));
}

TEST_F(Solver, ResultThatIsNotThreeNumbersFails) {
    Instruct("0", "1.25;-0.5;1");
    EXPECT_FALSE(Run());
    EXPECT_EQ(Log().back(), " :    APM file does not begin with three numbers: \"1.25;-0.5;1\"");
    EXPECT_EQ(recorder.timedErrors.size(), 1u);
}

TEST_F(Solver, EmptyResultAtTheLimitLeavesTheSolverRunning) {
    settings.PWI_MAX_SOLVE_TIME = 1;
    recorder.secondsSinceMidnight = 86399.5f; // the clock's value does not decide anything
    Instruct("0", "empty", "600");
    EXPECT_FALSE(Run());
    const auto log = Log();
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (std::vector<std::string>{" :    86399.5: max solve time expired",
                                        " :    plate solve did not complete within 1 seconds"}));
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"Plate Solve did not complete within 1 seconds"}));
}

TEST_F(Solver, SolverEndingWithoutAResultEndsTheWaitAtOnce) {
    for (const char* answer : {"none", "empty"}) {
        Instruct("0", answer);
        recorder.timedErrors.clear();
        EXPECT_FALSE(Run());
        const auto log = Log();
        EXPECT_EQ(log.back(), " :    platesolve ended without a result") << answer;
        // Well before the 10 s limit: it was never reached.
        EXPECT_EQ(std::count(log.begin(), log.end(), " :    45296.25: max solve time expired"), 0);
        EXPECT_EQ(recorder.timedErrors,
                  (std::vector<std::string>{"Plate Solve ended without a result"}));
    }
}

TEST_F(Solver, LimitZeroEndsAfterTheFirstCycle) {
    settings.PWI_MAX_SOLVE_TIME = 0;
    Instruct("0", "never");
    EXPECT_FALSE(Run());
    EXPECT_EQ(recorder.pumps, 1);
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"Plate Solve did not complete within 0 seconds"}));
    // Not ended: it is still there for the next forced end (TearDown ends it).
    EXPECT_EQ(kill(SolverPid(), 0), 0);
}

// The end of veldra does not wait for the time limit: the wait stops at its next poll,
// the solver ends with it, no dialog opens; once asked for, no solver starts at all.
TEST_F(Solver, EndOfVeldraEndsTheWaitAndTheSolver) {
    Instruct("0", "never");
    recorder.onPump = [&] {
        if (recorder.pumps == 3)
            RequestEnd();
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Run());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    const pid_t solver = SolverPid();
    EXPECT_EQ(recorder.pumps, 3);
    EXPECT_TRUE(InOrder(Log(), {" :    veldra is ending: platesolve wait given up",
                                " :    ended platesolve process " + std::to_string(solver)}));
    EXPECT_NE(kill(solver, 0), 0); // ended and reaped
    EXPECT_TRUE(recorder.timedErrors.empty());

    image = dir.file("b.fit");
    Instruct("0", "1.25,-0.5,1", "0", "b");
    EXPECT_FALSE(Run());
    ClearEndRequestForTests();
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.fakesolve-pid")));
}

// The forced end reaches this image's solver and one left by an earlier time-out, and
// nothing else: not processes of the same name, not one started under that name (exec -a),
// not "sleep" although the solver's path "x\sleep" ends in it after a backslash.
TEST_F(Solver, ForcedEndEndsTheStartedSolversOnlyAndLogsThem) {
    const std::string solver = dir.file("x\\sleep");
    std::filesystem::copy_file(settings.PWI_EXE_PATH, solver);
    SetPwiExePath(settings, solver);
    std::filesystem::create_directory(dir.file("other"));
    const std::string sameName = dir.file("other/x\\sleep");
    std::filesystem::copy_file("/bin/sleep", sameName);
    std::vector<pid_t> lookAlikes;
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{"/bin/sleep", "600"},
          {sameName, "600"},
          {"/bin/bash", "-c", "exec -a '" + solver + "' sleep 600"},
          {"/usr/bin/tail", "-f", solver}}) {
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ), 0);
        lookAlikes.push_back(pid);
    }

    settings.PWI_MAX_SOLVE_TIME = 0; // the first image's solver times out, still running
    Instruct("0", "never");
    EXPECT_FALSE(Run());
    const pid_t leftOver = SolverPid();
    settings.PWI_MAX_SOLVE_TIME = 10;
    image = dir.file("b.fit");
    Instruct("0", "1.25,-0.5,1", "600", "b");
    EXPECT_TRUE(Run());
    const pid_t current = SolverPid("b");

    EXPECT_TRUE(InOrder(Log(), {" :    slaying platesolve",
                                " :    ended platesolve process " + std::to_string(leftOver),
                                " :    ended platesolve process " + std::to_string(current),
                                " :    opening APM file"}));
    EXPECT_NE(kill(leftOver, 0), 0);
    EXPECT_NE(kill(current, 0), 0);
    for (const pid_t pid : lookAlikes) {
        EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "look-alike " << pid << " was hit";
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// The solver gets one argument, exactly as written: blanks, a tab and quotes included.
TEST_F(Solver, ImagePathWithBlanksAndQuotesReachesTheSolverWhole) {
    std::filesystem::create_directory(dir.file("night 1"));
    image = dir.file("night 1/a  b\t\"c\".fit");
    WriteFile(dir.file("night 1/a  b\t\"c\".fakesolve"), "0\n1.25,-0.5,1\n");
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadFile(dir.file("night 1/a  b\t\"c\".fakesolve-args")),
              "1.5,-0.25,0.03,0.02,999," + image + "\n");
    EXPECT_EQ(position.ra, 1.25);
}

TEST_F(Solver, LimitHoldsAcrossMidnight) {
    settings.PWI_MAX_SOLVE_TIME = 1;
    Instruct("0", "never");
    // The wall clock wraps at midnight; the limit follows the monotonic one (0.5 s a read).
    double monotonic = 0;
    recorder.monotonic = [&] { return (monotonic += 0.5) - 0.5; };
    double wall = 86399.75;
    platform.secondsSinceMidnight = [&] { return std::exchange(wall, 0.25); };
    EXPECT_FALSE(Run());
    EXPECT_EQ(recorder.pumps, 3); // 0.5 and 1.0 are within the limit, 1.5 is past it
    EXPECT_TRUE(InOrder(Log(), {" :    86399.75: waiting for platesolve to complete",
                                " :    0.25: max solve time expired"}));
}

TEST_F(Solver, ResultArrivingAfterTheLastPollIsRead) {
    Instruct("0", "never");
    // The clock reads past the limit exactly when the result lands, after the poll.
    int reads = 0;
    recorder.monotonic = [&] {
        if (reads++ == 0)
            return 0.0;
        WriteFile(dir.file("a.apm"), "0.5,0.25,1");
        return 11.0;
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(position.ra, 0.5);
    const auto log = Log();
    EXPECT_TRUE(InOrder(log, {" :    45296.25: max solve time expired", " :    slaying platesolve",
                              " :    APM read successfully"}));
    EXPECT_EQ(recorder.timedErrors.size(), 0u);
}

TEST_F(Solver, MissingSolverCannotBeLaunched) {
    SetPwiExePath(settings, dir.file("no-solver.exe"));
    EXPECT_FALSE(Run());
    EXPECT_EQ(Log().back(), " :    unable to launch platesolve");
    EXPECT_EQ(recorder.messageBoxes, (std::vector<std::string>{"Unable to launch platesolve"}));
}

TEST_F(Solver, DecimalCommaLocaleStillWritesPeriods) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    Instruct("0", "1.25,-0.5,1");
    const bool solved = Run();
    const auto log = Log();
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(solved);
    EXPECT_EQ(ReadFile(dir.file("a.fakesolve-args")), "1.5,-0.25,0.03,0.02,999," + image + "\n");
    EXPECT_TRUE(InOrder(log, {" :    RA(rad) = 1,5, DEC(rad) = -0,25",
                              " :    45296,25: waiting for platesolve to complete"}));
    EXPECT_EQ(position.dec, -0.5); // the result file is read with "." all the same
}

} // namespace
