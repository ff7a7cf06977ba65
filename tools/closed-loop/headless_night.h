#pragma once
// veldra's core without windows: the main window's state, a Platform that talks to the
// real session bus, and Timer1, run against veldsim as the camera and the guider.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <string>
#include <vector>

struct BusRecord {
    std::string name;
    int32_t wParam = 0;
    int32_t lParam = 0;
};

struct NightSettings {
    int frames = 10;
    double cadenceSeconds = 1.0; // wall-clock seconds between frames, at least (veldsim
                                 // --lockstep: each frame also waits for veldra's answer)
    double noiseArcsec = 0;
    std::string profile = "constant";
    double raRate = 30;
    double decRate = -15;
    bool filterPrediction = true;
    bool useAccelerationX = true; // the defaults: RA on, DEC off
    bool useAccelerationY = false;
    int tickMilliseconds = 200;     // Timer1; the settle time is 0 so one tick settles
    double declinationDegrees = 30; // of the simulated target
    // "dbus", or "phd2": veldsim plays PHD2 on a free local port and veldra's guider
    // messages go there; phd2Mount: the stand-in's mount reports its declination (else
    // ST-4 class); phd2Schedule: veldsim --phd2-at, e.g. "0:quit,3:start"; phd2Extra: more
    // veldsim options, e.g. {"--phd2-lock-x", "30"}.
    std::string guider = "dbus";
    bool phd2Mount = false;
    std::string phd2Schedule;
    std::vector<QString> phd2Extra;
    // With PHD2: the stand-in dithers up to +-ditherArcsec per axis after every
    // ditherEvery-th frame (0: never), through a guide camera at guideAngle degrees,
    // mirrored or not; ditherAware is veldra's "DITHER_AWARE".
    double ditherArcsec = 0;
    int ditherEvery = 1;
    double guideAngle = 0;
    bool guideMirrored = false;
    bool ditherRaOnly = false;
    bool ditherAware = true;
    // Empty: veldra reads the position from the frames' WCS keywords.  Otherwise veldsim
    // writes star frames (--stars) and veldra measures them with this plate solver.
    std::string solverPath;
    // Star frames (veldsim --stars --star-wcs) measured by registration against the first
    // (PLATE_SOLVE_METHOD 2), with the star-frame features of veldsim: the field turning by
    // rotationDegrees over the night, hot pixels, a satellite trail every trailEvery-th
    // frame (0: none), and the seeing (fwhmArcsec; 0: veldsim's 2.5 pixels).
    bool registration = false;
    double rotationDegrees = 0;
    int hotPixels = 0;
    int trailEvery = 0;
    double fwhmArcsec = 0;
};

struct NightResult {
    bool finished = false;                   // veldsim ran to its end
    std::string veldsimOutput;               // CSV lines and the summary
    std::vector<BusRecord> posted;           // every message veldra posted or sent, in order
    std::vector<double> processToSetShiftMs; // ProcessImage start to its set-shift
    // With PHD2: ProcessImage start to the stand-in's answer to its set_lock_shift_params.
    std::vector<double> processToPhd2AnswerMs;
    int historyCount = 0;
};

// A night in `workFolder` (program folder with "veldra.ini" and "debug.txt", and the frames
// in workFolder/frames).  veldsim is taken from `veldsimPath`.  Needs a QCoreApplication and
// a session bus; returns when veldsim has ended or after a bound of
// frames x (cadence + 60 s) + 60 s.  With PHD2 the activity log "debug.txt" in workFolder
// holds the client's lines.
NightResult RunHeadlessNight(const std::string& workFolder, const std::string& veldsimPath,
                             const NightSettings& night);

// The numbers of one CSV column of veldsim's output, frames in order.
std::vector<double> CsvColumn(const std::string& veldsimOutput, const std::string& column);
