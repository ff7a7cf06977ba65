#pragma once
// One solve: what the engines get and what they give back.
#include "solve/solve_request.h"
#include "solve/solve_settings.h"

#include <chrono>
#include <functional>
#include <string>

struct SolveJob {
    SolveRequest request;
    SolveSettings settings;
    int imageWidth = 0; // pixels, from the image header
    int imageHeight = 0;
    std::string scratch; // private folder, removed after the solve
    std::chrono::steady_clock::time_point deadline;
    // Work of our own that overlaps the engine's run (it has a core of its own then).
    std::function<void()> whileEngineRuns;
};

struct SolveOutcome {
    bool solved = false;
    double ra = 0;      // radians, 0 .. 2 pi
    double dec = 0;     // radians
    std::string reason; // why not, for the log; empty when solved
    // The solution's CD matrix (degrees per pixel) at the centre pixel, when the engine
    // reports one: for veldra's registration reference.
    bool oriented = false;
    double cd[2][2] = {{0, 0}, {0, 0}};
};

// Seconds left until the job's deadline (0 when it has passed).
double SecondsLeft(const SolveJob& job);
// The reason given when the solver was still running at the deadline.
std::string TimeLimitReason(const SolveJob& job);
// Degrees from radians and back, with veldra's pi, so a centre read from a header
// turns into the same radians as veldra's own reading of CRVAL1/CRVAL2.
double Degrees(double radians);
double Radians(double degrees);
// A solved outcome from a centre in degrees, or not solved with the reason when the
// centre is no sky position (not finite, RA outside [0, 360), DEC beyond +-90).
SolveOutcome SolvedAt(double raDegrees, double decDegrees);
// The factor the image is shrunk by before its stars are found: DOWNSAMPLE, or by size,
// one per kDownsampleSide pixels of the longer side (rounded), so the image the engine
// searches is at most about 1.5 x kDownsampleSide pixels long.
int DownsampleFor(const SolveJob& job);
inline constexpr int kDownsampleSide = 1200;
// Larger images are refused before a solver starts: their pixels alone would take
// gigabytes of the solver's memory, downsampled or not.
inline constexpr int kLargestImageSide = 100000;
// The image path as an engine's argument: absolute, or "./" in front, so that no file
// name ("-x.fit", "--help.fit") can read as an option.
std::string EngineImagePath(const std::string& path);
