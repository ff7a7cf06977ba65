// bench-solve: veldra-solve on simulated star frames of 1024 x 768 and 3000 x 2000 pixels
// with a correct start position, beside solve-field with the very options veldra-solve
// gives it (the adapter's own cost) and beside solve-field with its default options.
// The three run in turn, several rounds, so they share whatever else the machine does;
// medians are printed side by side.  Usage: bench-solve [ROUNDS]
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

Timing Timed(const std::vector<std::string>& arguments, const std::string& output) {
    const double cpu = ChildrenCpuSeconds();
    const ChildOutcome run = RunGuarded(arguments, output, 300, "");
    Timing timing;
    timing.cpu = ChildrenCpuSeconds() - cpu;
    if (run.end == ChildOutcome::End::Exited && run.exitCode == 0)
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

// The median of each round's ratio: a round's two runs follow each other, so a slow spell of
// the machine or of solve-field's own search weighs on both and cancels out.
double MedianRatio(const std::vector<Timing>& over, const std::vector<Timing>& under, bool cpu) {
    std::vector<double> ratios;
    for (size_t i = 0; i < over.size() && i < under.size(); ++i)
        ratios.push_back(cpu ? over[i].cpu / under[i].cpu : over[i].wall / under[i].wall);
    return Median(ratios);
}

double MedianCpu(const std::vector<Timing>& timings) {
    std::vector<double> values;
    for (const Timing& timing : timings)
        values.push_back(timing.cpu);
    return Median(values);
}

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
        figures.defaults.push_back(Timed(defaults, log));
        RemoveScratchFolder(out);
        std::filesystem::create_directories(out);
    }
    const auto failed = [](const std::vector<Timing>& v) {
        return std::any_of(v.begin(), v.end(), [](const Timing& t) { return t.wall < 0; });
    };
    if (failed(figures.adapter) || failed(figures.same) || failed(figures.defaults) ||
        *std::min_element(figures.error.begin(), figures.error.end()) < 0) {
        std::fprintf(stderr, "bench-solve: a %s run failed (see %s)\n", size.c_str(), log.c_str());
        return false;
    }
    return true;
}

const char* const kUsage = "usage: bench-solve [ROUNDS]\n"
                           "veldra-solve beside solve-field with the same options and with its\n"
                           "defaults, on 1024x768 and 3000x2000 star frames; the median of ROUNDS\n"
                           "rounds (1 to 100, default 5).\n";

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
    for (const auto& [width, height] : {std::pair{1024, 768}, std::pair{3000, 2000}}) {
        Figures figures;
        if (!BenchSize(folder, width, height, rounds, figures)) {
            status = 1;
            break;
        }
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
    RemoveScratchFolder(folder);
    return status;
}
