#pragma once
// The command line of fitstag: [-r RA_rad] [-d DEC_rad] <fits file>.
#include <string>
#include <vector>

struct Options {
    bool usage = false; // print the usage and stop
    bool hasRa = false;
    bool hasDec = false;
    double ra = 0;  // radians
    double dec = 0; // radians
    std::string path;
};

// args without the program name.  Options are read from the first argument on;
// an argument that is not exactly "-" and one letter ends them, a letter's value is
// the whole next argument, a missing value ends them too.  A letter other than r or
// d, or not exactly one argument left, asks for the usage.
Options ParseOptions(const std::vector<std::string>& args);

// A decimal number as C's atof reads it (leading blanks, the longest number at
// the start); 0 for text that is no finite number.
double OptionNumber(const std::string& text);
