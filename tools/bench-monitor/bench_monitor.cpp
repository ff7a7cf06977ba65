// bench-monitor: the cost of one Timer1 tick over a folder of many matching files, next
// to a bare scan of the same folder that reads the same per-file metadata (name and
// modification time).  Usage: bench-monitor [PARENT_FOLDER]
// The folders are made in a fresh folder inside PARENT_FOLDER (default: the temporary
// folder), and only that fresh folder is removed at the end.
#include "tools/bench-monitor/naive_exchange_order.h"
#include "veldra/monitor/exchange_order.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/list_folder.h"
#include "veldra/program_options.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The fastest of several runs: the least disturbed by the rest of the machine.
template <typename Run> double BestOf(int runs, Run run) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, Milliseconds(Clock::now() - start));
    }
    return best;
}

// readdir plus one stat per entry, keeping name and time: what any listing must do.
size_t BareScan(const std::string& folder) {
    std::vector<std::string> names;
    std::vector<time_t> times;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (entry->d_name[0] == '.' || fstatat(dirfd(dir), entry->d_name, &info, 0) != 0)
            continue;
        names.emplace_back(entry->d_name);
        times.push_back(info.st_mtime);
    }
    closedir(dir);
    return names.size();
}

void MakeFolder(const std::string& folder, int count, int filesPerSecond) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const time_t base = 1700000000;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "L_%05d_300s.fit", i);
        const std::string path = folder + "/" + name;
        std::ofstream(path).put('x');
        const time_t seconds = base + i / filesPerSecond;
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
}

Platform QuietPlatform(int& processed) {
    Platform platform;
    platform.refreshPendingFile = [] {};
    platform.processImage = [&processed](const std::string&, double) { ++processed; };
    return platform;
}

// The exchange sort as stated: its time for comparison, and its order to check ours.
double NaiveSortMs(const std::vector<double>& input, std::vector<int>& order) {
    return BestOf(1, [&] { order = NaiveExchangeOrder(input); });
}

// Times in the order the file system gives them (the exchange sort's input).
std::vector<double> UnsortedTimes(const std::string& folder) {
    std::vector<double> times;
    DIR* dir = opendir(folder.c_str());
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        struct stat info {};
        if (entry->d_name[0] != '.' && fstatat(dirfd(dir), entry->d_name, &info, 0) == 0)
            times.push_back(static_cast<double>(info.st_mtime));
    }
    if (dir != nullptr)
        closedir(dir);
    return times;
}

// The options in one place: an optional parent folder for the scratch files.
std::optional<std::string> ParentFolder(int argc, char** argv, int& status) {
    QCommandLineParser parser;
    parser.setApplicationDescription("One monitor tick over large folders, beside a bare scan.");
    parser.addPositionalArgument("PARENT_FOLDER",
                                 "Where the scratch folder is made (default: the temporary "
                                 "folder).",
                                 "[PARENT_FOLDER]");
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), "bench-monitor", 1)) {
        status = *end;
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    return positional.isEmpty() ? std::filesystem::temp_directory_path().string()
                                : positional.first().toStdString();
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    const std::optional<std::string> parent = ParentFolder(argc, argv, status);
    if (!parent)
        return status;
    // A folder of its own: what the benchmark removes at the end is only what it made.
    std::string scratch = *parent + "/veldra-bench-monitor.XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr) {
        std::fprintf(stderr, "bench-monitor: cannot make a folder in %s\n", parent->c_str());
        return 1;
    }
    const int runs = 7;
    std::printf("%-8s %-22s %10s %10s %7s %12s %14s\n", "files", "times", "scan ms", "tick ms",
                "ratio", "order ms", "stated sort ms");
    for (const int count : {1000, 10000, 30000}) {
        for (const int perSecond : {1, 100}) {
            const std::string folder = scratch + "/f" + std::to_string(count);
            MakeFolder(folder, count, perSecond);

            int processed = 0;
            const Platform platform = QuietPlatform(processed);
            MonitorRecord monitor;
            Settings settings;
            settings.MONITOR_PATH = folder;
            settings.MONITOR_FILTER = "*.fit";
            monitor.monitorState = MonitorState::Running;
            monitor.baselineListing = ListFolder(folder, "*.fit");
            monitor.previousListing = monitor.baselineListing;
            if (monitor.baselineListing.count != count) {
                std::fprintf(stderr, "listing holds %d of %d files\n",
                             monitor.baselineListing.count, count);
                return 1;
            }

            // Interleaved, so both see the same cache and machine load.
            double scan = 1e300;
            double tick = 1e300;
            size_t scanned = 0;
            for (int round = 0; round < 3; ++round) {
                scan = std::min(scan, BestOf(runs, [&] { scanned = BareScan(folder); }));
                tick = std::min(tick, BestOf(runs, [&] {
                                    TimerTick(monitor, settings, std::string(), platform);
                                }));
            }
            if (scanned != static_cast<size_t>(count) || processed != 0 || monitor.settling) {
                std::fprintf(stderr, "unexpected: scanned %zu, processed %d\n", scanned, processed);
                return 1;
            }
            // The order alone, on the unsorted input, and checked against the stated sort.
            const std::vector<double> times = UnsortedTimes(folder);
            std::vector<int> fast;
            const double order = BestOf(runs, [&] { fast = ExchangeSortOrder(times); });
            char naive[32] = "-";
            if (count <= 10000) {
                std::vector<int> stated;
                std::snprintf(naive, sizeof naive, "%.1f", NaiveSortMs(times, stated));
                if (stated != fast) {
                    std::fprintf(stderr, "order differs from the stated exchange sort\n");
                    return 1;
                }
            }
            std::printf("%-8d %-22s %10.2f %10.2f %6.2fx %12.2f %14s\n", count,
                        perSecond == 1 ? "distinct" : "100 files per second", scan, tick,
                        tick / scan, order, naive);
            std::fflush(stdout);
            std::filesystem::remove_all(folder);
        }
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
