#pragma once
// The astrometry.net engine: solve-field with the start position as a hint, the scale
// from the field and the image width, the centre pixel as reference point, and none of
// the outputs veldra does not need.
#include "solve/solve_job.h"

#include <string>
#include <vector>

// Empty when the index folder holds at least one "*.fits" file; otherwise what is wrong
// and how to put it right.
std::string CheckIndexFolder(const std::string& folder);
// solve-field's arguments (program first); configPath names the private config file.
std::vector<std::string> SolveFieldArguments(const SolveJob& job, const std::string& configPath);
// The reason solve-field gives in its output for a run without a solution.
std::string SolveFieldReason(const std::string& output, int exitCode);
// Runs solve-field in job.scratch until it ends or the deadline passes.
SolveOutcome SolveWithAstrometry(const SolveJob& job);
