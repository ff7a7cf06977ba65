#include "veldra/measure/registration/star_extraction.h"

// sep.h declares C functions without saying so, and uses size_t without its header.
#include <cstddef>
extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>

namespace {

// SEP ignores pixels at or below this in the background and never detects them.
constexpr float kIgnored = -1e30f;
// Detection runs on the image binned to at most about this many pixels: SEP's background
// and extraction cost grows with the pixels, a star's place is refined at full size.
constexpr double kDetectionPixels = 400000;
// Detection: objects of at least kMinArea binned pixels kThreshold sigma above the
// background, found through SEP's default 3 x 3 smoothing kernel.
constexpr float kThreshold = 3;
constexpr int kMinArea = 2;
const float kKernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
// A satellite trail is far more elongated than this.
constexpr float kMaxElongation = 2.5f;
// A hot pixel holds nearly all the light of its 3 x 3 neighbourhood; a star of the
// sharpest seeing a camera samples holds less than half of it in its brightest pixel.
constexpr double kMaxPeakShare = 0.75;
// The centroid's Gaussian window is this much wider than the star: one as narrow as the
// star (Source Extractor's choice) pulls an undersampled star towards its pixel's middle
// by up to a twentieth of a pixel; twice as wide leaves a few thousandths, at some
// cost in noise for the faintest stars, which the fit weighs less.
constexpr double kWindowScale = 2;

struct BackgroundFree {
    void operator()(sep_bkg* background) const { sep_bkg_free(background); }
};
struct CatalogFree {
    void operator()(sep_catalog* catalog) const { sep_catalog_free(catalog); }
};

std::string SepError(const char* step, int status) {
    char text[128] = {};
    sep_get_errmsg(status, text);
    return std::string(step) + " failed: " + text;
}

sep_image Image(const float* pixels, int width, int height) {
    sep_image image{};
    image.data = pixels;
    image.dtype = SEP_TFLOAT;
    image.w = width;
    image.h = height;
    return image;
}

// Sums of factor x factor blocks (a left-out pixel leaves its block out).
std::vector<float> Binned(const std::vector<float>& pixels, int width, int height, int factor) {
    const int columns = width / factor, rows = height / factor;
    std::vector<float> binned(static_cast<size_t>(columns) * static_cast<size_t>(rows), 0);
    for (int row = 0; row < rows * factor; ++row) {
        const float* in = pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(width);
        float* out =
            binned.data() + static_cast<size_t>(row / factor) * static_cast<size_t>(columns);
        for (int column = 0; column < columns; ++column, in += factor) {
            float sum = 0;
            for (int k = 0; k < factor; ++k)
                sum += in[k];
            out[column] += sum;
        }
    }
    return binned;
}

// The full-size image around one star, its local background taken off.
struct Cutout {
    int x0 = 0, y0 = 0, size = 0;
    std::vector<float> values;
    float At(int x, int y) const {
        return values[static_cast<size_t>(y - y0) * static_cast<size_t>(size) +
                      static_cast<size_t>(x - x0)];
    }
};

Cutout CutOut(const std::vector<float>& pixels, int width, int height, int cx, int cy, int radius,
              float background) {
    Cutout cut;
    cut.size = 2 * radius + 1;
    cut.x0 = cx - radius;
    cut.y0 = cy - radius;
    cut.values.assign(static_cast<size_t>(cut.size) * static_cast<size_t>(cut.size), 0);
    for (int y = cut.y0; y < cut.y0 + cut.size; ++y)
        for (int x = cut.x0; x < cut.x0 + cut.size; ++x)
            if (x >= 0 && y >= 0 && x < width && y < height) {
                const float value = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                           static_cast<size_t>(x)];
                cut.values[static_cast<size_t>(y - cut.y0) * static_cast<size_t>(cut.size) +
                           static_cast<size_t>(x - cut.x0)] =
                    value > kIgnored / 2 ? value - background : 0;
            }
    return cut;
}

struct Candidate {
    int x = 0, y = 0; // the brightest full-size pixel
    float background = 0;
    double flux = 0;
};

// SEP's view of the image: its background, its objects, and the binning it was found at.
struct Detection {
    std::unique_ptr<sep_bkg, BackgroundFree> background;
    std::unique_ptr<sep_catalog, CatalogFree> catalog;
    int factor = 1;
    float noise = 0; // of one binned pixel
};

// The star's size (Gaussian sigma, pixels) from its light within 3 pixels of the peak.
double Sigma(const Cutout& cut, int cx, int cy) {
    double sum = 0, moment = 0;
    for (int y = cy - 3; y <= cy + 3; ++y)
        for (int x = cx - 3; x <= cx + 3; ++x) {
            const double value = std::max(0.0f, cut.At(x, y));
            sum += value;
            moment += value * ((x - cx) * (x - cx) + (y - cy) * (y - cy));
        }
    return sum > 0 ? std::sqrt(moment / sum / 2) : 0;
}

struct PixelRange {
    size_t unusable = 0; // not numbers, marked kIgnored
    float lowest = HUGE_VALF, highest = -HUGE_VALF;
};

// One pass over the pixels.  A function of its own: inlined into ExtractStars, GCC kept
// the running maximum in memory and the pass took three times as long.
[[gnu::noinline]] PixelRange MarkAndMeasure(std::vector<float>& pixels) {
    PixelRange range;
    for (float& value : pixels)
        if (!std::isfinite(value)) {
            value = kIgnored;
            ++range.unusable;
        } else {
            range.lowest = std::min(range.lowest, value);
            range.highest = std::max(range.highest, value);
        }
    return range;
}

// Why the pixels cannot be searched, or empty; NaN pixels are marked to be left out, and
// largest is the image's largest value.
std::string CheckPixels(std::vector<float>& pixels, int width, int height, float& largest) {
    if (width < 16 || height < 16 ||
        pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height))
        return "the image is too small to find stars in";
    const auto [unusable, lowest, highest] = MarkAndMeasure(pixels);
    largest = highest;
    if (unusable * 2 > pixels.size())
        return std::to_string(unusable) + " of " + std::to_string(pixels.size()) +
               " pixels are not numbers";
    // SEP takes a flat image for one of noise 1.
    if (lowest == highest) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(lowest));
        return std::string("the image is flat (every pixel ") + value + ")";
    }
    return {};
}

// SEP's background and objects on the image binned for speed.
std::string Detect(const std::vector<float>& pixels, int width, int height, Detection& found) {
    const int factor = std::max(1, static_cast<int>(std::ceil(std::sqrt(
                                       static_cast<double>(width) * height / kDetectionPixels))));
    found.factor = factor;
    // A copy to take the background off: the full-size pixels stay as they are.
    std::vector<float> flattened = factor == 1 ? pixels : Binned(pixels, width, height, factor);
    const int columns = width / factor, rows = height / factor;
    sep_image image = Image(flattened.data(), columns, rows);
    const int tile = std::max(16, 64 / factor);
    sep_bkg* background = nullptr;
    if (const int status = sep_background(&image, tile, tile, 3, 3, 0.0, &background); status != 0)
        return SepError("the background", status);
    found.background.reset(background);
    found.noise = sep_bkg_globalrms(background);
    if (!(found.noise > 0))
        return "the image is flat (no noise in its background)";
    if (const int status = sep_bkg_subarray(background, flattened.data(), SEP_TFLOAT); status != 0)
        return SepError("the background subtraction", status);
    for (float& value : flattened)
        if (!(value > kIgnored / 2))
            value = 0; // left-out pixels count as background from here on
    image.noiseval = found.noise;
    image.noise_type = SEP_NOISE_STDDEV;
    sep_catalog* catalog = nullptr;
    if (const int status = sep_extract(&image, kThreshold, SEP_THRESH_REL, kMinArea, kKernel, 3, 3,
                                       SEP_FILTER_CONV, 32, 0.005, 1, 1.0, &catalog);
        status != 0)
        return SepError("the star extraction", status);
    found.catalog.reset(catalog);
    return {};
}

// Star-shaped objects whole inside the image, brightest first.
std::vector<int> StarShaped(const sep_catalog& catalog) {
    std::vector<int> order;
    for (int i = 0; i < catalog.nobj; ++i) {
        const float a = catalog.a[i], b = catalog.b[i];
        if ((catalog.flag[i] & SEP_OBJ_TRUNC) == 0 && b > 0 && a / b <= kMaxElongation &&
            catalog.flux[i] > 0)
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(),
              [&](int p, int q) { return catalog.flux[p] > catalog.flux[q]; });
    return order;
}

// Each object's brightest full-size pixel; hot pixels and saturated stars (a pixel at the
// image's highest value: a flat top hides where the centre is) are left out.
std::vector<Candidate> Candidates(const std::vector<float>& pixels, int width, int height,
                                  const Detection& found, float highest) {
    const int factor = found.factor, reach = factor + 1;
    const sep_catalog& catalog = *found.catalog;
    std::vector<Candidate> candidates;
    for (const int i : StarShaped(catalog)) {
        if (candidates.size() >= static_cast<size_t>(kMaxStars))
            break;
        const int bx = catalog.xpeak[i], by = catalog.ypeak[i];
        const float local =
            sep_bkg_pix(found.background.get(), bx, by) / static_cast<float>(factor * factor);
        const int cx = bx * factor + factor / 2, cy = by * factor + factor / 2;
        if (cx - reach - 4 < 0 || cy - reach - 4 < 0 || cx + reach + 4 >= width ||
            cy + reach + 4 >= height)
            continue;
        const Cutout cut = CutOut(pixels, width, height, cx, cy, reach + 1, local);
        int px = cx, py = cy;
        for (int y = cy - reach; y <= cy + reach; ++y)
            for (int x = cx - reach; x <= cx + reach; ++x)
                if (cut.At(x, y) > cut.At(px, py)) {
                    px = x;
                    py = y;
                }
        double around = 0;
        bool saturated = false;
        for (int y = py - 1; y <= py + 1; ++y)
            for (int x = px - 1; x <= px + 1; ++x) {
                around += cut.At(x, y);
                saturated = saturated || cut.At(x, y) + local >= highest;
            }
        if (!(around > 0) || cut.At(px, py) / around > kMaxPeakShare || saturated)
            continue;
        candidates.push_back({px, py, local, catalog.flux[i]});
    }
    return candidates;
}

// The typical size (Gaussian sigma, pixels) of the brightest stars.
double TypicalSigma(const std::vector<float>& pixels, int width, int height,
                    const std::vector<Candidate>& candidates) {
    std::vector<double> sizes;
    for (size_t i = 0; i < candidates.size() && i < 15; ++i) {
        const Candidate& c = candidates[i];
        sizes.push_back(Sigma(CutOut(pixels, width, height, c.x, c.y, 4, c.background), c.x, c.y));
    }
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<long>(sizes.size() / 2),
                     sizes.end());
    return std::clamp(sizes[sizes.size() / 2], 0.6, 20.0);
}

// The star's windowed centre, or its brightest pixel where the window cannot settle.
StarPoint Centroid(const std::vector<float>& pixels, int width, int height, const Candidate& c,
                   double window) {
    const int radius = static_cast<int>(std::ceil(4 * window)) + 2;
    if (c.x - radius < 0 || c.y - radius < 0 || c.x + radius >= width || c.y + radius >= height)
        return {static_cast<double>(c.x), static_cast<double>(c.y), c.flux};
    const Cutout cut = CutOut(pixels, width, height, c.x, c.y, radius, c.background);
    const sep_image image = Image(cut.values.data(), cut.size, cut.size);
    double wx = 0, wy = 0;
    int iterations = 0;
    short flag = 0;
    if (sep_windowed(&image, radius, radius, window, 0, 0, &wx, &wy, &iterations, &flag) == 0 &&
        std::isfinite(wx) && std::isfinite(wy) && std::hypot(wx - radius, wy - radius) < window)
        return {cut.x0 + wx, cut.y0 + wy, c.flux};
    return {static_cast<double>(c.x), static_cast<double>(c.y), c.flux};
}

// The centre's 1-sigma uncertainty (pixels, per axis) of a Gaussian star of the given
// sigma and flux over background noise of the given sigma per pixel: the star's own
// photon noise (one count per unit) and the background's.
double CentreError(double sigma, double flux, double noise) {
    const double s2 = sigma * sigma;
    return std::sqrt(s2 / flux + 8 * std::numbers::pi * s2 * s2 * noise * noise / (flux * flux));
}

} // namespace

StarExtraction ExtractStars(std::vector<float>& pixels, int width, int height) {
    StarExtraction result;
    float highest = 0;
    result.fault = CheckPixels(pixels, width, height, highest);
    if (!result.fault.empty())
        return result;
    Detection found;
    result.fault = Detect(pixels, width, height, found);
    if (!result.fault.empty())
        return result;
    result.found = found.catalog->nobj;
    const std::vector<Candidate> candidates = Candidates(pixels, width, height, found, highest);
    if (candidates.empty())
        return result;
    // One window for all stars, from the typical size of the brightest ones.
    const double sigma = TypicalSigma(pixels, width, height, candidates);
    const double noise = found.noise / found.factor; // a sum of factor^2 pixels
    for (const Candidate& c : candidates) {
        StarPoint star = Centroid(pixels, width, height, c, kWindowScale * sigma);
        star.error = CentreError(sigma, c.flux, noise);
        result.stars.push_back(star);
    }
    return result;
}
