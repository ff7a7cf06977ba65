#include "veldra/settings/activity_log.h"

#include "veldra/settings/date_time.h"
#include "veldra/settings/file_utils.h"

#include <cstdio>

void LogLine(const std::string& programFolder, const std::string& text) {
    const std::string path = JoinPath(programFolder, "debug.txt");
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
}

std::string TimeStampedLine(std::string_view message) {
    std::string line = DateTimeText(NowDays());
    line.append(message);
    return line;
}

void LogEvent(const std::string& programFolder, std::string_view message) {
    LogLine(programFolder, TimeStampedLine(message));
}
