#include "solve/solve_run.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/astap_solver.h"
#include "solve/astrometry_solver.h"
#include "solve/scratch_files.h"
#include "solve/solution_header.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

SolveOutcome RunSolve(const SolveRequest& request, const SolveSettings& settings) {
    SolveJob job{request, settings, 0, 0, {}, {}, {}};
    job.deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(settings.timeLimit));
    // The quick look gives the size the solver's options need, so the solver starts before
    // CFITSIO and its libraries are loaded; the full load (which has CFITSIO confirm the
    // headers, and leaves it ready for reading the solution) overlaps the solve.
    std::string error;
    if (!PeekImageSize(request.imagePath, job.imageWidth, job.imageHeight, error))
        return {false, 0, 0, error};
    if (job.imageWidth > kLargestImageSide || job.imageHeight > kLargestImageSide)
        return {false, 0, 0,
                "the image is " + std::to_string(job.imageWidth) + " x " +
                    std::to_string(job.imageHeight) + " pixels: more than " +
                    std::to_string(kLargestImageSide) +
                    " pixels a side would take the solver's memory, so it is not solved"};
    std::string confirmError;
    job.whileEngineRuns = [&] {
        int width = 0, height = 0;
        if (ReadImageSize(request.imagePath, width, height, confirmError) &&
            (width != job.imageWidth || height != job.imageHeight))
            confirmError = "the image " + request.imagePath + " changed during the solve";
    };
    job.scratch = MakeScratchFolder();
    if (job.scratch.empty())
        return {false, 0, 0, "cannot make a scratch folder below $TMPDIR or /tmp"};
    const SolveOutcome outcome =
        settings.engine == SolveEngine::Astap ? SolveWithAstap(job) : SolveWithAstrometry(job);
    RemoveScratchFolder(job.scratch);
    return confirmError.empty() ? outcome : SolveOutcome{false, 0, 0, confirmError};
}

std::string ResultFileName(const std::string& imagePath) {
    const size_t dot = imagePath.find_last_of('.');
    const size_t separator = imagePath.find_last_of("/\\");
    const bool hasExtension =
        dot != std::string::npos && (separator == std::string::npos || dot > separator);
    return (hasExtension ? imagePath.substr(0, dot) : imagePath) + ".apm";
}

std::string ApmText(const SolveRequest& request, const SolveOutcome& outcome) {
    const double ra = outcome.solved ? outcome.ra : request.ra;
    const double dec = outcome.solved ? outcome.dec : request.dec;
    std::string text =
        PlainNumberText(ra) + "," + PlainNumberText(dec) + (outcome.solved ? ",1\n" : ",0\n");
    // The orientation on a line of its own, which readers of the first three values skip.
    if (outcome.solved && outcome.oriented)
        text += PlainNumberText(outcome.cd[0][0]) + "," + PlainNumberText(outcome.cd[0][1]) + "," +
                PlainNumberText(outcome.cd[1][0]) + "," + PlainNumberText(outcome.cd[1][1]) + "\n";
    return text;
}

std::string LogText(const SolveRequest& request, const SolveOutcome& outcome, double seconds) {
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds);
    const std::string image = FileNameOf(request.imagePath);
    if (!outcome.solved)
        return image + ": not solved after " + time + " s: " + outcome.reason;
    return image + ": solved in " + time + " s: RA " + PlainNumberText(Degrees(outcome.ra)) +
           ", DEC " + PlainNumberText(Degrees(outcome.dec)) + " (degrees)";
}

bool AppendLog(const SolveRequest& request, const SolveSettings& settings,
               const std::string& text) {
    const std::string folder = !settings.logDir.empty() ? settings.logDir
                               : DirectoryOf(request.imagePath).empty()
                                   ? std::string(".")
                                   : DirectoryOf(request.imagePath);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    const std::string line = stamp + text + "\n";
    // One write of the whole line in append mode: runs side by side never interleave.
    const int file = open(JoinPath(folder, "veldra-solve.log").c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    const bool written = write(file, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(file) == 0 && written;
}
