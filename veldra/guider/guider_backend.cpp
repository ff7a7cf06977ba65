#include "veldra/guider/guider_backend.h"

#include "veldra/guider/guider_bus.h"
#include "veldra/guider/guider_link.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/numbers.h"

#include <cmath>

namespace {

constexpr int32_t kNoShift = 10000;

// DEC of the newest image in degrees; NaN before the first image.
double NewestDeclinationDegrees(const MainState& state) {
    if (state.historyCount < 1)
        return std::nan("");
    return state.history[static_cast<size_t>(state.newestIndex)].dec * 180 / kPi;
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
    if (choice.kind == GuiderChoice::Kind::DBus) {
        LogEvent(backend.programFolder, " : Guider: D-Bus broadcast");
        return;
    }
    LogEvent(backend.programFolder, " : Guider: " + GuiderChoiceText(choice));
    Phd2ClientCallbacks callbacks = backend.callbacks;
    callbacks.log = [folder = backend.programFolder](const std::string& message) {
        LogEvent(folder, message);
    };
    Phd2ClientOptions options;
    options.host = choice.host;
    options.port = choice.port;
    backend.phd2 = std::make_unique<Phd2Client>(options, std::move(callbacks));
    backend.phd2->Start();
}

void PostGuiderMessage(GuiderBackend& backend, const MainState& state, const std::string& name,
                       int32_t wParam, int32_t lParam) {
    if (!backend.phd2) {
        BusPost(name, wParam, lParam);
        return;
    }
    if (name == kSetShiftMessage)
        backend.phd2->SetShiftRates({static_cast<double>(wParam - kNoShift),
                                     static_cast<double>(lParam - kNoShift),
                                     NewestDeclinationDegrees(state)});
    else if (name == kShiftMessage || name == kUnShiftMessage)
        backend.phd2->SetShiftEnabled(name == kShiftMessage);
    else if (name == kCentroidTypeMessage)
        LogEvent(state.programFolder,
                 " :    PHD2 has no counterpart of MG_RemoteCentroidType -- skipped");
    else
        BusPost(name, wParam, lParam);
}

std::string GuiderStatusText(const GuiderBackend& backend) {
    return backend.phd2 ? backend.phd2->StatusText() : "D-Bus broadcast";
}
