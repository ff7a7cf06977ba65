#pragma once
// One run of a solver engine for a job, with the failures every engine shares.
#include "solve/solve_job.h"

#include <optional>
#include <string>
#include <vector>

struct EngineRun {
    // Set when the engine did not start, was still running at the job's deadline, or was
    // ended by a signal: the outcome to report, with the reason.
    std::optional<SolveOutcome> failed;
    int exitCode = 0; // when it exited
};

// Runs arguments (the program first) in the job's guarded process group until the job's
// deadline, its output in outputPath.  name: the engine as the log names it; installHint:
// what to do when the program cannot be started.
EngineRun RunEngine(const SolveJob& job, const std::vector<std::string>& arguments,
                    const std::string& outputPath, const std::string& name,
                    const std::string& installHint);
