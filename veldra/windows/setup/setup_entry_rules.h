#pragma once
// What the setup dialog's five text boxes accept, keystroke by keystroke.  Numbers are
// read with the user's decimal separator.  Widget-free so the rules are tested directly.
#include <cstdint>
#include <optional>
#include <string>

// A number >= 0: the image scale in arcseconds per pixel.
std::optional<double> AcceptImageScaleText(const std::string& text);
// A number >= 0 whose half-to-even rounding fits int16: the exposure in whole seconds.
std::optional<int16_t> AcceptExposureText(const std::string& text);
// The same rule for the solver's time limit in whole seconds.
std::optional<int16_t> AcceptMaxSolveTimeText(const std::string& text);
// "HH MM SS": after trimming outer blanks exactly three fields separated by single
// blanks, each a whole number; hours 0..23, minutes and seconds 0..59.
bool AcceptRaPosText(const std::string& text);
// "+DD MM SS": as AcceptRaPosText with degrees -89..89 (a sign may lead).
bool AcceptDecPosText(const std::string& text);
