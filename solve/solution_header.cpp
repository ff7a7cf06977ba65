#include "solve/solution_header.h"

#include "hdrlib/hdrlib.h"
#include "veldra/settings/numbers.h"

#include <cmath>
#include <optional>

namespace {

std::optional<double> ReadDegrees(FitsInfo& info, const char* keyword) {
    char text[32] = {};
    if (readFitsStrParam(keyword, &info, text) != 0)
        return std::nullopt;
    const auto value = ParseNumber(text);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

} // namespace

SolveOutcome ReadCentre(const std::string& path) {
    FitsInfo info{};
    if (const int32_t result = loadFitsHeader(path.c_str(), &info); result != 0)
        return {false, 0, 0,
                "cannot read the solution " + path + " (hdrlib " + std::to_string(result) + ")"};
    const auto ra = ReadDegrees(info, "CRVAL1");
    const auto dec = ReadDegrees(info, "CRVAL2");
    freeFits(&info);
    if (!ra || !dec || std::fabs(*dec) > 90)
        return {false, 0, 0, "the solution has no valid CRVAL1/CRVAL2"};
    return SolvedAt(*ra, *dec);
}

namespace {

bool ImageSize(const std::string& path, int32_t result, int32_t width, int32_t height,
               int& widthOut, int& heightOut, std::string& error) {
    if (result != 0) {
        error =
            "cannot read the image " + path + " as FITS (hdrlib " + std::to_string(result) + ")";
        return false;
    }
    if (width <= 0 || height <= 0) {
        error = "the image " + path + " has no pixels";
        return false;
    }
    widthOut = width;
    heightOut = height;
    return true;
}

} // namespace

bool ReadImageSize(const std::string& path, int& width, int& height, std::string& error) {
    FitsInfo info{};
    const int32_t result = loadFitsFile(path.c_str(), &info);
    if (result == 0)
        freeFits(&info);
    return ImageSize(path, result, info.width, info.height, width, height, error);
}

bool PeekImageSize(const std::string& path, int& width, int& height, std::string& error) {
    int32_t peekedWidth = 0, peekedHeight = 0;
    const int32_t result = peekFitsImageSize(path.c_str(), &peekedWidth, &peekedHeight);
    return ImageSize(path, result, peekedWidth, peekedHeight, width, height, error);
}
