#include "veldra/measure/sky_text.h"

#include "veldra/settings/numbers.h"

#include <charconv>
#include <string>
#include <vector>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The whole number of text[first..last] (1-based, inclusive), digits only.
std::optional<int> DigitsAt(std::string_view text, size_t first, size_t last) {
    if (text.size() < last)
        return std::nullopt;
    int value = 0;
    for (size_t i = first - 1; i < last; ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// Digits only, at most six of them (keeps the arithmetic far from overflow).
std::optional<int> WholeField(std::string_view field) {
    if (field.empty() || field.size() > 6)
        return std::nullopt;
    int value = 0;
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    if (result.ec != std::errc() || result.ptr != field.data() + field.size() || !IsDigit(field[0]))
        return std::nullopt;
    return value;
}

struct SettingFields {
    bool negative = false;
    int values[3] = {0, 0, 0};
};

// Split at single blanks; the first field may carry a sign when signAllowed.
std::optional<SettingFields> SplitSettingText(std::string_view text, bool signAllowed) {
    text = TrimBlanks(text);
    std::vector<std::string_view> fields;
    while (fields.size() < 3) {
        const size_t blank = text.find(' ');
        fields.push_back(text.substr(0, blank));
        if (blank == std::string_view::npos)
            break;
        text.remove_prefix(blank + 1);
    }
    if (fields.size() < 3)
        return std::nullopt;
    SettingFields result;
    std::string_view first = fields[0];
    if (signAllowed && !first.empty() && (first[0] == '-' || first[0] == '+')) {
        result.negative = first[0] == '-';
        first.remove_prefix(1);
    }
    fields[0] = first;
    for (int i = 0; i < 3; ++i) {
        const auto value = WholeField(fields[i]);
        if (!value)
            return std::nullopt;
        result.values[i] = *value;
    }
    return result;
}

} // namespace

double RaFromFields(int hours, int minutes, int seconds) {
    const double total = hours * 3600.0 + minutes * 60.0 + seconds;
    return total / (24.0 * 60.0 * 60.0) * kPi * 2.0;
}

double DecFromFields(bool negative, int degrees, int arcminutes, int arcseconds) {
    const double total =
        (degrees < 0 ? -degrees : degrees) * 3600.0 + arcminutes * 60.0 + arcseconds;
    const double angle = total / (360.0 * 60.0 * 60.0) * kPi * 2.0;
    return negative ? -angle : angle;
}

double RadiansFromDegrees(double degrees) {
    return degrees / 360.0 * 2.0 * kPi;
}

double RadiansFromArcseconds(double arcseconds) {
    return arcseconds / (360.0 * 60.0 * 60.0) * kPi * 2.0;
}

std::optional<double> RaFromSettingText(std::string_view text) {
    const auto fields = SplitSettingText(text, false);
    if (!fields)
        return std::nullopt;
    return RaFromFields(fields->values[0], fields->values[1], fields->values[2]);
}

std::optional<double> DecFromSettingText(std::string_view text) {
    const auto fields = SplitSettingText(text, true);
    if (!fields)
        return std::nullopt;
    return DecFromFields(fields->negative, fields->values[0], fields->values[1], fields->values[2]);
}

std::optional<double> RaFromHeaderText(std::string_view text) {
    const auto hours = DigitsAt(text, 1, 2);
    const auto minutes = DigitsAt(text, 4, 5);
    const auto seconds = DigitsAt(text, 7, 8);
    if (!hours || !minutes || !seconds)
        return std::nullopt;
    return RaFromFields(*hours, *minutes, *seconds);
}

std::optional<double> DecFromHeaderText(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    const char lead = text[0];
    std::optional<int> degrees;
    if (lead == '-' || lead == '+' || lead == ' ')
        degrees = DigitsAt(text, 2, 3);
    else
        degrees = DigitsAt(text, 1, 3);
    const auto arcminutes = DigitsAt(text, 5, 6);
    const auto arcseconds = DigitsAt(text, 8, 9);
    if (!degrees || !arcminutes || !arcseconds)
        return std::nullopt;
    return DecFromFields(lead == '-', *degrees, *arcminutes, *arcseconds);
}

std::optional<CalendarTime> CalendarFromDateObs(std::string_view text) {
    const auto year = DigitsAt(text, 1, 4);
    const auto month = DigitsAt(text, 6, 7);
    const auto day = DigitsAt(text, 9, 10);
    const auto hour = DigitsAt(text, 12, 13);
    const auto minute = DigitsAt(text, 15, 16);
    const auto second = DigitsAt(text, 18, 19);
    if (!year || !month || !day || !hour || !minute || !second)
        return std::nullopt;
    const CalendarTime time{*year, *month, *day, *hour, *minute, *second};
    if (time.month < 1 || time.month > 12 || time.day < 1 || time.hour > 23 || time.minute > 59 ||
        time.second > 59)
        return std::nullopt;
    // A day past the month's end (2026-02-30) comes back as another date.
    const CalendarTime check = CalendarFromDays(DaysFromCalendar(time));
    if (check.year != time.year || check.month != time.month || check.day != time.day)
        return std::nullopt;
    return time;
}
