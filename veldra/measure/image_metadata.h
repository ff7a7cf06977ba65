#pragma once
// The values one image run needs besides the solver: start position, image time,
// exposure, image scale and field, or the position from the WCS keywords.  Each
// operation logs its own lines; a failure is one log line plus one timed error, and the
// caller takes the release exit (before the load: the end exit).  fits: the loaded header
// of the image (the caller's, for this one image).
#include "hdrlib/hdrlib.h"
#include "veldra/measure/sky_text.h"
#include "veldra/settings/settings.h"
#include "veldra/state/platform.h"

#include <string>

// The image time before the exposure is accounted for.
struct BaseTime {
    double days = 0;       // fractional days, local, no time-zone conversion
    bool fromFile = false; // the file time marks the exposure's end, DATE-OBS its start
};

// Image scale and the field the solver searches.
struct SolverField {
    double scale = 0;  // arcseconds per pixel
    double width = 0;  // radians
    double height = 0; // radians
};

// RA_POS and DEC_POS.  Fails (with log line and timed error) when either is not three
// whole-number fields.
bool StartPositionFromSettings(const Settings& settings, const std::string& programFolder,
                               const Platform& platform, SkyPosition& position);
// The file time under the solver method with OVERRIDE_TIMESTAMP, else "DATE-OBS".
bool ReadImageTime(FitsInfo& fits, const Settings& settings, const std::string& programFolder,
                   const Platform& platform, double fileTime, BaseTime& base);
// EXPOSURE under the solver method with OVERRIDE_EXPOSURE, else "EXPOSURE" or "EXPTIME".
bool ReadExposure(FitsInfo& fits, const Settings& settings, const std::string& programFolder,
                  const Platform& platform, float& exposure);
// The middle of the exposure; logs the exposure and the resulting time.
double FinishImageTime(const std::string& programFolder, const BaseTime& base, float exposure);
// "OBJCTRA" and "OBJCTDEC".
bool StartPositionFromHeader(FitsInfo& fits, const std::string& programFolder,
                             const Platform& platform, SkyPosition& position);
// IMAGE_SCALE, or the scale from "FOCALLEN" and "XPIXSZ" (rounded to three decimals,
// stored in the settings and saved); the field from the loaded image's size.
bool ImageScaleAndField(FitsInfo& fits, Settings& settings, const std::string& programFolder,
                        const Platform& platform, SolverField& field);
// "CRVAL1" and "CRVAL2" in degrees: the measurement of the WCS method.
bool PositionFromWcs(FitsInfo& fits, const std::string& programFolder, const Platform& platform,
                     SkyPosition& position);
