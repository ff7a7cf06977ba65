#pragma once
// The ASTAP engine: astap_cli with the start position as a hint; its result is the
// "<out>.ini" text file (PLTSOLVD=T, CRVAL1, CRVAL2 in degrees, and the orientation:
// CD1_1 .. CD2_2, or CDELT1, CDELT2 and CROTA2).  ASTAP needs its own
// star database (installed separately).
#include "solve/solve_job.h"

#include <string>
#include <vector>

// astap_cli's arguments (program first); outputBase names its result files.
std::vector<std::string> AstapArguments(const SolveJob& job, const std::string& outputBase);
// The outcome written in an ASTAP ".ini" result text.
SolveOutcome ParseAstapResult(const std::string& text);
SolveOutcome SolveWithAstap(const SolveJob& job);
