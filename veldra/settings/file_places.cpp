#include "veldra/settings/file_places.h"

#include "veldra/settings/file_utils.h"

#include <filesystem>
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
