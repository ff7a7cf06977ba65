// The closed loop measured: veldra's core against veldsim for the built-in flexure
// profiles, with filter prediction and acceleration on and off; then the same nights
// through the D-Bus broadcast and through veldsim's PHD2 stand-in, nights with dithering
// (also through PHD2's mount axes), and nights measured by registering star frames against
// the first beside the same nights with a solver's 0.3" of noise.  Run inside a session bus:
//   dbus-run-session -- build/release/bin/bench-closed-loop
//   [--phd2-only | --dither-only | --mount-axes-only | --registration-only]
//   [FRAMES] [CADENCE_SECONDS]
#include "common/file_utils.h"
#include "tools/closed-loop/headless_night.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/program_options.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>

namespace {

double SummaryFigure(const std::string& output, const std::string& label) {
    const size_t at = output.find(label);
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + label.size());
}

enum class Rows { All, Phd2, Dither, MountAxes, Registration };

// The options in one place: frames per night, seconds between frames, which rows.
std::optional<int> ReadOptions(int argc, char** argv, NightSettings& night, Rows& rows) {
    QCommandLineParser parser;
    parser.setApplicationDescription("veldra's core against veldsim for every flexure profile.");
    parser.addPositionalArgument("FRAMES", "Frames per night (default 40).", "[FRAMES]");
    parser.addPositionalArgument("CADENCE_SECONDS", "Seconds between frames (default 0.8).",
                                 "[CADENCE_SECONDS]");
    const QCommandLineOption onlyPhd2("phd2-only", "Only the rows through the D-Bus broadcast "
                                                   "beside those through the PHD2 stand-in.");
    parser.addOption(onlyPhd2);
    const QCommandLineOption onlyDither("dither-only",
                                        "Only the rows with the PHD2 stand-in dithering.");
    parser.addOption(onlyDither);
    const QCommandLineOption onlyAxes(
        "mount-axes-only", "Only the rows of PHD2's mount-axis dithers: camera angles, RA-only "
                           "dithers, ST-4 and declination-reporting mounts.");
    parser.addOption(onlyAxes);
    const QCommandLineOption onlyRegistration(
        "registration-only", "Only the rows measured by registration beside a solver's noise.");
    parser.addOption(onlyRegistration);
    const QString name = "bench-closed-loop";
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), name, 2))
        return end;
    if (parser.isSet(onlyPhd2) + parser.isSet(onlyDither) + parser.isSet(onlyAxes) +
            parser.isSet(onlyRegistration) >
        1)
        return UsageError(parser, name, "The row choices (--...-only) exclude each other.");
    rows = parser.isSet(onlyPhd2)           ? Rows::Phd2
           : parser.isSet(onlyDither)       ? Rows::Dither
           : parser.isSet(onlyAxes)         ? Rows::MountAxes
           : parser.isSet(onlyRegistration) ? Rows::Registration
                                            : Rows::All;
    night.frames = 40;
    night.cadenceSeconds = 0.8;
    return NightLengthArguments(parser, name, 0, night.frames, night.cadenceSeconds);
}

double Mean(const std::vector<double>& values) {
    return values.empty() ? 0
                          : std::accumulate(values.begin(), values.end(), 0.0) /
                                static_cast<double>(values.size());
}

double Largest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// One night in a scratch folder; a night that did not run to its end counts as a failure.
NightResult RunNight(const NightSettings& night, const std::string& veldsim, int& failures) {
    QTemporaryDir work;
    NightResult result = RunHeadlessNight(work.path().toStdString(), veldsim, night);
    failures += !result.finished;
    return result;
}

// The table cells "rms | largest" of a night's residual drift.
std::string ResidualCells(const NightResult& result) {
    char cells[64];
    std::snprintf(cells, sizeof cells, "%.2f | %.2f",
                  SummaryFigure(result.veldsimOutput, "rms residual drift: "),
                  SummaryFigure(result.veldsimOutput, "largest residual: "));
    return cells;
}

// The same nights through the D-Bus broadcast and through veldsim's PHD2 stand-in, side
// by side: the residual, and how long a correction takes to reach the guider (D-Bus: to
// the post; PHD2: to PHD2's answer to set_lock_shift_params, target at most 20 ms).
int PrintPhd2Rows(const NightSettings& base, const std::string& veldsim) {
    std::printf("\n| guider | DEC | PHD2 mount | noise \" | rms residual \"/h | largest \"/h | "
                "ProcessImage to the guider ms (mean / max) |\n"
                "|---|---|---|---|---|---|---|\n");
    struct Case {
        const char* guider;
        double declination;
        bool mount;
        double noise;
    };
    int failures = 0;
    for (const Case& c :
         {Case{"dbus", 30, false, 0}, Case{"phd2", 30, false, 0}, Case{"phd2", 0, false, 0},
          Case{"phd2", 60, true, 0}, Case{"dbus", 60, false, 0.3}, Case{"phd2", 60, true, 0.3}}) {
        NightSettings night = base;
        night.guider = c.guider;
        night.declinationDegrees = c.declination;
        night.phd2Mount = c.mount;
        night.noiseArcsec = c.noise;
        const NightResult result = RunNight(night, veldsim, failures);
        const std::vector<double>& delays =
            night.guider == "phd2" ? result.processToPhd2AnswerMs : result.processToSetShiftMs;
        std::printf("| %s | %.0f | %s | %.1f | %s | %.1f / %.1f |\n", c.guider, c.declination,
                    c.mount ? "yes" : "no", c.noise, ResidualCells(result).c_str(), Mean(delays),
                    Largest(delays));
        std::fflush(stdout);
    }
    return failures;
}

// Constant flexure through the PHD2 stand-in while it dithers, with veldra's dither
// awareness on and off.
int PrintDitherRows(const NightSettings& base, const std::string& veldsim) {
    std::printf(
        "\n| dither \" | every | aware | guide camera | rms residual \"/h | largest \"/h |\n"
        "|---|---|---|---|---|---|\n");
    struct Case {
        double dither;
        int every;
        bool aware;
        double angle;
        bool mirrored;
    };
    std::vector<Case> cases;
    for (double dither : {3.0, 8.0})
        for (int every : {1, 3})
            for (bool aware : {true, false})
                cases.push_back({dither, every, aware, 0, false});
    cases.push_back({8, 1, true, 37, true});
    int failures = 0;
    for (const Case& c : cases) {
        NightSettings night = base;
        night.guider = "phd2";
        night.noiseArcsec = 0.3;
        night.ditherArcsec = c.dither;
        night.ditherEvery = c.every;
        night.ditherAware = c.aware;
        night.guideAngle = c.angle;
        night.guideMirrored = c.mirrored;
        const NightResult result = RunNight(night, veldsim, failures);
        std::printf("| %.0f | %d | %s | %.0f°%s | %s |\n", c.dither, c.every,
                    c.aware ? "on" : "off", c.angle, c.mirrored ? " mirrored" : "",
                    ResidualCells(result).c_str());
        std::fflush(stdout);
    }
    return failures;
}

// Constant flexure measured from the frames' WCS keywords with a solver's 0.3" of noise,
// beside star frames registered against the first (the field turning by 2 degrees over the
// night, hot pixels, a satellite in every fifth frame): through the D-Bus broadcast, and
// through the PHD2 stand-in dithering by up to +-8" after every frame.
int PrintRegistrationRows(const NightSettings& base, const std::string& veldsim) {
    std::printf("\n| measured by | guider | dither \" | rms residual \"/h | largest \"/h | "
                "ProcessImage to set-shift ms (mean / max) |\n|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const bool registration : {false, true})
        for (const bool dither : {false, true}) {
            NightSettings night = base;
            night.registration = registration;
            night.noiseArcsec = registration ? 0 : 0.3;
            night.rotationDegrees = 2;
            night.hotPixels = 30;
            night.trailEvery = 5;
            if (dither) {
                night.guider = "phd2";
                night.ditherArcsec = 8;
                night.ditherEvery = 1;
            }
            const NightResult result = RunNight(night, veldsim, failures);
            const auto& delays = result.processToSetShiftMs;
            std::printf("| %s | %s | %s | %s | %.1f / %.1f |\n",
                        registration ? "registration (stars)" : "WCS keywords, 0.3\" noise",
                        dither ? "phd2" : "dbus", dither ? "8, every frame" : "-",
                        ResidualCells(result).c_str(), Mean(delays), Largest(delays));
            std::fflush(stdout);
        }
    return failures;
}

// The RMS of the residual drift, both axes together, from frame 6 on.
double ResidualFromFrame6(const NightResult& result) {
    const std::vector<double> ra = CsvColumn(result.veldsimOutput, "residual_ra");
    const std::vector<double> dec = CsvColumn(result.veldsimOutput, "residual_dec");
    double sum = 0;
    size_t count = 0;
    for (size_t frame = 5; frame < ra.size() && frame < dec.size(); ++frame, ++count)
        sum += ra[frame] * ra[frame] + dec[frame] * dec[frame];
    return count == 0 ? -1 : std::sqrt(sum / static_cast<double>(count));
}

// +-8" dithers after every frame through PHD2's mount axes: the guide camera's angle,
// RA-only dithers, ST-4 and declination-reporting mounts at DEC 0 and 60.
int PrintMountAxisRows(const NightSettings& base, const std::string& veldsim) {
    std::printf("\n| guide camera | dithers | PHD2 mount | DEC | noise \" | rms residual \"/h "
                "from frame 6 |\n|---|---|---|---|---|---|\n");
    struct Camera {
        double angle;
        bool mirrored;
    };
    int failures = 0;
    for (const double noise : {0.3, 0.0})
        for (const Camera camera : {Camera{0, false}, Camera{37, true}, Camera{200, false}})
            for (const bool raOnly : {false, true})
                for (const bool mount : {false, true})
                    for (const double declination : {0.0, 60.0}) {
                        NightSettings night = base;
                        night.guider = "phd2";
                        night.noiseArcsec = noise;
                        night.ditherArcsec = 8;
                        night.guideAngle = camera.angle;
                        night.guideMirrored = camera.mirrored;
                        night.ditherRaOnly = raOnly;
                        night.phd2Mount = mount;
                        night.declinationDegrees = declination;
                        const NightResult result = RunNight(night, veldsim, failures);
                        std::printf("| %.0f°%s | %s | %s | %.0f | %.1f | %.2f |\n", camera.angle,
                                    camera.mirrored ? " mirrored" : "", raOnly ? "RA only" : "2-D",
                                    mount ? "reports DEC" : "ST-4", declination, noise,
                                    ResidualFromFrame6(result));
                        std::fflush(stdout);
                    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    NightSettings base;
    Rows rows = Rows::All;
    if (const auto end = ReadOptions(argc, argv, base, rows))
        return *end;
    QCoreApplication app(argc, argv);
    if (!BusConnected()) {
        std::fprintf(stderr, "bench-closed-loop: no session bus; run it under dbus-run-session\n");
        return 1;
    }
    const std::string veldsim = JoinPath(ProgramFolder(), "veldsim");

    if (rows == Rows::Phd2)
        return PrintPhd2Rows(base, veldsim) == 0 ? 0 : 1;
    if (rows == Rows::Dither)
        return PrintDitherRows(base, veldsim) == 0 ? 0 : 1;
    if (rows == Rows::MountAxes)
        return PrintMountAxisRows(base, veldsim) == 0 ? 0 : 1;
    if (rows == Rows::Registration)
        return PrintRegistrationRows(base, veldsim) == 0 ? 0 : 1;

    std::printf("| profile | noise \" | filter prediction | acceleration | rms residual \"/h | "
                "largest \"/h | ProcessImage to set-shift ms (mean / max) |\n"
                "|---|---|---|---|---|---|---|\n");
    struct Case {
        std::string profile;
        double noise;
        bool filter;
        bool accelX;
        bool accelY;
    };
    // The defaults first (filter prediction on, acceleration on RA only), then every
    // profile with filter prediction and acceleration (both axes) on and off.
    std::vector<Case> cases{{"constant", 0, true, true, false},
                            {"constant", 0.3, true, true, false}};
    for (const char* profile : {"constant", "acceleration", "sinusoid"})
        for (bool filter : {true, false})
            for (bool accel : {true, false})
                cases.push_back({profile, 0.3, filter, accel, accel});
    int failures = 0;
    for (const Case& c : cases) {
        NightSettings night = base;
        night.profile = c.profile;
        night.noiseArcsec = c.noise;
        night.filterPrediction = c.filter;
        night.useAccelerationX = c.accelX;
        night.useAccelerationY = c.accelY;
        const NightResult result = RunNight(night, veldsim, failures);
        const auto& delays = result.processToSetShiftMs;
        std::printf("| %s | %.1f | %s | %s | %s | %.1f / %.1f |\n", c.profile.c_str(), c.noise,
                    c.filter ? "on" : "off", c.accelX ? (c.accelY ? "on" : "RA only") : "off",
                    ResidualCells(result).c_str(), Mean(delays), Largest(delays));
        std::fflush(stdout);
    }
    failures += PrintPhd2Rows(base, veldsim);
    failures += PrintDitherRows(base, veldsim);
    failures += PrintMountAxisRows(base, veldsim);
    failures += PrintRegistrationRows(base, veldsim);
    return failures == 0 ? 0 : 1;
}
