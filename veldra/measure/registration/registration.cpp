#include "veldra/measure/registration/registration.h"

#include "hdrlib/hdrlib.h"
#include "veldra/measure/registration/star_match.h"

#include <cmath>
#include <numbers>

namespace {

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

ImageStars StarsOfImage(const std::string& path, std::vector<float>& pixels) {
    ImageStars image;
    int32_t width = 0, height = 0;
    int32_t result = readFitsImageFloats(path.c_str(), nullptr, 0, &width, &height);
    if (result == -14) {
        pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        result = readFitsImageFloats(path.c_str(), pixels.data(),
                                     static_cast<int64_t>(pixels.size()), &width, &height);
    }
    if (result != 0) {
        image.extraction.fault =
            result == -5   ? "the pixel data end early (hdrlib -5)"
            : result == -4 ? "the primary HDU holds no image (hdrlib -4)"
                           : "the pixels cannot be read (hdrlib " + std::to_string(result) + ")";
        return image;
    }
    image.width = width;
    image.height = height;
    image.extraction = ExtractStars(pixels, width, height);
    return image;
}

SkyDegrees CentreOf(const TanMap& map, int width, int height) {
    return PixelToSky(map, (width + 1) / 2.0, (height + 1) / 2.0);
}

RegistrationReference MakeReference(const ImageStars& image, const TanMap& map) {
    RegistrationReference reference;
    reference.valid = image.extraction.fault.empty() &&
                      image.extraction.stars.size() >= static_cast<size_t>(kMinMatchedStars);
    reference.width = image.width;
    reference.height = image.height;
    reference.stars = image.extraction.stars;
    reference.map = map;
    return reference;
}

Registration Register(const RegistrationReference& reference, const ImageStars& image) {
    Registration result;
    result.found = static_cast<int>(image.extraction.stars.size());
    if (!image.extraction.fault.empty()) {
        result.fault = image.extraction.fault;
        return result;
    }
    if (result.found < kMinMatchedStars) {
        result.fault = "only " + std::to_string(result.found) + " stars found (at least " +
                       std::to_string(kMinMatchedStars) + " needed)";
        return result;
    }
    const StarMatch match = MatchStars(image.extraction.stars, reference.stars);
    if (!match.found || match.pairs.size() < static_cast<size_t>(kMinMatchedStars)) {
        result.fault = "only " + std::to_string(match.pairs.size()) + " of " +
                       std::to_string(result.found) + " stars matched the reference (at least " +
                       std::to_string(kMinMatchedStars) + " needed)";
        return result;
    }
    const RigidFit fit = FitWithoutOutliers(image.extraction.stars, reference.stars, match.pairs);
    result.matched = static_cast<int>(fit.pairs.size());
    result.residual = fit.rms;
    result.rigid = fit.rigid;
    const double turn = fit.rigid.angle * 180 / std::numbers::pi;
    if (result.matched < kMinMatchedStars) {
        result.fault = "only " + std::to_string(result.matched) +
                       " stars left after the outliers (at least " +
                       std::to_string(kMinMatchedStars) + " needed)";
    } else if (!(fit.rms <= kMaxResidualPixels)) {
        result.fault = "fit residual " + Fixed(fit.rms, 3) + " px (at most " +
                       Fixed(kMaxResidualPixels, 1) + " px)";
    } else if (std::fabs(turn) > kMaxTurnDegrees) {
        result.fault = "the field turned by " + Fixed(turn, 1) + " degrees (a flip?)";
    }
    if (!result.fault.empty())
        return result;
    // The image's centre pixel, in the reference's pixels.
    const StarPoint centre = Apply(fit.rigid, {(image.width - 1) / 2.0, (image.height - 1) / 2.0});
    result.shiftX = centre.x - (reference.width - 1) / 2.0;
    result.shiftY = centre.y - (reference.height - 1) / 2.0;
    result.centre = PixelToSky(reference.map, centre.x + 1, centre.y + 1);
    return result;
}
