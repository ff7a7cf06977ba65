#include "common/shell_sync.h"
#include "tests/test_support.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Gone, or a zombie that its new parent has not reaped yet; the bound covers init's reaping.
bool Ended(pid_t pid) {
    for (int i = 0; i < 100; ++i) {
        const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t close = stat.rfind(')');
        if (stat.empty() || (close != std::string::npos && stat[close + 2] == 'Z'))
            return true;
        usleep(10000);
    }
    return false;
}

// Waiting with keepWaiting: the exit code as before; given up, the command's own group
// ends, also what it started and what ignores SIGTERM (SIGKILL follows), within moments.
TEST(ShellSync, GivingUpTheWaitEndsTheCommandsWholeGroup) {
    int polls = 0;
    EXPECT_EQ(ShellSync("sh -c \"sleep 0.3; exit 5\"", 1,
                        [&] {
                            ++polls;
                            return true;
                        }),
              5);
    EXPECT_GE(polls, 2);

    TempDir dir;
    const std::string kid = dir.file("kid"), leader = dir.file("leader");
    const std::string script = "trap '' TERM; sleep 600 & echo $! > " + kid + "; echo $$ > " +
                               leader + "; [ $(ps -o pgid= $$) -eq $$ ] && wait";
    const auto started = std::chrono::steady_clock::now();
    try {
        ShellSync("sh -c \"" + script + "\"", 1,
                  [&] { return ReadFile(kid).empty() || ReadFile(leader).empty(); });
        ADD_FAILURE() << "the wait was not given up";
    } catch (const ShellSyncError& error) {
        EXPECT_EQ(error.number, kShellSyncGivenUpError);
        EXPECT_EQ(std::string(error.what()), "Child process ended: the wait was given up");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    ASSERT_FALSE(ReadFile(kid).empty());
    EXPECT_TRUE(Ended(std::stoi(ReadFile(kid))));
    EXPECT_NE(kill(std::stoi(ReadFile(leader)), 0), 0); // reaped by ShellSync
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

} // namespace
