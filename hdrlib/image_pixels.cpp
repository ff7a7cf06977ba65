// The primary image's pixels as floats.  The same walk of the headers as a load checks
// the file; CFITSIO then parses a copy in memory of the checked header with the image's
// bytes read from the same descriptor behind it (so a header rewritten meanwhile is
// never parsed), and applies BZERO, BSCALE and BLANK.
#include "hdrlib/checked_copy.h"
#include "hdrlib/file_io.h"
#include "hdrlib/hdrlib.h"
#include "hdrlib/header_scan.h"
#include "hdrlib/result_codes.h"

#include <climits>
#include <cmath>
#include <fcntl.h>
#include <fitsio.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace hdrlib_codes;

// CFITSIO reads the pixels of the checked file open as fd, after confirming the size.
int32_t ReadPixels(int fd, const ScanResult& scan, float* pixels) {
    const long long width = scan.width, height = scan.height;
    const auto dataStart = static_cast<size_t>(scan.hdus.back().dataStart);
    const auto dataBytes = static_cast<size_t>(width * height * scan.pixelBytes);
    // Whole blocks, as CFITSIO reads them: the final fill stays zeros.
    constexpr size_t kBlock = 2880;
    // Fresh pages for every frame cost more than the read itself: a thread keeps the
    // memory of its largest frame.
    thread_local std::vector<char> memory;
    CheckedCopy copy(scan, dataStart + (dataBytes + kBlock - 1) / kBlock * kBlock, &memory);
    if (copy.data == nullptr)
        return kNotFits;
    // A file cut since the check ends before its data do.
    if (!ReadAllAt(fd, copy.data + dataStart, dataBytes, static_cast<long long>(dataStart)))
        return kTruncated;
    fitsfile* file = OpenCopy(copy);
    if (file == nullptr) {
        ffcmsg();
        return kNotFits;
    }
    int status = 0;
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
        result = ReadPixels(fd, scan, pixels);
    close(fd);
    if (result != kOk && result != kTooSmall) {
        *width = 0;
        *height = 0;
    }
    return result;
}
