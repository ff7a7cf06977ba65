#pragma once
// The guider backend of this run.  veldra's guider messages ("MG_RemoteSetShift",
// "MG_RemoteShift", "MG_RemoteUnShift", "MG_RemoteCentroidType") go either to the D-Bus
// broadcast (the default) or, as requests, to PHD2's event server.  The simulator copy
// and the incoming bias message stay on D-Bus in both cases.
#include "veldra/guider/guider_choice.h"
#include "veldra/guider/phd2_client.h"
#include "veldra/settings/settings.h"
#include "veldra/state/dither_track.h"
#include "veldra/state/drift_history.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct GuiderBackend {
    GuiderChoice choice;
    std::unique_ptr<Phd2Client> phd2; // while PHD2 is chosen
    std::string programFolder;        // whose log receives the PHD2 lines
    // Filled by the owner before ChooseGuider: status changes, events and answers of the
    // PHD2 client (its log lines go to the activity log).
    Phd2ClientCallbacks callbacks;
    // Where PHD2's dithers and guide-camera geometry are recorded (MainState::dithers);
    // set by the owner before ChooseGuider, or null.
    DitherTrack* dithers = nullptr;
    // PHD2_COS_DEC of the settings: "yes"/"no" force the cos(DEC) case, "auto" asks PHD2.
    std::string cosDec = "auto";
};

// The guider of this run: the command line's when given, else GUIDER of the settings.
// An unreadable GUIDER value means the D-Bus broadcast (and is logged).
GuiderChoice ConfiguredGuider(const Settings& settings,
                              const std::optional<GuiderChoice>& commandLine,
                              const std::string& programFolder);

// Switches the backend: with PHD2 a new client starts connecting in the background (the
// previous one, if any, is closed first); returns at once.  Logged.  With PHD2 the
// backend's dither track records its dithers and its calibration from then on.
void ChooseGuider(GuiderBackend& backend, const GuiderChoice& choice);

// Carries one posted guider message.  D-Bus: broadcast as it is.  PHD2:
// "MG_RemoteSetShift" -> set_lock_shift_params with the rates wParam - 10000 and
// lParam - 10000 "/h (the RA rate divided by cos(DEC of the newest image) when PHD2 knows
// the declination), "MG_RemoteShift"/"MG_RemoteUnShift" -> set_lock_shift_enabled
// [true]/[false], "MG_RemoteCentroidType" -> logged as skipped (in the backend's log).
void PostGuiderMessage(GuiderBackend& backend, const DriftHistory& drift, const std::string& name,
                       int32_t wParam, int32_t lParam);

// The Guider row: "D-Bus broadcast", or the PHD2 connection's state.
std::string GuiderStatusText(const GuiderBackend& backend);
