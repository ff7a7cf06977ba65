// veldra-solve: the plate solver veldra starts with its solver command line; it runs
// astrometry.net's solve-field (or ASTAP's astap_cli) and answers in the ".apm" file
// beside the image.  See --help.
#include "common/file_utils.h"
#include "solve/readiness_check.h"
#include "solve/solve_request.h"
#include "solve/solve_run.h"
#include "solve/solve_settings.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>

namespace {

const char* const kUsage = "usage: veldra-solve RA,DEC,WIDTH,HEIGHT,999,IMAGE [options]\n"
                           "       veldra-solve RA DEC WIDTH HEIGHT 999 IMAGE [options]\n"
                           "       veldra-solve --ra DEG --dec DEG --width DEG [--height DEG] "
                           "IMAGE [options]\n";

std::string HelpText(const std::string& settingsPath) {
    return std::string(kUsage) +
           "\n"
           "Plate-solves IMAGE (FITS) and writes IMAGE's name with \".apm\" beside it:\n"
           "\"RA,DEC,1\" (radians) when solved, \"RA,DEC,0\" when not.  RA and DEC are the\n"
           "start position, WIDTH and HEIGHT the field, all in radians, as veldra passes them.\n"
           "By hand, give them in degrees with --ra, --dec, --width and --height (the\n"
           "height defaults to the width).\n"
           "Choose this program with \"Set Application\" in veldra's plate-solve setup.\n"
           "Each run adds a line to veldra-solve.log in LOG_DIR (veldra names its own log\n"
           "folder in $VELDRA_LOG_DIR; else beside the image), with the reason when it did\n"
           "not solve.  Exit status: 0 solved, 1 not solved, 2 bad command line, 3 result\n"
           "not written.\n"
           "\n"
           "veldra-solve --check SCALE[,WIDTH,HEIGHT] [options]\n"
           "  says in one line whether images of SCALE arcseconds per pixel (WIDTH x HEIGHT\n"
           "  pixels) can be solved here: the solver program and fitting index files.\n"
           "  Exit status: 0 ready, 1 not ready, 2 bad command line.\n"
           "\n"
           "Settings come from " +
           settingsPath +
           "\n"
           "(lines KEY=value; looked for beside the program, where veldra.ini is, then in\n"
           "$XDG_CONFIG_HOME/veldra/), then from these options:\n" +
           SettingsHelp() +
           "  --config FILE            read the settings from FILE instead\n"
           "  --help                   this text\n"
           "  --                       the end of the options: what follows is the solver\n"
           "                           text, even an image named like an option\n"
           "\n"
           "Index files (ENGINE=astrometry): apt install astrometry.net and the Tycho-2 index\n"
           "package that fits the field width (the range in its name is the size of its\n"
           "star quads; neighbouring packages help):\n"
           "  field 22'-30': astrometry-data-tycho2-07    30'-44': astrometry-data-tycho2-08\n"
           "  field 44'-60': astrometry-data-tycho2-09    60' and more: "
           "astrometry-data-tycho2-10-19\n"
           "They install into /usr/share/astrometry; for index files elsewhere set INDEX_DIR.\n"
           "Fields narrower than about 22' need astrometry.net's 5200 or 4200 series,\n"
           "which Debian does not package (the user guide says which files).\n"
           "Check an index with one image of your rig, near where it points, for example:\n"
           "  veldra-solve --ra 83.82 --dec 22.01 --width 0.53 IMAGE\n"
           "(or solve-field IMAGE) and read the line it prints.\n"
           "ENGINE=astap runs astap_cli (apt install astap-cli); ASTAP's star database\n"
           "(for example D50) must be installed separately, see ASTAP_DATABASE.\n";
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--check") != args.end())
        return RunReadinessCheck(args, ProgramFolder());
    CommandLine line;
    const std::string error = ParseCommandLine(args, line);
    const std::string settingsPath =
        line.settingsPath.empty() ? DefaultSettingsPath(ProgramFolder()) : line.settingsPath;
    if (line.help && !line.request) {
        std::cout << HelpText(settingsPath);
        return 0;
    }
    if (!line.request) {
        std::cerr << "veldra-solve: " << error << "\n" << kUsage;
        return 2;
    }

    // From here on every path answers veldra with a result file.
    SolveSettings settings;
    std::string problem = error;
    if (problem.empty() && !line.settingsPath.empty() && !FileExists(settingsPath))
        problem = "cannot read the settings file " + settingsPath;
    if (problem.empty())
        problem = ReadSettingsFile(settingsPath, settings);
    for (const auto& [key, value] : line.settings)
        if (problem.empty())
            problem = ApplySetting(settings, key, value);
    // Run by veldra: the log goes beside veldra's own, not among the light frames.
    if (const char* logDir = std::getenv("VELDRA_LOG_DIR"); settings.logDir.empty() && logDir)
        settings.logDir = logDir;
    // The solvers parse their numbers the C way, whatever the user's locale.
    setenv("LC_ALL", "C", 1);
    const SolveOutcome outcome =
        problem.empty() ? RunSolve(*line.request, settings) : SolveOutcome{false, 0, 0, problem};

    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - started;
    const std::string report = LogText(*line.request, outcome, spent.count());
    std::cerr << "veldra-solve: " << report << "\n";
    if (!AppendLog(*line.request, settings, report))
        std::cerr << "veldra-solve: cannot append to veldra-solve.log\n";
    // The result goes last: veldra ends this program as soon as the file is there.  The
    // rename keeps half a file out of sight; a flush to disk would only cost time, since
    // veldra reads the result at once and a crash ends the wait for it anyway.
    const std::string resultFile = ResultFileName(line.request->imagePath);
    if (!WriteFileAtomically(resultFile, ApmText(*line.request, outcome), false)) {
        std::cerr << "veldra-solve: cannot write " << resultFile << "\n";
        return 3;
    }
    return outcome.solved ? 0 : 1;
}
