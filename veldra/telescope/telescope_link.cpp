#include "veldra/telescope/telescope_link.h"

#include "common/numbers.h"
#include "veldra/settings/activity_log.h"
#include "veldra/telescope/telescope_driver.h"

namespace {

// Connected, connecting when it reads False or cannot be read.  A device veldra
// connects itself has a position only once it has reported one after the connection.
ConnectOutcome ConnectWhenNeeded(const TelescopeDriver& driver) {
    bool connected = false;
    if (ReadConnected(driver, connected) && connected)
        return ConnectOutcome::ConnectedWithPosition;
    return ConnectAwaitingPosition(driver);
}
} // namespace

TelescopeReading
StartPositionFromTelescope(const Settings& settings, const std::string& programFolder,
                           const std::function<void(const std::string&)>& messageBox) {
    TelescopeReading reading; // Failed, 0, 0
    if (settings.ASCOM_DRIVER_NAME.empty()) {
        messageBox("Error: ASCOM driver is not set");
        LogEvent(programFolder, " :    ASCOM driver is not set");
        return reading;
    }
    TelescopeDriver driver;
    if (!CreateTelescopeDriver(settings.ASCOM_DRIVER_NAME, driver)) {
        messageBox("Error: unable to attach to ascom driver!");
        reading.outcome = TelescopeReading::Outcome::NoDriverObject;
        return reading;
    }
    const ConnectOutcome connection = ConnectWhenNeeded(driver);
    if (connection == ConnectOutcome::NotConnected) {
        messageBox("Error: unable to connect to ascom driver");
        LogEvent(programFolder, " :    unable to connect to ascom driver");
        ReleaseTelescopeDriver(driver);
        return reading;
    }
    double hours = 0;
    double degrees = 0;
    if (connection == ConnectOutcome::ConnectedWithoutPosition ||
        !ReadRightAscension(driver, hours) || !ReadDeclination(driver, degrees)) {
        messageBox("Error: unable to retrieve telescope position via ASCOM");
        LogEvent(programFolder, " :    unable to retrieve telescope position via ASCOM");
        ReleaseTelescopeDriver(driver);
        return reading;
    }
    ReleaseTelescopeDriver(driver);
    reading.outcome = TelescopeReading::Outcome::Position;
    reading.ra = hours / 24 * 2 * kPi;
    reading.dec = degrees / 360 * 2 * kPi;
    return reading;
}

void ApplyChosenTelescopeDriver(Settings& settings, const std::string& programFolder,
                                const std::string& chosen,
                                const std::function<void(const std::string&)>& messageBox) {
    if (chosen.empty())
        return;
    TelescopeDriver driver;
    if (!CreateTelescopeDriver(chosen, driver)) {
        messageBox("Error: unable to attach to ascom driver!");
        return;
    }
    settings.ASCOM_DRIVER_NAME = chosen;
    SaveSettings(settings, programFolder);
    const bool connected = ConnectWhenNeeded(driver) != ConnectOutcome::NotConnected;
    ReleaseTelescopeDriver(driver);
    if (!connected)
        messageBox("Warning: unable to connect to ascom driver");
}
