#pragma once
// The command line of fitstag: [-r RA_rad] [-d DEC_rad] <fits file>, or --help.
#include <optional>
#include <string>
#include <vector>

struct Options {
    bool usage = false; // print the usage and stop with a failure
    bool help = false;  // print the usage and stop with success
    bool hasRa = false;
    bool hasDec = false;
    double ra = 0;               // radians
    double dec = 0;              // radians
    std::string raText, decText; // the values as given, for messages
    std::string path;
    // Why an option was refused ("-r abc refused: not a number"); empty for usage errors
    // that refuse no value (a missing or extra file).
    std::string refusal;
};

// args without the program name.  Options are read from the first argument on;
// "-h" or "--help" there asks for help; an argument that is not exactly "-" and one
// letter ends them, a letter's value is the whole next argument, a missing value
// ends them too.  A letter other than r or d, a value that is no number, or not
// exactly one argument left, asks for the usage.
Options ParseOptions(const std::vector<std::string>& args);

// A decimal number, blanks around it allowed; empty for any other text (a number
// followed by other text too) and for numbers that are not finite.
std::optional<double> OptionNumber(const std::string& text);
