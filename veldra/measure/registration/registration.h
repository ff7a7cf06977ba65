#pragma once
// One image registered against the reference: its stars, matched and fitted, and the
// sky under its centre through the reference's map.
#include "veldra/measure/registration/rigid_fit.h"
#include "veldra/measure/registration/star_extraction.h"
#include "veldra/measure/registration/tan_map.h"

#include <string>
#include <vector>

// The bounds of a registration that counts.
inline constexpr int kMinMatchedStars = 6;
inline constexpr double kMaxResidualPixels = 0.5;
inline constexpr double kMaxTurnDegrees = 10; // beyond: a flip, or another field

// The stars of the image file's primary HDU (hdrlib), or why there are none.
struct ImageStars {
    int width = 0;
    int height = 0;
    StarExtraction extraction; // its fault also tells why the pixels could not be read
};
// buffer holds the pixels while the stars are found; keep it from image to image: fresh
// memory costs a page fault per 4 KiB, half a second for a 6000 x 4000 frame here.
ImageStars StarsOfImage(const std::string& path, std::vector<float>& buffer);

struct Registration {
    std::string fault;   // why the image does not register; empty when it does
    int found = 0;       // stars found in the image
    int matched = 0;     // stars kept by the fit
    double residual = 0; // rms of the fit, pixels
    Rigid rigid;         // image pixels -> reference pixels
    double shiftX = 0;   // the image centre in the reference, from the reference's centre,
    double shiftY = 0;   // pixels
    SkyDegrees centre;   // the sky at the image's centre
};

// Registers the stars of a width x height image against the reference.
Registration Register(const RegistrationReference& reference, const ImageStars& image);

// The reference made of an image's stars and its map; invalid when it has fewer than
// kMinMatchedStars stars.
RegistrationReference MakeReference(const ImageStars& image, const TanMap& map);
// The sky at the centre of a width x height image through map.
SkyDegrees CentreOf(const TanMap& map, int width, int height);
