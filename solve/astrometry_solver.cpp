#include "solve/astrometry_solver.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/engine_run.h"
#include "solve/scratch_files.h"
#include "solve/solution_header.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

namespace {

// solve-field's outputs are named after this in the scratch folder.
const char* const kBase = "solution";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    return first == std::string::npos
               ? std::string()
               : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::string CheckIndexFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".fits" && entry.is_regular_file(error))
            return {};
    return "no astrometry.net index files (*.fits) in " + folder +
           ": install an index package (astrometry-data-tycho2-07 .. -19, see veldra-solve "
           "--help) or name the folder with INDEX_DIR in veldra-solve.ini";
}

std::vector<std::string> SolveFieldArguments(const SolveJob& job, const std::string& configPath) {
    const SolveRequest& request = job.request;
    const double scale = Degrees(request.width) * 3600 / job.imageWidth; // arcsec per pixel
    const double margin = job.settings.scaleMargin / 100;
    const double radius = std::min(180.0, job.settings.searchRadius *
                                              Degrees(std::max(request.width, request.height)));
    double ra = std::fmod(Degrees(request.ra), 360.0);
    if (ra < 0)
        ra += 360;
    return {
        job.settings.solveField, "--config", configPath, "--ra", PlainNumberText(ra), "--dec",
        PlainNumberText(Degrees(request.dec)), "--radius", PlainNumberText(radius), "--scale-units",
        "arcsecperpix", "--scale-low", PlainNumberText(scale * (1 - margin)), "--scale-high",
        PlainNumberText(scale * (1 + margin)), "--downsample", std::to_string(DownsampleFor(job)),
        "--cpulimit", std::to_string(static_cast<int>(std::ceil(job.settings.timeLimit))),
        "--crpix-center", "--no-plots", "--overwrite", "--tweak-order", "1",
        // Skip the outputs veldra-solve does not read, and the Python helpers behind them.
        "--fits-image", "--no-remove-lines", "--uniformize", "0", "--new-fits", "none",
        "--index-xyls", "none", "--rdls", "none", "--match", "none", "--corr", "none", "--dir",
        job.scratch, "--temp-dir", job.scratch, "--out", kBase, EngineImagePath(request.imagePath)};
}

std::string SolveFieldReason(const std::string& output, int exitCode) {
    std::istringstream lines(output);
    std::string line, found, sources;
    while (std::getline(lines, line)) {
        line = Trimmed(line);
        const std::string lower = Lower(line);
        if (lower.rfind("simplexy: found ", 0) == 0)
            sources = line.substr(16, line.find(' ', 16) - 16);
        // The engine's own complaint, not solve-field's report that the engine failed.
        const bool complaint =
            lower.find("fail") != std::string::npos || lower.find("error") != std::string::npos ||
            lower.find("must") != std::string::npos || lower.find("cannot") != std::string::npos;
        if (found.empty() && complaint && lower.find("run_engine") == std::string::npos &&
            lower.find("run_command") == std::string::npos)
            found = line;
    }
    if (exitCode != 0)
        return "solve-field failed (exit status " + std::to_string(exitCode) + ")" +
               (found.empty() ? std::string() : ": " + found);
    return "solve-field found no solution" +
           (sources.empty() ? std::string() : " (" + sources + " stars found in the image)");
}

SolveOutcome SolveWithAstrometry(const SolveJob& job) {
    if (const std::string problem = CheckIndexFolder(job.settings.indexDir); !problem.empty())
        return {false, 0, 0, problem};
    const std::string config = JoinPath(job.scratch, "astrometry.cfg");
    if (!WriteTextFile(config, "add_path " + job.settings.indexDir + "\nautoindex\n"))
        return {false, 0, 0, "cannot write in the scratch folder " + job.scratch};
    const std::string output = JoinPath(job.scratch, "solve-field.txt");
    const EngineRun run = RunEngine(job, SolveFieldArguments(job, config), output, "solve-field",
                                    "install the Debian package astrometry.net, or name the "
                                    "program with SOLVE_FIELD in veldra-solve.ini");
    if (run.failed)
        return *run.failed;
    if (run.exitCode == 0 && FileExists(JoinPath(job.scratch, std::string(kBase) + ".solved")))
        return ReadCentre(JoinPath(job.scratch, std::string(kBase) + ".wcs"));
    return {false, 0, 0, SolveFieldReason(ReadTextFile(output), run.exitCode)};
}
