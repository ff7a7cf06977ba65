#pragma once
// Real star fields for the simulated camera: a small synthetic catalogue around the
// target, and frames that show it through a TAN projection at the simulated pointing.
// Standard C++ only, so tests and benchmarks can render frames without a bus.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct CatalogueStar {
    double ra = 0;  // degrees
    double dec = 0; // degrees
    float mag = 0;
};

// Stars spread evenly over the cap of capRadius degrees around (ra, dec), about
// density stars per square degree brighter than magnitude 14, more of the faint ones
// (as on the sky).  The same arguments give the same catalogue.
std::vector<CatalogueStar> MakeCatalogue(double ra, double dec, double capRadius, double density,
                                         unsigned seed);

struct StarCamera {
    int width = 1024;
    int height = 768;
    double scale = 1.856;    // arcseconds per pixel
    double fwhm = 2.5;       // pixels, of the Gaussian star profile (integrated over each pixel)
    double background = 800; // sky level, ADU
    double readNoise = 6;    // ADU, 1 sigma
    bool noise = true;       // sky and star shot noise plus read noise
    double zeroPoint = 21.5; // a star of this magnitude gives 1 ADU in total
    // The camera turned on the sky: the field appears turned counter-clockwise by this
    // (degrees) about the centre pixel.
    double rotation = 0;
    int hotPixels = 0;         // stuck pixels at places of the camera's own (hotPixelSeed)
    unsigned hotPixelSeed = 7; // the same places in every frame of a camera
    bool trail = false;        // a satellite crosses the frame (from the frame's random)
};

// The TAN map of a frame RenderStars draws at (ra, dec): FITS keywords CRPIX1/2 (the
// centre pixel) and CD1_1, CD1_2, CD2_1, CD2_2 in degrees per pixel.
struct FrameWcs {
    double crpix1 = 0;
    double crpix2 = 0;
    double cd[2][2] = {{0, 0}, {0, 0}};
};
FrameWcs WcsOf(const StarCamera& camera);

// The catalogue a camera needs around (ra, dec): a cap wide enough for the frame and a
// generous drift of the pointing, about 200 stars per square degree.
std::vector<CatalogueStar> CatalogueFor(const StarCamera& camera, double ra, double dec,
                                        unsigned seed);

// A 16-bit frame (row 0 at the bottom, as FITS stores it) whose centre pixel looks at
// (ra, dec) degrees: north up, east to the left, unless the camera is turned.  Stars
// outside the frame are skipped.  Hot pixels saturate; a trail is a line of light across
// the whole frame.
std::vector<uint16_t> RenderStars(const std::vector<CatalogueStar>& catalogue,
                                  const StarCamera& camera, double ra, double dec,
                                  std::mt19937& random);

// The field of the camera, degrees: width and height.
double FieldWidth(const StarCamera& camera);
double FieldHeight(const StarCamera& camera);
