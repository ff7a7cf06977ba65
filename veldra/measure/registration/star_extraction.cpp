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

} // namespace

StarExtraction ExtractStars(std::vector<float>& pixels, int width, int height) {
    StarExtraction result;
    if (width < 16 || height < 16 ||
        pixels.size() < static_cast<size_t>(width) * static_cast<size_t>(height)) {
        result.fault = "the image is too small to find stars in";
        return result;
    }
    size_t unusable = 0;
    float lowest = HUGE_VALF, highest = -HUGE_VALF;
    for (float& value : pixels)
        if (!std::isfinite(value)) {
            value = kIgnored;
            ++unusable;
        } else {
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
    if (unusable * 2 > pixels.size()) {
        result.fault = std::to_string(unusable) + " of " + std::to_string(pixels.size()) +
                       " pixels are not numbers";
        return result;
    }
    // SEP takes a flat image for one of noise 1.
    if (lowest == highest) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(lowest));
        result.fault = std::string("the image is flat (every pixel ") + value + ")";
        return result;
    }

    const int factor = std::max(1, static_cast<int>(std::ceil(std::sqrt(
                                       static_cast<double>(width) * height / kDetectionPixels))));
    std::vector<float> binned =
        factor == 1 ? std::vector<float>() : Binned(pixels, width, height, factor);
    const std::vector<float>& detect = factor == 1 ? pixels : binned;
    const int columns = width / factor, rows = height / factor;
    // A copy to take the background off: the full-size pixels stay as they are.
    std::vector<float> flattened = detect;
    sep_image image = Image(flattened.data(), columns, rows);
    const int tile = std::max(16, 64 / factor);
    sep_bkg* rawBackground = nullptr;
    if (const int status = sep_background(&image, tile, tile, 3, 3, 0.0, &rawBackground);
        status != 0) {
        result.fault = SepError("the background", status);
        return result;
    }
    const std::unique_ptr<sep_bkg, BackgroundFree> background(rawBackground);
    const float noise = sep_bkg_globalrms(background.get());
    if (!(noise > 0)) {
        result.fault = "the image is flat (no noise in its background)";
        return result;
    }
    if (const int status = sep_bkg_subarray(background.get(), flattened.data(), SEP_TFLOAT);
        status != 0) {
        result.fault = SepError("the background subtraction", status);
        return result;
    }
    for (float& value : flattened)
        if (!(value > kIgnored / 2))
            value = 0; // left-out pixels count as background from here on
    image.noiseval = noise;
    image.noise_type = SEP_NOISE_STDDEV;
    sep_catalog* rawCatalog = nullptr;
    if (const int status = sep_extract(&image, kThreshold, SEP_THRESH_REL, kMinArea, kKernel, 3, 3,
                                       SEP_FILTER_CONV, 32, 0.005, 1, 1.0, &rawCatalog);
        status != 0) {
        result.fault = SepError("the star extraction", status);
        return result;
    }
    const std::unique_ptr<sep_catalog, CatalogFree> catalog(rawCatalog);
    result.found = catalog->nobj;

    std::vector<int> order;
    for (int i = 0; i < catalog->nobj; ++i) {
        const float a = catalog->a[i], b = catalog->b[i];
        if ((catalog->flag[i] & SEP_OBJ_TRUNC) == 0 && b > 0 && a / b <= kMaxElongation &&
            catalog->flux[i] > 0)
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(),
              [&](int p, int q) { return catalog->flux[p] > catalog->flux[q]; });

    // Each object's brightest full-size pixel; hot pixels are left out there.
    const int reach = factor + 1;
    std::vector<Candidate> candidates;
    for (const int i : order) {
        if (candidates.size() >= static_cast<size_t>(kMaxStars))
            break;
        const int bx = catalog->xpeak[i], by = catalog->ypeak[i];
        const float local =
            sep_bkg_pix(background.get(), bx, by) / static_cast<float>(factor * factor);
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
        for (int y = py - 1; y <= py + 1; ++y)
            for (int x = px - 1; x <= px + 1; ++x)
                around += cut.At(x, y);
        if (!(around > 0) || cut.At(px, py) / around > kMaxPeakShare)
            continue;
        candidates.push_back({px, py, local, catalog->flux[i]});
    }
    if (candidates.empty())
        return result;

    // One window for all stars: the typical size of the brightest ones.
    std::vector<double> sizes;
    for (size_t i = 0; i < candidates.size() && i < 15; ++i) {
        const Candidate& c = candidates[i];
        sizes.push_back(Sigma(CutOut(pixels, width, height, c.x, c.y, 4, c.background), c.x, c.y));
    }
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<long>(sizes.size() / 2),
                     sizes.end());
    const double sigma = std::clamp(sizes[sizes.size() / 2], 0.6, 20.0);
    const int radius = static_cast<int>(std::ceil(4 * sigma)) + 2;
    for (const Candidate& c : candidates) {
        double x = c.x, y = c.y;
        if (c.x - radius >= 0 && c.y - radius >= 0 && c.x + radius < width &&
            c.y + radius < height) {
            const Cutout cut = CutOut(pixels, width, height, c.x, c.y, radius, c.background);
            const sep_image window = Image(cut.values.data(), cut.size, cut.size);
            double wx = 0, wy = 0;
            int iterations = 0;
            short flag = 0;
            if (sep_windowed(&window, radius, radius, sigma, 0, 0, &wx, &wy, &iterations, &flag) ==
                    0 &&
                std::isfinite(wx) && std::isfinite(wy) &&
                std::hypot(wx - radius, wy - radius) < 2 * sigma) {
                x = cut.x0 + wx;
                y = cut.y0 + wy;
            }
        }
        result.stars.push_back({x, y, c.flux});
    }
    return result;
}
