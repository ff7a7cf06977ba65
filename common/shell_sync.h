#pragma once
// Starting a command line and waiting for it (module modShellSync).
#include <cstdint>
#include <functional>
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
// The caller gave up the wait (veldra is ending): the child's process group was ended.
inline constexpr int32_t kShellSyncGivenUpError = static_cast<int32_t>(0x8004AA03);

// A waiting ShellSync with keepWaiting polls the child every kShellSyncPollMs.  Giving up
// sends SIGTERM to the child's process group, SIGKILL after kShellSyncGraceMs, and waits
// at most kShellSyncReapBoundMs more for the child to be reaped.
inline constexpr int kShellSyncPollMs = 50;
inline constexpr int kShellSyncGraceMs = 500;
inline constexpr int kShellSyncReapBoundMs = 1000;

// Splits a command line the way Windows does for a program's arguments: blanks and tabs
// separate, double quotes group (and are removed), "" alone is an empty argument, an
// unclosed quote runs to the end.  Backslashes are ordinary characters, so a double quote
// cannot be part of an argument.  No shell is involved.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the command line as a new process in a process group of its own (posix_spawnp:
// the first argument is found on PATH unless it holds a "/"; whatever it starts stays in
// that group) and blocks, without a time limit, until it ends; returns its exit code
// (128 + signal number when a signal ended it).  windowStyle (0 hidden, 1 normal) has no
// meaning here.  Raises ShellSyncError:
//   kShellSyncStartError    "Failed to Shell child process": empty command line, or
//                           posix_spawnp failed (no such program, not executable, ...).
//   kShellSyncOpenError     "Failed to open child process": the process id returned by
//                           posix_spawnp is itself the handle, so there is no open step;
//                           raised only if posix_spawnp succeeds without a usable id.
//   kShellSyncExitCodeError "Failed to retrieve exit code, error " + errno in decimal:
//                           waitpid failed other than by EINTR (retried), e.g. ECHILD (10)
//                           when SIGCHLD is ignored or someone else reaped the child.
//   kShellSyncGivenUpError  "Child process ended: the wait was given up": keepWaiting
//                           returned false; the child's group has been ended.
// keepWaiting (may be empty: a plain blocking wait) is called between polls, every
// kShellSyncPollMs while the child runs: the caller's chance to handle events, and to
// give up the wait by returning false.
int32_t ShellSync(const std::string& commandLine, int windowStyle,
                  const std::function<bool()>& keepWaiting = {});
// The same with the arguments already split: each reaches the program as it stands.
int32_t ShellSyncArguments(std::vector<std::string> arguments, int windowStyle,
                           const std::function<bool()>& keepWaiting = {});
