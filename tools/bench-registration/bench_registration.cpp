// bench-registration: star frames of veldsim's camera (1.5 "/px, 2" seeing, sky noise,
// hot pixels) registered against a reference frame, beside veldra-solve (solve-field on
// an index of the same catalogue) on the very same frames, in one run:
//   - time per frame, the read included, for 3000 x 2000 and 6000 x 4000 frames (each
//     frame's median of three rounds, then the median over the frames), and veldra-solve's
//     time on the 3000 x 2000 frames, run after the registrations: the ratio;
//   - the position error of each method against the truth the frames were drawn at,
//     rms over frames dithered by up to +-8" and turning by up to 1 degree.
// Usage: bench-registration [FRAMES]   (frames per size, 2 to 50, default 7)
#include "common/child_process.h"
#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/fits_image.h"
#include "solve/scratch_files.h"
#include "solve/solve_run.h"
#include "tools/bench_count.h"
#include "tools/veldsim/star_field.h"
#include "tools/veldsim/star_index.h"
#include "veldra/measure/registration/registration.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kDegree = std::numbers::pi / 180;
constexpr double kRa = 83.8, kDec = 22.0; // degrees
// veldra's radians, as the .apm holds them.
constexpr double kVeldraRadian = 2 * 3.14159265358979 / 360;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Rms(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values)
        sum += v * v;
    return values.empty() ? 0 : std::sqrt(sum / static_cast<double>(values.size()));
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Arcseconds on the sky between two positions in degrees.
double Apart(double ra, double dec, double trueRa, double trueDec) {
    double dRa = ra - trueRa;
    dRa -= 360 * std::round(dRa / 360);
    return std::hypot(dRa * std::cos(trueDec * kDegree), dec - trueDec) * 3600;
}

struct Pointing {
    double ra = kRa, dec = kDec, turn = 0;
};

// The reference at the target, then frames dithered by up to +-8" and turned by up to 1
// degree, always the same for a given count.
std::vector<Pointing> Pointings(int frames) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> dither(-8, 8), turn(-1, 1);
    std::vector<Pointing> pointings(1);
    for (int i = 1; i <= frames; ++i) {
        Pointing p;
        p.dec = kDec + dither(random) / 3600;
        p.ra = kRa + dither(random) / 3600 / std::cos(kDec * kDegree);
        p.turn = turn(random);
        pointings.push_back(p);
    }
    return pointings;
}

struct SizeFigures {
    std::vector<double> registerSeconds, solveSeconds;
    std::vector<double> registerError, solveError; // arcseconds
    std::vector<int> matched;
    bool failed = false;
};

// veldra-solve on one frame, as veldra starts it; the centre from its ".apm".
bool Solve(const std::string& image, const StarCamera& camera, const std::string& settings,
           const std::string& log, double& seconds, double& ra, double& dec) {
    const double d = kVeldraRadian;
    const std::string text = PlainNumberText((kRa + 0.01) * d) + "," +
                             PlainNumberText((kDec - 0.01) * d) + "," +
                             PlainNumberText(FieldWidth(camera) * d) + "," +
                             PlainNumberText(FieldHeight(camera) * d) + ",999," + image;
    const ChildOutcome run = RunGuarded(
        {JoinPath(ProgramFolder(), "veldra-solve"), text, "--config", settings}, log, 300, "");
    seconds = run.seconds;
    std::ifstream in(ResultFileName(image));
    std::string line;
    std::getline(in, line);
    const size_t first = line.find(','), second = line.find(',', first + 1);
    if (run.exitCode != 0 || second == std::string::npos || line.substr(second + 1, 1) != "1")
        return false;
    ra = ParseNumber(line.substr(0, first)).value_or(0) / d;
    dec = ParseNumber(line.substr(first + 1, second - first - 1)).value_or(0) / d;
    return true;
}

StarCamera CameraOf(int width, int height) {
    StarCamera camera;
    camera.width = width;
    camera.height = height;
    camera.scale = 1.5;
    camera.fwhm = 2.0 / 1.5;
    camera.hotPixels = width * height / 200000; // what a dark frame leaves
    return camera;
}

// veldra-solve's settings, naming an index of the catalogue for the camera; empty when
// the index cannot be written.
std::string SolverSettings(const std::string& folder, const std::string& size,
                           const std::vector<CatalogueStar>& catalogue, const StarCamera& camera) {
    const std::string indexDir = JoinPath(folder, "index-" + size);
    std::filesystem::create_directories(indexDir);
    if (const std::string error =
            WriteStarIndexFor(catalogue, camera, JoinPath(indexDir, "index.fits"));
        !error.empty()) {
        std::fprintf(stderr, "bench-registration: %s\n", error.c_str());
        return {};
    }
    const std::string settings = JoinPath(folder, "veldra-solve-" + size + ".ini");
    WriteTextFile(settings, "INDEX_DIR=" + indexDir + "\n");
    return settings;
}

// The frames at the pointings, written as FITS files; empty when one cannot be written.
std::vector<std::string> WriteFrames(const std::string& folder, const std::string& size,
                                     const std::vector<CatalogueStar>& catalogue, StarCamera camera,
                                     const std::vector<Pointing>& pointings) {
    std::mt19937 noise(5);
    std::vector<std::string> images;
    for (size_t i = 0; i < pointings.size(); ++i) {
        camera.rotation = pointings[i].turn;
        const auto pixels =
            RenderStars(catalogue, camera, pointings[i].ra, pointings[i].dec, noise);
        images.push_back(JoinPath(folder, size + "-" + std::to_string(i) + ".fits"));
        if (!WriteImageFile(images.back(), camera.width, camera.height, &pixels))
            return {};
    }
    return images;
}

// The reference from the first frame, with the truth itself as its map: the figures are
// the registration's alone.
RegistrationReference TrueReference(const std::string& image, StarCamera camera,
                                    std::vector<float>& buffer) {
    camera.rotation = 0;
    const FrameWcs wcs = WcsOf(camera);
    TanMap map{kRa, kDec, wcs.crpix1, wcs.crpix2, {}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            map.cd[r][c] = wcs.cd[r][c];
    return MakeReference(StarsOfImage(image, buffer), map);
}

// Three rounds over the frames, each frame's median time; the error and the stars kept
// from the first round.  False when a frame does not register.
bool TimeRegistrations(const std::vector<std::string>& images,
                       const std::vector<Pointing>& pointings, const StarCamera& camera,
                       const std::string& size, SizeFigures& figures) {
    std::vector<float> buffer; // as veldra keeps it from image to image
    const RegistrationReference reference = TrueReference(images[0], camera, buffer);
    if (!reference.valid) {
        std::fprintf(stderr, "bench-registration: too few stars in the reference\n");
        return false;
    }
    std::vector<std::vector<double>> rounds(pointings.size());
    for (int round = 0; round < 3; ++round)
        for (size_t i = 1; i < pointings.size(); ++i) {
            const auto started = std::chrono::steady_clock::now();
            const Registration registered = Register(reference, StarsOfImage(images[i], buffer));
            rounds[i].push_back(Seconds(started));
            if (!registered.fault.empty()) {
                std::fprintf(stderr, "bench-registration: %s frame %zu: %s\n", size.c_str(), i,
                             registered.fault.c_str());
                return false;
            }
            if (round == 0) {
                figures.matched.push_back(registered.matched);
                figures.registerError.push_back(Apart(registered.centre.ra, registered.centre.dec,
                                                      pointings[i].ra, pointings[i].dec));
            }
        }
    for (size_t i = 1; i < pointings.size(); ++i)
        figures.registerSeconds.push_back(Median(rounds[i]));
    return true;
}

// veldra-solve on every frame, after the registrations so that neither runs while the
// other does.  False when a solve fails.
bool TimeSolves(const std::vector<std::string>& images, const std::vector<Pointing>& pointings,
                StarCamera camera, const std::string& settings, const std::string& folder,
                SizeFigures& figures) {
    for (size_t i = 0; i < pointings.size(); ++i) {
        camera.rotation = pointings[i].turn;
        double seconds = 0, ra = 0, dec = 0;
        if (!Solve(images[i], camera, settings, JoinPath(folder, "solve.txt"), seconds, ra, dec)) {
            std::ifstream output(JoinPath(folder, "solve.txt"));
            const std::string said((std::istreambuf_iterator<char>(output)),
                                   std::istreambuf_iterator<char>());
            std::fprintf(stderr, "bench-registration: veldra-solve failed on %s:\n%s\n",
                         images[i].c_str(), said.c_str());
            return false;
        }
        figures.solveSeconds.push_back(seconds);
        figures.solveError.push_back(Apart(ra, dec, pointings[i].ra, pointings[i].dec));
    }
    return true;
}

SizeFigures BenchSize(const std::string& folder, int width, int height, int frames, bool solve) {
    SizeFigures figures;
    const StarCamera camera = CameraOf(width, height);
    const auto catalogue = CatalogueFor(camera, kRa, kDec, 3);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string settings = solve ? SolverSettings(folder, size, catalogue, camera) : "";
    const std::vector<Pointing> pointings = Pointings(frames);
    const std::vector<std::string> images =
        solve && settings.empty() ? std::vector<std::string>()
                                  : WriteFrames(folder, size, catalogue, camera, pointings);
    figures.failed = images.empty() ||
                     !TimeRegistrations(images, pointings, camera, size, figures) ||
                     (solve && !TimeSolves(images, pointings, camera, settings, folder, figures));
    for (const std::string& image : images)
        std::filesystem::remove(image);
    return figures;
}

const char* const kUsage =
    "usage: bench-registration [FRAMES]\n"
    "Star frames registered against a reference beside veldra-solve on the same frames:\n"
    "time per frame (read included) and position error against the truth, for FRAMES\n"
    "frames (2 to 50, default 7) of 3000x2000 and of 6000x4000 pixels (veldra-solve on the\n"
    "3000x2000 ones).\n";

} // namespace

int main(int argc, char** argv) {
    const BenchCount count = ParseBenchCount(argc, argv, 7, 2, 50, kUsage);
    if (count.exitCode)
        return *count.exitCode;
    const int frames = count.count;
    const std::string folder = MakeScratchFolder();
    if (folder.empty())
        return 1;
    std::printf("bench-registration: %d frames per size, 1.5 \"/px, 2\" FWHM, dithers up to "
                "+-8\", turns up to 1 degree\n\n",
                frames);
    std::printf("%-10s %16s %16s %9s %14s %14s %8s\n", "frame", "register ms", "veldra-solve ms",
                "ratio", "register err", "solve err", "matched");
    int status = 0;
    for (const auto& [width, height] : {std::pair{3000, 2000}, std::pair{6000, 4000}}) {
        const bool solve = width == 3000;
        const SizeFigures f = BenchSize(folder, width, height, frames, solve);
        if (f.failed) {
            status = 1;
            break;
        }
        const double registerMs = Median(f.registerSeconds) * 1000;
        std::printf("%4dx%-5d %16.1f", width, height, registerMs);
        if (solve) {
            const double solveMs = Median(f.solveSeconds) * 1000;
            std::printf(" %16.0f %8.1fx %13.4f\" %13.4f\"", solveMs, solveMs / registerMs,
                        Rms(f.registerError), Rms(f.solveError));
        } else {
            std::printf(" %16s %9s %13.4f\" %14s", "-", "-", Rms(f.registerError), "-");
        }
        std::vector<double> matched(f.matched.begin(), f.matched.end());
        std::printf(" %8.0f\n", Median(matched));
        std::fflush(stdout);
    }
    std::printf("\nregister ms = median time to read, find the stars, match and fit one frame;\n"
                "ratio = veldra-solve / register (target >= 15x); err = rms distance of the\n"
                "frame centre from the truth (target <= 0.02\" for registration, and no worse\n"
                "than veldra-solve); matched = median stars kept by the fit.\n");
    RemoveScratchFolder(folder);
    return status;
}
