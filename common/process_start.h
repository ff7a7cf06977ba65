#pragma once
// Starting the solver without waiting for it, and ending exactly the solvers veldra
// started.  Each started process is held by a pidfd from its start until it is reaped,
// so a signal can only ever reach that process, never one that later got its number.
#include <string>
#include <sys/types.h>
#include <vector>

// Starts arguments[0] (found on PATH unless it holds a "/") with the given arguments,
// as they stand (no shell, no splitting), and returns its id at once; -1 when it could
// not be started (no arguments, program missing or not executable).  Before starting,
// reaps the processes that earlier calls started and that have ended since.
pid_t StartProcessNoWait(const std::vector<std::string>& arguments);

// True when the process that StartProcessNoWait returned has ended (or is not one of
// ours any more).  Does not block and does not reap.
bool StartedProcessEnded(pid_t pid);

// Collects the exit status of every started process that has ended, without blocking,
// so ended solvers do not stay behind as zombies.  Returns how many are still running.
size_t ReapStartedProcesses();

// One process the forced end reached.
struct EndedProcess {
    pid_t pid = 0;
    int error = 0; // 0: SIGKILL delivered; else the errno of the failed signal
};

// Sends SIGKILL, through its pidfd, to every process started by StartProcessNoWait that
// is still running (this run's solver and those left by earlier time-outs), waits until
// they have ended (at most kForcedEndBoundMs altogether) and reaps them.  Processes that
// ended by themselves are reaped and not listed.
std::vector<EndedProcess> EndStartedProcesses();

inline constexpr int kForcedEndBoundMs = 2000;
