#include "veldra/monitor/folder_monitor.h"

#include "common/end_request.h"
#include "common/numbers.h"
#include "veldra/monitor/list_folder.h"
#include "veldra/settings/activity_log.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

double NewestTime(const FileListing& listing) {
    return listing.times.back();
}

void RememberNewest(MainState& state, const FileListing& listing) {
    if (listing.count > 0)
        state.monitor.newestSeen =
            std::max(state.monitor.newestSeen.value_or(NewestTime(listing)), NewestTime(listing));
}

// A new baseline; the newest time ever seen stays as high as it was.
void MoveBaseline(MainState& state, const FileListing& listing) {
    RememberNewest(state, state.monitor.baselineListing);
    RememberNewest(state, listing);
    state.monitor.baselineListing = listing;
}

// Newer than anything seen since Start; with nothing seen yet, every file.
bool Qualifies(const MainState& state, double time) {
    if (state.monitor.baselineListing.count > 0 &&
        time <= NewestTime(state.monitor.baselineListing))
        return false;
    return !state.monitor.newestSeen || time > *state.monitor.newestSeen;
}

// Keeps the busy counter balanced even if a processing call throws, so monitoring
// can never stay blocked for good.
struct TickGuard {
    int16_t& busy;
    ~TickGuard() { --busy; }
};

// Returns false when the pass was ended by a Stop.
bool ProcessingPass(MainState& state, const Platform& platform) {
    LogEvent(state.programFolder, " : debounce complete");
    state.monitor.settling = false;
    const int count = state.monitor.currentListing.count;
    for (int i = 0; i < count && i < state.monitor.currentListing.count; ++i) {
        const auto index = static_cast<size_t>(i);
        const double time = state.monitor.currentListing.times[index];
        if (Qualifies(state, time) && state.monitor.monitorState != MonitorState::Paused) {
            // A copy: the call may run events that replace the listing.
            const std::string path = state.monitor.currentListing.paths[index];
            platform.processImage(path, time);
        }
        if (state.monitor.monitorState == MonitorState::Stopped || EndRequested())
            return false;
    }
    MoveBaseline(state, state.monitor.currentListing);
    state.monitor.previousListing = state.monitor.currentListing;
    return true;
}

} // namespace

void TimerTick(MainState& state, const Platform& platform) {
    if (state.monitor.tickBusy != 0)
        return;
    state.monitor.tickBusy = 1;
    TickGuard guard{state.monitor.tickBusy};

    const Settings& settings = state.settings;
    // An unreadable folder is no evidence that the files are gone: treating it as empty
    // would empty the baseline and reprocess every file once the folder is back.
    FileListing listing;
    if (ReadFolder(settings.MONITOR_PATH, settings.MONITOR_FILTER, listing)) {
        state.monitor.currentListing = std::move(listing);
        FileListing& current = state.monitor.currentListing;
        FileListing& previous = state.monitor.previousListing;
        if (!state.monitor.settling) {
            state.monitor.settleElapsed = 0;
            if (previous.count != current.count) {
                previous = current;
                state.monitor.settling = true;
                LogEvent(state.programFolder, " : start debounce 1");
            }
            if (previous.count > 0 && current.count > 0 &&
                NewestTime(current) > NewestTime(previous)) {
                previous = current;
                state.monitor.settling = true;
                LogEvent(state.programFolder, " : start debounce 2");
            }
        } else {
            const int16_t step = RoundToInt16(kTimer1IntervalMs / 1000.0).value_or(1);
            state.monitor.settleElapsed =
                static_cast<int16_t>(std::min<int>(state.monitor.settleElapsed + step, INT16_MAX));
            if (previous.count != current.count) {
                previous = current;
                state.monitor.settleElapsed = 0;
            } else if (previous.count == 0) {
                previous = current;
                MoveBaseline(state, current);
                state.monitor.settling = false;
            } else if (NewestTime(previous) != NewestTime(current)) {
                previous = current;
                state.monitor.settleElapsed = 0;
            } else if (state.monitor.settleElapsed >= settings.DEBOUNCE_TIME) {
                if (!ProcessingPass(state, platform))
                    return;
            }
        }
    }
    platform.refreshPendingFile();
}
