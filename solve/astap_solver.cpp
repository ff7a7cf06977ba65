#include "solve/astap_solver.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/engine_run.h"
#include "solve/scratch_files.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

std::vector<std::string> AstapArguments(const SolveJob& job, const std::string& outputBase) {
    const SolveRequest& request = job.request;
    double hours = std::fmod(Degrees(request.ra) / 15, 24.0);
    if (hours < 0)
        hours += 24;
    const double radius = std::min(180.0, job.settings.searchRadius *
                                              Degrees(std::max(request.width, request.height)));
    std::vector<std::string> arguments = {
        job.settings.astapCli,
        "-f",
        EngineImagePath(request.imagePath),
        "-ra",
        PlainNumberText(hours),
        "-spd",
        PlainNumberText(Degrees(request.dec) + 90), // south pole distance
        "-r",
        PlainNumberText(radius),
        "-fov",
        PlainNumberText(Degrees(request.height)), // the field's height
        "-z",
        std::to_string(job.settings.downsample), // 0: ASTAP chooses
        "-o",
        outputBase};
    if (!job.settings.astapDatabase.empty()) {
        arguments.push_back("-d");
        arguments.push_back(job.settings.astapDatabase);
    }
    return arguments;
}

namespace {

std::optional<double> Finite(const std::map<std::string, std::string>& values,
                             const std::string& key) {
    const auto found = values.find(key);
    if (found == values.end())
        return std::nullopt;
    const auto value = ParseNumber(found->second);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

// The solution's orientation: its CD matrix, else its scale and turn (CDELT1, CDELT2 and
// CROTA2 in degrees, 0 when left out, turned into a matrix the way FITS readers do).  False when
// neither is there whole or the matrix maps the image onto a line.
bool AstapOrientation(const std::map<std::string, std::string>& values, double cd[2][2]) {
    const auto m11 = Finite(values, "CD1_1"), m12 = Finite(values, "CD1_2");
    const auto m21 = Finite(values, "CD2_1"), m22 = Finite(values, "CD2_2");
    const auto cdelt1 = Finite(values, "CDELT1"), cdelt2 = Finite(values, "CDELT2");
    if (m11 && m12 && m21 && m22) {
        cd[0][0] = *m11;
        cd[0][1] = *m12;
        cd[1][0] = *m21;
        cd[1][1] = *m22;
    } else if (cdelt1 && cdelt2) {
        const double turn = Radians(Finite(values, "CROTA2").value_or(0)), c = std::cos(turn),
                     s = std::sin(turn);
        cd[0][0] = *cdelt1 * c;
        cd[0][1] = -*cdelt2 * s;
        cd[1][0] = *cdelt1 * s;
        cd[1][1] = *cdelt2 * c;
    } else {
        return false;
    }
    return cd[0][0] * cd[1][1] - cd[0][1] * cd[1][0] != 0;
}

} // namespace

SolveOutcome ParseAstapResult(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (values["PLTSOLVD"] != "T") {
        const std::string& error = values["ERROR"];
        return {false, 0, 0,
                "ASTAP found no solution" + (error.empty() ? std::string() : ": " + error)};
    }
    const auto ra = ParseNumber(values["CRVAL1"]);
    const auto dec = ParseNumber(values["CRVAL2"]);
    if (!ra || !dec)
        return {false, 0, 0, "ASTAP's result has no valid CRVAL1/CRVAL2"};
    SolveOutcome outcome = SolvedAt(*ra, *dec);
    outcome.oriented = outcome.solved && AstapOrientation(values, outcome.cd);
    return outcome;
}

SolveOutcome SolveWithAstap(const SolveJob& job) {
    const std::string base = JoinPath(job.scratch, "solution");
    const std::string output = JoinPath(job.scratch, "astap.txt");
    const EngineRun run = RunEngine(
        job, AstapArguments(job, base), output, "astap_cli",
        "install the Debian package astap-cli and ASTAP's star database, or name the program "
        "with ASTAP_CLI in veldra-solve.ini");
    if (run.failed)
        return *run.failed;
    const std::string result = ReadTextFile(base + ".ini");
    if (result.empty())
        return {false, 0, 0,
                "astap_cli wrote no result (exit status " + std::to_string(run.exitCode) +
                    "): " + LastLines(output, 2)};
    return ParseAstapResult(result);
}
