#pragma once
// Why veldra-solve did not solve an image: the reason it wrote into veldra-solve.log in
// veldra's log folder, so the notice of a failed solve can say it.
#include <string>

// The environment variable that tells veldra-solve where veldra keeps its log.
inline constexpr const char* kSolverLogDirVariable = "VELDRA_LOG_DIR";

// The reason of the last line of logFolder/veldra-solve.log when that line reports
// imagePath as not solved; empty otherwise (another solver, no log, an older line).
std::string SolverFailureReason(const std::string& logFolder, const std::string& imagePath);
