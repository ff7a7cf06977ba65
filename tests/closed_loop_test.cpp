// veldra's core against veldsim on a private session bus: the loop closes.
#include "tests/test_support.h"
#include "tools/closed-loop/headless_night.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/settings/file_utils.h"

#include <QCoreApplication>
#include <cmath>
#include <gtest/gtest.h>

TEST(ClosedLoop, ConstantFlexureIsCancelledFromTheFourthFrameOn) {
    int argc = 1;
    char name[] = "closed_loop_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ASSERT_TRUE(BusConnected()) << "run inside dbus-run-session";

    std::vector<BusRecord> carried; // what the bus itself carried, not what was posted
    BusListenerHandle listener =
        InstallBusListener([&](const std::string& message, int32_t w, int32_t l) {
            carried.push_back({message, w, l});
        });
    ASSERT_TRUE(listener);

    TempDir work;
    NightSettings night; // 10 frames, constant 30 / -15 "/h, noise off, default filters
    const NightResult result =
        RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
    ASSERT_TRUE(result.finished) << result.veldsimOutput;
    EXPECT_EQ(result.historyCount, night.frames);

    const std::vector<double> appliedRa = CsvColumn(result.veldsimOutput, "applied_ra");
    const std::vector<double> appliedDec = CsvColumn(result.veldsimOutput, "applied_dec");
    const std::vector<double> trueRa = CsvColumn(result.veldsimOutput, "true_rate_ra");
    const std::vector<double> trueDec = CsvColumn(result.veldsimOutput, "true_rate_dec");
    ASSERT_EQ(appliedRa.size(), static_cast<size_t>(night.frames)) << result.veldsimOutput;
    const double toleranceArcsecPerHour = 1.0;
    for (size_t frame = 3; frame < appliedRa.size(); ++frame) {
        EXPECT_NEAR(appliedRa[frame], -trueRa[frame], toleranceArcsecPerHour)
            << "frame " << frame + 1;
        EXPECT_NEAR(appliedDec[frame], -trueDec[frame], toleranceArcsecPerHour)
            << "frame " << frame + 1;
    }

    // Window load resets the guider, then Start's sequence comes before any correction.
    QCoreApplication::processEvents();
    ASSERT_GE(carried.size(), 6u);
    const std::vector<std::string> expected{"MG_RemoteUnShift",  "MG_RemoteSetShift",
                                            "MG_RemoteUnShift",  "MG_RemoteCentroidType",
                                            "MG_RemoteSetShift", "MG_RemoteShift"};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(carried[i].name, expected[i]) << "message " << i;
    EXPECT_EQ(carried[4].wParam, 10000);
    EXPECT_EQ(carried[4].lParam, 10000);
    size_t setShifts = 0;
    for (size_t i = expected.size(); i < carried.size(); ++i)
        setShifts += carried[i].name == "MG_RemoteSetShift";
    EXPECT_EQ(setShifts, static_cast<size_t>(night.frames - 1)); // from the second image on
}
