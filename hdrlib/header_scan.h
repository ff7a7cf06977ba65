#pragma once
// Walks the HDUs of a FITS file through its raw 2880-byte blocks, reading each header
// once: the structure keywords of each header up to the first one with image data
// (the keywords CFITSIO reads while it opens a file) must be exactly right, describe a
// layout, and stay within what CFITSIO holds and what the compression method accepts
// (CFITSIO 4.2.0 overflows its buffers or divides by zero on some that do not).  Other
// cards may break the rules: they stay in the header and read as missing.
#include <string>
#include <string_view>
#include <vector>

enum class ScanFault {
    None,
    NotFits,   // the primary header is missing, incomplete or not one
    BadHeader, // a card or structure keyword breaks the rules
    NoImage,   // no HDU with image data before the end of the file
    Truncated, // the file ends before the image data do
};

// Which HDU a scan ends at.
enum class ScanTarget {
    Image,   // the first one with image data
    Primary, // the primary one, with or without data (a header-only file)
};

struct HduPlace {
    long long headStart = 0; // byte offset of the header
    long long dataStart = 0; // byte offset of the data unit
    // The header as checked, every card but the structure keywords' made blank: the
    // only bytes of the file that CFITSIO parses.
    std::string structure;
};

struct ScanResult {
    ScanFault fault = ScanFault::None;
    std::vector<HduPlace> hdus; // every HDU up to the target one, which is the last
    std::string header;         // the target HDU's header blocks as they are in the file
    long long width = 0;        // 0 and 0 for a primary HDU without image data
    long long height = 0;
    int pixelBytes = 0;      // |BITPIX| / 8
    bool compressed = false; // a tile-compressed image: the header is its binary table's
};

// The target HDU of the file open as fd, with its header and those before it checked:
// the first with image data (the primary, an image extension or a tile-compressed
// image), or the primary.
ScanResult ScanFile(int fd, long long fileSize, ScanTarget target = ScanTarget::Image);

// Keywords that describe the layout of the data or that CFITSIO converts while it
// opens a file: hdrlib never writes them.
bool DescribesLayout(std::string_view keyword);
