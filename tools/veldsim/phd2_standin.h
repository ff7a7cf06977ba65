#pragma once
// The part of PHD2's event server that veldsim plays, without a socket: the answers to
// the requests veldra makes and the shift they leave in force.  As PHD2 does in RA/Dec
// axes, the RA rate is a rate of the RA coordinate when a mount is connected (PHD2 knows
// the declination and multiplies by its cosine) and a rate on the sky otherwise.
#include <QByteArray>
#include <QJsonObject>
#include <optional>
#include <random>
#include <string>
#include <vector>

// The guide camera as PHD2's calibration describes it.  Conventions (veldra reads them the
// same way):
// - Offsets are in the guide camera's pixel frame as PHD2 reports it; an angle is
//   atan2(y, x) in degrees in that frame.
// - The RA axis u_x = (cos xAngle, sin xAngle) is where a star moves on the guide camera
//   when the mount is pulsed West; the DEC axis u_y = (cos yAngle, sin yAngle) is where it
//   moves when pulsed North.  yAngle = xAngle + 90, or xAngle - 90 when the camera is
//   mirrored, normalised to (-180, 180].
// - A dither moves the lock position by (dx, dy) pixels and the star follows it.  With
//   (dx, dy) = a u_x + b u_y the pointing moves West by a * scale and North by b * scale
//   arcseconds, so the image's sky offset (RA east positive, DEC north positive) changes
//   by (-a * scale, +b * scale).
struct GuideCamera {
    double xAngleDegrees = 0;
    bool mirrored = false;
    double scale = 1.5; // arcsec per guide-camera pixel
};
double GuideXAngle(const GuideCamera& camera); // normalised to (-180, 180]
double GuideYAngle(const GuideCamera& camera);

struct SkyOffset {
    double ra = 0; // arcsec on the sky, east positive
    double dec = 0;
};
// The sky offset of a lock-position move of (dx, dy) guide-camera pixels.
SkyOffset DitherSkyOffset(const GuideCamera& camera, double dx, double dy);

// Dithering as a random walk of the lock position: each dither draws dx and dy uniformly
// within +-arcsec / scale pixels from its own generator, so the measurement noise is the
// same with and without dithering.
struct DitherWalk {
    double arcsec = 0; // 0: no dithering
    std::mt19937 random;
    SkyOffset total; // the sum of every dither so far
};
struct Dither {
    double dx = 0; // guide-camera pixels
    double dy = 0;
};
// Draws the next dither and adds its sky offset to walk.total.
Dither NextDither(DitherWalk& walk, const GuideCamera& camera);

struct Phd2Standin {
    bool mountConnected = false;   // get_current_equipment reports a connected mount
    double declinationDegrees = 0; // of the mount, for the cosine above
    GuideCamera camera;            // get_pixel_scale, get_calibration_data
    bool guiding = true;
    bool silent = false; // requests go unanswered
    bool shiftEnabled = false;
    double rate[2]{}; // as set: RA (coordinate or sky, see above), DEC; arcsec/hour
};

// The answer object to one request; empty while silent.  Lock-shift requests change the
// stand-in; unknown methods and malformed params get an "error" answer.
std::optional<QJsonObject> Phd2StandinAnswer(Phd2Standin& standin, const QJsonObject& request);
struct Phd2SkyRates {
    double ra = 0; // arcsec/hour on the sky
    double dec = 0;
};
// The rates the shift moves the image by now: zero while the shift is off or PHD2 is not
// guiding.
Phd2SkyRates Phd2StandinSkyRates(const Phd2Standin& standin);

// What a scheduled command does to the stand-in (veldsim --phd2-at FRAME:COMMAND):
//   quit           PHD2 ends: connections close, nothing listens, the shift is forgotten
//   start          PHD2 runs again and guides (the shift stays off until set again)
//   stop-guiding   "GuidingStopped"
//   start-guiding  "StartGuiding"; the new lock position starts without a shift
//   silent/answer  requests go unanswered / are answered again
//   garbage        a line that is not JSON goes to every client
bool IsPhd2StandinCommand(const std::string& command);
// An event line: {"Event":name, fields..., "Timestamp", "Host", "Inst"} and CR LF.  The
// Timestamp (Unix seconds) is the wall clock's unless given.
QByteArray Phd2StandinEvent(const char* name, QJsonObject fields = {},
                            std::optional<double> timestamp = std::nullopt);
// The events of one dither on the simulated clock (Unix seconds): "GuidingDithered" and
// "SettleBegin" at ditheredAt, "SettleDone" at settledAt (one guide frame a second).
std::vector<QByteArray> Phd2StandinDitherEvents(const Dither& dither, double ditheredAt,
                                                double settledAt);
