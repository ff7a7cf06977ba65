#pragma once
// veldra-solve's command line: what veldra gives any solver,
//   RA,DEC,WIDTH,HEIGHT,999,IMAGE
// (radians, "." decimals; the image path is everything after the fifth comma), as one
// argument or split at blanks, plus options when run by hand.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SolveRequest {
    double ra = 0;     // start position, radians
    double dec = 0;    // radians
    double width = 0;  // field, radians
    double height = 0; // radians
    std::string imagePath;
};

// Nothing when the text is not six comma-separated fields with numbers in the first
// five, a finite position with |DEC| <= pi/2, a field larger than 0 and an image path.
std::optional<SolveRequest> ParseSolverText(std::string_view text);

struct CommandLine {
    std::optional<SolveRequest> request;
    std::vector<std::pair<std::string, std::string>> settings; // KEY, value from options
    std::string settingsPath;                                  // --config FILE
    bool help = false;
};

// Options start with "--", up to a "--" of its own; every other argument belongs to the
// solver text (a solver text in one argument never reads as an option): joined with
// blanks when the first holds the commas, or six separate fields (the path may be split
// at blanks).  By hand the start position and field may instead be given in degrees,
// the numbers a user has: --ra DEG --dec DEG --width DEG [--height DEG] IMAGE (the
// height defaults to the width).  Returns an error text, empty on success; request is set whenever
// the solver text could be read, even when an option is wrong.
std::string ParseCommandLine(const std::vector<std::string>& args, CommandLine& line);
