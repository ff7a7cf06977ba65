#pragma once
// veldra-solve's own settings.  veldra starts it with the solver command line only, so
// they come from "veldra-solve.ini" beside veldra.ini (lines "KEY=value", "#" starts a
// comment), and, when run by hand, from options of the same names: INDEX_DIR is
// --index-dir.
#include <string>
#include <string_view>

enum class SolveEngine { Astrometry, Astap };

struct SolveSettings {
    SolveEngine engine = SolveEngine::Astrometry;   // ENGINE: astrometry | astap
    std::string indexDir = "/usr/share/astrometry"; // INDEX_DIR: astrometry.net index files
    double searchRadius = 3;                        // SEARCH_RADIUS: field widths around the hint
    double timeLimit = 25;                          // TIME_LIMIT: seconds, wall clock
    std::string logDir;                             // LOG_DIR: empty = beside the image
    int downsample = 0;                             // DOWNSAMPLE: 0 = by image size
    double scaleMargin = 15;                        // SCALE_MARGIN: percent around the scale
    std::string solveField = "solve-field";         // SOLVE_FIELD: program (PATH lookup)
    std::string astapCli = "astap_cli";             // ASTAP_CLI: program (PATH lookup)
    std::string astapDatabase;                      // ASTAP_DATABASE: empty = ASTAP's own
};

// The file's name; it lives beside veldra.ini.
inline constexpr const char* kSettingsFileName = "veldra-solve.ini";

// Applies one setting; returns an error text (unknown key, value out of range), empty on
// success.  Keys as in the file, upper case.
std::string ApplySetting(SolveSettings& settings, std::string_view key, std::string_view value);
// The key of an option ("--index-dir" -> "INDEX_DIR"); empty when it names no setting.
std::string SettingKeyOfOption(std::string_view option);
// Applies every line of the file; a missing file changes nothing.  Returns an error text
// naming the file and line of the first bad one, empty on success.
std::string ReadSettingsFile(const std::string& path, SolveSettings& settings);
// Where the file is looked for: beside the program (where veldra keeps veldra.ini) when
// it is there, otherwise in $XDG_CONFIG_HOME/veldra (or ~/.config/veldra).
std::string DefaultSettingsPath(const std::string& programFolder);
// The options' part of --help.
std::string SettingsHelp();
