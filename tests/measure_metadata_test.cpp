// Metadata from real FITS headers (written with CFITSIO, read through hdrlib).
#include "tests/measure_test_platform.h"
#include "tests/test_support.h"
#include "veldra/measure/image_metadata.h"
#include "veldra/settings/activity_log.h"

#include <gtest/gtest.h>

namespace {

class Metadata : public ::testing::Test {
  protected:
    void SetUp() override { platform = recorder.Make(); }
    void TearDown() override {
        if (loaded)
            freeFits(&fits);
    }
    void Load(const std::vector<FitsCard>& cards, int width = 40, int height = 30) {
        if (loaded)
            freeFits(&fits);
        loaded = false;
        const std::string path = dir.file("image.fit");
        WriteFitsImage(path, width, height, cards);
        ASSERT_EQ(loadFitsFile(path.c_str(), &fits), 0);
        loaded = true;
    }
    std::vector<std::string> Log() const { return LogMessages(dir.path); }

    TempDir dir;
    FitsInfo fits{};
    Settings settings;
    RecordingPlatform recorder;
    Platform platform;
    bool loaded = false;
};

double Days(int hour, int minute, int second) {
    return DaysFromCalendar({2026, 3, 14, hour, minute, second});
}

TEST_F(Metadata, DateObsTimeIsTheMiddleOfTheExposure) {
    Load({{"DATE-OBS", std::string("2026-03-14T18:51:51.120")}, {"EXPOSURE", 300.0}});
    BaseTime base;
    ASSERT_TRUE(ReadImageTime(fits, settings, dir.path, platform, 0, base));
    float exposure = 0;
    ASSERT_TRUE(ReadExposure(fits, settings, dir.path, platform, exposure));
    EXPECT_EQ(exposure, 300.0f);
    const double imageTime = FinishImageTime(dir.path, base, exposure);
    EXPECT_NEAR(imageTime, Days(18, 54, 21), 1e-9);
    EXPECT_EQ(Log(), (std::vector<std::string>{" :    exposure = 300",
                                               " :    fits time = " + DateTimeText(imageTime)}));
}

TEST_F(Metadata, FileTimeMarksTheEndOfTheExposure) {
    settings.PLATE_SOLVE_METHOD = 1;
    settings.OVERRIDE_TIMESTAMP = true;
    settings.OVERRIDE_EXPOSURE = true;
    settings.EXPOSURE = 300;
    Load({{"DATE-OBS", std::string("garbage")}, {"EXPOSURE", 10.0}}); // neither is read
    BaseTime base;
    ASSERT_TRUE(ReadImageTime(fits, settings, dir.path, platform, Days(18, 56, 51), base));
    float exposure = 0;
    ASSERT_TRUE(ReadExposure(fits, settings, dir.path, platform, exposure));
    EXPECT_EQ(exposure, 300.0f);
    EXPECT_NEAR(FinishImageTime(dir.path, base, exposure), Days(18, 54, 21), 1e-9);
}

TEST_F(Metadata, WcsMethodIgnoresTheOverrides) {
    settings.PLATE_SOLVE_METHOD = 0;
    settings.OVERRIDE_TIMESTAMP = true;
    settings.OVERRIDE_EXPOSURE = true;
    settings.EXPOSURE = 10;
    Load({{"DATE-OBS", std::string("2026-03-14T18:51:51")}, {"EXPOSURE", 0.0}, {"EXPTIME", 30.0}});
    BaseTime base;
    ASSERT_TRUE(ReadImageTime(fits, settings, dir.path, platform, Days(1, 0, 0), base));
    EXPECT_FALSE(base.fromFile);
    EXPECT_NEAR(base.days, Days(18, 51, 51), 1e-9);
    float exposure = 0;
    ASSERT_TRUE(ReadExposure(fits, settings, dir.path, platform, exposure));
    EXPECT_EQ(exposure, 30.0f); // EXPOSURE 0 falls back to EXPTIME
}

TEST_F(Metadata, MissingOrUnreadableHeaderValuesFail) {
    Load({{"DATE-OBS", std::string("2026-03-14T18:5x:51")}, {"EXPTIME", 0.0}});
    BaseTime base;
    EXPECT_FALSE(ReadImageTime(fits, settings, dir.path, platform, 0, base));
    float exposure = 0;
    EXPECT_FALSE(ReadExposure(fits, settings, dir.path, platform, exposure));
    SkyPosition position;
    EXPECT_FALSE(StartPositionFromHeader(fits, dir.path, platform, position));
    SolverField field;
    EXPECT_FALSE(ImageScaleAndField(fits, settings, dir.path, platform, field));
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         " :    could not convert DATE-OBS from fits file: \"2026-03-14T18:5x:51\"",
                         " :    could not read EXPOSURE or EXPTIME from fits file",
                         " :    could not read OBJCTRA from fits file",
                         " :    could not read FOCALLEN from fits file, or is zero"}));
    EXPECT_EQ(
        recorder.timedErrors,
        (std::vector<std::string>{"fits file DATE-OBS tag is not readable: \"2026-03-14T18:5x:51\"",
                                  "fits file does not have EXPOSURE or EXPTIME tag",
                                  "fits file does not have OBJCTRA tag",
                                  "fits file does not have FOCALLEN tag or FOCALLEN=0"}));
    // With a focal length, the pixel size is the one missing.
    Load({{"FOCALLEN", 1000.0}, {"XPIXSZ", 0.0}});
    EXPECT_FALSE(ImageScaleAndField(fits, settings, dir.path, platform, field));
    EXPECT_EQ(Log().back(), " :    could not read XPIXSZ from fits file, or is zero");
}

TEST_F(Metadata, HeaderStartPosition) {
    Load({{"OBJCTRA", std::string("05 30 00.25")}, {"OBJCTDEC", std::string("-00 30 00")}});
    SkyPosition position;
    ASSERT_TRUE(StartPositionFromHeader(fits, dir.path, platform, position));
    EXPECT_DOUBLE_EQ(position.ra, 1.4398966328953204);
    EXPECT_DOUBLE_EQ(position.dec, -0.008726646259971639);
    EXPECT_EQ(Log(), (std::vector<std::string>{" :    RA = 05 30 00.25, DEC = -00 30 00"}));
}

TEST_F(Metadata, UnreadableDeclinationNamesKeywordAndText) {
    Load({{"OBJCTRA", std::string("05 30 00")}, {"OBJCTDEC", std::string("95 00 00")}});
    SkyPosition position{7, 7};
    EXPECT_FALSE(StartPositionFromHeader(fits, dir.path, platform, position));
    EXPECT_EQ(position.ra, 7); // untouched
    EXPECT_EQ(Log().back(), " :    could not convert OBJCTDEC from fits file: \"95 00 00\"");
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"fits file OBJCTDEC tag is not readable: \"95 00 00\""}));
}

TEST_F(Metadata, SettingsStartPosition) {
    settings.RA_POS = "05 30 00";
    settings.DEC_POS = "-00 30 00";
    SkyPosition position;
    ASSERT_TRUE(StartPositionFromSettings(settings, dir.path, platform, position));
    EXPECT_DOUBLE_EQ(position.dec, -0.008726646259971639);
    // Every form the setup dialog stores (sky_text tests: the radians).
    settings.DEC_POS = "+38 +47 01";
    for (const char* text : {"+5 30 00", "05 +30 00", "5.0 30 00", "05 30 1e1"}) {
        settings.RA_POS = text;
        EXPECT_TRUE(StartPositionFromSettings(settings, dir.path, platform, position)) << text;
    }
    EXPECT_TRUE(Log().empty());
    settings.DEC_POS = "-00 30";
    EXPECT_FALSE(StartPositionFromSettings(settings, dir.path, platform, position));
    EXPECT_EQ(Log(),
              (std::vector<std::string>{" :    DEC_POS is not three whole numbers: \"-00 30\""}));
    EXPECT_EQ(recorder.timedErrors.size(), 1u);
}

TEST_F(Metadata, ImageScaleFromTheHeaderIsRoundedStoredAndSaved) {
    settings.PLATE_SOLVE_METHOD = 1;
    Load({{"XPIXSZ", 9.0}, {"FOCALLEN", 1000.0}}, 400, 300);
    SolverField field;
    ASSERT_TRUE(ImageScaleAndField(fits, settings, dir.path, platform, field));
    EXPECT_EQ(field.scale, 1.856); // from 1.856385
    EXPECT_EQ(settings.IMAGE_SCALE, 1.856);
    // 400 pixels * 1.856 arcsec, as radians with pi = 3.14159265358979.
    EXPECT_DOUBLE_EQ(field.width, 400 * 1.856 / 1296000.0 * 3.14159265358979 * 2);
    EXPECT_DOUBLE_EQ(field.height, 300 * 1.856 / 1296000.0 * 3.14159265358979 * 2);
    Settings saved;
    LoadSettings(saved, dir.path);
    EXPECT_EQ(saved.IMAGE_SCALE, 1.856);
    EXPECT_EQ(Log().back(), " :    focalLen = 1000, xpixsz = 9, imageScale = 1.856");
}

TEST_F(Metadata, WcsPosition) {
    Load({{"CRVAL1", 180.0}, {"CRVAL2", -1.0}});
    SkyPosition position;
    EXPECT_FALSE(PositionFromWcs(fits, dir.path, platform, position)); // -1.0 counts as missing
    EXPECT_EQ(Log(), (std::vector<std::string>{" :    unable to read CRVAL2 from fits file"}));
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"fits file does not have CRVAL2 (WCS) tag"}));
    freeFits(&fits);
    // A position off the sky fails as well.
    Load({{"CRVAL1", 360.0}, {"CRVAL2", 10.0}});
    EXPECT_FALSE(PositionFromWcs(fits, dir.path, platform, position));
    EXPECT_EQ(Log().back(), " :    CRVAL1/CRVAL2 is no sky position: 360, 10");
    freeFits(&fits);
    Load({{"CRVAL1", 10.0}, {"CRVAL2", -90.5}});
    EXPECT_FALSE(PositionFromWcs(fits, dir.path, platform, position));
    EXPECT_EQ(recorder.timedErrors.back(), "fits file has CRVAL1/CRVAL2 outside the sky");
}

} // namespace
