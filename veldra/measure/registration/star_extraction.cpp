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
// Detection: objects of at least kMinArea pixels kThreshold sigma above the background,
// found through SEP's default 3 x 3 smoothing kernel.
constexpr float kThreshold = 5;
constexpr int kMinArea = 3;
const float kKernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
// A star has at least this many pixels above the threshold before the smoothing (a hot
// pixel has one), and is at most this elongated (a satellite trail is far more).
constexpr int kMinRawPixels = 3;
constexpr float kMaxElongation = 2.5f;

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

sep_image Image(const std::vector<float>& pixels, int width, int height) {
    sep_image image{};
    image.data = pixels.data();
    image.dtype = SEP_TFLOAT;
    image.w = width;
    image.h = height;
    return image;
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

    sep_image image = Image(pixels, width, height);
    sep_bkg* rawBackground = nullptr;
    if (const int status = sep_background(&image, 64, 64, 3, 3, 0.0, &rawBackground); status != 0) {
        result.fault = SepError("the background", status);
        return result;
    }
    const std::unique_ptr<sep_bkg, BackgroundFree> background(rawBackground);
    const float noise = sep_bkg_globalrms(background.get());
    if (!(noise > 0)) {
        result.fault = "the image is flat (no noise in its background)";
        return result;
    }
    if (const int status = sep_bkg_subarray(background.get(), pixels.data(), SEP_TFLOAT);
        status != 0) {
        result.fault = SepError("the background subtraction", status);
        return result;
    }
    // Pixels left out count as background from here on.
    if (unusable > 0)
        for (float& value : pixels)
            if (!(value > kIgnored / 2))
                value = 0;

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

    std::vector<int> kept;
    std::vector<float> sizes;
    for (int i = 0; i < catalog->nobj; ++i) {
        const float a = catalog->a[i], b = catalog->b[i];
        if (catalog->tnpix[i] < kMinRawPixels || (catalog->flag[i] & SEP_OBJ_TRUNC) != 0 ||
            !(b > 0) || a / b > kMaxElongation || !(catalog->flux[i] > 0))
            continue;
        kept.push_back(i);
        sizes.push_back(std::sqrt(a * b));
    }
    if (kept.empty())
        return result;
    std::sort(kept.begin(), kept.end(),
              [&](int p, int q) { return catalog->flux[p] > catalog->flux[q]; });
    if (kept.size() > static_cast<size_t>(kMaxStars))
        kept.resize(kMaxStars);
    // One window for all stars: the typical star's size, as Source Extractor takes it.
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<long>(sizes.size() / 2),
                     sizes.end());
    const double sigma = std::max(0.6, static_cast<double>(sizes[sizes.size() / 2]));
    for (const int i : kept) {
        double x = catalog->x[i], y = catalog->y[i];
        double windowedX = x, windowedY = y;
        int iterations = 0;
        short flag = 0;
        if (sep_windowed(&image, x, y, sigma, 0, 0, &windowedX, &windowedY, &iterations, &flag) ==
                0 &&
            std::isfinite(windowedX) && std::isfinite(windowedY) &&
            std::hypot(windowedX - x, windowedY - y) < 2 * sigma) {
            x = windowedX;
            y = windowedY;
        }
        result.stars.push_back({x, y, catalog->flux[i]});
    }
    return result;
}
