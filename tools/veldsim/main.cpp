// veldsim: plays the camera and the guider of a night so that veldra can be watched
// cancelling flexure without a telescope.  See --help.
#include "tools/veldsim/frame_pacing.h"
#include "tools/veldsim/frame_writer.h"
#include "tools/veldsim/guider_listener.h"
#include "tools/veldsim/header_text.h"
#include "tools/veldsim/night_report.h"
#include "tools/veldsim/phd2_server.h"
#include "tools/veldsim/sim_options.h"
#include "tools/veldsim/sky_model.h"
#include "tools/veldsim/star_index.h"
#include "tools/veldsim/star_night.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>

namespace {

const double kPi = 3.14159265358979323846;

// The system's monotonic clock, comparable between processes of this computer.
double SteadyMilliseconds() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Night {
    SimOptions options;
    SkyModel sky;
    GuiderState guider;
    std::vector<FrameRecord> frames;
    QElapsedTimer wall;
    int written = 0;
    double lastWrittenWall = 0;         // seconds since start
    long long lastFrameFileSecond = 0;  // the newest frame's file time, whole seconds
    std::vector<double> setShiftDelays; // wall seconds from a frame to the next set-shift
    std::vector<double> phd2AnsweredMs; // steady clock, when set_lock_shift_params was answered
    bool awaitingSetShift = false;
    std::mt19937 random;
    DitherWalk dither;              // with --dither
    long long startUnixSeconds = 0; // --start
    std::ofstream csvFile;
    StarNight stars; // with --stars

    std::ostream& Csv() { return options.csvPath.empty() ? std::cout : csvFile; }
    double StartSeconds(int frame) const { return frame * (options.exposure + options.gap); }
    double MiddleHours(int frame) const {
        return (StartSeconds(frame) + options.exposure / 2) / 3600;
    }
    double EndHours(int frame) const { return (StartSeconds(frame) + options.exposure) / 3600; }

    // A message reaches the guider at the end of the newest frame's exposure plus the
    // real time since that frame was written: veldra's processing is not compressed.
    double GuiderHours() const {
        const double now = wall.elapsed() / 1000.0;
        return written == 0 ? 0 : EndHours(written - 1) + (now - lastWrittenWall) / 3600;
    }
    void SetShiftArrived() {
        if (awaitingSetShift)
            setShiftDelays.push_back(wall.elapsed() / 1000.0 - lastWrittenWall);
        awaitingSetShift = false;
    }
    void OnMessage(const std::string& name, int wParam, int lParam) {
        OnGuiderMessage(guider, sky, name, wParam, lParam, GuiderHours());
        if (name == (guider.simulatorMode ? "VELDSIM_SetShift" : "MG_RemoteSetShift"))
            SetShiftArrived();
    }
    void OnPhd2Shift(const Phd2SkyRates& rates) {
        ApplyShift(sky, GuiderHours(), rates.ra, rates.dec);
        SetShiftArrived();
    }

    PacingState Pacing() const {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        return {written,
                awaitingSetShift,
                wall.elapsed() / 1000.0 - lastWrittenWall,
                options.cadence,
                std::chrono::duration<double>(now).count(),
                lastFrameFileSecond};
    }

    std::string WriteNextFrame() {
        const int frame = written;
        const double middle = MiddleHours(frame);
        std::normal_distribution<double> noise(0.0, options.noise);
        // Dithers move the pointing on purpose: they are in the frames, not in the
        // residual figures.
        const double dec = options.targetDecDegrees +
                           (ImageOffset(sky, false, middle) +
                            (options.noise > 0 ? noise(random) : 0) + dither.total.dec) /
                               3600;
        const double raOffset = ImageOffset(sky, true, middle) +
                                (options.noise > 0 ? noise(random) : 0) + dither.total.ra;
        // An offset on the sky in RA is a larger change of the coordinate away from the equator.
        const double ra = options.targetRaHours * 15 +
                          raOffset / std::cos(options.targetDecDegrees * kPi / 180) / 3600;
        FrameHeader header;
        header.dateObs = DateObsAfter(options.start, StartSeconds(frame));
        header.exposure = static_cast<float>(options.exposure);
        header.crval1 = ra;
        header.crval2 = dec;
        header.objctra = RaText(options.targetRaHours);
        header.objctdec = DecText(options.targetDecDegrees);
        header.focalLength = static_cast<float>(options.focalLength);
        header.pixelSize = static_cast<float>(options.pixelSize);
        FramePixels pixels;
        if (options.stars) {
            // The solver measures these frames: the true pointing is in the stars only
            // (and, with --star-wcs, in a map as if solved once).
            header.wcs = options.starWcs;
            header.telescope = true;
            header.telescopeRa = options.targetRaHours * 15;
            header.telescopeDec = options.targetDecDegrees;
            stars.camera.rotation =
                options.frames > 1 ? options.rotationDegrees * frame / (options.frames - 1) : 0;
            stars.camera.trail = options.trailEvery > 0 && (frame + 1) % options.trailEvery == 0;
            if (options.starWcs) {
                const FrameWcs wcs = WcsOf(stars.camera);
                header.tanMap = true;
                header.crpix[0] = wcs.crpix1;
                header.crpix[1] = wcs.crpix2;
                for (int i = 0; i < 2; ++i)
                    for (int j = 0; j < 2; ++j)
                        header.cd[i][j] = wcs.cd[i][j];
            }
            pixels = RenderStarFrame(stars, ra, dec);
        }
        char name[32];
        std::snprintf(name, sizeof name, "frame_%04d.fit", frame + 1);
        if (std::string error =
                WriteFrame(options.folder, name, header, options.stars ? &pixels : nullptr);
            !error.empty())
            return error;
        lastWrittenWall = wall.elapsed() / 1000.0;
        lastFrameFileSecond = FileSecond(options.folder + "/" + name);
        awaitingSetShift = true;
        ++written;
        frames.push_back(RecordFrame(sky, frame + 1, middle,
                                     frames.empty() ? nullptr : &frames.back(), MiddleHours(0)));
        frames.back().dither[0] = dither.total.ra;
        frames.back().dither[1] = dither.total.dec;
        Csv() << CsvLine(frames.back()) << '\n' << std::flush;
        return {};
    }

    // PHD2 dithers in the gap after the frame just written (while it guides; not after the
    // last frame): its events go out now, stamped with the simulated time, and the offset
    // moves every later frame.
    void DitherAfterFrame(Phd2Server& phd2) {
        if (dither.arcsec <= 0 || written % options.ditherEvery != 0 || written >= options.frames ||
            !phd2.Standin().guiding)
            return;
        const double exposureEnd =
            static_cast<double>(startUnixSeconds) + StartSeconds(written - 1) + options.exposure;
        phd2.Dither(dither, exposureEnd + 1, exposureEnd + options.gap / 2);
    }
};

// What the night writes besides its frames: the star catalogue's index (--index), the
// frames' folder and the CSV file.  An exit status where veldsim ends here (an error, or
// the index alone was asked for).
std::optional<int> PrepareOutputs(Night& night) {
    if (night.options.stars)
        night.stars = MakeStarNight(night.options);
    if (!night.options.indexPath.empty()) {
        const std::string error =
            WriteStarIndexFor(night.stars.catalogue, night.stars.camera, night.options.indexPath);
        if (!error.empty()) {
            std::cerr << "veldsim: " << error << "\n";
            return 1;
        }
        if (night.options.folder.empty())
            return 0;
    }
    std::error_code ignored;
    std::filesystem::create_directories(night.options.folder, ignored);
    if (!night.options.csvPath.empty()) {
        night.csvFile.open(night.options.csvPath, std::ios::trunc);
        if (!night.csvFile) {
            std::cerr << "veldsim: cannot write " << night.options.csvPath << "\n";
            return 1;
        }
    }
    return std::nullopt;
}

// The sky, the guider's mode, the noise and the dither walk, from the options.
void SeedNight(Night& night) {
    night.sky.profile = night.options.profile;
    night.guider.simulatorMode = night.options.simulatorMode;
    night.random.seed(night.options.seed);
    // A generator of its own: the noise stays the same with and without dithering.
    std::seed_seq ditherSeed{night.options.seed, 1u};
    night.dither.random.seed(ditherSeed);
    night.dither.arcsec = night.options.ditherArcsec;
    night.dither.raOnly = night.options.ditherRaOnly;
    night.startUnixSeconds = UnixSecondsOf(night.options.start).value_or(0);
}

// The PHD2 stand-in as the options describe it (the server keeps a copy).
Phd2Standin StandinFor(const Night& night) {
    const SimOptions& options = night.options;
    Phd2Standin standin;
    standin.mount.reportsDeclination = options.phd2Mount;
    standin.mount.declinationDegrees = options.targetDecDegrees;
    standin.mount.decSign = options.phd2DecReversed ? -1 : 1;
    standin.camera = {options.guideAngle, options.guideMirrored, options.guideScale};
    standin.pixelScaleKnown = !options.phd2NoScale;
    standin.lockX = options.phd2LockX;
    standin.lockY = options.phd2LockY;
    standin.startUnixSeconds = static_cast<double>(night.startUnixSeconds);
    return standin;
}

// Scheduled stand-in commands after frame `frame` (0: now).
void RunSchedule(const SimOptions& options, Phd2Server& phd2, int frame) {
    for (const auto& [after, command] : options.phd2Schedule)
        if (after == frame)
            phd2.Command(command);
}

// The guider veldsim plays starts listening; false, said on standard error, when it cannot.
bool StartGuider(const SimOptions& options, Phd2Server& phd2, GuiderListener& listener) {
    if (options.guider == "phd2") {
        if (!phd2.Listen()) {
            std::cerr << "veldsim: cannot listen on port " << options.port << ": "
                      << phd2.ErrorText() << "\n";
            return false;
        }
        RunSchedule(options, phd2, 0);
    } else if (!listener.Connect()) {
        std::cerr << "veldsim: no D-Bus session bus (start one with dbus-run-session)\n";
        return false;
    }
    return true;
}

// Writes the frames, on the clock or in lockstep, until the last one and the tail after
// it; returns the exit status.
int RunFrames(QCoreApplication& app, Night& night, Phd2Server& phd2) {
    int status = 0;
    QTimer frameTimer;
    const auto writeFrame = [&] {
        if (night.written >= night.options.frames)
            return;
        if (night.options.lockstep && night.written > 0 && !MayWriteNextFrame(night.Pacing()))
            return;
        if (night.options.guider == "phd2")
            phd2.Advance(); // the lock shift up to this frame, and its limit
        if (const std::string error = night.WriteNextFrame(); !error.empty()) {
            std::cerr << "veldsim: " << error << "\n";
            status = 1;
            app.quit();
            return;
        }
        night.DitherAfterFrame(phd2);
        RunSchedule(night.options, phd2, night.written);
        if (night.written == night.options.frames) {
            frameTimer.stop();
            QTimer::singleShot(static_cast<int>(night.options.tail * 1000), &app,
                               &QCoreApplication::quit);
        }
    };
    QObject::connect(&frameTimer, &QTimer::timeout, &app, writeFrame);
    QTimer::singleShot(static_cast<int>(night.options.firstDelay * 1000), &app, [&] {
        if (night.options.lockstep && !WaitForGoLine())
            std::cerr << "veldsim: no go line on standard input, first frame written anyway\n";
        // Under --lockstep the timer only asks often whether the next frame may come.
        frameTimer.start(night.options.lockstep ? 50
                                                : static_cast<int>(night.options.cadence * 1000));
        writeFrame();
    });
    app.exec();
    return status;
}

// After the summary: how soon the set-shifts came, and when PHD2's answers went out.
void PrintTimings(const Night& night) {
    if (!night.setShiftDelays.empty()) {
        const double worst =
            *std::max_element(night.setShiftDelays.begin(), night.setShiftDelays.end());
        double sum = 0;
        for (double delay : night.setShiftDelays)
            sum += delay;
        std::printf("set-shift after frame written: %zu times, mean %.3f s, max %.3f s\n",
                    night.setShiftDelays.size(), sum / night.setShiftDelays.size(), worst);
    }
    if (!night.phd2AnsweredMs.empty()) {
        std::printf("set_lock_shift_params answered at (steady clock, ms):");
        for (double ms : night.phd2AnsweredMs)
            std::printf(" %.3f", ms);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Night night;
    bool help = false;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (const std::string error = ParseSimOptions(args, night.options, help); !error.empty()) {
        std::cerr << "veldsim: " << error << "\n" << UsageText();
        return 2;
    }
    if (help) {
        std::cout << UsageText();
        return 0;
    }
    if (const std::optional<int> end = PrepareOutputs(night))
        return *end;
    SeedNight(night);

    GuiderListener listener(
        [&night](const std::string& name, int w, int l) { night.OnMessage(name, w, l); });
    Phd2Server phd2(StandinFor(night), static_cast<quint16>(night.options.port),
                    {[&night](const Phd2SkyRates& rates) { night.OnPhd2Shift(rates); },
                     [&night] {
                         night.SetShiftArrived();
                         night.phd2AnsweredMs.push_back(SteadyMilliseconds());
                     },
                     [&night] { return night.GuiderHours(); }});
    if (!StartGuider(night.options, phd2, listener))
        return 1;
    // Callers wait for this line before they start veldra: from here on no message is missed.
    std::cout << "veldsim: listening, " << night.options.frames << " frames into "
              << night.options.folder << "\n"
              << std::flush;
    night.Csv() << CsvHeader() << '\n' << std::flush;
    night.wall.start();

    const int status = RunFrames(app, night, phd2);
    const NightSummary summary = Summarize(night.sky, night.frames, 4);
    std::cout << "\n" << SummaryText(summary);
    PrintTimings(night);
    return status;
}
