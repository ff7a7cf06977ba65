#pragma once
// The part of PHD2's event server that veldsim plays, without a socket: the answers to
// the requests veldra makes, the lock position with its shift, dithers and the events
// they send.  Each behaviour follows PHD2's own source (2.6.13, ../shared/phd2/src); the
// file is named where it is played.
#include <QByteArray>
#include <QJsonObject>
#include <optional>
#include <random>
#include <string>
#include <vector>

// The guide camera as PHD2's calibration measures it (src/scope.cpp
// Scope::UpdateCalibrationState): xAngle is the direction (atan2(y, x), degrees, camera
// frame) a star moves for an East pulse, yAngle for a North pulse; yAngle = xAngle + 90,
// or xAngle - 90 when the camera is mirrored.
struct GuideCamera {
    double xAngleDegrees = 0;
    bool mirrored = false;
    double scale = 1.5; // arcsec per guide-camera pixel
};
double GuideXAngle(const GuideCamera& camera); // normalised to (-180, 180]
double GuideYAngle(const GuideCamera& camera);
struct CameraPoint {
    double x = 0;
    double y = 0;
};
// A move in mount axes (pixels the way an East pulse and a North pulse move a star) in
// the camera frame (src/mount.cpp TransformMountCoordinatesToCameraCoordinates).
CameraPoint CameraFromMount(const GuideCamera& camera, double ra, double dec);

struct SkyOffset {
    double ra = 0; // arcsec on the sky, east positive
    double dec = 0;
};

// The mount behind PHD2.  One that reports its declination (an INDI or ASCOM mount, or an
// aux mount) lets PHD2 measure the parities and multiply the RA shift by cos(DEC)
// (src/guider.cpp UpdateLockPosShiftCameraCoords); an ST-4 class mount (On-camera) does
// neither: its parities read "?" and its calibration's declination is PHD2's unknown.
struct StandinMount {
    bool reportsDeclination = false;
    double declinationDegrees = 0;
    int raSign = 1;  // +1: an East pulse raises the pointing's RA; -1: lowers it
    int decSign = 1; // +1: a North pulse raises its DEC
};

struct Phd2Standin {
    StandinMount mount;
    GuideCamera camera;
    bool pixelScaleKnown = true; // false: get_pixel_scale answers null
    bool guiding = true;
    bool silent = false; // requests go unanswered
    bool shiftEnabled = false;
    bool rateSet = false;
    double rate[2]{}; // as set: RA, DEC arcsec/hour in PHD2's RA/Dec axes
    // The guide frame and the lock position in it; the lock may lie no nearer to an edge
    // than the search region (src/guider_multistar.cpp IsValidLockPosition).
    double frameWidth = 640;
    double frameHeight = 480;
    double searchRegion = 15;
    double lockX = 320;
    double lockY = 240;
    double shiftHours = 0;       // the simulated time up to which the lock has been shifted
    double startUnixSeconds = 0; // the simulated clock's hour 0, for event time stamps
};

// "+", "-" or "?" as get_calibration_data reports them.
std::string StandinParity(const Phd2Standin& standin, bool ra);

// The lock shift in the camera frame, pixels/hour, as PHD2 derives it from the RA/Dec
// rate: the parities' signs when PHD2 knows them, cos(DEC) when the mount reports a
// declination, the calibration's turn, the pixel scale (src/guider.cpp).  Zero without a
// pixel scale conversion or a rate.
CameraPoint StandinCameraRate(const Phd2Standin& standin);

// Moves the lock by the shift up to `hours`.  When the lock leaves the allowed area PHD2
// switches the shift off and sends "LockPositionShiftLimitReached" and an "Alert"
// (src/guider.cpp UpdateGuideState); those event lines are returned.
std::vector<QByteArray> Phd2StandinAdvance(Phd2Standin& standin, double hours);

// The answer object to one request at simulated time `hours`; empty while silent.  Lock
// shift requests change the stand-in; unknown methods and malformed params get an
// "error" answer.
std::optional<QJsonObject> Phd2StandinAnswer(Phd2Standin& standin, const QJsonObject& request,
                                             double hours = 0);
struct Phd2SkyRates {
    double ra = 0; // arcsec/hour on the sky
    double dec = 0;
};
// The rates the shift moves the pointing by now: the mount follows the lock position, so
// the camera rate taken back through the true mount.  Zero while the shift is off or PHD2
// is not guiding.
Phd2SkyRates Phd2StandinSkyRates(const Phd2Standin& standin);

// Dithering as PHD2 does it (src/myframe.cpp MyFrame::Dither, random mode): each dither
// draws dRa and dDec uniformly within +-arcsec / scale pixels (dDec 0 when RA-only) from
// its own generator, so the measurement noise is the same with and without dithering.
struct DitherWalk {
    double arcsec = 0; // 0: no dithering
    bool raOnly = false;
    std::mt19937 random;
    SkyOffset total; // the sum of every dither's true sky offset so far
};
struct Dither {
    double dx = 0; // announced: the requested move in mount axes, pixels
    double dy = 0;
    double movedRa = 0; // carried out: after a reflection at the frame edge
    double movedDec = 0;
};
// The sky offset of a move of the pointing by (ra, dec) mount-axis pixels.
SkyOffset MountSkyOffset(const Phd2Standin& standin, double ra, double dec);
// Draws the next dither, moves the lock (reflected in RA, DEC or both when the plain move
// would leave the allowed area, src/guider.cpp MoveLockPosition) and adds its sky offset
// to walk.total.
Dither NextDither(DitherWalk& walk, Phd2Standin& standin);

// What a scheduled command does to the stand-in (veldsim --phd2-at FRAME:COMMAND):
//   quit           PHD2 ends: connections close, nothing listens, the shift is forgotten
//   start          PHD2 runs again and guides (the shift stays off until set again)
//   stop-guiding   "GuidingStopped"
//   start-guiding  "LockPositionSet", "StartGuiding"; the new lock position starts
//                  without a shift
//   new-star       "StarSelected", "LockPositionSet": a new lock position in the middle
//   flip           PHD2 flips its calibration for the other pier side (src/mount.cpp
//                  Mount::FlipCalibration: xAngle + 180, DEC parity reversed) and sends
//                  "CalibrationDataFlipped"; the mount is flipped with it
//   silent/answer  requests go unanswered / are answered again
//   garbage        a line that is not JSON goes to every client
bool IsPhd2StandinCommand(const std::string& command);
// An event line: {"Event":name, fields..., "Timestamp", "Host", "Inst"} and CR LF.  The
// Timestamp (Unix seconds) is the wall clock's unless given.
QByteArray Phd2StandinEvent(const char* name, QJsonObject fields = {},
                            std::optional<double> timestamp = std::nullopt);
// The events a new client gets first (src/event_server.cpp send_catchup_events), stamped
// with timestamp (Unix seconds) when given.
std::vector<QByteArray> Phd2StandinCatchUpEvents(const Phd2Standin& standin,
                                                 std::optional<double> timestamp = std::nullopt);
// The events of one dither on the simulated clock (Unix seconds): "LockPositionSet" (the
// new lock) and "GuidingDithered" (the requested dx, dy) and "SettleBegin" at ditheredAt,
// "SettleDone" at settledAt.
std::vector<QByteArray> Phd2StandinDitherEvents(const Phd2Standin& standin, const Dither& dither,
                                                double ditheredAt, double settledAt);
