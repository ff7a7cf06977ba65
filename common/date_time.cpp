#include "common/date_time.h"

#include <chrono>
#include <cmath>

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long DaysFromCivil(long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

void CivilFromDays(long days, int& year, int& month, int& day) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = static_cast<int>(static_cast<long>(yearOfEra) + era * 400 + (month <= 2));
}

const long kEpochOffset = DaysFromCivil(1899, 12, 30);

CalendarTime LocalCalendar(std::time_t time) {
    std::tm parts{};
    localtime_r(&time, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

// 1970-01-01 in fractional days since 1899-12-30.
constexpr double kUnixEpochDays = 25569;

} // namespace

double DaysFromCalendar(const CalendarTime& time) {
    const long day = DaysFromCivil(time.year, static_cast<unsigned>(time.month),
                                   static_cast<unsigned>(time.day)) -
                     kEpochOffset;
    const double seconds = time.hour * 3600.0 + time.minute * 60.0 + time.second;
    return static_cast<double>(day) + seconds / 86400.0;
}

CalendarTime CalendarFromDays(double days) {
    const double totalSeconds = std::round(days * 86400.0);
    const double wholeDays = std::floor(totalSeconds / 86400.0);
    long secondOfDay = static_cast<long>(totalSeconds - wholeDays * 86400.0);
    CalendarTime result;
    CivilFromDays(static_cast<long>(wholeDays) + kEpochOffset, result.year, result.month,
                  result.day);
    result.hour = static_cast<int>(secondOfDay / 3600);
    secondOfDay %= 3600;
    result.minute = static_cast<int>(secondOfDay / 60);
    result.second = static_cast<int>(secondOfDay % 60);
    return result;
}

double DaysFromSystemTime(std::time_t time) {
    return DaysFromCalendar(LocalCalendar(time));
}

double UnixSecondsFromUtcDays(double days) {
    return (days - kUnixEpochDays) * 86400.0;
}

double UnixSecondsFromLocalDays(double days) {
    // The zone's offset at about that moment: local days of a Unix time less its UTC days.
    const double guess = UnixSecondsFromUtcDays(days);
    const std::time_t near = static_cast<std::time_t>(std::floor(guess));
    const double offset =
        DaysFromSystemTime(near) - (static_cast<double>(near) / 86400.0 + kUnixEpochDays);
    return guess - offset * 86400.0;
}

double NowDays() {
    return DaysFromSystemTime(std::time(nullptr));
}

double SecondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t whole = std::chrono::system_clock::to_time_t(now);
    const CalendarTime local = LocalCalendar(whole);
    const auto fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
    return local.hour * 3600.0 + local.minute * 60.0 + local.second + fraction;
}

std::string DateTimeText(double days) {
    const CalendarTime time = CalendarFromDays(days);
    std::tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_sec = time.second;
    parts.tm_isdst = -1;
    // Weekday and day of year for locales whose formats name them.
    const long day = DaysFromCivil(time.year, static_cast<unsigned>(time.month),
                                   static_cast<unsigned>(time.day));
    parts.tm_wday = static_cast<int>(((day % 7) + 11) % 7); // 1970-01-01 was a Thursday
    parts.tm_yday = static_cast<int>(day - DaysFromCivil(time.year, 1, 1));
    char buffer[128];
    const size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &parts);
    return std::string(buffer, length);
}
