#pragma once
// The target position as header text: RA in hours, minutes and seconds of time,
// DEC in signed degrees, minutes and seconds of arc.
#include <optional>
#include <string>

// Halves away from zero (2.5 -> 3, -2.5 -> -3); empty when the result is not a
// finite number within int.
std::optional<int> RoundAwayFromZero(double value);

// Seconds of time of an RA in radians, rounded: 0 to 86399, a rounded 86400
// (24h00m00s) wrapping to 0; empty for an RA outside [0, 2 pi) after the rounding.
std::optional<int> RaSeconds(double ra);
// "%02d %02d %02d" of s / 3600, (s mod 3600) / 60, s mod 60.
std::string RaText(int seconds);

// Seconds of arc of |DEC| in radians, rounded; empty above 90 degrees after the
// rounding.
std::optional<int> DecSeconds(double dec);
// "%c%02d %02d %02d": "+" for a DEC of 0 or more, "-" below, then as RaText.
std::string DecText(double dec, int seconds);
