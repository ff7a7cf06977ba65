#include "veldra/guider/phd2_session.h"

#include "common/numbers.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>

namespace {

const char* const kSetParams = "set_lock_shift_params";
const char* const kSetEnabled = "set_lock_shift_enabled";
const char* const kGetParams = "get_lock_shift_params";
const char* const kEquipment = "get_current_equipment";
const char* const kPixelScale = "get_pixel_scale";
const char* const kCalibration = "get_calibration_data";

std::string Where(const Phd2Session& session) {
    return session.host + ":" + std::to_string(session.port);
}

std::string RequestText(const std::string& method, const std::string& params) {
    return params.empty() ? method : method + " " + params;
}

std::string Cut(const std::string& text) {
    return text.size() <= kPhd2LoggedTextChars ? text
                                               : text.substr(0, kPhd2LoggedTextChars) + "...";
}

// Logs text that PHD2 chose (an alert, a line that is no message), cut short; the same
// line again within a minute is only counted, and the count goes with its next writing.
void LogPeerText(Phd2Session& session, Phd2Output& out, const std::string& text, double now) {
    const std::string line = Cut(text);
    for (Phd2Session::Repeat& repeat : session.repeats) {
        if (repeat.text != line)
            continue;
        if (now - repeat.at < kPhd2RepeatSeconds) {
            ++repeat.count;
            return;
        }
        const int count = repeat.count;
        repeat = {line, now, 0};
        out.log.push_back(line + (count > 0 ? " (and " + std::to_string(count) +
                                                  " times more in the minute before)"
                                            : ""));
        return;
    }
    // A few distinct lines are remembered; a peer varying every line is cut, not counted.
    if (session.repeats.size() >= 16)
        session.repeats.erase(session.repeats.begin());
    session.repeats.push_back({line, now, 0});
    out.log.push_back(line);
}

void Send(Phd2Session& session, Phd2Output& out, const std::string& method,
          const QJsonValue& params, double now) {
    out.send.push_back(
        Phd2Request(session.protocol, method, params, now + session.requestBoundSeconds));
}

QJsonObject ShiftParams(const Phd2Session& session, const Phd2Rates& rates) {
    const double ra = Phd2RaRate(rates.ra, rates.declinationDegrees, session.knowsDeclination);
    return QJsonObject{
        {"rate", QJsonArray{ra, rates.dec}}, {"units", "arcsec/hr"}, {"axes", "RA/Dec"}};
}

// No shift goes to a PHD2 without a pixel scale: it would read "/hr as pixels/hr.
bool MayShift(const Phd2Session& session) {
    return !session.pixelScaleNull;
}

// Remembers what PHD2 was told, to check its camera-frame rate against it.
void NoteSent(Phd2Session& session, const QJsonObject& params) {
    session.sentRaRate = params.value("rate").toArray()[0].toDouble();
    session.sentDecRate = params.value("rate").toArray()[1].toDouble();
    session.sentDeclination = session.rates ? session.rates->declinationDegrees : 0;
}

void SendRates(Phd2Session& session, Phd2Output& out, double now) {
    if (!MayShift(session))
        return;
    const QJsonObject params = ShiftParams(session, *session.rates);
    NoteSent(session, params);
    Send(session, out, kSetParams, params, now);
}

void SendEnabled(Phd2Session& session, Phd2Output& out, double now) {
    if (!MayShift(session))
        return;
    Send(session, out, kSetEnabled, QJsonArray{*session.shiftEnabled}, now);
}

// Sends veldra's wishes as they stand: the rates first, so that switching on never
// starts a stale rate.
// Not while PHD2 holds the shift off at its limit: PHD2 follows its own switch-off with a
// "ConfigurationChange" (multi-star mode restored), whose re-apply would switch the shift
// on again behind veldra's back.  A new lock position or guiding run ends the limit first.
void ApplyWishes(Phd2Session& session, Phd2Output& out, double now) {
    if (session.rates)
        SendRates(session, out, now);
    if (session.shiftEnabled && !session.shiftLimitReached)
        SendEnabled(session, out, now);
}

// Reads the calibration again; its answer applies the wishes (the RA rate depends on it).
void ApplyAfterCalibration(Phd2Session& session, Phd2Output& out, double now) {
    session.applyAwaitsCalibration = true;
    Send(session, out, kCalibration, QJsonObject{{"which", "Mount"}}, now);
    if (session.aoConnected)
        Send(session, out, kCalibration, QJsonObject{{"which", "AO"}}, now);
}

bool IsAo(const std::string& params) {
    return params.find("\"AO\"") != std::string::npos;
}

std::string DeviceText(const QJsonObject& result, const char* device) {
    const QJsonObject o = result.value(device).toObject();
    return o.value("connected").toBool() ? Cut(o.value("name").toString().toStdString()) : "none";
}

std::string CalibrationText(const Phd2Calibration& c) {
    if (!c.calibrated)
        return "not calibrated";
    return "calibrated, xAngle " + DefaultText(c.xAngle) + ", yAngle " + DefaultText(c.yAngle) +
           ", xRate " + DefaultText(c.xRate) + ", yRate " + DefaultText(c.yRate) + ", xParity " +
           c.xParity + ", yParity " + c.yParity + ", declination " + DefaultText(c.declination);
}

// Whether PHD2 multiplies the RA rate by cos(DEC), from the calibration (or the setting);
// one log line whenever the decision or its reason changes.  A new decision is confirmed
// from PHD2 after the next non-zero shift.
void DecideCosDec(Phd2Session& session, Phd2Output& out) {
    std::string why;
    if (session.cosDecForced) {
        session.knowsDeclination = *session.cosDecForced;
        why = "as PHD2_COS_DEC in veldra.ini says";
    } else if (session.cosDecObserved) {
        session.knowsDeclination = *session.cosDecObserved;
        why = "its shift rate on the camera showed it";
    } else if (!session.calibration || !session.calibration->calibrated) {
        session.knowsDeclination = false;
        why = "PHD2 is not calibrated";
    } else if (Phd2KnowsDeclination(*session.calibration)) {
        session.knowsDeclination = true;
        why = "its calibration has a declination (" +
              DefaultText(session.calibration->declination) + "), so its mount reports one";
    } else {
        session.knowsDeclination = false;
        why = "its calibration has no declination (an ST-4 class mount without pointing "
              "information)";
    }
    const std::string text = std::string(" : PHD2 ") +
                             (session.knowsDeclination ? "multiplies" : "does not multiply") +
                             " the RA shift rate by cos(DEC): " + why;
    if (text == session.cosDecDecision)
        return;
    session.cosDecDecision = text;
    session.cosDecChecked = false;
    out.log.push_back(text);
}

// PHD2's camera-frame shift rate (pixels/hr) against the two cases: the RA rate it
// received multiplied by cos(DEC) or not, through the same pixel scale.  Only the length
// of the rate counts: PHD2's transform to the camera turns it and may mirror it, never
// stretches it (src/mount.cpp TransformMountCoordinatesToCameraCoordinates).
void CheckCosDec(Phd2Session& session, const QJsonObject& result, Phd2Output& out, double now) {
    const QJsonArray rate = result.value("rate").toArray();
    if (session.cosDecChecked || !session.pixelScale || rate.size() != 2)
        return;
    const double length = std::hypot(rate[0].toDouble(), rate[1].toDouble()) * *session.pixelScale;
    const double cosine = std::cos(session.sentDeclination * kPi / 180);
    const double withCos = std::hypot(session.sentRaRate * cosine, session.sentDecRate);
    const double without = std::hypot(session.sentRaRate, session.sentDecRate);
    // Too close to tell (near the equator, or a rate mostly in DEC), or not applied yet:
    // the next shift asks again.
    if (!std::isfinite(length) || length == 0 ||
        std::fabs(withCos - without) < std::max(0.5, 0.05 * without))
        return;
    session.cosDecChecked = true;
    const bool phd2Multiplies = std::fabs(length - withCos) < std::fabs(length - without);
    const std::string applied = DefaultText(std::round(length * 100) / 100);
    if (phd2Multiplies == session.knowsDeclination) {
        out.log.push_back(" :    PHD2's shift rate on the camera (" + applied +
                          " \"/h) confirms the cos(DEC) decision");
        return;
    }
    if (session.cosDecForced) {
        out.log.push_back(" : PHD2's shift rate on the camera (" + applied + " \"/h) says it " +
                          (phd2Multiplies ? "multiplies" : "does not multiply") +
                          " the RA rate by cos(DEC), against PHD2_COS_DEC in veldra.ini -- kept");
        return;
    }
    session.cosDecObserved = phd2Multiplies;
    out.log.push_back(" : PHD2's shift rate on the camera (" + applied +
                      " \"/h) disagrees with the calibration -- following PHD2");
    DecideCosDec(session, out);
    session.cosDecChecked = true;
    if (session.rates)
        SendRates(session, out, now);
}

// A successful answer: what it tells veldra, as the log shows it.
std::string TakeResult(Phd2Session& session, const Phd2Incoming& answer, Phd2Output& out,
                       double now) {
    const QJsonValue result = answer.object.value("result");
    if (answer.method == kEquipment) {
        session.aoConnected = result.toObject().value("AO").toObject().value("connected").toBool();
        if (session.aoConnected)
            Send(session, out, kCalibration, QJsonObject{{"which", "AO"}}, now);
        else
            session.aoCalibration.reset();
        return "mount " + DeviceText(result.toObject(), "mount") + ", aux mount " +
               DeviceText(result.toObject(), "aux_mount") + ", AO " +
               DeviceText(result.toObject(), "AO");
    }
    if (answer.method == kPixelScale) {
        const bool wasNull = session.pixelScaleNull;
        session.pixelScaleNull = !result.isDouble() || !(result.toDouble() > 0);
        if (session.pixelScaleNull) {
            session.pixelScale.reset();
            if (!wasNull)
                out.log.push_back(std::string(" : ") + kPhd2NoPixelScale + " -- no shift sent");
            return "no pixel scale";
        }
        session.pixelScale = result.toDouble();
        if (wasNull && session.link == Phd2Link::Connected && !session.applyAwaitsCalibration) {
            out.log.push_back(" : PHD2 has a pixel scale again -- applying the shift");
            ApplyWishes(session, out, now);
        }
        return DefaultText(*session.pixelScale) + " arcsec/pixel";
    }
    if (answer.method == kCalibration) {
        const bool ao = IsAo(answer.params);
        const QJsonObject o = result.toObject();
        Phd2Calibration c;
        c.calibrated = o.value("calibrated").toBool();
        c.xAngle = o.value("xAngle").toDouble();
        c.yAngle = o.value("yAngle").toDouble();
        c.xRate = o.value("xRate").toDouble();
        c.yRate = o.value("yRate").toDouble();
        c.xParity = o.value("xParity").toString("?").toStdString();
        c.yParity = o.value("yParity").toString("?").toStdString();
        c.declination = o.value("declination").toDouble(1e9);
        if (ao) {
            session.aoCalibration = c;
            return "AO " + CalibrationText(c);
        }
        // What PHD2 showed of the cos(DEC) case holds for the calibration it was shown with.
        if (!session.calibration || CalibrationText(*session.calibration) != CalibrationText(c))
            session.cosDecObserved.reset();
        session.calibration = c;
        return CalibrationText(c);
    }
    if (answer.method == kGetParams) {
        CheckCosDec(session, result.toObject(), out, now);
        return Phd2JsonText(result);
    }
    if (answer.method == kSetParams && !session.cosDecChecked && session.rates &&
        session.sentRaRate != 0 && !session.cosDecCheckPending) {
        session.cosDecCheckPending = true;
        Send(session, out, kGetParams, QJsonObject{{"axes", "X/Y"}}, now);
    }
    session.lastFailure.clear();
    return "ok";
}

void TakeAnswer(Phd2Session& session, const Phd2Incoming& answer, Phd2Output& out, double now) {
    session.noAnswerLogged = false;
    if (answer.method == kGetParams)
        session.cosDecCheckPending = false;
    std::string outcome;
    Phd2Output later; // requests a result asks for go after its log line
    if (answer.failed) {
        outcome = "error " + std::to_string(answer.errorCode) + ": " + Cut(answer.errorMessage);
        if (answer.method == kSetParams || answer.method == kSetEnabled)
            session.lastFailure = answer.method + ": " + Cut(answer.errorMessage);
        if (answer.method == kCalibration && IsAo(answer.params))
            session.aoCalibration.reset();
        else if (answer.method == kCalibration)
            session.calibration.reset();
    } else {
        outcome = TakeResult(session, answer, later, now);
    }
    out.log.push_back(" :    PHD2 answered " + RequestText(answer.method, answer.params) + ": " +
                      outcome);
    const bool mountCalibration = answer.method == kCalibration && !IsAo(answer.params);
    if (mountCalibration)
        DecideCosDec(session, out);
    out.log.insert(out.log.end(), later.log.begin(), later.log.end());
    out.send.insert(out.send.end(), later.send.begin(), later.send.end());
    if (mountCalibration && session.applyAwaitsCalibration) {
        session.applyAwaitsCalibration = false;
        ApplyWishes(session, out, now);
    }
}

void TakeEvent(Phd2Session& session, const Phd2Incoming& event, Phd2Output& out, double now) {
    const std::string& name = event.event;
    if (name == "Version") {
        out.log.push_back(" :    PHD2 version " +
                          Cut(event.object.value("PHDVersion").toString().toStdString()));
    } else if (name == "AppState") {
        session.appState = Cut(event.object.value("State").toString().toStdString());
    } else if (name == "StartGuiding") {
        // A new run: PHD2 may have flipped its calibration for the other pier side without
        // an event (src/mount.cpp), and it guides on a new lock position without a shift.
        session.appState = "Guiding";
        session.shiftLimitReached = false;
        out.log.push_back(" : PHD2 started guiding -- reading the calibration and applying the "
                          "shift again");
        ApplyAfterCalibration(session, out, now);
    } else if (name == "GuidingStopped") {
        session.appState = "Stopped";
        out.log.push_back(" : PHD2 stopped guiding");
    } else if (name == "Paused") {
        session.appState = "Paused";
        out.log.push_back(" : PHD2 paused guiding");
    } else if (name == "Resumed") {
        session.appState = "Guiding";
        out.log.push_back(" : PHD2 resumed guiding");
    } else if (name == "StartCalibration") {
        session.appState = "Calibrating";
    } else if (name == "CalibrationComplete" || name == "CalibrationDataFlipped") {
        // A new or flipped calibration is a new dither map and may change the cos(DEC) case.
        out.log.push_back(
            " : PHD2 " +
            std::string(name == "CalibrationComplete" ? "calibrated" : "flipped its calibration") +
            " -- reading the calibration again");
        ApplyAfterCalibration(session, out, now);
    } else if (name == "ConfigurationChange") {
        // The pixel scale or the mount may have changed.
        Send(session, out, kPixelScale, QJsonValue(), now);
        ApplyAfterCalibration(session, out, now);
    } else if (name == "LockPositionShiftLimitReached") {
        if (!session.shiftLimitReached)
            out.log.push_back(" : PHD2 reached its lock shift limit and switched the shift off -- "
                              "drift rates count no correction until PHD2 sets a new lock "
                              "position");
        session.shiftLimitReached = true;
    } else if (name == "LoopingExposures") {
        session.appState = "Looping";
    } else if (name == "LoopingExposuresStopped") {
        session.appState = "Stopped";
    } else if (name == "Alert") {
        LogPeerText(session, out,
                    " :    PHD2 alert: " + event.object.value("Msg").toString().toStdString(), now);
    }
    out.events.push_back(event);
}

void FailRequest(Phd2Session& session, const Phd2PendingRequest& request, const std::string& why,
                 Phd2Output& out, double now, bool noAnswer = false) {
    if (request.method == kGetParams)
        session.cosDecCheckPending = false;
    if (request.method == kSetParams || request.method == kSetEnabled)
        session.lastFailure = request.method + ": " + why;
    // One line per outage for a PHD2 that stops answering.
    if (!noAnswer || !session.noAnswerLogged)
        out.log.push_back(" :    PHD2 request " + RequestText(request.method, request.params) +
                          " failed: " + why);
    if (noAnswer)
        session.noAnswerLogged = true;
    if (request.method == kCalibration && !IsAo(request.params) && session.applyAwaitsCalibration) {
        // Without the answer the declination counts as unknown; the wishes go out anyway.
        session.applyAwaitsCalibration = false;
        session.calibration.reset();
        DecideCosDec(session, out);
        if (session.link == Phd2Link::Connected)
            ApplyWishes(session, out, now);
    }
}

// A wish that cannot go out now: while connecting or awaiting the calibration it goes out
// shortly; while PHD2 is not reachable it goes out after the reconnection.
bool SendOrHold(Phd2Session& session, Phd2Output& out, const std::string& method,
                const QJsonValue& params, double now) {
    if (session.link == Phd2Link::Connected && !session.applyAwaitsCalibration) {
        if (!MayShift(session))
            return false;
        Send(session, out, method, params, now);
        return true;
    }
    if (session.link == Phd2Link::NotReachable) {
        const Phd2PendingRequest request{0, method, 0, Phd2JsonText(params)};
        FailRequest(session, request, "PHD2 not reachable at " + Where(session), out, now);
    }
    return false;
}

} // namespace

bool Phd2KnowsDeclination(const Phd2Calibration& calibration) {
    return std::fabs(calibration.declination) <= kPhd2LargestDeclination;
}

double Phd2RaRate(double skyRate, double declinationDegrees, bool knowsDeclination) {
    if (!knowsDeclination || !std::isfinite(declinationDegrees))
        return skyRate;
    const double smallest = std::cos(89.9 * kPi / 180);
    return skyRate / std::max(std::cos(declinationDegrees * kPi / 180), smallest);
}

Phd2Output Phd2Connected(Phd2Session& session, double now) {
    Phd2Output out;
    session.link = Phd2Link::Connected;
    session.appState.clear();
    session.pixelScale.reset();
    session.pixelScaleNull = false;
    session.calibration.reset();
    session.aoCalibration.reset();
    session.aoConnected = false;
    session.shiftLimitReached = false;
    session.cosDecCheckPending = false;
    out.log.push_back(" : PHD2 connected at " + Where(session));
    Send(session, out, kEquipment, QJsonValue(), now);
    Send(session, out, kPixelScale, QJsonValue(), now);
    ApplyAfterCalibration(session, out, now);
    return out;
}

Phd2Output Phd2Disconnected(Phd2Session& session, const std::string& reason) {
    Phd2Output out;
    const Phd2Link was = session.link;
    session.link = Phd2Link::NotReachable;
    session.applyAwaitsCalibration = false;
    session.appState.clear();
    for (const Phd2PendingRequest& request : Phd2Reset(session.protocol))
        FailRequest(session, request, "connection lost (" + reason + ")", out, 0);
    session.noAnswerLogged = false;
    const std::string retry = "every " + DefaultText(session.retrySeconds) + " s";
    if (was == Phd2Link::Connected)
        out.log.push_back(" : PHD2 connection to " + Where(session) + " lost (" + Cut(reason) +
                          ") -- reconnecting " + retry);
    else if (was == Phd2Link::Connecting)
        out.log.push_back(" : PHD2 not reachable at " + Where(session) + " (" + Cut(reason) +
                          ") -- trying again " + retry);
    return out;
}

Phd2Output Phd2Received(Phd2Session& session, QByteArrayView bytes, double now) {
    Phd2Output out;
    // PHD2 announces a dither's new lock position just before "GuidingDithered"
    // (src/guider.cpp MoveLockPosition); any other new lock position (a new star, guiding
    // restarted) ends a shift stopped at the limit.
    bool lockSet = false;
    bool dithered = false;
    for (const Phd2Incoming& line : Phd2Feed(session.protocol, bytes)) {
        switch (line.kind) {
        case Phd2Incoming::Kind::Event:
            lockSet = lockSet || line.event == "LockPositionSet" || line.event == "StarSelected";
            dithered = dithered || line.event == "GuidingDithered";
            TakeEvent(session, line, out, now);
            break;
        case Phd2Incoming::Kind::Answer:
            TakeAnswer(session, line, out, now);
            break;
        case Phd2Incoming::Kind::Stray:
            LogPeerText(session, out,
                        " :    PHD2 answered a request after its time limit -- ignored", now);
            break;
        case Phd2Incoming::Kind::Garbage:
            LogPeerText(session, out,
                        " :    PHD2 sent a line that is not a message -- ignored: " + line.line,
                        now);
            break;
        }
    }
    if (session.shiftLimitReached && lockSet && !dithered) {
        session.shiftLimitReached = false;
        out.log.push_back(" : PHD2 set a new lock position -- applying the shift again");
        ApplyWishes(session, out, now);
    }
    return out;
}

Phd2Output Phd2Expire(Phd2Session& session, double now) {
    Phd2Output out;
    for (const Phd2PendingRequest& request : Phd2TakeExpired(session.protocol, now))
        FailRequest(session, request,
                    "no answer within " + DefaultText(session.requestBoundSeconds) + " s", out, now,
                    true);
    return out;
}

Phd2Output Phd2SetShiftRates(Phd2Session& session, const Phd2Rates& rates, double now) {
    Phd2Output out;
    session.rates = rates;
    const QJsonObject params = ShiftParams(session, rates);
    if (SendOrHold(session, out, kSetParams, params, now))
        NoteSent(session, params);
    return out;
}

Phd2Output Phd2SetShiftEnabled(Phd2Session& session, bool enabled, double now) {
    Phd2Output out;
    session.shiftEnabled = enabled;
    SendOrHold(session, out, kSetEnabled, QJsonArray{enabled}, now);
    return out;
}

Phd2CameraRate Phd2LockCreep(const Phd2Session& session) {
    if (!session.shiftEnabled || !*session.shiftEnabled || session.shiftLimitReached ||
        !session.rates || !session.pixelScale || !session.calibration ||
        !session.calibration->calibrated)
        return {};
    const Phd2Calibration& c = *session.calibration;
    double ra = session.sentRaRate;
    double dec = session.sentDecRate;
    if (c.xParity == "-")
        ra = -ra;
    if (c.yParity == "-")
        dec = -dec;
    if (session.knowsDeclination)
        ra *= std::cos(session.sentDeclination * kPi / 180);
    // Mount axes to the camera: turned by xAngle, mirrored when yAngle says so.
    const double mirror = std::fabs(std::remainder(c.xAngle + 90 - c.yAngle, 360.0)) > 90 ? -1 : 1;
    const double cx = std::cos(c.xAngle * kPi / 180);
    const double sx = std::sin(c.xAngle * kPi / 180);
    const double perSecond = 1 / (*session.pixelScale * 3600);
    return {(cx * ra - sx * mirror * dec) * perSecond, (sx * ra + cx * mirror * dec) * perSecond};
}

std::string Phd2StatusText(const Phd2Session& session) {
    std::string text = "PHD2 " + Where(session) + " \u2014 ";
    switch (session.link) {
    case Phd2Link::Connecting:
        return text + "connecting";
    case Phd2Link::NotReachable:
        return text + "not reachable";
    case Phd2Link::Connected:
        break;
    }
    const bool guiding = session.appState == "Guiding" || session.appState == "LostLock";
    text += guiding ? "guiding" : "connected, not guiding";
    if (session.pixelScaleNull)
        text += std::string("; ") + kPhd2NoPixelScale;
    if (session.shiftLimitReached)
        text += "; shift limit reached, shift off";
    if (!session.lastFailure.empty())
        text += "; failed: " + session.lastFailure;
    return text;
}
