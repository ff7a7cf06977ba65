#include "veldra/measure/registration/tan_map.h"

#include "common/numbers.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr double kDegree = std::numbers::pi / 180;

// A number keyword in full: its text when hdrlib hands all of it (at most 20
// characters), its single-precision value otherwise.
std::optional<double> ReadNumber(FitsInfo& info, const char* keyword) {
    char text[21] = {};
    if (readFitsStrParam(keyword, &info, text) == 0 && std::strlen(text) < 20)
        if (const auto value = ParseNumber(text); value && std::isfinite(*value))
            return value;
    float value = 0;
    if (readFitsFloatParam(keyword, &info, &value) == 0 && std::isfinite(value))
        return value;
    return std::nullopt;
}

bool Singular(const double cd[2][2]) {
    const double det = cd[0][0] * cd[1][1] - cd[0][1] * cd[1][0];
    return !std::isfinite(det) || std::fabs(det) < 1e-20;
}

// CD from CDELT and PC, or from CDELT and CROTA2.
bool MatrixFromCdelt(FitsInfo& info, double cd[2][2]) {
    const auto cdelt1 = ReadNumber(info, "CDELT1");
    const auto cdelt2 = ReadNumber(info, "CDELT2");
    if (!cdelt1 || !cdelt2)
        return false;
    const auto pc11 = ReadNumber(info, "PC1_1"), pc12 = ReadNumber(info, "PC1_2");
    const auto pc21 = ReadNumber(info, "PC2_1"), pc22 = ReadNumber(info, "PC2_2");
    if (pc11 || pc12 || pc21 || pc22) {
        cd[0][0] = *cdelt1 * pc11.value_or(1);
        cd[0][1] = *cdelt1 * pc12.value_or(0);
        cd[1][0] = *cdelt2 * pc21.value_or(0);
        cd[1][1] = *cdelt2 * pc22.value_or(1);
        return true;
    }
    const double rotation = ReadNumber(info, "CROTA2").value_or(0) * kDegree;
    cd[0][0] = *cdelt1 * std::cos(rotation);
    cd[0][1] = -*cdelt2 * std::sin(rotation);
    cd[1][0] = *cdelt1 * std::sin(rotation);
    cd[1][1] = *cdelt2 * std::cos(rotation);
    return true;
}

bool TanOrAbsent(FitsInfo& info, const char* keyword) {
    char text[21] = {};
    return readFitsStrParam(keyword, &info, text) != 0 || std::strstr(text, "-TAN") != nullptr;
}

} // namespace

SkyDegrees PixelToSky(const TanMap& map, double x, double y) {
    const double dx = x - map.crpix1, dy = y - map.crpix2;
    const double xi = (map.cd[0][0] * dx + map.cd[0][1] * dy) * kDegree;
    const double eta = (map.cd[1][0] * dx + map.cd[1][1] * dy) * kDegree;
    const double dec0 = map.crval2 * kDegree;
    const double denominator = std::cos(dec0) - eta * std::sin(dec0);
    double ra = map.crval1 + std::atan2(xi, denominator) / kDegree;
    const double dec =
        std::atan2(std::sin(dec0) + eta * std::cos(dec0), std::hypot(xi, denominator)) / kDegree;
    ra = std::fmod(ra, 360.0);
    if (ra < 0)
        ra += 360;
    return {ra, dec};
}

std::optional<TanMap> TanMapFromHeader(FitsInfo& info, std::string& missing) {
    TanMap map;
    const auto crval1 = ReadNumber(info, "CRVAL1"), crval2 = ReadNumber(info, "CRVAL2");
    const auto crpix1 = ReadNumber(info, "CRPIX1"), crpix2 = ReadNumber(info, "CRPIX2");
    if (!crval1 || !crval2 || !crpix1 || !crpix2 || std::fabs(*crval2) > 90) {
        missing = "no CRVAL1, CRVAL2, CRPIX1 and CRPIX2";
        return std::nullopt;
    }
    if (!TanOrAbsent(info, "CTYPE1") || !TanOrAbsent(info, "CTYPE2")) {
        missing = "CTYPE1 and CTYPE2 name no TAN projection";
        return std::nullopt;
    }
    const auto cd11 = ReadNumber(info, "CD1_1"), cd12 = ReadNumber(info, "CD1_2");
    const auto cd21 = ReadNumber(info, "CD2_1"), cd22 = ReadNumber(info, "CD2_2");
    if (cd11 || cd12 || cd21 || cd22) {
        map.cd[0][0] = cd11.value_or(0);
        map.cd[0][1] = cd12.value_or(0);
        map.cd[1][0] = cd21.value_or(0);
        map.cd[1][1] = cd22.value_or(0);
    } else if (!MatrixFromCdelt(info, map.cd)) {
        missing = "no CD matrix and no CDELT1 and CDELT2";
        return std::nullopt;
    }
    if (Singular(map.cd)) {
        missing = "a singular pixel matrix";
        return std::nullopt;
    }
    map.crval1 = *crval1;
    map.crval2 = *crval2;
    map.crpix1 = *crpix1;
    map.crpix2 = *crpix2;
    return map;
}

TanMap TanMapAtCentre(double raDegrees, double decDegrees, int width, int height,
                      const double cd[2][2]) {
    TanMap map;
    map.crval1 = raDegrees;
    map.crval2 = decDegrees;
    map.crpix1 = (width + 1) / 2.0;
    map.crpix2 = (height + 1) / 2.0;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            map.cd[i][j] = cd[i][j];
    return map;
}

std::optional<TanMap> OrientationFromApm(const std::string& text, double raRadians,
                                         double decRadians, int width, int height) {
    const size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos)
        return std::nullopt;
    std::string_view line(text);
    line = line.substr(lineEnd + 1);
    line = line.substr(0, line.find_first_of("\r\n"));
    double cd[2][2];
    for (int i = 0; i < 4; ++i) {
        const size_t comma = line.find(',');
        const auto value = ParseNumber(line.substr(0, comma));
        if (!value || !std::isfinite(*value) || (i < 3) == (comma == std::string_view::npos))
            return std::nullopt;
        cd[i / 2][i % 2] = *value;
        line = comma == std::string_view::npos ? std::string_view() : line.substr(comma + 1);
    }
    if (Singular(cd))
        return std::nullopt;
    // veldra's radians use its own pi; back to degrees the same way.
    return TanMapAtCentre(raRadians / (2 * kPi) * 360, decRadians / (2 * kPi) * 360, width, height,
                          cd);
}
