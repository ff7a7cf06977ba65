// veldra-screenshots [OUTPUT_FOLDER]: saves PNGs of the main window, the plate-solve
// setup dialog and the chart window, and of the main and chart windows in night mode, built from
// the real window classes with a made-up night of eight images.  Runs on the offscreen platform (no
// display needed) and keeps its settings and log in a scratch folder; nothing is sent on the
// message bus (the main window is not loaded, only refreshed).  Default output folder: the source
// tree's docs/.
#include "veldra/program_options.h"
#include "veldra/settings/numbers.h"
#include "veldra/version_info.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/night_mode.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace {

bool Save(QWidget* window, const QString& path) {
    window->show();
    QApplication::processEvents();
    if (!window->grab().save(path)) {
        std::fprintf(stderr, "veldra-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Eight five-minute exposures of a target at RA 18h 36m 56s, DEC +38 47 01, creeping by
// about 2 arcseconds per interval while the guider's correction catches up.
void FillNight(MainState& state) {
    const double ra0 = (18 + 36 / 60.0 + 56 / 3600.0) / 24 * 2 * kPi;
    const double dec0 = (38 + 47 / 60.0 + 1 / 3600.0) / 360 * 2 * kPi;
    const double arcsecond = 2 * kPi / 360 / 3600;
    const double start = 45250.9; // 2023-11-21 21:36
    state.history.resize(9);
    for (int i = 0; i < 8; ++i) {
        HistoryEntry& entry = state.history[i];
        entry.fileName = "M57_L_300s_" + std::to_string(101 + i) + ".fit";
        entry.time = start + i * 300.0 / 86400;
        entry.ra = ra0 + (2.2 * i - 0.15 * i * i) * arcsecond / std::cos(dec0);
        entry.dec = dec0 - (1.6 * i - 0.1 * i * i) * arcsecond;
        entry.raCorrection = i == 0 ? 0 : -26 + 3 * i;
        entry.decCorrection = i == 0 ? 0 : 19 - 2 * i;
        entry.exposure = 300;
    }
    state.historyCount = 8;
    state.newestIndex = 7;
    state.previousIndex = 6;
    state.currentRaCorrection = state.history[7].raCorrection;
    state.currentDecCorrection = state.history[7].decCorrection;
}

} // namespace

int main(int argc, char* argv[]) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Screenshots of veldra's windows for the README and the user guide.");
    parser.addPositionalArgument("OUTPUT_FOLDER", "Where the PNGs go (default: docs/).",
                                 "[OUTPUT_FOLDER]");
    if (const auto end =
            ParseProgramOptions(parser, ArgumentsOf(argc, argv), "veldra-screenshots", 1))
        return *end;
    const QStringList positional = parser.positionalArguments();
    const QString output =
        positional.isEmpty() ? QString(VELDRA_SOURCE_DIR "/docs") : positional.first();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    QDir().mkpath(output);
    QTemporaryDir programFolder;
    if (!programFolder.isValid())
        return 1;

    bool saved = true;
    {
        formMain window(programFolder.path().toStdString());
        MainState& state = window.state();
        window.setWindowTitle(QString::fromStdString("Veldra version " + VersionText()));
        state.settings.MONITOR_PATH = "/home/observer/images/2023-11-21";
        state.settings.MONITOR_START_STATE = 1;
        state.monitorState = MonitorState::Running;
        FillNight(state);
        window.RefreshMainWindow();
        saved = Save(&window, output + "/main-window.png") && saved;

        UpdateCharts(state.historyCount, state.history, state.settings);
        ShowChart();
        saved = Save(LoadedChartWindow(), output + "/chart-window.png") && saved;

        state.settings.PLATE_SOLVE_METHOD = 1;
        state.settings.OVERRIDE_POSITION = 1;
        state.settings.OVERRIDE_EXPOSURE = true;
        SetPwiExePath(state.settings, "/usr/bin/veldra-solve");
        formSetupPlateSolve dialog(state.settings, state.programFolder, &window);
        saved = Save(&dialog, output + "/setup-dialog.png") && saved;
        dialog.hide();

        SetNightMode(true);
        saved = Save(&window, output + "/main-window-night.png") && saved;
        saved = Save(LoadedChartWindow(), output + "/chart-window-night.png") && saved;
        SetNightMode(false);
    }
    return saved ? 0 : 1;
}
