#pragma once
// "veldra-solve --check SCALE[,WIDTH,HEIGHT]": can this machine solve images of SCALE
// arcseconds per pixel (WIDTH x HEIGHT pixels when known)?  veldra asks it at Start, so
// a night without index files is told so before the first image, not at every image.
// Prints one line; exit status 0 ready, 1 not ready, 2 bad command line.
#include "solve/solve_settings.h"

#include <optional>
#include <string>
#include <vector>

struct ReadinessQuestion {
    double scale = 0; // arcseconds per pixel
    int width = 0;    // pixels; 0 = unknown
    int height = 0;
};

// "SCALE" or "SCALE,WIDTH,HEIGHT" ("." decimals); nothing when not of that form or the
// scale is not above 0.
std::optional<ReadinessQuestion> ParseReadinessQuestion(const std::string& text);

// The quad sizes an index file covers, in arcseconds, from its header (SCALE_L, SCALE_U,
// radians)
// or, for the packaged files, its name (index-4107.fits: quads of 2' x sqrt(2)^7 and up).
struct IndexScales {
    double low = 0;
    double high = 0;
};
std::optional<IndexScales> IndexScalesOf(const std::string& path);

// The answer: empty when ready, else the one-line reason with what to install.
std::string ReadinessProblem(const SolveSettings& settings, const ReadinessQuestion& question);

// The whole --check run over veldra-solve's arguments (without the program name):
// settings as for a solve, then the answer on standard output.  Returns the exit status.
int RunReadinessCheck(const std::vector<std::string>& args, const std::string& programFolder);
