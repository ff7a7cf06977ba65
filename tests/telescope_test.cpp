// The telescope link against a real indiserver with the INDI telescope simulator, and
// against a small fake INDI server for the failures a simulator cannot show.
#include "common/file_utils.h"
#include "common/shell_sync.h"
#include "tests/telescope_test_server.h"
#include "tests/test_support.h"
#include "veldra/settings/settings.h"
#include "veldra/telescope/telescope_driver.h"
#include "veldra/telescope/telescope_link.h"

#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr double kPi = 3.14159265358979;
// The simulator keeps moving a little between two reads (tracking, rounding of a sync):
// 0.001 h is 3.6 s of RA, 0.001 degrees 3.6 arcseconds.
constexpr double kRaToleranceHours = 0.001;
constexpr double kDecToleranceDegrees = 0.001;
constexpr double kRaToleranceRad = kRaToleranceHours / 24 * 2 * kPi;
constexpr double kDecToleranceRad = kDecToleranceDegrees / 360 * 2 * kPi;

// "Device.Property.Element=value" lines of indi_getprop, by element.
std::map<std::string, double> SimulatorNumbers(int port, const std::string& property) {
    const std::string command = "indi_getprop -t 1 -p " + std::to_string(port) +
                                " 'Telescope Simulator." + property + ".*'";
    std::map<std::string, double> values;
    FILE* output = popen(command.c_str(), "r");
    char line[512];
    while (output != nullptr && std::fgets(line, sizeof line, output) != nullptr) {
        const std::string text(line);
        const size_t equals = text.find('=');
        const size_t dot = text.rfind('.', equals);
        if (equals == std::string::npos || dot == std::string::npos)
            continue;
        double value = 0;
        const char* end = text.data() + text.size();
        std::from_chars(text.data() + equals + 1, end, value);
        values[text.substr(dot + 1, equals - dot - 1)] = value;
    }
    if (output != nullptr)
        pclose(output);
    return values;
}

// Waits (at most 10 s) until the device reports DEC degrees.
bool SimulatorReaches(const TelescopeDriver& driver, double degrees) {
    for (int i = 0; i < 50; ++i) {
        double now = 0;
        if (ReadDeclination(driver, now) && std::abs(now - degrees) < kDecToleranceDegrees)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

struct Messages {
    std::vector<std::string> shown;
    std::function<void(const std::string&)> Box() {
        return [this](const std::string& text) { shown.push_back(text); };
    }
};

TEST(DeviceIdentifier, DeviceWithOptionalServer) {
    DeviceIdentifier identifier;
    ASSERT_TRUE(ParseDeviceIdentifier("Telescope Simulator", identifier));
    EXPECT_EQ(identifier.device, "Telescope Simulator");
    EXPECT_EQ(identifier.host, "localhost");
    EXPECT_EQ(identifier.port, 7624);
    ASSERT_TRUE(ParseDeviceIdentifier("EQMod Mount@observatory.local:7625", identifier));
    EXPECT_EQ(DeviceIdentifierText(identifier), "EQMod Mount@observatory.local:7625");
    ASSERT_TRUE(ParseDeviceIdentifier("a@b@host", identifier));
    EXPECT_EQ(DeviceIdentifierText(identifier), "a@b@host:7624");
    for (const char* bad : {"", "@host:1", "Mount@", "Mount@:7624", "Mount@host:", "Mount@host:0",
                            "Mount@host:65536", "Mount@host:12x"})
        EXPECT_FALSE(ParseDeviceIdentifier(bad, identifier)) << bad;
}

TEST(TelescopeLink, EmptyDriverNameIsReportedAndLogged) {
    TempDir folder;
    Settings settings;
    Messages messages;
    const auto reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    EXPECT_EQ(reading.outcome, TelescopeReading::Outcome::Failed);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Error: ASCOM driver is not set"});
    EXPECT_EQ(LogMessages(folder.path), std::vector<std::string>{" :    ASCOM driver is not set"});
}

TEST(TelescopeLink, NoServerOrNoSuchDeviceGoesOnFromZero) {
    IndiServer server({"indi_simulator_telescope"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    const int deadPort = FreePort();
    for (const std::string& name : {"Telescope Simulator@localhost:" + std::to_string(deadPort),
                                    server.Identifier("No Such Mount"), std::string("@:0")}) {
        TempDir folder;
        Settings settings;
        settings.ASCOM_DRIVER_NAME = name;
        Messages messages;
        const auto reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
        EXPECT_EQ(reading.outcome, TelescopeReading::Outcome::NoDriverObject) << name;
        EXPECT_EQ(reading.ra, 0);
        EXPECT_EQ(reading.dec, 0);
        EXPECT_EQ(messages.shown,
                  std::vector<std::string>{"Error: unable to attach to ascom driver!"});
        EXPECT_TRUE(LogMessages(folder.path).empty()) << name;
    }
}

TEST(TelescopeLink, ConnectsTheSimulatorAndReadsItsPosition) {
    IndiServer server({"indi_simulator_telescope"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    TelescopeDriver driver;
    ASSERT_TRUE(CreateTelescopeDriver(server.Identifier("Telescope Simulator"), driver));
    bool connected = true;
    ASSERT_TRUE(ReadConnected(driver, connected));
    EXPECT_FALSE(connected);
    double hours = 0;
    EXPECT_FALSE(ReadRightAscension(driver, hours)) << "no position before CONNECT";

    TempDir folder;
    Settings settings;
    settings.ASCOM_DRIVER_NAME = server.Identifier("Telescope Simulator");
    Messages messages;
    // Just after CONNECT the simulator reports 0, 0 until its first tick; the first reading
    // is the position it reported after that: the pole, DEC +90 degrees = pi / 2.
    auto reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    ASSERT_EQ(reading.outcome, TelescopeReading::Outcome::Position);
    EXPECT_NEAR(reading.dec, kPi / 2, kDecToleranceRad);
    ASSERT_TRUE(ReadConnected(driver, connected));
    EXPECT_TRUE(connected);
    reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    ASSERT_EQ(reading.outcome, TelescopeReading::Outcome::Position);
    auto simulator = SimulatorNumbers(server.port, "EQUATORIAL_EOD_COORD");
    EXPECT_NEAR(reading.dec, kPi / 2, kDecToleranceRad);
    EXPECT_NEAR(reading.ra, simulator["RA"] / 24 * 2 * kPi, kRaToleranceRad);

    // Put the mount at RA 5.5 h, DEC -5 degrees (a sync: there at once, where a goto
    // takes the simulator some 12 s).
    const std::string target = " -p " + std::to_string(server.port) + " \"Telescope Simulator.";
    ASSERT_EQ(ShellSync("indi_setprop -t 2" + target + "ON_COORD_SET.SYNC=On\"", 0), 0);
    ASSERT_EQ(ShellSync("indi_setprop -t 2" + target + "EQUATORIAL_EOD_COORD.RA;DEC=5.5;-5\"", 0),
              0);
    ASSERT_TRUE(SimulatorReaches(driver, -5));
    reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    ASSERT_EQ(reading.outcome, TelescopeReading::Outcome::Position);
    simulator = SimulatorNumbers(server.port, "EQUATORIAL_EOD_COORD");
    EXPECT_NEAR(reading.ra, simulator["RA"] / 24 * 2 * kPi, kRaToleranceRad);
    EXPECT_NEAR(reading.dec, simulator["DEC"] / 360 * 2 * kPi, kDecToleranceRad);
    // 5.5 / 24 * 2 * 3.14159265358979 and -5 / 360 * 2 * 3.14159265358979, by hand.
    EXPECT_NEAR(reading.ra, 1.43989663289532, kRaToleranceRad);
    EXPECT_NEAR(reading.dec, -0.0872664625997164, kDecToleranceRad);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(LogMessages(folder.path).empty());

    // The server dies after the driver was created: the next read fails, it does not
    // hand out a last value.
    server.Stop();
    EXPECT_FALSE(ReadRightAscension(driver, hours));
    EXPECT_FALSE(ReadConnected(driver, connected));
    ReleaseTelescopeDriver(driver);
}

TEST(TelescopeLink, ListsTelescopeDevicesOnly) {
    IndiServer server({"indi_simulator_telescope", "indi_simulator_focus"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    ASSERT_TRUE(DeviceAnnounced(server, "Focuser Simulator"));
    std::vector<std::string> devices;
    ASSERT_TRUE(ListTelescopeDevices("localhost", server.port, devices));
    EXPECT_EQ(devices, std::vector<std::string>{"Telescope Simulator"});
    EXPECT_FALSE(ListTelescopeDevices("localhost", FreePort(), devices));
}

TEST(TelescopeChooser, StoresAndConnectsTheChosenDevice) {
    IndiServer server({"indi_simulator_telescope"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    TempDir folder;
    Settings settings;
    settings.ASCOM_DRIVER_NAME = "Old Mount";
    Messages messages;

    ApplyChosenTelescopeDriver(settings, folder.path, "", messages.Box());
    ApplyChosenTelescopeDriver(settings, folder.path, server.Identifier("No Such Mount"),
                               messages.Box());
    EXPECT_EQ(settings.ASCOM_DRIVER_NAME, "Old Mount");
    EXPECT_FALSE(FileExists(folder.file("veldra.ini")));
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Error: unable to attach to ascom driver!"});

    messages.shown.clear();
    const std::string chosen = server.Identifier("Telescope Simulator");
    ApplyChosenTelescopeDriver(settings, folder.path, chosen, messages.Box());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(settings.ASCOM_DRIVER_NAME, chosen);
    EXPECT_NE(ReadFile(folder.file("veldra.ini")).find("ASCOM_DRIVER_NAME," + chosen + "\r\n"),
              std::string::npos);
    TelescopeDriver driver;
    bool connected = false;
    ASSERT_TRUE(CreateTelescopeDriver(chosen, driver));
    ASSERT_TRUE(ReadConnected(driver, connected));
    EXPECT_TRUE(connected);
}

// A fake INDI server for one device "Fake Mount" whose CONNECTION switch is fixed: it
// answers every getProperties with that switch, ignores new values, never defines a
// position, and stops listening after maxClients conversations (0: no limit).
struct FakeIndiServer {
    int port = 0;
    bool connectOn;
    int maxClients;
    std::atomic<bool> stop{false};
    std::atomic<int> clients{0};
    int listener = -1;
    std::thread thread;

    FakeIndiServer(bool connectOn_, int maxClients_)
        : connectOn(connectOn_), maxClients(maxClients_) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 4);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        thread = std::thread([this] { Serve(); });
    }
    ~FakeIndiServer() {
        stop = true;
        thread.join();
        if (listener >= 0)
            close(listener);
    }
    std::string Identifier() const { return "Fake Mount@localhost:" + std::to_string(port); }

    void Serve() {
        while (!stop) {
            pollfd waiting{listener, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0)
                continue;
            const int client = accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            const bool asked = Converse(client);
            close(client);
            // veldra probes the port before each conversation: only questions count.
            if (asked && ++clients == maxClients) {
                close(listener); // from now on: connection refused
                listener = -1;
                return;
            }
        }
    }
    // Reads until a getProperties came, answers, then reads until the client hangs up
    // (each wait bounded by 5 s).  True when a question was answered.
    bool Converse(int client) {
        std::string received;
        bool answered = false;
        char buffer[1024];
        pollfd waiting{client, POLLIN, 0};
        while (!stop && poll(&waiting, 1, 5000) > 0) {
            const ssize_t count = read(client, buffer, sizeof buffer);
            if (count <= 0)
                return answered;
            received.append(buffer, static_cast<size_t>(count));
            if (!answered && received.find("getProperties") != std::string::npos) {
                const std::string state = connectOn ? "On" : "Off";
                const std::string other = connectOn ? "Off" : "On";
                const std::string reply =
                    "<defSwitchVector device=\"Fake Mount\" name=\"CONNECTION\" "
                    "label=\"Connection\" "
                    "group=\"Main Control\" state=\"Idle\" perm=\"rw\" rule=\"OneOfMany\" "
                    "timeout=\"60\" timestamp=\"2026-01-01T00:00:00\">\n"
                    "<defSwitch name=\"CONNECT\" label=\"Connect\">" +
                    state +
                    "</defSwitch>\n"
                    "<defSwitch name=\"DISCONNECT\" label=\"Disconnect\">" +
                    other +
                    "</defSwitch>\n"
                    "</defSwitchVector>\n";
                if (write(client, reply.data(), reply.size()) < 0)
                    return answered;
                answered = true;
            }
        }
        return answered;
    }
};

TEST(TelescopeLink, ServerGoneBeforeThePositionIsRead) {
    // Create and the Connected read are the first two conversations; then the server is gone.
    FakeIndiServer server(true, 2);
    TempDir folder;
    Settings settings;
    settings.ASCOM_DRIVER_NAME = server.Identifier();
    Messages messages;
    const auto reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    EXPECT_EQ(reading.outcome, TelescopeReading::Outcome::Failed);
    EXPECT_EQ(messages.shown,
              std::vector<std::string>{"Error: unable to retrieve telescope position via ASCOM"});
    EXPECT_EQ(LogMessages(folder.path),
              std::vector<std::string>{" :    unable to retrieve telescope position via ASCOM"});
}

TEST(TelescopeLink, DeviceThatDoesNotConnect) {
    FakeIndiServer server(false, 0);
    TempDir folder;
    Settings settings;
    settings.ASCOM_DRIVER_NAME = server.Identifier();
    Messages messages;
    const auto reading = StartPositionFromTelescope(settings, folder.path, messages.Box());
    EXPECT_EQ(reading.outcome, TelescopeReading::Outcome::Failed);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"Error: unable to connect to ascom driver"});
    EXPECT_EQ(LogMessages(folder.path),
              std::vector<std::string>{" :    unable to connect to ascom driver"});

    // The chooser keeps such a driver, with a warning.
    messages.shown.clear();
    ApplyChosenTelescopeDriver(settings, folder.path, server.Identifier(), messages.Box());
    EXPECT_EQ(messages.shown,
              std::vector<std::string>{"Warning: unable to connect to ascom driver"});
    EXPECT_EQ(settings.ASCOM_DRIVER_NAME, server.Identifier());
    EXPECT_TRUE(FileExists(folder.file("veldra.ini")));
}
} // namespace
