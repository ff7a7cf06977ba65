#pragma once
// How the flexure moves the image on the sky over the night, per axis, in arcseconds.
#include <string>
#include <vector>

struct FlexureProfile {
    enum class Kind { Constant, Acceleration, Sinusoid, Table };
    Kind kind = Kind::Constant;
    double raRate = 30;       // arcsec/hour on the sky at the start of the night
    double decRate = -15;     // arcsec/hour
    double acceleration = 20; // arcsec/hour per hour (Acceleration), both axes scaled alike
    double periodHours = 8;   // Sinusoid: the rate swings once per period
    // Table: hours since the start, RA offset, DEC offset (arcsec); linear in between.
    std::vector<double> tableHours, tableRa, tableDec;
};

// Offset of the image from its start position after `hours`, arcseconds on the sky.
double FlexureOffset(const FlexureProfile& profile, bool raAxis, double hours);
// The true flexure rate at `hours`, arcsec/hour (central difference of the offset).
double FlexureRate(const FlexureProfile& profile, bool raAxis, double hours);
// Reads a table file: one line per point, "hours offset" or "hours raOffset decOffset",
// blanks or commas between; '#' starts a comment.  Empty error text on success.
std::string LoadFlexureTable(const std::string& path, FlexureProfile& profile);
