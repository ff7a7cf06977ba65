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

// Running least-squares sums for the map M from pixel offsets p to sky offsets s = M p
// (arcsec: RA on the sky east positive, DEC north positive).
struct DitherFitSums {
    Matrix2 pp; // sum of p p^T
    Matrix2 sp; // sum of s p^T
    Matrix2 ss; // sum of s s^T
    int count = 0;
};

// The measured map and what the log has said of it.
struct DitherFit {
    DitherFitSums sums;
    bool inUse = false; // the measured map has replaced the calibration's (logged once)
    bool disagreementLogged = false;
};

// The dither offset in force during one exposure.
struct DitherInForce {
    double dx = 0; // guide-camera pixels, every dither since the guider connected
    double dy = 0;
    // A dither or its settling overlapped the exposure: the offset is weighted by the time
    // each position held, and the image gives no drift rate.
    bool disturbed = false;
};

struct DitherTrack {
    bool announced = false; // the guider announces its dithers (PHD2)
    std::vector<DitherStep> steps;
    std::vector<SettleSpan> settles;
    double foldedDx = 0; // the steps dropped from the front of steps, summed
    double foldedDy = 0;
    std::optional<GuideCamera> camera;
    DitherFit fit;
};
