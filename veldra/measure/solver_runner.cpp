#include "veldra/measure/solver_runner.h"

#include "common/end_request.h"
#include "common/file_utils.h"
#include "common/numbers.h"
#include "common/process_start.h"
#include "veldra/measure/solver_reason.h"
#include "veldra/settings/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

// Where the extension starts: the last "." of the file-name part, so a dot in a folder
// name never cuts the path; npos when the file name has none.
size_t ExtensionStart(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return std::string::npos;
    return dot;
}

bool HasContent(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// The head of a result file: enough for three numbers, bounded whatever the file holds.
std::optional<std::string> ReadHead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string ClockText(float seconds) {
    return " :    " + DefaultText(seconds);
}

// One line of the head for the log, without line end characters.
std::string FirstLine(const std::string& text) {
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    return line.size() > 80 ? line.substr(0, 80) + "..." : line;
}

} // namespace

void LogEndedSolvers(const std::string& programFolder, const std::vector<EndedProcess>& ended) {
    for (const EndedProcess& process : ended) {
        const std::string pid = std::to_string(process.pid);
        if (process.error == 0)
            LogEvent(programFolder, " :    ended platesolve process " + pid);
        else // the next forced end tries again
            LogEvent(programFolder, " :    could not end platesolve process " + pid + ": " +
                                        std::strerror(process.error));
    }
}

std::string ResultFileName(const std::string& imagePath) {
    const size_t dot = ExtensionStart(imagePath);
    return (dot == std::string::npos ? imagePath : imagePath.substr(0, dot)) + ".apm";
}

std::string SolverArgument(const SkyPosition& start, const SolverField& field,
                           const std::string& imagePath) {
    return PlainNumberText(start.ra) + "," + PlainNumberText(start.dec) + "," +
           PlainNumberText(field.width) + "," + PlainNumberText(field.height) + ",999," + imagePath;
}

std::optional<ApmResult> ParseApmText(const std::string& text) {
    double values[3] = {0, 0, 0};
    size_t position = 0;
    for (double& value : values) {
        if (position > text.size())
            return std::nullopt;
        const size_t end = text.find_first_of(",\r\n", position);
        const auto number = ParseNumber(std::string_view(text).substr(
            position, end == std::string::npos ? std::string::npos : end - position));
        if (!number)
            return std::nullopt;
        value = *number;
        if (end == std::string::npos) {
            position = text.size() + 1;
            continue;
        }
        // A CR LF pair is one line end.
        position = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return ApmResult{values[0], values[1], values[2]};
}

std::optional<std::string> PrepareSolverResult(const std::string& programFolder,
                                               const Platform& platform,
                                               const std::string& imagePath) {
    const std::string resultFile = ResultFileName(imagePath);
    LogEvent(programFolder, " :    apm file = " + resultFile);
    if (std::remove(resultFile.c_str()) != 0 && errno != ENOENT) {
        // A stale result that stays would be read as this image's result.
        LogEvent(programFolder,
                 " :    could not delete old apm file: " + std::string(std::strerror(errno)));
        platform.showTimedError("Could not delete the old plate solve result " + resultFile);
        return std::nullopt;
    }
    return resultFile;
}

namespace {

// Starts the solver without waiting; its pid, or negative (logged and shown).
pid_t LaunchSolver(const Settings& settings, const std::string& folder, const Platform& platform,
                   const std::string& logFolder, const std::string& imagePath,
                   const SkyPosition& start, const SolverField& field) {
    // A Windows solver receives its command line as one text and finds its argument in it
    // exactly as written; here it is that argument, whole, whatever the image path holds.
    // veldra-solve keeps its own log beside veldra's, not among the light frames.
    setenv(kSolverLogDirVariable, logFolder.c_str(), 1);
    const pid_t solver =
        StartProcessNoWait({settings.PWI_EXE_PATH, SolverArgument(start, field, imagePath)});
    if (solver < 0) {
        LogEvent(folder, " :    unable to launch platesolve");
        platform.messageBox("Unable to launch platesolve");
    }
    return solver;
}

// Polls for the result every 50 ms while pumping events, within PWI_MAX_SOLVE_TIME
// seconds of launched.  True when the result file has content; false when the wait ended
// without one (logged and shown, except at the end of veldra).
bool WaitForResult(const Settings& settings, const std::string& folder, const Platform& platform,
                   pid_t solver, double launched, const std::string& resultFile) {
    const double limit = settings.PWI_MAX_SOLVE_TIME;
    for (;;) {
        platform.sleep(50);
        if (!EndRequested())
            platform.pumpEvents();
        if (EndRequested()) {
            // The end of veldra does not wait for the time limit, and leaves no solver behind.
            LogEvent(folder, " :    veldra is ending: platesolve wait given up");
            LogEndedSolvers(folder, EndStartedProcesses());
            return false;
        }
        if (HasContent(resultFile)) {
            // Give the solver a moment to finish writing.
            platform.sleep(100);
            LogEvent(folder, ClockText(static_cast<float>(platform.secondsSinceMidnight())) +
                                 ": found APM file");
            return true;
        }
        // Checked after the process, then the file again: a solver that wrote its result
        // and ended between the two looks is still read.
        if (StartedProcessEnded(solver) && !HasContent(resultFile)) {
            LogEvent(folder, " :    platesolve ended without a result");
            ReapStartedProcesses();
            platform.showTimedError("Plate Solve ended without a result");
            return false;
        }
        if (platform.monotonicSeconds() - launched > limit) {
            LogEvent(folder, ClockText(static_cast<float>(platform.secondsSinceMidnight())) +
                                 ": max solve time expired");
            if (HasContent(resultFile))
                return true; // arrived after the last poll
            const std::string seconds = std::to_string(settings.PWI_MAX_SOLVE_TIME);
            LogEvent(folder, " :    plate solve did not complete within " + seconds + " seconds");
            platform.showTimedError("Plate Solve did not complete within " + seconds + " seconds");
            return false;
        }
    }
}

// Reads the result file into position; false when it is unreadable, not solved or off
// the sky (logged and shown).
bool ReadSolverResult(const std::string& folder, const Platform& platform,
                      const std::string& logFolder, const std::string& resultFile,
                      const std::string& imagePath, SkyPosition& position) {
    LogEvent(folder, " :    opening APM file");
    const auto head = ReadHead(resultFile);
    const auto result = head ? ParseApmText(*head) : std::nullopt;
    if (!result) {
        LogEvent(folder, " :    APM file does not begin with three numbers: \"" +
                             (head ? FirstLine(*head) : std::string()) + "\"");
        platform.showTimedError("File: " + resultFile + " is not a readable plate solve result");
        return false;
    }
    if (result->flag != 1) {
        LogEvent(folder, " :    plate solve was not successful");
        const std::string reason = SolverFailureReason(logFolder, imagePath);
        platform.showTimedError("File: " + imagePath + " did not plate solve" +
                                (reason.empty() ? "" : ": " + reason));
        return false;
    }
    if (!OnTheSky({result->ra, result->dec})) {
        LogEvent(folder, " :    plate solve result is no sky position: " +
                             PlainNumberText(result->ra) + "," + PlainNumberText(result->dec));
        platform.showTimedError("File: " + imagePath + " did not plate solve");
        return false;
    }
    LogEvent(folder, " :    APM read successfully");
    position = {result->ra, result->dec};
    return true;
}

} // namespace

bool RunSolver(const Settings& settings, const std::string& programFolder, const Platform& platform,
               const std::string& resultFile, const std::string& imagePath,
               const SkyPosition& start, const SolverField& field, SkyPosition& position) {
    const std::string& folder = programFolder;
    LogEvent(folder, " :    pwiExePath = " + settings.PWI_EXE_PATH);
    LogEvent(folder,
             " :    RA(rad) = " + DefaultText(start.ra) + ", DEC(rad) = " + DefaultText(start.dec));

    if (EndRequested())
        return false;
    const std::string logFolder = DirectoryOf(LogPath(folder));
    const pid_t solver =
        LaunchSolver(settings, folder, platform, logFolder, imagePath, start, field);
    if (solver < 0)
        return false;
    const double launched = platform.monotonicSeconds();
    LogEvent(folder, " :    " + DefaultText(platform.secondsSinceMidnight()) +
                         ": waiting for platesolve to complete");
    if (!WaitForResult(settings, folder, platform, solver, launched, resultFile))
        return false;

    LogEvent(folder, " :    slaying platesolve");
    // Only the processes veldra started itself: never a process found by its name.
    LogEndedSolvers(folder, EndStartedProcesses());
    return ReadSolverResult(folder, platform, logFolder, resultFile, imagePath, position);
}
