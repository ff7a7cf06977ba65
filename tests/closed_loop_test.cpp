// veldra's core against veldsim on a private session bus: the loop closes.
#include "common/file_utils.h"
#include "tests/closed_loop_checks.h"
#include "tests/test_support.h"
#include "tools/closed-loop/headless_night.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/guider/guider_link.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// veldra keeps its session bus connection for the whole run: one application for all cases.
class ClosedLoop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { app_ = new QCoreApplication(argc_, argv_); }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

  private:
    static inline int argc_ = 1;
    static inline char name_[] = "closed_loop_test";
    static inline char* argv_[] = {name_, nullptr};
    static inline QCoreApplication* app_ = nullptr;
};

} // namespace

TEST_F(ClosedLoop, ConstantFlexureIsCancelledFromTheFourthFrameOn) {
    ASSERT_TRUE(BusConnected()) << "run inside dbus-run-session";

    std::vector<BusRecord> carried; // what the bus itself carried, not what was posted
    BusListenerHandle listener =
        InstallBusListener([&](const std::string& message, int32_t w, int32_t l) {
            carried.push_back({message, w, l});
        });
    ASSERT_TRUE(listener);
    // Under load QtDBus has handed a new connection's first incoming signals out behind
    // later ones (its delivery starts from the event loop).  A probe seen back proves
    // delivery runs, so the order below is the order the bus carried.
    BusPost(kSetBiasMessage, 0, 0);
    for (int i = 0; i < 500 && carried.empty(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    ASSERT_EQ(carried.size(), 1u);
    carried.clear();

    TempDir work;
    NightSettings night; // 10 frames, constant 30 / -15 "/h, noise off, default filters
    const NightResult result =
        RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
    ASSERT_TRUE(result.finished) << result.veldsimOutput;
    EXPECT_EQ(result.historyCount, night.frames);
    ExpectCancelledFrom(result, 4, 1.0, static_cast<size_t>(night.frames));

    // Window load resets the guider, then Start's sequence comes before any correction.
    QCoreApplication::processEvents();
    ASSERT_GE(carried.size(), 6u);
    const std::vector<std::string> expected{"MG_RemoteUnShift",  "MG_RemoteSetShift",
                                            "MG_RemoteUnShift",  "MG_RemoteCentroidType",
                                            "MG_RemoteSetShift", "MG_RemoteShift"};
    std::string sequence;
    for (const BusRecord& record : carried)
        sequence += record.name + " ";
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(carried[i].name, expected[i]) << "message " << i << " of: " << sequence;
    EXPECT_EQ(carried[4].wParam, 10000);
    EXPECT_EQ(carried[4].lParam, 10000);
    size_t setShifts = 0;
    for (size_t i = expected.size(); i < carried.size(); ++i)
        setShifts += carried[i].name == "MG_RemoteSetShift";
    EXPECT_EQ(setShifts, static_cast<size_t>(night.frames - 1)); // from the second image on
}

// Star frames measured by veldra-solve (solve-field on an index of veldsim's catalogue): the
// solver's own error is the only noise.
TEST_F(ClosedLoop, TheRealSolverMeasuresAConstantFlexureNight) {
    ASSERT_TRUE(BusConnected()) << "run inside dbus-run-session";
    const std::string veldsim = JoinPath(ProgramFolder(), "veldsim");
    const std::string solver = JoinPath(ProgramFolder(), "veldra-solve");
    // A file beside the program would win over the one this test gives it.
    ASSERT_FALSE(std::filesystem::exists(JoinPath(ProgramFolder(), "veldra-solve.ini")));

    TempDir config;
    const std::string indexFolder = config.file("index");
    std::filesystem::create_directories(config.file("veldra"));
    // The index folder is not made here: veldsim makes it, as the user guide's command expects.
    QProcess index;
    index.setProcessChannelMode(QProcess::MergedChannels);
    NightSettings night;
    night.frames = 8;
    night.solverPath = solver;
    // The catalogue follows the target and the camera: the night's own, veldsim's defaults
    // otherwise.
    index.start(QString::fromStdString(veldsim),
                {"--stars", "--dec", QString::number(night.declinationDegrees), "--index",
                 QString::fromStdString(indexFolder + "/index-sim.fits")});
    ASSERT_TRUE(index.waitForFinished(120000));
    ASSERT_EQ(index.exitCode(), 0) << index.readAll().toStdString();
    WriteFile(config.file("veldra/veldra-solve.ini"), "INDEX_DIR=" + indexFolder + "\n");
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = previous != nullptr ? previous : "";
    setenv("XDG_CONFIG_HOME", config.path.c_str(), 1);

    TempDir work;
    const NightResult result = RunHeadlessNight(work.path, veldsim, night);
    if (previous != nullptr)
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(result.finished) << result.veldsimOutput << ReadFile(work.file("debug.txt"));
    EXPECT_EQ(result.historyCount, night.frames) << ReadFile(work.file("debug.txt"));
    ExpectCancelledFrom(result, 4, 2.0, static_cast<size_t>(night.frames));
}

// Star frames registered against the first one (its WCS keywords), the field turning by 2
// degrees over the night, with hot pixels and a satellite trail in every fourth frame: the
// loop closes as it does with the keywords of every frame.
TEST_F(ClosedLoop, RegistrationMeasuresATurningNightWithHotPixelsAndTrails) {
    ASSERT_TRUE(BusConnected()) << "run inside dbus-run-session";
    TempDir work;
    NightSettings night;
    night.registration = true;
    night.rotationDegrees = 2;
    night.hotPixels = 30;
    night.trailEvery = 4;
    const NightResult result =
        RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
    const std::string log = ReadFile(work.file("debug.txt"));
    ASSERT_TRUE(result.finished) << result.veldsimOutput << log;
    EXPECT_EQ(result.historyCount, night.frames) << log;
    ExpectCancelledFrom(result, 4, 1.0, static_cast<size_t>(night.frames));
    size_t registered = 0;
    for (const std::string& line : LogMessages(work.path))
        registered +=
            line.find(" :    registration: ") == 0 && line.find(" matched, ") != std::string::npos;
    EXPECT_EQ(registered, static_cast<size_t>(night.frames - 1)) << log;
}
