#include "fitstag/sky_position.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <numbers>

std::optional<int> RoundAwayFromZero(double value) {
    const double rounded = std::round(value); // halves away from zero
    if (!std::isfinite(rounded) || rounded < INT_MIN || rounded > INT_MAX)
        return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<int> RaSeconds(double ra) {
    return RoundAwayFromZero(ra / 2 / std::numbers::pi * 24 * 60 * 60);
}

std::optional<int> DecSeconds(double dec) {
    return RoundAwayFromZero(std::fabs(dec) / 2 / std::numbers::pi * 360 * 60 * 60);
}

std::string RaText(int seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d %02d %02d", seconds / 3600, seconds % 3600 / 60,
                  seconds % 60);
    return text;
}

std::string DecText(double dec, int seconds) {
    std::string text(1, dec >= 0 ? '+' : '-');
    text += RaText(seconds);
    return text;
}
