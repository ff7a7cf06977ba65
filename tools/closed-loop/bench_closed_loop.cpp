// The closed loop measured: veldra's core against veldsim for the built-in flexure
// profiles, with filter prediction and acceleration on and off; then the same nights
// through the D-Bus broadcast and through veldsim's PHD2 stand-in.  Run inside a session bus:
//   dbus-run-session -- build/release/bin/bench-closed-loop [--phd2-only] [FRAMES]
//   [CADENCE_SECONDS]
#include "tools/closed-loop/headless_night.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/program_options.h"
#include "veldra/settings/file_utils.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
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

// The options in one place: frames per night, seconds between frames, the PHD2 rows only.
std::optional<int> ReadOptions(int argc, char** argv, NightSettings& night, bool& phd2Only) {
    QCommandLineParser parser;
    parser.setApplicationDescription("veldra's core against veldsim for every flexure profile.");
    parser.addPositionalArgument("FRAMES", "Frames per night (default 40).", "[FRAMES]");
    parser.addPositionalArgument("CADENCE_SECONDS", "Seconds between frames (default 0.8).",
                                 "[CADENCE_SECONDS]");
    const QCommandLineOption onlyPhd2("phd2-only", "Only the rows through the D-Bus broadcast "
                                                   "beside those through the PHD2 stand-in.");
    parser.addOption(onlyPhd2);
    const QString name = "bench-closed-loop";
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), name, 2))
        return end;
    phd2Only = parser.isSet(onlyPhd2);
    const QStringList positional = parser.positionalArguments();
    night.frames = 40;
    night.cadenceSeconds = 0.8;
    if (!positional.isEmpty()) {
        const auto frames = WholeNumberArgument(positional[0], 2);
        if (!frames)
            return UsageError(parser, name, "FRAMES must be a whole number of at least 2.");
        night.frames = *frames;
    }
    if (positional.size() > 1) {
        const auto cadence = PositiveNumberArgument(positional[1]);
        if (!cadence)
            return UsageError(parser, name, "CADENCE_SECONDS must be a number above 0.");
        night.cadenceSeconds = *cadence;
    }
    return std::nullopt;
}

double Mean(const std::vector<double>& values) {
    return values.empty() ? 0
                          : std::accumulate(values.begin(), values.end(), 0.0) /
                                static_cast<double>(values.size());
}

double Largest(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
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
        QTemporaryDir work;
        NightSettings night = base;
        night.guider = c.guider;
        night.declinationDegrees = c.declination;
        night.phd2Mount = c.mount;
        night.noiseArcsec = c.noise;
        const NightResult result = RunHeadlessNight(work.path().toStdString(), veldsim, night);
        const std::vector<double>& delays =
            night.guider == "phd2" ? result.processToPhd2AnswerMs : result.processToSetShiftMs;
        failures += !result.finished;
        std::printf("| %s | %.0f | %s | %.1f | %.2f | %.2f | %.1f / %.1f |\n", c.guider,
                    c.declination, c.mount ? "yes" : "no", c.noise,
                    SummaryFigure(result.veldsimOutput, "rms residual drift: "),
                    SummaryFigure(result.veldsimOutput, "largest residual: "), Mean(delays),
                    Largest(delays));
        std::fflush(stdout);
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    NightSettings base;
    bool phd2Only = false;
    if (const auto end = ReadOptions(argc, argv, base, phd2Only))
        return *end;
    QCoreApplication app(argc, argv);
    if (!BusConnected()) {
        std::fprintf(stderr, "bench-closed-loop: no session bus; run it under dbus-run-session\n");
        return 1;
    }
    const std::string veldsim = JoinPath(ProgramFolder(), "veldsim");

    if (phd2Only)
        return PrintPhd2Rows(base, veldsim) == 0 ? 0 : 1;

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
        QTemporaryDir work;
        NightSettings night = base;
        night.profile = c.profile;
        night.noiseArcsec = c.noise;
        night.filterPrediction = c.filter;
        night.useAccelerationX = c.accelX;
        night.useAccelerationY = c.accelY;
        const NightResult result = RunHeadlessNight(work.path().toStdString(), veldsim, night);
        const auto& delays = result.processToSetShiftMs;
        failures += !result.finished;
        std::printf("| %s | %.1f | %s | %s | %.2f | %.2f | %.1f / %.1f |\n", c.profile.c_str(),
                    c.noise, c.filter ? "on" : "off",
                    c.accelX ? (c.accelY ? "on" : "RA only") : "off",
                    SummaryFigure(result.veldsimOutput, "rms residual drift: "),
                    SummaryFigure(result.veldsimOutput, "largest residual: "), Mean(delays),
                    Largest(delays));
        std::fflush(stdout);
    }
    failures += PrintPhd2Rows(base, veldsim);
    return failures == 0 ? 0 : 1;
}
