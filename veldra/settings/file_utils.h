#pragma once
// Path helpers.  Both "/" and "\" separate folders on every platform, so a
// Windows-style value such as "c:\Tools\PlateSolve2.exe" gives "PlateSolve2.exe".
#include <string>

// The text before the last separator; empty when there is none ("c:\a\b.exe" -> "c:\a").
std::string DirectoryOf(const std::string& path);
// The text after the last separator; the whole path when there is none.
std::string FileNameOf(const std::string& path);
// True when a file of that name exists and can be opened for reading.
bool FileExists(const std::string& path);
// Folder and name joined with the platform's separator, as they stand.
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder of the running executable (where "veldra.ini" and "debug.txt" live).
std::string ProgramFolder();
// Writes content to path atomically: a temporary file in the same folder, flushed to
// disk, then renamed over path.  False (and path untouched) on any failure.  Not durable:
// no flush to disk, only the rename - for a result another process reads at once and
// that a crash makes worthless anyway.
bool WriteFileAtomically(const std::string& path, const std::string& content, bool durable = true);
