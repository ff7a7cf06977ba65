#pragma once
// The metadata text of a camera-raw file, as exiftool or dcraw print it, and the
// header values it gives.
#include <ctime>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

// The next piece of the input: a line up to 999 characters; a longer line arrives
// in several pieces, each matched on its own.  The line end is removed.  False at
// the end of the input.
bool ReadPiece(std::istream& in, std::string& piece);

// What one line gives.
struct LineValue {
    enum class Kind { Exposure, DateObs, CcdTemp };
    Kind kind;
    float number = 0; // Exposure (EXPOSURE and EXPTIME) and CcdTemp
    std::string text; // DateObs
};

// Tests the line against the five forms in order; the first that fits decides.
// Empty when none fits or the value of the one that fits cannot be read.
std::optional<LineValue> ParseLine(std::string_view line);

// "Timestamp: Sun Nov 18 20:13:42 2012" (fixed columns, local time of this machine)
// as UTC "2012-11-18T19:13:42"; empty for a line too short or with a field that is
// no valid number or month name.
std::optional<std::string> TimestampToUtc(std::string_view line);

// "%f" as sscanf reads it: blanks skipped, the longest number at the start; only
// finite numbers count.
std::optional<float> LeadingNumber(std::string_view text);
