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

enum class Phd2Link {
    Connecting,   // the first attempt is under way
    Connected,    // the connection is up
    NotReachable, // the last attempt failed or the connection dropped; retrying
};

// The guide camera as PHD2 describes it; read once per connection.
struct Phd2Calibration {
    bool calibrated = false;
    double xAngle = 0; // degrees: direction of the RA axis on the guide camera
    double yAngle = 0; // degrees: direction of the DEC axis
    double xRate = 0;
    double yRate = 0;
    std::string xParity = "?"; // "+", "-" or "?"
    std::string yParity = "?";
    double declination = 0; // as PHD2 reports it
};

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
    // From get_current_equipment of this connection: a connected mount or aux mount tells
    // PHD2 the declination, and it then scales the RA rate by cos(DEC) itself.
    bool knowsDeclination = false;
    bool applyAwaitsEquipment = false; // the next equipment answer applies the wishes
    std::optional<double> pixelScale;  // arcsec per guide-camera pixel
    std::optional<Phd2Calibration> calibration;

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

// "PHD2 localhost:4400 — guiding", "— connected, not guiding", "— not reachable",
// "— connecting", with the last failed request appended while it stands.
std::string Phd2StatusText(const Phd2Session& session);
