#include "veldra/settings/file_places.h"

#include "common/file_utils.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace {
std::string MadeFolder(const std::string& folder) {
    std::error_code ignored; // reported by the first write that fails
    std::filesystem::create_directories(folder, ignored);
    return folder;
}
} // namespace

bool FolderWritable(const std::string& folder) {
    std::string probe = JoinPath(folder, ".veldra-probe.XXXXXX");
    const int descriptor = mkstemp(probe.data());
    if (descriptor < 0)
        return false;
    close(descriptor);
    unlink(probe.c_str());
    return true;
}

FilePlaces ChooseFilePlaces(const std::string& programFolder, const std::string& configDir,
                            const std::string& configHome, const std::string& stateHome) {
    if (!configDir.empty()) {
        const std::string folder = MadeFolder(configDir);
        return {folder, folder};
    }
    if (FolderWritable(programFolder))
        return {programFolder, programFolder};
    return {MadeFolder(JoinPath(configHome, "veldra")), MadeFolder(JoinPath(stateHome, "veldra"))};
}

namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

// XDG_PICTURES_DIR="$HOME/Pictures" of user-dirs.dirs, with $HOME put in; empty when
// the file or the line is missing.
std::string PicturesDirOf(const std::string& home, const std::string& configHome) {
    std::ifstream in(JoinPath(configHome, "user-dirs.dirs"));
    const std::string key = "XDG_PICTURES_DIR=\"";
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        const size_t end = line.find('"', key.size());
        std::string value = line.substr(key.size(), end == std::string::npos ? std::string::npos
                                                                             : end - key.size());
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        return value;
    }
    return {};
}

} // namespace

std::string FirstWatchedFolder(const std::string& home, const std::string& configHome) {
    for (const std::string& folder :
         {PicturesDirOf(home, configHome),
          home.empty() ? std::string() : JoinPath(home, "Pictures"), home})
        if (IsFolder(folder))
            return folder;
    return "/";
}

std::string FirstWatchedFolder() {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string homeFolder = home != nullptr ? home : "";
    return FirstWatchedFolder(homeFolder, config != nullptr && config[0] == '/'
                                              ? std::string(config)
                                              : JoinPath(homeFolder, ".config"));
}
