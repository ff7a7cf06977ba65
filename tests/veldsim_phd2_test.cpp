// veldsim's PHD2 stand-in: its answers, the shift it applies to the image the way PHD2
// does, its command line, and its dithers (through a running veldsim).
#include "tests/qt_test_app.h"
#include "tests/test_support.h"
#include "tools/veldsim/phd2_standin.h"
#include "tools/veldsim/sim_options.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <charconv>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new QtTestApplication<QCoreApplication>("veldsim_phd2_test"));

QJsonObject Request(const char* method, const QJsonValue& params = QJsonValue::Undefined) {
    QJsonObject request{{"jsonrpc", "2.0"}, {"method", method}, {"id", 7}};
    if (!params.isUndefined())
        request.insert("params", params);
    return request;
}

QJsonObject ShiftParams(double ra, double dec, const char* units = "arcsec/hr") {
    return {{"rate", QJsonArray{ra, dec}}, {"units", units}, {"axes", "RA/Dec"}};
}

const double kPi = 3.14159265358979323846;
const int kBoundMs = 60000;

int FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A night of 4 frames of 60 s with 10 s gaps from 2026-12-08T21:00:00 UTC, the stand-in on
// `port`; veldsim has printed its "listening" line when this returns true.
bool StartNight(QProcess& veldsim, const std::string& folder, int port, QStringList extra) {
    veldsim.start(VELDSIM_EXE, QStringList{"--folder",   QString::fromStdString(folder),
                                           "--guider",   "phd2",
                                           "--port",     QString::number(port),
                                           "--frames",   "4",
                                           "--exposure", "60",
                                           "--gap",      "10",
                                           "--cadence",  "0.2",
                                           "--tail",     "0",
                                           "--seed",     "5",
                                           "--start",    "2026-12-08T21:00:00"} +
                                   extra);
    QByteArray output;
    while (!output.contains("listening") && veldsim.waitForReadyRead(kBoundMs))
        output += veldsim.readAllStandardOutput();
    return output.contains("listening");
}

double Card(const std::string& path, const char* key) {
    const std::string text = CardValue(path, key);
    double value = NAN;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace

TEST(VeldsimPhd2, AppliesTheShiftAsPhd2DoesForSt4AndDeclinationReportingMounts) {
    Phd2Standin standin;
    standin.mount.declinationDegrees = 60;
    std::optional<QJsonObject> answer =
        Phd2StandinAnswer(standin, Request("set_lock_shift_params", ShiftParams(-60, 15)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->value("id"), 7);
    EXPECT_TRUE(answer->contains("result"));
    // Set but not switched on: no motion.
    EXPECT_EQ(Phd2StandinSkyRates(standin).ra, 0);
    Phd2StandinAnswer(standin, Request("set_lock_shift_enabled", QJsonArray{true}));
    // An ST-4 class mount: "connected", parities "?", PHD2's unknown declination, and the
    // RA rate taken as a rate on the sky.  The camera rate is that through xAngle 0.
    const auto result = [&standin](const char* method, const QJsonValue& params = {}) {
        return Phd2StandinAnswer(standin, Request(method, params))->value("result");
    };
    EXPECT_EQ(result("get_current_equipment")["mount"]["connected"], true);
    EXPECT_EQ(result("get_calibration_data")["xParity"], "?");
    EXPECT_GT(result("get_calibration_data")["declination"].toDouble(), 57000);
    EXPECT_NEAR(Phd2StandinSkyRates(standin).ra, -60, 1e-9);
    EXPECT_NEAR(Phd2StandinSkyRates(standin).dec, 15, 1e-9);
    const QJsonValue xy = result("get_lock_shift_params", QJsonObject{{"axes", "X/Y"}});
    EXPECT_NEAR(xy["rate"][0].toDouble(), -40, 1e-9);
    EXPECT_NEAR(xy["rate"][1].toDouble(), 10, 1e-9);
    EXPECT_EQ(xy["units"], "pixels/hr");
    // A mount that reports DEC 60: a rate of the RA coordinate, cos 60 deg = 0.5 of it on
    // the sky, whatever the DEC parity (PHD2 undoes a "-").
    standin.mount.reportsDeclination = true;
    for (const int decSign : {1, -1}) {
        standin.mount.decSign = decSign;
        EXPECT_NEAR(Phd2StandinSkyRates(standin).ra, -30, 1e-9);
        EXPECT_NEAR(Phd2StandinSkyRates(standin).dec, 15, 1e-9);
    }
    EXPECT_EQ(result("get_calibration_data")["yParity"], "-");
    EXPECT_EQ(result("get_calibration_data")["declination"], 60);
    EXPECT_EQ(result("get_lock_shift_params")["rate"], (QJsonArray{-60, 15}));
    // No pixel scale: null, and "/h read as pixels/h.
    standin.pixelScaleKnown = false;
    EXPECT_TRUE(result("get_pixel_scale").isNull());
    EXPECT_NEAR(Phd2StandinSkyRates(standin).ra, -45, 1e-9);
    standin.pixelScaleKnown = true;
    standin.guiding = false;
    EXPECT_EQ(Phd2StandinSkyRates(standin).dec, 0);
    standin.guiding = true;

    // Refused requests leave the shift as it was.
    for (const QJsonObject& bad :
         {Request("set_lock_shift_params", ShiftParams(1, 2, "pixels/hr")),
          Request("set_lock_shift_params", QJsonObject{{"rate", QJsonArray{1}}}),
          Request("set_lock_shift_enabled", QJsonArray{"yes"}),
          Request("get_calibration_data", QJsonObject{{"which", "both"}}),
          Request("no_such_method")}) {
        answer = Phd2StandinAnswer(standin, bad);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->value("error")["message"].isString())
            << bad.value("method").toString().toStdString();
    }
    EXPECT_NEAR(Phd2StandinSkyRates(standin).dec, 15, 1e-9);

    // The lock creeps 20 px/h towards x = 0 from x = 26: at 0.6 h it is out of the
    // allowed area (x below 16), PHD2 switches the shift off and says so.
    standin.lockX = 26;
    EXPECT_TRUE(Phd2StandinAdvance(standin, 0.4).empty());
    EXPECT_NEAR(standin.lockX, 18, 1e-9);
    const std::vector<QByteArray> limit = Phd2StandinAdvance(standin, 0.6);
    ASSERT_EQ(limit.size(), 2u);
    EXPECT_TRUE(limit[0].contains("\"LockPositionShiftLimitReached\""));
    EXPECT_TRUE(limit[1].contains("\"Alert\""));
    EXPECT_FALSE(standin.shiftEnabled);
    EXPECT_EQ(Phd2StandinSkyRates(standin).ra, 0);

    standin.silent = true;
    EXPECT_FALSE(Phd2StandinAnswer(standin, Request("get_pixel_scale")));
}

TEST(VeldsimPhd2, DithersMoveTheMountAlongItsAxesAndReflectAtTheFrameEdge) {
    // Whatever the camera angle, (dx, dy) is dx pixel scales along RA and dy along DEC.
    Phd2Standin standin;
    standin.camera = {200, true, 1.5};
    DitherWalk walk;
    walk.arcsec = 8;
    const Dither free = NextDither(walk, standin);
    EXPECT_NEAR(walk.total.ra, 1.5 * free.dx, 1e-12);
    EXPECT_NEAR(walk.total.dec, 1.5 * free.dy, 1e-12);
    // The lock moved by the camera equivalent (src/mount.cpp).
    const CameraPoint moved = CameraFromMount(standin.camera, free.dx, free.dy);
    EXPECT_NEAR(standin.lockX, 320 + moved.x, 1e-12);
    // At the left edge with xAngle 0, every move to the left is reflected: the
    // event keeps the drawn dx, the lock and the sky take the reflected one.
    standin.camera = {0, false, 1.5};
    walk.raOnly = true;
    int reflected = 0;
    for (int i = 0; i < 20; ++i) {
        standin.lockX = 16;
        const SkyOffset before = walk.total;
        const Dither d = NextDither(walk, standin);
        EXPECT_EQ(d.dy, 0);
        EXPECT_GE(d.movedRa, 0);
        EXPECT_EQ(std::abs(d.movedRa), std::abs(d.dx));
        EXPECT_NEAR(walk.total.ra - before.ra, 1.5 * d.movedRa, 1e-12);
        reflected += d.movedRa != d.dx;
    }
    EXPECT_GT(reflected, 0);
    // A new client first gets what PHD2 sends on connect (src/event_server.cpp).
    std::string names;
    for (const QByteArray& line : Phd2StandinCatchUpEvents(standin))
        names +=
            QJsonDocument::fromJson(line).object().value("Event").toString().toStdString() + " ";
    EXPECT_EQ(names, "Version LockPositionSet StarSelected CalibrationComplete StartGuiding "
                     "AppState ");
}

TEST(VeldsimPhd2, CommandLine) {
    SimOptions options;
    bool help = false;
    ASSERT_EQ(ParseSimOptions({"--folder",
                               "f",
                               "--guider",
                               "phd2",
                               "--port",
                               "4471",
                               "--phd2-mount",
                               "--phd2-at",
                               "0:quit,3:start,5:start-guiding,6:flip",
                               "--dither-ra-only",
                               "--phd2-no-scale",
                               "--phd2-dec-reversed",
                               "--phd2-lock-x",
                               "30",
                               "--dither",
                               "8",
                               "--dither-every",
                               "3",
                               "--guide-angle",
                               "37",
                               "--guide-mirrored",
                               "--guide-scale",
                               "2"},
                              options, help),
              "");
    EXPECT_EQ(options.ditherArcsec, 8);
    EXPECT_EQ(options.ditherEvery, 3);
    EXPECT_EQ(options.guideAngle, 37);
    EXPECT_TRUE(options.guideMirrored);
    EXPECT_EQ(options.guideScale, 2);
    EXPECT_EQ(options.guider, "phd2");
    EXPECT_EQ(options.port, 4471);
    EXPECT_TRUE(options.phd2Mount);
    EXPECT_TRUE(options.ditherRaOnly);
    EXPECT_TRUE(options.phd2NoScale);
    EXPECT_TRUE(options.phd2DecReversed);
    EXPECT_EQ(options.phd2LockX, 30);
    ASSERT_EQ(options.phd2Schedule.size(), 4u);
    EXPECT_EQ(options.phd2Schedule[1], (std::pair<int, std::string>{3, "start"}));
    for (std::vector<std::string> bad : {std::vector<std::string>{"--guider", "metaguide"},
                                         {"--port", "0"},
                                         {"--port", "70000"},
                                         {"--phd2-at", "3:explode"},
                                         {"--phd2-at", "x:quit"},
                                         {"--phd2-at", "3:quit,"},
                                         {"--dither", "3"}, // only PHD2 announces dithers
                                         {"--guider", "phd2", "--dither", "3", "--gap", "3"},
                                         {"--dither-every", "0"},
                                         {"--guide-scale", "0"},
                                         {"--guide-angle", "nan"},
                                         {"--phd2-lock-x", "640"},
                                         {"--start", "tonight"}}) {
        SimOptions other;
        bad.insert(bad.begin(), {"--folder", "f"});
        EXPECT_NE(ParseSimOptions(bad, other, help), "") << bad[2] << " " << bad[3];
    }
}

TEST(VeldsimPhd2, DithersAreAnnouncedInTheGapAndMoveTheFollowingFrames) {
    TempDir plain, dithered;
    QProcess withoutDither;
    ASSERT_TRUE(StartNight(withoutDither, plain.path, FreePort(), {"--first-delay", "0"}));
    ASSERT_TRUE(withoutDither.waitForFinished(kBoundMs));

    // The first frame comes 3 s after the "listening" line: time enough to connect before
    // the first dither.
    const int port = FreePort();
    QProcess veldsim;
    ASSERT_TRUE(StartNight(veldsim, dithered.path, port,
                           {"--first-delay", "3", "--dither", "3", "--guide-angle", "90",
                            "--guide-mirrored", "--guide-scale", "2"}));
    QTcpSocket phd2;
    phd2.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    ASSERT_TRUE(phd2.waitForConnected(kBoundMs));
    phd2.write(R"({"jsonrpc":"2.0","method":"get_calibration_data","id":1})"
               "\r\n"
               R"({"jsonrpc":"2.0","method":"get_pixel_scale","id":2})"
               "\r\n");
    std::vector<QJsonObject> events;
    std::map<int, QJsonValue> results;
    QElapsedTimer waited;
    waited.start();
    while (veldsim.state() != QProcess::NotRunning && waited.elapsed() < kBoundMs) {
        phd2.waitForReadyRead(100);
        veldsim.waitForFinished(0);
        while (phd2.canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(phd2.readLine()).object();
            if (line.contains("Event"))
                events.push_back(line);
            else
                results[line.value("id").toInt()] = line.value("result");
        }
    }
    ASSERT_EQ(veldsim.state(), QProcess::NotRunning);
    ASSERT_EQ(veldsim.exitCode(), 0);
    EXPECT_EQ(results[1].toObject().value("xAngle"), 90);
    EXPECT_EQ(results[1].toObject().value("yAngle"), 0);
    EXPECT_EQ(results[2], 2);
    ASSERT_GE(events.size(), 6u);
    events.erase(events.begin(), events.begin() + 6); // what PHD2 sends on connect

    // After frames 1, 2 and 3 (not after the last), each inside the gap that follows the
    // frame: exposures end 60 s after 1796763600 (the start as Unix time), then every 70 s.
    ASSERT_EQ(events.size(), 12u);
    double sumDx = 0, sumDy = 0;
    for (int frame = 1; frame <= 4; ++frame) {
        const std::string name = "/frame_000" + std::to_string(frame) + ".fit";
        // PHD2's dx, dy are in mount axes: the pointing moves 2" per pixel along RA and
        // DEC whatever the camera's angle (90, mirrored here).  RA in CRVAL1 is divided by
        // cos(DEC 30).  (CRVAL has 7 significant digits: 0.00001 degrees, 0.036".)
        const double ra =
            (Card(dithered.path + name, "CRVAL1") - Card(plain.path + name, "CRVAL1")) * 3600 *
            std::cos(30 * kPi / 180);
        const double dec =
            (Card(dithered.path + name, "CRVAL2") - Card(plain.path + name, "CRVAL2")) * 3600;
        EXPECT_NEAR(ra, 2 * sumDx, 0.04) << "frame " << frame;
        EXPECT_NEAR(dec, 2 * sumDy, 0.04) << "frame " << frame;
        if (frame == 4)
            break;
        const QJsonObject* dither = &events[static_cast<size_t>(frame - 1) * 4 + 1];
        const double exposureEnd = 1796763600.0 + (frame - 1) * 70 + 60;
        EXPECT_EQ(dither[-1].value("Event"), "LockPositionSet");
        EXPECT_EQ(dither[0].value("Event"), "GuidingDithered");
        EXPECT_EQ(dither[1].value("Event"), "SettleBegin");
        EXPECT_EQ(dither[2].value("Event"), "SettleDone");
        EXPECT_EQ(dither[2].value("Status"), 0);
        const double ditheredAt = dither[0].value("Timestamp").toDouble();
        EXPECT_GT(ditheredAt, exposureEnd);
        EXPECT_EQ(dither[1].value("Timestamp").toDouble(), ditheredAt);
        EXPECT_GT(dither[2].value("Timestamp").toDouble(), ditheredAt);
        EXPECT_LT(dither[2].value("Timestamp").toDouble(), exposureEnd + 10);
        const double dx = dither[0].value("dx").toDouble();
        const double dy = dither[0].value("dy").toDouble();
        EXPECT_LE(std::max(std::abs(dx), std::abs(dy)), 1.5); // 3" / 2"/pixel
        EXPECT_GT(std::abs(dx) + std::abs(dy), 0);
        sumDx += dx;
        sumDy += dy;
    }

    QProcess refused; // only PHD2 announces dithers
    refused.start(VELDSIM_EXE, {"--folder", QString::fromStdString(plain.path), "--dither", "3"});
    ASSERT_TRUE(refused.waitForFinished(kBoundMs));
    EXPECT_EQ(refused.exitCode(), 2);
}
