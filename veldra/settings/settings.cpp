#include "veldra/settings/settings.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/entry_rules.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <variant>

namespace {

using FieldRef = std::variant<int16_t Settings::*, bool Settings::*, double Settings::*,
                              std::string Settings::*>;

// True when the control that sets the field would take the value.
using ValueRule = bool (*)(std::string_view value);

struct Field {
    const char* key;
    FieldRef member;
    ValueRule allowed = nullptr; // nullptr: every value of the field's type
};

// A choice control's item index: a whole number 0..count-1.
template <int count> bool ItemIndex(std::string_view value) {
    const auto number = ParseLocaleNumber(value);
    return number && *number == RoundHalfEven(*number) && *number >= 0 && *number < count;
}

// The order of this table is the order of the lines in the file.
const Field kFields[] = {
    {"PLATE_SOLVE_METHOD", &Settings::PLATE_SOLVE_METHOD, ItemIndex<kPlateSolveMethodCount>},
    {"OVERRIDE_IMAGE_SCALE", &Settings::OVERRIDE_IMAGE_SCALE},
    {"IMAGE_SCALE", &Settings::IMAGE_SCALE,
     [](std::string_view v) { return AcceptImageScaleText(std::string(v)).has_value(); }},
    {"PWI_EXE_PATH", &Settings::PWI_EXE_PATH},
    {"PWI_MAX_SOLVE_TIME", &Settings::PWI_MAX_SOLVE_TIME,
     [](std::string_view v) { return AcceptMaxSolveTimeText(std::string(v)).has_value(); }},
    {"MONITOR_PATH", &Settings::MONITOR_PATH},
    {"MONITOR_FILTER", &Settings::MONITOR_FILTER},
    {"DEBOUNCE_TIME", &Settings::DEBOUNCE_TIME,
     [](std::string_view v) { return AcceptDebounceTimeText(std::string(v)).has_value(); }},
    {"MONITOR_START_STATE", &Settings::MONITOR_START_STATE, ItemIndex<kStartStateCount>},
    {"FILTER_PREDICTION_X", &Settings::FILTER_PREDICTION_X},
    {"FILTER_PREDICTION_Y", &Settings::FILTER_PREDICTION_Y},
    {"USE_ACCELERATION_X", &Settings::USE_ACCELERATION_X},
    {"USE_ACCELERATION_Y", &Settings::USE_ACCELERATION_Y},
    {"DISABLE_CORRECTIONS", &Settings::DISABLE_CORRECTIONS},
    {"OVERRIDE_TIMESTAMP", &Settings::OVERRIDE_TIMESTAMP},
    {"OVERRIDE_EXPOSURE", &Settings::OVERRIDE_EXPOSURE},
    {"EXPOSURE", &Settings::EXPOSURE,
     [](std::string_view v) { return AcceptExposureText(std::string(v)).has_value(); }},
    {"OVERRIDE_POSITION", &Settings::OVERRIDE_POSITION, ItemIndex<kPositionSourceCount>},
    {"RA_POS", &Settings::RA_POS, [](std::string_view v) { return RaPosFields(v).has_value(); }},
    {"DEC_POS", &Settings::DEC_POS, [](std::string_view v) { return DecPosFields(v).has_value(); }},
    {"ASCOM_DRIVER_NAME", &Settings::ASCOM_DRIVER_NAME},
    {"RUN_COMMAND", &Settings::RUN_COMMAND},
    {"COMMAND", &Settings::COMMAND},
    {"FLIP_RA", &Settings::FLIP_RA},
    {"SIM", &Settings::SIM},
    {"NIGHT_MODE", &Settings::NIGHT_MODE},
    {"GUIDER", &Settings::GUIDER},
    {"DITHER_AWARE", &Settings::DITHER_AWARE},
    {"PHD2_COS_DEC", &Settings::PHD2_COS_DEC,
     [](std::string_view v) { return v == "auto" || v == "yes" || v == "no"; }},
};

std::string ValueText(const Settings& settings, const FieldRef& member) {
    struct {
        const Settings& s;
        std::string operator()(int16_t Settings::*m) const { return std::to_string(s.*m); }
        std::string operator()(bool Settings::*m) const { return s.*m ? "True" : "False"; }
        std::string operator()(double Settings::*m) const { return DefaultText(s.*m); }
        std::string operator()(std::string Settings::*m) const { return s.*m; }
    } text{settings};
    return std::visit(text, member);
}

std::optional<bool> ParseBool(std::string_view value) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "true")
        return true;
    if (lower == "false")
        return false;
    if (const auto number = ParseLocaleNumber(value))
        return *number != 0;
    return std::nullopt;
}

std::string SettingsPath(const std::string& programFolder) {
    return JoinPath(programFolder, "veldra.ini");
}

// Far beyond any settings file veldra writes; more is not a settings file.
constexpr size_t kMostSettingsBytes = 1 << 20;

// Applies every "KEY,value" line of text (CR LF or LF ends); lines without a comma are
// skipped.  Returns how many lines named a known key.
int ApplySettingsText(Settings& settings, const std::string& text) {
    int known = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line = std::string_view(text).substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const size_t comma = line.find(',');
        if (comma == std::string_view::npos)
            continue; // no key/value pair: skipped, the field keeps its value
        const std::string_view key = line.substr(0, comma);
        known += std::any_of(std::begin(kFields), std::end(kFields),
                             [&](const Field& f) { return key == f.key; });
        ApplySetting(settings, key, line.substr(comma + 1));
    }
    return known;
}

// A file that is not settings at all (binary data, another program's file) is moved
// aside before anything can write the defaults over it.
void KeepAsBad(const std::string& programFolder, const std::string& path, const std::string& why) {
    const std::string bad = path + ".bad";
    if (std::rename(path.c_str(), bad.c_str()) == 0)
        LogEvent(programFolder, " : veldra.ini could not be read as settings (" + why +
                                    "); kept as " + bad + ", defaults in force");
    else
        LogEvent(programFolder, " : veldra.ini could not be read as settings (" + why +
                                    ") nor kept as " + bad + ": " + std::strerror(errno));
}

} // namespace

std::string DefaultSolverPath() {
    return JoinPath(ProgramFolder(), "veldra-solve");
}

void SetPwiExePath(Settings& settings, const std::string& path) {
    settings.PWI_EXE_PATH = path;
    settings.solverExeName = FileNameOf(path);
}

std::string SettingsFileText(const Settings& settings) {
    std::string text;
    for (const Field& field : kFields) {
        text += field.key;
        text += ',';
        text += ValueText(settings, field.member);
        text += "\r\n";
    }
    return text;
}

void ApplySetting(Settings& settings, std::string_view key, std::string_view value) {
    const auto* field = std::find_if(std::begin(kFields), std::end(kFields),
                                     [&](const Field& f) { return key == f.key; });
    // A value no control allows is a bad line like any other: skipped.
    if (field == std::end(kFields) || (field->allowed != nullptr && !field->allowed(value)))
        return;
    struct {
        Settings& s;
        std::string_view v;
        void operator()(int16_t Settings::*m) const {
            if (const auto number = ParseLocaleNumber(v))
                if (const auto whole = RoundToInt16(*number))
                    s.*m = *whole;
        }
        void operator()(bool Settings::*m) const {
            if (const auto flag = ParseBool(v))
                s.*m = *flag;
        }
        void operator()(double Settings::*m) const {
            if (const auto number = ParseLocaleNumber(v))
                s.*m = *number;
        }
        void operator()(std::string Settings::*m) const { s.*m = std::string(v); }
    } apply{settings, value};
    std::visit(apply, field->member);
    if (key == "PWI_EXE_PATH")
        SetPwiExePath(settings, settings.PWI_EXE_PATH);
}

void LoadSettings(Settings& settings, const std::string& programFolder,
                  const std::function<void()>& resetCharts) {
    settings = Settings{};
    if (resetCharts)
        resetCharts();
    const std::string path = SettingsPath(programFolder);
    std::string reason;
    if (const std::string kind = NotARegularFile(path); !kind.empty()) {
        LogEvent(programFolder, " : unable to read the settings file " + path + ": " + kind);
        ReportWriteFailure("Could not read the settings from " + path + ": " + kind);
    } else if (FileExists(path)) {
        const auto text = ReadRegularFile(path, kMostSettingsBytes, reason);
        if (!text && NotARegularFile(path).empty() && reason.rfind("it is larger", 0) == 0) {
            KeepAsBad(programFolder, path, reason);
        } else if (!text) {
            LogEvent(programFolder, " : unable to read the settings file " + path + ": " + reason);
            ReportWriteFailure("Could not read the settings from " + path + ": " + reason);
        } else if (text->find('\0') != std::string::npos) {
            KeepAsBad(programFolder, path, "it holds binary data");
        } else if (ApplySettingsText(settings, *text) == 0 && !text->empty()) {
            KeepAsBad(programFolder, path, "no line of it holds a setting");
        }
    }
    settings.FLIP_RA = false;
}

bool SaveSettings(const Settings& settings, const std::string& programFolder) {
    const std::string path = SettingsPath(programFolder);
    // A FIFO, device or folder in its place is the user's, never replaced by a file.
    const std::string kind = NotARegularFile(path);
    if (kind.empty() && WriteFileAtomically(path, SettingsFileText(settings)))
        return true;
    LogEvent(programFolder,
             " : unable to save the settings file " + path + (kind.empty() ? "" : ": " + kind));
    ReportWriteFailure("Could not save the settings to " + path +
                       (kind.empty() ? "" : ": " + kind));
    return false;
}
