#pragma once
// The stars of one image, found with SEP (Source Extractor as a C library): the sky
// background and its noise, the objects above it, and windowed centroids.
#include "veldra/state/registration_reference.h"

#include <string>
#include <vector>

struct StarExtraction {
    std::vector<StarPoint> stars; // brightest first, at most kMaxStars
    int found = 0;                // objects SEP found, before the checks below
    std::string fault;            // why the pixels are unusable; empty when they are not
};

// At most this many of the brightest stars are kept: plenty for the match and the fit.
inline constexpr int kMaxStars = 200;

// Finds the stars of a width x height image (first FITS row first).  The pixels are
// worked on in place (the background is subtracted).  Unusable pixel data (mostly NaN,
// flat, an empty image) give a fault and no stars; NaN pixels elsewhere are left out.
// Objects that are no stars are left out too: single hot pixels, trails and other long
// shapes, and objects cut by the image's edge.
StarExtraction ExtractStars(std::vector<float>& pixels, int width, int height);
