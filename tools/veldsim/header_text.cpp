#include "tools/veldsim/header_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>

std::optional<long long> UnixSecondsOf(const std::string& start) {
    std::tm parts{};
    if (std::sscanf(start.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6)
        return std::nullopt;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    // The header time is a plain calendar time: calendar arithmetic in UTC avoids any
    // daylight-saving jump of the machine's zone.
    return static_cast<long long>(timegm(&parts));
}

std::string DateObsAfter(const std::string& start, double seconds) {
    const std::optional<long long> startSeconds = UnixSecondsOf(start);
    if (!startSeconds)
        return {};
    const std::time_t shifted =
        static_cast<std::time_t>(*startSeconds) + static_cast<std::time_t>(std::llround(seconds));
    std::tm result{};
    gmtime_r(&shifted, &result);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", result.tm_year + 1900,
                  result.tm_mon + 1, result.tm_mday, result.tm_hour, result.tm_min, result.tm_sec);
    return text;
}

std::string RaText(double hours) {
    const long seconds = std::lround(hours * 3600) % 86400;
    char text[64];
    std::snprintf(text, sizeof text, "%02ld %02ld %02ld", seconds / 3600, seconds % 3600 / 60,
                  seconds % 60);
    return text;
}

std::string DecText(double degrees) {
    const long seconds = std::lround(std::abs(degrees) * 3600);
    char text[64];
    std::snprintf(text, sizeof text, "%c%02ld %02ld %02ld", degrees < 0 ? '-' : '+', seconds / 3600,
                  seconds % 3600 / 60, seconds % 60);
    return text;
}
