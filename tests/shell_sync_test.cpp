#include "tests/test_support.h"
#include "veldra/settings/force_end_rule.h"
#include "veldra/settings/shell_sync.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateQuotesGroupBackslashesStay) {
    const std::vector<std::pair<std::string, Args>> cases = {
        {"", {}},
        {"  \t ", {}},
        {"prog", {"prog"}},
        {"  prog  a\tb  ", {"prog", "a", "b"}},
        {"\"c:\\Program Files\\x.exe\" /F", {"c:\\Program Files\\x.exe", "/F"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"prog \"\" x", {"prog", "", "x"}},
        {"prog \"open to the end", {"prog", "open to the end"}},
        {"a\\\\b c\\", {"a\\\\b", "c\\"}},
        {"a\\\"b c\"", {"a\\b c"}},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(SplitCommandLine(line), expected) << line;
}

TEST(ShellSync, ReturnsTheExitCode) {
    EXPECT_EQ(ShellSync("true", 0), 0);
    EXPECT_EQ(ShellSync("sh -c \"exit 3\"", 1), 3);
    EXPECT_EQ(ShellSync("sh -c \"kill -9 $$\"", 0), 128 + SIGKILL);
}

TEST(ShellSync, ArgumentsReachTheProgramUnchangedWithoutAShell) {
    // $# counts "a b", "", "c;exit 9" and "*": a shell would have split, run or expanded.
    EXPECT_EQ(ShellSync("sh -c \"exit $#\" zero \"a b\" \"\" \"c;exit 9\" *", 0), 4);
    EXPECT_EQ(ShellSync("sh -c \"case $1 in 'a b') exit 7;; esac; exit 1\" zero \"a b\"", 0), 7);

    TempDir dir;
    const std::string folder = dir.file("with blank");
    std::filesystem::create_directory(folder);
    const std::string program = folder + "/my prog";
    WriteFile(program, "#!/bin/sh\nexit 4\n");
    chmod(program.c_str(), 0755);
    EXPECT_EQ(ShellSync("\"" + program + "\"", 1), 4);
}

void ExpectShellSyncError(const std::string& commandLine, int32_t number,
                          const std::string& message) {
    try {
        ShellSync(commandLine, 0);
        ADD_FAILURE() << "no error for " << commandLine;
    } catch (const ShellSyncError& error) {
        EXPECT_EQ(error.number, number) << commandLine;
        EXPECT_EQ(error.source, "ShellSync");
        EXPECT_EQ(std::string(error.what()), message);
    }
}

TEST(ShellSync, RaisesItsErrors) {
    EXPECT_EQ(kShellSyncStartError, static_cast<int32_t>(0x8004AA02));
    ExpectShellSyncError("veldra-no-such-program-4711 a b", kShellSyncStartError,
                         "Failed to Shell child process");
    ExpectShellSyncError("/nonexistent/folder/prog", kShellSyncStartError,
                         "Failed to Shell child process");
    ExpectShellSyncError("   ", kShellSyncStartError, "Failed to Shell child process");

    // With SIGCHLD ignored the kernel reaps the child itself: waitpid ends with ECHILD.
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    ExpectShellSyncError("true", static_cast<int32_t>(0x8004AA00),
                         "Failed to retrieve exit code, error " + std::to_string(ECHILD));
    std::signal(SIGCHLD, previous);
}

TEST(ForceEndRule, MatchesTheProgramNameOfTheCurrentUsersProcessesOnly) {
    const ForceEndCaller caller{100, 99, 1000};
    const std::string longName = "long-solver-name.sh"; // comm: "long-solver-nam"
    struct Case {
        const char* what;
        std::string name;
        ProcessEntry process;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"short name", "solve", {500, 1000, 1000, "solve", {"./solve"}, "/x/solve"}, true},
        {"short name, longer comm", "solve", {500, 1000, 1000, "solver", {}, "/x/solver"}, false},
        {"empty name", "", {500, 1000, 1000, "", {}, ""}, false},
        {"itself", "solve", {100, 1000, 1000, "solve", {}, "/x/solve"}, false},
        {"its parent", "solve", {99, 1000, 1000, "solve", {}, "/x/solve"}, false},
        {"other real user", "solve", {500, 0, 1000, "solve", {}, "/x/solve"}, false},
        {"other effective user", "solve", {500, 1000, 0, "solve", {}, "/x/solve"}, false},
        {"long binary",
         longName,
         {500, 1000, 1000, "long-solver-nam", {"renamed"}, "/x/" + longName},
         true},
        {"long binary, removed file",
         longName,
         {500, 1000, 1000, "long-solver-nam", {}, "/x/" + longName + " (deleted)"},
         true},
        {"long binary through a symlink",
         longName,
         {500, 1000, 1000, "long-solver-nam", {"/bin/" + longName}, "/x/target"},
         true},
        {"other name with the same 15 characters",
         longName,
         {500, 1000, 1000, "long-solver-nam", {"/x/long-solver-name.py"}, "/x/long-solver-name.py"},
         false},
        {"... given the name as argument",
         longName,
         {500,
          1000,
          1000,
          "long-solver-nam",
          {"/x/long-solver-name.py", longName},
          "/x/long-solver-name.py"},
         false},
        {"script",
         longName,
         {500, 1000, 1000, "long-solver-nam", {"/bin/sh", "/x/" + longName, "a"}, "/usr/bin/dash"},
         true},
        {"script with a #! argument",
         longName,
         {500,
          1000,
          1000,
          "long-solver-nam",
          {"/usr/bin/tail", "-f", "/x/" + longName},
          "/usr/bin/tail"},
         true},
        {"interpreter running another script",
         longName,
         {500,
          1000,
          1000,
          "long-solver-nam",
          {"/bin/sh", "/x/long-solver-name.py"},
          "/usr/bin/dash"},
         false},
        {"editor of the script",
         longName,
         {500, 1000, 1000, "vim", {"vim", "/x/" + longName}, "/usr/bin/vim.basic"},
         false},
        {"15 characters, cut from a longer name",
         "PlateSolve2.exe",
         {500, 1000, 1000, "PlateSolve2.exe", {"./PlateSolve2.exe.old"}, "/x/PlateSolve2.exe.old"},
         false},
        {"15 characters",
         "PlateSolve2.exe",
         {500, 1000, 1000, "PlateSolve2.exe", {"./PlateSolve2.exe"}, "/x/PlateSolve2.exe"},
         true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsForceEndTarget(c.name, c.process, caller), c.expected) << c.what;
}

// Processes this test starts; whatever is still running at the end is ended by its PID.
struct Children {
    std::vector<pid_t> running;
    int stdinPipe[2] = {-1, -1};

    Children() {
        if (pipe(stdinPipe) != 0)
            throw std::runtime_error("pipe");
    }
    ~Children() {
        for (const pid_t pid : running) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(stdinPipe[0]);
        close(stdinPipe[1]);
    }
    // Scripts read a pipe that never delivers, output goes nowhere: they wait forever
    // without child processes of their own.
    pid_t Start(const Args& arguments) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, stdinPipe[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0)
            throw std::runtime_error("cannot start " + arguments[0]);
        running.push_back(pid);
        return pid;
    }
    // True when pid ended by SIGKILL within a generous bound; reaps it.
    bool EndedByKill(pid_t pid) {
        for (int i = 0; i < 1000; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(running, pid);
                return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool StillRunning(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }
};

std::string Executable(const std::string& path, const std::string& content) {
    WriteFile(path, content);
    chmod(path.c_str(), 0755);
    return path;
}

TEST(ForceEnd, EndsEveryProcessOfThatNameAndNoOther) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("a"));
    std::filesystem::create_directory(dir.file("b"));
    const std::string pid = std::to_string(getpid());
    // Longer than 15 characters: the kernel keeps only "vfe-<pid>-long-"...
    const std::string longName = "vfe-" + pid + "-long-solver";
    const std::string sameStart = longName + "-other";
    const std::string shortName = "vfe" + pid; // at most 10 characters

    Children children;
    const pid_t first =
        children.Start({Executable(dir.file("a/" + longName), "#!/bin/sh\nread line\n")});
    const pid_t second =
        children.Start({Executable(dir.file("b/" + longName), "#!/usr/bin/tail -f\n")});
    const pid_t survivor =
        children.Start({Executable(dir.file("a/" + sameStart), "#!/bin/sh\nread line\n")});
    std::filesystem::copy_file("/bin/sleep", dir.file(shortName));
    const pid_t shortOne = children.Start({dir.file(shortName), "600"});

    EXPECT_EQ(ShellSync(ForceEndCommand(longName), 0), 0);
    EXPECT_TRUE(children.EndedByKill(first));
    EXPECT_TRUE(children.EndedByKill(second));
    EXPECT_TRUE(children.StillRunning(survivor));
    EXPECT_TRUE(children.StillRunning(shortOne));

    EXPECT_EQ(ShellSync(ForceEndCommand(shortName), 0), 0);
    EXPECT_TRUE(children.EndedByKill(shortOne));
    EXPECT_TRUE(children.StillRunning(survivor));

    // Nothing of that name is left: taskkill's "not found".
    EXPECT_EQ(ShellSync(ForceEndCommand(longName), 0), 128);
    EXPECT_EQ(ShellSync(ForceEndCommand(""), 0), 2);
    EXPECT_TRUE(children.StillRunning(survivor));
}
} // namespace
