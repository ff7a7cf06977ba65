// bench-fitstag: fitstag writing its seven keywords into a 1 GB image whose header
// has room and into one whose header is full, beside cp of the same file (and cp
// followed by a sync of the copy, since fitstag flushes a grown file to disk).
#include "tools/bench-hdrlib/bench_files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs a program with standard input from a file and output discarded; seconds.
double Timed(std::vector<std::string> args, const std::string& input = "/dev/null") {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(input.c_str(), O_RDONLY), out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0)
            _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " failed");
    return spent.count();
}

void Copy(const std::string& from, const std::string& to) {
    Timed({"cp", from, to});
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (const int exitCode =
            BenchArguments(argc, argv,
                           "Times fitstag on 1 GB images with and without header room beside cp\n"
                           "(written to the temp folder and removed afterwards).");
        exitCode >= 0)
        return exitCode;
    const std::string folder = MakeScratchFolder("bench-fitstag");
    int exitCode = 0;
    try {
        const std::string input = folder + "/metadata.txt";
        std::ofstream(input) << "Shutter Speed                   : 30\n"
                                "Date/Time Original              : 2012:11:18 20:13:42\n"
                                "Camera Temperature              : 22 C\n";
        const std::string small = folder + "/room-1MB.fit", room = folder + "/room.fit",
                          full = folder + "/full.fit", work = folder + "/work.fit",
                          copy = folder + "/copy.fit";
        WriteBenchImage(small, 1LL << 20, false, false);
        WriteBenchImage(room, 1LL << 30, false, false);
        WriteBenchImage(full, 1LL << 30, true, false);
        const std::vector<std::string> tag = {FITSTAG_EXE, "-r", "1.2", "-d", "0.4", work};

        constexpr int kRuns = 3;
        std::vector<double> tagSmall, tagRoom, tagFull, cp, cpSync;
        for (int run = 0; run < kRuns; ++run) {
            Copy(small, work);
            tagSmall.push_back(Timed(tag, input));
            Copy(room, work);
            tagRoom.push_back(Timed(tag, input));
            Copy(full, work);
            tagFull.push_back(Timed(tag, input));
            std::filesystem::remove(copy);
            Timed({"sync"});
            cp.push_back(Timed({"cp", full, copy}));
            std::filesystem::remove(copy);
            Timed({"sync"});
            const double copyTime = Timed({"cp", full, copy});
            cpSync.push_back(copyTime + Timed({"sync", copy}));
        }
        std::printf("median of %d runs, seconds\n", kRuns);
        std::printf("fitstag, 1 MB, header with room   %8.3f\n", Median(tagSmall));
        std::printf("fitstag, 1 GB, header with room   %8.3f\n", Median(tagRoom));
        std::printf("fitstag, 1 GB, header full        %8.3f\n", Median(tagFull));
        std::printf("cp of the 1 GB file               %8.3f\n", Median(cp));
        std::printf("cp + sync of the 1 GB file        %8.3f\n", Median(cpSync));
        std::printf("room: 1 GB / 1 MB                 %8.2f\n",
                    Median(tagRoom) / Median(tagSmall));
        std::printf("room: 1 GB / cp                   %8.4f\n", Median(tagRoom) / Median(cp));
        std::printf("full / cp                         %8.2f\n", Median(tagFull) / Median(cp));
        std::printf("full / (cp + sync)                %8.2f\n", Median(tagFull) / Median(cpSync));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-fitstag: %s\n", error.what());
        exitCode = 1;
    }
    std::filesystem::remove_all(folder);
    return exitCode;
}
