#pragma once
// The part of PHD2's event server that veldsim plays, without a socket: the answers to
// the requests veldra makes and the shift they leave in force.  As PHD2 does in RA/Dec
// axes, the RA rate is a rate of the RA coordinate when a mount is connected (PHD2 knows
// the declination and multiplies by its cosine) and a rate on the sky otherwise.
#include <QByteArray>
#include <QJsonObject>
#include <optional>
#include <string>

struct Phd2Standin {
    bool mountConnected = false;   // get_current_equipment reports a connected mount
    double declinationDegrees = 0; // of the mount, for the cosine above
    double pixelScale = 1.5;       // arcsec per guide-camera pixel
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
// An event line: {"Event":name, fields..., "Timestamp", "Host", "Inst"} and CR LF.
QByteArray Phd2StandinEvent(const char* name, QJsonObject fields = {});
