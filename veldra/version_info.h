#pragma once
#include <string>

// The program's version as "major.minor.revision", e.g. "1.0.0".
std::string VersionText();
