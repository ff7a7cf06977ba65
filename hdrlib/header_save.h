#pragma once
// Writes a changed header back to its file: either the whole header reaches the
// file, or the file stays as it was.
#include <string>

// A header of the old size goes over the old one: one write into bytes the file
// already holds (no new space needed, so a full disk cannot stop it), undone when it
// fails part-way.  Not flushed: the caller checks the close, and the time stays
// independent of the size of the data (a flush would write out a fresh copy's data).
// fd is open for reading and writing.
bool WriteHeaderInPlace(int fd, long long headStart, const std::string& header,
                        const std::string& original);

// A header with more blocks: the file (open as fd, named by path) is written anew
// beside itself as ".hdrlib-PID-XXXXXX" (the bytes before headStart, the header, everything from
// dataStart on), flushed, and renamed over itself only when complete.  A link is followed: the file
// it names is replaced.  False, and the file untouched, on any failure. The temporary files that
// grows in the folder of path left behind when their writer ended before the rename
// (".hdrlib-PID-XXXXXX" of a process that is gone): removed.
void RemoveLeftovers(const std::string& path);

bool ReplaceHeader(int fd, const std::string& path, long long headStart, long long dataStart,
                   const std::string& header);
