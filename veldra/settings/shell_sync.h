#pragma once
// Starting a command line and waiting for it (module modShellSync).
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Raised by ShellSync.  number is 0x8004AA00 + offset, source is always "ShellSync".
struct ShellSyncError : std::runtime_error {
    ShellSyncError(int32_t errorNumber, const std::string& message)
        : std::runtime_error(message), number(errorNumber) {}
    int32_t number;
    std::string source = "ShellSync";
};

inline constexpr int32_t kShellSyncExitCodeError = static_cast<int32_t>(0x8004AA00);
inline constexpr int32_t kShellSyncOpenError = static_cast<int32_t>(0x8004AA01);
inline constexpr int32_t kShellSyncStartError = static_cast<int32_t>(0x8004AA02);

// Splits a command line the way Windows does for a program's arguments: blanks
// separate, double quotes group (and are removed).  No shell is involved.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the command line as a new process (program found on PATH) and blocks,
// without a time limit, until it ends; returns its exit code (128 + signal number when
// a signal ended it).  windowStyle (0 hidden, 1 normal) has no meaning here.
// Raises ShellSyncError "Failed to Shell child process" when nothing could be started.
int32_t ShellSync(const std::string& commandLine, int windowStyle);

// The command line that, run through ShellSync, force-ends (SIGKILL) every process of
// the current user whose program name is exeName: the stand-in for "taskkill /F /IM".
std::string ForceEndCommand(const std::string& exeName);
