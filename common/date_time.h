#pragma once
// Date-times are fractional days since 1899-12-30 in local time: the whole part
// counts days, the fraction is the time of day.  No time-zone conversion is applied.
#include <ctime>
#include <string>

struct CalendarTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Calendar date and time of day (local) as fractional days.
double DaysFromCalendar(const CalendarTime& time);
// Fractional days back to calendar parts, rounded to the nearest whole second.
CalendarTime CalendarFromDays(double days);
// A system time stamp as local fractional days, whole seconds.
double DaysFromSystemTime(std::time_t time);
// Fractional days read as UTC (as FITS DATE-OBS is written), as Unix seconds.
double UnixSecondsFromUtcDays(double days);
// Local fractional days (a file's time), as Unix seconds.
double UnixSecondsFromLocalDays(double days);
// The current local date-time, whole seconds.
double NowDays();
// Seconds since local midnight with their fraction (the solver wait's clock).
double SecondsSinceMidnight();
// Default date-time text: the locale's short date, a blank, its long time
// (strftime "%x %X" under LC_TIME).
std::string DateTimeText(double days);
