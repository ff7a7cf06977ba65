#pragma once
// Reading the sexagesimal and date texts of the settings and the image header.
// Every reader returns nothing for a text that does not have the expected form, so the
// caller can report the keyword and the text instead of going on with a wrong value.
#include "veldra/settings/date_time.h"

#include <optional>
#include <string_view>

// A sky position in radians: RA 0..2 pi for 0 h..24 h, DEC signed.
struct SkyPosition {
    double ra = 0;
    double dec = 0;
};

// (hours * 3600 + minutes * 60 + seconds) / 86400 * pi * 2.
double RaFromFields(int hours, int minutes, int seconds);
// The same over 360 degrees; degrees enter as their absolute value, negative flips the sign.
double DecFromFields(bool negative, int degrees, int arcminutes, int arcseconds);
// Degrees (a header's single-precision value) as radians: degrees / 360 * 2 * pi.
double RadiansFromDegrees(double degrees);
// Arcseconds as radians: arcseconds / (360 * 60 * 60) * pi * 2.
double RadiansFromArcseconds(double arcseconds);

// "18 36 56": three whole-number fields separated by single blanks, blanks around the
// text ignored, further fields ignored.
std::optional<double> RaFromSettingText(std::string_view text);
// "+38 47 01" / "-00 30 00": as above, the degrees field may carry a sign.
std::optional<double> DecFromSettingText(std::string_view text);

// Header "OBJCTRA" by character position: hours 1-2, minutes 4-5, seconds 7-8 (digits);
// anything after position 8 (a fraction of a second) is ignored.
std::optional<double> RaFromHeaderText(std::string_view text);
// Header "OBJCTDEC": degrees with sign 1-3 (sign, blank or digit, then two digits),
// arcminutes 5-6, arcseconds 8-9; anything after position 9 is ignored.
std::optional<double> DecFromHeaderText(std::string_view text);

// Header "DATE-OBS" "YYYY-MM-DDTHH:MM:SS...": year 1-4, month 6-7, day 9-10, time of day
// 12-19; characters after position 19 are ignored.  Nothing for non-digits in those
// positions or for a date or time that does not exist.
std::optional<CalendarTime> CalendarFromDateObs(std::string_view text);
