#pragma once
// Header texts of a simulated frame.
#include <optional>
#include <string>

// `start` ("YYYY-MM-DDTHH:MM:SS", read as UTC) in seconds since 1970; none if malformed.
std::optional<long long> UnixSecondsOf(const std::string& start);
// DATE-OBS text of `start` ("YYYY-MM-DDTHH:MM:SS") plus `seconds`; empty if start is malformed.
std::string DateObsAfter(const std::string& start, double seconds);
// "HH MM SS" and "+DD MM SS" of a target position.
std::string RaText(double hours);
std::string DecText(double degrees);
