#pragma once
// The shift rates the guider applies after each image: filtered or raw drift, look-ahead,
// bias, rounding, and the rate limit that stops monitoring.
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

// Largest correction (arcsec/hour, either axis) that is sent; larger stops monitoring.
inline constexpr double kRateLimit = 1000;

// Computes currentRaCorrection/currentDecCorrection from the two drift rates and the
// filters (already stepped for the newest image), logging every stage.  True when the
// correction passed the rate limit (the caller sends and stores it); false when the rate
// limit stopped monitoring.  A non-finite value throws DriftArithmeticError before it is
// rounded, leaving the current corrections untouched.
bool ComputeCorrection(MainState& state, const Platform& platform, double raDrift, double decDrift);

// The stop at the rate limit: log, Timer1 off, monitorState Stopped, "MG_RemoteUnShift",
// then the modal message box (blocks until OK).
void StopAtRateLimit(MainState& state, const Platform& platform);

// The main window's values, meaningful when historyCount is 2 or more (0 before).
// Position change between the two newest images in arcseconds on the sky, less the
// motion the present bias accounts for over the interval.
double LastRaError(const MainState& state);
double LastDecError(const MainState& state);
// The shift rates in force at the guider, arcsec/hour.
double RaRate(const MainState& state);
double DecRate(const MainState& state);
