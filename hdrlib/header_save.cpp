#include "hdrlib/header_save.h"

#include "hdrlib/file_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool WriteAll(int file, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t step = write(file, data, size);
        if (step <= 0)
            return false;
        data += step;
        size -= static_cast<size_t>(step);
    }
    return true;
}

// Copies `length` bytes (or everything up to the end when length < 0) from the
// current offsets; in the kernel where it can, by reading and writing otherwise.
bool CopyBytes(int from, int to, long long length) {
    bool kernel = true;
    std::vector<char> buffer;
    while (length != 0) {
        const size_t want =
            length < 0 ? (1u << 20) : static_cast<size_t>(std::min(length, 1LL << 20));
        ssize_t step = -1;
        if (kernel) {
            step = copy_file_range(from, nullptr, to, nullptr, want, 0);
            if (step < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernel = false;
                continue;
            }
        } else {
            buffer.resize(1u << 20);
            step = read(from, buffer.data(), want);
            if (step > 0 && !WriteAll(to, buffer.data(), static_cast<size_t>(step)))
                return false;
        }
        if (step < 0)
            return false;
        if (step == 0)
            return length < 0; // the end of the file: only right when copying to it
        if (length > 0)
            length -= step;
    }
    return true;
}

} // namespace

bool WriteHeaderInPlace(int fd, long long headStart, const std::string& header,
                        const std::string& original) {
    if (header.size() != original.size())
        return false;
    if (!WriteAllAt(fd, header.data(), header.size(), headStart)) {
        WriteAllAt(fd, original.data(), original.size(), headStart);
        return false;
    }
    return true;
}

bool ReplaceHeader(int fd, const std::string& givenPath, long long headStart, long long dataStart,
                   const std::string& header) {
    char resolved[PATH_MAX];
    struct stat info {
    }, named{};
    if (headStart < 0 || dataStart <= headStart ||
        realpath(givenPath.c_str(), resolved) == nullptr || fstat(fd, &info) != 0 ||
        stat(resolved, &named) != 0 || named.st_dev != info.st_dev || named.st_ino != info.st_ino)
        return false; // the name no longer leads to the loaded file
    const std::string path = resolved;
    // Beside the file, so the rename stays on one file system.
    std::string temporary = path.substr(0, path.rfind('/') + 1) + ".hdrlib-XXXXXX";
    const int grown = mkostemp(temporary.data(), O_CLOEXEC);
    if (grown < 0)
        return false;
    bool done = fchmod(grown, info.st_mode & 07777) == 0;
    if (done && geteuid() == 0)
        done = fchown(grown, info.st_uid, info.st_gid) == 0;
    done = done && lseek(fd, 0, SEEK_SET) == 0 && CopyBytes(fd, grown, headStart) &&
           WriteAll(grown, header.data(), header.size()) &&
           lseek(fd, dataStart, SEEK_SET) == dataStart && CopyBytes(fd, grown, -1) &&
           fsync(grown) == 0;
    done = close(grown) == 0 && done;
    if (!done || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
