#pragma once
// Listing the watched folder.
#include "veldra/state/file_listing.h"

#include <string>

// The normal files of folder matching pattern ("*" and "?"), sorted by time with the
// exchange sort the monitor relies on.  A missing or unreadable folder gives an empty
// listing.  Blocks for one scan of the folder (one stat per matching name).
FileListing ListFolder(const std::string& folder, const std::string& pattern);

// As ListFolder, but tells an unreadable folder (false, listing empty) from an empty one.
bool ReadFolder(const std::string& folder, const std::string& pattern, FileListing& listing);
