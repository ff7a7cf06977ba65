#include "veldra/settings/file_utils.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {
size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
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
