#pragma once
// Writes one simulated frame: a small blank 16-bit image (or a star field) whose header
// carries what veldra reads.  The frame is completed under a hidden temporary name and renamed into
// place, so the watched folder never holds a half-written frame.
#include <cstdint>
#include <string>
#include <vector>

struct FrameHeader {
    std::string dateObs;  // start of the exposure, "YYYY-MM-DDTHH:MM:SS"
    float exposure = 0;   // seconds
    double crval1 = 0;    // degrees
    double crval2 = 0;    // degrees
    std::string objctra;  // "HH MM SS"
    std::string objctdec; // "+DD MM SS"
    float focalLength = 0;
    float pixelSize = 0;
    bool wcs = true;     // CRVAL1/CRVAL2 present: a frame that was solved already
    bool tanMap = false; // with wcs: also CTYPE1/2, CRPIX1/2 and CD1_1 .. CD2_2
    double crpix[2] = {0, 0};
    double cd[2][2] = {{0, 0}, {0, 0}}; // degrees per pixel
    bool telescope = false;             // RA, DEC, EXPTIME, YPIXSZ, as capture programs add them
    double telescopeRa = 0;             // degrees
    double telescopeDec = 0;            // degrees
};

// The image itself: a star field, row 0 first.
struct FramePixels {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> values;
};

// Returns an error text, empty on success.
// pixels null: a 64 x 64 blank image.
std::string WriteFrame(const std::string& folder, const std::string& name,
                       const FrameHeader& header, const FramePixels* pixels = nullptr);
