#pragma once
// A FITS image written byte for byte (reading goes through hdrlib).  The simulator writes
// its frames with it, bench-solve and the tests their star images.
#include <cstdint>
#include <string>
#include <vector>

// One 80-character card: "KEY     = " and the value right-aligned to column 30.
std::string HeaderCard(const std::string& key, const std::string& value);
// A card with a quoted text value.
std::string HeaderTextCard(const std::string& key, std::string value);
// The header cards followed by END, padded to whole 2880-byte blocks.
std::string EndedHeader(std::string cards);
// Data padded with zero bytes to whole blocks.
void PadDataUnit(std::string& data);

// A 16-bit image of width x height: pixels (row 0 first, unsigned, stored with BZERO
// 32768) or, when null, all zero.  The header has room for more keywords.
bool WriteImageFile(const std::string& path, int width, int height,
                    const std::vector<uint16_t>* pixels);
