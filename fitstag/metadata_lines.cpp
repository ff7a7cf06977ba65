#include "fitstag/metadata_lines.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

constexpr size_t kPieceLength = 999; // a 1000-byte line buffer with its terminator

bool StartsWith(std::string_view line, std::string_view start) {
    return line.substr(0, start.size()) == start;
}

bool Contains(std::string_view line, std::string_view part) {
    return line.find(part) != std::string_view::npos;
}

// The text from two characters after the first colon; empty when there is no
// colon or the line ends before that position.
std::optional<std::string_view> AfterColon(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon + 2 > line.size())
        return std::nullopt;
    return line.substr(colon + 2);
}

// Two characters at column as a number; a leading blank is allowed (" 8").
std::optional<int> TwoDigits(std::string_view line, size_t column) {
    const char high = line[column], low = line[column + 1];
    if (!std::isdigit(static_cast<unsigned char>(low)) ||
        !(high == ' ' || std::isdigit(static_cast<unsigned char>(high))))
        return std::nullopt;
    return (high == ' ' ? 0 : high - '0') * 10 + (low - '0');
}

std::optional<int> MonthNumber(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (name == kMonths[i])
            return static_cast<int>(i) + 1;
    return std::nullopt;
}

std::optional<LineValue> Number(LineValue::Kind kind, std::optional<float> number) {
    if (!number)
        return std::nullopt;
    return LineValue{kind, *number, {}};
}

} // namespace

bool ReadPiece(std::istream& in, std::string& piece) {
    piece.clear();
    char c = 0;
    while (piece.size() < kPieceLength && in.get(c)) {
        if (c == '\n')
            break;
        piece.push_back(c);
    }
    if (piece.empty() && c != '\n' && !in)
        return false;
    if (!piece.empty() && piece.back() == '\r')
        piece.pop_back();
    // Text after a NUL byte is not part of the line, as for any C string.
    if (const auto nul = piece.find('\0'); nul != std::string::npos)
        piece.resize(nul);
    return true;
}

std::optional<float> LeadingNumber(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    bool negative = false;
    if (start < text.size() && (text[start] == '+' || text[start] == '-')) {
        negative = text[start] == '-';
        ++start;
    }
    if (start < text.size() && (text[start] == '+' || text[start] == '-'))
        return std::nullopt; // one sign only
    float value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value,
                                              std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::string> TimestampToUtc(std::string_view line) {
    // Timestamp: Sun Nov 18 20:13:42 2012
    // 0         1         2         3
    // 0123456789012345678901234567890123456
    if (line.size() < 35)
        return std::nullopt;
    const auto month = MonthNumber(line.substr(15, 3));
    const auto day = TwoDigits(line, 19), hour = TwoDigits(line, 22), minute = TwoDigits(line, 25),
               second = TwoDigits(line, 28);
    int year = 0;
    for (size_t column = 31; column < 35; ++column) {
        if (!std::isdigit(static_cast<unsigned char>(line[column])))
            return std::nullopt;
        year = year * 10 + (line[column] - '0');
    }
    if (!month || !day || !hour || !minute || !second || *day < 1 || *day > 31 || *hour > 23 ||
        *minute > 59 || *second > 60)
        return std::nullopt;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1; // the platform decides daylight saving for that date
    const std::time_t time = std::mktime(&local);
    std::tm utc{};
    if (time == static_cast<std::time_t>(-1) || gmtime_r(&time, &utc) == nullptr)
        return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return std::string(text);
}

std::optional<LineValue> ParseLine(std::string_view line) {
    using Kind = LineValue::Kind;
    if (StartsWith(line, "Shutter:"))
        return Number(Kind::Exposure, LeadingNumber(line.substr(8)));
    if (Contains(line, "Shutter Speed")) {
        const auto value = AfterColon(line);
        return value ? Number(Kind::Exposure, LeadingNumber(*value)) : std::nullopt;
    }
    if (StartsWith(line, "Timestamp:")) {
        auto utc = TimestampToUtc(line);
        return utc ? std::optional(LineValue{Kind::DateObs, 0, std::move(*utc)}) : std::nullopt;
    }
    if (Contains(line, "Date/Time Original")) {
        const auto value = AfterColon(line);
        if (!value || value->size() < 19)
            return std::nullopt;
        std::string text(value->substr(0, 19));
        text[4] = '-';
        text[7] = '-';
        text[10] = 'T';
        return LineValue{Kind::DateObs, 0, text};
    }
    if (Contains(line, "Camera Temperature")) {
        const auto value = AfterColon(line);
        return value ? Number(Kind::CcdTemp, LeadingNumber(*value)) : std::nullopt;
    }
    return std::nullopt;
}
