// History, drift rates, filter, correction and guider messages, with a recording Platform.
#include "common/date_time.h"
#include "common/numbers.h"
#include "tests/test_support.h"
#include "veldra/drift/bias_rule.h"
#include "veldra/drift/correction.h"
#include "veldra/drift/history.h"
#include "veldra/drift/kalman.h"
#include "veldra/guider/guider_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

// One radian in arcseconds as the program's pi gives it: 648000 / 3.14159265358979.
const double kArcsecPerRadian = 648000 / 3.14159265358979;
const double kHour = 1.0 / 24;      // days
const double kSecond = 1.0 / 86400; // days
// Small day numbers keep one-second intervals exact to about 1e-12 s.
const double kNight = 0.5;

// Records every call that leaves the core, in order.
struct Recorder {
    explicit Recorder(const std::string& folder) {
        platform.postMessage = [this](const std::string& name, int32_t w, int32_t l) {
            events.push_back("post " + name + " " + std::to_string(w) + " " + std::to_string(l));
        };
        platform.sendMessage = [this](const std::string& name, int32_t w, int32_t l) {
            events.push_back("send " + name + " " + std::to_string(w) + " " + std::to_string(l));
        };
        platform.setTimer1 = [this, folder](bool on) {
            // The log line must already be on disk when the timer goes off.
            const auto log = LogMessages(folder);
            events.push_back(std::string("timer1 ") + (on ? "on" : "off") + " after " +
                             (log.empty() ? "" : log.back()));
        };
        platform.messageBox = [this](const std::string& text) { events.push_back("box " + text); };
        platform.clearCharts = [this] { events.push_back("clearCharts"); };
        platform.refreshMainWindow = [this] { events.push_back("refresh"); };
        platform.updateCharts = [this](int16_t count, const std::vector<HistoryEntry>&) {
            events.push_back("charts " + std::to_string(count));
        };
        platform.setBiasTexts = [this](const std::string& ra, const std::string& dec) {
            events.push_back("bias " + ra + " " + dec);
        };
    }
    Recorder(const Recorder&) = delete;
    std::vector<std::string> events;
    Platform platform;
};

class DriftTest : public ::testing::Test {
  protected:
    DriftTest() : recorder(dir.path) {
        state.programFolder = dir.path;
        state.monitor.monitorState = MonitorState::Running;
        state.monitor.timer1On = true;
    }
    void Append(double time, double ra, double dec, float exposure = 0) {
        AppendMeasurement(state, recorder.platform,
                          "/data/night/img" + std::to_string(++images) + ".fit", time, ra, dec,
                          exposure);
    }
    std::vector<std::string> Log() const { return LogMessages(dir.path); }
    bool Logged(const std::string& message) const {
        const auto log = Log();
        return std::find(log.begin(), log.end(), message) != log.end();
    }
    // Prediction and look-ahead off: the correction is the raw drift plus the bias.
    void UseRawDrift() {
        state.settings.FILTER_PREDICTION_X = state.settings.FILTER_PREDICTION_Y = false;
        state.settings.USE_ACCELERATION_X = state.settings.USE_ACCELERATION_Y = false;
    }

    TempDir dir;
    MainState state;
    Recorder recorder;
    int images = 0;
};

// ---------------------------------------------------------------------------------------
// Drift rates

HistoryEntry Entry(double time, double ra, double dec, double exposure) {
    HistoryEntry entry;
    entry.time = time;
    entry.ra = ra;
    entry.dec = dec;
    entry.exposure = exposure;
    return entry;
}

TEST(DriftRates, HandComputedCases) {
    // Standing star field, +20 arcsec/h applied before and after, 600 s exposures an hour
    // apart: a = 600 / 2 / (1/24) / 86400 = 1/12, b = 11/12, drift = 11/12 * 20 + 0 +
    // 1/12 * 20 = 20.
    DriftRates rates =
        ComputeDriftRates(Entry(kNight + kHour, 1, 0, 600), Entry(kNight, 1, 0, 600), 20, 0, 20, 0);
    EXPECT_NEAR(rates.ra, 20, 1e-12);
    EXPECT_NEAR(rates.dec, 0, 1e-12);

    // RA grows by 1e-5 rad in one hour at DEC 0, nothing applied: -1e-5 * 206264.806...
    // = -2.0626480624710 arcsec/h (negative: the shift cancels the motion).
    rates = ComputeDriftRates(Entry(kNight + kHour, 1 + 1e-5, 0, 0), Entry(kNight, 1, 0, 0), 0, 0,
                              0, 0);
    EXPECT_NEAR(rates.ra, -2.0626480624710, 1e-9);
    // The same at DEC 60 degrees: cos = 0.5 halves it to -1.0313240312355.
    const double dec60 = 3.14159265358979 / 3;
    rates = ComputeDriftRates(Entry(kNight + kHour, 1 + 1e-5, dec60, 0), Entry(kNight, 1, dec60, 0),
                              0, 0, 0, 0);
    EXPECT_NEAR(rates.ra, -1.0313240312355, 1e-9);
    EXPECT_NEAR(rates.dec, 0, 1e-12);

    // DEC grows by 2e-5 rad in two hours: -2e-5 * 206264.806... / 2 = -2.0626480624710.
    rates = ComputeDriftRates(Entry(kNight + 2 * kHour, 1, 2e-5, 0), Entry(kNight, 1, 0, 0), 0, 0,
                              0, 0);
    EXPECT_NEAR(rates.dec, -2.0626480624710, 1e-9);

    // Zero exposure: a = 0, so the preceding correction (999) has no weight and the drift is
    // the present correction plus the measured rate: 15 - 2.0626480624710 = 12.937351937529.
    rates = ComputeDriftRates(Entry(kNight + kHour, 1 + 1e-5, 0, 0), Entry(kNight, 1, 0, 0), 15, 0,
                              999, 0);
    EXPECT_NEAR(rates.ra, 12.937351937529, 1e-9);
}

TEST_F(DriftTest, ImageTwoFollowsTheBiasInTheBoxesNotTheOneStoredWithImageOne) {
    UseRawDrift();
    state.settings.raBias = 7;
    state.drift.currentRaCorrection = 11;
    Append(kNight, 1, 0, 600);
    EXPECT_EQ(state.drift.history[0].raBias, 7);
    state.settings.raBias = 3;
    Append(kNight + kHour, 1, 0, 600);
    // a = 1/12 as above: drift = 11/12 * 11 + 0 + 1/12 * 3 = 124/12 (with the stored 7 it
    // would be 128/12).  The filter is seeded with the drift itself.
    EXPECT_NEAR(state.drift.filterX.x.v0, 124.0 / 12, 1e-12);
    EXPECT_EQ(state.drift.filterX.x.v1, 0);
    // Correction = drift + bias 3 = 13.33 -> 13.
    EXPECT_EQ(state.drift.currentRaCorrection, 13);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift 10013 10000"}));
}

TEST_F(DriftTest, AppendKeepsIndicesEntriesAndLogLines) {
    state.settings.FILTER_PREDICTION_Y = false;
    state.drift.currentRaCorrection = 4; // as Start leaves it with an RA bias of 4
    state.settings.raBias = 4;
    AppendMeasurement(state, recorder.platform, "c:\\images\\m42_001.fit", kNight + 0.25, 1.5, 0.25,
                      120.5f);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         " :    image #1 solved successfully",
                         " :    time = " + DateTimeText(kNight + 0.25), " :    RA = 1.5",
                         " :    DEC = 0.25", " :    filter X is True", " :    filter Y is False"}));
    EXPECT_TRUE(recorder.events.empty()); // image 1 sends nothing
    ASSERT_EQ(state.drift.history.size(), 2u);
    const HistoryEntry& first = state.drift.history[0];
    EXPECT_EQ(first.fileName, "m42_001.fit");
    EXPECT_EQ(first.exposure, 120.5);
    EXPECT_EQ(first.raCorrection, 4); // the rate already in force
    EXPECT_EQ(state.drift.filterX.P.m00, 1);
    EXPECT_EQ(state.drift.filterX.R.m11, 0.00001);
}

TEST_F(DriftTest, ClearHistoryStartsAgainAtIndexZeroWithoutShrinking) {
    UseRawDrift();
    for (int i = 0; i < 3; ++i)
        Append(kNight + i * kHour, 1, 0);
    state.drift.filterX.x = Vector2{55, 1};
    recorder.events.clear();
    ClearHistory(state.drift, state.programFolder, recorder.platform);
    EXPECT_EQ(Log().back(), " : History Cleared");
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"refresh", "charts 0"}));
    EXPECT_EQ(state.drift.historyCount, 0);
    EXPECT_EQ(state.drift.filterX.x.v0, 55); // untouched until the next image 1

    Append(kNight + 5 * kHour, 2, 0);
    EXPECT_EQ(state.drift.newestIndex, 0);
    EXPECT_EQ(state.drift.history[0].ra, 2);
    EXPECT_EQ(state.drift.history.size(), 4u);
    EXPECT_EQ(state.drift.filterX.x.v0, 0); // initialised again
    EXPECT_TRUE(Logged(" :    image #1 solved successfully"));
}

// ---------------------------------------------------------------------------------------
// Filter

TEST_F(DriftTest, FiltersAreInitialisedSeededAndSteppedWithTheImageInterval) {
    // Image 2: standing field, exposure 0, 10 in force -> drift 10, the filter's seed.
    // Its correction is x0 + bias 2 = 12, so image 3's drift is 12, one second later:
    // F = (1, 1; 0, 1), x = (10, 0), P = I, R = diag(1, 0.00001), z = (12, 0) gives
    // Pp = F F' = (2, 1; 1, 1), S = Pp + R = (3, 1; 1, 1.00001), det S = 2.00003,
    // K = Pp S^-1 = (1.00002, 1; 0.00001, 2) / 2.00003, y = (2, 0),
    // x = (10 + 2 * 1.00002 / 2.00003, 2 * 0.00001 / 2.00003),
    // P = (I - K) Pp = (1.00002, 0.00001; 0.00001, 0.00002) / 2.00003.
    state.settings.raBias = 2;
    state.drift.currentRaCorrection = 10;
    Append(kNight, 1, 0);
    EXPECT_EQ(state.drift.filterX.x.v0, 0);
    Append(kNight + kSecond, 1, 0);
    EXPECT_NEAR(state.drift.filterX.x.v0, 10, 1e-12);
    EXPECT_EQ(state.drift.currentRaCorrection, 12);
    Append(kNight + 2 * kSecond, 1, 0);
    EXPECT_NEAR(state.drift.filterX.x.v0, 10 + 2 * 1.00002 / 2.00003, 1e-9);
    EXPECT_NEAR(state.drift.filterX.x.v1, 0.00002 / 2.00003, 1e-12);
    EXPECT_NEAR(state.drift.filterX.P.m00, 1.00002 / 2.00003, 1e-9);
    EXPECT_NEAR(state.drift.filterX.P.m01, 0.00001 / 2.00003, 1e-12);
    EXPECT_NEAR(state.drift.filterX.P.m11, 0.00002 / 2.00003, 1e-12);
    EXPECT_EQ(state.drift.filterX.R.m11, 0.00001);
    // Look-ahead with exposure 0 adds nothing: 11.000005 + 2 -> 13.
    EXPECT_EQ(state.drift.currentRaCorrection, 13);
}

TEST_F(DriftTest, SecondStateIsOnlyMovedByTheRateInnovationAndCovarianceShrinks) {
    // RA 0 keeps the tiny step of image 4 exact.
    state.drift.currentRaCorrection = 10;
    state.settings.raBias = 2;
    Append(kNight, 0, 0);
    Append(kNight + kSecond, 0, 0);
    Append(kNight + 2 * kSecond, 0, 0);
    ASSERT_GT(state.drift.filterX.x.v1, 0);
    // Image 4 is placed so that its drift equals the predicted x0 + dts x1: the rate
    // innovation is 0, and because z1 is the filter's own x1, x1 stays as it is.
    const double predicted = state.drift.filterX.x.v0 + state.drift.filterX.x.v1 * 1;
    const double wantedMeasured = predicted - state.drift.currentRaCorrection;
    const double raStep = -wantedMeasured * (kSecond * 24) / kArcsecPerRadian;
    const KalmanFilter before = state.drift.filterX;
    Append(kNight + 3 * kSecond, raStep, 0);
    EXPECT_NEAR(state.drift.filterX.x.v1, before.x.v1, 1e-12);
    EXPECT_NEAR(state.drift.filterX.x.v0, predicted, 1e-6);
    // Q = 0: every step shrinks both variances.
    double previous00 = state.drift.filterX.P.m00;
    double previous11 = state.drift.filterX.P.m11;
    for (int i = 4; i < 8; ++i) {
        Append(kNight + i * kSecond, 0, 0);
        EXPECT_LT(state.drift.filterX.P.m00, previous00);
        EXPECT_LT(state.drift.filterX.P.m11, previous11);
        previous00 = state.drift.filterX.P.m00;
        previous11 = state.drift.filterX.P.m11;
    }
}

// ---------------------------------------------------------------------------------------
// Correction

TEST_F(DriftTest, DisabledCorrectionsSendTheBiasWhileTheFiltersStep) {
    state.settings.DISABLE_CORRECTIONS = true;
    state.settings.raBias = 5;
    state.settings.decBias = -3;
    Append(kNight, 1, 0.1, 300);
    Append(kNight + kHour, 1 + 1e-4, 0.1 + 1e-4, 300);
    Append(kNight + 2 * kHour, 1 + 3e-4, 0.1 + 3e-4, 300);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift 10005 9997",
                                                         "post MG_RemoteSetShift 10005 9997"}));
    EXPECT_LT(state.drift.filterX.P.m00, 1); // stepped at image 3
    EXPECT_NE(state.drift.filterX.x.v0, 0);
    EXPECT_NE(state.drift.filterY.x.v0, 0);
    EXPECT_EQ(state.drift.history[2].raCorrection, 5);
    EXPECT_EQ(state.drift.history[2].decCorrection, -3);
}

TEST_F(DriftTest, CorrectionStagesAreLoggedInOrder) {
    UseRawDrift();
    state.settings.raBias = 0.5;
    state.settings.decBias = -1;
    Append(kNight, 1, 0, 0);
    const size_t start = Log().size();
    // Standing field, nothing in force, exposure 0: drift 0 on both axes.
    Append(kNight + kHour, 1, 0, 0);
    const auto log = Log();
    const std::vector<std::string> correction(log.begin() + static_cast<long>(start) + 6,
                                              log.end());
    EXPECT_EQ(
        correction,
        (std::vector<std::string>{
            " :    RA rate = 0", " :    DEC rate = 0", " :    RA accel = 0", " :    DEC accel = 0",
            " :    ra correction before bias = 0", " :    dec correction before bias = 0",
            " :    ra correction after bias = 0.5", " :    dec correction after bias = -1",
            " :    ra correction after rounding = 0", " :    dec correction after rounding = -1",
            " :    sending message to MetaGuide"}));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift 10000 9999"}));
}

TEST_F(DriftTest, HalvesRoundToEven) {
    const std::vector<std::pair<double, int>> cases = {{0.5, 0},   {1.5, 2},   {2.5, 2},
                                                       {-2.5, -2}, {-1.5, -2}, {3.5, 4}};
    state.settings.DISABLE_CORRECTIONS = true;
    for (const auto& [bias, sent] : cases) {
        recorder.events.clear();
        state.drift.historyCount = 0;
        state.settings.raBias = bias;
        state.settings.decBias = -bias;
        Append(kNight, 1, 0);
        Append(kNight + kHour, 1, 0);
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift " +
                                                             std::to_string(10000 + sent) + " " +
                                                             std::to_string(10000 - sent)}))
            << "bias " << bias;
    }
}

TEST_F(DriftTest, RateLimitPassesAtOneThousandAndStopsAbove) {
    state.settings.DISABLE_CORRECTIONS = true;
    state.settings.raBias = 1000.4; // rounds to 1000: passes
    Append(kNight, 1, 0);
    Append(kNight + kHour, 1, 0);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift 11000 10000"}));
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);

    const std::vector<std::pair<double, double>> stops = {{1000.6, 0}, {0, -1001}};
    for (const auto& [raBias, decBias] : stops) {
        recorder.events.clear();
        state.monitor.monitorState = MonitorState::Running;
        state.monitor.timer1On = true;
        state.settings.raBias = raBias;
        state.settings.decBias = decBias;
        Append(kNight + (2 + images) * kHour, 1, 0);
        EXPECT_EQ(
            recorder.events,
            (std::vector<std::string>{
                "timer1 off after  :    correction rate is too large -- stopping",
                "post MG_RemoteUnShift 0 0", "box Correction rate is too large -- stopping."}));
        EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
        EXPECT_FALSE(state.monitor.timer1On);
        // The rejected values stay in force; the entry keeps none of its own.
        EXPECT_EQ(state.drift.currentRaCorrection, RoundHalfEven(raBias));
        EXPECT_EQ(state.drift.currentDecCorrection, decBias);
        EXPECT_EQ(state.drift.history[state.drift.newestIndex].raCorrection, 0);
        EXPECT_EQ(state.drift.history[state.drift.newestIndex].decCorrection, 0);
        EXPECT_NE(Log().back(), " :    sending message to MetaGuide");
    }
}

TEST_F(DriftTest, WindowValuesFromTheTwoNewestImages) {
    const double dec60 = 3.14159265358979 / 3;
    state.settings.DISABLE_CORRECTIONS = true;
    state.settings.raBias = 1;
    state.settings.decBias = -2;
    Append(kNight, 1, dec60);
    EXPECT_EQ(LastRaError(state.drift, state.settings), 0); // one image: nothing to show
    Append(kNight + kHour, 1 + 1e-5, dec60 + 2e-5);
    // RA: 1e-5 * cos(60 deg + 2e-5) * 206264.806 - 1 h * 1 = 1.0313061686 - 1.
    EXPECT_NEAR(LastRaError(state.drift, state.settings),
                1e-5 * std::cos(dec60 + 2e-5) * kArcsecPerRadian - 1, 1e-9);
    // DEC: 2e-5 * 206264.806 = 4.1252961249, less 1 h * -2.
    EXPECT_NEAR(LastDecError(state.drift, state.settings), 4.1252961249419 + 2, 1e-9);
    EXPECT_EQ(RaRate(state.drift), 1);
    EXPECT_EQ(DecRate(state.drift), -2);
}

// ---------------------------------------------------------------------------------------
// Failures that must not reach the guider

TEST_F(DriftTest, EqualImageTimesFailTheImageAndLeaveTheHistoryAsBefore) {
    Append(kNight, 1, 0);
    const KalmanFilter filterBefore = state.drift.filterX;
    EXPECT_THROW(Append(kNight, 1 + 1e-5, 0, 300), std::runtime_error);
    EXPECT_EQ(Log().back(),
              " :    image time equals the previous image time -- no drift rate, image not used");
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(state.drift.historyCount, 1);
    EXPECT_EQ(state.drift.newestIndex, 0);
    EXPECT_EQ(state.drift.filterX.P.m00, filterBefore.P.m00);

    // The next image is image 2 and works.
    Append(kNight + kHour, 1, 0);
    EXPECT_EQ(state.drift.historyCount, 2);
    EXPECT_EQ(state.drift.newestIndex, 1);
    EXPECT_EQ(state.drift.previousIndex, 0);
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST_F(DriftTest, NonFiniteValuesNeverReachTheGuider) {
    Append(kNight, 1, 0);
    Append(kNight + kHour, 1, 0);
    const double correction = state.drift.currentRaCorrection;
    const KalmanFilter filterBefore = state.drift.filterX;
    recorder.events.clear();
    EXPECT_THROW(Append(kNight + 2 * kHour, std::numeric_limits<double>::quiet_NaN(), 0),
                 std::runtime_error);
    EXPECT_EQ(Log().back(), " :    RA drift rate is not a finite number -- image not used");
    // A huge exposure overflows the look-ahead: caught before rounding.
    state.drift.filterX.x.v1 = 1e290; // finite through the step
    EXPECT_THROW(Append(kNight + 3 * kHour, 1, 0, 1e30f), std::runtime_error);
    EXPECT_EQ(Log().back(), " :    ra correction is not a finite number -- image not used");
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(state.drift.historyCount, 2);
    EXPECT_EQ(state.drift.currentRaCorrection, correction);
    EXPECT_EQ(state.drift.filterX.x.v1, 1e290); // as the test left it: the failed step is undone
    EXPECT_EQ(state.drift.filterX.P.m00, filterBefore.P.m00);
}

TEST_F(DriftTest, FullHistoryStartsAFreshOne) {
    state.drift.history.resize(32768);
    state.drift.historyCount = kHistoryLimit;
    state.drift.newestIndex = 32766;
    state.drift.previousIndex = 32765;
    Append(kNight, 1, 0);
    const auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], " : History holds 32767 images -- starting a new history");
    EXPECT_EQ(log[1], " :    image #1 solved successfully");
    EXPECT_EQ(state.drift.historyCount, 1);
    EXPECT_EQ(state.drift.newestIndex, 0);
    EXPECT_TRUE(recorder.events.empty());
    Append(kNight + kHour, 1, 0);
    EXPECT_EQ(state.drift.historyCount, 2);
    EXPECT_EQ(state.drift.previousIndex, 0);
    EXPECT_EQ(recorder.events.size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Guider messages

TEST_F(DriftTest, SequencesSendTheirMessagesInOrder) {
    SendWindowLoadSequence(recorder.platform);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteUnShift 0 0",
                                                         "post MG_RemoteSetShift 10000 10000"}));

    recorder.events.clear();
    state.settings.SIM = true;
    state.settings.FLIP_RA = true; // Start never flips
    state.drift.currentRaCorrection = 12;
    state.drift.currentDecCorrection = -7;
    SendStartSequence(state.drift, state.settings, state.programFolder, recorder.platform);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{
                  "post MG_RemoteUnShift 0 0", "post MG_RemoteCentroidType 0 0",
                  "post MG_RemoteSetShift 10012 9993", "send VELDSIM_SetShift 10012 9993",
                  "post MG_RemoteShift 0 0", "clearCharts"}));
    EXPECT_EQ(Log(), (std::vector<std::string>{" : Sending initial msgs",
                                               " : Done sending initial msgs"}));

    recorder.events.clear();
    SendImageCorrection(state.drift, state.settings, state.programFolder,
                        recorder.platform); // FLIP_RA negates RA only
    state.settings.SIM = false;
    state.settings.FLIP_RA = false;
    SendImageCorrection(state.drift, state.settings, state.programFolder, recorder.platform);
    SendStopSequence(recorder.platform);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"post MG_RemoteSetShift 9988 9993",
                                                         "send VELDSIM_SetShift 9988 9993",
                                                         "post MG_RemoteSetShift 10012 9993",
                                                         "post MG_RemoteUnShift 0 0"}));
}

TEST_F(DriftTest, RatesOutsideTheSixteenBitEncodingAreRefusedNotWrapped) {
    EXPECT_EQ(EncodeRate(22767), 32767);
    EXPECT_EQ(EncodeRate(-42768), -32768);
    EXPECT_EQ(EncodeRate(-500.5), 9500); // halves to even
    EXPECT_FALSE(EncodeRate(22768));
    EXPECT_FALSE(EncodeRate(-42769));
    EXPECT_FALSE(EncodeRate(std::numeric_limits<double>::quiet_NaN()));

    state.drift.currentRaCorrection = 30000;
    SendStartSequence(state.drift, state.settings, state.programFolder, recorder.platform);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{
                                   "post MG_RemoteUnShift 0 0", "post MG_RemoteCentroidType 0 0",
                                   "post MG_RemoteShift 0 0", "clearCharts"}));
    EXPECT_TRUE(Logged(" :    rates 30000, 0 do not fit the guider message -- not sent"));
}

TEST_F(DriftTest, IncomingSetShiftFillsTheBiasBoxesAndOthersAreIgnored) {
    EXPECT_TRUE(HandleIncomingMessage("VELDRA_SetShift", 10250, 9900, recorder.platform));
    EXPECT_TRUE(HandleIncomingMessage("VELDRA_SetShift", 15000, 10000, recorder.platform));
    // Any int32 a peer sends gives its exact difference.
    EXPECT_TRUE(HandleIncomingMessage("VELDRA_SetShift", INT32_MIN, INT32_MAX, recorder.platform));
    EXPECT_TRUE(HandleIncomingMessage("MG_RemoteSetShift", 10250, 9900, recorder.platform));
    EXPECT_TRUE(HandleIncomingMessage("VELDSIM_SetShift", 10250, 9900, recorder.platform));
    EXPECT_FALSE(HandleIncomingMessage("SomethingElse", 10250, 9900, recorder.platform));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"bias 250 -100", "bias 5000 0",
                                                         "bias -2147493648 2147473647"}));
}

TEST(BiasRule, AdoptsNumbersFromMinusToPlusThreeThousand) {
    double bias = 7;
    EXPECT_TRUE(AcceptBiasText("3000", bias));
    EXPECT_EQ(bias, 3000);
    EXPECT_TRUE(AcceptBiasText("-3000", bias));
    EXPECT_EQ(bias, -3000);
    EXPECT_TRUE(AcceptBiasText("-12.5", bias));
    EXPECT_EQ(bias, -12.5);
    for (const char* refused : {"3000.01", "-3001", "", "12x", "nan"}) {
        EXPECT_FALSE(AcceptBiasText(refused, bias)) << refused;
        EXPECT_EQ(bias, -12.5) << refused;
    }
}

} // namespace
