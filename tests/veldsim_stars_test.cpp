// veldsim's star fields: where the catalogue's stars land in a frame.  (That frames and
// index solve to the true centre is checked with the real solver in solve_test.)
#include "tools/veldsim/star_field.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Peak {
    int x = -1, y = -1;
    double sum = 0; // light in a 15 x 15 box around the peak
};

// The brightest pixel within 20 pixels of (x, y) and the light around it.
Peak PeakNear(const std::vector<uint16_t>& pixels, const StarCamera& camera, int x, int y) {
    Peak peak;
    int best = -1;
    for (int row = std::max(0, y - 20); row <= std::min(camera.height - 1, y + 20); ++row)
        for (int column = std::max(0, x - 20); column <= std::min(camera.width - 1, x + 20);
             ++column)
            if (pixels[row * camera.width + column] > best) {
                best = pixels[row * camera.width + column];
                peak.x = column;
                peak.y = row;
            }
    for (int row = peak.y - 7; row <= peak.y + 7; ++row)
        for (int column = peak.x - 7; column <= peak.x + 7; ++column)
            peak.sum += pixels[row * camera.width + column];
    return peak;
}

TEST(VeldsimStars, TanProjectionPutsNorthUpAndEastLeft) {
    StarCamera camera;
    camera.width = 401;
    camera.height = 301;
    camera.scale = 2.0;
    camera.background = 0;
    camera.noise = false;
    const double ra = 150, dec = 40;
    // 0.02 degrees is 36 pixels at 2 "/px; east of the centre in RA is RA + 0.02 / cos DEC.
    const double eastRa = ra + 0.02 / std::cos(dec * 3.14159265358979323846 / 180);
    const std::vector<CatalogueStar> stars = {
        {ra, dec, 10}, {ra, dec + 0.02, 10}, {eastRa, dec, 10}};
    std::mt19937 random(1);
    const auto pixels = RenderStars(stars, camera, ra, dec, random);

    const Peak centre = PeakNear(pixels, camera, 200, 150);
    EXPECT_EQ(centre.x, 200); // the middle pixel of an odd-sized frame
    EXPECT_EQ(centre.y, 150);
    // Magnitude 10 with zero point 21.5: 10^(0.4 x 11.5) = 39811 ADU in all.
    EXPECT_NEAR(centre.sum, 39811, 39811 * 0.01);
    const Peak north = PeakNear(pixels, camera, 200, 186);
    EXPECT_EQ(north.x, 200);
    EXPECT_EQ(north.y, 186); // up: rows grow northwards
    const Peak east = PeakNear(pixels, camera, 164, 150);
    EXPECT_EQ(east.x, 164); // left
    EXPECT_EQ(east.y, 150);
}

TEST(VeldsimStars, CatalogueFillsItsCapOnly) {
    const auto stars = MakeCatalogue(359.5, 60, 2.0, 100, 3);
    // 100 per square degree on a cap of 2 degrees radius (12.566 square degrees).
    EXPECT_NEAR(static_cast<double>(stars.size()), 1257, 1);
    const double d = 3.14159265358979323846 / 180;
    int brighterThanTwelve = 0;
    for (const CatalogueStar& star : stars) {
        const double cosDistance =
            std::sin(60 * d) * std::sin(star.dec * d) +
            std::cos(60 * d) * std::cos(star.dec * d) * std::cos((star.ra - 359.5) * d);
        EXPECT_LE(std::acos(std::min(1.0, cosDistance)) / d, 2.0 + 1e-9);
        EXPECT_GE(star.ra, 0); // wrapped, across RA 0
        EXPECT_LT(star.ra, 360);
        brighterThanTwelve += star.mag < 12;
    }
    // Counts grow 10^0.35 per magnitude: 1 - 10^(-0.7) = 80 % are fainter than 12 (+-3 %).
    EXPECT_NEAR(brighterThanTwelve / static_cast<double>(stars.size()), 0.2, 0.03);
}

} // namespace
