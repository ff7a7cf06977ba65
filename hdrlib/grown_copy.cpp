#include "hdrlib/grown_copy.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long long kBlock = 2880;
constexpr size_t kCard = 80;

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

bool IsEndCard(const char* card) {
    if (std::memcmp(card, "END", 3) != 0)
        return false;
    for (size_t i = 3; i < kCard; ++i)
        if (card[i] != ' ')
            return false;
    return true;
}

bool WriteGrownFile(int original, int grown, long long headStart, long long dataStart) {
    std::string header(static_cast<size_t>(dataStart - headStart), ' ');
    if (pread(original, header.data(), header.size(), headStart) !=
        static_cast<ssize_t>(header.size()))
        return false;
    size_t end = 0;
    while (end + kCard <= header.size() && !IsEndCard(header.data() + end))
        end += kCard;
    if (end + kCard > header.size())
        return false;
    header.replace(end, kCard, kCard, ' ');
    header.append(static_cast<size_t>(kBlock - kCard), ' ');
    header.append("END");
    header.append(kCard - 3, ' ');
    return lseek(original, 0, SEEK_SET) == 0 && CopyBytes(original, grown, headStart) &&
           WriteAll(grown, header.data(), header.size()) &&
           lseek(original, dataStart, SEEK_SET) == dataStart && CopyBytes(original, grown, -1);
}

} // namespace

bool ReplaceWithGrownHeader(const std::string& givenPath, long long headStart,
                            long long dataStart) {
    if (headStart < 0 || dataStart <= headStart || (dataStart - headStart) % kBlock != 0)
        return false;
    // A link is followed: the file it names is the one that grows.
    char resolved[PATH_MAX];
    if (realpath(givenPath.c_str(), resolved) == nullptr)
        return false;
    const std::string path = resolved;
    const int original = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (original < 0 || fstat(original, &info) != 0) {
        if (original >= 0)
            close(original);
        return false;
    }
    // Beside the file, so the rename stays on one file system.
    const auto slash = path.rfind('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".hdrlib-XXXXXX";
    const int grown = mkostemp(temporary.data(), O_CLOEXEC);
    if (grown < 0) {
        close(original);
        return false;
    }
    bool done = fchmod(grown, info.st_mode & 07777) == 0;
    if (done && geteuid() == 0)
        done = fchown(grown, info.st_uid, info.st_gid) == 0;
    done = done && WriteGrownFile(original, grown, headStart, dataStart) && fsync(grown) == 0;
    done = close(grown) == 0 && done;
    close(original);
    if (!done || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
