#include "veldra/measure/sky_text.h"

#include "common/numbers.h"
#include "veldra/settings/entry_rules.h"

#include <charconv>
#include <cmath>

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

struct TextField {
    double value = 0;
    bool fraction = false; // it carried a "." part
};

// One field at the front of text: one to three digits, then an optional "." fraction.
std::optional<TextField> TakeField(std::string_view& text) {
    size_t length = 0;
    while (length < text.size() && IsDigit(text[length]))
        ++length;
    if (length == 0 || length > 3)
        return std::nullopt;
    TextField field;
    if (length < text.size() && text[length] == '.') {
        field.fraction = true;
        ++length;
        while (length < text.size() && IsDigit(text[length]))
            ++length;
    }
    std::from_chars(text.data(), text.data() + length, field.value);
    text.remove_prefix(length);
    return field;
}

// ":" alone, or a run of blanks; false when text does not start with a separator.
bool TakeSeparator(std::string_view& text) {
    if (!text.empty() && text.front() == ':') {
        text.remove_prefix(1);
        return true;
    }
    const size_t blanks = text.find_first_not_of(' ');
    if (blanks == 0 || blanks == std::string_view::npos)
        return false;
    text.remove_prefix(blanks);
    return true;
}

bool MinutesAndSecondsValid(double minutes, double seconds) {
    return minutes < 60 && seconds < 60;
}

std::optional<double> RaFromFieldsInRange(double hours, double minutes, double seconds) {
    if (!MinutesAndSecondsValid(minutes, seconds) || hours * 3600 + minutes * 60 + seconds >= 86400)
        return std::nullopt;
    return RaFromFields(hours, minutes, seconds);
}

std::optional<double> DecFromFieldsInRange(bool negative, double degrees, double arcminutes,
                                           double arcseconds) {
    if (!MinutesAndSecondsValid(arcminutes, arcseconds) ||
        degrees * 3600 + arcminutes * 60 + arcseconds > 90.0 * 3600)
        return std::nullopt;
    return DecFromFields(negative, degrees, arcminutes, arcseconds);
}

struct Sexagesimal {
    bool negative = false; // a leading "-", also before a zero ("-0 30 00")
    double fields[3] = {0, 0, 0};
};

std::optional<Sexagesimal> ReadSexagesimal(std::string_view text) {
    text = TrimBlanks(text);
    Sexagesimal result;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        result.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int count = 0;
    for (;;) {
        const auto field = TakeField(text);
        if (!field)
            return std::nullopt;
        result.fields[count++] = field->value;
        if (text.empty())
            break;
        // Another field follows: only the last may carry a fraction, and three at most.
        if (field->fraction || count == 3 || !TakeSeparator(text))
            return std::nullopt;
    }
    if (count < 2)
        return std::nullopt;
    return result;
}

} // namespace

double RaFromFields(double hours, double minutes, double seconds) {
    const double total = hours * 3600.0 + minutes * 60.0 + seconds;
    return total / (24.0 * 60.0 * 60.0) * kPi * 2.0;
}

double DecFromFields(bool negative, double degrees, double arcminutes, double arcseconds) {
    const double total =
        (degrees < 0 ? -degrees : degrees) * 3600.0 + arcminutes * 60.0 + arcseconds;
    const double angle = total / (360.0 * 60.0 * 60.0) * kPi * 2.0;
    return negative ? -angle : angle;
}

double RadiansFromDegrees(double degrees) {
    return degrees / 360.0 * 2.0 * kPi;
}

bool OnTheSky(const SkyPosition& position) {
    // Written so that NaN fails too.
    return position.ra >= 0 && position.ra < 2 * kPi && std::fabs(position.dec) <= kPi / 2;
}

double RadiansFromArcseconds(double arcseconds) {
    return arcseconds / (360.0 * 60.0 * 60.0) * kPi * 2.0;
}

std::optional<double> RaFromSettingText(std::string_view text) {
    const auto fields = RaPosFields(text);
    if (!fields)
        return std::nullopt;
    return RaFromFields(fields->values[0], fields->values[1], fields->values[2]);
}

std::optional<double> DecFromSettingText(std::string_view text) {
    const auto fields = DecPosFields(text);
    if (!fields)
        return std::nullopt;
    return DecFromFields(fields->negative, fields->values[0], fields->values[1], fields->values[2]);
}

std::optional<double> RaFromHeaderText(std::string_view text) {
    const auto hours = DigitsAt(text, 1, 2);
    const auto minutes = DigitsAt(text, 4, 5);
    const auto seconds = DigitsAt(text, 7, 8);
    if (hours && minutes && seconds)
        return RaFromFieldsInRange(*hours, *minutes, *seconds);
    const auto read = ReadSexagesimal(text);
    if (!read || read->negative)
        return std::nullopt;
    return RaFromFieldsInRange(read->fields[0], read->fields[1], read->fields[2]);
}

std::optional<double> DecFromHeaderText(std::string_view text) {
    if (!text.empty()) {
        const char lead = text[0];
        const bool signPlace = lead == '-' || lead == '+' || lead == ' ';
        const auto degrees = signPlace ? DigitsAt(text, 2, 3) : DigitsAt(text, 1, 3);
        const auto arcminutes = DigitsAt(text, 5, 6);
        const auto arcseconds = DigitsAt(text, 8, 9);
        if (degrees && arcminutes && arcseconds)
            return DecFromFieldsInRange(lead == '-', *degrees, *arcminutes, *arcseconds);
    }
    const auto read = ReadSexagesimal(text);
    if (!read)
        return std::nullopt;
    return DecFromFieldsInRange(read->negative, read->fields[0], read->fields[1], read->fields[2]);
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
