// The telescope driver over libindi: the only file that sees libindi.  libindi calls
// back on its own listener thread; the callbacks only copy values into an Answer under
// its mutex, and the calling thread waits on its condition variable with a deadline.
#include "veldra/telescope/telescope_driver.h"

#include "common/end_request.h"

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// At most this long for the TCP connection itself (within the overall deadline).
constexpr std::chrono::milliseconds kConnectTime{2000};

// libindi writes to its socket with write(): a server that has gone away would raise
// SIGPIPE and end the program.  Blocked on this thread - and so on the listener thread
// that connectServer starts meanwhile - and a pending one is discarded.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec none{};
            sigtimedwait(&pipe_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t previous_{};
};

// Every wait looks at the end request this often, so the end of veldra never waits
// for a silent server.
constexpr std::chrono::milliseconds kEndPoll{50};

// condition.wait_until(lock, deadline, done), given up once the end of veldra is asked for.
template <typename Done>
bool WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
               Clock::time_point deadline, Done done) {
    while (!done()) {
        if (EndRequested() || Clock::now() >= deadline)
            return false;
        condition.wait_until(lock, std::min(deadline, Clock::now() + kEndPoll));
    }
    return true;
}

// What the listener thread hands over to the waiting caller.
struct Answer {
    std::mutex mutex;
    std::condition_variable arrived;
    bool defined = false; // the property (or, when none is asked for, the device) arrived
    std::map<std::string, double> numbers;
    std::map<std::string, bool> switches; // element name -> On
};

void CopyProperty(INDI::Property property, Answer& answer) {
    std::lock_guard lock(answer.mutex);
    if (property.getType() == INDI_NUMBER) {
        INDI::PropertyNumber numbers(property);
        for (const auto& element : numbers)
            answer.numbers[element.getName()] = element.getValue();
    } else if (property.getType() == INDI_SWITCH) {
        INDI::PropertySwitch switches(property);
        for (const auto& element : switches)
            answer.switches[element.getName()] = element.getState() == ISS_ON;
    }
    answer.defined = true;
    answer.arrived.notify_all();
}

// libindi 1.9.9 ends the program (std::terminate in its socket's destructor) when a
// client whose connect timed out is destroyed while its socket thread still runs.  So
// libindi only ever connects to a server that has just accepted a connection of our own,
// with a time limit it will not reach, and a client whose connect fails all the same is
// parked for the rest of the run instead of being destroyed.
constexpr std::chrono::milliseconds kLibindiConnectTime{5000};
// A question started with less time left could not be answered anyway.
constexpr std::chrono::milliseconds kLeastTimeForAQuestion{200};

// True when host:port accepts a TCP connection before deadline.
bool ServerAccepts(const std::string& host, int port, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool accepted = false;
    for (addrinfo* address = found; address != nullptr && !accepted; address = address->ai_next) {
        const int probe =
            socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address->ai_protocol);
        if (probe < 0)
            continue;
        if (connect(probe, address->ai_addr, address->ai_addrlen) == 0) {
            accepted = true;
        } else if (errno == EINPROGRESS) {
            pollfd writable{probe, POLLOUT, 0};
            int ready = 0;
            while (ready == 0 && !EndRequested() && Clock::now() < deadline) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                ready = poll(&writable, 1, static_cast<int>(std::min(left, kEndPoll).count()) + 1);
            }
            int error = 0;
            socklen_t length = sizeof error;
            accepted = ready == 1 &&
                       getsockopt(probe, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        close(probe);
    }
    freeaddrinfo(found);
    return accepted;
}

// Connects a fresh client to a server that has just accepted a probe.  Empty when that
// fails; a client libindi could not connect is kept alive (see above).
std::unique_ptr<INDI::BaseClient>
ConnectClient(const DeviceIdentifier& identifier, Clock::time_point deadline,
              const std::function<void(INDI::BaseClient&)>& beforeConnecting = {}) {
    if (EndRequested() || Clock::now() + kLeastTimeForAQuestion > deadline ||
        !ServerAccepts(identifier.host, identifier.port,
                       std::min(deadline, Clock::now() + kConnectTime)))
        return nullptr;
    auto client = std::make_unique<INDI::BaseClient>();
    client->setServer(identifier.host.c_str(), static_cast<unsigned>(identifier.port));
    client->setConnectionTimeout(static_cast<uint32_t>(kLibindiConnectTime.count() / 1000), 0);
    if (beforeConnecting)
        beforeConnecting(*client);
    if (client->connectServer())
        return client;
    static std::mutex parkingLock;
    static auto* parked = new std::vector<std::unique_ptr<INDI::BaseClient>>();
    std::lock_guard lock(parkingLock);
    parked->push_back(std::move(client));
    return nullptr;
}

// libindi's devices and their properties refer to each other and are never freed on
// their own; removing the properties after the conversation breaks the cycle, so a
// night of images does not leak a copy of the device per question.
void ForgetDevices(INDI::BaseClient& client) {
    char error[MAXRBUF];
    for (auto device : client.getDevices()) {
        std::vector<std::string> names;
        for (const auto& property : device.getProperties())
            names.push_back(property.getName());
        for (const auto& name : names)
            device.removeProperty(name.c_str(), error);
    }
}

// One short conversation with the server: connect, ask for one property of the device
// (every property when property is empty) and wait until it is defined, at most until
// deadline.  While still connected, then runs whileConnected.  True when it arrived.
// The callbacks fill an answer of their own, which lives as long as they may run.
bool Ask(const DeviceIdentifier& identifier, const std::string& property, Answer& answer,
         Clock::time_point deadline,
         const std::function<void(INDI::BaseClient&)>& whileConnected = {}) {
    SigpipeGuard guard;
    auto shared = std::make_shared<Answer>();
    const auto client = ConnectClient(identifier, deadline, [&](INDI::BaseClient& connecting) {
        if (!property.empty())
            connecting.watchProperty(identifier.device.c_str(), property.c_str());
        connecting.watchDevice(identifier.device.c_str(), [shared,
                                                           property](INDI::BaseDevice device) {
            if (property.empty()) {
                std::lock_guard lock(shared->mutex);
                shared->defined = true;
                shared->arrived.notify_all();
                return;
            }
            device.watchProperty(property.c_str(),
                                 [shared](INDI::Property found) { CopyProperty(found, *shared); });
        });
    });
    if (!client)
        return false;
    bool defined = false;
    {
        std::unique_lock lock(shared->mutex);
        defined = WaitUntil(shared->arrived, lock, deadline, [&] { return shared->defined; });
    }
    if (defined && whileConnected)
        whileConnected(*client);
    // disconnectServer joins libindi's listener thread: no callback runs after this.
    client->disconnectServer();
    ForgetDevices(*client);
    std::lock_guard lock(answer.mutex);
    answer.defined = shared->defined;
    answer.numbers = shared->numbers;
    answer.switches = shared->switches;
    return defined;
}

bool ReadSwitch(const DeviceIdentifier& identifier, const char* property, const char* element,
                Clock::time_point deadline, bool& on) {
    Answer answer;
    if (!Ask(identifier, property, answer, deadline))
        return false;
    std::lock_guard lock(answer.mutex);
    const auto found = answer.switches.find(element);
    if (found == answer.switches.end())
        return false;
    on = found->second;
    return true;
}

// One conversation: sends CONNECT once the device's CONNECTION switch is defined, and
// waits until EQUATORIAL_EOD_COORD is updated after that (its definition alone carries
// the values the device had before it ever reported).  True when the update came by
// deadline.
bool ConnectAndAwaitPositionUpdate(const DeviceIdentifier& identifier, Clock::time_point deadline) {
    struct Awaited {
        std::mutex mutex;
        std::condition_variable arrived;
        bool switchDefined = false;
        bool positionUpdated = false;
    };
    SigpipeGuard guard;
    auto shared = std::make_shared<Awaited>();
    const auto client = ConnectClient(identifier, deadline, [&](INDI::BaseClient& connecting) {
        connecting.watchProperty(identifier.device.c_str(), "CONNECTION");
        connecting.watchProperty(identifier.device.c_str(), "EQUATORIAL_EOD_COORD");
        connecting.watchDevice(identifier.device.c_str(), [shared](INDI::BaseDevice device) {
            device.watchProperty("CONNECTION", [shared](INDI::Property) {
                std::lock_guard lock(shared->mutex);
                shared->switchDefined = true;
                shared->arrived.notify_all();
            });
            device.watchProperty("EQUATORIAL_EOD_COORD", [shared](INDI::Property position) {
                position.onUpdate([shared] {
                    std::lock_guard lock(shared->mutex);
                    shared->positionUpdated = true;
                    shared->arrived.notify_all();
                });
            });
        });
    });
    if (!client)
        return false;
    bool updated = false;
    {
        std::unique_lock lock(shared->mutex);
        if (WaitUntil(shared->arrived, lock, deadline, [&] { return shared->switchDefined; })) {
            lock.unlock();
            client->sendNewSwitch(identifier.device.c_str(), "CONNECTION", "CONNECT");
            lock.lock();
            updated =
                WaitUntil(shared->arrived, lock, deadline, [&] { return shared->positionUpdated; });
        }
    }
    // disconnectServer joins libindi's listener thread: no callback runs after this.
    client->disconnectServer();
    ForgetDevices(*client);
    return updated;
}

bool ReadNumber(const DeviceIdentifier& identifier, const char* property, const char* element,
                double& value) {
    Answer answer;
    if (!Ask(identifier, property, answer, Clock::now() + kTelescopeAnswerTime))
        return false;
    std::lock_guard lock(answer.mutex);
    const auto found = answer.numbers.find(element);
    if (found == answer.numbers.end() || !std::isfinite(found->second))
        return false;
    value = found->second;
    return true;
}
} // namespace

bool CreateTelescopeDriver(const std::string& identifierText, TelescopeDriver& driver) {
    DeviceIdentifier identifier;
    if (!ParseDeviceIdentifier(identifierText, identifier))
        return false;
    Answer answer;
    if (!Ask(identifier, "", answer, Clock::now() + kTelescopeAnswerTime))
        return false;
    driver.identifier = identifier;
    driver.created = true;
    return true;
}

bool ReadConnected(const TelescopeDriver& driver, bool& connected) {
    return driver.created && ReadSwitch(driver.identifier, "CONNECTION", "CONNECT",
                                        Clock::now() + kTelescopeAnswerTime, connected);
}

ConnectOutcome ConnectAwaitingPosition(const TelescopeDriver& driver) {
    if (!driver.created)
        return ConnectOutcome::NotConnected;
    if (ConnectAndAwaitPositionUpdate(driver.identifier,
                                      Clock::now() + kTelescopeFirstPositionTime))
        return ConnectOutcome::ConnectedWithPosition;
    bool connected = false;
    return ReadConnected(driver, connected) && connected ? ConnectOutcome::ConnectedWithoutPosition
                                                         : ConnectOutcome::NotConnected;
}

bool ReadRightAscension(const TelescopeDriver& driver, double& hours) {
    return driver.created && ReadNumber(driver.identifier, "EQUATORIAL_EOD_COORD", "RA", hours);
}

bool ReadDeclination(const TelescopeDriver& driver, double& degrees) {
    return driver.created && ReadNumber(driver.identifier, "EQUATORIAL_EOD_COORD", "DEC", degrees);
}

void ReleaseTelescopeDriver(TelescopeDriver& driver) {
    driver = TelescopeDriver{};
}

bool ListTelescopeDevices(const std::string& host, int port, std::vector<std::string>& devices) {
    SigpipeGuard guard;
    DeviceIdentifier server;
    server.host = host;
    server.port = port;
    const auto client = ConnectClient(server, Clock::now() + kConnectTime + kTelescopeListTime);
    if (!client)
        return false;
    // The server has no "that was all": give it a fixed time to announce its devices.
    std::this_thread::sleep_for(kTelescopeListTime);
    client->disconnectServer();
    // The listener thread has ended: the device list is ours to read.
    devices.clear();
    for (const auto& device : client->getDevices())
        if (device.getDriverInterface() & INDI::BaseDevice::TELESCOPE_INTERFACE)
            devices.push_back(device.getDeviceName());
    ForgetDevices(*client);
    std::sort(devices.begin(), devices.end());
    return true;
}
