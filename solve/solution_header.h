#pragma once
// Reading a solution's centre from a FITS header, through hdrlib.
#include "solve/solve_job.h"

#include <string>

// CRVAL1/CRVAL2 (degrees) in the primary header at path (a header-only solution such as
// solve-field's ".wcs", or an image), read as their full text rather than as
// single-precision numbers; a failed outcome says what is missing.
SolveOutcome ReadCentre(const std::string& path);
// The image's width and height in pixels; false when hdrlib cannot load it.
bool ReadImageSize(const std::string& path, int& width, int& height, std::string& error);
// The same from hdrlib's quick look, which leaves CFITSIO unloaded: the solver can start
// first and the full load overlap its run.
bool PeekImageSize(const std::string& path, int& width, int& height, std::string& error);
