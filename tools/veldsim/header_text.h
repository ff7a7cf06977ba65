#pragma once
// Header texts of a simulated frame.
#include <string>

// DATE-OBS text of `start` ("YYYY-MM-DDTHH:MM:SS") plus `seconds`; empty if start is malformed.
std::string DateObsAfter(const std::string& start, double seconds);
// "HH MM SS" and "+DD MM SS" of a target position.
std::string RaText(double hours);
std::string DecText(double degrees);
