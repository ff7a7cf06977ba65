#pragma once
// Which processes "veldra-forceend NAME" ends: the stand-in for "taskkill /F /IM NAME".
#include <string>
#include <sys/types.h>
#include <vector>

// What /proc tells about one process.
struct ProcessEntry {
    pid_t pid = 0;
    uid_t realUid = 0;
    uid_t effectiveUid = 0;
    std::string comm;                   // the kernel's name, at most 15 characters
    std::vector<std::string> arguments; // cmdline; empty for zombies and kernel threads
    std::string executable;             // target of /proc/PID/exe; empty when unreadable
};

// Who asks: these are never ended, and only processes of uid are.
struct ForceEndCaller {
    pid_t self = 0;
    pid_t parent = 0;
    uid_t uid = 0;
};

// The kernel keeps the file name of the program it executed, cut to this length, as comm.
inline constexpr size_t kCommLength = 15;

// True when process runs the program exeName and may be ended by caller.
// The program name is the file name the kernel executed: for a binary that is its own
// name, for a script started through its "#!" line the script's name (argv then is
// [interpreter, (one "#!" argument,) script path, ...]).  comm must equal exeName cut to
// 15 characters; a name of 15 or more characters must also be confirmed in full by the
// file name of the executable, of argv[0], or - when the executable is not that program,
// i.e. an interpreter - of argv[1] or argv[2].  A script whose "#!" line is
// "/usr/bin/env X" runs as X and is not found under its own name.
bool IsForceEndTarget(const std::string& exeName, const ProcessEntry& process,
                      const ForceEndCaller& caller);
