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
    constexpr int kDay = 24 * 60 * 60;
    const auto seconds = RoundAwayFromZero(ra / 2 / std::numbers::pi * kDay);
    if (!seconds || *seconds < 0 || *seconds > kDay)
        return std::nullopt;
    return *seconds % kDay;
}

std::optional<int> DecSeconds(double dec) {
    const auto seconds = RoundAwayFromZero(std::fabs(dec) / 2 / std::numbers::pi * 360 * 60 * 60);
    if (!seconds || *seconds > 90 * 60 * 60)
        return std::nullopt;
    return seconds;
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
