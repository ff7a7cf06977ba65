#include "common/child_process.h"

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
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
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
    if (arguments.empty() || arguments.front().empty()) {
        outcome.startError = "no program named";
        return finish(ChildOutcome::End::NotStarted);
    }

    int lifeLine[2], reportLine[2];
    if (pipe2(lifeLine, O_CLOEXEC) != 0) {
        outcome.startError = std::strerror(errno);
        return finish(ChildOutcome::End::NotStarted);
    }
    if (pipe2(reportLine, O_CLOEXEC) != 0) {
        outcome.startError = std::strerror(errno);
        close(lifeLine[0]);
        close(lifeLine[1]);
        return finish(ChildOutcome::End::NotStarted);
    }
    const auto closeAll = [&] {
        for (int fd : {lifeLine[0], lifeLine[1], reportLine[0], reportLine[1]})
            if (fd >= 0)
                close(fd);
    };

    const pid_t parent = getpid();
    const pid_t watchdog = fork();
    if (watchdog == 0) {
        setpgid(0, 0);
        // Only the read end of the life line stays open here, or its end would never come
        // (and the report line would never close on a successful start).
        for (int fd : {lifeLine[1], reportLine[0], reportLine[1]})
            close(fd);
        Watchdog(lifeLine[0], scratchFolder);
    }
    if (watchdog < 0) {
        outcome.startError = std::strerror(errno);
        closeAll();
        return finish(ChildOutcome::End::NotStarted);
    }
    setpgid(watchdog, watchdog); // also here: the child may not have run yet
    close(lifeLine[0]);
    lifeLine[0] = -1;

    const pid_t child = fork();
    if (child == 0)
        StartProgram(watchdog, parent, reportLine[1], arguments, outputPath);
    const auto endGroup = [&] {
        kill(-watchdog, SIGKILL);
        if (child > 0)
            Reap(child);
        Reap(watchdog);
        closeAll();
    };
    if (child < 0) {
        outcome.startError = std::strerror(errno);
        endGroup();
        return finish(ChildOutcome::End::NotStarted);
    }
    setpgid(child, watchdog);
    close(reportLine[1]);
    reportLine[1] = -1;

    int execError = 0;
    ssize_t got = 0;
    while ((got = read(reportLine[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof execError)) {
        outcome.startError = std::strerror(execError);
        endGroup();
        return finish(ChildOutcome::End::NotStarted);
    }

    if (whileRunning)
        whileRunning();
    const auto deadline = start + std::chrono::duration<double>(timeLimit);
    // A pidfd becomes readable when the program ends: the wait sleeps until then or the
    // deadline instead of waking every few milliseconds beside a solver that needs the CPU.
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR) {
            status = -1;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (ended >= 0)
                close(ended);
            endGroup();
            return finish(ChildOutcome::End::TimedOut);
        }
        if (ended >= 0) {
            pollfd wait{ended, POLLIN, 0};
            poll(&wait, 1, static_cast<int>(std::min<long long>(left.count() + 1, 1000)));
        } else {
            Sleep(std::chrono::milliseconds(2)); // a kernel without pidfds
        }
    }
    if (ended >= 0)
        close(ended);
    // The program has ended; its own children and the watchdog end with the group.
    kill(-watchdog, SIGKILL);
    Reap(watchdog);
    closeAll();
    if (status >= 0 && WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
        return finish(ChildOutcome::End::Exited);
    }
    return finish(ChildOutcome::End::Signalled);
}
