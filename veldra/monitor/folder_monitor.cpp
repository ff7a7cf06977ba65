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

void RememberNewest(MonitorRecord& monitor, const FileListing& listing) {
    if (listing.count > 0)
        monitor.newestSeen =
            std::max(monitor.newestSeen.value_or(NewestTime(listing)), NewestTime(listing));
}

// A new baseline; the newest time ever seen stays as high as it was.
void MoveBaseline(MonitorRecord& monitor, const FileListing& listing) {
    RememberNewest(monitor, monitor.baselineListing);
    RememberNewest(monitor, listing);
    monitor.baselineListing = listing;
}

// Newer than anything seen since Start; with nothing seen yet, every file.
bool Qualifies(const MonitorRecord& monitor, double time) {
    if (monitor.baselineListing.count > 0 && time <= NewestTime(monitor.baselineListing))
        return false;
    return !monitor.newestSeen || time > *monitor.newestSeen;
}

// Keeps the busy counter balanced even if a processing call throws, so monitoring
// can never stay blocked for good.
struct TickGuard {
    int16_t& busy;
    ~TickGuard() { --busy; }
};

// Returns false when the pass was ended by a Stop.
bool ProcessingPass(MonitorRecord& monitor, const std::string& programFolder,
                    const Platform& platform) {
    LogEvent(programFolder, " : debounce complete");
    monitor.settling = false;
    const int count = monitor.currentListing.count;
    for (int i = 0; i < count && i < monitor.currentListing.count; ++i) {
        const auto index = static_cast<size_t>(i);
        const double time = monitor.currentListing.times[index];
        if (Qualifies(monitor, time) && monitor.monitorState != MonitorState::Paused) {
            // A copy: the call may run events that replace the listing.
            const std::string path = monitor.currentListing.paths[index];
            platform.processImage(path, time);
        }
        if (monitor.monitorState == MonitorState::Stopped || EndRequested())
            return false;
    }
    MoveBaseline(monitor, monitor.currentListing);
    monitor.previousListing = monitor.currentListing;
    return true;
}

} // namespace

void TimerTick(MonitorRecord& monitor, const Settings& settings, const std::string& programFolder,
               const Platform& platform) {
    if (monitor.tickBusy != 0)
        return;
    monitor.tickBusy = 1;
    TickGuard guard{monitor.tickBusy};

    // An unreadable folder is no evidence that the files are gone: treating it as empty
    // would empty the baseline and reprocess every file once the folder is back.
    FileListing listing;
    if (ReadFolder(settings.MONITOR_PATH, settings.MONITOR_FILTER, listing)) {
        monitor.currentListing = std::move(listing);
        FileListing& current = monitor.currentListing;
        FileListing& previous = monitor.previousListing;
        if (!monitor.settling) {
            monitor.settleElapsed = 0;
            if (previous.count != current.count) {
                previous = current;
                monitor.settling = true;
                LogEvent(programFolder, " : start debounce 1");
            }
            if (previous.count > 0 && current.count > 0 &&
                NewestTime(current) > NewestTime(previous)) {
                previous = current;
                monitor.settling = true;
                LogEvent(programFolder, " : start debounce 2");
            }
        } else {
            const int16_t step = RoundToInt16(kTimer1IntervalMs / 1000.0).value_or(1);
            monitor.settleElapsed =
                static_cast<int16_t>(std::min<int>(monitor.settleElapsed + step, INT16_MAX));
            if (previous.count != current.count) {
                previous = current;
                monitor.settleElapsed = 0;
            } else if (previous.count == 0) {
                previous = current;
                MoveBaseline(monitor, current);
                monitor.settling = false;
            } else if (NewestTime(previous) != NewestTime(current)) {
                previous = current;
                monitor.settleElapsed = 0;
            } else if (monitor.settleElapsed >= settings.DEBOUNCE_TIME) {
                if (!ProcessingPass(monitor, programFolder, platform))
                    return;
            }
        }
    }
    platform.refreshPendingFile();
}
