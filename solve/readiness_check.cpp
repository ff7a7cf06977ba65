#include "solve/readiness_check.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "hdrlib/hdrlib.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

// solve-field picks index files whose quads are 10 % to 100 % of the field.
constexpr double kSmallestQuad = 0.1;
// An unknown image size: from a small guide-size sensor to a large full-frame one.
constexpr int kUnknownSmallSide = 500;
constexpr int kUnknownLargeSide = 8000;

// A program by name on PATH, or by path as given.
bool ProgramRuns(const std::string& program) {
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        if (access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// The package of the help text for a field whose larger side is this many arcminutes.
std::string PackageFor(double fieldArcmin) {
    if (fieldArcmin < 22)
        return "index files with quads under 22' (the 4200 or 5200 series; name their folder "
               "with INDEX_DIR)";
    if (fieldArcmin < 30)
        return "astrometry-data-tycho2-07";
    if (fieldArcmin < 44)
        return "astrometry-data-tycho2-08";
    if (fieldArcmin < 60)
        return "astrometry-data-tycho2-09";
    return "astrometry-data-tycho2-10-19";
}

std::string Arcmin(double arcsec) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f'", arcsec / 60);
    return text;
}

std::optional<double> HeaderNumber(FitsInfo& info, const char* keyword) {
    float value = 0;
    if (readFitsFloatParam(keyword, &info, &value) != 0 || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<ReadinessQuestion> ParseReadinessQuestion(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(text.substr(start, comma - start));
    fields.push_back(text.substr(start));
    if (fields.size() != 1 && fields.size() != 3)
        return std::nullopt;
    ReadinessQuestion question;
    const auto scale = ParseNumber(fields[0]);
    if (!scale || !(*scale > 0) || !std::isfinite(*scale))
        return std::nullopt;
    question.scale = *scale;
    if (fields.size() == 3) {
        const auto width = ParseNumber(fields[1]);
        const auto height = ParseNumber(fields[2]);
        if (!width || !height || !(*width >= 1 && *width <= 1e6) ||
            !(*height >= 1 && *height <= 1e6))
            return std::nullopt;
        question.width = static_cast<int>(*width);
        question.height = static_cast<int>(*height);
    }
    return question;
}

std::optional<IndexScales> IndexScalesOf(const std::string& path) {
    FitsInfo info{};
    if (loadFitsHeader(path.c_str(), &info) == 0) {
        // In radians, as astrometry.net writes them.
        const auto low = HeaderNumber(info, "SCALE_L");
        const auto high = HeaderNumber(info, "SCALE_U");
        freeFits(&info);
        constexpr double kArcsecPerRadian = 180 * 3600 / 3.14159265358979323846;
        if (low && high && *low > 0 && *high >= *low)
            return IndexScales{*low * kArcsecPerRadian, *high * kArcsecPerRadian};
    }
    // index-4107.fits, index-5206-03.fits: the last two digits of the series number are
    // the scale step k, quads from 2' x sqrt(2)^k to 2' x sqrt(2)^(k+1).
    const std::string name = FileNameOf(path);
    if (name.size() < 10 || name.compare(0, 6, "index-") != 0)
        return std::nullopt;
    const std::string digits = name.substr(6, 4);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int step = std::stoi(digits) % 100;
    if (step > 19)
        return std::nullopt;
    return IndexScales{120 * std::pow(std::sqrt(2.0), step),
                       120 * std::pow(std::sqrt(2.0), step + 1)};
}

std::string ReadinessProblem(const SolveSettings& settings, const ReadinessQuestion& question) {
    if (settings.engine == SolveEngine::Astap)
        return ProgramRuns(settings.astapCli)
                   ? std::string()
                   : settings.astapCli + " cannot be run: install it (apt install astap-cli)";
    if (!ProgramRuns(settings.solveField))
        return settings.solveField + " cannot be run: install astrometry.net (apt install "
                                     "astrometry.net)";
    const bool sized = question.width > 0 && question.height > 0;
    const double smallSide =
        question.scale * (sized ? std::min(question.width, question.height) : kUnknownSmallSide);
    const double largeSide =
        question.scale * (sized ? std::max(question.width, question.height) : kUnknownLargeSide);
    int files = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(settings.indexDir, error)) {
        if (entry.path().extension() != ".fits" || !entry.is_regular_file(error))
            continue;
        ++files;
        const auto scales = IndexScalesOf(entry.path().string());
        if (scales && scales->high >= kSmallestQuad * smallSide && scales->low <= largeSide)
            return {};
    }
    const std::string field = sized ? Arcmin(question.scale * question.width) + " x " +
                                          Arcmin(question.scale * question.height)
                                    : "of " + PlainNumberText(question.scale) + "\"/pixel";
    const std::string what = files == 0 ? "no astrometry.net index files in " + settings.indexDir
                                        : "no astrometry.net index file in " + settings.indexDir +
                                              " fits a field " + field;
    return what + ": install " + PackageFor(sized ? largeSide / 60 : smallSide / 60) +
           " or name another folder with INDEX_DIR in veldra-solve.ini";
}

int RunReadinessCheck(const std::vector<std::string>& args, const std::string& programFolder) {
    std::optional<ReadinessQuestion> question;
    std::string settingsPath;
    std::vector<std::pair<std::string, std::string>> options;
    std::string problem;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string key = SettingKeyOfOption(args[i]);
        const bool takesValue = args[i] == "--check" || args[i] == "--config" || !key.empty();
        if (!takesValue || i + 1 >= args.size()) {
            problem = problem.empty() ? "unexpected " + args[i] : problem;
            continue;
        }
        const std::string& value = args[++i];
        if (args[i - 1] == "--check")
            question = ParseReadinessQuestion(value);
        else if (args[i - 1] == "--config")
            settingsPath = value;
        else
            options.emplace_back(key, value);
    }
    if (!question && problem.empty())
        problem = "--check takes SCALE or SCALE,WIDTH,HEIGHT (arcseconds per pixel, pixels)";
    if (!problem.empty()) {
        std::cerr << "veldra-solve: " << problem << "\n";
        return 2;
    }
    SolveSettings settings;
    if (settingsPath.empty())
        settingsPath = DefaultSettingsPath(programFolder);
    problem = ReadSettingsFile(settingsPath, settings);
    for (const auto& [key, value] : options)
        if (problem.empty())
            problem = ApplySetting(settings, key, value);
    if (problem.empty())
        problem = ReadinessProblem(settings, *question);
    std::cout << (problem.empty() ? "ready" : problem) << "\n";
    return problem.empty() ? 0 : 1;
}
