#pragma once
// veldsim's command line.
#include "tools/veldsim/flexure_profile.h"

#include <string>
#include <utility>
#include <vector>

struct SimOptions {
    std::string folder; // where frames are written (required)
    int frames = 40;
    double exposure = 300; // simulated seconds per frame
    double gap = 10;       // simulated seconds between exposures
    double cadence = 6;    // wall-clock seconds between frames
    double firstDelay = 2; // wall-clock seconds before the first frame
    double tail = 12;      // wall-clock seconds to listen after the last frame
    double noise = 0.3;    // measurement noise, arcsec (1 sigma, per axis)
    unsigned seed = 1;
    double targetRaHours = 1.0;
    double targetDecDegrees = 30.0;
    double focalLength = 1000;                 // mm
    double pixelSize = 9;                      // micrometres
    std::string start = "2026-12-08T21:00:00"; // DATE-OBS of the first frame
    bool simulatorMode = false; // follow "VELDSIM_SetShift" instead of the guider messages
    bool lockstep = false;      // frames follow the answers, not the clock (frame_pacing.h)
    std::string csvPath;        // empty: standard output
    bool stars = false;         // star fields a solver can measure, instead of blank frames
    int width = 1024;           // star frames, pixels
    int height = 768;
    std::string indexPath; // write the astrometry.net index of the star catalogue here
    // Star frames as a night shows them: seeing, sky, hot pixels, satellites, field
    // rotation; and, with starWcs, the TAN map of the true pointing in every header.
    double fwhmArcsec = 0; // 0: 2.5 pixels
    double sky = 800;      // background, ADU
    int hotPixels = 0;
    int trailEvery = 0;         // a satellite trail in frames N, 2N, ... (0: none)
    double rotationDegrees = 0; // the field turns by this from the first frame to the last
    bool starWcs = false;
    // The guider veldsim plays: "dbus" (the bus messages) or "phd2" (PHD2's event server
    // on 127.0.0.1:port, with a mount connected when phd2Mount).
    std::string guider = "dbus";
    int port = 4400;
    bool phd2Mount = false;       // a mount that reports its declination (else ST-4 class)
    bool phd2DecReversed = false; // a North pulse lowers DEC (PHD2's DEC parity "-")
    bool phd2NoScale = false;     // get_pixel_scale answers null
    bool ditherRaOnly = false;    // PHD2 dithers in RA only
    double phd2LockX = 320;       // the lock position in the 640 x 480 guide frame
    double phd2LockY = 240;
    std::vector<std::pair<int, std::string>> phd2Schedule; // after frame N (0: at start)
    // PHD2 dithers after frames N, 2N, ... (N = ditherEvery): a random walk of the lock
    // position of up to +-ditherArcsec per axis, through the guide camera's geometry.
    double ditherArcsec = 0; // 0: no dithering
    int ditherEvery = 1;
    double guideAngle = 0; // xAngle of the guide camera (an East pulse's direction), degrees
    bool guideMirrored = false;
    double guideScale = 1.5; // arcsec per guide-camera pixel
    FlexureProfile profile;
};

// Parses args (without the program name).  Returns an error text, or empty on success;
// help is set for --help.
std::string ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, bool& help);
std::string UsageText();
