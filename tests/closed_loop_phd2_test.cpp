// veldra's core against veldsim playing PHD2: the loop closes through the event server as
// it does through the bus, at the equator and at DEC 60 with a mount (where a wrong
// cos(DEC) would leave half or double the RA flexure), and it survives PHD2 being absent,
// restarting, falling silent and sending garbage; and PHD2's dithers do not read as drift.
#include "common/file_utils.h"
#include "tests/closed_loop_checks.h"
#include "tests/qt_test_app.h"
#include "tests/test_support.h"
#include "tools/closed-loop/headless_night.h"

#include <QCoreApplication>
#include <cmath>
#include <gtest/gtest.h>

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
    new QtTestApplication<QCoreApplication>("closed_loop_phd2_test"));

size_t CountLines(const std::vector<std::string>& log, const std::string& part) {
    size_t count = 0;
    for (const std::string& line : log)
        count += line.find(part) != std::string::npos;
    return count;
}

} // namespace

TEST(ClosedLoopPhd2, ConstantFlexureIsCancelledFromTheFourthFrameOnAtDec0And60) {
    struct Case {
        double declination;
        bool mount;
    };
    for (const Case c : {Case{0, false}, Case{60, true}}) {
        SCOPED_TRACE("DEC " + std::to_string(c.declination));
        TempDir work;
        NightSettings night; // 10 frames, constant 30 / -15 "/h, noise off
        night.guider = "phd2";
        night.declinationDegrees = c.declination;
        night.phd2Mount = c.mount;
        const NightResult result =
            RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
        ASSERT_TRUE(result.finished) << result.veldsimOutput;
        EXPECT_EQ(result.historyCount, night.frames);
        ExpectCancelledFrom(result, 4, 1.0);
        const std::vector<std::string> log = LogMessages(work.path);
        EXPECT_EQ(CountLines(log, " : PHD2 connected at localhost:"), 1u);
        EXPECT_EQ(CountLines(log, c.mount
                                      ? " : PHD2 multiplies the RA shift rate by cos(DEC)"
                                      : " : PHD2 does not multiply the RA shift rate by cos(DEC)"),
                  1u);
        // At DEC 60 PHD2's own camera-frame rate confirms the case.
        EXPECT_EQ(CountLines(log, "confirms the cos(DEC) decision"), c.mount ? 1u : 0u);
        // One answered set_lock_shift_params per correction, none failed.
        EXPECT_GE(CountLines(log, " :    PHD2 answered set_lock_shift_params {"),
                  static_cast<size_t>(night.frames - 1));
        EXPECT_EQ(CountLines(log, " failed: "), 0u);
        EXPECT_EQ(CountLines(log, " :    PHD2 has no counterpart of MG_RemoteCentroidType"), 1u);
        EXPECT_EQ(CountLines(log, " :    sending message to MetaGuide"),
                  static_cast<size_t>(night.frames - 1));
    }
}

TEST(ClosedLoopPhd2, SurvivesPhd2AbsentRestartedSilentAndSendingGarbage) {
    TempDir work;
    NightSettings night;
    night.frames = 13;
    night.cadenceSeconds = 1.5;
    night.guider = "phd2";
    // Absent at Start, up after frame 2, garbage after 5, killed after frame 6 and back
    // after 7, silent from frame 10 on.  veldra retries every 2 s: well within the 3 s
    // between the stand-in's coming back and the next check.  (The outage disturbs the filter for a
    // few frames, so the figures below are whether a shift is in force, not how well it fits.)
    night.phd2Schedule = "0:quit,2:start,5:garbage,6:quit,7:start,10:silent";
    const NightResult result =
        RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
    ASSERT_TRUE(result.finished) << result.veldsimOutput;
    // Monitoring never stopped.
    EXPECT_EQ(result.historyCount, night.frames);
    const std::vector<std::string> log = LogMessages(work.path);
    EXPECT_EQ(CountLines(log, " : PHD2 not reachable at localhost:"), 1u);
    EXPECT_GE(CountLines(log, "failed: PHD2 not reachable at localhost:"), 1u);
    EXPECT_EQ(
        CountLines(log, "PHD2 sent a line that is not a message -- ignored: this is not JSON"), 1u);
    EXPECT_EQ(CountLines(log, " : PHD2 connected at localhost:"), 2u);
    // "... lost (why)" at the restart and when veldsim ends.
    EXPECT_GE(CountLines(log, " : PHD2 connection to localhost:"), 1u);
    EXPECT_GE(CountLines(log, "failed: no answer within 3 s"), 1u);
    // The first correction after PHD2 appeared is in force at frame 5; the restarted
    // stand-in forgot the shift (frame 7) and veldra applied it again (frame 10).
    const std::vector<double> appliedRa = CsvColumn(result.veldsimOutput, "applied_ra");
    ASSERT_EQ(appliedRa.size(), static_cast<size_t>(night.frames));
    EXPECT_LT(appliedRa[4], -20) << result.veldsimOutput;
    EXPECT_EQ(appliedRa[6], 0) << result.veldsimOutput;
    EXPECT_LT(appliedRa[9], -20) << result.veldsimOutput;
}

TEST(ClosedLoopPhd2, DitheringEveryFrameLeavesTheFlexureCancelled) {
    // PHD2's dithers are in mount axes: the camera's angle must not matter, RA-only dithers
    // must work from the first one, and ST-4 and declination-reporting mounts differ only
    // in cos(DEC).
    struct Case {
        double angle;
        bool mirrored;
        bool mount;
        double declination;
        bool raOnly;
    };
    for (const Case c : {Case{0, false, false, 0, false}, Case{37, true, true, 60, true},
                         Case{200, false, false, 60, true}}) {
        SCOPED_TRACE("guide camera at " + std::to_string(c.angle) +
                     (c.mirrored ? " mirrored" : "") + (c.mount ? ", mount" : ", ST-4") + ", DEC " +
                     std::to_string(c.declination) + (c.raOnly ? ", RA only" : ""));
        TempDir work;
        NightSettings night; // constant 30 / -15 "/h
        night.frames = 14;
        night.guider = "phd2";
        night.noiseArcsec = 0.3;
        night.ditherArcsec = 8;
        night.guideAngle = c.angle;
        night.guideMirrored = c.mirrored;
        night.phd2Mount = c.mount;
        night.declinationDegrees = c.declination;
        night.ditherRaOnly = c.raOnly;
        const NightResult result =
            RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
        ASSERT_TRUE(result.finished) << result.veldsimOutput;
        // The RMS of the residual drift, both axes together, from frame 6 on: the dithers
        // themselves are not in it, only what veldra made of them.
        const std::vector<double> ra = CsvColumn(result.veldsimOutput, "residual_ra");
        const std::vector<double> dec = CsvColumn(result.veldsimOutput, "residual_dec");
        ASSERT_EQ(ra.size(), static_cast<size_t>(night.frames)) << result.veldsimOutput;
        double sum = 0;
        for (size_t frame = 5; frame < ra.size(); ++frame)
            sum += ra[frame] * ra[frame] + dec[frame] * dec[frame];
        const double rms = std::sqrt(sum / static_cast<double>(ra.size() - 5));
        EXPECT_LE(rms, 3.0) << result.veldsimOutput;
    }
}

TEST(ClosedLoopPhd2, TheShiftLimitStopsTheCorrectionUntilANewLockPosition) {
    // The lock starts 8 px from the allowed area's edge and the shift carries it there
    // after a few frames; a new star after frame 10 brings the shift back.
    TempDir work;
    NightSettings night;
    night.frames = 13;
    night.guider = "phd2";
    night.phd2Extra = {"--phd2-lock-x", "24"};
    night.phd2Schedule = "10:new-star";
    const NightResult result =
        RunHeadlessNight(work.path, JoinPath(ProgramFolder(), "veldsim"), night);
    ASSERT_TRUE(result.finished) << result.veldsimOutput;
    EXPECT_EQ(result.historyCount, night.frames); // no runaway to the rate limit
    const std::vector<std::string> log = LogMessages(work.path);
    EXPECT_EQ(CountLines(log, " : PHD2 reached its lock shift limit and switched the shift off"),
              1u);
    EXPECT_GE(CountLines(log, "PHD2's lock shift was off for "), 1u);
    EXPECT_EQ(CountLines(log, " : PHD2 set a new lock position -- applying the shift again"), 1u);
    // While it was off veldra kept measuring the true drift: back on, the correction
    // cancels it at once.
    const std::vector<double> appliedRa = CsvColumn(result.veldsimOutput, "applied_ra");
    ASSERT_EQ(appliedRa.size(), static_cast<size_t>(night.frames));
    EXPECT_NEAR(appliedRa.back(), -30, 2) << result.veldsimOutput;
}
