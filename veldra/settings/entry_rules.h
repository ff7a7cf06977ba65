#pragma once
// What the input boxes accept, keystroke by keystroke, and what "veldra.ini" may hold for
// the same settings: one rule for both, so a file can never carry a value that no box
// would take.  Numbers are read with the user's decimal separator.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A number >= 0: the image scale in arcseconds per pixel.
std::optional<double> AcceptImageScaleText(const std::string& text);
// A number >= 0 whose half-to-even rounding fits int16: the exposure in whole seconds.
std::optional<int16_t> AcceptExposureText(const std::string& text);
// The same rule for the solver's time limit in whole seconds.
std::optional<int16_t> AcceptMaxSolveTimeText(const std::string& text);
// The same rule for the main window's settle time in whole seconds.
std::optional<int16_t> AcceptDebounceTimeText(const std::string& text);

// The three fields of a position text as whole numbers.
struct PositionFields {
    bool negative = false; // the first field's text begins with "-" (so "-00" is negative)
    int values[3] = {0, 0, 0};
};
// "HH MM SS": after trimming outer blanks exactly three fields separated by single
// blanks, each a number equal to its whole-number rounding ("05", "+5", "5.0", "1e1"
// pass; "5.5" fails); hours 0..23, minutes and seconds 0..59.
std::optional<PositionFields> RaPosFields(std::string_view text);
// "+DD MM SS": as RaPosFields with degrees -89..89 (a sign may lead).
std::optional<PositionFields> DecPosFields(std::string_view text);
bool AcceptRaPosText(const std::string& text);
bool AcceptDecPosText(const std::string& text);

// The choices of the controls that set these settings: the item index 0..count-1.
// header WCS, the plate solver, registration against the reference image
inline constexpr int kPlateSolveMethodCount = 3;
inline constexpr int kPositionSourceCount = 3; // header, manual, telescope
inline constexpr int kStartStateCount = 3;     // last two, last one, ignore
