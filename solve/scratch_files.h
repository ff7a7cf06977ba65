#pragma once
// The private scratch folder of one solve and the small text files in it.
#include <string>

// A new folder only we can use, below $TMPDIR (or /tmp); empty when none can be made.
std::string MakeScratchFolder();
// Removes the folder with everything in it.
void RemoveScratchFolder(const std::string& folder);
bool WriteTextFile(const std::string& path, const std::string& text);
// The file's text, at most its last 64 KiB; empty when it cannot be read.
std::string ReadTextFile(const std::string& path);
// The last count non-empty lines of a file, joined by " / ".
std::string LastLines(const std::string& path, int count);
