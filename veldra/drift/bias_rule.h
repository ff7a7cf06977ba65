#pragma once
// The rule of the two bias boxes of the main window.
#include <string>

// The bias limits in arcsec/hour, both inclusive.
inline constexpr double kMinimumBias = -3000;
inline constexpr double kMaximumBias = 3000;

// A number in the user's locale from -3000 to 3000 is stored in bias and accepted;
// anything else leaves bias as it is and is refused (the box is then marked).
bool AcceptBiasText(const std::string& text, double& bias);
