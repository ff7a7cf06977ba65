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

// The most entries a listing holds (count is int16).  A folder with more matching files
// is listed with its newest kMaxListingCount files only: the monitor only ever looks for
// files newer than the ones it has seen, so the oldest are the ones that do not matter.
inline constexpr int kMaxListingCount = 32767;
