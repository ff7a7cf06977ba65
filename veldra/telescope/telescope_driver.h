#pragma once
// The telescope driver: an INDI device reached through an INDI server (the stand-in for
// the ASCOM driver object with its members Connected, RightAscension and Declination).
//
// Blocking: every call talks to the server on the calling thread and waits at most
// kTelescopeAnswerTime (listing: kTelescopeListTime), so a dead or silent server costs
// a bounded wait; every wait also ends within moments once the end of veldra is asked
// for (end_request.h), and then every call fails at once.  Each member access is one short
// conversation with the server (connect, ask for that one property, take its answer, disconnect): a
// value is never stale, and a server that went away shows at the next access.  No libindi type
// appears here.
#include "veldra/telescope/telescope_identifier.h"

#include <chrono>
#include <string>
#include <vector>

inline constexpr std::chrono::milliseconds kTelescopeAnswerTime{3000};
inline constexpr std::chrono::milliseconds kTelescopeListTime{1000};
// Connecting and the mount's first position report after it, together.
inline constexpr std::chrono::milliseconds kTelescopeFirstPositionTime{5000};

// A created driver: the device it stands for.  Plain data; nothing is held open.
struct TelescopeDriver {
    DeviceIdentifier identifier;
    bool created = false;
};

// Creates the driver for an identifier text ("DEVICE[@HOST:PORT]").  False when the text
// is not an identifier, the server cannot be reached, or it does not announce the device
// within kTelescopeAnswerTime.
bool CreateTelescopeDriver(const std::string& identifierText, TelescopeDriver& driver);
// Connected: the CONNECT element of the device's CONNECTION switch.  False when it
// cannot be read.
bool ReadConnected(const TelescopeDriver& driver, bool& connected);
// Connects the device (CONNECTION to CONNECT) and waits for its first update of
// EQUATORIAL_EOD_COORD after the connection, at most kTelescopeFirstPositionTime: until
// then a device may report a placeholder (the simulator reports 0, 0).
enum class ConnectOutcome { NotConnected, ConnectedWithoutPosition, ConnectedWithPosition };
ConnectOutcome ConnectAwaitingPosition(const TelescopeDriver& driver);
// RightAscension in decimal hours and Declination in decimal degrees, from the device's
// EQUATORIAL_EOD_COORD (RA, DEC), which exists only while the device is connected.
// False when it cannot be read or is not a finite number.
bool ReadRightAscension(const TelescopeDriver& driver, double& hours);
bool ReadDeclination(const TelescopeDriver& driver, double& degrees);
// Ends the use of the driver; safe to call on any driver, created or not.
void ReleaseTelescopeDriver(TelescopeDriver& driver);

// The names of the telescope devices (bit 0 of DRIVER_INFO/DRIVER_INTERFACE) that the
// server at host:port announces within kTelescopeListTime, sorted.  False when the
// server cannot be reached.
bool ListTelescopeDevices(const std::string& host, int port, std::vector<std::string>& devices);
