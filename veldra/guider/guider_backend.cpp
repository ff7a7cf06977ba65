#include "veldra/guider/guider_backend.h"

#include "common/numbers.h"
#include "veldra/guider/dither_events.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/guider/guider_link.h"
#include "veldra/settings/activity_log.h"

#include <QDateTime>
#include <cmath>

namespace {

constexpr int32_t kNoShift = 10000;

// DEC of the newest image in degrees; NaN before the first image.
double NewestDeclinationDegrees(const DriftHistory& drift) {
    if (drift.historyCount < 1)
        return std::nan("");
    return drift.history[static_cast<size_t>(drift.newestIndex)].dec * 180 / kPi;
}

// The client's callbacks with the dither track fed first: every event, and the guide
// camera after every exchange (the calibration arrives as an answer, not an event).
void RecordDithers(GuiderBackend& backend, Phd2ClientCallbacks& callbacks) {
    DitherTrack* track = backend.dithers;
    track->announced = true;
    callbacks.event = [track, folder = backend.programFolder,
                       then = callbacks.event](const Phd2Incoming& event, double seconds) {
        const double arrival = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        if (const std::string message = RecordDitherEvent(*track, event, arrival); !message.empty())
            LogEvent(folder, message);
        if (then)
            then(event, seconds);
    };
    callbacks.statusChanged = [track, owner = &backend, then = callbacks.statusChanged] {
        const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        if (owner->phd2) {
            SetGuiderConnected(*track, owner->phd2->Session().link == Phd2Link::Connected, now);
            // On PHD2's clock: the event that ended the limit is the newest one.
            SetShiftOff(*track, owner->phd2->Session().shiftLimitReached,
                        track->lastEventTime > 0 ? track->lastEventTime : now);
            const Phd2CameraRate creep = Phd2LockCreep(owner->phd2->Session());
            track->lockCreep = Vector2{creep.x, creep.y};
        }
        if (owner->phd2 && SetGuideCamera(*track, GuideCameraOf(owner->phd2->Session())))
            LogEvent(owner->programFolder,
                     " :    PHD2's calibration is now the dither map -- fitting it afresh");
        if (then)
            then();
    };
}

} // namespace

GuiderChoice ConfiguredGuider(const Settings& settings,
                              const std::optional<GuiderChoice>& commandLine,
                              const std::string& programFolder) {
    if (commandLine)
        return *commandLine;
    if (const std::optional<GuiderChoice> stored = ParseGuiderChoice(settings.GUIDER))
        return *stored;
    LogEvent(programFolder, " : unknown GUIDER " + settings.GUIDER +
                                " in veldra.ini -- using the D-Bus broadcast");
    return GuiderChoice{};
}

void ChooseGuider(GuiderBackend& backend, const GuiderChoice& choice) {
    backend.phd2.reset();
    backend.choice = choice;
    if (backend.dithers) {
        backend.dithers->announced = false;
        SetGuiderConnected(*backend.dithers, false, 0);
    }
    if (choice.kind == GuiderChoice::Kind::DBus) {
        LogEvent(backend.programFolder, " : Guider: D-Bus broadcast");
        return;
    }
    LogEvent(backend.programFolder, " : Guider: " + GuiderChoiceText(choice));
    Phd2ClientCallbacks callbacks = backend.callbacks;
    callbacks.log = [folder = backend.programFolder](const std::string& message) {
        LogEvent(folder, message);
    };
    if (backend.dithers)
        RecordDithers(backend, callbacks);
    Phd2ClientOptions options;
    options.host = choice.host;
    options.port = choice.port;
    if (backend.cosDec == "yes" || backend.cosDec == "no")
        options.cosDecForced = backend.cosDec == "yes";
    backend.phd2 = std::make_unique<Phd2Client>(options, std::move(callbacks));
    backend.phd2->Start();
}

void PostGuiderMessage(GuiderBackend& backend, const DriftHistory& drift, const std::string& name,
                       int32_t wParam, int32_t lParam) {
    if (!backend.phd2) {
        BusPost(name, wParam, lParam);
        return;
    }
    if (name == kSetShiftMessage)
        backend.phd2->SetShiftRates({static_cast<double>(wParam - kNoShift),
                                     static_cast<double>(lParam - kNoShift),
                                     NewestDeclinationDegrees(drift)});
    else if (name == kShiftMessage || name == kUnShiftMessage)
        backend.phd2->SetShiftEnabled(name == kShiftMessage);
    else if (name == kCentroidTypeMessage)
        LogEvent(backend.programFolder,
                 " :    PHD2 has no counterpart of MG_RemoteCentroidType -- skipped");
    else
        BusPost(name, wParam, lParam);
}

std::string GuiderStatusText(const GuiderBackend& backend) {
    return backend.phd2 ? backend.phd2->StatusText() : "D-Bus broadcast";
}
