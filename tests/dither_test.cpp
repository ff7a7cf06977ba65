// Dither awareness: the guide camera's pixel offsets on the sky, the measured map, the
// dither offset of an exposure, PHD2's events, and dithered pairs through the history.
#include "common/numbers.h"
#include "tests/test_support.h"
#include "veldra/drift/dither_map.h"
#include "veldra/drift/dither_offsets.h"
#include "veldra/drift/dither_pair.h"
#include "veldra/drift/history.h"
#include "veldra/drift/kalman.h"
#include "veldra/guider/dither_events.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void ExpectSky(const Matrix2& map, Vector2 pixels, double ra, double dec) {
    const Vector2 sky = SkyOffset(map, pixels);
    EXPECT_NEAR(sky.v0, ra, 1e-12) << "pixels " << pixels.v0 << ", " << pixels.v1;
    EXPECT_NEAR(sky.v1, dec, 1e-12) << "pixels " << pixels.v0 << ", " << pixels.v1;
}

Phd2Incoming Event(const std::string& json) {
    Phd2Incoming event;
    event.kind = Phd2Incoming::Kind::Event;
    event.object = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    event.event = event.object.value("Event").toString().toStdString();
    return event;
}

GuideCamera Camera(double scale, double xAngle, double yAngle, int xParity, int yParity) {
    GuideCamera camera;
    camera.pixelScale = scale;
    camera.xAngle = xAngle;
    camera.yAngle = yAngle;
    camera.xParity = xParity;
    camera.yParity = yParity;
    return camera;
}

} // namespace

TEST(DitherMap, PhdMountAxisDithersAreSkyOffsetsWhateverTheCameraAngle) {
    // PHD2 announces a dither in its mount's axes: (2, 0) px is 2 px the way an East pulse
    // moves the pointing, RA +3" at 1.5 "/px; (0, 2) px is DEC +3".  The camera angle only
    // places the lock's move on the camera; it does not enter the sky offset.
    for (const double xAngle : {0.0, 37.0, 200.0})
        for (const double turn : {90.0, -90.0}) {
            const Matrix2 map = *CalibrationMap(Camera(1.5, xAngle, xAngle + turn, 1, 0));
            ExpectSky(map, {2, 0}, 3, 0);
            ExpectSky(map, {0, 2}, 0, 3);
        }
    // Parity "-": that pulse moves the pointing the other way.  "?" counts as "+".
    ExpectSky(*CalibrationMap(Camera(1.5, 0, 90, -1, 1)), {2, 0}, -3, 0);
    ExpectSky(*CalibrationMap(Camera(1.5, 0, 90, 1, -1)), {0, 2}, 0, -3);
    ExpectSky(*CalibrationMap(Camera(1.5, 0, 90, 0, 0)), {2, 2}, 3, 3);
    // PHD2's mount-to-camera turn (src/mount.cpp): +RA at xAngle, +DEC at xAngle + 90, or
    // at xAngle - 90 when yAngle says the camera is mirrored.
    Vector2 camera;
    MatrixTimesVector(AxesToCamera(90, 180), {0, 1}, camera);
    EXPECT_NEAR(camera.v0, -1, 1e-12);
    EXPECT_NEAR(camera.v1, 0, 1e-12);
    MatrixTimesVector(AxesToCamera(90, 0), {0, 1}, camera);
    EXPECT_NEAR(camera.v0, 1, 1e-12);
    // An AO at 90 degrees to the mount: its dx is the mount's DEC.
    GuideCamera ao = Camera(1.5, 0, 90, 1, 1);
    ao.aoXAngle = 90;
    ao.aoYAngle = 180;
    ExpectSky(*CalibrationMap(ao), {2, 0}, 0, 3);
    ExpectSky(*CalibrationMap(ao), {0, 2}, -3, 0);
    // No scale, no map.
    EXPECT_FALSE(CalibrationMap(Camera(0, 0, 90, 1, 1)));
    EXPECT_FALSE(CalibrationMap(Camera(std::nan(""), 0, 90, 1, 1)));
    EXPECT_FALSE(CalibrationMap(Camera(1e300, 0, 90, 1, 1)));
}

TEST(DitherMap, FitRecoversTheMapFromAWrongSeedAndRefusesWeakData) {
    // The truth: parity "-" on RA; the calibration says the opposite sign.  The predicted
    // drift is 20 "/h off all along: the fit takes that as its own term.
    const Matrix2 truth = *CalibrationMap(Camera(1.5, 37, -53, -1, 1));
    const Matrix2 wrongSeed{-truth.m00, -truth.m01, -truth.m10, -truth.m11};
    const double hours = 310.0 / 3600;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> step(-5, 5);
    std::normal_distribution<double> noise(0, 0.3);
    const auto observe = [&](DitherFitSums& sums, double stepScale, double noiseScale) {
        const Vector2 p{step(random) * stepScale, step(random) * stepScale};
        const Vector2 s = SkyOffset(truth, p);
        AddDitherObservation(
            sums, p, hours,
            {s.v0 + 20 * hours + noiseScale * noise(random), s.v1 + noiseScale * noise(random)});
    };
    DitherFitSums sums;
    std::string why;
    for (int i = 0; i < 4; ++i)
        observe(sums, 1, 1);
    EXPECT_FALSE(FitDitherMap(sums, {}, &why));
    EXPECT_EQ(why, "4 of 5 dithers");
    for (int i = 0; i < 8; ++i)
        observe(sums, 1, 1);
    const auto fitted = FitDitherMap(sums, {}, &why);
    ASSERT_TRUE(fitted) << why;
    EXPECT_LT(MapDifference(fitted->map, truth), 0.05);
    EXPECT_TRUE(FitReplacesCalibration(*fitted, wrongSeed));    // the seed's sign is not taken
    EXPECT_FALSE(FitReplacesCalibration({truth, 0.05}, truth)); // a confirmed seed stays

    // Twelve dithers along one line determine nothing across it: without a calibration
    // no map; with one, the map along the line and the calibration across it.  RA-only
    // dithers (dy 0) so find a wrong RA sign and keep the right DEC column.
    DitherFitSums line;
    for (int i = 1; i <= 12; ++i) {
        const Vector2 p{(i % 2 ? 1 : -1) * i * 0.5, 0};
        AddDitherObservation(line, p, hours, SkyOffset(truth, p));
    }
    EXPECT_FALSE(FitDitherMap(line, {}, &why));
    EXPECT_EQ(why, "the dithers lie along one line");
    const auto alongRa = FitDitherMap(line, wrongSeed, &why);
    ASSERT_TRUE(alongRa) << why;
    EXPECT_NEAR(alongRa->map.m00, truth.m00, 1e-9);
    EXPECT_NEAR(alongRa->map.m10, 0, 1e-9);
    EXPECT_NEAR(alongRa->map.m11, wrongSeed.m11, 1e-9);
    EXPECT_TRUE(FitReplacesCalibration(*alongRa, wrongSeed));
    // Small dithers drowned in noise: the error is too large to trust.
    DitherFitSums noisy;
    for (int i = 0; i < 8; ++i)
        observe(noisy, 0.2, 10);
    EXPECT_FALSE(FitDitherMap(noisy, {}, &why));
    EXPECT_NE(why.find("an error of"), std::string::npos) << why;
}

TEST(DitherTrack, EventsGiveEachExposureItsOffsetAndItsDisturbance) {
    DitherTrack track;
    const double arrival = 5000;
    // PHD2's Timestamp dates an event; without one, its arrival does.
    EXPECT_EQ(RecordDitherEvent(
                  track, Event(R"({"Event":"GuidingDithered","dx":2,"dy":-1,"Timestamp":1000})"),
                  arrival),
              "");
    RecordDitherEvent(track, Event(R"({"Event":"SettleBegin","Timestamp":1000.5})"), arrival);
    RecordDitherEvent(track, Event(R"({"Event":"SettleDone","Status":0,"Timestamp":1004})"),
                      arrival);
    RecordDitherEvent(track, Event(R"({"Event":"GuidingDithered","dx":0.5,"dy":3})"), arrival);
    EXPECT_EQ(
        RecordDitherEvent(track, Event(R"({"Event":"GuidingDithered","dx":"x","dy":1})"), arrival),
        " :    PHD2 announced a dither without a usable dx, dy -- ignored");
    EXPECT_NE(
        RecordDitherEvent(track, Event(R"({"Event":"GuidingDithered","dx":1e9,"dy":1})"), arrival),
        "");
    ASSERT_EQ(track.steps.size(), 2u);
    EXPECT_EQ(track.steps[1].time, arrival);
    ASSERT_EQ(track.settles.size(), 2u);
    EXPECT_EQ(track.settles[0].end, 1004); // the second dither's settling is still open

    // Before the first dither: nothing.  After its settling: its offset, undisturbed.
    DitherInForce before = DitherDuring(track, 700, 1000);
    EXPECT_EQ(before.dx, 0);
    EXPECT_FALSE(before.disturbed);
    DitherInForce after = DitherDuring(track, 1005, 1300);
    EXPECT_EQ(after.dx, 2);
    EXPECT_EQ(after.dy, -1);
    EXPECT_FALSE(after.disturbed);
    // The settling overlaps an exposure that starts at 1003.
    EXPECT_TRUE(DitherDuring(track, 1003, 1300).disturbed);
    // A dither a quarter into an exposure counts three quarters, and disturbs it.
    DitherInForce during = DitherDuring(track, 999, 1003);
    EXPECT_DOUBLE_EQ(during.dx, 2 * 0.75);
    EXPECT_TRUE(during.disturbed);
    // The open settling disturbs the exposures that overlap its first 120 s.
    EXPECT_TRUE(DitherDuring(track, 5100, 5400).disturbed);
    EXPECT_FALSE(DitherDuring(track, 5121, 5400).disturbed);
    // Each time the link comes up counts from then on; going down and staying up do not.
    SetGuiderConnected(track, true, 500);
    SetGuiderConnected(track, true, 600);
    SetGuiderConnected(track, false, 2000);
    SetGuiderConnected(track, true, 2100);
    EXPECT_EQ(DitherDuring(track, 100, 400).connections, 0);
    EXPECT_EQ(DitherDuring(track, 1005, 1300).connections, 1);
    EXPECT_EQ(DitherDuring(track, 1900, 2200).connections, 2);

    // A long night: old dithers are summed, the offsets stay the same.
    DitherTrack longNight;
    for (size_t i = 0; i < kDitherStepsKept + 10; ++i)
        RecordDitherEvent(longNight,
                          Event(R"({"Event":"GuidingDithered","dx":1,"dy":0.5,"Timestamp":)" +
                                std::to_string(i) + "}"),
                          arrival);
    EXPECT_LE(longNight.steps.size(), kDitherStepsKept);
    EXPECT_LE(longNight.settles.size(), kSettleSpansKept);
    EXPECT_EQ(DitherDuring(longNight, 1e6, 1e6 + 300).dx, kDitherStepsKept + 10.0);
}

TEST(DitherTrack, ReflectedDithersStoppedSettlingAndTheShiftLimit) {
    DitherTrack track;
    track.camera = Camera(1.5, 0, 90, 0, 0); // mount axes = camera axes
    const auto lock = [&track](double x, double y) {
        RecordDitherEvent(track,
                          Event(R"({"Event":"LockPositionSet","X":)" + std::to_string(x) +
                                R"(,"Y":)" + std::to_string(y) + "}"),
                          0);
    };
    const auto dither = [&track](double time) {
        return RecordDitherEvent(track,
                                 Event(R"({"Event":"GuidingDithered","dx":3,"dy":2,"Timestamp":)" +
                                       std::to_string(time) + "}"),
                                 0);
    };
    // PHD2 reflected the RA part near the edge but announced (3, 2): the lock's move says
    // (-3, 2).  A move off by the shift's creep keeps what was announced.
    lock(100, 100);
    lock(97, 102);
    EXPECT_EQ(dither(1000), " :    PHD2 reflected the dither near the frame edge: taken as -3, 2 "
                            "pixels from the lock position's move");
    lock(100.3, 104.2);
    EXPECT_EQ(dither(1100), "");
    ASSERT_EQ(track.steps.size(), 2u);
    EXPECT_EQ(track.steps[0].dx, -3);
    EXPECT_EQ(track.steps[1].dx, 3);
    // A stop of guiding ends settling; a settling never reported done ends after 120 s.
    RecordDitherEvent(track, Event(R"({"Event":"GuidingStopped","Timestamp":1110})"), 0);
    EXPECT_EQ(track.settles.back().end, 1110);
    dither(2000);
    EXPECT_TRUE(DitherDuring(track, 2100, 2130).disturbed);
    EXPECT_FALSE(DitherDuring(track, 2121, 2400).disturbed);
    // So does a lost connection.
    SetGuiderConnected(track, true, 2900);
    dither(3000);
    SetGuiderConnected(track, false, 3010);
    EXPECT_EQ(track.settles.back().end, 3010);
    // The shift off at PHD2's limit from 5000 to 5600: the seconds by an exposure's middle.
    RecordDitherEvent(track, Event(R"({"Event":"LockPositionShiftLimitReached","Timestamp":5000})"),
                      0);
    EXPECT_EQ(DitherDuring(track, 5200, 5400).shiftOffSeconds, 300);
    SetShiftOff(track, false, 5600);
    EXPECT_EQ(DitherDuring(track, 5900, 6100).shiftOffSeconds, 600);
    EXPECT_EQ(DitherDuring(track, 4000, 4200).shiftOffSeconds, 0);
}

// Closed-loop nights through AppendMeasurement: images 310 s apart with 300 s exposures,
// flexure +30 / -15 "/h, and the guider applying each correction from the end of the
// exposure that produced it (the weighting ComputeDriftRates assumes).
struct SimNight {
    MainState state;
    Vector2 motion;    // arcsec on the sky since image 0, flexure and corrections
    Vector2 preceding; // the correction before the one now in force
    int images = 0;
};

class DitheredHistory : public ::testing::Test {
  protected:
    DitheredHistory() {
        for (SimNight* night : {&plain, &dithered}) {
            night->state.programFolder = night == &plain ? plainFolder.path : folder.path;
            night->state.monitor.monitorState = MonitorState::Running;
        }
        dithered.state.dithers.announced = true;
        platform.postMessage = [this](const std::string& name, int32_t w, int32_t l) {
            if (name == "MG_RemoteSetShift")
                sent.push_back(std::to_string(w) + " " + std::to_string(l));
        };
        platform.sendMessage = [](const std::string&, int32_t, int32_t) {};
    }
    void Append(SimNight& night, const Vector2& ditherSky,
                const std::optional<DitherInForce>& dither) {
        MainState& state = night.state;
        if (night.images > 0) {
            const double hours = 310.0 / 3600;
            const double a = 150.0 / 310; // the previous exposure's second half
            night.motion.v0 +=
                (30 + (1 - a) * state.drift.currentRaCorrection + a * night.preceding.v0) * hours;
            night.motion.v1 +=
                (-15 + (1 - a) * state.drift.currentDecCorrection + a * night.preceding.v1) * hours;
        }
        night.preceding = {state.drift.currentRaCorrection, state.drift.currentDecCorrection};
        const double dec = 0.5 + (night.motion.v1 + ditherSky.v1) / kArcsecPerRadian;
        const double ra = 1.0 + (night.motion.v0 + ditherSky.v0) / kArcsecPerRadian / std::cos(dec);
        const double days = 0.5 + night.images * 310.0 / 86400;
        AppendMeasurement(state, platform, "/n/img" + std::to_string(++night.images) + ".fit", days,
                          ra, dec, 300, dither);
    }

    // Appends `images` images to both nights; the dithered one takes a random step of up to
    // 5 px per axis between images, through the camera at 37 degrees, mirrored.
    void RunNights(int images) {
        const Matrix2 truth = *CalibrationMap(kTrueCamera);
        std::mt19937 random(3);
        std::uniform_real_distribution<double> step(-5, 5);
        DitherInForce offset;
        for (int k = 0; k < images; ++k) {
            Append(plain, {0, 0}, std::nullopt);
            if (k > 0)
                offset = {offset.dx + step(random), offset.dy + step(random), false};
            Append(dithered, SkyOffset(truth, {offset.dx, offset.dy}), offset);
        }
    }

    const GuideCamera kTrueCamera = Camera(1.5, 37, -53, 1, 1);
    TempDir folder; // the dithered night's log
    TempDir plainFolder;
    SimNight plain;
    SimNight dithered;
    Platform platform;
    std::vector<std::string> sent;
};

TEST_F(DitheredHistory, OffsetsAreTakenOutAndTheMeasuredMapTakesOver) {
    dithered.state.dithers.camera = kTrueCamera;
    RunNights(12);
    // The same corrections, image by image, first through the calibration and then
    // through the measured map (noise-free, the filters predict the drift exactly).
    ASSERT_EQ(sent.size(), 22u);
    for (size_t i = 0; i < sent.size(); i += 2)
        EXPECT_EQ(sent[i + 1], sent[i]) << "image " << i / 2 + 2;
    EXPECT_EQ(sent.back(), "9970 10015");
    EXPECT_TRUE(dithered.state.dithers.fit.inUse);
    const std::vector<std::string> log = LogMessages(folder.path);
    const auto starts = [&log](const std::string& text) {
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.rfind(text, 0) == 0; });
    };
    EXPECT_EQ(starts(" : dither map measured from 5 dithers replaces PHD2's calibration: "), 1);
    EXPECT_EQ(starts(" : the dither map measured from "), 0); // they agree
    EXPECT_EQ(starts(" :    dither offset removed from this pair: "), 11);
}

TEST_F(DitheredHistory, ADisturbedImageGivesNoRateButBasesTheNextPair) {
    dithered.state.dithers.camera = Camera(1.5, 0, 90, 1, 1);
    const Matrix2 map = *CalibrationMap(*dithered.state.dithers.camera);
    Append(dithered, {0, 0}, DitherInForce{});
    Append(dithered, {0, 0}, DitherInForce{});
    ASSERT_EQ(sent.size(), 1u);
    // A dither a quarter into image 3's exposure: three quarters of it count.
    Append(dithered, SkyOffset(map, {3, 0}), DitherInForce{3, 0, true});
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(dithered.state.drift.historyCount, 3);
    Append(dithered, SkyOffset(map, {4, 0}), DitherInForce{4, 0, false});
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "9970 10015");
    // Neither does a pair across a reconnection of PHD2, nor, without a calibration, a
    // dithered pair.
    Append(dithered, SkyOffset(map, {5, 0}), DitherInForce{5, 0, false, 1});
    dithered.state.dithers.camera.reset();
    Append(dithered, SkyOffset(map, {6, 0}), DitherInForce{6, 0, false, 1});
    EXPECT_EQ(sent.size(), 2u);
    const std::vector<std::string> log = LogMessages(folder.path);
    for (const char* line :
         {" :    dither offset in force: 3, 0 pixels (a dither during the exposure)",
          " :    a dither or its settling overlapped the exposure -- no drift rate from this image",
          " :    dither offset removed from this pair: RA 1.5\", DEC 0\" (1, 0 pixels through "
          "PHD2's calibration)",
          " :    the dither has no sky offset (PHD2 reports no calibration) -- no drift rate from "
          "this image",
          " :    PHD2 was not connected all the time since the previous image -- no drift rate "
          "from this image"})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
}

TEST_F(DitheredHistory, ACalibrationOfTheWrongSignIsFoundOutAndTheLoopRecovers) {
    dithered.state.dithers.camera = Camera(1.5, 37, -53, -1, -1);
    RunNights(16);
    // The first corrections are far off (the dithers are added, not removed).  With the
    // fifth dither the measured map shows the calibration wrong, removes the dithers from
    // then on and reseeds the filters: from image 6 on the undithered night's corrections.
    for (size_t i = 0; i < 4 * 2; i += 2)
        EXPECT_NE(sent[i + 1], sent[i]) << "image " << i / 2 + 2;
    for (size_t i = 4 * 2; i < sent.size(); i += 2)
        EXPECT_EQ(sent[i + 1], sent[i]) << "image " << i / 2 + 2;
    const std::vector<std::string> log = LogMessages(folder.path);
    const auto logged = [&log](const std::string& start) {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& line) { return line.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(logged(" : dither map measured from 5 dithers replaces PHD2's calibration: "));
    EXPECT_TRUE(logged(" : the dither map measured from 5 dithers differs from PHD2's by 200 % "));
}
