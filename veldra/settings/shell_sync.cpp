#include "veldra/settings/shell_sync.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false; // "" is an argument of its own, so track it apart from current
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

int32_t ShellSync(const std::string& commandLine, int windowStyle) {
    return ShellSyncArguments(SplitCommandLine(commandLine), windowStyle);
}

int32_t ShellSyncArguments(std::vector<std::string> arguments, int /*windowStyle*/) {
    if (arguments.empty())
        throw ShellSyncError(kShellSyncStartError, "Failed to Shell child process");
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    // glibc's posix_spawnp reports a failed exec (program not found, not executable) as
    // its result, so "nothing started" is known here and not as exit code 127.
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw ShellSyncError(kShellSyncStartError, "Failed to Shell child process");
    if (child <= 0)
        throw ShellSyncError(kShellSyncOpenError, "Failed to open child process");

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw ShellSyncError(kShellSyncExitCodeError,
                                 "Failed to retrieve exit code, error " + std::to_string(errno));
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
