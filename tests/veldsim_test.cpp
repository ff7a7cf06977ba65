// The simulated night: flexure profiles, the guider stand-in and the night's figures.
#include "tests/test_support.h"
#include "tools/veldsim/header_text.h"
#include "tools/veldsim/night_report.h"
#include "tools/veldsim/sim_options.h"
#include "tools/veldsim/sky_model.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(VeldsimSky, AppliedShiftIsIntegratedPiecewise) {
    SkyModel sky;
    sky.profile.raRate = 0;
    sky.profile.decRate = 0;
    ApplyShift(sky, 1.0, 20, -10);
    ApplyShift(sky, 3.0, 0, 5);
    ApplyShift(sky, 2.0, 7, 7); // arrives "before" the last change: taken at 3.0
    // RA: 0 until 1 h, 20"/h until 3 h, then 7"/h: 2 h x 20 + 1 h x 7 = 47" at 4 h.
    EXPECT_DOUBLE_EQ(AppliedOffset(sky, true, 4.0), 47);
    EXPECT_DOUBLE_EQ(AppliedOffset(sky, false, 4.0), -20 + 7);
    EXPECT_DOUBLE_EQ(AppliedOffset(sky, true, 0.5), 0);
    EXPECT_EQ(AppliedRate(sky, true, 2.5), 20);
    EXPECT_EQ(AppliedRate(sky, true, 3.0), 7);
}

TEST(VeldsimSky, GuiderFollowsSetShiftOnlyWhileShifting) {
    SkyModel sky;
    GuiderState guider;
    EXPECT_FALSE(OnGuiderMessage(guider, sky, "MG_RemoteSetShift", 9970, 10015, 0.1));
    EXPECT_EQ(AppliedRate(sky, true, 0.2), 0);
    EXPECT_TRUE(OnGuiderMessage(guider, sky, "MG_RemoteShift", 0, 0, 0.2));
    EXPECT_EQ(AppliedRate(sky, true, 0.3), -30);
    EXPECT_EQ(AppliedRate(sky, false, 0.3), 15);
    EXPECT_FALSE(OnGuiderMessage(guider, sky, "VELDSIM_SetShift", 10500, 10500, 0.4));
    EXPECT_TRUE(OnGuiderMessage(guider, sky, "MG_RemoteUnShift", 0, 0, 0.5));
    EXPECT_EQ(AppliedRate(sky, true, 0.6), 0);

    GuiderState simulator{true};
    EXPECT_FALSE(OnGuiderMessage(simulator, sky, "MG_RemoteShift", 0, 0, 0.7));
    EXPECT_TRUE(OnGuiderMessage(simulator, sky, "VELDSIM_SetShift", 10012, 9990, 0.8));
    EXPECT_EQ(AppliedRate(sky, true, 0.9), 12);
}

TEST(VeldsimSky, ProfilesGiveTheirRates) {
    FlexureProfile profile;
    profile.raRate = 30;
    profile.decRate = -15;
    EXPECT_NEAR(FlexureRate(profile, true, 2.0), 30, 1e-6);
    EXPECT_NEAR(FlexureOffset(profile, false, 2.0), -30, 1e-9);
    profile.kind = FlexureProfile::Kind::Acceleration;
    profile.acceleration = 20;
    // The rate grows away from zero: 30 + 20 x 2 and -15 - 20 x 2 after two hours.
    EXPECT_NEAR(FlexureRate(profile, true, 2.0), 70, 1e-6);
    EXPECT_NEAR(FlexureRate(profile, false, 2.0), -55, 1e-6);
    profile.kind = FlexureProfile::Kind::Sinusoid;
    profile.periodHours = 8;
    EXPECT_NEAR(FlexureRate(profile, true, 0.0), 30, 1e-6);
    EXPECT_NEAR(FlexureRate(profile, true, 4.0), -30, 1e-6); // half a period later
    EXPECT_NEAR(FlexureRate(profile, true, 2.0), 0, 1e-6);
}

TEST(VeldsimSky, TableProfileIsReadAndInterpolated) {
    TempDir folder;
    WriteFile(folder.file("flex.txt"), "# hours offset\n0 0\n1, 10, -5\n\n3 30 5 # end\n");
    FlexureProfile profile;
    ASSERT_EQ(LoadFlexureTable(folder.file("flex.txt"), profile), "");
    EXPECT_DOUBLE_EQ(FlexureOffset(profile, true, 0.5), 5);
    EXPECT_DOUBLE_EQ(FlexureOffset(profile, false, 2.0), 0);
    EXPECT_DOUBLE_EQ(FlexureOffset(profile, true, 9.0), 30);

    WriteFile(folder.file("bad.txt"), "0 0\n1 x\n");
    EXPECT_NE(LoadFlexureTable(folder.file("bad.txt"), profile), "");
    WriteFile(folder.file("back.txt"), "1 0\n0.5 1\n");
    EXPECT_NE(LoadFlexureTable(folder.file("back.txt"), profile), "");
    EXPECT_NE(LoadFlexureTable(folder.file("missing.txt"), profile), "");
}

TEST(VeldsimReport, AFullyCancelledDriftLeavesNoResidual) {
    SkyModel sky;
    sky.profile.raRate = 30;
    sky.profile.decRate = -15;
    std::vector<FrameRecord> frames;
    for (int frame = 1; frame <= 6; ++frame) {
        if (frame == 3)
            ApplyShift(sky, (frame - 1) * 0.1 - 0.01, -30, 15); // cancels from before frame 3
        frames.push_back(RecordFrame(sky, frame, (frame - 1) * 0.1,
                                     frames.empty() ? nullptr : &frames.back(), 0));
    }
    EXPECT_NEAR(frames[1].residual[0], 30, 1e-9); // uncorrected
    EXPECT_NEAR(frames[4].residual[0], 0, 1e-9);  // corrected
    EXPECT_NEAR(frames[4].applied[1], 15, 1e-9);
    const NightSummary summary = Summarize(sky, frames, 4);
    EXPECT_EQ(summary.framesCounted, 3);
    EXPECT_NEAR(summary.rmsResidual, 0, 1e-9);
    EXPECT_NEAR(summary.smearUncorrected, std::hypot(15.0, 7.5), 1e-9);
    // The image stood still from frame 3 on: it moved only during the first 0.19 h.
    EXPECT_NEAR(summary.smearCorrected, std::hypot(30 * 0.19, 15 * 0.19), 1e-9);
    EXPECT_EQ(CsvLine(frames[1]), "2,0.10000,30.00,-15.00,0,0,30.00,-15.00,3.00,-1.50,0.00,0.00");
}

TEST(VeldsimOptions, CommandLine) {
    SimOptions options;
    bool help = false;
    EXPECT_EQ(ParseSimOptions({"--folder", "/tmp/x", "--frames", "10", "--noise", "0", "--profile",
                               "sinusoid", "--simulator-mode"},
                              options, help),
              "");
    EXPECT_EQ(options.frames, 10);
    EXPECT_EQ(options.noise, 0);
    EXPECT_TRUE(options.simulatorMode);
    EXPECT_EQ(options.profile.kind, FlexureProfile::Kind::Sinusoid);
    SimOptions other;
    EXPECT_NE(ParseSimOptions({"--frames", "10"}, other, help), "");
    EXPECT_NE(ParseSimOptions({"--folder", "f", "--frames", "ten"}, other, help), "");
    EXPECT_NE(ParseSimOptions({"--folder", "f", "--profile", "wobble"}, other, help), "");
    EXPECT_NE(ParseSimOptions({"--folder", "f", "--cadence"}, other, help), "");
    EXPECT_EQ(ParseSimOptions({"--help"}, other, help), "");
    EXPECT_TRUE(help);
}

TEST(VeldsimHeader, Texts) {
    EXPECT_EQ(DateObsAfter("2026-12-08T23:55:00", 310 * 2), "2026-12-09T00:05:20");
    EXPECT_EQ(DateObsAfter("garbage", 0), "");
    EXPECT_EQ(RaText(1.0), "01 00 00");
    EXPECT_EQ(RaText(18.6155556), "18 36 56");
    EXPECT_EQ(DecText(-0.5), "-00 30 00");
    EXPECT_EQ(DecText(38.78361), "+38 47 01");
}
