#include "common/shell_sync.h"
#include "common/exec_arguments.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Waits up to milliseconds for the child to end, without reaping it (so its id, and the
// id of its group, cannot be taken by another process meanwhile).  True when it ended.
bool EndsWithin(pid_t child, int pidfd, int milliseconds) {
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        return poll(&ended, 1, milliseconds) > 0;
    }
    // A kernel without pidfds: look every few milliseconds.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid != 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(5000);
    }
}

// The wait given up: the whole group gets SIGTERM (a converter may clean up), then SIGKILL
// for whatever is left, while the unreaped leader keeps the group's id ours.
void EndGroup(pid_t child, int pidfd) {
    killpg(child, SIGTERM);
    EndsWithin(child, pidfd, kShellSyncGraceMs);
    killpg(child, SIGKILL);
    if (EndsWithin(child, pidfd, kShellSyncReapBoundMs))
        waitpid(child, nullptr, WNOHANG);
}

int32_t ExitCodeOf(int status) {
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

} // namespace

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

int32_t ShellSync(const std::string& commandLine, int windowStyle,
                  const std::function<bool()>& keepWaiting) {
    return ShellSyncArguments(SplitCommandLine(commandLine), windowStyle, keepWaiting);
}

int32_t ShellSyncArguments(std::vector<std::string> arguments, int /*windowStyle*/,
                           const std::function<bool()>& keepWaiting) {
    if (arguments.empty())
        throw ShellSyncError(kShellSyncStartError, "Failed to Shell child process");
    const std::vector<char*> argv = ExecArguments(arguments);

    // A group of its own: ending the command reaches whatever it started, and nothing else.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    // glibc's posix_spawnp reports a failed exec (program not found, not executable) as
    // its result, so "nothing started" is known here and not as exit code 127.
    const int spawned = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        throw ShellSyncError(kShellSyncStartError, "Failed to Shell child process");
    if (child <= 0)
        throw ShellSyncError(kShellSyncOpenError, "Failed to open child process");

    int status = 0;
    if (keepWaiting) {
        // Our child, not yet waited for: the id cannot name another process yet.
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
        while (!EndsWithin(child, pidfd, kShellSyncPollMs)) {
            if (!keepWaiting()) {
                EndGroup(child, pidfd);
                if (pidfd >= 0)
                    close(pidfd);
                throw ShellSyncError(kShellSyncGivenUpError,
                                     "Child process ended: the wait was given up");
            }
        }
        if (pidfd >= 0)
            close(pidfd);
    }
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw ShellSyncError(kShellSyncExitCodeError,
                                 "Failed to retrieve exit code, error " + std::to_string(errno));
    }
    return ExitCodeOf(status);
}
