#include "veldra/guider/phd2_session.h"

#include "veldra/settings/numbers.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>

namespace {

const char* const kSetParams = "set_lock_shift_params";
const char* const kSetEnabled = "set_lock_shift_enabled";
const char* const kEquipment = "get_current_equipment";
const char* const kPixelScale = "get_pixel_scale";
const char* const kCalibration = "get_calibration_data";

std::string Where(const Phd2Session& session) {
    return session.host + ":" + std::to_string(session.port);
}

std::string RequestText(const std::string& method, const std::string& params) {
    return params.empty() ? method : method + " " + params;
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

void SendRates(Phd2Session& session, Phd2Output& out, double now) {
    Send(session, out, kSetParams, ShiftParams(session, *session.rates), now);
}

void SendEnabled(Phd2Session& session, Phd2Output& out, double now) {
    Send(session, out, kSetEnabled, QJsonArray{*session.shiftEnabled}, now);
}

// Sends veldra's wishes as they stand: the rates first, so that switching on never
// starts a stale rate.
void ApplyWishes(Phd2Session& session, Phd2Output& out, double now) {
    if (session.rates)
        SendRates(session, out, now);
    if (session.shiftEnabled)
        SendEnabled(session, out, now);
}

// Asks which devices PHD2 has connected; its answer applies the wishes (the RA rate
// depends on it).
void ApplyAfterEquipment(Phd2Session& session, Phd2Output& out, double now) {
    session.applyAwaitsEquipment = true;
    Send(session, out, kEquipment, QJsonValue(), now);
}

bool Connected(const QJsonObject& result, const char* device) {
    return result.value(device).toObject().value("connected").toBool();
}

std::string CalibrationText(const Phd2Calibration& c) {
    if (!c.calibrated)
        return "not calibrated";
    return "calibrated, xAngle " + DefaultText(c.xAngle) + ", yAngle " + DefaultText(c.yAngle) +
           ", xRate " + DefaultText(c.xRate) + ", yRate " + DefaultText(c.yRate) + ", xParity " +
           c.xParity + ", yParity " + c.yParity + ", declination " + DefaultText(c.declination);
}

// A successful answer: what it tells veldra, as the log shows it.
std::string TakeResult(Phd2Session& session, const Phd2Incoming& answer) {
    const QJsonValue result = answer.object.value("result");
    if (answer.method == kEquipment) {
        session.knowsDeclination =
            Connected(result.toObject(), "mount") || Connected(result.toObject(), "aux_mount");
        return session.knowsDeclination ? "mount connected, declination known"
                                        : "no mount connected, declination unknown";
    }
    if (answer.method == kPixelScale) {
        session.pixelScale = result.toDouble();
        return DefaultText(*session.pixelScale) + " arcsec/pixel";
    }
    if (answer.method == kCalibration) {
        const QJsonObject o = result.toObject();
        Phd2Calibration c;
        c.calibrated = o.value("calibrated").toBool();
        c.xAngle = o.value("xAngle").toDouble();
        c.yAngle = o.value("yAngle").toDouble();
        c.xRate = o.value("xRate").toDouble();
        c.yRate = o.value("yRate").toDouble();
        c.xParity = o.value("xParity").toString("?").toStdString();
        c.yParity = o.value("yParity").toString("?").toStdString();
        c.declination = o.value("declination").toDouble();
        session.calibration = c;
        return CalibrationText(c);
    }
    session.lastFailure.clear();
    return "ok";
}

void TakeAnswer(Phd2Session& session, const Phd2Incoming& answer, Phd2Output& out, double now) {
    std::string outcome;
    if (answer.failed) {
        outcome = "error " + std::to_string(answer.errorCode) + ": " + answer.errorMessage;
        if (answer.method == kSetParams || answer.method == kSetEnabled)
            session.lastFailure = answer.method + ": " + answer.errorMessage;
        if (answer.method == kEquipment)
            session.knowsDeclination = false;
    } else {
        outcome = TakeResult(session, answer);
    }
    out.log.push_back(" :    PHD2 answered " + RequestText(answer.method, answer.params) + ": " +
                      outcome);
    if (answer.method == kEquipment && session.applyAwaitsEquipment) {
        session.applyAwaitsEquipment = false;
        ApplyWishes(session, out, now);
    }
}

void TakeEvent(Phd2Session& session, const Phd2Incoming& event, Phd2Output& out, double now) {
    const std::string& name = event.event;
    if (name == "Version") {
        out.log.push_back(" :    PHD2 version " +
                          event.object.value("PHDVersion").toString().toStdString());
    } else if (name == "AppState") {
        session.appState = event.object.value("State").toString().toStdString();
    } else if (name == "StartGuiding") {
        session.appState = "Guiding";
        out.log.push_back(" : PHD2 started guiding -- applying the shift again");
        ApplyAfterEquipment(session, out, now);
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
    } else if (name == "CalibrationComplete") {
        // A new calibration is a new dither map: read it as at the connection.
        out.log.push_back(" : PHD2 calibrated -- reading the calibration again");
        Send(session, out, kCalibration, QJsonObject{{"which", "Mount"}}, now);
    } else if (name == "LoopingExposures") {
        session.appState = "Looping";
    } else if (name == "LoopingExposuresStopped") {
        session.appState = "Stopped";
    } else if (name == "Alert") {
        out.log.push_back(" :    PHD2 alert: " +
                          event.object.value("Msg").toString().toStdString());
    }
    out.events.push_back(event);
}

void FailRequest(Phd2Session& session, const Phd2PendingRequest& request, const std::string& why,
                 Phd2Output& out, double now) {
    out.log.push_back(" :    PHD2 request " + RequestText(request.method, request.params) +
                      " failed: " + why);
    if (request.method == kSetParams || request.method == kSetEnabled)
        session.lastFailure = request.method + ": " + why;
    if (request.method == kEquipment && session.applyAwaitsEquipment) {
        // Without the answer the declination counts as unknown; the wishes go out anyway.
        session.knowsDeclination = false;
        session.applyAwaitsEquipment = false;
        if (session.link == Phd2Link::Connected)
            ApplyWishes(session, out, now);
    }
}

// A wish that cannot go out now: while connecting or awaiting the equipment it goes out
// shortly; while PHD2 is not reachable it goes out after the reconnection.
void SendOrHold(Phd2Session& session, Phd2Output& out, const std::string& method,
                const QJsonValue& params, double now) {
    if (session.link == Phd2Link::Connected && !session.applyAwaitsEquipment) {
        Send(session, out, method, params, now);
    } else if (session.link == Phd2Link::NotReachable) {
        const Phd2PendingRequest request{0, method, 0, Phd2JsonText(params)};
        FailRequest(session, request, "PHD2 not reachable at " + Where(session), out, now);
    }
}

} // namespace

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
    session.knowsDeclination = false;
    session.pixelScale.reset();
    session.calibration.reset();
    out.log.push_back(" : PHD2 connected at " + Where(session));
    ApplyAfterEquipment(session, out, now);
    Send(session, out, kPixelScale, QJsonValue(), now);
    Send(session, out, kCalibration, QJsonObject{{"which", "Mount"}}, now);
    return out;
}

Phd2Output Phd2Disconnected(Phd2Session& session, const std::string& reason) {
    Phd2Output out;
    const Phd2Link was = session.link;
    session.link = Phd2Link::NotReachable;
    session.applyAwaitsEquipment = false;
    session.appState.clear();
    for (const Phd2PendingRequest& request : Phd2Reset(session.protocol))
        FailRequest(session, request, "connection lost (" + reason + ")", out, 0);
    const std::string retry = "every " + DefaultText(session.retrySeconds) + " s";
    if (was == Phd2Link::Connected)
        out.log.push_back(" : PHD2 connection to " + Where(session) + " lost (" + reason +
                          ") -- reconnecting " + retry);
    else if (was == Phd2Link::Connecting)
        out.log.push_back(" : PHD2 not reachable at " + Where(session) + " (" + reason +
                          ") -- trying again " + retry);
    return out;
}

Phd2Output Phd2Received(Phd2Session& session, QByteArrayView bytes, double now) {
    Phd2Output out;
    for (const Phd2Incoming& line : Phd2Feed(session.protocol, bytes)) {
        switch (line.kind) {
        case Phd2Incoming::Kind::Event:
            TakeEvent(session, line, out, now);
            break;
        case Phd2Incoming::Kind::Answer:
            TakeAnswer(session, line, out, now);
            break;
        case Phd2Incoming::Kind::Stray:
            out.log.push_back(" :    PHD2 answered request " + std::to_string(line.id) +
                              " after its time limit -- ignored");
            break;
        case Phd2Incoming::Kind::Garbage:
            out.log.push_back(" :    PHD2 sent a line that is not a message -- ignored: " +
                              line.line);
            break;
        }
    }
    return out;
}

Phd2Output Phd2Expire(Phd2Session& session, double now) {
    Phd2Output out;
    for (const Phd2PendingRequest& request : Phd2TakeExpired(session.protocol, now))
        FailRequest(session, request,
                    "no answer within " + DefaultText(session.requestBoundSeconds) + " s", out,
                    now);
    return out;
}

Phd2Output Phd2SetShiftRates(Phd2Session& session, const Phd2Rates& rates, double now) {
    Phd2Output out;
    session.rates = rates;
    SendOrHold(session, out, kSetParams, ShiftParams(session, rates), now);
    return out;
}

Phd2Output Phd2SetShiftEnabled(Phd2Session& session, bool enabled, double now) {
    Phd2Output out;
    session.shiftEnabled = enabled;
    SendOrHold(session, out, kSetEnabled, QJsonArray{enabled}, now);
    return out;
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
    if (!session.lastFailure.empty())
        text += "; failed: " + session.lastFailure;
    return text;
}
