#include "solve/solve_job.h"

#include "common/numbers.h"

#include <algorithm>
#include <cmath>

double SecondsLeft(const SolveJob& job) {
    const std::chrono::duration<double> left = job.deadline - std::chrono::steady_clock::now();
    return std::max(0.0, left.count());
}

std::string TimeLimitReason(const SolveJob& job) {
    return "no solution within the time limit of " + PlainNumberText(job.settings.timeLimit) +
           " seconds (TIME_LIMIT)";
}

double Degrees(double radians) {
    return radians / (2 * kPi) * 360;
}

double Radians(double degrees) {
    return degrees / 360 * 2 * kPi;
}

SolveOutcome SolvedAt(double raDegrees, double decDegrees) {
    // Written so that NaN fails too.
    if (!(raDegrees >= 0 && raDegrees < 360 && std::fabs(decDegrees) <= 90))
        return {false, 0, 0,
                "the solution's centre is no sky position (CRVAL1 " + PlainNumberText(raDegrees) +
                    ", CRVAL2 " + PlainNumberText(decDegrees) + ")"};
    return {true, Radians(raDegrees), Radians(decDegrees), {}};
}

int DownsampleFor(const SolveJob& job) {
    if (job.settings.downsample > 0)
        return job.settings.downsample;
    // About 1200 pixels on the longer side find enough stars; larger grids only cost time
    // and memory.
    const int longer = std::max(job.imageWidth, job.imageHeight);
    return std::max(1, static_cast<int>(std::lround(longer / double(kDownsampleSide))));
}

std::string EngineImagePath(const std::string& path) {
    return !path.empty() && path.front() == '/' ? path : "./" + path;
}
