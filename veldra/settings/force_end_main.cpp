// veldra-forceend NAME: ends (SIGKILL) every process of the current user whose program
// name is NAME.  Exit code 0 when something was ended, 128 when nothing matched,
// 1 when a matching process could not be ended, 2 for a missing or empty NAME.
#include "veldra/settings/force_end_rule.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

namespace {
std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// False when the process is gone or its files cannot be read.
bool ReadProcess(pid_t pid, ProcessEntry& process) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/";
    process.pid = pid;
    // "PID (COMM) STATE ...": comm may itself hold ")" and blanks, so take the last ")".
    const std::string stat = ReadWhole(folder + "stat");
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    process.comm = stat.substr(open + 1, close - open - 1);

    const std::string status = ReadWhole(folder + "status");
    const size_t uidLine = status.find("\nUid:");
    if (uidLine == std::string::npos)
        return false;
    unsigned long ids[2] = {};
    const char* cursor = status.data() + uidLine + 5;
    const char* end = status.data() + status.size();
    for (auto& id : ids) {
        while (cursor < end && (*cursor == ' ' || *cursor == '\t'))
            ++cursor;
        const auto result = std::from_chars(cursor, end, id);
        if (result.ec != std::errc())
            return false;
        cursor = result.ptr;
    }
    process.realUid = static_cast<uid_t>(ids[0]);
    process.effectiveUid = static_cast<uid_t>(ids[1]);

    process.arguments.clear();
    const std::string cmdline = ReadWhole(folder + "cmdline");
    size_t start = 0;
    while (start < cmdline.size()) {
        size_t stop = cmdline.find('\0', start);
        if (stop == std::string::npos)
            stop = cmdline.size();
        process.arguments.push_back(cmdline.substr(start, stop - start));
        start = stop + 1;
    }

    char target[4096];
    const ssize_t length = readlink((folder + "exe").c_str(), target, sizeof target);
    process.executable = length > 0 ? std::string(target, static_cast<size_t>(length)) : "";
    return true;
}

bool ParsePid(const char* text, pid_t& pid) {
    const char* end = text;
    while (*end != '\0')
        ++end;
    const auto result = std::from_chars(text, end, pid);
    return result.ec == std::errc() && result.ptr == end && pid > 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: veldra-forceend PROGRAM-NAME\n");
        return 2;
    }
    const std::string name = argv[1];
    const ForceEndCaller caller{getpid(), getppid(), getuid()};

    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        std::perror("/proc");
        return 1;
    }
    int ended = 0;
    int failed = 0;
    while (const dirent* entry = readdir(proc)) {
        pid_t pid = 0;
        if (!ParsePid(entry->d_name, pid))
            continue;
        // Hold the process by a pidfd before looking at it, so a pid reused between the
        // check and the signal can never hit another process.
        // A kernel without pidfds falls back to kill.
        const int handle = pidfd_open(pid, 0);
        if (handle < 0 && errno != ENOSYS)
            continue;
        ProcessEntry process;
        if (ReadProcess(pid, process) && IsForceEndTarget(name, process, caller)) {
            const int result =
                handle >= 0 ? pidfd_send_signal(handle, SIGKILL, nullptr, 0) : kill(pid, SIGKILL);
            if (result == 0 || errno == ESRCH)
                ++ended;
            else
                ++failed;
        }
        if (handle >= 0)
            close(handle);
    }
    closedir(proc);
    if (failed > 0)
        return 1;
    return ended > 0 ? 0 : 128;
}
