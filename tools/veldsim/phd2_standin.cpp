#include "tools/veldsim/phd2_standin.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;
// PHD2's "unknown declination", 997 radians, as get_calibration_data reports it in
// degrees (src/mount.h UNKNOWN_DECLINATION).
const double kUnknownDeclinationDegrees = 997.0 * 180 / kPi;

double Normalised(double degrees) {
    const double wrapped = std::remainder(degrees, 360.0); // [-180, 180]
    return wrapped == -180 ? 180 : wrapped;
}

QJsonObject Error(int code, const char* message) {
    return QJsonObject{{"code", code}, {"message", message}};
}

// src/guider_multistar.cpp IsValidLockPosition.
bool ValidLock(const Phd2Standin& s, double x, double y) {
    return x >= 1 + s.searchRegion && x + 1 + s.searchRegion < s.frameWidth &&
           y >= 1 + s.searchRegion && y + 1 + s.searchRegion < s.frameHeight;
}

// src/guider.cpp edgeDist.
double EdgeDistance(const Phd2Standin& s, double x, double y) {
    return std::min({x, s.frameWidth - x, y, s.frameHeight - y});
}

// The inverse of CameraFromMount: a turn back by xAngle, then the mirror.
CameraPoint MountFromCamera(const GuideCamera& camera, double x, double y) {
    const double a = GuideXAngle(camera) * kPi / 180;
    const double ra = std::cos(a) * x + std::sin(a) * y;
    const double dec = -std::sin(a) * x + std::cos(a) * y;
    return {ra, camera.mirrored ? -dec : dec};
}

// set_lock_shift_params: {"rate":[RA,DEC],"units":"arcsec/hr","axes":"RA/Dec"}; PHD2 also
// takes pixels/hr and X/Y, which veldra never sends, so the stand-in refuses them.
std::optional<QJsonObject> SetParams(Phd2Standin& standin, const QJsonValue& params, double hours) {
    const QJsonObject p = params.toObject();
    const QJsonArray rate = p.value("rate").toArray();
    if (rate.size() != 2 || !rate[0].isDouble() || !rate[1].isDouble())
        return Error(-32602, "expected params {rate:[RA,DEC],units,axes}");
    if (p.value("units") != "arcsec/hr" || p.value("axes") != "RA/Dec")
        return Error(-32602, "the stand-in takes units arcsec/hr and axes RA/Dec only");
    standin.rate[0] = rate[0].toDouble();
    standin.rate[1] = rate[1].toDouble();
    standin.rateSet = true;
    standin.shiftHours = hours;
    return std::nullopt;
}

// src/event_server.cpp is_camera_shift_req.
bool CameraAxes(const QJsonValue& params) {
    const QString axes = params.toObject().value("axes").toString().toLower();
    return axes == "x/y" || axes == "camera";
}

QString MountName(const Phd2Standin& standin) {
    return standin.mount.reportsDeclination ? "INDI Mount [veldsim]" : "On-camera";
}

// src/event_server.cpp get_calibration_data: angles to 0.1 degree, rates in pixels/s.
QJsonValue Calibration(const Phd2Standin& standin, const QJsonValue& params,
                       std::optional<QJsonObject>& error) {
    const QString which = params.toObject().value("which").toString("Mount");
    if (which == "AO") {
        error = Error(1, "device not connected");
        return {};
    }
    if (which != "Mount") {
        error = Error(1, "invalid 'which' param");
        return {};
    }
    const auto tenth = [](double v) { return std::round(v * 10) / 10; };
    const double declination = standin.mount.reportsDeclination ? standin.mount.declinationDegrees
                                                                : kUnknownDeclinationDegrees;
    return QJsonObject{{"calibrated", true},
                       {"xAngle", tenth(GuideXAngle(standin.camera))},
                       {"xRate", 5.0},
                       {"xParity", QString::fromStdString(StandinParity(standin, true))},
                       {"yAngle", tenth(GuideYAngle(standin.camera))},
                       {"yRate", 5.0},
                       {"yParity", QString::fromStdString(StandinParity(standin, false))},
                       {"declination", tenth(declination)}};
}

QJsonObject Position(double x, double y) {
    return QJsonObject{{"X", std::round(x * 1000) / 1000}, {"Y", std::round(y * 1000) / 1000}};
}

} // namespace

double GuideXAngle(const GuideCamera& camera) {
    return Normalised(camera.xAngleDegrees);
}

double GuideYAngle(const GuideCamera& camera) {
    return Normalised(camera.xAngleDegrees + (camera.mirrored ? -90 : 90));
}

CameraPoint CameraFromMount(const GuideCamera& camera, double ra, double dec) {
    const double length = std::hypot(ra, dec);
    double theta = ra != 0 || dec != 0 ? std::atan2(dec, ra) : 0;
    if (camera.mirrored)
        theta = -theta;
    theta += GuideXAngle(camera) * kPi / 180;
    return {length * std::cos(theta), length * std::sin(theta)};
}

std::string StandinParity(const Phd2Standin& standin, bool ra) {
    // src/scope.cpp: measured from the mount's reported coordinates, else unknown.
    if (!standin.mount.reportsDeclination)
        return "?";
    return (ra ? standin.mount.raSign : standin.mount.decSign) > 0 ? "+" : "-";
}

CameraPoint StandinCameraRate(const Phd2Standin& standin) {
    if (!standin.rateSet)
        return {};
    double ra = standin.rate[0];
    double dec = standin.rate[1];
    if (standin.mount.reportsDeclination) {
        ra *= standin.mount.raSign;
        dec *= standin.mount.decSign;
        ra *= std::cos(standin.mount.declinationDegrees * kPi / 180);
    }
    const CameraPoint rate = CameraFromMount(standin.camera, ra, dec);
    // Without a pixel scale PHD2 divides by 1 (src/myframe.cpp GetCameraPixelScale).
    const double scale = standin.pixelScaleKnown ? standin.camera.scale : 1;
    return {rate.x / scale, rate.y / scale};
}

std::vector<QByteArray> Phd2StandinAdvance(Phd2Standin& standin, double hours) {
    std::vector<QByteArray> events;
    if (standin.shiftEnabled && standin.guiding && hours > standin.shiftHours) {
        const CameraPoint rate = StandinCameraRate(standin);
        standin.lockX += rate.x * (hours - standin.shiftHours);
        standin.lockY += rate.y * (hours - standin.shiftHours);
        if (!ValidLock(standin, standin.lockX, standin.lockY)) {
            standin.shiftEnabled = false;
            const double at = standin.startUnixSeconds + hours * 3600;
            events.push_back(Phd2StandinEvent("LockPositionShiftLimitReached", {}, at));
            events.push_back(Phd2StandinEvent(
                "Alert",
                {{"Msg", "Shifted lock position outside allowable area. Lock Position "
                         "Shift disabled."},
                 {"Type", "warning"}},
                at));
        }
    }
    standin.shiftHours = std::max(standin.shiftHours, hours);
    return events;
}

std::optional<QJsonObject> Phd2StandinAnswer(Phd2Standin& standin, const QJsonObject& request,
                                             double hours) {
    if (standin.silent)
        return std::nullopt;
    const QString method = request.value("method").toString();
    const QJsonValue params = request.value("params");
    QJsonValue result = 0;
    std::optional<QJsonObject> error;
    if (method == "set_lock_shift_params") {
        error = SetParams(standin, params, hours);
    } else if (method == "set_lock_shift_enabled") {
        const QJsonValue flag = params.isArray() ? params.toArray().at(0) : params["enabled"];
        if (flag.isBool()) {
            // Enabling starts the shift from the lock where it is (src/guider.cpp).
            if (flag.toBool() && !standin.shiftEnabled)
                standin.shiftHours = hours;
            standin.shiftEnabled = flag.toBool();
        } else {
            error = Error(-32602, "expected params [true] or [false]");
        }
    } else if (method == "get_lock_shift_params") {
        QJsonObject shift{{"enabled", standin.shiftEnabled}};
        if (CameraAxes(params)) {
            const CameraPoint rate = StandinCameraRate(standin);
            shift.insert("rate", QJsonArray{rate.x, rate.y});
            shift.insert("units", "pixels/hr");
            shift.insert("axes", "X/Y");
        } else if (standin.rateSet) {
            shift.insert("rate", QJsonArray{standin.rate[0], standin.rate[1]});
            shift.insert("units", "arcsec/hr");
            shift.insert("axes", "RA/Dec");
        }
        result = shift;
    } else if (method == "get_lock_shift_enabled") {
        result = standin.shiftEnabled;
    } else if (method == "get_lock_position") {
        result = QJsonArray{standin.lockX, standin.lockY};
    } else if (method == "get_current_equipment") {
        // An ST-4 class mount shows "connected" too (src/event_server.cpp).
        result =
            QJsonObject{{"camera", QJsonObject{{"name", "Simulator"}, {"connected", true}}},
                        {"mount", QJsonObject{{"name", MountName(standin)}, {"connected", true}}}};
    } else if (method == "get_pixel_scale") {
        // src/event_server.cpp get_pixel_scale: null when PHD2 has none.
        result = standin.pixelScaleKnown ? QJsonValue(standin.camera.scale) : QJsonValue();
    } else if (method == "get_calibration_data") {
        result = Calibration(standin, params, error);
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
    // The star follows the lock: the mount moves by the camera rate taken back to its
    // axes, each pixel a pixel scale on the sky, the way the true mount's pulses go.
    const CameraPoint rate = StandinCameraRate(standin);
    const CameraPoint mount = MountFromCamera(standin.camera, rate.x, rate.y);
    const SkyOffset sky = MountSkyOffset(standin, mount.x, mount.y);
    return {sky.ra, sky.dec};
}

SkyOffset MountSkyOffset(const Phd2Standin& standin, double ra, double dec) {
    return {standin.mount.raSign * ra * standin.camera.scale,
            standin.mount.decSign * dec * standin.camera.scale};
}

Dither NextDither(DitherWalk& walk, Phd2Standin& standin) {
    const double amount = walk.arcsec / standin.camera.scale;
    std::uniform_real_distribution<double> draw(-amount, amount);
    Dither dither;
    dither.dx = draw(walk.random);
    dither.dy = walk.raOnly ? 0 : draw(walk.random);
    // src/guider.cpp MoveLockPosition: the four reflections along the axes in turn; the
    // first valid one, else the one farthest from the edge.
    double best = 0;
    CameraPoint move;
    for (int q = 0; q < 4; ++q) {
        const double sx = 1 - ((q & 1) << 1);
        const double sy = 1 - (q & 2);
        const CameraPoint tried = CameraFromMount(standin.camera, dither.dx * sx, dither.dy * sy);
        const double x = standin.lockX + tried.x;
        const double y = standin.lockY + tried.y;
        const bool valid = ValidLock(standin, x, y);
        const double distance = EdgeDistance(standin, x, y);
        if (valid || q == 0 || distance > best) {
            move = tried;
            dither.movedRa = dither.dx * sx;
            dither.movedDec = dither.dy * sy;
            best = distance;
        }
        if (valid)
            break;
    }
    standin.lockX += move.x;
    standin.lockY += move.y;
    const SkyOffset offset = MountSkyOffset(standin, dither.movedRa, dither.movedDec);
    walk.total.ra += offset.ra;
    walk.total.dec += offset.dec;
    return dither;
}

bool IsPhd2StandinCommand(const std::string& command) {
    for (const char* known : {"quit", "start", "stop-guiding", "start-guiding", "new-star", "flip",
                              "silent", "answer", "garbage"})
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

std::vector<QByteArray> Phd2StandinCatchUpEvents(const Phd2Standin& standin,
                                                 std::optional<double> timestamp) {
    std::vector<QByteArray> events{
        Phd2StandinEvent("Version",
                         {{"PHDVersion", "veldsim"},
                          {"PHDSubver", ""},
                          {"OverlapSupport", true},
                          {"MsgVersion", 1}},
                         timestamp),
        Phd2StandinEvent("LockPositionSet", Position(standin.lockX, standin.lockY), timestamp),
        Phd2StandinEvent("StarSelected", Position(standin.lockX, standin.lockY), timestamp),
        Phd2StandinEvent("CalibrationComplete", {{"Mount", MountName(standin)}}, timestamp)};
    if (standin.guiding)
        events.push_back(Phd2StandinEvent("StartGuiding", {}, timestamp));
    events.push_back(Phd2StandinEvent(
        "AppState", {{"State", standin.guiding ? "Guiding" : "Stopped"}}, timestamp));
    return events;
}

std::vector<QByteArray> Phd2StandinDitherEvents(const Phd2Standin& standin, const Dither& dither,
                                                double ditheredAt, double settledAt) {
    const int settleFrames = std::max(1, static_cast<int>(std::lround(settledAt - ditheredAt)));
    return {Phd2StandinEvent("LockPositionSet", Position(standin.lockX, standin.lockY), ditheredAt),
            Phd2StandinEvent("GuidingDithered", {{"dx", dither.dx}, {"dy", dither.dy}}, ditheredAt),
            Phd2StandinEvent("SettleBegin", {}, ditheredAt),
            Phd2StandinEvent("SettleDone",
                             {{"Status", 0}, {"TotalFrames", settleFrames}, {"DroppedFrames", 0}},
                             settledAt)};
}
