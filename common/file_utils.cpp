#include "common/file_utils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

std::string KindText(mode_t mode) {
    if (S_ISFIFO(mode))
        return "it is a FIFO, not a regular file";
    if (S_ISDIR(mode))
        return "it is a folder, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a regular file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a regular file";
    return "it is not a regular file";
}
} // namespace

std::string DirectoryOf(const std::string& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string FileNameOf(const std::string& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    return access(path.c_str(), R_OK) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string ProgramFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : executable.parent_path().string();
}

bool WriteFileAtomically(const std::string& path, const std::string& content, bool durable) {
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0)
        return false;
    fchmod(descriptor, 0644);
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t step = write(descriptor, content.data() + written, content.size() - written);
        if (step <= 0)
            break;
        written += static_cast<size_t>(step);
    }
    const bool complete = written == content.size() && (!durable || fsync(descriptor) == 0);
    const bool closed = close(descriptor) == 0;
    if (!complete || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    if (!durable)
        return true;
    // Make the rename itself durable.
    const int folder = open(std::filesystem::path(path).parent_path().empty()
                                ? "."
                                : std::filesystem::path(path).parent_path().c_str(),
                            O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

int OpenRegularFile(const std::string& path, int flags, std::string& reason) {
    // O_NONBLOCK: opening a FIFO never waits for its other end, nor a device for its
    // line; for a regular file it changes nothing.
    const int descriptor = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        const int error = errno;
        // A FIFO without a reader refuses a writer with ENXIO; say what it is instead.
        const std::string kind = NotARegularFile(path);
        reason = kind.empty() ? std::strerror(error) : kind;
        return -1;
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = KindText(info.st_mode);
        close(descriptor);
        return -1;
    }
    return descriptor;
}

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes,
                                           std::string& reason) {
    const int descriptor = OpenRegularFile(path, O_RDONLY, reason);
    if (descriptor < 0)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(descriptor, buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || content.size() + static_cast<size_t>(got) > maxBytes) {
            reason = got < 0 ? std::strerror(errno)
                             : "it is larger than " + std::to_string(maxBytes) + " bytes";
            close(descriptor);
            return std::nullopt;
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    close(descriptor);
    return content;
}

std::string NotARegularFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode))
        return {};
    return KindText(info.st_mode);
}
