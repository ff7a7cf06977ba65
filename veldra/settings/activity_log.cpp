#include "veldra/settings/activity_log.h"

#include "veldra/settings/date_time.h"
#include "veldra/settings/file_utils.h"

#include <cstdio>

namespace {
// Set once at start, before anything is logged; read on the user-interface thread only.
struct LogPlaces {
    std::string settingsFolder;
    std::string logFolder;
    std::function<void(const std::string&)> reporter;
};

LogPlaces& Places() {
    static LogPlaces places;
    return places;
}
} // namespace

std::string LogPath(const std::string& settingsFolder) {
    const LogPlaces& places = Places();
    const bool redirected = !places.logFolder.empty() && settingsFolder == places.settingsFolder;
    return JoinPath(redirected ? places.logFolder : settingsFolder, "debug.txt");
}

void LogLine(const std::string& programFolder, const std::string& text) {
    const std::string path = LogPath(programFolder);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    bool written = file != nullptr;
    if (file != nullptr) {
        written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                  std::fwrite("\r\n", 1, 2, file) == 2;
        written = std::fclose(file) == 0 && written;
    }
    if (!written)
        ReportWriteFailure("Could not write the activity log " + path);
}

std::string TimeStampedLine(std::string_view message) {
    std::string line = DateTimeText(NowDays());
    line.append(message);
    return line;
}

void LogEvent(const std::string& programFolder, std::string_view message) {
    LogLine(programFolder, TimeStampedLine(message));
}

void SetLogFolder(const std::string& settingsFolder, const std::string& logFolder) {
    Places().settingsFolder = settingsFolder;
    Places().logFolder = logFolder;
}

void SetWriteFailureReporter(std::function<void(const std::string&)> reporter) {
    Places().reporter = std::move(reporter);
}

void ReportWriteFailure(const std::string& text) {
    if (Places().reporter)
        Places().reporter(text);
}
