#pragma once
// What veldra knows of the guider's dithers: PHD2 announces each move of its lock position
// in guide-camera pixels, and its calibration tells how the guide camera sits on the sky.
// Times are Unix seconds.
#include "veldra/state/kalman_filter.h"

#include <optional>
#include <vector>

// One "GuidingDithered": the lock position moved by dx, dy guide-camera pixels.
struct DitherStep {
    double time = 0;
    double dx = 0;
    double dy = 0;
};

// The guider settling after a dither: from the dither (or "SettleBegin") to "SettleDone";
// no end while it settles.
struct SettleSpan {
    double begin = 0;
    std::optional<double> end;
};

// The guide camera as PHD2's calibration describes it.  An angle is atan2(y, x) in the
// guide camera's pixel frame: xAngle is where a star moves when the mount is pulsed West,
// yAngle where it moves when pulsed North; a parity of -1 reverses that axis.
struct GuideCamera {
    double pixelScale = 0; // arcsec per guide-camera pixel
    double xAngle = 0;     // degrees
    double yAngle = 0;     // degrees
    int xParity = 1;
    int yParity = 1;
};

// Running least-squares sums for the map M from pixel offsets p to sky offsets s (arcsec:
// RA on the sky east positive, DEC north positive).  s is the image's jump across the
// dither net of the corrections applied, so s = M p - d h, where h is the interval in
// hours and d the drift ("/h), a term of the fit: each row of s regresses on
// x = (p0, p1, h).  Older dithers weigh less, so that d follows the flexure.
struct DitherFitSums {
    double xx[3][3]{}; // weighted sum of x x^T
    double sx[2][3]{}; // weighted sum of s_i x^T
    double ss[2]{};    // weighted sum of s_i^2
    double weight = 0; // sum of the weights
    int count = 0;
};

// The measured map and what the log has said of it.
struct DitherFit {
    DitherFitSums sums;
    bool inUse = false; // the measured map has replaced the calibration's (logged once)
    Matrix2 map;        // while in use: the newest map the dithers determined well
};

// The dither offset in force during one exposure.
struct DitherInForce {
    double dx = 0; // guide-camera pixels, every dither since the guider connected
    double dy = 0;
    // A dither or its settling overlapped the exposure: the offset is weighted by the time
    // each position held, and the image gives no drift rate.
    bool disturbed = false;
    // How often the guider had (re)connected by the end of the exposure.  Dithers while it
    // was away went unannounced, so two images with different counts are no pair.
    int connections = 0;
};

struct DitherTrack {
    bool announced = false; // the guider announces its dithers (PHD2)
    std::vector<DitherStep> steps;
    std::vector<SettleSpan> settles;
    double foldedDx = 0; // the steps dropped from the front of steps, summed
    double foldedDy = 0;
    bool connected = false;          // the guider's link is up
    std::vector<double> connections; // when it came up, each time
    int foldedConnections = 0;       // connections dropped from the front, counted
    std::optional<GuideCamera> camera;
    DitherFit fit;
};
