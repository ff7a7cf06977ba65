// hdrlib over CFITSIO.  Every load is kept in a table keyed by the handle, so a
// FitsInfo is checked against the table before it is used: a record that was never
// loaded, was freed already, or holds garbage is refused.
//
// A load first walks the file's headers itself, reading each once (header_scan.h):
// CFITSIO 4.2.0 overflows its buffers or divides by zero on some crafted headers, so
// it only ever parses the checked bytes, from memory (its own reading of the file
// could see other bytes, written meanwhile).  The image HDU's header (the primary's
// for a header-only load) is then kept in memory: reads and writes work there
// (header_edit.h), and a save writes all changes at once or none (header_save.h).
// Reading never changes the file.
#include "hdrlib/hdrlib.h"

#include "hdrlib/checked_copy.h"
#include "hdrlib/file_io.h"
#include "hdrlib/header_cards.h"
#include "hdrlib/header_edit.h"
#include "hdrlib/header_save.h"
#include "hdrlib/header_scan.h"
#include "hdrlib/result_codes.h"
#include "veldra_version.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fitsio.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace hdrlib_codes;

// word1 of a live load.
constexpr int32_t kLiveMark = 0x52444856;

struct Load {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    long long headStart = 0; // of the loaded HDU's header
    long long dataStart = 0;
    std::string original;  // the header as loaded
    std::string header;    // with the writes
    int writer = -1;       // open for writing since the first write
    bool readOnly = false; // a header-only load: writes are refused
    const FitsInfo* owner = nullptr;
};

std::mutex tableLock;
std::map<int32_t, Load> table;
int32_t lastHandle = 0;

Load* Find(const FitsInfo* info) {
    if (info == nullptr || info->word1 != kLiveMark)
        return nullptr;
    auto it = table.find(info->handle);
    return it == table.end() ? nullptr : &it->second;
}

// Closes the load's writing descriptor; false when the close reports an error.
bool Release(Load& load) {
    const int writer = load.writer;
    load.writer = -1;
    return writer < 0 || close(writer) == 0;
}

void Forget(FitsInfo* info) {
    table.erase(info->handle);
    info->word1 = 0;
    info->handle = 0;
}

// CFITSIO parses the checked headers from memory, each at its place in a copy of the
// file whose data units are zeros, and must find the same HDUs and image size (when
// the scan found an image).
int32_t ConfirmWithCfitsio(const ScanResult& scan) {
    CheckedCopy copy(scan, static_cast<size_t>(scan.hdus.back().dataStart));
    fitsfile* file = OpenCopy(copy);
    int status = 0;
    int32_t result = file == nullptr ? kNotFits : kOk;
    for (size_t number = 1; number <= scan.hdus.size() && result == kOk; ++number) {
        int type = 0;
        long long headStart = 0, dataStart = 0, dataEnd = 0;
        if (ffmahd(file, static_cast<int>(number), &type, &status) != 0 ||
            ffghadll(file, &headStart, &dataStart, &dataEnd, &status) != 0)
            result = number == 1 ? kNotFits : kNoImage;
        else if (headStart != scan.hdus[number - 1].headStart ||
                 dataStart != scan.hdus[number - 1].dataStart)
            result = kBadHeader;
    }
    if (result == kOk && scan.width > 0) {
        // CFITSIO reports a tile-compressed image as an image HDU.
        int dimensions = 0;
        long long axes[2] = {0, 1};
        const bool compressed = fits_is_compressed_image(file, &status) == 1;
        if (compressed != scan.compressed || ffgidm(file, &dimensions, &status) != 0 ||
            dimensions < 1 || ffgiszll(file, std::min(dimensions, 2), axes, &status) != 0 ||
            axes[0] != scan.width || axes[1] != scan.height)
            result = kBadHeader;
    }
    if (file != nullptr) {
        status = 0;
        ffclos(file, &status);
    }
    ffcmsg();
    return result;
}

// Walks the file's headers; confirm also has CFITSIO check the walk.  The file's
// identity and the walk come back in file and scan.
int32_t Scan(const char* path, ScanTarget target, bool confirm, struct stat& file,
             ScanResult& scan) {
    // Not blocking: a pipe or device is refused below instead of waited for.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return kCannotOpen;
    int32_t result = fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) ? kCannotOpen
                     : file.st_size == 0                             ? kNotFits
                                                                     : kOk;
    if (result == kOk) {
        scan = ScanFile(fd, file.st_size, target);
        result = FromScan(scan.fault);
    }
    if (result == kOk && confirm)
        result = ConfirmWithCfitsio(scan);
    close(fd);
    if (result == kOk && (scan.width > INT32_MAX || scan.height > INT32_MAX))
        return kNoImage;
    return result;
}

int32_t Open(const char* path, ScanTarget target, Load& load, long long& width, long long& height) {
    struct stat file {};
    ScanResult scan;
    if (const int32_t result = Scan(path, target, true, file, scan); result != kOk)
        return result;
    load.path = path;
    load.device = file.st_dev;
    load.inode = file.st_ino;
    load.size = file.st_size;
    load.modified = file.st_mtim;
    load.headStart = scan.hdus.back().headStart;
    load.dataStart = scan.hdus.back().dataStart;
    load.original = scan.header;
    load.header = scan.header;
    width = scan.width;
    height = scan.height;
    return kOk;
}

// Whether the path still names the loaded file, unchanged since the load (a file
// renamed over it meanwhile would take none of the writes).
bool StillLoaded(const Load& load) {
    struct stat opened {
    }, named{};
    return fstat(load.writer, &opened) == 0 && stat(load.path.c_str(), &named) == 0 &&
           opened.st_dev == load.device && opened.st_ino == load.inode &&
           named.st_dev == load.device && named.st_ino == load.inode &&
           opened.st_size == load.size && opened.st_mtim.tv_sec == load.modified.tv_sec &&
           opened.st_mtim.tv_nsec == load.modified.tv_nsec;
}

int32_t NextHandle() {
    do
        lastHandle = lastHandle == INT32_MAX ? 1 : lastHandle + 1;
    while (table.count(lastHandle) != 0);
    return lastHandle;
}

// Opens the file for writing at the first write, so a file that cannot be written
// fails that write.  Refused when the file was replaced since the load.
int32_t MakeWritable(Load& load) {
    if (load.writer >= 0)
        return kOk;
    if (load.readOnly)
        return kNotWritable;
    const int fd = open(load.path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat file {};
    if (fd < 0 || fstat(fd, &file) != 0 || file.st_dev != load.device ||
        file.st_ino != load.inode) {
        if (fd >= 0)
            close(fd);
        return kNotWritable;
    }
    load.writer = fd;
    return kOk;
}

// The arguments checked, then act(load, keyword) on the caller's load while the table
// lock is held (another thread may free or reload the record meanwhile).
template <typename Act>
int32_t WithLoad(const char* keyword, FitsInfo* info, bool validArgument, Act act) {
    const auto name = NormalKeyword(keyword);
    if (!name || !validArgument)
        return kBadArgument;
    std::lock_guard guard(tableLock);
    Load* load = Find(info);
    return load == nullptr ? kNotLoaded : act(*load, *name);
}

// The first card of the keyword with a value, or kNoKeyword.
template <typename Read>
int32_t ReadCard(const char* keyword, FitsInfo* info, bool validOutput, Read read) {
    return WithLoad(keyword, info, validOutput, [&](Load& load, const std::string& name) {
        const auto card = FindCard(load.header, name);
        const auto value = card ? ParseCard(*card) : std::nullopt;
        if (!value || value->kind == ValueKind::None || value->kind == ValueKind::Undefined)
            return kNoKeyword;
        return read(*value);
    });
}

// make(comment) builds the new card, given the comment of the card it replaces.
template <typename Make>
int32_t WriteCard(const char* keyword, FitsInfo* info, bool validValue, Make make) {
    return WithLoad(keyword, info, validValue, [&](Load& load, const std::string& name) {
        if (DescribesLayout(name))
            return kBadArgument; // would change how the data are read
        const auto old = FindCard(load.header, name);
        const auto oldValue = old ? ParseCard(*old) : std::nullopt;
        const auto card = make(oldValue ? oldValue->comment : std::string_view());
        if (!card)
            return kBadArgument;
        if (MakeWritable(load) != kOk)
            return kNotWritable;
        PutCard(load.header, name, *card);
        return kOk;
    });
}

int32_t LoadInto(const char* path, FitsInfo* info, ScanTarget target) {
    if (info == nullptr)
        return kBadArgument;
    std::lock_guard guard(tableLock);
    // Loading again into a record that still holds its own load releases that load.
    if (Load* old = Find(info); old != nullptr && old->owner == info) {
        Release(*old);
        table.erase(info->handle);
    }
    *info = FitsInfo{};
    if (path == nullptr || path[0] == '\0')
        return kCannotOpen;
    Load load;
    long long width = 0, height = 0;
    if (const int32_t result = Open(path, target, load, width, height); result != kOk)
        return result;
    load.readOnly = target == ScanTarget::Primary;
    load.owner = info;
    const int32_t handle = NextHandle();
    table.emplace(handle, std::move(load));
    info->word1 = kLiveMark;
    info->width = static_cast<int32_t>(width);
    info->height = static_cast<int32_t>(height);
    info->handle = handle;
    return kOk;
}

} // namespace

extern "C" {

int32_t loadFitsFile(const char* path, FitsInfo* info) {
    return LoadInto(path, info, ScanTarget::Image);
}

int32_t loadFitsHeader(const char* path, FitsInfo* info) {
    return LoadInto(path, info, ScanTarget::Primary);
}

int32_t peekFitsImageSize(const char* path, int32_t* width, int32_t* height) {
    if (path == nullptr || width == nullptr || height == nullptr)
        return kBadArgument;
    if (path[0] == '\0')
        return kCannotOpen;
    struct stat file {};
    ScanResult scan;
    const int32_t result = Scan(path, ScanTarget::Image, false, file, scan);
    if (result == kOk) {
        *width = static_cast<int32_t>(scan.width);
        *height = static_cast<int32_t>(scan.height);
    }
    return result;
}

int32_t readFitsStrParam(const char* keyword, FitsInfo* info, char* text) {
    return ReadCard(keyword, info, text != nullptr, [&](const CardValue& value) {
        const std::string found =
            value.kind == ValueKind::Text ? ValueString(value.text) : std::string(value.text);
        // The callers' buffers hold 28 characters for the date and 20 for the rest.
        const size_t limit = std::strcmp(keyword, "DATE-OBS") == 0 ? 28 : 20;
        const size_t length = std::min(found.size(), limit);
        std::memcpy(text, found.data(), length);
        text[length] = '\0';
        return kOk;
    });
}

int32_t readFitsFloatParam(const char* keyword, FitsInfo* info, float* value) {
    return ReadCard(keyword, info, value != nullptr, [&](const CardValue& card) {
        // Only integer and real cards are numbers; a text or logical card is not.
        const auto number = card.kind == ValueKind::Integer || card.kind == ValueKind::Real
                                ? ValueNumber(card.text)
                                : std::nullopt;
        if (!number || std::fabs(*number) > 3.4028234663852886e38)
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
    // Writes that were not saved are dropped: the file stays as it was.
    const bool closed = Release(*load);
    Forget(info);
    return closed ? kOk : kSaveFailed;
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
    return WriteCard(keyword, info, value != nullptr, [&](std::string_view comment) {
        return TextCard(*NormalKeyword(keyword), value, comment);
    });
}

int32_t writeFitsFloatParam(const char* keyword, FitsInfo* info, float value) {
    return WriteCard(keyword, info, std::isfinite(value), [&](std::string_view comment) {
        return FloatCard(*NormalKeyword(keyword), value, comment);
    });
}

int32_t saveFitsFile(int32_t handle, FitsInfo* info) {
    std::lock_guard guard(tableLock);
    Load* load = Find(info);
    if (load == nullptr || info->handle != handle)
        return kNotLoaded;
    bool saved = true;
    if (load->header != load->original) {
        // Only over the header that was loaded: a file changed since is left alone.
        std::string onDisk(load->original.size(), '\0');
        saved = StillLoaded(*load) &&
                ReadAllAt(load->writer, onDisk.data(), onDisk.size(), load->headStart) &&
                onDisk == load->original;
        if (saved)
            RemoveLeftovers(load->path);
        if (saved && load->header.size() == load->original.size())
            saved = WriteHeaderInPlace(load->writer, load->headStart, load->header, load->original);
        else if (saved)
            saved = ReplaceHeader(load->writer, load->path, load->headStart, load->dataStart,
                                  load->header);
    }
    // A close that fails (a write the system reports only now) is a failed save.
    saved = Release(*load) && saved;
    Forget(info);
    return saved ? kOk : kSaveFailed;
}

} // extern "C"
