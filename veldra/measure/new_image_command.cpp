#include "veldra/measure/new_image_command.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "common/shell_sync.h"
#include "veldra/settings/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

// Without the last "." of the file-name part; unchanged when the name has none (a dot in
// a folder name is not an extension).
std::string WithoutExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return path;
    return path.substr(0, dot);
}

} // namespace

std::string ExpandCommand(const std::string& commandTemplate, const std::string& monitorPath,
                          const std::string& imagePath, const SkyPosition& start) {
    const std::string fileName = FileNameOf(imagePath);
    std::string expanded;
    bool pending = false;
    for (const char c : commandTemplate) {
        if (!pending) {
            if (c == '%')
                pending = true;
            else
                expanded += c;
            continue;
        }
        pending = false;
        switch (c) {
        case 'p':
            expanded += monitorPath;
            break;
        case 'f':
            expanded += fileName;
            break;
        case 'F':
            expanded += imagePath;
            break;
        case 'n':
            expanded += WithoutExtension(fileName);
            break;
        case 'N':
            expanded += WithoutExtension(imagePath);
            break;
        case 'r':
            expanded += DefaultText(start.ra);
            break;
        case 'd':
            expanded += DefaultText(start.dec);
            break;
        default:
            expanded += c;
            break;
        }
    }
    return expanded;
}

std::vector<std::string> CommandArguments(const std::string& commandTemplate,
                                          const std::string& monitorPath,
                                          const std::string& imagePath, const SkyPosition& start) {
    std::vector<std::string> arguments = SplitCommandLine(commandTemplate);
    for (std::string& argument : arguments)
        argument = ExpandCommand(argument, monitorPath, imagePath, start);
    return arguments;
}

std::optional<std::string> HandBackField(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::nullopt;
    std::string field;
    if (text[start] == '"') {
        const size_t close = text.find_first_of("\"\r\n", start + 1);
        field = text.substr(start + 1,
                            close == std::string::npos ? std::string::npos : close - start - 1);
    } else {
        const size_t end = text.find_first_of(",\r\n", start);
        field = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t last = field.find_last_not_of(" \t");
        field.resize(last == std::string::npos ? 0 : last + 1);
    }
    if (field.empty())
        return std::nullopt;
    return field;
}

std::string RunNewImageCommand(const Settings& settings, const std::string& programFolder,
                               const std::string& imagePath, const SkyPosition& start,
                               const std::function<bool()>& keepWaiting) {
    LogEvent(programFolder, " : processing command");
    const std::string handBack = JoinPath(settings.MONITOR_PATH, "filename.txt");
    // An old hand-back file must never be taken for this command's answer.
    const bool staleRemains = std::remove(handBack.c_str()) != 0 && errno != ENOENT;
    if (staleRemains)
        LogEvent(programFolder,
                 " :    could not delete " + handBack + ": " + std::string(std::strerror(errno)));

    LogEvent(programFolder,
             " : parsed command is: " +
                 ExpandCommand(settings.COMMAND, settings.MONITOR_PATH, imagePath, start));
    try {
        ShellSyncArguments(
            CommandArguments(settings.COMMAND, settings.MONITOR_PATH, imagePath, start), 1,
            keepWaiting);
    } catch (const ShellSyncError& error) {
        if (error.number == kShellSyncGivenUpError) {
            LogEvent(programFolder, " :    command ended: veldra is ending");
            return imagePath;
        }
        LogEvent(programFolder, " :    command could not be run: " + std::string(error.what()));
        return imagePath;
    }

    if (staleRemains || !FileExists(handBack))
        return imagePath;
    LogEvent(programFolder, " :    opening filename.txt");
    std::ifstream in(handBack, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    const auto field = HandBackField(head);
    if (!field) {
        LogEvent(programFolder, " :    filename.txt holds no file name, path unchanged");
        return imagePath;
    }
    LogEvent(programFolder, " :    new filename is: " + *field);
    return *field;
}
