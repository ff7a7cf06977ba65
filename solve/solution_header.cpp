#include "solve/solution_header.h"

#include "common/numbers.h"
#include "hdrlib/hdrlib.h"

#include <cmath>
#include <optional>
#include <string_view>

namespace {

std::optional<double> ReadDegrees(FitsInfo& info, const char* keyword) {
    char text[32] = {};
    if (readFitsStrParam(keyword, &info, text) != 0)
        return std::nullopt;
    const auto value = ParseNumber(text);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

// A CD element: its text when hdrlib hands all of it (at most 20 characters), else its
// single-precision value, precise enough for a matrix.
std::optional<double> ReadMatrixElement(FitsInfo& info, const char* keyword) {
    char text[32] = {};
    if (readFitsStrParam(keyword, &info, text) == 0 && std::string_view(text).size() < 20)
        return ReadDegrees(info, keyword);
    float value = 0;
    if (readFitsFloatParam(keyword, &info, &value) != 0 || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

SolveOutcome ReadCentre(const std::string& path) {
    FitsInfo info{};
    if (const int32_t result = loadFitsHeader(path.c_str(), &info); result != 0)
        return {false, 0, 0,
                "cannot read the solution " + path + " (hdrlib " + std::to_string(result) + ")"};
    const auto ra = ReadDegrees(info, "CRVAL1");
    const auto dec = ReadDegrees(info, "CRVAL2");
    const char* const names[] = {"CD1_1", "CD1_2", "CD2_1", "CD2_2"};
    std::optional<double> cd[4];
    for (int i = 0; i < 4; ++i)
        cd[i] = ReadMatrixElement(info, names[i]);
    freeFits(&info);
    if (!ra || !dec)
        return {false, 0, 0, "the solution has no valid CRVAL1/CRVAL2"};
    SolveOutcome outcome = SolvedAt(*ra, *dec);
    outcome.oriented = cd[0] && cd[1] && cd[2] && cd[3];
    for (int i = 0; outcome.oriented && i < 4; ++i)
        outcome.cd[i / 2][i % 2] = *cd[i];
    return outcome;
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
