#pragma once
// The outside plate solver: any executable at PWI_EXE_PATH that takes one argument
//   RA,DEC,WIDTH,HEIGHT,999,IMAGE
// (radians, "." as decimal separator; the text after the solver's path on a Windows
// command line, handed over whole) and writes its result beside the image, in a file
// named like the image with ".apm" for the extension: "RA,DEC,FLAG" (radians; flag 1 =
// solved), values separated by commas or line ends.
#include "common/process_start.h"
#include "veldra/measure/image_metadata.h"

#include <optional>
#include <string>
#include <vector>

// The result-file name: the image path with its extension replaced by ".apm".
std::string ResultFileName(const std::string& imagePath);
// The solver's one argument, byte for byte; numbers never depend on the locale.
std::string SolverArgument(const SkyPosition& start, const SolverField& field,
                           const std::string& imagePath);

// The first three values of a result file.
struct ApmResult {
    double ra = 0;   // radians
    double dec = 0;  // radians
    double flag = 0; // 1 = solved
};
// Nothing when the text does not begin with three numbers.
std::optional<ApmResult> ParseApmText(const std::string& text);

// Logs the result-file name and deletes a result left by an earlier run, so a run never
// reads a result written before its own launch.  Returns the result-file name; nothing
// (logged and shown) when an old result exists and cannot be deleted.
std::optional<std::string> PrepareSolverResult(const std::string& programFolder,
                                               const Platform& platform,
                                               const std::string& imagePath);

// Starts the solver without waiting, polls for the result every 50 ms while pumping
// events, at most PWI_MAX_SOLVE_TIME seconds on the monotonic clock (a solver that ends
// without a result ends the wait at once), ends every solver process veldra started and
// that still runs (SIGKILL through its pidfd, each logged; blocking at most
// kForcedEndBoundMs), and reads the result.  On success position holds the measured
// position; false means: take the release exit (everything is logged and shown already).
// A solver that hits the time limit is left running; the next forced end ends it.
// When the end of veldra is asked for (end_request.h) the wait stops at its next poll,
// every started solver is ended and the result is false, with no dialog.
bool RunSolver(const Settings& settings, const std::string& programFolder, const Platform& platform,
               const std::string& resultFile, const std::string& imagePath,
               const SkyPosition& start, const SolverField& field, SkyPosition& position);

// One log line per solver process that a forced end reached.
void LogEndedSolvers(const std::string& programFolder, const std::vector<EndedProcess>& ended);
