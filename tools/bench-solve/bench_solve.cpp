// bench-solve: veldra-solve on simulated star frames of 1024 x 768 and 3000 x 2000 pixels
// with a correct start position, beside solve-field with the very options veldra-solve
// gives it (the adapter's own cost) and beside solve-field with its default options.
// The three run in turn, several rounds, so they share whatever else the machine does;
// medians are printed side by side.  The defaults, 8 to 25 times slower, run in the first
// three rounds only.  Last, veldra-solve's fixed cost per solve: veldra-solve around a
// stand-in solver that sleeps, beside the stand-in alone (this machine's speed varies by
// +-20 % from solve to solve, far more than that cost).  Usage: bench-solve [ROUNDS]
#include "solve/astrometry_solver.h"
#include "solve/child_process.h"
#include "solve/fits_image.h"
#include "solve/scratch_files.h"
#include "solve/solve_run.h"
#include "tools/veldsim/star_field.h"
#include "tools/veldsim/star_index.h"
#include "veldra/settings/file_utils.h"
#include "veldra/settings/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

const double kPiFull = 3.14159265358979323846;
const double kTrueRa = 83.8, kTrueDec = 22.0;   // degrees
const double kHintRa = 83.81, kHintDec = 21.99; // a telescope's start position

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall = -1; // negative when the run failed
    double cpu = 0;   // of the program and everything it waited for
};

Timing Timed(const std::vector<std::string>& arguments, const std::string& output,
             int expectedExit = 0) {
    const double cpu = ChildrenCpuSeconds();
    const ChildOutcome run = RunGuarded(arguments, output, 300, "");
    Timing timing;
    timing.cpu = ChildrenCpuSeconds() - cpu;
    if (run.end == ChildOutcome::End::Exited && run.exitCode == expectedExit)
        timing.wall = run.seconds;
    return timing;
}

// Distance of the .apm centre from the truth, arcseconds; negative when not solved.
double CentreError(const std::string& apm) {
    std::ifstream in(apm);
    std::string text;
    std::getline(in, text);
    const size_t first = text.find(','), second = text.find(',', first + 1);
    if (second == std::string::npos || text.substr(second + 1) != "1")
        return -1;
    const double d = kPiFull / 180;
    const double ra = ParseNumber(text.substr(0, first)).value_or(0) / d;
    const double dec = ParseNumber(text.substr(first + 1, second - first - 1)).value_or(0) / d;
    return std::hypot((ra - kTrueRa) * std::cos(kTrueDec * d), dec - kTrueDec) * 3600;
}

struct Figures {
    std::vector<Timing> adapter, same, defaults;
    std::vector<double> error;
};

double MedianWall(const std::vector<Timing>& timings) {
    std::vector<double> values;
    for (const Timing& timing : timings)
        values.push_back(timing.wall);
    return Median(values);
}

// The median of combine(over, under) over the rounds, of the wall clock or the CPU time.
template <typename Combine>
double MedianOfRounds(const std::vector<Timing>& over, const std::vector<Timing>& under, bool cpu,
                      Combine combine) {
    std::vector<double> values;
    for (size_t i = 0; i < over.size() && i < under.size(); ++i)
        values.push_back(cpu ? combine(over[i].cpu, under[i].cpu)
                             : combine(over[i].wall, under[i].wall));
    return Median(values);
}

// The median of each round's ratio: a round's two runs follow each other, so a slow spell of
// the machine or of solve-field's own search weighs on both and cancels out.
double MedianRatio(const std::vector<Timing>& over, const std::vector<Timing>& under, bool cpu) {
    return MedianOfRounds(over, under, cpu, [](double a, double b) { return a / b; });
}

// The median of each round's difference, seconds.
double MedianDifference(const std::vector<Timing>& over, const std::vector<Timing>& under,
                        bool cpu) {
    return MedianOfRounds(over, under, cpu, [](double a, double b) { return a - b; });
}

double MedianCpu(const std::vector<Timing>& timings) {
    std::vector<double> values;
    for (const Timing& timing : timings)
        values.push_back(timing.cpu);
    return Median(values);
}

bool AnyFailed(const std::vector<Timing>& timings) {
    return std::any_of(timings.begin(), timings.end(), [](const Timing& t) { return t.wall < 0; });
}

const int kDefaultRounds = 3;
const char* const kStandInSeconds = "0.3";

bool BenchSize(const std::string& folder, int width, int height, int rounds, Figures& figures) {
    StarCamera camera;
    camera.width = width;
    camera.height = height;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string indexDir = JoinPath(folder, "index-" + size);
    std::filesystem::create_directories(indexDir);
    const auto catalogue = CatalogueFor(camera, kTrueRa, kTrueDec, 1);
    if (const std::string error =
            WriteStarIndexFor(catalogue, camera, JoinPath(indexDir, "index.fits"));
        !error.empty()) {
        std::fprintf(stderr, "bench-solve: %s\n", error.c_str());
        return false;
    }
    std::mt19937 noise(2);
    const auto pixels = RenderStars(catalogue, camera, kTrueRa, kTrueDec, noise);
    const std::string image = JoinPath(folder, "frame-" + size + ".fits");
    const std::string settings = JoinPath(folder, "veldra-solve-" + size + ".ini");
    const std::string config = JoinPath(folder, "astrometry-" + size + ".cfg");
    const std::string out = JoinPath(folder, "out-" + size);
    std::filesystem::create_directories(out);
    if (!WriteImageFile(image, width, height, &pixels) ||
        !WriteTextFile(settings, "INDEX_DIR=" + indexDir + "\n") ||
        !WriteTextFile(config, "add_path " + indexDir + "\nautoindex\n"))
        return false;

    const double d = kPiFull / 180;
    SolveJob job;
    job.request = {kHintRa * d, kHintDec * d, FieldWidth(camera) * d, FieldHeight(camera) * d,
                   image};
    job.imageWidth = width;
    job.imageHeight = height;
    job.scratch = out;
    const std::string text = PlainNumberText(job.request.ra) + "," +
                             PlainNumberText(job.request.dec) + "," +
                             PlainNumberText(job.request.width) + "," +
                             PlainNumberText(job.request.height) + ",999," + image;
    const std::string log = JoinPath(folder, "run.txt");
    const std::vector<std::string> adapter = {JoinPath(ProgramFolder(), "veldra-solve"), text,
                                              "--config", settings};
    const std::vector<std::string> same = SolveFieldArguments(job, config);
    const std::vector<std::string> defaults = {"solve-field", "--config",    config, "--dir",
                                               out,           "--overwrite", image};
    for (int round = 0; round < rounds; ++round) {
        // Alternate which of the two close contenders goes first.
        if (round % 2 == 1)
            figures.same.push_back(Timed(same, log));
        figures.adapter.push_back(Timed(adapter, log));
        figures.error.push_back(CentreError(ResultFileName(image)));
        if (round % 2 == 0)
            figures.same.push_back(Timed(same, log));
        if (round < kDefaultRounds)
            figures.defaults.push_back(Timed(defaults, log));
        RemoveScratchFolder(out);
        std::filesystem::create_directories(out);
    }
    if (AnyFailed(figures.adapter) || AnyFailed(figures.same) || AnyFailed(figures.defaults) ||
        *std::min_element(figures.error.begin(), figures.error.end()) < 0) {
        std::fprintf(stderr, "bench-solve: a %s run failed (see %s)\n", size.c_str(), log.c_str());
        return false;
    }
    return true;
}

// veldra-solve on the 1024x768 frame BenchSize left in folder, around a stand-in solver
// that only sleeps (so veldra-solve answers "not solved"), beside the stand-in alone.
bool FixedCost(const std::string& folder, int rounds, Timing& cost) {
    const std::string standIn = JoinPath(folder, "stand-in-solver");
    const std::string settings = JoinPath(folder, "veldra-solve-stand-in.ini");
    if (!WriteTextFile(standIn, std::string("#!/bin/sh\nexec sleep ") + kStandInSeconds + "\n") ||
        !WriteTextFile(settings, "INDEX_DIR=" + JoinPath(folder, "index-1024x768") +
                                     "\nSOLVE_FIELD=" + standIn + "\n"))
        return false;
    std::filesystem::permissions(standIn, std::filesystem::perms::owner_all);
    const std::string image = JoinPath(folder, "frame-1024x768.fits");
    const std::string log = JoinPath(folder, "run.txt");
    const std::vector<std::string> adapter = {JoinPath(ProgramFolder(), "veldra-solve"),
                                              "1.4,0.4,0.016,0.012,999," + image, "--config",
                                              settings};
    std::vector<Timing> wrapped, alone;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 1)
            alone.push_back(Timed({standIn}, log));
        wrapped.push_back(Timed(adapter, log, 1)); // the stand-in solves nothing
        if (round % 2 == 0)
            alone.push_back(Timed({standIn}, log));
    }
    if (AnyFailed(wrapped) || AnyFailed(alone)) {
        std::fprintf(stderr, "bench-solve: a stand-in run failed (see %s)\n", log.c_str());
        return false;
    }
    cost.wall = MedianDifference(wrapped, alone, false);
    cost.cpu = MedianDifference(wrapped, alone, true);
    return true;
}

const char* const kUsage = "usage: bench-solve [ROUNDS]\n"
                           "veldra-solve beside solve-field with the same options and with its\n"
                           "defaults, on 1024x768 and 3000x2000 star frames; the median of ROUNDS\n"
                           "rounds (1 to 100, default 5; the defaults run in 3 of them), then\n"
                           "veldra-solve's fixed cost around a stand-in solver (4 x ROUNDS).\n";

} // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 1) {
        const char* end = argv[1] + std::strlen(argv[1]);
        const auto [at, error] = std::from_chars(argv[1], end, rounds);
        if (argc > 2 || error != std::errc() || at != end || rounds < 1 || rounds > 100) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const std::string folder = MakeScratchFolder();
    if (folder.empty())
        return 1;
    std::printf("bench-solve: median of %d rounds; seconds per solve, wall clock (CPU)\n\n",
                rounds);
    std::printf("%-10s %15s %15s %15s %14s %10s %10s\n", "frame", "veldra-solve", "same options",
                "defaults", "adapter (CPU)", "vs default", "centre err");
    int status = 0;
    std::vector<std::pair<std::string, double>> solves; // frame, same-options median
    for (const auto& [width, height] : {std::pair{1024, 768}, std::pair{3000, 2000}}) {
        Figures figures;
        if (!BenchSize(folder, width, height, rounds, figures)) {
            status = 1;
            break;
        }
        solves.emplace_back(std::to_string(width) + "x" + std::to_string(height),
                            MedianWall(figures.same));
        const double adapter = MedianWall(figures.adapter), same = MedianWall(figures.same),
                     defaults = MedianWall(figures.defaults);
        const double adapterCpu = MedianCpu(figures.adapter), sameCpu = MedianCpu(figures.same);
        std::printf("%4dx%-5d %7.3f (%5.2f) %7.3f (%5.2f) %7.2f (%5.2f) %5.2fx (%4.2fx) %9.1fx "
                    "%9.3f\"\n",
                    width, height, adapter, adapterCpu, same, sameCpu, defaults,
                    MedianCpu(figures.defaults), MedianRatio(figures.adapter, figures.same, false),
                    MedianRatio(figures.adapter, figures.same, true), defaults / adapter,
                    *std::max_element(figures.error.begin(), figures.error.end()));
    }
    std::printf("\nadapter = veldra-solve / solve-field with the same options, the median of "
                "each\nround's ratio, wall clock (and CPU; target <= 1.1x);\n"
                "vs default = solve-field with its default options / veldra-solve (target >= "
                "3x);\ncentre err = largest distance of veldra-solve's centre from the truth.\n");
    Timing cost;
    if (status == 0 && FixedCost(folder, 4 * rounds, cost)) {
        std::printf("\nfixed cost of veldra-solve per solve: %.1f ms wall, %.1f ms CPU (median "
                    "of %d\npaired differences around a stand-in solver that sleeps %s s)",
                    cost.wall * 1000, cost.cpu * 1000, 4 * rounds, kStandInSeconds);
        for (const auto& [frame, seconds] : solves)
            std::printf(";\n%.3fx of the %s solve with the same options", 1 + cost.wall / seconds,
                        frame.c_str());
        std::printf("\n");
    } else if (status == 0) {
        status = 1;
    }
    RemoveScratchFolder(folder);
    return status;
}
