#pragma once
// What veldra asks of PHD2 and what it knows of PHD2, without a socket: the client feeds
// it connection changes, received bytes and the clock, and writes, logs and forwards what
// comes out.  veldra's wishes (the shift rates and whether the shift is on) are kept and
// applied again after every (re)connection and every "StartGuiding", because a restarted
// PHD2 or a new guiding run does not keep them.
#include "veldra/guider/phd2_protocol.h"

#include <QByteArray>
#include <optional>
#include <string>
#include <vector>

// Every request is answered or failed within this time.  PHD2 answers on localhost within
// milliseconds; a busy PHD2 (a calibration step, a modal dialog) may take a second.
inline constexpr double kPhd2RequestBoundSeconds = 3.0;
// Pause between connection attempts while PHD2 is not reachable.
inline constexpr double kPhd2RetrySeconds = 2.0;
// Text PHD2 sends for the log (alerts, lines that are no message) is cut to this length,
// and the same line within this many seconds is counted instead of written again: a peer
// must not fill the disk.
inline constexpr size_t kPhd2LoggedTextChars = 300;
inline constexpr double kPhd2RepeatSeconds = 60;
// PHD2's "unknown declination" (997 radians, src/mount.h) is reported in degrees; any
// value beyond a pole means the same.
inline constexpr double kPhd2LargestDeclination = 90;
// Shown and logged while get_pixel_scale answers null: PHD2 would then read "/hr as
// pixels/hr, so no shift is sent.
inline constexpr const char* kPhd2NoPixelScale =
    "PHD2 has no pixel scale: set the guide camera's pixel size and focal length in PHD2";

enum class Phd2Link {
    Connecting,   // the first attempt is under way
    Connected,    // the connection is up
    NotReachable, // the last attempt failed or the connection dropped; retrying
};

// The mount's calibration as PHD2 describes it (get_calibration_data); read at every
// connection, start of guiding, calibration, flip and configuration change.
struct Phd2Calibration {
    bool calibrated = false;
    double xAngle = 0; // degrees: where a star moves on the guide camera for an East pulse
    double yAngle = 0; // degrees: ... for a North pulse
    double xRate = 0;  // pixels per second of pulse
    double yRate = 0;
    std::string xParity = "?"; // "+", "-" or "?" (PHD2 could not tell: no declination source)
    std::string yParity = "?";
    double declination = 0; // degrees at calibration; beyond +-90: PHD2 knew none
};
bool Phd2KnowsDeclination(const Phd2Calibration& calibration);

struct Phd2Rates {
    double ra = 0;  // arcsec/hour on the sky
    double dec = 0; // arcsec/hour
    // DEC of the newest image, degrees; NaN when no image has been measured.
    double declinationDegrees = 0;
};

struct Phd2Session {
    std::string host = "localhost";
    int port = 4400;
    double requestBoundSeconds = kPhd2RequestBoundSeconds;
    double retrySeconds = kPhd2RetrySeconds;

    Phd2Protocol protocol;
    Phd2Link link = Phd2Link::Connecting;
    std::string appState; // PHD2's "AppState" as last reported or implied by an event
    // Whether PHD2 multiplies the RA shift rate by cos(DEC) itself: only when its pointing
    // source reports a declination (src/guider.cpp UpdateLockPosShiftCameraCoords), which
    // the calibration's declination shows.  cosDecForced (PHD2_COS_DEC) overrides it.
    bool knowsDeclination = false;
    std::optional<bool> cosDecForced;
    std::string cosDecDecision; // the last decision logged, to log each change once
    // After the first non-zero shift of a calibration PHD2's camera-frame rate is read back
    // (get_lock_shift_params X/Y) to confirm the decision.
    bool cosDecChecked = false;
    std::optional<bool> cosDecObserved; // what that showed, for this calibration
    bool cosDecCheckPending = false;
    double sentRaRate = 0; // the last RA/DEC rates sent, "/h as PHD2 takes them
    double sentDecRate = 0;
    double sentDeclination = 0;
    bool applyAwaitsCalibration = false; // the next calibration answer applies the wishes
    std::optional<double> pixelScale;    // arcsec per guide-camera pixel
    bool pixelScaleNull = false;         // get_pixel_scale answered null
    std::optional<Phd2Calibration> calibration;
    // With an AO connected PHD2 dithers along the AO's axes: its calibration.
    std::optional<Phd2Calibration> aoCalibration;
    bool aoConnected = false;
    // PHD2 switched the shift off at its limit ("LockPositionShiftLimitReached") and has not
    // set a new lock position since.
    bool shiftLimitReached = false;
    // Flood protection: the last few lines logged from PHD2's text, when, and how often
    // they came again since; and whether "no answer" was logged in this outage.
    struct Repeat {
        std::string text;
        double at = 0;
        int count = 0;
    };
    std::vector<Repeat> repeats;
    bool noAnswerLogged = false;

    // veldra's wishes, applied again after a reconnection or a new start of guiding.
    std::optional<Phd2Rates> rates;
    std::optional<bool> shiftEnabled;
    std::string lastFailure; // shown in the Guider row until a request succeeds
};

struct Phd2Output {
    std::vector<QByteArray> send;     // lines to write, in order
    std::vector<std::string> log;     // activity-log messages, " : " / " :    " prefixed
    std::vector<Phd2Incoming> events; // every event received, in order
};

// The RA rate PHD2 wants: a rate of the RA coordinate when it knows the declination
// (veldra's rate is on the sky), the sky rate otherwise.  Near the pole the divisor stops
// at cos(89.9 deg) so that the rate stays finite.
double Phd2RaRate(double skyRate, double declinationDegrees, bool knowsDeclination);

Phd2Output Phd2Connected(Phd2Session& session, double now);
// The attempt failed or the connection ended; reason is the socket's error text.
Phd2Output Phd2Disconnected(Phd2Session& session, const std::string& reason);
Phd2Output Phd2Received(Phd2Session& session, QByteArrayView bytes, double now);
// Fails the requests whose bound has passed.
Phd2Output Phd2Expire(Phd2Session& session, double now);

// veldra's guider messages: new wishes, sent at once when connected.
Phd2Output Phd2SetShiftRates(Phd2Session& session, const Phd2Rates& rates, double now);
Phd2Output Phd2SetShiftEnabled(Phd2Session& session, bool enabled, double now);

// The lock shift's rate on the guide camera (pixels per second, PHD2's X/Y frame) as PHD2
// derives it from the rates veldra sent (src/guider.cpp UpdateLockPosShiftCameraCoords):
// zero while the shift is off or PHD2 lacks a calibration or pixel scale.
struct Phd2CameraRate {
    double x = 0;
    double y = 0;
};
Phd2CameraRate Phd2LockCreep(const Phd2Session& session);

// "PHD2 localhost:4400 — guiding", "— connected, not guiding", "— not reachable",
// "— connecting", with the shift limit, a missing pixel scale and the last failed request
// appended while they stand.
std::string Phd2StatusText(const Phd2Session& session);
