#include "common/numbers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>

double RoundHalfEven(double value) {
    if (!std::isfinite(value))
        return value;
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5)
        return floor + 1.0;
    if (fraction < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

namespace {

template <typename Int> std::optional<Int> RoundTo(double value) {
    const double rounded = RoundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<Int>::min() ||
        rounded > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(rounded);
}

template <typename Real> std::string GeneralText(Real value, int digits, char decimalPoint) {
    if (value == 0)
        value = 0; // no "-0"
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
    std::string text(buffer, result.ptr);
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
        else if (c == '.')
            c = decimalPoint;
    }
    return text;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<int16_t> RoundToInt16(double value) {
    return RoundTo<int16_t>(value);
}
std::optional<int32_t> RoundToInt32(double value) {
    return RoundTo<int32_t>(value);
}

char LocaleDecimalPoint() {
    const std::lconv* conventions = std::localeconv();
    if (conventions == nullptr || conventions->decimal_point == nullptr ||
        conventions->decimal_point[0] == '\0')
        return '.';
    return conventions->decimal_point[0];
}

std::string DefaultText(double value) {
    return GeneralText(value, 15, LocaleDecimalPoint());
}
std::string DefaultText(float value) {
    return GeneralText(value, 7, LocaleDecimalPoint());
}
std::string PlainNumberText(double value) {
    return GeneralText(value, 15, '.');
}

std::optional<double> ParseNumber(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    // from_chars takes a leading "-" only; "inf"/"nan" spellings are no numbers here.
    if (text.empty() || text.front() == '+' || std::any_of(text.begin(), text.end(), [](char c) {
            return std::isalpha(c) && c != 'e' && c != 'E';
        }))
        return std::nullopt;
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> ParseLocaleNumber(std::string_view text) {
    const char point = LocaleDecimalPoint();
    if (point == '.')
        return ParseNumber(text);
    std::string converted(text);
    if (converted.find('.') != std::string::npos)
        return std::nullopt;
    std::replace(converted.begin(), converted.end(), point, '.');
    return ParseNumber(converted);
}
