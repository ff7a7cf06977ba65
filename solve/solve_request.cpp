#include "solve/solve_request.h"

#include "common/numbers.h"
#include "solve/solve_settings.h"

#include <cmath>

namespace {

std::string Joined(std::vector<std::string>::const_iterator first,
                   std::vector<std::string>::const_iterator last) {
    std::string text;
    for (auto it = first; it != last; ++it)
        text += (it == first ? "" : " ") + *it;
    return text;
}

// The hand-check options, in degrees, in the order of the solver text's fields.
constexpr const char* kDegreeOptions[] = {"--ra", "--dec", "--width", "--height"};

int DegreeOptionIndex(std::string_view arg) {
    for (int i = 0; i < 4; ++i)
        if (arg == kDegreeOptions[i])
            return i;
    return -1;
}

// The solver text of a hand check: the degrees in radians, then the image path.
std::string DegreeSolverText(const std::optional<double> (&degrees)[4], const std::string& image,
                             std::string& error) {
    if (!degrees[0] || !degrees[1] || !degrees[2]) {
        error = "--ra, --dec and --width are needed together (degrees)";
        return {};
    }
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const double value = degrees[i] ? *degrees[i] : *degrees[2];
        text += PlainNumberText(value * kPi / 180) + ",";
        if (i == 3)
            text += "999,";
    }
    return text + image;
}

} // namespace

std::optional<SolveRequest> ParseSolverText(std::string_view text) {
    double numbers[5] = {};
    size_t position = 0;
    for (double& number : numbers) {
        const size_t comma = text.find(',', position);
        if (comma == std::string_view::npos)
            return std::nullopt;
        const auto value = ParseNumber(text.substr(position, comma - position));
        if (!value || !std::isfinite(*value))
            return std::nullopt;
        number = *value;
        position = comma + 1;
    }
    SolveRequest request{numbers[0], numbers[1], numbers[2], numbers[3],
                         std::string(text.substr(position))};
    // A little above pi/2: veldra's pi has 15 digits.
    if (std::fabs(request.dec) > 1.5707963268 || request.width <= 0 || request.height <= 0 ||
        request.imagePath.empty())
        return std::nullopt;
    return request;
}

std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line) {
    std::vector<std::string> positional;
    // A bad option is reported after the solver text is read, so that a run with a
    // readable solver text can still answer veldra.
    std::string optionError;
    std::optional<double> degrees[4];
    bool anyDegrees = false;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // After "--" every argument is the solver text's: an image may be "--help.fit".
        if (optionsEnded || arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            line.help = true;
            continue;
        }
        if (const int index = DegreeOptionIndex(arg); index >= 0) {
            anyDegrees = true;
            const auto value = i + 1 < args.size() ? ParseNumber(args[i + 1]) : std::nullopt;
            if (i + 1 < args.size())
                ++i;
            if (!value || !std::isfinite(*value)) {
                optionError =
                    optionError.empty() ? arg + " needs a number of degrees" : optionError;
                continue;
            }
            degrees[index] = *value;
            continue;
        }
        const std::string key = SettingKeyOfOption(arg);
        if (key.empty() && arg != "--config") {
            optionError = optionError.empty() ? "unknown option " + arg : optionError;
            continue;
        }
        if (i + 1 >= args.size()) {
            optionError = optionError.empty() ? "missing value for " + arg : optionError;
            continue;
        }
        if (key.empty())
            line.settingsPath = args[++i];
        else
            line.settings.emplace_back(key, args[++i]);
    }
    if (positional.empty())
        return !optionError.empty() ? optionError
               : line.help          ? std::string()
                                    : "no solver command line";
    std::string text;
    if (anyDegrees) {
        std::string degreeError;
        text = DegreeSolverText(degrees, Joined(positional.begin(), positional.end()), degreeError);
        if (text.empty())
            return optionError.empty() ? degreeError : optionError;
    } else if (positional.front().find(',') != std::string::npos) {
        text = Joined(positional.begin(), positional.end());
    } else if (positional.size() >= 6) {
        for (size_t i = 0; i < 5; ++i)
            text.append(positional[i]).append(",");
        text.append(Joined(positional.begin() + 5, positional.end()));
    }
    line.request = ParseSolverText(text);
    if (!line.request && anyDegrees)
        return "--dec beyond 90 degrees, or a --width or --height not above 0";
    if (!line.request)
        return "not a solver command line (RA,DEC,WIDTH,HEIGHT,999,IMAGE): " +
               Joined(positional.begin(), positional.end());
    return optionError;
}
