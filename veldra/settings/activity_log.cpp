#include "veldra/settings/activity_log.h"

#include "common/date_time.h"
#include "common/file_utils.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

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
    // A FIFO or a device in the log's place would block the program or swallow the log.
    std::string reason;
    const int file = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, reason);
    if (file < 0) {
        ReportWriteFailure("Could not write the activity log " + path + ": " + reason);
        return;
    }
    // One write of the line and its end: appended whole.
    const std::string line = text + "\r\n";
    size_t written = 0;
    while (written < line.size()) {
        const ssize_t step = write(file, line.data() + written, line.size() - written);
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0)
            break;
        written += static_cast<size_t>(step);
    }
    const bool closed = close(file) == 0;
    if (written != line.size() || !closed)
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
