#include "solve/solve_settings.h"

#include "common/file_utils.h"
#include "common/numbers.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>

namespace {

using Apply = std::function<std::string(SolveSettings&, std::string_view)>;

struct SettingRow {
    const char* key;
    const char* option;
    const char* help;
    Apply apply;
};

Apply Number(double SolveSettings::*field, double low, double high) {
    return [=](SolveSettings& settings, std::string_view value) -> std::string {
        const auto number = ParseNumber(value);
        if (!number || !std::isfinite(*number) || *number < low || *number > high)
            return "not a number from " + PlainNumberText(low) + " to " + PlainNumberText(high);
        settings.*field = *number;
        return {};
    };
}

Apply Text(std::string SolveSettings::*field) {
    return [=](SolveSettings& settings, std::string_view value) -> std::string {
        settings.*field = std::string(value);
        return {};
    };
}

const std::vector<SettingRow>& Rows() {
    static const std::vector<SettingRow> rows = {
        {"ENGINE", "--engine", "astrometry (solve-field, the default) or astap (astap_cli)",
         [](SolveSettings& settings, std::string_view value) -> std::string {
             if (value == "astrometry")
                 settings.engine = SolveEngine::Astrometry;
             else if (value == "astap")
                 settings.engine = SolveEngine::Astap;
             else
                 return "not astrometry or astap";
             return {};
         }},
        {"INDEX_DIR", "--index-dir", "folder of astrometry.net index files (/usr/share/astrometry)",
         Text(&SolveSettings::indexDir)},
        {"SEARCH_RADIUS", "--search-radius",
         "search around the start position, in field widths (3)",
         Number(&SolveSettings::searchRadius, 0.1, 1000)},
        {"TIME_LIMIT", "--time-limit",
         "seconds before the solver is ended and the solve counts as failed (25)",
         Number(&SolveSettings::timeLimit, 1, 3600)},
        {"LOG_DIR", "--log-dir", "folder of veldra-solve.log (empty: the image's folder)",
         Text(&SolveSettings::logDir)},
        {"DOWNSAMPLE", "--downsample",
         "shrink the image by this factor before finding stars (0: by image size)",
         [](SolveSettings& settings, std::string_view value) -> std::string {
             const auto number = ParseNumber(value);
             if (!number || *number < 0 || *number > 16 || *number != std::floor(*number))
                 return "not a whole number from 0 to 16";
             settings.downsample = static_cast<int>(*number);
             return {};
         }},
        {"SCALE_MARGIN", "--scale-margin",
         "percent the image scale may differ from the one veldra gives (15)",
         Number(&SolveSettings::scaleMargin, 1, 90)},
        {"SOLVE_FIELD", "--solve-field", "the solve-field program (solve-field)",
         Text(&SolveSettings::solveField)},
        {"ASTAP_CLI", "--astap-cli", "the astap_cli program (astap_cli)",
         Text(&SolveSettings::astapCli)},
        {"ASTAP_DATABASE", "--astap-database",
         "folder of ASTAP's star database (empty: ASTAP's own default)",
         Text(&SolveSettings::astapDatabase)},
    };
    return rows;
}

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

std::string ApplySetting(SolveSettings& settings, std::string_view key, std::string_view value) {
    for (const SettingRow& row : Rows())
        if (key == row.key) {
            const std::string error = row.apply(settings, value);
            return error.empty() ? error
                                 : std::string(key) + "=" + std::string(value) + ": " + error;
        }
    return "unknown setting " + std::string(key);
}

std::string SettingKeyOfOption(std::string_view option) {
    for (const SettingRow& row : Rows())
        if (option == row.option)
            return row.key;
    return {};
}

std::string ReadSettingsFile(const std::string& path, SolveSettings& settings) {
    std::ifstream in(path);
    if (!in)
        return {};
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string_view text = Trimmed(std::string_view(line).substr(0, line.find('#')));
        if (text.empty())
            continue;
        const size_t equals = text.find('=');
        const std::string error = equals == std::string_view::npos
                                      ? "not KEY=value"
                                      : ApplySetting(settings, Trimmed(text.substr(0, equals)),
                                                     Trimmed(text.substr(equals + 1)));
        if (!error.empty())
            return path + " line " + std::to_string(number) + ": " + error;
    }
    return {};
}

std::string DefaultSettingsPath(const std::string& programFolder) {
    const std::string beside = JoinPath(programFolder, kSettingsFileName);
    if (FileExists(beside))
        return beside;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string folder = config != nullptr && config[0] == '/'
                                   ? std::string(config)
                                   : std::string(home != nullptr ? home : "") + "/.config";
    return JoinPath(JoinPath(folder, "veldra"), kSettingsFileName);
}

std::string SettingsHelp() {
    std::string text;
    for (const SettingRow& row : Rows()) {
        std::string option = std::string("  ") + row.option + " VALUE";
        option.resize(std::max<size_t>(option.size() + 1, 26), ' ');
        text += option + row.help + "  [" + row.key + "]\n";
    }
    return text;
}
