#pragma once
// A real indiserver for the telescope tests: free ports, start, stop by PID.
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/test_support.h"

// A TCP port on the loopback that nothing listens on right now.
int FreePort();

// indiserver with the given drivers on a free port and its own socket path (-u), started
// with its output in a private log and stopped by its PID.  Its drivers end by
// themselves when it is gone.  The constructor waits (at most 10 s) until it listens.
struct IndiServer {
    explicit IndiServer(const std::vector<std::string>& drivers);
    ~IndiServer();
    IndiServer(const IndiServer&) = delete;
    IndiServer& operator=(const IndiServer&) = delete;
    void Stop();
    // "DEVICE@localhost:PORT"
    std::string Identifier(const std::string& device) const;

    TempDir dir;
    int port = 0;
    pid_t pid = -1;
};

// True once the server announces the device (at most five tries of the driver's own
// deadline), so a slow driver start does not count as a failure of the code under test.
bool DeviceAnnounced(const IndiServer& server, const std::string& device);
