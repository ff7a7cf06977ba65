#pragma once
// The activity log "debug.txt" in the program folder: one line per event, CR LF,
// opened, appended and closed per line so every line is on disk when the call returns.
#include <string>
#include <string_view>

// Appends text as one line.  A log that cannot be written drops the line silently:
// nothing else depends on the log.
void LogLine(const std::string& programFolder, const std::string& text);
// The current local date-time text followed directly by message.
std::string TimeStampedLine(std::string_view message);
// LogLine(programFolder, TimeStampedLine(message)).
void LogEvent(const std::string& programFolder, std::string_view message);
