#include "veldra/monitor/monitoring_control.h"

#include "common/date_time.h"
#include "common/end_request.h"
#include "common/process_start.h"
#include "hdrlib/hdrlib.h"
#include "veldra/guider/guider_link.h"
#include "veldra/measure/solver_runner.h"
#include "veldra/monitor/list_folder.h"
#include "veldra/monitor/start_checks.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/settings.h"
#include "veldra_version.h"

#include <string>

namespace {

void Log(const MainState& state, const std::string& message) {
    LogEvent(state.programFolder, message);
}

void SetTimer1(MainState& state, const Platform& platform, bool on) {
    state.monitor.timer1On = on;
    platform.setTimer1(on);
}

// Start's wait: no bound, because only the processing that set the flag can clear it,
// and Start is refused while it runs beneath us.  The end of veldra ends it.
void WaitWhilePipelineBusy(const MainState& state, const Platform& platform) {
    while (state.pipelineBusy && !EndRequested()) {
        platform.sleep(kPipelineWaitPollMs);
        platform.pumpEvents();
    }
}

// Hands one start-state file to the pipeline.  False when monitoring is no longer
// running afterwards (a Stop or Pause came in while it was processed).
bool ProcessStartFile(MainState& state, const Platform& platform, int index,
                      const std::string& message) {
    WaitWhilePipelineBusy(state, platform);
    if (EndRequested())
        return false;
    Log(state, message);
    const auto entry = static_cast<size_t>(index);
    const std::string path = state.monitor.baselineListing.paths[entry];
    platform.processImage(path, state.monitor.baselineListing.times[entry]);
    return state.monitor.monitorState == MonitorState::Running && !EndRequested();
}

void LogListing(const MainState& state, const FileListing& listing) {
    Log(state, " : " + std::to_string(listing.count) + " files found:");
    for (int i = 0; i < listing.count; ++i) {
        const auto entry = static_cast<size_t>(i);
        Log(state, " :    " + listing.paths[entry] + ", " + DateTimeText(listing.times[entry]));
    }
}

void ProcessStartFiles(MainState& state, const Platform& platform) {
    const int choice = state.settings.MONITOR_START_STATE;
    const int n = state.monitor.baselineListing.count;
    if (choice == 0 && n >= 2) {
        Log(state, " : Last two files selected and two files are available");
        Log(state, " :    first file is: " +
                       state.monitor.baselineListing.paths[static_cast<size_t>(n - 2)]);
        Log(state, " :    second file is: " +
                       state.monitor.baselineListing.paths[static_cast<size_t>(n - 1)]);
        if (ProcessStartFile(state, platform, n - 2, " : starting solve of first file"))
            ProcessStartFile(state, platform, n - 1, " : starting solve of second file");
    } else if (n < 1 || (choice != 0 && choice != 1)) {
        Log(state, " : Ignore files selected or no files available");
    } else {
        Log(state, " : one file is available and last file or last two files are selected");
        Log(state,
            " :    file is: " + state.monitor.baselineListing.paths[static_cast<size_t>(n - 1)]);
        ProcessStartFile(state, platform, n - 1, " : starting solve of file");
    }
}

} // namespace

void ClickStart(MainState& state, const Platform& platform) {
    if (state.monitor.monitorState != MonitorState::Running &&
        state.monitor.monitorState != MonitorState::Paused) {
        if (state.pipelineBusy) {
            Log(state, " : Start refused: an image is still being processed");
            return;
        }
        const StartCheck check = CheckBeforeStart(state.settings, platform);
        for (const std::string& problem : check.problems)
            Log(state, " : Start check: " + problem);
        if (platform.showStartProblems)
            platform.showStartProblems(check.problems);
        if (!check.folderUsable) {
            Log(state, " : Start refused: the folder cannot be watched");
            platform.refreshMainWindow();
            return;
        }
        Log(state, " : Start monitoring");
        state.monitor.monitorState = MonitorState::Running;
        state.drift.currentRaCorrection = state.settings.raBias;
        state.drift.currentDecCorrection = state.settings.decBias;
        SendStartSequence(state.drift, state.settings, state.programFolder, platform);
    } else {
        Log(state, " : Stop monitoring");
        state.monitor.monitorState = MonitorState::Stopped;
        SendStopSequence(platform);
    }
    state.drift.historyCount = 0;
    SetTimer1(state, platform, false);
    if (state.monitor.monitorState != MonitorState::Running) {
        platform.refreshMainWindow();
        return;
    }

    // settling and settleElapsed stay as the last Stop left them.
    state.monitor.newestSeen.reset();
    state.monitor.baselineListing =
        ListFolder(state.settings.MONITOR_PATH, state.settings.MONITOR_FILTER);
    state.monitor.previousListing = state.monitor.baselineListing;
    LogListing(state, state.monitor.baselineListing);
    ProcessStartFiles(state, platform);

    // A Stop that came in while a start-state file was processed has already switched
    // Timer1 off and refreshed; switching it on again would watch a stopped folder.
    if (state.monitor.monitorState != MonitorState::Stopped)
        SetTimer1(state, platform, true);
    platform.refreshMainWindow();
}

void ClickPause(MonitorRecord& monitor, const std::string& programFolder,
                const Platform& platform) {
    if (monitor.monitorState == MonitorState::Running) {
        LogEvent(programFolder, " : Paused");
        monitor.monitorState = MonitorState::Paused;
    } else if (monitor.monitorState == MonitorState::Paused) {
        LogEvent(programFolder, " : Unpaused");
        monitor.monitorState = MonitorState::Running;
    }
    platform.refreshMainWindow();
}

void StartUpBeforeShow(MainState& state, const Platform& platform) {
    SetTimer1(state, platform, false);
    state.monitor.settling = false;
    state.monitor.tickBusy = 0;
    state.monitor.refreshPendingBusy = 0;
    state.drift.historyCount = 0;
    SendWindowLoadSequence(platform);
    state.monitor.monitorState = MonitorState::Stopped;
    LoadSettings(state.settings, state.programFolder, platform.clearCharts);
    platform.refreshMainWindow();
}

void StartUpAfterShow(MainState& state) {
    state.pipelineBusy = false;
    // The version is set once, in the build; the caption uses the same numbers.
    Log(state, " : Starting Veldra version " + std::to_string(VELDRA_VERSION_MAJOR) + "." +
                   std::to_string(VELDRA_VERSION_MINOR) + "." +
                   std::to_string(VELDRA_VERSION_PATCH));
    int32_t major = 0;
    int32_t minor = 0;
    int32_t revision = 0;
    get_dll_version(&major, &minor, &revision);
    Log(state, " : Hdrlib version " + std::to_string(major) + "." + std::to_string(minor) + "." +
                   std::to_string(revision));
}

void ShutDown(const Settings& settings, const std::string& programFolder) {
    SaveSettings(settings, programFolder);
    // Solvers left running by earlier time-outs end with veldra, not after it.
    LogEndedSolvers(programFolder, EndStartedProcesses());
    LogEvent(programFolder, " : Ending Veldra");
}
