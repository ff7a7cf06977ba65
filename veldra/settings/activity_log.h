#pragma once
// The activity log "debug.txt" beside "veldra.ini": one line per event, CR LF, opened,
// appended and closed per line so every line is on disk when the call returns.
#include <functional>
#include <string>
#include <string_view>

// Appends text as one line to the log of programFolder (the folder of "veldra.ini").
// A line that cannot be written is dropped and reported (SetWriteFailureReporter):
// nothing else depends on the log.
void LogLine(const std::string& programFolder, const std::string& text);
// The current local date-time text followed directly by message.
std::string TimeStampedLine(std::string_view message);
// LogLine(programFolder, TimeStampedLine(message)).
void LogEvent(const std::string& programFolder, std::string_view message);

// The log of settingsFolder is kept in logFolder instead (an installed program: settings
// under $XDG_CONFIG_HOME, log under $XDG_STATE_HOME).  Set once at start, before the
// first line; an empty logFolder writes the log beside the settings again.
void SetLogFolder(const std::string& settingsFolder, const std::string& logFolder);
// The path of the log of settingsFolder.
std::string LogPath(const std::string& settingsFolder);

// Told, with a one-line text, whenever the log or the settings file cannot be written,
// so the failure is never silent (the main window shows it).  Called on the thread that
// wrote; empty: nobody is told.
void SetWriteFailureReporter(std::function<void(const std::string&)> reporter);
void ReportWriteFailure(const std::string& text);
