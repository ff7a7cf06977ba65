#include "solve/engine_run.h"

#include "common/child_process.h"
#include "solve/scratch_files.h"

EngineRun RunEngine(const SolveJob& job, const std::vector<std::string>& arguments,
                    const std::string& outputPath, const std::string& name,
                    const std::string& installHint) {
    const ChildOutcome run =
        RunGuarded(arguments, outputPath, SecondsLeft(job), job.scratch, job.whileEngineRuns);
    EngineRun result;
    result.exitCode = run.exitCode;
    switch (run.end) {
    case ChildOutcome::End::NotStarted:
        result.failed = SolveOutcome{false, 0, 0,
                                     "cannot run " + arguments.front() + " (" + run.startError +
                                         "): " + installHint};
        break;
    case ChildOutcome::End::TimedOut:
        result.failed = SolveOutcome{false, 0, 0, TimeLimitReason(job)};
        break;
    case ChildOutcome::End::Signalled:
        result.failed =
            SolveOutcome{false, 0, 0, name + " ended by a signal: " + LastLines(outputPath, 2)};
        break;
    case ChildOutcome::End::WaitFailed:
        result.failed = SolveOutcome{false, 0, 0, name + " could not be waited for"};
        break;
    case ChildOutcome::End::Exited:
        break;
    }
    return result;
}
