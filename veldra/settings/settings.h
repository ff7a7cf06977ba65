#pragma once
// Every user option of veldra in one record, named by its key in "veldra.ini",
// plus three runtime fields that are never stored.
#include "veldra/settings/file_places.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The solver veldra starts unless the user chose another: veldra-solve beside the program
// (a Windows solver path means nothing here; a stored one is used as it stands).
std::string DefaultSolverPath();

struct Settings {
    int16_t PLATE_SOLVE_METHOD = 0; // 0 WCS keywords in the header, 1 outside solver, 2 stars
    bool OVERRIDE_IMAGE_SCALE = false;
    double IMAGE_SCALE = 0.48; // arcseconds per pixel
    std::string PWI_EXE_PATH = DefaultSolverPath();
    int16_t PWI_MAX_SOLVE_TIME = 30;                 // seconds
    std::string MONITOR_PATH = FirstWatchedFolder(); // pictures folder, home, or "/"
    std::string MONITOR_FILTER = "*.fit";
    int16_t DEBOUNCE_TIME = 4;       // settle time, seconds
    int16_t MONITOR_START_STATE = 2; // 0 last two, 1 last one, anything else: ignore
    bool FILTER_PREDICTION_X = true;
    bool FILTER_PREDICTION_Y = true;
    bool USE_ACCELERATION_X = true;
    bool USE_ACCELERATION_Y = false;
    bool DISABLE_CORRECTIONS = false;
    bool OVERRIDE_TIMESTAMP = false;
    bool OVERRIDE_EXPOSURE = false;
    int16_t EXPOSURE = 300;        // seconds
    int16_t OVERRIDE_POSITION = 0; // 0 header, 1 RA_POS/DEC_POS, 2 telescope
    std::string RA_POS = "18 36 56";
    std::string DEC_POS = "+38 47 01";
    std::string ASCOM_DRIVER_NAME;
    bool RUN_COMMAND = false;
    std::string COMMAND;
    bool FLIP_RA = false;
    bool SIM = false;
    // Keys after the 25 above; older versions skip them.
    bool NIGHT_MODE = false; // red on black for every window (Ctrl+N, --night)
    // The guider that receives the corrections: "dbus" or "phd2:HOST:PORT"
    // (veldra/guider/guider_choice.h).
    std::string GUIDER = "dbus";
    // With PHD2 as the guider: take each image's dither offset out of its drift rate
    // (veldra/drift/dither_map.h).  Ignored with the D-Bus broadcast, which announces none.
    bool DITHER_AWARE = true;
    // With PHD2: whether PHD2 multiplies the RA shift rate by cos(DEC) -- "auto" (from
    // PHD2's calibration, confirmed by its camera-frame rate), "yes" or "no".
    std::string PHD2_COS_DEC = "auto";

    // Runtime only.
    double raBias = 0;                          // arcsec/hour, -3000..3000
    double decBias = 0;                         // arcsec/hour, -3000..3000
    std::string solverExeName = "veldra-solve"; // always FileNameOf(PWI_EXE_PATH)
};

// Assigns PWI_EXE_PATH and keeps solverExeName in step with it.
void SetPwiExePath(Settings& settings, const std::string& path);

// The file text of the stored fields, in order, CR LF line ends.
std::string SettingsFileText(const Settings& settings);
// Stores one key/value pair; unknown keys, values that do not convert and values that the
// setting's control would refuse (entry_rules.h) are skipped: the field keeps its value.
void ApplySetting(Settings& settings, std::string_view key, std::string_view value);
// Defaults, then resetCharts (may be empty), then "veldra.ini" of programFolder when it
// exists; FLIP_RA is false afterwards.  Never blocks: a FIFO, device or folder in the
// file's place is refused (logged and reported, ReportWriteFailure).  A file that cannot
// be read as settings (binary data, larger than 1 MiB, no line with a known key) is
// renamed to "veldra.ini.bad" (replacing an older one) and logged; the defaults stay.
void LoadSettings(Settings& settings, const std::string& programFolder,
                  const std::function<void()>& resetCharts = {});
// Rewrites "veldra.ini" atomically.  A failure is logged and reported
// (ReportWriteFailure) once per call and the previous file stays intact; so does a FIFO,
// device or folder in the file's place.  Returns true when saved.
bool SaveSettings(const Settings& settings, const std::string& programFolder);
