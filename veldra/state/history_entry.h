#pragma once
#include "veldra/state/dither_track.h"

#include <optional>
#include <string>

// One located image of the measurement history.
struct HistoryEntry {
    std::string fileName;     // image file name without its folder
    double time = 0;          // middle of the exposure, fractional days (local)
    double ra = 0;            // radians, 0..2 pi
    double dec = 0;           // radians, signed
    double raCorrection = 0;  // arcsec/hour in force after this image (bias in, rounded)
    double decCorrection = 0; // arcsec/hour
    double exposure = 0;      // seconds
    double raBias = 0;        // arcsec/hour in force when the image was processed
    double decBias = 0;       // arcsec/hour
    // With dither awareness: the guider's dither offset during the exposure.
    std::optional<DitherInForce> dither;
};
