#pragma once
// The reference image of the registration method: its stars and the map from its
// pixels to the sky.  Plain records only; measure/registration fills and reads them.
#include <vector>

// A star's centre in pixels counted from 0 (the middle of the first pixel of the first
// FITS row is 0, 0), its flux in the image's own units above the background, and how
// well the centre is known (1 sigma per axis, pixels; 0 when unknown: all count alike).
struct StarPoint {
    double x = 0;
    double y = 0;
    double flux = 0;
    double error = 0;
};

// A gnomonic (TAN) world-coordinate map as FITS keywords give it: FITS pixel p (counted
// from 1) lies at the intermediate coordinates cd * (p - crpix) in degrees, projected
// about crval.
struct TanMap {
    double crval1 = 0; // RA of the reference point, degrees
    double crval2 = 0; // DEC, degrees
    double crpix1 = 0; // FITS pixel of the reference point
    double crpix2 = 0;
    double cd[2][2] = {{0, 0}, {0, 0}}; // degrees per pixel
};

struct RegistrationReference {
    bool valid = false; // false: the next image becomes the reference
    int width = 0;      // of the reference image, pixels
    int height = 0;
    std::vector<StarPoint> stars; // brightest first
    TanMap map;
};

// What the registration method keeps from image to image.
struct RegistrationMemory {
    RegistrationReference reference;
    std::vector<float> pixels; // working memory for an image's pixels
};
