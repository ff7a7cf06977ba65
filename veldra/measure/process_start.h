#pragma once
// Starting a program without waiting for it (the solver).  The command line is split
// like the process runner's (blanks separate, double quotes group); no shell is involved,
// so nothing in it is interpreted by one.
#include <optional>
#include <string>
#include <sys/types.h>

// Starts the process and returns its id at once; nothing when it could not be started
// (empty command line, program missing or not executable).  Before starting, reaps the
// processes that earlier calls started and that have ended since.
std::optional<pid_t> StartProcessNoWait(const std::string& commandLine);

// Collects the exit status of every process started by StartProcessNoWait that has
// ended, without blocking, so ended solvers do not stay behind as zombies.  Returns how
// many are still running.
size_t ReapStartedProcesses();
