#include "veldra/measure/process_start.h"

#include "veldra/settings/shell_sync.h"

#include <algorithm>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {
// Started and not yet reaped.  A process may stay here long after the run that started
// it: a solver that hit the time limit is left running until the next forced end.
std::vector<pid_t>& StartedProcesses() {
    static std::vector<pid_t> started;
    return started;
}
} // namespace

size_t ReapStartedProcesses() {
    auto& started = StartedProcesses();
    std::erase_if(started, [](pid_t pid) {
        int status = 0;
        const pid_t result = waitpid(pid, &status, WNOHANG);
        // Gone: reaped now, or no longer our child (someone else waited for it).
        return result == pid || result < 0;
    });
    return started.size();
}

std::optional<pid_t> StartProcessNoWait(const std::string& commandLine) {
    ReapStartedProcesses();
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments.front().empty())
        return std::nullopt;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 || pid <= 0)
        return std::nullopt;
    StartedProcesses().push_back(pid);
    return pid;
}
