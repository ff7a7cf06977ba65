#include "veldra/guider/dither_events.h"

#include <cmath>

namespace {

double EventTime(const Phd2Incoming& event, double arrival) {
    const double stamp = event.object.value("Timestamp").toDouble(arrival);
    return std::isfinite(stamp) ? stamp : arrival;
}

bool Settling(const DitherTrack& track) {
    return !track.settles.empty() && !track.settles.back().end;
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
    return text == "-" ? -1 : 1;
}

bool SameCamera(const GuideCamera& a, const GuideCamera& b) {
    return a.pixelScale == b.pixelScale && a.xAngle == b.xAngle && a.yAngle == b.yAngle &&
           a.xParity == b.xParity && a.yParity == b.yParity;
}

} // namespace

std::string RecordDitherEvent(DitherTrack& track, const Phd2Incoming& event, double arrival) {
    const double time = EventTime(event, arrival);
    if (event.event == "GuidingDithered") {
        const QJsonValue dx = event.object.value("dx");
        const QJsonValue dy = event.object.value("dy");
        const auto fits = [](const QJsonValue& v) {
            return v.isDouble() && std::isfinite(v.toDouble()) && std::fabs(v.toDouble()) <= 1e4;
        };
        if (!fits(dx) || !fits(dy))
            return " :    PHD2 announced a dither without a usable dx, dy -- ignored";
        track.steps.push_back({time, dx.toDouble(), dy.toDouble()});
        KeepSteps(track);
        OpenSettle(track, time); // settling follows every dither
    } else if (event.event == "SettleBegin") {
        OpenSettle(track, time);
    } else if (event.event == "SettleDone") {
        if (Settling(track))
            track.settles.back().end = time;
    }
    return {};
}

void SetGuiderConnected(DitherTrack& track, bool connected, double time) {
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
    return GuideCamera{*session.pixelScale, c.xAngle, c.yAngle, Parity(c.xParity),
                       Parity(c.yParity)};
}

bool SetGuideCamera(DitherTrack& track, const std::optional<GuideCamera>& camera) {
    // A reconnection forgets the calibration until PHD2 answers again: keep the last one.
    if (!camera || (track.camera && SameCamera(*camera, *track.camera)))
        return false;
    track.camera = camera;
    track.fit = DitherFit{};
    return true;
}
