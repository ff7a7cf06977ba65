#pragma once
// The reference image's map from pixels to the sky: from its WCS keywords, or from a
// plate solve's centre and orientation.
#include "hdrlib/hdrlib.h"
#include "veldra/state/registration_reference.h"

#include <optional>
#include <string>

struct SkyDegrees {
    double ra = 0; // 0 .. 360
    double dec = 0;
};

// The sky at FITS pixel (x, y), counted from 1.
SkyDegrees PixelToSky(const TanMap& map, double x, double y);

// The map from the loaded header: CRVAL1/2, CRPIX1/2 and CD1_1 .. CD2_2, or CDELT1/2
// with PC1_1 .. PC2_2 or CROTA2 (0 when missing).  A CTYPE1 or CTYPE2 that is present
// must name a TAN projection.  Empty, with why in missing, when the header has no such
// map or a singular one.
std::optional<TanMap> TanMapFromHeader(FitsInfo& info, std::string& missing);

// The map of a solved image whose centre pixel ((width + 1) / 2, (height + 1) / 2 in FITS
// pixels) lies at (ra, dec), with the CD matrix a solver reported.
TanMap TanMapAtCentre(double raDegrees, double decDegrees, int width, int height,
                      const double cd[2][2]);

// The orientation a solver writes on the second line of its ".apm" result, after the
// line "RA,DEC,FLAG": "CD1_1,CD1_2,CD2_1,CD2_2" in degrees per pixel, for the image's
// centre pixel.  Empty when the text has no such line or the matrix is singular.
std::optional<TanMap> OrientationFromApm(const std::string& text, double raRadians,
                                         double decRadians, int width, int height);
