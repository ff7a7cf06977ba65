// The primary image's pixels as floats.  The same walk of the headers as a load checks
// the file before CFITSIO parses it; CFITSIO then reads the pixels (through the checked
// file's own descriptor) and applies BZERO, BSCALE and BLANK.
#include "hdrlib/hdrlib.h"
#include "hdrlib/header_scan.h"

#include <climits>
#include <cmath>
#include <fcntl.h>
#include <fitsio.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The codes of hdrlib.h.
enum Result : int32_t {
    kOk = 0,
    kBadArgument = -1,
    kCannotOpen = -2,
    kNotFits = -3,
    kNoImage = -4,
    kTruncated = -5,
    kBadHeader = -12,
    kTooSmall = -14,
};

int32_t FromScan(ScanFault fault) {
    switch (fault) {
    case ScanFault::None:
        return kOk;
    case ScanFault::BadHeader:
        return kBadHeader;
    case ScanFault::NoImage:
        return kNoImage;
    case ScanFault::Truncated:
        return kTruncated;
    case ScanFault::NotFits:
        break;
    }
    return kNotFits;
}

// CFITSIO reads count pixels of the checked file open as fd, after confirming the size.
int32_t ReadPixels(int fd, long long width, long long height, float* pixels) {
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    fitsfile* file = nullptr;
    int status = 0;
    if (ffdkopn(&file, name.c_str(), READONLY, &status) != 0) {
        ffcmsg();
        return kNotFits;
    }
    int32_t result = kOk;
    int dimensions = 0;
    long long axes[2] = {0, 1};
    if (ffgidm(file, &dimensions, &status) != 0 || dimensions < 1 ||
        ffgiszll(file, dimensions < 2 ? 1 : 2, axes, &status) != 0 || axes[0] != width ||
        axes[1] != height) {
        result = kBadHeader;
    } else {
        // Undefined pixels (BLANK of an integer image) become NaN, like a float image's.
        float undefined = NAN;
        int anyUndefined = 0;
        if (ffgpv(file, TFLOAT, 1, width * height, &undefined, pixels, &anyUndefined, &status) != 0)
            result = kTruncated;
    }
    int closeStatus = 0;
    ffclos(file, &closeStatus);
    ffcmsg();
    return result;
}

} // namespace

extern "C" int32_t readFitsImageFloats(const char* path, float* pixels, int64_t capacity,
                                       int32_t* width, int32_t* height) {
    if (path == nullptr || width == nullptr || height == nullptr || capacity < 0 ||
        (pixels == nullptr && capacity > 0))
        return kBadArgument;
    *width = 0;
    *height = 0;
    if (path[0] == '\0')
        return kCannotOpen;
    // Not blocking: a pipe or device is refused below instead of waited for.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return kCannotOpen;
    struct stat file {};
    int32_t result = fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) ? kCannotOpen
                     : file.st_size == 0                             ? kNotFits
                                                                     : kOk;
    ScanResult scan;
    if (result == kOk) {
        scan = ScanFile(fd, file.st_size, ScanTarget::Primary);
        result = FromScan(scan.fault);
    }
    // A primary without pixels, or a tile-compressed image (which lives in an extension).
    if (result == kOk &&
        (scan.width <= 0 || scan.height <= 0 || scan.compressed || scan.width > INT32_MAX ||
         scan.height > INT32_MAX || scan.width > LLONG_MAX / scan.height))
        result = kNoImage;
    if (result == kOk) {
        *width = static_cast<int32_t>(scan.width);
        *height = static_cast<int32_t>(scan.height);
        if (scan.width * scan.height > capacity)
            result = kTooSmall;
    }
    if (result == kOk)
        result = ReadPixels(fd, scan.width, scan.height, pixels);
    close(fd);
    if (result != kOk && result != kTooSmall) {
        *width = 0;
        *height = 0;
    }
    return result;
}
