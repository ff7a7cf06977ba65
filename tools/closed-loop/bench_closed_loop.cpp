// The closed loop measured: veldra's core against veldsim for the built-in flexure
// profiles, with filter prediction and acceleration on and off.  Run inside a session bus:
//   dbus-run-session -- build/release/bin/bench-closed-loop [frames] [cadence-seconds]
#include "tools/closed-loop/headless_night.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/settings/file_utils.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>

namespace {

double SummaryFigure(const std::string& output, const std::string& label) {
    const size_t at = output.find(label);
    return at == std::string::npos ? -1 : std::atof(output.c_str() + at + label.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!BusConnected()) {
        std::fprintf(stderr, "bench-closed-loop: no session bus; run it under dbus-run-session\n");
        return 1;
    }
    NightSettings base;
    base.frames = argc > 1 ? std::atoi(argv[1]) : 40;
    base.cadenceSeconds = argc > 2 ? std::atof(argv[2]) : 0.8;
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
