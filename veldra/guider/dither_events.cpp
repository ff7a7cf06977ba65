#include "veldra/guider/dither_events.h"

#include "common/numbers.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kReflectionMarginPixels = 1.0;

double EventTime(const Phd2Incoming& event, double arrival) {
    const double stamp = event.object.value("Timestamp").toDouble(arrival);
    return std::isfinite(stamp) ? stamp : arrival;
}

bool Settling(const DitherTrack& track) {
    return !track.settles.empty() && !track.settles.back().end;
}

void CloseSettle(DitherTrack& track, double time) {
    if (Settling(track))
        track.settles.back().end = std::max(time, track.settles.back().begin);
}

void OpenSettle(DitherTrack& track, double time) {
    if (Settling(track))
        return;
    track.settles.push_back({time, std::nullopt});
    if (track.settles.size() > kSettleSpansKept)
        track.settles.erase(track.settles.begin());
}

void KeepSteps(DitherTrack& track) {
    if (track.steps.size() <= kDitherStepsKept)
        return;
    // The oldest half is summed: images far older than these no longer ask for them.
    const auto end = track.steps.begin() + static_cast<std::ptrdiff_t>(kDitherStepsKept / 2);
    for (auto step = track.steps.begin(); step != end; ++step) {
        track.foldedDx += step->dx;
        track.foldedDy += step->dy;
    }
    track.steps.erase(track.steps.begin(), end);
}

int Parity(const std::string& text) {
    return text == "-" ? -1 : text == "+" ? 1 : 0;
}

// The mount axes' move the lock position's camera move stands for: PHD2 may reflect a
// dither near the frame edge in RA, DEC or both and still announce the dither it was asked
// for (src/guider.cpp MoveLockPosition).  Of the four reflections the one nearest to the
// lock's actual move, less the shift's creep since the previous lock position, is taken.
Vector2 ReflectedDither(const DitherTrack& track, const Vector2& announced, std::string& note) {
    if (!track.camera || !track.lockPosition || !track.lockBefore)
        return announced;
    const GuideCamera& c = *track.camera;
    const Matrix2 toCamera =
        c.aoXAngle ? AxesToCamera(*c.aoXAngle, c.aoYAngle) : AxesToCamera(c.xAngle, c.yAngle);
    // The lock's move less the shift's creep between the two positions.
    const double seconds = track.lockTime - track.lockBeforeTime;
    const double creep = seconds > 0 && seconds < 3600 ? seconds : 0;
    const Vector2 moved{track.lockPosition->v0 - track.lockBefore->v0 - track.lockCreep.v0 * creep,
                        track.lockPosition->v1 - track.lockBefore->v1 - track.lockCreep.v1 * creep};
    Vector2 best = announced;
    double bestMiss = std::numeric_limits<double>::infinity();
    double announcedMiss = 0;
    for (const double sx : {1.0, -1.0})
        for (const double sy : {1.0, -1.0}) {
            const Vector2 candidate{sx * announced.v0, sy * announced.v1};
            const Vector2 camera{toCamera.m00 * candidate.v0 + toCamera.m01 * candidate.v1,
                                 toCamera.m10 * candidate.v0 + toCamera.m11 * candidate.v1};
            const double miss = std::hypot(camera.v0 - moved.v0, camera.v1 - moved.v1);
            if (sx > 0 && sy > 0)
                announcedMiss = miss;
            if (miss < bestMiss - 1e-9) {
                bestMiss = miss;
                best = candidate;
            }
        }
    // What is left of the creep (a rate just changed) is under a pixel: only a clearly
    // better reflection replaces what PHD2 announced.
    if (announcedMiss - bestMiss < kReflectionMarginPixels)
        return announced;
    if (best.v0 != announced.v0 || best.v1 != announced.v1)
        note = " :    PHD2 reflected the dither near the frame edge: taken as " +
               DefaultText(std::round(best.v0 * 100) / 100) + ", " +
               DefaultText(std::round(best.v1 * 100) / 100) +
               " pixels from the lock position's move";
    return best;
}

bool Off(const DitherTrack& track) {
    return !track.shiftOff.empty() && !track.shiftOff.back().end;
}

} // namespace

Matrix2 AxesToCamera(double xAngle, double yAngle) {
    const double mirror = std::fabs(std::remainder(xAngle + 90 - yAngle, 360.0)) > 90 ? -1 : 1;
    const double c = std::cos(xAngle * kPi / 180);
    const double s = std::sin(xAngle * kPi / 180);
    return Matrix2{c, -s * mirror, s, c * mirror};
}

std::string RecordDitherEvent(DitherTrack& track, const Phd2Incoming& event, double arrival) {
    const double time = EventTime(event, arrival);
    track.lastEventTime = time;
    std::string note;
    if (event.event == "GuidingDithered") {
        const QJsonValue dx = event.object.value("dx");
        const QJsonValue dy = event.object.value("dy");
        const auto fits = [](const QJsonValue& v) {
            return v.isDouble() && std::isfinite(v.toDouble()) && std::fabs(v.toDouble()) <= 1e4;
        };
        if (!fits(dx) || !fits(dy))
            return " :    PHD2 announced a dither without a usable dx, dy -- ignored";
        const Vector2 taken = ReflectedDither(track, {dx.toDouble(), dy.toDouble()}, note);
        track.lockBefore.reset(); // this move is spent
        track.steps.push_back({time, taken.v0, taken.v1});
        KeepSteps(track);
        OpenSettle(track, time); // settling follows every dither
    } else if (event.event == "LockPositionSet") {
        const QJsonValue x = event.object.value("X");
        const QJsonValue y = event.object.value("Y");
        if (x.isDouble() && y.isDouble() && std::isfinite(x.toDouble()) &&
            std::isfinite(y.toDouble())) {
            track.lockBefore = track.lockPosition;
            track.lockBeforeTime = track.lockTime;
            track.lockPosition = Vector2{x.toDouble(), y.toDouble()};
            track.lockTime = time;
        }
    } else if (event.event == "SettleBegin") {
        OpenSettle(track, time);
    } else if (event.event == "SettleDone" || event.event == "GuidingStopped" ||
               event.event == "StartGuiding") {
        // A stop or a new start ends settling as surely as "SettleDone": PHD2 sends none then.
        CloseSettle(track, time);
    }
    if (event.event == "LockPositionShiftLimitReached" && !Off(track))
        track.shiftOff.push_back({time, std::nullopt});
    return note;
}

void SetShiftOff(DitherTrack& track, bool off, double time) {
    if (off && !Off(track))
        track.shiftOff.push_back({time, std::nullopt});
    else if (!off && Off(track))
        track.shiftOff.back().end = std::max(time, track.shiftOff.back().begin);
    if (track.shiftOff.size() > kSettleSpansKept) {
        const SettleSpan& first = track.shiftOff.front();
        track.foldedShiftOffSeconds += first.end.value_or(first.begin) - first.begin;
        track.shiftOff.erase(track.shiftOff.begin());
    }
}

void SetGuiderConnected(DitherTrack& track, bool connected, double time) {
    if (!connected && track.connected && time > 0) {
        // No "SettleDone" comes over a lost connection.
        CloseSettle(track, time);
        track.lockPosition.reset();
        track.lockBefore.reset();
    }
    if (connected && !track.connected) {
        track.connections.push_back(time);
        if (track.connections.size() > kSettleSpansKept) {
            track.connections.erase(track.connections.begin());
            ++track.foldedConnections;
        }
    }
    track.connected = connected;
}

std::optional<GuideCamera> GuideCameraOf(const Phd2Session& session) {
    if (!session.pixelScale || !session.calibration || !session.calibration->calibrated)
        return std::nullopt;
    const Phd2Calibration& c = *session.calibration;
    GuideCamera camera;
    camera.pixelScale = *session.pixelScale;
    camera.xAngle = c.xAngle;
    camera.yAngle = c.yAngle;
    camera.xParity = Parity(c.xParity);
    camera.yParity = Parity(c.yParity);
    if (session.aoCalibration && session.aoCalibration->calibrated) {
        camera.aoXAngle = session.aoCalibration->xAngle;
        camera.aoYAngle = session.aoCalibration->yAngle;
    }
    return camera;
}

bool SetGuideCamera(DitherTrack& track, const std::optional<GuideCamera>& camera) {
    // A reconnection forgets the calibration until PHD2 answers again: keep the last one.
    if (!camera || (track.camera && *camera == *track.camera))
        return false;
    track.camera = camera;
    track.fit = DitherFit{};
    return true;
}
