#pragma once
// Writes one simulated frame: a small blank 16-bit image whose header carries what
// veldra reads.  The frame is completed under a hidden temporary name and renamed into
// place, so the watched folder never holds a half-written frame.
#include <string>

struct FrameHeader {
    std::string dateObs;  // start of the exposure, "YYYY-MM-DDTHH:MM:SS"
    float exposure = 0;   // seconds
    double crval1 = 0;    // degrees
    double crval2 = 0;    // degrees
    std::string objctra;  // "HH MM SS"
    std::string objctdec; // "+DD MM SS"
    float focalLength = 0;
    float pixelSize = 0;
};

// Returns an error text, empty on success.
std::string WriteFrame(const std::string& folder, const std::string& name,
                       const FrameHeader& header);
