#pragma once
// Gives one header of a FITS file another 2880-byte block without risking the file:
// the grown file is written beside it and renamed over it only when complete.
#include <string>

// headStart and dataStart are the byte offsets of the header and of its data unit.
// The header's END card moves to the end of a new block; the cards between stay
// blank (free room).  Everything else is copied byte for byte.  On failure the
// file is left as it was and false is returned.
bool ReplaceWithGrownHeader(const std::string& path, long long headStart, long long dataStart);
