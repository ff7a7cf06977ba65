// hdrlib over CFITSIO.  Every load is an open fitsfile kept in a table keyed by
// the handle, so a FitsInfo is checked against the table before it is used: a
// record that was never loaded, was freed already, or holds garbage is refused.
//
// A load opens the file read-only.  The first write reopens it read-write; so
// reading a header never changes the file (CFITSIO pads an unpadded last block
// when it closes a file opened for writing, which would change its time too).
#include "hdrlib/hdrlib.h"

#include "hdrlib/grown_copy.h"
#include "veldra_version.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <fitsio.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// word1 of a live load.
constexpr int32_t kLiveMark = 0x52444856;

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
};

struct Load {
    fitsfile* file = nullptr;
    bool writable = false; // reopened read-write by a write
    int hdu = 1;           // number of the image HDU, 1 = primary
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    const FitsInfo* owner = nullptr;
};

std::mutex tableLock;
std::map<int32_t, Load> table;
int32_t lastHandle = 0;

void CloseQuietly(fitsfile* file) {
    int status = 0;
    fits_close_file(file, &status);
    fits_clear_errmsg();
}

Load* Find(const FitsInfo* info) {
    if (info == nullptr || info->word1 != kLiveMark)
        return nullptr;
    auto it = table.find(info->handle);
    return it == table.end() ? nullptr : &it->second;
}

void MarkFree(FitsInfo* info) {
    info->word1 = 0;
    info->handle = 0;
}

// Bytes of the current HDU's data unit without its fill, from the raw header
// (the FITS rule |BITPIX|/8 * GCOUNT * (PCOUNT + NAXIS1 * ... * NAXISn)).  For a
// tile-compressed image these are the cards of its binary table.  -1 if unreadable.
long long DataBytes(fitsfile* file) {
    int status = 0;
    long long bitpix = 0, naxis = 0, pcount = 0, gcount = 1;
    fits_read_key_lnglng(file, "BITPIX", &bitpix, nullptr, &status);
    fits_read_key_lnglng(file, "NAXIS", &naxis, nullptr, &status);
    if (status != 0 || naxis < 0 || naxis > 999) {
        fits_clear_errmsg();
        return -1;
    }
    if (naxis == 0)
        return 0;
    long long product = 1;
    for (long long axis = 1; axis <= naxis; ++axis) {
        const std::string key = "NAXIS" + std::to_string(axis);
        long long length = 0;
        fits_read_key_lnglng(file, key.c_str(), &length, nullptr, &status);
        if (status != 0 || length < 0 || __builtin_mul_overflow(product, length, &product)) {
            fits_clear_errmsg();
            return -1;
        }
    }
    int optional = 0;
    fits_read_key_lnglng(file, "PCOUNT", &pcount, nullptr, &optional);
    optional = 0;
    fits_read_key_lnglng(file, "GCOUNT", &gcount, nullptr, &optional);
    fits_clear_errmsg();
    long long bytes = 0;
    if (pcount < 0 || gcount < 0 || __builtin_add_overflow(product, pcount, &bytes) ||
        __builtin_mul_overflow(bytes, gcount, &bytes) ||
        __builtin_mul_overflow(bytes, std::llabs(bitpix) / 8, &bytes))
        return -1;
    return bytes;
}

// Moves to the first HDU that holds an image with data (the primary, an image
// extension or a tile-compressed image) and reads its size and the bytes of its
// data unit (-1 if unknown).
int32_t FindImage(fitsfile* file, int& hdu, long long& width, long long& height, long long& bytes) {
    for (int number = 1;; ++number) {
        int status = 0, type = 0;
        if (fits_movabs_hdu(file, number, &type, &status) != 0) {
            fits_clear_errmsg();
            return number == 1 ? kNotFits : kNoImage;
        }
        // CFITSIO reports a tile-compressed image as an image HDU.
        const bool compressed = fits_is_compressed_image(file, &status) == 1;
        int dimensions = 0, bitpix = 0;
        if ((type == IMAGE_HDU || compressed) &&
            fits_get_img_dim(file, &dimensions, &status) == 0 && dimensions >= 1 &&
            fits_get_img_type(file, &bitpix, &status) == 0) {
            std::vector<long long> axes(static_cast<size_t>(dimensions));
            long long pixels = 1;
            bool overflow = false;
            if (fits_get_img_sizell(file, dimensions, axes.data(), &status) == 0) {
                for (const long long axis : axes)
                    overflow =
                        overflow || axis < 0 || __builtin_mul_overflow(pixels, axis, &pixels);
                if (!overflow && pixels > 0) {
                    hdu = number;
                    width = axes[0];
                    height = dimensions >= 2 ? axes[1] : 1;
                    // A compressed image's data unit is its binary table.
                    if (compressed)
                        bytes = DataBytes(file);
                    else if (__builtin_mul_overflow(pixels, std::abs(bitpix) / 8, &bytes))
                        bytes = -1;
                    return kOk;
                }
            }
        }
        fits_clear_errmsg();
    }
}

int32_t Open(const char* path, Load& load, long long& width, long long& height) {
    struct stat file {};
    if (::stat(path, &file) != 0 || !S_ISREG(file.st_mode))
        return kCannotOpen; // a pipe or device could block or never end
    if (file.st_size == 0)
        return kNotFits;
    int status = 0;
    if (fits_open_diskfile(&load.file, path, READONLY, &status) != 0) {
        fits_clear_errmsg();
        load.file = nullptr;
        return status == FILE_NOT_OPENED ? kCannotOpen : kNotFits;
    }
    long long bytes = -1;
    int32_t result = FindImage(load.file, load.hdu, width, height, bytes);
    if (result == kOk) {
        long long headStart = 0, dataStart = 0, dataEnd = 0;
        if (fits_get_hduaddrll(load.file, &headStart, &dataStart, &dataEnd, &status) != 0 ||
            bytes < 0 || dataStart + bytes > file.st_size)
            result = kTruncated;
        else if (width > INT32_MAX || height > INT32_MAX)
            result = kNoImage;
    }
    if (result != kOk) {
        CloseQuietly(load.file);
        load.file = nullptr;
        return result;
    }
    load.path = path;
    load.device = file.st_dev;
    load.inode = file.st_ino;
    return kOk;
}

int32_t NextHandle() {
    do
        lastHandle = lastHandle == INT32_MAX ? 1 : lastHandle + 1;
    while (table.count(lastHandle) != 0);
    return lastHandle;
}

// Reopens the load read-write the first time something is written.  Refused
// when the file is not writable or was replaced since the load.
int32_t MakeWritable(Load& load) {
    if (load.writable)
        return kOk;
    struct stat file {};
    if (::stat(load.path.c_str(), &file) != 0 || file.st_dev != load.device ||
        file.st_ino != load.inode)
        return kNotWritable;
    // CFITSIO refuses a second, writing open of a file it holds read-only, so the
    // reading one is closed first and restored when the file cannot be written.
    CloseQuietly(load.file);
    load.file = nullptr;
    for (const int mode : {READWRITE, READONLY}) {
        fitsfile* file = nullptr;
        int status = 0, type = 0;
        if (fits_open_diskfile(&file, load.path.c_str(), mode, &status) == 0 &&
            fits_movabs_hdu(file, load.hdu, &type, &status) == 0) {
            load.file = file;
            load.writable = mode == READWRITE;
            return load.writable ? kOk : kNotWritable;
        }
        if (file != nullptr)
            CloseQuietly(file);
        fits_clear_errmsg();
    }
    return kNotWritable;
}

// The value of an integer or real card as a number; FITS allows "D" for the exponent.
// Parsed here rather than by a second lookup of the card.
std::optional<double> CardNumber(std::string text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    text = text.substr(first, last - first + 1);
    if (text[0] == '+')
        text.erase(0, 1);
    for (char& c : text)
        if (c == 'D' || c == 'd')
            c = 'E';
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return number;
}

// CFITSIO would take "*", "?" and "#" as wildcards when it looks a keyword up.
bool ValidKeyword(const char* keyword) {
    return keyword != nullptr && keyword[0] != '\0' && std::strpbrk(keyword, "*?#") == nullptr;
}

// A new card in a full header needs another header block.  CFITSIO would move the
// data down in place, and a failure part-way (a full disk) would wreck the file; so
// the grown file is written beside it and renamed over it, and reloaded.
int32_t EnsureRoom(Load& load, const char* keyword) {
    int status = 0, existing = 0, room = 0;
    char card[FLEN_CARD];
    if (fits_read_card(load.file, keyword, card, &status) == 0)
        return kOk; // replaced in place
    status = 0;
    fits_clear_errmsg();
    long long headStart = 0, dataStart = 0, dataEnd = 0;
    if (fits_get_hdrspace(load.file, &existing, &room, &status) != 0 ||
        fits_get_hduaddrll(load.file, &headStart, &dataStart, &dataEnd, &status) != 0) {
        fits_clear_errmsg();
        return kWriteFailed;
    }
    if (room > 0)
        return kOk;
    // Earlier changes reach the file first, then the file is copied.
    fits_close_file(load.file, &status);
    fits_clear_errmsg();
    load.file = nullptr;
    load.writable = false;
    struct stat file {};
    const bool grown = status == 0 && ReplaceWithGrownHeader(load.path, headStart, dataStart) &&
                       ::stat(load.path.c_str(), &file) == 0;
    if (grown) {
        load.device = file.st_dev;
        load.inode = file.st_ino;
    }
    return MakeWritable(load) == kOk && grown ? kOk : kWriteFailed;
}

// The arguments checked, then act(load) on the caller's load while the table lock is
// held (another thread may free or reload the record meanwhile).
template <typename Act>
int32_t WithLoad(const char* keyword, FitsInfo* info, bool validArgument, Act act) {
    if (!ValidKeyword(keyword) || !validArgument)
        return kBadArgument;
    std::lock_guard guard(tableLock);
    Load* load = Find(info);
    return load == nullptr ? kNotLoaded : act(*load);
}

// read(file) on the open file of the load.
template <typename Read>
int32_t ReadCard(const char* keyword, FitsInfo* info, bool validOutput, Read read) {
    return WithLoad(keyword, info, validOutput, [&](Load& load) -> int32_t {
        return load.file == nullptr ? kNotLoaded : read(load.file);
    });
}

// update(file, status) on the load's file, made writable with room for the card first.
template <typename Update>
int32_t WriteCard(const char* keyword, FitsInfo* info, bool validValue, Update update) {
    return WithLoad(keyword, info, validValue, [&](Load& load) -> int32_t {
        if (MakeWritable(load) != kOk)
            return kNotWritable;
        if (EnsureRoom(load, keyword) != kOk)
            return kWriteFailed;
        int status = 0;
        if (update(load.file, status) != 0) {
            fits_clear_errmsg();
            return kWriteFailed;
        }
        return kOk;
    });
}

} // namespace

extern "C" {

int32_t loadFitsFile(const char* path, FitsInfo* info) {
    if (info == nullptr)
        return kBadArgument;
    std::lock_guard guard(tableLock);
    // Loading again into a record that still holds its own load releases that load.
    if (Load* old = Find(info); old != nullptr && old->owner == info) {
        if (old->file != nullptr)
            CloseQuietly(old->file);
        table.erase(info->handle);
    }
    *info = FitsInfo{};
    if (path == nullptr || path[0] == '\0')
        return kCannotOpen;
    Load load;
    long long width = 0, height = 0;
    if (const int32_t result = Open(path, load, width, height); result != kOk)
        return result;
    load.owner = info;
    const int32_t handle = NextHandle();
    table.emplace(handle, load);
    info->word1 = kLiveMark;
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->word4 = load.hdu;
    info->handle = handle;
    return kOk;
}

int32_t readFitsStrParam(const char* keyword, FitsInfo* info, char* text) {
    return ReadCard(keyword, info, text != nullptr, [&](fitsfile* file) {
        char value[FLEN_VALUE] = {};
        int status = 0;
        if (fits_read_key(file, TSTRING, keyword, value, nullptr, &status) != 0) {
            fits_clear_errmsg();
            return kNoKeyword;
        }
        // The callers' buffers hold 28 characters for the date and 20 for the rest.
        const size_t limit = std::strcmp(keyword, "DATE-OBS") == 0 ? 28 : 20;
        const size_t length = strnlen(value, limit);
        std::memcpy(text, value, length);
        text[length] = '\0';
        return kOk;
    });
}

int32_t readFitsFloatParam(const char* keyword, FitsInfo* info, float* value) {
    return ReadCard(keyword, info, value != nullptr, [&](fitsfile* file) {
        char text[FLEN_VALUE] = {};
        int status = 0;
        if (fits_read_keyword(file, keyword, text, nullptr, &status) != 0 || text[0] == '\0') {
            fits_clear_errmsg();
            return kNoKeyword;
        }
        // Only integer and real cards are numbers; a text or logical card is not.
        char kind = 0;
        if (fits_get_keytype(text, &kind, &status) != 0 || (kind != 'I' && kind != 'F')) {
            fits_clear_errmsg();
            return kNotNumber;
        }
        const std::optional<double> number = CardNumber(text);
        if (!number || !std::isfinite(*number) || std::fabs(*number) > 3.4028234663852886e38)
            return kNotNumber;
        *value = static_cast<float>(*number);
        return kOk;
    });
}

int32_t freeFits(FitsInfo* info) {
    std::lock_guard guard(tableLock);
    Load* load = Find(info);
    if (load == nullptr)
        return kNotLoaded;
    int status = 0;
    if (load->file != nullptr)
        fits_close_file(load->file, &status);
    fits_clear_errmsg();
    table.erase(info->handle);
    MarkFree(info);
    return status == 0 ? kOk : kSaveFailed;
}

int32_t get_dll_version(int32_t* major, int32_t* minor, int32_t* revision) {
    if (major == nullptr || minor == nullptr || revision == nullptr)
        return kBadArgument;
    *major = VELDRA_VERSION_MAJOR;
    *minor = VELDRA_VERSION_MINOR;
    *revision = VELDRA_VERSION_PATCH;
    return kOk;
}

int32_t writeFitsStrParam(const char* keyword, FitsInfo* info, const char* value) {
    return WriteCard(keyword, info, value != nullptr, [&](fitsfile* file, int& status) {
        // A null comment keeps the comment of a card that is replaced.
        return fits_update_key(file, TSTRING, keyword, const_cast<char*>(value), nullptr, &status);
    });
}

int32_t writeFitsFloatParam(const char* keyword, FitsInfo* info, float value) {
    return WriteCard(keyword, info, std::isfinite(value), [&](fitsfile* file, int& status) {
        return fits_update_key(file, TFLOAT, keyword, &value, nullptr, &status);
    });
}

int32_t saveFitsFile(int32_t handle, FitsInfo* info) {
    std::lock_guard guard(tableLock);
    Load* load = Find(info);
    if (load == nullptr || info->handle != handle)
        return kNotLoaded;
    // Closing writes the changed header blocks; CFITSIO moves the data down by
    // whole blocks only when the header needed more room, byte for byte.
    int status = load->file == nullptr ? FILE_NOT_OPENED : 0;
    if (load->file != nullptr)
        fits_close_file(load->file, &status);
    fits_clear_errmsg();
    table.erase(handle);
    MarkFree(info);
    return status == 0 ? kOk : kSaveFailed;
}

} // extern "C"
