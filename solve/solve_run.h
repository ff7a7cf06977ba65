#pragma once
// One run of veldra-solve from the parsed request to the result veldra reads.
#include "solve/solve_job.h"

#include <string>

// Reads the image size, makes the private scratch folder, runs the chosen engine within
// settings.timeLimit seconds of wall clock, and removes the folder again.  Every solver
// process has ended when it returns.
SolveOutcome RunSolve(const SolveRequest& request, const SolveSettings& settings);

// The result file veldra reads: the image path with its extension replaced by ".apm".
std::string ResultFileName(const std::string& imagePath);
// "RA,DEC,1" when solved, "RA,DEC,0" with the start position otherwise; radians with "."
// and 15 significant digits.  A solution with an orientation adds a second line
// "CD1_1,CD1_2,CD2_1,CD2_2" (degrees per pixel at the image's centre pixel).
std::string ApmText(const SolveRequest& request, const SolveOutcome& outcome);
// The line appended to veldra-solve.log.
std::string LogText(const SolveRequest& request, const SolveOutcome& outcome, double seconds);
// Appends one line, time-stamped, to veldra-solve.log in settings.logDir or beside the
// image.  False when it cannot.
bool AppendLog(const SolveRequest& request, const SolveSettings& settings, const std::string& text);
