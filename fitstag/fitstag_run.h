#pragma once
// The whole run of fitstag: options, load, the position, the metadata lines, save.
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// args[0] is the program's name as invoked.  Returns the exit status: 0 after the
// save or the help, -1 after a usage error (the file untouched), a load failure or a
// failed write or save (the file as it was: the save writes all keywords or none).
int RunFitstag(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);
