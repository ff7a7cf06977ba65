#pragma once
// The measurement history and the drift rates derived from its two newest entries.
#include "common/numbers.h"
#include "veldra/drift/drift_error.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/history_entry.h"
#include "veldra/state/main_state.h"
#include "veldra/state/platform.h"

#include <cstdint>
#include <optional>
#include <string>

// historyCount is 16-bit: an image arriving at this count starts a new history.
inline constexpr int16_t kHistoryLimit = 32767;

struct DriftRates {
    double ra = 0;  // arcsec/hour on the sky
    double dec = 0; // arcsec/hour
};

// The rate the guider would have had to apply to hold the image still between previous
// and newest: the measured motion (cancelling sign, RA scaled by cos of the newest DEC)
// plus the corrections in force, each weighted by the part of the interval it applied.
// current*: the corrections sent after the previous image; preceding*: the ones before.
// Evaluated in a fixed order; equal times give non-finite results (the caller checks).
DriftRates ComputeDriftRates(const HistoryEntry& newest, const HistoryEntry& previous,
                             double currentRaCorrection, double currentDecCorrection,
                             double precedingRaCorrection, double precedingDecCorrection);

// Appends one located image and, from the second image of a history on, steps the
// filters, computes the correction and sends it (or stops at the rate limit).  The file
// name is taken from path; time in local fractional days, ra/dec in radians, exposure in
// seconds.  Equal image times or any non-finite value throw DriftArithmeticError after a
// log line and before anything is rounded, stored or sent; the image then adds nothing
// (counts, indices and filters are as before the call).
// dither: with dither awareness, the guider's dither offset during the exposure.  The
// drift of a pair is then computed with the dithers between its images taken out (see
// dither_pair.h), and an image that a dither disturbed gives no rate.
void AppendMeasurement(MainState& state, const Platform& platform, const std::string& path,
                       double time, double ra, double dec, float exposure,
                       const std::optional<DitherInForce>& dither = std::nullopt);

// "Clear History": the next image becomes image 1 at index 0.  Filters and the
// corrections in force stay as they are.
void ClearHistory(DriftHistory& drift, const std::string& programFolder, const Platform& platform);
