#pragma once
// What veldra knows of the guider's dithers: PHD2 announces each dither in its mount's
// axes (RA, DEC) in guide-camera pixels, and its calibration tells how those axes sit on
// the sky.  Times are Unix seconds.
#include "veldra/state/kalman_filter.h"

#include <optional>
#include <vector>

// One "GuidingDithered": PHD2 moved its lock position so that the mount follows by dx
// guide-camera pixels along RA (the way an East pulse moves it) and dy along DEC (a North
// pulse), src/myframe.cpp and src/guider.cpp MoveLockPosition.
struct DitherStep {
    double time = 0;
    double dx = 0;
    double dy = 0;
};

// The guider settling after a dither: from the dither (or "SettleBegin") to "SettleDone"
// (or whatever else ends it); no end while it settles.  Also a span with PHD2's lock
// shift off at its limit.
// Settling that PHD2 never reports done counts as done this long after it began: veldra
// does not see the settle timeout PHD2 was given.
inline constexpr double kSettleBoundSeconds = 120;

struct SettleSpan {
    double begin = 0;
    std::optional<double> end;
};

// The guide camera and mount as PHD2's calibration describes them (src/scope.cpp).  An
// angle is atan2(y, x) in degrees in the guide camera's pixel frame: xAngle is where a
// star moves for an East pulse, yAngle where it moves for a North pulse.  A parity is
// +1 ("+": the pulse moves the pointing the way it is named), -1 ("-": the other way) or
// 0 ("?": PHD2 could not tell; taken as +1, as PHD2 itself does for the lock shift).
// With an AO PHD2 dithers along the AO's axes: aoXAngle, aoYAngle of its calibration.
struct GuideCamera {
    double pixelScale = 0; // arcsec per guide-camera pixel
    double xAngle = 0;     // degrees
    double yAngle = 0;     // degrees
    int xParity = 1;
    int yParity = 1;
    std::optional<double> aoXAngle;
    double aoYAngle = 0;
    bool operator==(const GuideCamera&) const = default;
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
    // Seconds PHD2's lock shift had been off at its limit by the middle of the exposure,
    // summed since the guider was chosen: a pair counts its correction only for the rest.
    double shiftOffSeconds = 0;
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
    // PHD2's lock position from its "LockPositionSet" events (pixels) and the one before
    // the newest: a dither PHD2 reflected near the frame edge is read from that move.
    std::optional<Vector2> lockPosition;
    std::optional<Vector2> lockBefore;
    double lockTime = 0; // their event times
    double lockBeforeTime = 0;
    // How fast PHD2's lock shift moves the lock position (pixels per second, camera frame):
    // between two lock positions it creeps by this much.
    Vector2 lockCreep;
    double lastEventTime = 0;         // of the newest event recorded
    std::vector<SettleSpan> shiftOff; // the lock shift off at PHD2's limit
    double foldedShiftOffSeconds = 0; // spans dropped from the front, summed
};
