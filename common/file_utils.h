#pragma once
// Path helpers.  Both "/" and "\" separate folders on every platform, so a
// Windows-style value such as "c:\Tools\PlateSolve2.exe" gives "PlateSolve2.exe".
#include <optional>
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

// Opens path (open(2) flags; O_NONBLOCK and O_CLOEXEC are added) without ever blocking,
// and only when it is a regular file: a FIFO, a device or a folder is refused, so a
// settings file or log that is one can never stop the program.  Returns the descriptor,
// or -1 with reason set ("it is a FIFO, not a regular file", or the system's text).
int OpenRegularFile(const std::string& path, int flags, std::string& reason);
// The whole content of a regular file of at most maxBytes; nothing (reason set) when it
// cannot be opened or read, is not a regular file, or is larger.
std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes,
                                           std::string& reason);
// Empty when path does not exist or is a regular file; otherwise why it is not one.
std::string NotARegularFile(const std::string& path);
