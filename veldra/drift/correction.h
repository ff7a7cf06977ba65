#pragma once
// The shift rates the guider applies after each image: filtered or raw drift, look-ahead,
// bias, rounding, and the rate limit that stops monitoring.
#include "veldra/settings/settings.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/monitor_record.h"
#include "veldra/state/platform.h"

#include <string>

// Largest correction (arcsec/hour, either axis) that is sent; larger stops monitoring.
inline constexpr double kRateLimit = 1000;

// Computes currentRaCorrection/currentDecCorrection of drift from the two drift rates and
// its filters (already stepped for the newest image), logging every stage.  True when the
// correction passed the rate limit (the caller sends and stores it); false when the rate
// limit stopped monitoring.  A non-finite value throws DriftArithmeticError before it is
// rounded, leaving the current corrections untouched.
bool ComputeCorrection(DriftHistory& drift, MonitorRecord& monitor, const Settings& settings,
                       const std::string& programFolder, const Platform& platform, double raDrift,
                       double decDrift);

// The stop at the rate limit: log, Timer1 off, monitorState Stopped, "MG_RemoteUnShift",
// then the modal message box (blocks until OK).
void StopAtRateLimit(MonitorRecord& monitor, const std::string& programFolder,
                     const Platform& platform);

// The main window's values, meaningful when historyCount is 2 or more (0 before).
// Position change between the two newest images in arcseconds on the sky, less the
// motion the present bias accounts for over the interval.
double LastRaError(const DriftHistory& drift, const Settings& settings);
double LastDecError(const DriftHistory& drift, const Settings& settings);
// The shift rates in force at the guider, arcsec/hour.
double RaRate(const DriftHistory& drift);
double DecRate(const DriftHistory& drift);
