#include "veldra/windows/main/display_formats.h"

#include "common/date_time.h"
#include "common/numbers.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

// The locale's grouping applied to a run of digits (localeconv's rules: each byte is a
// group size counted from the right, the last one repeats, CHAR_MAX stops grouping).
std::string GroupDigits(const std::string& digits) {
    const std::lconv* conventions = std::localeconv();
    if (conventions == nullptr || conventions->thousands_sep == nullptr ||
        conventions->thousands_sep[0] == '\0' || conventions->grouping == nullptr)
        return digits;
    const std::string separator = conventions->thousands_sep;
    const char* group = conventions->grouping;
    std::string result = digits;
    size_t position = digits.size();
    int size = *group;
    // Separators go in from the right, so the positions to the left stay valid.
    while (size > 0 && size != CHAR_MAX && position > static_cast<size_t>(size)) {
        position -= size;
        result.insert(position, separator);
        if (group[1] != '\0')
            size = *++group;
    }
    return result;
}

// A count of 1/perSecond seconds (of time or of arc) in whole units of 3600 s, minutes,
// seconds and the rest; truncated toward zero, as C++ divides.
struct Sexagesimal {
    int32_t whole = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t fraction = 0;
};

Sexagesimal Split(int32_t count, int32_t perSecond) {
    const int32_t perMinute = 60 * perSecond, perWhole = 3600 * perSecond;
    const int32_t inWhole = count % perWhole, inMinute = inWhole % perMinute;
    return {count / perWhole, inWhole / perMinute, inMinute / perSecond, inMinute % perSecond};
}

} // namespace

std::string PadTwo(int value) {
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) about "0" + string when optimising.
    std::string text(value < 10 ? 1 : 0, '0');
    text.append(std::to_string(value));
    return text;
}

std::string FormatRa(double radians) {
    const std::optional<int32_t> t = RoundToInt32(radians / 2 / kPi * 24 * 60 * 60 * 100);
    if (!t)
        return {};
    const Sexagesimal ra = Split(*t, 100);
    return PadTwo(ra.whole) + " " + PadTwo(ra.minutes) + " " + PadTwo(ra.seconds) + "." +
           PadTwo(ra.fraction);
}

std::string FormatDec(double radians) {
    const std::string sign = radians >= 0 ? "+" : "-";
    const std::optional<int32_t> t =
        RoundToInt32(std::fabs(radians) / 2 / kPi * 360 * 60 * 60 * 10);
    if (!t)
        return {};
    const Sexagesimal dec = Split(*t, 10);
    return sign + PadTwo(dec.whole) + " " + PadTwo(dec.minutes) + " " + PadTwo(dec.seconds) + "." +
           std::to_string(dec.fraction);
}

std::string FormatImageTime(double days) {
    const CalendarTime time = CalendarFromDays(days);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return buffer;
}

std::string FormatOneDecimal(double value) {
    if (!std::isfinite(value))
        return DefaultText(value);
    // to_chars rounds the exact binary value (a true tie goes to the even digit) and,
    // unlike printf, ignores the locale: the separators are put in below.
    char buffer[400];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed, 1)
            .ptr;
    const std::string text(buffer, end);
    const size_t point = text.find('.');
    const bool negative = std::signbit(value) && text != "0.0";
    std::string shown(negative ? 1 : 0, '-');
    shown.append(GroupDigits(text.substr(0, point)));
    shown.push_back(LocaleDecimalPoint());
    shown.append(text.substr(point + 1));
    return shown;
}
