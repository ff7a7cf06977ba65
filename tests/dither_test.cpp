// Dither awareness: the guide camera's pixel offsets on the sky, the measured map, the
// dither offset of an exposure, PHD2's events, and dithered pairs through the history.
#include "tests/test_support.h"
#include "veldra/drift/dither_map.h"
#include "veldra/drift/dither_offsets.h"
#include "veldra/drift/dither_pair.h"
#include "veldra/drift/history.h"
#include "veldra/guider/dither_events.h"
#include "veldra/settings/numbers.h"

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

} // namespace

TEST(DitherMap, CalibrationTurnsPixelsIntoSkyOffsetsByHand) {
    // 1.5 "/px throughout.  The lock position moves by (dx, dy); the star follows it, and a
    // star that moves along the RA axis (xAngle) means the image went West (RA down), one
    // along the DEC axis (yAngle) means it went North (DEC up).
    // xAngle 0, yAngle 90: x is the RA axis, y the DEC axis.  (2, 0) px is 2 px West:
    // RA -3"; (0, 2) px is 2 px North: DEC +3".
    GuideCamera camera{1.5, 0, 90, 1, 1};
    Matrix2 map = *CalibrationMap(camera);
    ExpectSky(map, {2, 0}, -3, 0);
    ExpectSky(map, {0, 2}, 0, 3);
    // xAngle 90, yAngle 180: the RA axis is +y, the DEC axis -x.  (1, 0) px is 1 px against
    // the DEC axis: DEC -1.5"; (0, 1) px is 1 px West: RA -1.5".
    camera = {1.5, 90, 180, 1, 1};
    map = *CalibrationMap(camera);
    ExpectSky(map, {1, 0}, 0, -1.5);
    ExpectSky(map, {0, 1}, -1.5, 0);
    // Parity "-" on RA reverses the RA axis: (2, 0) px is 2 px East, RA +3".
    camera = {1.5, 0, 90, -1, 1};
    ExpectSky(*CalibrationMap(camera), {2, 0}, 3, 0);
    // Parity "-" on DEC: (0, 2) px is 2 px South, DEC -3".
    camera = {1.5, 0, 90, 1, -1};
    ExpectSky(*CalibrationMap(camera), {0, 2}, 0, -3);
    // A mirrored camera (yAngle -90) is the same as parity "-" on DEC.
    camera = {1.5, 0, -90, 1, 1};
    ExpectSky(*CalibrationMap(camera), {0, 2}, 0, -3);
    ExpectSky(*CalibrationMap(camera), {2, 0}, -3, 0);
    // Axes within 10 degrees of each other, or no scale, give no map.
    EXPECT_FALSE(CalibrationMap({1.5, 30, 35, 1, 1}));
    EXPECT_FALSE(CalibrationMap({0, 0, 90, 1, 1}));
    EXPECT_FALSE(CalibrationMap({std::nan(""), 0, 90, 1, 1}));
    EXPECT_FALSE(CalibrationMap({1e300, 0, 90, 1, 1}));
    EXPECT_FALSE(CalibrationMap({1.5, std::nan(""), 90, 1, 1}));
}

TEST(DitherMap, FitRecoversTheMapFromAWrongSeedAndRefusesWeakData) {
    // The truth: a camera at 37 degrees, mirrored; the calibration says the opposite sign.
    // The predicted drift is 20 "/h off all along: the fit takes that as its own term.
    const Matrix2 truth = *CalibrationMap({1.5, 37, -53, 1, 1});
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
    EXPECT_FALSE(FitDitherMap(sums, &why));
    EXPECT_EQ(why, "4 of 5 dithers");
    for (int i = 0; i < 8; ++i)
        observe(sums, 1, 1);
    const auto fitted = FitDitherMap(sums, &why);
    ASSERT_TRUE(fitted) << why;
    EXPECT_LT(MapDifference(fitted->map, truth), 0.05);
    EXPECT_TRUE(FitReplacesCalibration(*fitted, wrongSeed));    // the seed's sign is not taken
    EXPECT_FALSE(FitReplacesCalibration({truth, 0.05}, truth)); // a confirmed seed stays

    // Twelve dithers along one line determine nothing across it.
    DitherFitSums line;
    for (int i = 1; i <= 12; ++i)
        AddDitherObservation(line, {i * 0.5, i * 1.0}, hours, SkyOffset(truth, {i * 0.5, i * 1.0}));
    EXPECT_FALSE(FitDitherMap(line, &why));
    EXPECT_EQ(why, "the dithers lie along one line");
    // Small dithers drowned in noise: the error is too large to trust.
    DitherFitSums noisy;
    for (int i = 0; i < 8; ++i)
        observe(noisy, 0.2, 10);
    EXPECT_FALSE(FitDitherMap(noisy, &why));
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
    // The open settling disturbs every exposure that ends after it began.
    EXPECT_TRUE(DitherDuring(track, 6000, 6300).disturbed);
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
            night->state.monitorState = MonitorState::Running;
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
                (30 + (1 - a) * state.currentRaCorrection + a * night.preceding.v0) * hours;
            night.motion.v1 +=
                (-15 + (1 - a) * state.currentDecCorrection + a * night.preceding.v1) * hours;
        }
        night.preceding = {state.currentRaCorrection, state.currentDecCorrection};
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

    const GuideCamera kTrueCamera{1.5, 37, -53, 1, 1};
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
    dithered.state.dithers.camera = GuideCamera{1.5, 0, 90, 1, 1};
    const Matrix2 map = *CalibrationMap(*dithered.state.dithers.camera);
    Append(dithered, {0, 0}, DitherInForce{});
    Append(dithered, {0, 0}, DitherInForce{});
    ASSERT_EQ(sent.size(), 1u);
    // A dither a quarter into image 3's exposure: three quarters of it count.
    Append(dithered, SkyOffset(map, {3, 0}), DitherInForce{3, 0, true});
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(dithered.state.historyCount, 3);
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
          " :    dither offset removed from this pair: RA -1.5\", DEC 0\" (1, 0 pixels through "
          "PHD2's calibration)",
          " :    the dither has no sky offset (PHD2 reports no calibration) -- no drift rate from "
          "this image",
          " :    PHD2 was not connected all the time since the previous image -- no drift rate "
          "from this image"})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
}

TEST_F(DitheredHistory, ACalibrationOfTheWrongSignIsFoundOutAndTheLoopRecovers) {
    dithered.state.dithers.camera = GuideCamera{1.5, 37 + 180, -53 + 180, 1, 1};
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
