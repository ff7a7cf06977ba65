#pragma once
// The telescope link: the solver's start position from the mount, and taking a driver
// chosen by the user into the settings.  Widget-free; messages go through messageBox
// (modal, OK button, returns when closed).  Each call blocks on the telescope driver's
// bounded waits (telescope_driver.h): a few seconds per step at most.
#include "veldra/settings/settings.h"
#include "veldra/state/telescope_reading.h"

#include <functional>
#include <string>

// Reads the mount's position through ASCOM_DRIVER_NAME, connecting the device first
// when needed.  RA and DEC in radians.  Logs to programFolder's activity log.
TelescopeReading
StartPositionFromTelescope(const Settings& settings, const std::string& programFolder,
                           const std::function<void(const std::string&)>& messageBox);

// ChooseTelescopeDriver after the chooser: an empty choice changes nothing; a driver
// that cannot be created leaves the setting unchanged; otherwise the choice becomes
// ASCOM_DRIVER_NAME, the settings are saved, and the device is connected when needed.
void ApplyChosenTelescopeDriver(Settings& settings, const std::string& programFolder,
                                const std::string& chosen,
                                const std::function<void(const std::string&)>& messageBox);
