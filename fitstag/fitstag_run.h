#pragma once
// The whole run of fitstag: options, load, the position, the metadata lines, save.
#include <istream>
#include <ostream>
#include <string>
#include <vector>

// args[0] is the program's name as invoked.  Returns the exit status: 0 after the
// save, -1 after a usage error, a load failure or a failed write or save.
int RunFitstag(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);
