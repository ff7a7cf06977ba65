#include "solve/solve_request.h"

#include "solve/solve_settings.h"
#include "veldra/settings/numbers.h"

#include <cmath>

namespace {

std::string Joined(std::vector<std::string>::const_iterator first,
                   std::vector<std::string>::const_iterator last) {
    std::string text;
    for (auto it = first; it != last; ++it)
        text += (it == first ? "" : " ") + *it;
    return text;
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
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--help") {
            line.help = true;
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
    if (positional.front().find(',') != std::string::npos) {
        text = Joined(positional.begin(), positional.end());
    } else if (positional.size() >= 6) {
        for (size_t i = 0; i < 5; ++i)
            text.append(positional[i]).append(",");
        text.append(Joined(positional.begin() + 5, positional.end()));
    }
    line.request = ParseSolverText(text);
    if (!line.request)
        return "not a solver command line (RA,DEC,WIDTH,HEIGHT,999,IMAGE): " +
               Joined(positional.begin(), positional.end());
    return optionError;
}
