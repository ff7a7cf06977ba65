// The registration method: hdrlib's pixel read, the star match and fit on hand-made star
// lists, the reference's map, and whole image runs through ProcessImage on star frames
// rendered by veldsim's camera (dithered, turned, with hot pixels and a satellite trail).
#include "common/process_start.h"
#include "tests/measure_test_platform.h"
#include "tests/test_support.h"
#include "tools/veldsim/star_field.h"
#include "veldra/measure/pipeline.h"
#include "veldra/measure/registration/registration.h"
#include "veldra/measure/registration/star_extraction.h"
#include "veldra/measure/registration/star_match.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fitsio.h>
#include <gtest/gtest.h>
#include <numbers>
#include <unistd.h>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

// Stars at hand-picked, irregular places over 800 x 600 pixels (a fixed recipe).
std::vector<StarPoint> HandStars(int count) {
    std::vector<StarPoint> stars;
    unsigned state = 12345;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 8) % 10000) / 10000;
    };
    for (int i = 0; i < count; ++i)
        stars.push_back({20 + 760 * next(), 20 + 560 * next(), 1000.0 - i});
    return stars;
}

// The image's stars, so that turning them by angle and adding (dx, dy) gives reference.
std::vector<StarPoint> Seen(const std::vector<StarPoint>& reference, double angle, double dx,
                            double dy) {
    std::vector<StarPoint> image;
    for (const StarPoint& s : reference) {
        const double x = s.x - dx, y = s.y - dy;
        image.push_back({std::cos(angle) * x + std::sin(angle) * y,
                         -std::sin(angle) * x + std::cos(angle) * y, s.flux});
    }
    return image;
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        state.programFolder = dir.path;
        platform = recorder.Make();
        camera.width = 600;
        camera.height = 400;
        camera.scale = 1.5;
        camera.fwhm = 2.0 / 1.5; // 2" seeing
        camera.hotPixels = 20;
    }
    void TearDown() override {
        for (int i = 0; i < 200 && ReapStartedProcesses() > 0; ++i)
            usleep(10000);
    }
    // A star frame looking at (ra, dec) with DATE-OBS minutes after 21:00, with the TAN
    // map of that pointing when wcs.
    std::string Frame(const std::string& name, const std::vector<CatalogueStar>& catalogue,
                      double ra, double dec, int minutes, bool wcs) {
        std::mt19937 random(static_cast<unsigned>(minutes + 1));
        const std::vector<uint16_t> pixels = RenderStars(catalogue, camera, ra, dec, random);
        char date[32];
        std::snprintf(date, sizeof date, "2026-12-08T%02d:%02d:00", 21 + minutes / 60,
                      minutes % 60);
        std::vector<FitsCard> cards = {{"DATE-OBS", std::string(date)}, {"EXPOSURE", 300.0}};
        if (wcs) {
            const FrameWcs map = WcsOf(camera);
            cards.insert(cards.end(), {{"CTYPE1", std::string("RA---TAN")},
                                       {"CTYPE2", std::string("DEC--TAN")},
                                       {"CRVAL1", ra},
                                       {"CRVAL2", dec},
                                       {"CRPIX1", map.crpix1},
                                       {"CRPIX2", map.crpix2},
                                       {"CD1_1", map.cd[0][0]},
                                       {"CD1_2", map.cd[0][1]},
                                       {"CD2_1", map.cd[1][0]},
                                       {"CD2_2", map.cd[1][1]}});
        }
        const std::string path = dir.file(name);
        WriteFitsPixels(path, FLOAT_IMG, camera.width, camera.height,
                        std::vector<double>(pixels.begin(), pixels.end()), cards);
        return path;
    }
    // Arcseconds on the sky between the newest history entry and (ra, dec) degrees.
    double ErrorArcsec(double ra, double dec) const {
        const HistoryEntry& entry =
            state.drift.history[static_cast<size_t>(state.drift.newestIndex)];
        const double toDegrees = 360 / (2 * 3.14159265358979);
        return std::hypot((entry.ra * toDegrees - ra) * std::cos(dec * kDegree),
                          entry.dec * toDegrees - dec) *
               3600;
    }
    bool Logged(const std::string& part) const {
        const auto log = LogMessages(dir.path);
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(part) != std::string::npos;
        });
    }

    TempDir dir;
    MainState state;
    RecordingPlatform recorder;
    Platform platform;
    StarCamera camera;
};

TEST_F(Registration, PixelReadScalesIntegersKeepsNanAndRefusesBadFiles) {
    int32_t width = 0, height = 0;
    float pixels[4] = {};
    // Raw -2, 0, 4, 32767 with BZERO 100 and BSCALE 0.5.
    const std::string scaled = dir.file("scaled.fit");
    WriteFitsPixels(scaled, SHORT_IMG, 2, 2, {-2, 0, 4, 32767},
                    {{"BZERO", 100.0}, {"BSCALE", 0.5}});
    ASSERT_EQ(readFitsImageFloats(scaled.c_str(), pixels, 4, &width, &height), 0);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(std::vector<float>(pixels, pixels + 4), (std::vector<float>{99, 100, 102, 16483.5}));
    // Too small a buffer: the size, nothing read.
    width = height = 0;
    EXPECT_EQ(readFitsImageFloats(scaled.c_str(), pixels, 3, &width, &height), -14);
    EXPECT_EQ(width * height, 4);

    const std::string real = dir.file("real.fit");
    WriteFitsPixels(real, FLOAT_IMG, 2, 2, {1.5, NAN, -3, 0});
    ASSERT_EQ(readFitsImageFloats(real.c_str(), pixels, 4, &width, &height), 0);
    EXPECT_EQ(pixels[0], 1.5f);
    EXPECT_TRUE(std::isnan(pixels[1]));
    EXPECT_EQ(pixels[2], -3.0f);

    // A file cut inside its pixels, a header without an image, no file at all.
    const std::string cut = dir.file("cut.fit");
    WriteFitsPixels(cut, SHORT_IMG, 100, 100, std::vector<double>(10000, 7));
    std::filesystem::resize_file(cut, 2880 + 8000);
    EXPECT_EQ(readFitsImageFloats(cut.c_str(), pixels, 4, &width, &height), -5);
    EXPECT_EQ(width, 0);
    const std::string header = dir.file("header.fit");
    WriteFitsImage(header, 0, 0, {});
    EXPECT_EQ(readFitsImageFloats(header.c_str(), pixels, 4, &width, &height), -4);
    EXPECT_EQ(readFitsImageFloats(dir.file("none.fit").c_str(), pixels, 4, &width, &height), -2);
}

TEST_F(Registration, CentresOfUndersampledStarsAreUnbiasedAndSaturatedOnesLeftOut) {
    // Bright stars (flux 50000, centres good to 0.003 px) at every tenth of a pixel in x
    // and y on the 2" seeing, 1.5 "/px camera, placed through the camera's own TAN map at
    // RA 10, DEC 0; one star far too bright for the 16 bits.  A star's window as narrow
    // as the star itself put centres up to 0.05 px off, towards their pixel's middle.
    const double cx = (camera.width - 1) / 2.0, cy = (camera.height - 1) / 2.0;
    const double radiansPerPixel = camera.scale / 3600 * kDegree;
    std::vector<CatalogueStar> catalogue;
    std::vector<StarPoint> truth;
    const auto place = [&](double x, double y, float mag) {
        const double xi = -(x - cx) * radiansPerPixel, eta = (y - cy) * radiansPerPixel;
        catalogue.push_back(
            {10 + std::atan(xi) / kDegree, std::atan(eta / std::sqrt(1 + xi * xi)) / kDegree, mag});
        truth.push_back({x, y});
    };
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 4; ++j)
            place(40 + 52 * i + 0.1 * i, 60 + 80 * j + 0.1 * ((i + 3 * j) % 10), 9.75f);
    place(300.3, 30.6, 6);
    camera.hotPixels = 0;
    std::mt19937 random(3);
    const std::vector<uint16_t> rendered = RenderStars(catalogue, camera, 10, 0, random);
    std::vector<float> pixels(rendered.begin(), rendered.end());
    const StarExtraction found = ExtractStars(pixels, camera.width, camera.height);
    ASSERT_EQ(found.fault, "");
    EXPECT_EQ(found.stars.size(), 40u);
    for (const StarPoint& star : found.stars) {
        const auto nearest = std::min_element(truth.begin(), truth.end(), [&](auto& a, auto& b) {
            return std::hypot(a.x - star.x, a.y - star.y) < std::hypot(b.x - star.x, b.y - star.y);
        });
        EXPECT_NE(nearest - truth.begin(), 40) << "the saturated star";
        EXPECT_LT(std::hypot(nearest->x - star.x, nearest->y - star.y), 0.015)
            << star.x << ", " << star.y;
        EXPECT_GT(star.error, 0.001);
        EXPECT_LT(star.error, 0.01);
    }
}

TEST_F(Registration, MatchAndFitRecoverAShiftAndATurnDespiteStrayPoints) {
    const std::vector<StarPoint> reference = HandStars(40);
    struct Case {
        double degrees, dx, dy;
    };
    for (const Case c : {Case{0, 12.5, -7.25}, Case{3, -40, 25}, Case{-8, 150, 90}}) {
        SCOPED_TRACE(c.degrees);
        std::vector<StarPoint> image = Seen(reference, c.degrees * kDegree, c.dx, c.dy);
        // Hot pixels: bright points of the image's own, fixed in its pixels.
        for (int i = 0; i < 6; ++i)
            image.insert(image.begin(), {100.0 + 97 * i, 50.0 + 83 * i, 5000});
        const StarMatch match = MatchStars(image, reference);
        ASSERT_TRUE(match.found);
        const RigidFit fit = FitWithoutOutliers(image, reference, match.pairs);
        EXPECT_EQ(fit.pairs.size(), 40u);
        EXPECT_NEAR(fit.rigid.angle / kDegree, c.degrees, 1e-9);
        EXPECT_NEAR(fit.rigid.dx, c.dx, 1e-9);
        EXPECT_NEAR(fit.rigid.dy, c.dy, 1e-9);
        EXPECT_LT(fit.rms, 1e-9);
    }
    // One star pushed 2 px off its place is left out; the rest fit exactly.
    std::vector<StarPoint> image = Seen(reference, 0, 5, 5);
    image[7].x += 2;
    const RigidFit fit = FitWithoutOutliers(image, reference, MatchStars(image, reference).pairs);
    EXPECT_EQ(fit.pairs.size(), 39u);
    EXPECT_NEAR(fit.rigid.dx, 5, 1e-9);

    // Too few stars, and stars of another field, do not register.
    RegistrationReference stored;
    stored.valid = true;
    stored.width = 800;
    stored.height = 600;
    stored.stars = reference;
    ImageStars few;
    few.width = 800;
    few.height = 600;
    few.extraction.stars =
        Seen(std::vector<StarPoint>(reference.begin(), reference.begin() + 5), 0, 1, 1);
    EXPECT_EQ(Register(stored, few).fault, "only 5 stars found (at least 6 needed)");
    ImageStars other = few;
    other.extraction.stars = Seen(HandStars(80), 0.3, 0, 0);
    other.extraction.stars.erase(other.extraction.stars.begin(),
                                 other.extraction.stars.begin() + 40);
    EXPECT_NE(Register(stored, other).fault.find("matched the reference"), std::string::npos)
        << Register(stored, other).fault;
    // Turned half round (a meridian flip): found, but refused.
    ImageStars flipped = few;
    flipped.extraction.stars = Seen(reference, std::numbers::pi, 800, 600);
    EXPECT_EQ(Register(stored, flipped).fault, "the field turned by 180.0 degrees (a flip?)");
}

TEST_F(Registration, TanMapsFromKeywordsAndFromTheSolversOrientation) {
    // 1" per pixel at DEC 0: 36 pixels are 0.01 degrees (tan 0.01 degrees = 0.01 degrees
    // to 1e-8); east is to the left unless the map is mirrored.
    TanMap map{10, 0, 100, 100, {{-1.0 / 3600, 0}, {0, 1.0 / 3600}}};
    EXPECT_NEAR(PixelToSky(map, 100, 100).ra, 10, 1e-12);
    EXPECT_NEAR(PixelToSky(map, 136, 100).ra, 9.99, 1e-8);
    EXPECT_NEAR(PixelToSky(map, 100, 136).dec, 0.01, 1e-8);
    TanMap mirrored = map;
    mirrored.cd[0][0] = 1.0 / 3600;
    EXPECT_NEAR(PixelToSky(mirrored, 136, 100).ra, 10.01, 1e-8);
    EXPECT_NEAR(PixelToSky(map, 0, 100).ra, 10 + 100.0 / 3600, 1e-7); // and RA wraps
    map.crval1 = 0;
    EXPECT_NEAR(PixelToSky(map, 136, 100).ra, 359.99, 1e-8);

    // CDELT with CROTA2 90: CD = (0, -CDELT2; CDELT1, 0) = (0, -0.001; -0.001, 0).
    const std::string turned = dir.file("turned.fit");
    WriteFitsImage(turned, 20, 10,
                   {{"CRVAL1", 83.8},
                    {"CRVAL2", 22.0},
                    {"CRPIX1", 10.5},
                    {"CRPIX2", 5.5},
                    {"CDELT1", -0.001},
                    {"CDELT2", 0.001},
                    {"CROTA2", 90.0}});
    FitsInfo info{};
    ASSERT_EQ(loadFitsFile(turned.c_str(), &info), 0);
    std::string missing;
    const auto fromCdelt = TanMapFromHeader(info, missing);
    freeFits(&info);
    ASSERT_TRUE(fromCdelt) << missing;
    EXPECT_NEAR(fromCdelt->cd[0][0], 0, 1e-12);
    EXPECT_NEAR(fromCdelt->cd[0][1], -0.001, 1e-12);
    EXPECT_NEAR(fromCdelt->cd[1][0], -0.001, 1e-12);
    EXPECT_NEAR(fromCdelt->cd[1][1], 0, 1e-12);
    EXPECT_EQ(fromCdelt->crval1, 83.8);

    const std::string bare = dir.file("bare.fit");
    WriteFitsImage(bare, 20, 10, {{"CRVAL1", 83.8}, {"CRVAL2", 22.0}});
    ASSERT_EQ(loadFitsFile(bare.c_str(), &info), 0);
    EXPECT_FALSE(TanMapFromHeader(info, missing));
    freeFits(&info);
    EXPECT_EQ(missing, "no CRVAL1, CRVAL2, CRPIX1 and CRPIX2");

    // The solver's second line; 1.5 rad of RA is 85.94366926962... degrees with veldra's pi.
    const auto solved =
        OrientationFromApm("1.5,0.5,1\r\n-0.0004,1e-6,1e-6,0.0004\r\n", 1.5, 0.5, 3000, 2000);
    ASSERT_TRUE(solved);
    EXPECT_NEAR(solved->crval1, 1.5 / (2 * 3.14159265358979) * 360, 1e-12);
    EXPECT_EQ(solved->crpix1, 1500.5);
    EXPECT_EQ(solved->crpix2, 1000.5);
    EXPECT_EQ(solved->cd[0][1], 1e-6);
    EXPECT_FALSE(OrientationFromApm("1.5,0.5,1\n", 1.5, 0.5, 3000, 2000));
    EXPECT_FALSE(OrientationFromApm("1.5,0.5,1\n0,0,0,0\n", 1.5, 0.5, 3000, 2000));
}

TEST_F(Registration, ImagesRegisterAgainstTheFirstAndFallBackToASolve) {
    state.settings.PLATE_SOLVE_METHOD = 2;
    const double ra = 83.8, dec = 22.0;
    const auto catalogue = MakeCatalogue(ra, dec, 1.0, 3000, 5);
    // The reference, with its map; then dithered by 8" and turning; a satellite on the third.
    ProcessImage(state, platform, Frame("1.fit", catalogue, ra, dec, 0, true), 0);
    ASSERT_EQ(state.drift.historyCount, 1);
    EXPECT_TRUE(Logged(" :    registration reference: the WCS keywords of this image"));
    EXPECT_LT(ErrorArcsec(ra, dec), 0.01);
    struct Step {
        double dRa, dDec, turn; // arcseconds on the sky, degrees
        bool trail;
    };
    const Step steps[] = {{8, -5, 0.5, false}, {-3, 7, 1.0, true}, {20, 15, 2.0, false}};
    for (int i = 0; i < 3; ++i) {
        const Step& s = steps[i];
        camera.rotation = s.turn;
        camera.trail = s.trail;
        const double frameRa = ra + s.dRa / 3600 / std::cos(dec * kDegree);
        const double frameDec = dec + s.dDec / 3600;
        ProcessImage(state, platform,
                     Frame(std::to_string(i + 2) + ".fit", catalogue, frameRa, frameDec,
                           10 * (i + 1), false),
                     0);
        ASSERT_EQ(state.drift.historyCount, i + 2) << recorder.timedErrors.size();
        EXPECT_LT(ErrorArcsec(frameRa, frameDec), 0.05) << "frame " << i + 2;
    }
    EXPECT_TRUE(Logged(" stars found, "));
    EXPECT_TRUE(Logged(" matched, residual "));
    EXPECT_TRUE(Logged(" px, shift from the reference "));
    EXPECT_TRUE(recorder.timedErrors.empty());

    // Another field: no match, so the configured solver measures it and its orientation
    // (the second line of its answer) makes it the new reference.
    camera.rotation = 0;
    camera.trail = false;
    const std::string solver = dir.file("solver.sh");
    WriteFile(solver,
              "#!/bin/sh\nimage=${1#*,*,*,*,*,}\n"
              "printf '1.46258591317125,0.383972435438752,1\\r\\n"
              "-0.000416666666666667,0,0,0.000416666666666667\\r\\n' > \"${image%.*}.apm\"\n");
    std::filesystem::permissions(solver, std::filesystem::perms::owner_all);
    state.settings.PWI_EXE_PATH = solver;
    state.settings.OVERRIDE_POSITION = 1;
    state.settings.OVERRIDE_IMAGE_SCALE = true;
    state.settings.IMAGE_SCALE = 1.5;
    const auto otherField = MakeCatalogue(ra, dec, 1.0, 3000, 6);
    ProcessImage(state, platform, Frame("5.fit", otherField, ra, dec, 40, false), 0);
    ASSERT_EQ(state.drift.historyCount, 5);
    EXPECT_TRUE(Logged(" :    registration failed: only "));
    EXPECT_TRUE(Logged("registration reference: no WCS in the header (no CRVAL1, CRVAL2, CRPIX1 "
                       "and CRPIX2), plate solving"));
    EXPECT_TRUE(Logged(" :    APM read successfully"));
    EXPECT_EQ(state.registration.reference.map.crpix1, 300.5);
    EXPECT_NEAR(state.registration.reference.map.crval2, 22.0, 1e-9);
    // The next image of that field registers against it.
    ProcessImage(state, platform, Frame("6.fit", otherField, ra, dec + 2.0 / 3600, 50, false), 0);
    ASSERT_EQ(state.drift.historyCount, 6);
    EXPECT_LT(ErrorArcsec(1.46258591317125 / (2 * 3.14159265358979) * 360, dec + 2.0 / 3600), 0.05);

    // Bad pixel data: refused with a line and a notice, no measurement.
    const std::string flat = dir.file("flat.fit");
    WriteFitsPixels(flat, SHORT_IMG, 64, 64, std::vector<double>(4096, 0),
                    {{"DATE-OBS", std::string("2026-12-08T22:00:00")}, {"EXPOSURE", 300.0}});
    const std::string nan = dir.file("nan.fit");
    WriteFitsPixels(nan, FLOAT_IMG, 64, 64, std::vector<double>(4096, NAN),
                    {{"DATE-OBS", std::string("2026-12-08T22:00:00")}, {"EXPOSURE", 300.0}});
    ProcessImage(state, platform, flat, 0);
    ProcessImage(state, platform, nan, 0);
    EXPECT_EQ(state.drift.historyCount, 6);
    EXPECT_TRUE(Logged(" :    registration: unusable pixel data: the image is flat"));
    EXPECT_TRUE(Logged(" :    registration: unusable pixel data: 4096 of 4096 pixels are not "
                       "numbers"));
    EXPECT_EQ(recorder.timedErrors,
              (std::vector<std::string>{"File: " + flat + " has unusable pixel data",
                                        "File: " + nan + " has unusable pixel data"}));
}

} // namespace
