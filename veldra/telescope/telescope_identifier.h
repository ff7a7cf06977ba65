#pragma once
// The telescope setting ASCOM_DRIVER_NAME names an INDI device: "DEVICE" or
// "DEVICE@HOST:PORT" (also "DEVICE@HOST"), for example "Telescope Simulator@localhost:7624".
#include <string>

inline constexpr const char* kDefaultIndiHost = "localhost";
inline constexpr int kDefaultIndiPort = 7624;

struct DeviceIdentifier {
    std::string device;
    std::string host = kDefaultIndiHost;
    int port = kDefaultIndiPort;
};

// False for an empty device name, an empty host or a port that is not 1..65535.  The
// last "@" separates the server, the last ":" after it the port; device names keep
// their blanks.
bool ParseDeviceIdentifier(const std::string& text, DeviceIdentifier& identifier);
// Always the full form "DEVICE@HOST:PORT".
std::string DeviceIdentifierText(const DeviceIdentifier& identifier);
