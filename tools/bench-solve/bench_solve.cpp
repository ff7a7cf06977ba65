// bench-solve: veldra-solve on simulated star frames of 1024 x 768 and 3000 x 2000 pixels
// with a correct start position, beside solve-field with the very options veldra-solve
// gives it (the adapter's own cost) and beside solve-field with its default options.
// The three run in turn, several rounds, so they share whatever else the machine does;
// medians are printed side by side.  The defaults, 8 to 25 times slower, run in the first
// three rounds only.  Last, veldra-solve's fixed cost per solve: veldra-solve around a
// stand-in solver that sleeps, beside the stand-in alone (this machine's speed varies by
// +-20 % from solve to solve, far more than that cost).  Then a 6000 x 4000 frame with
// and without the automatic downsampling: time, peak memory, centre error.
// Usage: bench-solve [ROUNDS] [--large]
#include "common/child_process.h"
#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/astrometry_solver.h"
#include "solve/fits_image.h"
#include "solve/scratch_files.h"
#include "solve/solve_run.h"
#include "tools/bench_count.h"
#include "tools/veldsim/star_field.h"
#include "tools/veldsim/star_index.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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

// A star frame of width x height at the true pointing, the index of its catalogue, and
// what the runs need around them.
struct Frame {
    std::string size;     // "WIDTHxHEIGHT"
    std::string image;    // the FITS frame
    std::string indexDir; // its index file
    std::string config;   // solve-field's config naming indexDir
    std::string out;      // solve-field's output folder
    std::string text;     // veldra's solver text for the frame, start position 0.8' off
    SolveJob job;         // the same, as veldra-solve's job
};

bool MakeFrame(const std::string& folder, int width, int height, Frame& frame) {
    StarCamera camera;
    camera.width = width;
    camera.height = height;
    frame.size = std::to_string(width) + "x" + std::to_string(height);
    frame.indexDir = JoinPath(folder, "index-" + frame.size);
    std::filesystem::create_directories(frame.indexDir);
    const auto catalogue = CatalogueFor(camera, kTrueRa, kTrueDec, 1);
    if (const std::string error =
            WriteStarIndexFor(catalogue, camera, JoinPath(frame.indexDir, "index.fits"));
        !error.empty()) {
        std::fprintf(stderr, "bench-solve: %s\n", error.c_str());
        return false;
    }
    std::mt19937 noise(2);
    const auto pixels = RenderStars(catalogue, camera, kTrueRa, kTrueDec, noise);
    frame.image = JoinPath(folder, "frame-" + frame.size + ".fits");
    frame.config = JoinPath(folder, "astrometry-" + frame.size + ".cfg");
    frame.out = JoinPath(folder, "out-" + frame.size);
    std::filesystem::create_directories(frame.out);
    if (!WriteImageFile(frame.image, width, height, &pixels) ||
        !WriteTextFile(frame.config, "add_path " + frame.indexDir + "\nautoindex\n"))
        return false;

    const double d = kPiFull / 180;
    frame.job.request = {kHintRa * d, kHintDec * d, FieldWidth(camera) * d, FieldHeight(camera) * d,
                         frame.image};
    frame.job.imageWidth = width;
    frame.job.imageHeight = height;
    frame.job.scratch = frame.out;
    frame.text = PlainNumberText(frame.job.request.ra) + "," +
                 PlainNumberText(frame.job.request.dec) + "," +
                 PlainNumberText(frame.job.request.width) + "," +
                 PlainNumberText(frame.job.request.height) + ",999," + frame.image;
    return true;
}

bool BenchSize(const std::string& folder, int width, int height, int rounds, Figures& figures) {
    Frame frame;
    if (!MakeFrame(folder, width, height, frame))
        return false;
    const std::string& size = frame.size;
    const std::string& image = frame.image;
    const std::string& config = frame.config;
    const std::string& out = frame.out;
    const std::string& text = frame.text;
    const SolveJob& job = frame.job;
    const std::string settings = JoinPath(folder, "veldra-solve-" + size + ".ini");
    if (!WriteTextFile(settings, "INDEX_DIR=" + frame.indexDir + "\n"))
        return false;
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

// One run in a child of its own, so the peak memory it reports (the largest resident set
// of any process the run waited for, through veldra-solve's and solve-field's own
// waits) is this run's alone; RUSAGE_CHILDREN of the benchmark only ever grows.
struct Peak {
    Timing timing;
    double peakMb = -1;
};

Peak TimedWithPeak(const std::vector<std::string>& arguments, const std::string& output) {
    int line[2];
    Peak peak;
    if (pipe(line) != 0)
        return peak;
    const pid_t child = fork();
    if (child == 0) {
        close(line[0]);
        Peak measured;
        measured.timing = Timed(arguments, output);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        measured.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
        (void)!write(line[1], &measured, sizeof measured);
        _exit(0);
    }
    close(line[1]);
    if (child > 0 && read(line[0], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak))
        peak = Peak{};
    close(line[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return peak;
}

// A 6000 x 4000 frame through veldra-solve with its automatic downsampling and with
// DOWNSAMPLE=1 (the full frame), in turn: wall clock, peak memory, centre error.
bool BenchLarge(const std::string& folder, int rounds) {
    Frame frame;
    if (!MakeFrame(folder, 6000, 4000, frame))
        return false;
    const std::string log = JoinPath(folder, "run.txt");
    struct Variant {
        const char* name;
        int downsample; // DOWNSAMPLE: 0 automatic
        std::string settings;
        std::vector<Peak> runs;
        std::vector<double> error;
    };
    Variant variants[] = {{"automatic", 0, {}, {}, {}}, {"DOWNSAMPLE=1", 1, {}, {}, {}}};
    for (Variant& variant : variants) {
        variant.settings =
            JoinPath(folder, "veldra-solve-large-" + std::to_string(variant.downsample) + ".ini");
        if (!WriteTextFile(variant.settings, "INDEX_DIR=" + frame.indexDir +
                                                 "\nTIME_LIMIT=600\nDOWNSAMPLE=" +
                                                 std::to_string(variant.downsample) + "\n"))
            return false;
    }
    for (int round = 0; round < rounds; ++round)
        for (Variant& variant : variants) {
            variant.runs.push_back(TimedWithPeak({JoinPath(ProgramFolder(), "veldra-solve"),
                                                  frame.text, "--config", variant.settings},
                                                 log));
            variant.error.push_back(CentreError(ResultFileName(frame.image)));
            std::remove(ResultFileName(frame.image).c_str());
        }
    std::printf("\n%s frame, veldra-solve, median of %d rounds:\n%-14s %10s %12s %12s %12s\n",
                frame.size.c_str(), rounds, "downsampling", "factor", "wall (s)", "peak (MB)",
                "centre err");
    for (const Variant& variant : variants) {
        std::vector<Timing> timings;
        std::vector<double> peaks;
        for (const Peak& run : variant.runs) {
            timings.push_back(run.timing);
            peaks.push_back(run.peakMb);
        }
        if (AnyFailed(timings) ||
            *std::min_element(variant.error.begin(), variant.error.end()) < 0) {
            std::fprintf(stderr, "bench-solve: a %s run (%s) failed (see %s)\n", frame.size.c_str(),
                         variant.name, log.c_str());
            return false;
        }
        SolveJob job = frame.job;
        job.settings.downsample = variant.downsample;
        std::printf("%-14s %10d %12.2f %12.0f %11.3f\"\n", variant.name, DownsampleFor(job),
                    MedianWall(timings), Median(peaks),
                    *std::max_element(variant.error.begin(), variant.error.end()));
    }
    std::printf("peak = the largest resident set of veldra-solve or any solver process it "
                "started.\n");
    return true;
}

const char* const kUsage = "usage: bench-solve [ROUNDS]\n"
                           "veldra-solve beside solve-field with the same options and with its\n"
                           "defaults, on 1024x768 and 3000x2000 star frames; the median of ROUNDS\n"
                           "rounds (1 to 100, default 5; the defaults run in 3 of them), then\n"
                           "veldra-solve's fixed cost around a stand-in solver (4 x ROUNDS),\n"
                           "then a 6000x4000 frame with and without the automatic downsampling\n"
                           "(ROUNDS / 5 rounds, at least 1).  --large: that frame only.\n";

} // namespace

int main(int argc, char** argv) {
    const bool largeOnly = argc > 1 && std::strcmp(argv[argc - 1], "--large") == 0;
    if (largeOnly)
        --argc;
    const BenchCount count = ParseBenchCount(argc, argv, 5, 1, 100, kUsage);
    if (count.exitCode)
        return *count.exitCode;
    const int rounds = count.count;
    const std::string folder = MakeScratchFolder();
    if (folder.empty())
        return 1;
    if (largeOnly) {
        const bool done = BenchLarge(folder, std::max(1, rounds / 5));
        RemoveScratchFolder(folder);
        return done ? 0 : 1;
    }
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
    if (status == 0 && !BenchLarge(folder, std::max(1, rounds / 5)))
        status = 1;
    RemoveScratchFolder(folder);
    return status;
}
