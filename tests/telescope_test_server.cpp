#include "tests/telescope_test_server.h"
#include "common/exec_arguments.h"

#include "veldra/telescope/telescope_driver.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Accepts(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return ok;
}
} // namespace

int FreePort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

IndiServer::IndiServer(const std::vector<std::string>& drivers) : port(FreePort()) {
    std::vector<std::string> arguments = {"indiserver", "-p", std::to_string(port), "-u",
                                          dir.file("socket")};
    arguments.insert(arguments.end(), drivers.begin(), drivers.end());
    const std::vector<char*> argv = ExecArguments(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = dir.file("server.log");
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // A private HOME: the drivers keep their configuration and park data under ~/.indi.
    std::vector<std::string> environment = {"HOME=" + dir.path};
    for (char** variable = environ; *variable != nullptr; ++variable)
        if (std::string_view(*variable).substr(0, 5) != "HOME=")
            environment.emplace_back(*variable);
    const std::vector<char*> envp = ExecArguments(environment);
    if (posix_spawnp(&pid, "indiserver", &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 200 && pid > 0 && !Accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

IndiServer::~IndiServer() {
    Stop();
}

void IndiServer::Stop() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

std::string IndiServer::Identifier(const std::string& device) const {
    return device + "@localhost:" + std::to_string(port);
}

bool DeviceAnnounced(const IndiServer& server, const std::string& device) {
    for (int i = 0; i < 5; ++i) {
        TelescopeDriver driver;
        if (CreateTelescopeDriver(server.Identifier(device), driver))
            return true;
    }
    return false;
}
