#include "hdrlib/header_save.h"

#include "hdrlib/file_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
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

constexpr std::string_view kTemporaryPrefix = ".hdrlib-";

// The writer of a temporary file named ".hdrlib-PID-XXXXXX", or 0.
pid_t TemporaryWriter(std::string_view name) {
    if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix)
        return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    const size_t digits = static_cast<size_t>(end - name.data());
    return error == std::errc() && pid > 0 && name.size() == digits + 7 && name[digits] == '-' ? pid
                                                                                               : 0;
}

} // namespace

void RemoveLeftovers(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        return;
    const std::string file = resolved;
    const int folder =
        open(file.substr(0, file.rfind('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = folder >= 0 ? fdopendir(folder) : nullptr;
    if (entries == nullptr) {
        if (folder >= 0)
            close(folder);
        return;
    }
    while (const dirent* entry = readdir(entries)) {
        const pid_t writer = TemporaryWriter(entry->d_name);
        struct stat info {};
        // Gone: no such process (one of another user still exists for kill).
        if (writer == 0 || writer == getpid() || kill(writer, 0) == 0 || errno != ESRCH ||
            fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        unlinkat(folder, entry->d_name, 0);
    }
    closedir(entries);
}

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
    // Named after this process, so a later save can tell a leftover from a grow going on.
    std::string temporary = path.substr(0, path.rfind('/') + 1) + std::string(kTemporaryPrefix) +
                            std::to_string(getpid()) + "-XXXXXX";
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
