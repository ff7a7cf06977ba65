#pragma once
// Reading the sexagesimal and date texts of the settings and the image header.
// Every reader returns nothing for a text that does not have the expected form, so the
// caller can report the keyword and the text instead of going on with a wrong value.
#include "common/date_time.h"

#include <optional>
#include <string_view>

// A sky position in radians: RA 0..2 pi for 0 h..24 h, DEC signed.
struct SkyPosition {
    double ra = 0;
    double dec = 0;
};

// (hours * 3600 + minutes * 60 + seconds) / 86400 * pi * 2.
double RaFromFields(double hours, double minutes, double seconds);
// The same over 360 degrees; degrees enter as their absolute value, negative flips the sign.
double DecFromFields(bool negative, double degrees, double arcminutes, double arcseconds);
// Degrees (a header's single-precision value) as radians: degrees / 360 * 2 * pi.
double RadiansFromDegrees(double degrees);
// Whether a position in radians is one on the sky: finite, RA in [0, 2 pi), DEC
// within +-pi/2 (a solver's or a header's centre may be neither).
bool OnTheSky(const SkyPosition& position);
// Arcseconds as radians: arcseconds / (360 * 60 * 60) * pi * 2.
double RadiansFromArcseconds(double arcseconds);

// RA_POS and DEC_POS: exactly what the setup dialog and "veldra.ini" accept
// (RaPosFields / DecPosFields in entry_rules.h: "18 36 56", "+5 30 00", "05 30 1e1",
// "-00 30 00" ...), the three fields converted as whole numbers.
std::optional<double> RaFromSettingText(std::string_view text);
std::optional<double> DecFromSettingText(std::string_view text);

// Header "OBJCTRA".  The fixed form is read by character position: hours 1-2, minutes
// 4-5, seconds 7-8 (digits; anything after position 8, a fraction of a second, is
// ignored).  Any other text is read as INDI, Ekos and other capture programs write it:
// blanks around ignored, an optional sign, then two or three fields separated by ":" or
// by blanks, each blank or zero padded; only the last field may carry a fraction ("."
// decimals), which is kept: " 5 35 17.30", "5:35:17.3", "+05 30".  Nothing for text that
// is not a position, hours of 24 or more, or minutes or seconds of 60 or more.
std::optional<double> RaFromHeaderText(std::string_view text);
// Header "OBJCTDEC".  The fixed form: degrees with sign 1-3 (sign, blank or digit, then
// two digits), arcminutes 5-6, arcseconds 8-9; anything after position 9 is ignored.
// Otherwise as for OBJCTRA, the sign kept also before zero degrees ("-0 30 00");
// nothing beyond +-90 degrees.
std::optional<double> DecFromHeaderText(std::string_view text);

// Header "DATE-OBS" "YYYY-MM-DDTHH:MM:SS...": year 1-4, month 6-7, day 9-10, time of day
// 12-19; characters after position 19 are ignored.  Nothing for non-digits in those
// positions or for a date or time that does not exist.
std::optional<CalendarTime> CalendarFromDateObs(std::string_view text);
