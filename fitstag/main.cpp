// fitstag: writes the header keywords veldra needs into a FITS file, from the
// command line and the camera-raw metadata text on standard input.
#include "fitstag/fitstag_run.h"

#include <iostream>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return RunFitstag(std::vector<std::string>(argv, argv + argc), std::cin, std::cout, std::cerr);
}
