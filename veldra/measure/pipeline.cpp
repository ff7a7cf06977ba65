#include "veldra/measure/pipeline.h"

#include "common/date_time.h"
#include "common/end_request.h"
#include "hdrlib/hdrlib.h"
#include "veldra/drift/dither_offsets.h"
#include "veldra/drift/history.h"
#include "veldra/measure/image_metadata.h"
#include "veldra/measure/new_image_command.h"
#include "veldra/measure/registration/registered_position.h"
#include "veldra/measure/solver_runner.h"
#include "veldra/settings/activity_log.h"

#include <exception>
#include <optional>

namespace {

// The record of one image: the pipeline owns it, and its header, for the one run.
struct ImageRun {
    std::string path; // may be replaced by the new-image command
    double fileTime = 0;
    SkyPosition position; // the start position, then the measurement
    FitsInfo fits{};      // the image's header while loaded
    bool loaded = false;  // the header is loaded and not yet released
};

// The solver's start position from the settings or the telescope, whatever the method.
bool SolverStartPosition(MainState& state, const Platform& platform, ImageRun& run) {
    if (state.settings.OVERRIDE_POSITION == 1)
        return StartPositionFromSettings(state.settings, state.programFolder, platform,
                                         run.position);
    if (state.settings.OVERRIDE_POSITION == 2) {
        const TelescopeReading reading = platform.startPositionFromTelescope(state.settings);
        switch (reading.outcome) {
        case TelescopeReading::Outcome::Position:
            run.position = {reading.ra, reading.dec};
            break;
        case TelescopeReading::Outcome::NoDriverObject:
            break; // go on with 0, 0
        case TelescopeReading::Outcome::Failed:
            return false;
        }
    }
    return true;
}

// The start position of the solver method, before the image is loaded.
bool StartPosition(MainState& state, const Platform& platform, ImageRun& run) {
    return state.settings.PLATE_SOLVE_METHOD != 1 || SolverStartPosition(state, platform, run);
}

// The measurement under the solver method: start position from the header when no
// other is set, field size, then the solver run.
bool SolvePosition(MainState& state, const Platform& platform, ImageRun& run) {
    const auto resultFile = PrepareSolverResult(state.programFolder, platform, run.path);
    if (!resultFile)
        return false;
    if (state.settings.OVERRIDE_POSITION == 0 &&
        !StartPositionFromHeader(run.fits, state.programFolder, platform, run.position))
        return false;
    SolverField field;
    if (!ImageScaleAndField(run.fits, state.settings, state.programFolder, platform, field))
        return false;
    return RunSolver(state.settings, state.programFolder, platform, *resultFile, run.path,
                     run.position, field, run.position);
}

// The registration method; a reference without WCS keywords is solved as under the solver
// method, its start position asked for only then.
bool RegisterPosition(MainState& state, const Platform& platform, ImageRun& run) {
    const auto solve = [&](SkyPosition& solved) {
        run.position = {};
        if (!SolverStartPosition(state, platform, run) || !SolvePosition(state, platform, run))
            return false;
        solved = run.position;
        return true;
    };
    return RegisteredPosition(state.registration, state.drift, run.fits, state.programFolder,
                              platform, run.path, solve, run.position);
}

// With dither awareness while PHD2 announces its dithers: the dither offset during the
// exposure.  DATE-OBS is UTC as FITS writes it; a file's time is local.
std::optional<DitherInForce> DitherOfImage(const MainState& state, const BaseTime& base,
                                           double imageTime, float exposure) {
    if (!state.settings.DITHER_AWARE || !state.dithers.announced)
        return std::nullopt;
    const double middle =
        base.fromFile ? UnixSecondsFromLocalDays(imageTime) : UnixSecondsFromUtcDays(imageTime);
    return DitherDuring(state.dithers, middle - exposure / 2.0, middle + exposure / 2.0);
}

// From the start position to the measurement and its history entry.  Every return is one of the two
// exits: the release exit when the header is loaded (run.loaded), the end exit before that.
void RunStages(MainState& state, const Platform& platform, ImageRun& run) {
    const std::string& folder = state.programFolder;
    if (!StartPosition(state, platform, run) || EndRequested())
        return;
    if (state.settings.RUN_COMMAND) {
        // The window goes on meanwhile under the solver wait's guards (the tick's busy
        // counter, Start refused while pipelineBusy), so the next image still waits for
        // the command; only the end of veldra cuts the wait short.
        run.path = RunNewImageCommand(state.settings, folder, run.path, run.position, [&] {
            if (!EndRequested())
                platform.pumpEvents();
            return !EndRequested();
        });
        if (EndRequested())
            return;
    }

    LogEvent(folder, " : Doing platesolve of: " + run.path);
    const int32_t loadResult = loadFitsFile(run.path.c_str(), &run.fits);
    if (loadResult < 0) {
        LogEvent(folder, " :    could not load fits file, err = " + std::to_string(loadResult));
        platform.showTimedError("Could not load fits file: " + run.path);
        return;
    }
    run.loaded = true;

    BaseTime base;
    if (!ReadImageTime(run.fits, state.settings, folder, platform, run.fileTime, base))
        return;
    float exposure = 0;
    if (!ReadExposure(run.fits, state.settings, folder, platform, exposure))
        return;
    const double imageTime = FinishImageTime(folder, base, exposure);

    const bool measured = state.settings.PLATE_SOLVE_METHOD == 1
                              ? SolvePosition(state, platform, run)
                          : state.settings.PLATE_SOLVE_METHOD == 2
                              ? RegisterPosition(state, platform, run)
                              : PositionFromWcs(run.fits, folder, platform, run.position);
    if (!measured)
        return;

    AppendMeasurement(state, platform, run.path, imageTime, run.position.ra, run.position.dec,
                      exposure, DitherOfImage(state, base, imageTime, exposure));
}

void LogRunError(const std::string& folder, const char* what) {
    try {
        LogEvent(folder, std::string(" :    image run stopped by an error: ") + what);
    } catch (...) {
        // Nothing left to report with.
    }
}

// The end of every run (window refresh, charts, last log lines), guarded so that a failing window
// service still lets the run finish.
void EndSteps(MainState& state, const Platform& platform) {
    const std::string& folder = state.programFolder;
    try {
        LogEvent(folder, " :    update form");
        platform.refreshMainWindow();
        platform.updateCharts(state.drift.historyCount, state.drift.history);
        LogEvent(folder, " :    sleep");
        platform.sleep(50);
        LogEvent(folder, " : finished platesolve");
    } catch (const std::exception& error) {
        LogRunError(folder, error.what());
    } catch (...) {
        LogRunError(folder, "unknown error");
    }
}

} // namespace

void ProcessImage(MainState& state, const Platform& platform, const std::string& path,
                  double fileTime) {
    // An image handed over after the end was asked for (the rest of a pass) is left alone.
    if (EndRequested())
        return;
    state.pipelineBusy = true;
    ImageRun run;
    run.path = path;
    run.fileTime = fileTime;

    // Every failure inside a stage ends this image only; the exit follows from whether
    // the header is loaded.
    try {
        RunStages(state, platform, run);
    } catch (const std::exception& error) {
        LogRunError(state.programFolder, error.what());
    } catch (...) {
        LogRunError(state.programFolder, "unknown error");
    }

    if (run.loaded) {
        try {
            LogEvent(state.programFolder, " :    freeFits");
        } catch (...) {
            // Release all the same.
        }
        freeFits(&run.fits);
    }
    EndSteps(state, platform);
    state.pipelineBusy = false;
}
