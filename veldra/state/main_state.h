#pragma once
// The program state that the main window owns: the settings and the records of the
// monitor, the drift history, the guider's dithers and the registration.  Core
// operations take the records they use (or, using most of them, the whole) together with
// a Platform record; nothing here depends on widgets or FITS files.
#include "veldra/settings/settings.h"
#include "veldra/state/dither_track.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/monitor_record.h"
#include "veldra/state/registration_reference.h"

#include <string>

struct MainState {
    std::string programFolder; // where "veldra.ini" and "debug.txt" live
    Settings settings;
    bool pipelineBusy = false; // true while ProcessImage runs

    MonitorRecord monitor;
    DriftHistory drift;
    DitherTrack dithers;             // filled by the guider backend while PHD2 guides
    RegistrationMemory registration; // the registration method's reference image
};
