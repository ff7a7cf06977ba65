#include "tools/veldsim/star_field.h"

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;
const double kDegree = kPi / 180;

struct Vector3 {
    double x, y, z;
};

Vector3 UnitVector(double ra, double dec) {
    return {std::cos(dec * kDegree) * std::cos(ra * kDegree),
            std::cos(dec * kDegree) * std::sin(ra * kDegree), std::sin(dec * kDegree)};
}

// Magnitudes with N(< m) growing as 10^(0.35 m), as star counts do at these depths.
const double kCountSlope = 0.35;
const double kBrightest = 7;
const double kFaintest = 14;

// A satellite: a straight line through a random point of the frame at a random angle,
// 400 ADU high, as wide as the stars.
void AddTrail(std::vector<double>& light, int width, int height, double sigma,
              std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double x0 = unit(random) * width, y0 = unit(random) * height;
    const double angle = unit(random) * kPi;
    const double dx = std::cos(angle), dy = std::sin(angle);
    const double peak = 400;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            // Distance from the line.
            const double d = (column - x0) * dy - (row - y0) * dx;
            if (std::fabs(d) < 5 * sigma)
                light[static_cast<size_t>(row) * width + column] +=
                    peak * std::exp(-d * d / (2 * sigma * sigma));
        }
}

// The shares of a Gaussian of sigma about centre that fall on pixels first..last of one
// axis (pixel k spans k - 0.5 to k + 0.5).
std::vector<double> PixelShares(int first, int last, double centre, double sigma) {
    const double scale = 1 / (std::sqrt(2.0) * sigma);
    std::vector<double> shares;
    double below = std::erf((first - 0.5 - centre) * scale);
    for (int k = first; k <= last; ++k) {
        const double above = std::erf((k + 0.5 - centre) * scale);
        shares.push_back((above - below) / 2);
        below = above;
    }
    return shares;
}

} // namespace

std::vector<CatalogueStar> MakeCatalogue(double ra, double dec, double capRadius, double density,
                                         unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double cosRadius = std::cos(capRadius * kDegree);
    const double areaSquareDegrees = 2 * kPi * (1 - cosRadius) / (kDegree * kDegree);
    const auto count = static_cast<size_t>(std::lround(density * areaSquareDegrees));

    // The cap's own axes: its centre, east and north at the centre.
    const Vector3 centre = UnitVector(ra, dec);
    const double a = ra * kDegree, d = dec * kDegree;
    const Vector3 east{-std::sin(a), std::cos(a), 0};
    const Vector3 north{-std::sin(d) * std::cos(a), -std::sin(d) * std::sin(a), std::cos(d)};
    const double low = std::pow(10.0, kCountSlope * kBrightest);
    const double high = std::pow(10.0, kCountSlope * kFaintest);

    std::vector<CatalogueStar> stars;
    stars.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        // Uniform over the cap: cos of the distance from the centre is uniform.
        const double z = cosRadius + (1 - cosRadius) * unit(random);
        const double s = std::sqrt(std::max(0.0, 1 - z * z));
        const double phi = 2 * kPi * unit(random);
        const double e = s * std::cos(phi), n = s * std::sin(phi);
        const Vector3 p{z * centre.x + e * east.x + n * north.x,
                        z * centre.y + e * east.y + n * north.y,
                        z * centre.z + e * east.z + n * north.z};
        double starRa = std::atan2(p.y, p.x) / kDegree;
        if (starRa < 0)
            starRa += 360;
        const double starDec = std::asin(std::clamp(p.z, -1.0, 1.0)) / kDegree;
        const double mag = std::log10(low + (high - low) * unit(random)) / kCountSlope;
        stars.push_back({starRa, starDec, static_cast<float>(mag)});
    }
    return stars;
}

std::vector<CatalogueStar> CatalogueFor(const StarCamera& camera, double ra, double dec,
                                        unsigned seed) {
    const double diagonal = std::hypot(FieldWidth(camera), FieldHeight(camera));
    return MakeCatalogue(ra, dec, std::max(1.5, 1.5 * diagonal), 200, seed);
}

double FieldWidth(const StarCamera& camera) {
    return camera.width * camera.scale / 3600;
}

double FieldHeight(const StarCamera& camera) {
    return camera.height * camera.scale / 3600;
}

std::vector<uint16_t> RenderStars(const std::vector<CatalogueStar>& catalogue,
                                  const StarCamera& camera, double ra, double dec,
                                  std::mt19937& random) {
    const int width = camera.width, height = camera.height;
    std::vector<double> light(static_cast<size_t>(width) * static_cast<size_t>(height),
                              camera.background);
    const double sigma = camera.fwhm / 2.3548200450309493;
    const int reach = static_cast<int>(std::ceil(4 * sigma));
    // The centre of the frame is the middle of its centre pixel, (width - 1) / 2 counted
    // from 0: FITS pixel (width + 1) / 2, where a solver puts its reference point.
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double radiansPerPixel = camera.scale / 3600 * kDegree;
    const double a0 = ra * kDegree, d0 = dec * kDegree;
    const double turnCos = std::cos(camera.rotation * kDegree);
    const double turnSin = std::sin(camera.rotation * kDegree);

    for (const CatalogueStar& star : catalogue) {
        const double a = star.ra * kDegree, d = star.dec * kDegree;
        // Gnomonic (TAN) projection onto the plane touching the sky at the centre.
        const double cosDistance =
            std::sin(d0) * std::sin(d) + std::cos(d0) * std::cos(d) * std::cos(a - a0);
        if (cosDistance <= 0.1)
            continue;
        const double xi = std::cos(d) * std::sin(a - a0) / cosDistance;
        const double eta =
            (std::cos(d0) * std::sin(d) - std::sin(d0) * std::cos(d) * std::cos(a - a0)) /
            cosDistance;
        // East to the left and north up, then turned with the camera.
        const double u = -xi / radiansPerPixel, v = eta / radiansPerPixel;
        const double x = cx + turnCos * u - turnSin * v;
        const double y = cy + turnSin * u + turnCos * v;
        if (x < -reach || y < -reach || x > width + reach || y > height + reach)
            continue;
        const double flux = std::pow(10.0, -0.4 * (star.mag - camera.zeroPoint));
        const int x0 = std::max(0, static_cast<int>(std::floor(x)) - reach);
        const int x1 = std::min(width - 1, static_cast<int>(std::floor(x)) + reach + 1);
        const int y0 = std::max(0, static_cast<int>(std::floor(y)) - reach);
        const int y1 = std::min(height - 1, static_cast<int>(std::floor(y)) + reach + 1);
        if (x0 > x1 || y0 > y1)
            continue;
        // A pixel collects the light falling anywhere on it, not the profile's value at
        // its middle: at 2" seeing on 1.5" pixels the difference moves a centre by a
        // tenth of a pixel, depending on where in its pixel the star falls.
        const std::vector<double> across = PixelShares(x0, x1, x, sigma);
        const std::vector<double> up = PixelShares(y0, y1, y, sigma);
        for (int row = y0; row <= y1; ++row)
            for (int column = x0; column <= x1; ++column)
                light[static_cast<size_t>(row) * width + column] +=
                    flux * up[static_cast<size_t>(row - y0)] *
                    across[static_cast<size_t>(column - x0)];
    }

    if (camera.trail)
        AddTrail(light, width, height, sigma, random);

    std::vector<uint16_t> pixels(light.size());
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (size_t i = 0; i < light.size(); ++i) {
        double value = light[i];
        // Shot noise (gain 1) and read noise, as one Gaussian.
        if (camera.noise)
            value += std::sqrt(value + camera.readNoise * camera.readNoise) * gauss(random);
        pixels[i] = static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
    }
    std::mt19937 places(camera.hotPixelSeed);
    std::uniform_int_distribution<size_t> place(0, pixels.size() - 1);
    for (int i = 0; i < camera.hotPixels; ++i)
        pixels[place(places)] = 65535;
    return pixels;
}

FrameWcs WcsOf(const StarCamera& camera) {
    // The inverse of RenderStars' mapping: pixel offsets (x, y) come from (u, v) =
    // (-xi, eta) / scale turned by the rotation.
    const double s = camera.scale / 3600;
    const double c = std::cos(camera.rotation * kDegree), n = std::sin(camera.rotation * kDegree);
    FrameWcs wcs;
    wcs.crpix1 = (camera.width + 1) / 2.0;
    wcs.crpix2 = (camera.height + 1) / 2.0;
    wcs.cd[0][0] = -s * c;
    wcs.cd[0][1] = -s * n;
    wcs.cd[1][0] = -s * n;
    wcs.cd[1][1] = s * c;
    return wcs;
}
