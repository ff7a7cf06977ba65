// The closed loop measured: veldra's core against veldsim for the built-in flexure
// profiles, with filter prediction and acceleration on and off.  Run inside a session bus:
//   dbus-run-session -- build/release/bin/bench-closed-loop [FRAMES] [CADENCE_SECONDS]
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

// The options in one place: frames per night and seconds between frames.
std::optional<int> ReadOptions(int argc, char** argv, NightSettings& night) {
    QCommandLineParser parser;
    parser.setApplicationDescription("veldra's core against veldsim for every flexure profile.");
    parser.addPositionalArgument("FRAMES", "Frames per night (default 40).", "[FRAMES]");
    parser.addPositionalArgument("CADENCE_SECONDS", "Seconds between frames (default 0.8).",
                                 "[CADENCE_SECONDS]");
    const QString name = "bench-closed-loop";
    if (const auto end = ParseProgramOptions(parser, ArgumentsOf(argc, argv), name, 2))
        return end;
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

} // namespace

int main(int argc, char** argv) {
    NightSettings base;
    if (const auto end = ReadOptions(argc, argv, base))
        return *end;
    QCoreApplication app(argc, argv);
    if (!BusConnected()) {
        std::fprintf(stderr, "bench-closed-loop: no session bus; run it under dbus-run-session\n");
        return 1;
    }
    const std::string veldsim = JoinPath(ProgramFolder(), "veldsim");

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
        const double mean = delays.empty() ? 0
                                           : std::accumulate(delays.begin(), delays.end(), 0.0) /
                                                 static_cast<double>(delays.size());
        const double worst = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
        failures += !result.finished;
        std::printf("| %s | %.1f | %s | %s | %.2f | %.2f | %.1f / %.1f |\n", c.profile.c_str(),
                    c.noise, c.filter ? "on" : "off",
                    c.accelX ? (c.accelY ? "on" : "RA only") : "off",
                    SummaryFigure(result.veldsimOutput, "rms residual drift: "),
                    SummaryFigure(result.veldsimOutput, "largest residual: "), mean, worst);
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
