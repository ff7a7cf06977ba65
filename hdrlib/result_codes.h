// The result codes of hdrlib.h, in one place for every hdrlib source file.
#pragma once

#include "hdrlib/header_scan.h"

#include <cstdint>

namespace hdrlib_codes {

enum Result : int32_t {
    kOk = 0,
    kBadArgument = -1,
    kCannotOpen = -2,  // missing, not a regular file, unreadable
    kNotFits = -3,     // empty or no valid FITS header
    kNoImage = -4,     // no HDU with image data
    kTruncated = -5,   // the file ends before the image data do
    kNotLoaded = -6,   // the FitsInfo holds no live load
    kNoKeyword = -7,   // keyword missing or without a value
    kNotNumber = -8,   // keyword holds no number that fits a float
    kNotWritable = -9, // the file cannot be opened for writing
    kWriteFailed = -10,
    kSaveFailed = -11,
    kBadHeader = -12, // a structure keyword breaks the rules; CFITSIO never saw it
    kTooSmall = -14,  // the caller's pixel buffer holds fewer pixels than the image
};

// The result a failed (or passed) walk of the headers gives.
inline int32_t FromScan(ScanFault fault) {
    switch (fault) {
    case ScanFault::None:
        return kOk;
    case ScanFault::NotFits:
        return kNotFits;
    case ScanFault::BadHeader:
        return kBadHeader;
    case ScanFault::NoImage:
        return kNoImage;
    case ScanFault::Truncated:
        return kTruncated;
    }
    return kNotFits;
}

} // namespace hdrlib_codes
