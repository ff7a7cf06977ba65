#include "veldra/monitor/start_checks.h"

#include "common/file_utils.h"
#include "common/numbers.h"
#include "hdrlib/hdrlib.h"
#include "veldra/monitor/list_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A program by path, or by name on PATH as the process start finds it.
bool CanRun(const std::string& program) {
    if (program.empty())
        return false;
    const auto runs = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
               access(path.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos)
        return runs(program);
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        if (runs((end > start ? folders.substr(start, end - start) : ".") + "/" + program))
            return true;
        start = end + 1;
    }
    return false;
}

// "SCALE" or "SCALE,WIDTH,HEIGHT" with the size of the newest image when it has one.
std::string ScaleQuestion(const Settings& settings) {
    std::string question = PlainNumberText(settings.IMAGE_SCALE);
    const FileListing listing = ListFolder(settings.MONITOR_PATH, settings.MONITOR_FILTER);
    int32_t width = 0;
    int32_t height = 0;
    if (listing.count > 0 &&
        peekFitsImageSize(listing.paths.back().c_str(), &width, &height) == 0 && width > 0 &&
        height > 0)
        question.append(",")
            .append(std::to_string(width))
            .append(",")
            .append(std::to_string(height));
    return question;
}

} // namespace

std::string FolderProblem(const std::string& folder) {
    struct stat info {};
    if (folder.empty() || stat(folder.c_str(), &info) != 0)
        return "The folder " + folder +
               " does not exist: choose it with \"Select Folder to "
               "Monitor\"";
    if (!S_ISDIR(info.st_mode))
        return folder + " is not a folder: choose one with \"Select Folder to Monitor\"";
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr)
        return "The folder " + folder + " cannot be listed: " + std::strerror(errno);
    closedir(listing);
    return {};
}

std::string Phd2StartProblem(const Phd2Session& session) {
    const std::string where = "PHD2 at " + session.host + ":" + std::to_string(session.port);
    if (session.link != Phd2Link::Connected)
        return where + " does not answer: the shift waits until it does";
    if (session.appState != "Guiding" && session.appState != "LostLock")
        return where + " is not guiding: the shift waits until it guides";
    return {};
}

std::string SolverProblem(const Settings& settings, const Platform& platform) {
    if (!CanRun(settings.PWI_EXE_PATH))
        return "The plate solver " + settings.PWI_EXE_PATH +
               " cannot be run: choose it with \"Set Application\" in \"Setup Plate Solve\"";
    // Only veldra-solve can be asked; another solver is trusted to be set up.
    if (settings.solverExeName != "veldra-solve" || !platform.askProgram)
        return {};
    const ProgramAnswer answer =
        platform.askProgram({settings.PWI_EXE_PATH, "--check", ScaleQuestion(settings)});
    if (answer.exitStatus == 0)
        return {};
    if (answer.exitStatus == 1)
        return "Plate solver not ready: " + answer.firstLine;
    std::string problem =
        "The plate solver " + settings.PWI_EXE_PATH + " did not say whether it is ready";
    if (!answer.firstLine.empty())
        problem.append(": ").append(answer.firstLine);
    return problem;
}

StartCheck CheckBeforeStart(const Settings& settings, const Platform& platform) {
    StartCheck check;
    if (std::string folder = FolderProblem(settings.MONITOR_PATH); !folder.empty()) {
        check.folderUsable = false;
        check.problems.push_back(std::move(folder));
        return check; // nothing to watch: the rest can wait for a usable folder
    }
    if (platform.guiderProblem)
        if (std::string guider = platform.guiderProblem(); !guider.empty())
            check.problems.push_back(std::move(guider));
    if (settings.PLATE_SOLVE_METHOD == 1)
        if (std::string solver = SolverProblem(settings, platform); !solver.empty())
            check.problems.push_back(std::move(solver));
    return check;
}
