#pragma once
// The argument (or environment) vector the exec and spawn calls take.
#include <string>
#include <vector>

// Pointers into arguments (which must outlive the result and stay unchanged), ended by a
// null pointer.  The exec calls take char* for history's sake and never write through it.
std::vector<char*> ExecArguments(const std::vector<std::string>& arguments);
