// Start, three settled images with WCS keywords, the real pipeline and history, and the
// messages that went to the guider.
#include "tests/monitor_fakes.h"
#include "tests/test_support.h"
#include "veldra/measure/pipeline.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/monitoring_control.h"

#include <gtest/gtest.h>

namespace {

const UtcZone utc;

TEST(MonitorEndToEnd, ThreeSettledImagesBecomeThreeMeasurementsAndTwoCorrections) {
    TempDir program;
    TempDir watched;
    MainState state;
    state.programFolder = program.path;
    state.settings.MONITOR_PATH = watched.path;
    state.settings.MONITOR_FILTER = "*.fit";
    state.settings.DEBOUNCE_TIME = 1;
    state.settings.MONITOR_START_STATE = 2;
    state.settings.PLATE_SOLVE_METHOD = 0; // WCS keywords
    Recorder recorder;
    Platform platform = RecordingPlatform(recorder);
    platform.processImage = [&](const std::string& path, double time) {
        recorder.processed.push_back({path, time});
        ProcessImage(state, platform, path, time);
    };

    ClickStart(state, platform);
    ASSERT_EQ(state.monitor.monitorState, MonitorState::Running);

    // Ten minutes apart, drifting 0.36 arcseconds of RA per image.
    WriteDriftingImages(watched, 3);
    for (int tick = 0; tick < 3; ++tick)
        TimerTick(state.monitor, state.settings, state.programFolder, platform);

    ASSERT_EQ(recorder.processed.size(), 3u);
    ASSERT_EQ(state.drift.historyCount, 3);
    EXPECT_EQ(state.drift.history[static_cast<size_t>(state.drift.newestIndex)].fileName,
              "light_2.fit");
    EXPECT_EQ(state.drift.history[static_cast<size_t>(state.drift.previousIndex)].fileName,
              "light_1.fit");
    ASSERT_EQ(recorder.posts.size(), 6u) << ::testing::PrintToString(recorder.posts);
    EXPECT_EQ(std::vector<std::string>(recorder.posts.begin(), recorder.posts.begin() + 4),
              (std::vector<std::string>{"MG_RemoteUnShift 0 0", "MG_RemoteCentroidType 0 0",
                                        "MG_RemoteSetShift 10000 10000", "MG_RemoteShift 0 0"}));
    EXPECT_EQ(recorder.posts[4].rfind("MG_RemoteSetShift ", 0), 0u);
    EXPECT_EQ(recorder.posts[5].rfind("MG_RemoteSetShift ", 0), 0u);
    EXPECT_FALSE(state.pipelineBusy);
    EXPECT_EQ(state.monitor.tickBusy, 0);
}

} // namespace
