#include "tools/veldsim/phd2_standin.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

double Normalised(double degrees) {
    const double wrapped = std::remainder(degrees, 360.0); // [-180, 180]
    return wrapped == -180 ? 180 : wrapped;
}

QJsonObject Error(int code, const char* message) {
    return QJsonObject{{"code", code}, {"message", message}};
}

// set_lock_shift_params: {"rate":[RA,DEC],"units":"arcsec/hr","axes":"RA/Dec"}; other
// units and axes exist in PHD2 but veldra never uses them, so the stand-in refuses them.
std::optional<QJsonObject> SetParams(Phd2Standin& standin, const QJsonValue& params) {
    const QJsonObject p = params.toObject();
    const QJsonArray rate = p.value("rate").toArray();
    if (rate.size() != 2 || !rate[0].isDouble() || !rate[1].isDouble())
        return Error(-32602, "expected params {rate:[RA,DEC],units,axes}");
    if (p.value("units") != "arcsec/hr" || p.value("axes") != "RA/Dec")
        return Error(-32602, "the stand-in takes units arcsec/hr and axes RA/Dec only");
    standin.rate[0] = rate[0].toDouble();
    standin.rate[1] = rate[1].toDouble();
    return std::nullopt;
}

} // namespace

double GuideXAngle(const GuideCamera& camera) {
    return Normalised(camera.xAngleDegrees);
}

double GuideYAngle(const GuideCamera& camera) {
    return Normalised(camera.xAngleDegrees + (camera.mirrored ? -90 : 90));
}

SkyOffset DitherSkyOffset(const GuideCamera& camera, double dx, double dy) {
    const double x = GuideXAngle(camera) * kPi / 180;
    const double y = GuideYAngle(camera) * kPi / 180;
    // (dx, dy) = a (cos x, sin x) + b (cos y, sin y), by Cramer's rule; the determinant
    // sin(y - x) is +1 or -1.
    const double determinant = std::cos(x) * std::sin(y) - std::sin(x) * std::cos(y);
    const double a = (dx * std::sin(y) - dy * std::cos(y)) / determinant;
    const double b = (dy * std::cos(x) - dx * std::sin(x)) / determinant;
    return {-a * camera.scale, b * camera.scale};
}

Dither NextDither(DitherWalk& walk, const GuideCamera& camera) {
    const double pixels = walk.arcsec / camera.scale;
    std::uniform_real_distribution<double> draw(-pixels, pixels);
    Dither dither;
    dither.dx = draw(walk.random);
    dither.dy = draw(walk.random);
    const SkyOffset offset = DitherSkyOffset(camera, dither.dx, dither.dy);
    walk.total.ra += offset.ra;
    walk.total.dec += offset.dec;
    return dither;
}

std::optional<QJsonObject> Phd2StandinAnswer(Phd2Standin& standin, const QJsonObject& request) {
    if (standin.silent)
        return std::nullopt;
    const QString method = request.value("method").toString();
    const QJsonValue params = request.value("params");
    QJsonValue result = 0;
    std::optional<QJsonObject> error;
    if (method == "set_lock_shift_params") {
        error = SetParams(standin, params);
    } else if (method == "set_lock_shift_enabled") {
        const QJsonValue flag = params.isArray() ? params.toArray().at(0) : params["enabled"];
        if (flag.isBool())
            standin.shiftEnabled = flag.toBool();
        else
            error = Error(-32602, "expected params [true] or [false]");
    } else if (method == "get_lock_shift_params") {
        result = QJsonObject{{"enabled", standin.shiftEnabled},
                             {"rate", QJsonArray{standin.rate[0], standin.rate[1]}},
                             {"units", "arcsec/hr"},
                             {"axes", "RA/Dec"}};
    } else if (method == "get_lock_shift_enabled") {
        result = standin.shiftEnabled;
    } else if (method == "get_current_equipment") {
        result =
            QJsonObject{{"camera", QJsonObject{{"name", "veldsim camera"}, {"connected", true}}},
                        {"mount", QJsonObject{{"name", "veldsim mount"},
                                              {"connected", standin.mountConnected}}}};
    } else if (method == "get_pixel_scale") {
        result = standin.camera.scale;
    } else if (method == "get_calibration_data") {
        result = QJsonObject{{"calibrated", true},
                             {"xAngle", GuideXAngle(standin.camera)},
                             {"yAngle", GuideYAngle(standin.camera)},
                             {"xRate", 10.0},
                             {"yRate", 10.0},
                             {"xParity", "+"},
                             {"yParity", "+"},
                             {"declination", standin.declinationDegrees}};
    } else {
        error = Error(-32601, "method not found");
    }
    QJsonObject answer{{"jsonrpc", "2.0"}, {"id", request.value("id")}};
    if (error)
        answer.insert("error", *error);
    else
        answer.insert("result", result);
    return answer;
}

Phd2SkyRates Phd2StandinSkyRates(const Phd2Standin& standin) {
    if (!standin.shiftEnabled || !standin.guiding)
        return {};
    const double cosine =
        standin.mountConnected ? std::cos(standin.declinationDegrees * kPi / 180) : 1.0;
    return {standin.rate[0] * cosine, standin.rate[1]};
}

bool IsPhd2StandinCommand(const std::string& command) {
    for (const char* known :
         {"quit", "start", "stop-guiding", "start-guiding", "silent", "answer", "garbage"})
        if (command == known)
            return true;
    return false;
}

QByteArray Phd2StandinEvent(const char* name, QJsonObject fields, std::optional<double> timestamp) {
    fields.insert("Event", name);
    fields.insert("Timestamp", timestamp.value_or(QDateTime::currentMSecsSinceEpoch() / 1000.0));
    fields.insert("Host", "veldsim");
    fields.insert("Inst", 1);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + "\r\n";
}

std::vector<QByteArray> Phd2StandinDitherEvents(const Dither& dither, double ditheredAt,
                                                double settledAt) {
    const int settleFrames = std::max(1, static_cast<int>(std::lround(settledAt - ditheredAt)));
    return {Phd2StandinEvent("GuidingDithered", {{"dx", dither.dx}, {"dy", dither.dy}}, ditheredAt),
            Phd2StandinEvent("SettleBegin", {}, ditheredAt),
            Phd2StandinEvent("SettleDone",
                             {{"Status", 0}, {"TotalFrames", settleFrames}, {"DroppedFrames", 0}},
                             settledAt)};
}
