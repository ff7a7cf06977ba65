#include "common/child_process.h"
#include "common/exec_arguments.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// In seconds as a double: any time limit given, however large, fits.
using Deadline = std::chrono::time_point<Clock, std::chrono::duration<double>>;

void Sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

// The forked watchdog: leads the group and waits for the life line to close.
[[noreturn]] void Watchdog(int lifeLine, const std::string& scratchFolder) {
    char byte = 0;
    while (read(lifeLine, &byte, 1) < 0 && errno == EINTR) {
    }
    // Our parent has ended without killing the group.  A helper outside the group kills
    // it (this watchdog too: its pid, the group's id, stays taken until the signal is
    // sent) and then removes the scratch folder.
    const pid_t group = getpid();
    const pid_t helper = fork();
    if (helper != 0) {
        if (helper < 0)
            kill(0, SIGKILL);
        for (;;)
            pause();
    }
    setsid();
    kill(-group, SIGKILL);
    // Bounded: members that nobody reaps stay visible as zombies, but write nothing more.
    for (int i = 0; i < 300 && kill(-group, 0) == 0; ++i)
        Sleep(std::chrono::milliseconds(10));
    if (!scratchFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratchFolder, ignored);
    }
    _exit(0);
}

[[noreturn]] void StartProgram(pid_t group, pid_t parent, int reportLine,
                               const std::vector<std::string>& arguments,
                               const std::string& outputPath) {
    setpgid(0, group);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) // the parent died before the line above took effect
        _exit(127);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int error = 0;
    if (input < 0 || output < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 ||
        dup2(output, 2) < 0) {
        error = errno;
    } else {
        const std::vector<char*> argv = ExecArguments(arguments);
        execvp(argv[0], argv.data());
        error = errno;
    }
    // The report line closes on a successful exec; reaching here means it failed.
    (void)!write(reportLine, &error, sizeof error);
    _exit(127);
}

void Reap(pid_t pid) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// The two pipes of one guarded run and the two processes it forks.  The life line's write
// end stays with us for the whole run: its close tells the watchdog we are gone.  The
// report line carries errno from a failed exec and closes on a successful one.
struct GuardedGroup {
    int lifeLine[2] = {-1, -1};
    int reportLine[2] = {-1, -1};
    pid_t watchdog = -1;
    pid_t child = -1;

    void CloseAll() {
        for (int* fd : {&lifeLine[0], &lifeLine[1], &reportLine[0], &reportLine[1]}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }
    // Kills everything in the group and reaps what we forked.
    void End() {
        kill(-watchdog, SIGKILL);
        if (child > 0)
            Reap(child);
        Reap(watchdog);
        CloseAll();
    }
};

// Opens both pipes; an empty text, or why not.
std::string OpenLines(GuardedGroup& group) {
    if (pipe2(group.lifeLine, O_CLOEXEC) != 0)
        return std::strerror(errno);
    if (pipe2(group.reportLine, O_CLOEXEC) != 0) {
        const std::string error = std::strerror(errno);
        group.CloseAll();
        return error;
    }
    return {};
}

// Forks the watchdog as the leader of a new process group; an empty text, or why not.
std::string StartWatchdog(GuardedGroup& group, const std::string& scratchFolder) {
    group.watchdog = fork();
    if (group.watchdog == 0) {
        setpgid(0, 0);
        // Only the read end of the life line stays open here, or its end would never come
        // (and the report line would never close on a successful start).
        for (int fd : {group.lifeLine[1], group.reportLine[0], group.reportLine[1]})
            close(fd);
        Watchdog(group.lifeLine[0], scratchFolder);
    }
    if (group.watchdog < 0) {
        const std::string error = std::strerror(errno);
        group.CloseAll();
        return error;
    }
    setpgid(group.watchdog, group.watchdog); // also here: the child may not have run yet
    close(group.lifeLine[0]);
    group.lifeLine[0] = -1;
    return {};
}

// Forks the program into the watchdog's group and waits for its exec; an empty text once
// it runs, or why it does not (the group is then ended).
std::string StartChild(GuardedGroup& group, pid_t parent, const std::vector<std::string>& arguments,
                       const std::string& outputPath) {
    group.child = fork();
    if (group.child == 0)
        StartProgram(group.watchdog, parent, group.reportLine[1], arguments, outputPath);
    if (group.child < 0) {
        const std::string error = std::strerror(errno);
        group.End();
        return error;
    }
    setpgid(group.child, group.watchdog);
    close(group.reportLine[1]);
    group.reportLine[1] = -1;

    int execError = 0;
    ssize_t got = 0;
    while ((got = read(group.reportLine[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof execError)) {
        group.End();
        return std::strerror(execError);
    }
    return {};
}

enum class ChildWait { Ended, WaitFailed, TimedOut };

// Waits until the program ends or the deadline passes; status is filled when it ended.
ChildWait WaitForChild(pid_t child, Deadline deadline, int& status) {
    // A pidfd becomes readable when the program ends: the wait sleeps until then or the
    // deadline instead of waking every few milliseconds beside a solver that needs the CPU.
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    ChildWait result = ChildWait::TimedOut;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            result = ChildWait::Ended;
            break;
        }
        if (done < 0 && errno != EINTR) {
            result = ChildWait::WaitFailed;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        if (ended >= 0) {
            pollfd wait{ended, POLLIN, 0};
            poll(&wait, 1, static_cast<int>(std::min<long long>(left.count() + 1, 1000)));
        } else {
            Sleep(std::chrono::milliseconds(2)); // a kernel without pidfds
        }
    }
    if (ended >= 0)
        close(ended);
    return result;
}

} // namespace

ChildOutcome RunGuarded(const std::vector<std::string>& arguments, const std::string& outputPath,
                        double timeLimit, const std::string& scratchFolder,
                        const std::function<void()>& whileRunning) {
    ChildOutcome outcome;
    const auto start = Clock::now();
    const auto finish = [&](ChildOutcome::End end) {
        outcome.end = end;
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return outcome;
    };
    const auto notStarted = [&](std::string why) {
        outcome.startError = std::move(why);
        return finish(ChildOutcome::End::NotStarted);
    };
    if (arguments.empty() || arguments.front().empty())
        return notStarted("no program named");

    GuardedGroup group;
    if (std::string error = OpenLines(group); !error.empty())
        return notStarted(error);
    if (std::string error = StartWatchdog(group, scratchFolder); !error.empty())
        return notStarted(error);
    if (std::string error = StartChild(group, getpid(), arguments, outputPath); !error.empty())
        return notStarted(error);

    if (whileRunning)
        whileRunning();
    int status = 0;
    const ChildWait wait =
        WaitForChild(group.child, start + std::chrono::duration<double>(timeLimit), status);
    if (wait == ChildWait::TimedOut) {
        group.End();
        return finish(ChildOutcome::End::TimedOut);
    }
    // The program has ended (or can no longer be waited for); its own children and the
    // watchdog end with the group.
    kill(-group.watchdog, SIGKILL);
    if (wait == ChildWait::WaitFailed)
        Reap(group.child);
    Reap(group.watchdog);
    group.CloseAll();
    if (wait == ChildWait::WaitFailed)
        return finish(ChildOutcome::End::WaitFailed);
    if (WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
        return finish(ChildOutcome::End::Exited);
    }
    return finish(ChildOutcome::End::Signalled);
}
