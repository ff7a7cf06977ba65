#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A snapshot of the watched folder, oldest first.  Copies are deep.
struct FileListing {
    std::vector<std::string> paths; // folder, separator, name
    std::vector<double> times;      // modification times, local fractional days, whole seconds
    int16_t count = 0;
};

// The normal files of folder matching pattern ("*" and "?"), sorted by time with the
// exchange sort the monitor relies on.  A missing or unreadable folder gives an empty
// listing.
FileListing ListFolder(const std::string& folder, const std::string& pattern);
