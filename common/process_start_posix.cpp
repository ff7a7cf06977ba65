#include "common/exec_arguments.h"
#include "common/process_start.h"

#include <algorithm>
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

struct Started {
    pid_t pid = 0;
    // The process handle; -1 only on a kernel without pidfds, where the unreaped pid
    // still names our child alone (the kernel cannot reuse it before we wait for it).
    int pidfd = -1;
};

// Started and not yet reaped.  A process may stay here long after the run that started
// it: a solver that hit the time limit is left running until the next forced end.
std::vector<Started>& StartedProcesses() {
    static std::vector<Started> started;
    return started;
}

bool Ended(const Started& process) {
    if (process.pidfd >= 0) {
        // A pidfd turns readable when its process has ended.
        pollfd ready{process.pidfd, POLLIN, 0};
        return poll(&ready, 1, 0) > 0;
    }
    siginfo_t info{};
    const int result =
        waitid(P_PID, static_cast<id_t>(process.pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return result != 0 || info.si_pid != 0;
}

bool Reaped(const Started& process) {
    int status = 0;
    const pid_t result = waitpid(process.pid, &status, WNOHANG);
    // Gone: reaped now, or no longer our child (someone else waited for it).
    if (result != process.pid && result >= 0)
        return false;
    if (process.pidfd >= 0)
        close(process.pidfd);
    return true;
}

int Kill(const Started& process) {
    const long result = process.pidfd >= 0
                            ? syscall(SYS_pidfd_send_signal, process.pidfd, SIGKILL, nullptr, 0)
                            : kill(process.pid, SIGKILL);
    return result == 0 ? 0 : errno;
}

} // namespace

size_t ReapStartedProcesses() {
    auto& started = StartedProcesses();
    std::erase_if(started, Reaped);
    return started.size();
}

bool StartedProcessEnded(pid_t pid) {
    const auto& started = StartedProcesses();
    const auto process = std::find_if(started.begin(), started.end(),
                                      [pid](const Started& p) { return p.pid == pid; });
    return process == started.end() || Ended(*process);
}

pid_t StartProcessNoWait(const std::vector<std::string>& arguments) {
    ReapStartedProcesses();
    if (arguments.empty() || arguments.front().empty())
        return -1;
    const std::vector<char*> argv = ExecArguments(arguments);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 || pid <= 0)
        return -1;
    // Our child, not yet waited for: the id cannot name another process yet.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    StartedProcesses().push_back({pid, pidfd});
    return pid;
}

std::vector<EndedProcess> EndStartedProcesses() {
    std::vector<EndedProcess> ended;
    std::vector<Started> signalled;
    for (const Started& process : StartedProcesses()) {
        if (Ended(process))
            continue;
        const int error = Kill(process);
        ended.push_back({process.pid, error});
        if (error == 0)
            signalled.push_back(process);
    }
    // SIGKILL cannot be caught; the bound only guards against a process stuck in the kernel.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kForcedEndBoundMs);
    for (const Started& process : signalled) {
        while (!Ended(process) && std::chrono::steady_clock::now() < deadline) {
            if (process.pidfd >= 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd ready{process.pidfd, POLLIN, 0};
                poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 1)));
            } else {
                usleep(1000);
            }
        }
    }
    ReapStartedProcesses();
    return ended;
}
