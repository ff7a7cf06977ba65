#pragma once
// Runs an outside program so that nothing it starts can outlive us.
//
// The program runs in a process group of its own, led by a small watchdog process.  The
// program dies with us (PR_SET_PDEATHSIG); its own children (solve-field starts
// astrometry-engine) are reached through the group: when this process ends in any way,
// even by SIGKILL, the watchdog sees its pipe close, kills the whole group and removes
// the given scratch folder.  The group is led by the live watchdog, so its id can never
// name another process's group while it is killed.
#include <functional>
#include <string>
#include <vector>

struct ChildOutcome {
    enum class End {
        Exited,     // exitCode holds the exit status
        Signalled,  // ended by a signal it did not get from us
        TimedOut,   // still running at the time limit: the group was killed
        NotStarted, // startError says why (not found, not executable, no fork)
        WaitFailed, // waitpid refused to report on it: its group was killed
    };
    End end = End::NotStarted;
    int exitCode = -1;
    std::string startError;
    double seconds = 0; // wall-clock time from the start to the end
};

// Runs arguments[0] (looked up on PATH) with standard input from /dev/null and standard
// output and error into outputPath (created or truncated).  Blocks until the program
// ends or timeLimit seconds (wall clock) have passed; in every case the whole group is
// killed and reaped before it returns.  scratchFolder (may be empty) is what the
// watchdog removes when this process dies before it returns.  whileRunning (may be
// empty) is called once, in this process, as soon as the program has started: work that
// can overlap the program's run.
ChildOutcome RunGuarded(const std::vector<std::string>& arguments, const std::string& outputPath,
                        double timeLimit, const std::string& scratchFolder,
                        const std::function<void()>& whileRunning = {});
