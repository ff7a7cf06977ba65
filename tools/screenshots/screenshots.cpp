// veldra-screenshots [OUTPUT_FOLDER]: saves PNGs of the main window, the plate-solve
// setup dialog, the chart window and the timed error dialog, each in the light style, under a
// dark desktop theme and in night mode (and the folder chooser at night), built from the real
// window classes with a made-up night of eight images.  Runs on the offscreen platform (no
// display needed) and keeps its settings and log in a scratch folder; nothing is sent on the
// message bus (the main window is not loaded, only refreshed).  Default output folder: the source
// tree's docs/.
#include "common/numbers.h"
#include "veldra/program_options.h"
#include "veldra/version_info.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/file_dialogs.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/night_mode.h"
#include "veldra/windows/notice/dia_error.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStyle>
#include <QStyleFactory>
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
    state.drift.history.resize(9);
    for (int i = 0; i < 8; ++i) {
        HistoryEntry& entry = state.drift.history[i];
        entry.fileName = "M57_L_300s_" + std::to_string(101 + i) + ".fit";
        entry.time = start + i * 300.0 / 86400;
        entry.ra = ra0 + (2.2 * i - 0.15 * i * i) * arcsecond / std::cos(dec0);
        entry.dec = dec0 - (1.6 * i - 0.1 * i * i) * arcsecond;
        entry.raCorrection = i == 0 ? 0 : -26 + 3 * i;
        entry.decCorrection = i == 0 ? 0 : 19 - 2 * i;
        entry.exposure = 300;
    }
    state.drift.historyCount = 8;
    state.drift.newestIndex = 7;
    state.drift.previousIndex = 6;
    state.drift.currentRaCorrection = state.drift.history[7].raCorrection;
    state.drift.currentDecCorrection = state.drift.history[7].decCorrection;
}

// A dark desktop theme, as a dark KDE or GNOME palette hands it to Qt.
QPalette DarkTheme() {
    QPalette dark;
    const struct {
        QPalette::ColorRole role;
        QColor colour;
    } roles[] = {
        {QPalette::Window, QColor(42, 46, 50)},
        {QPalette::WindowText, QColor(232, 232, 232)},
        {QPalette::Base, QColor(27, 30, 32)},
        {QPalette::AlternateBase, QColor(35, 38, 41)},
        {QPalette::Text, QColor(232, 232, 232)},
        {QPalette::Button, QColor(49, 54, 59)},
        {QPalette::ButtonText, QColor(232, 232, 232)},
        {QPalette::Highlight, QColor(61, 174, 233)},
        {QPalette::HighlightedText, QColor(255, 255, 255)},
        {QPalette::Light, QColor(64, 70, 76)},
        {QPalette::Midlight, QColor(58, 63, 68)},
        {QPalette::Mid, QColor(80, 86, 92)},
        {QPalette::Dark, QColor(25, 27, 29)},
        {QPalette::Shadow, QColor(0, 0, 0)},
        {QPalette::ToolTipBase, QColor(49, 54, 59)},
        {QPalette::ToolTipText, QColor(232, 232, 232)},
        {QPalette::PlaceholderText, QColor(140, 140, 140)},
    };
    for (const auto& entry : roles)
        dark.setColor(entry.role, entry.colour);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
    return dark;
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

    // Each window in the light style, under a dark desktop theme and in night mode.
    const struct {
        const char* suffix;
        bool dark;
        bool night;
    } looks[] = {{"", false, false}, {"-dark", true, false}, {"-night", false, true}};
    bool saved = true;
    {
        formMain window(programFolder.path().toStdString());
        MainState& state = window.state();
        window.setWindowTitle(QString::fromStdString("Veldra version " + VersionText()));
        state.settings.MONITOR_PATH = "/home/observer/images/2023-11-21";
        state.settings.MONITOR_START_STATE = 1;
        state.monitor.monitorState = MonitorState::Running;
        FillNight(state);
        window.RefreshMainWindow();
        UpdateCharts(state.drift.historyCount, state.drift.history, state.settings);

        Settings solverSettings = state.settings;
        solverSettings.PLATE_SOLVE_METHOD = 1;
        solverSettings.OVERRIDE_POSITION = 1;
        solverSettings.OVERRIDE_EXPOSURE = true;
        SetPwiExePath(solverSettings, "/usr/bin/veldra-solve");
        formSetupPlateSolve dialog(solverSettings, state.programFolder, &window);

        for (const auto& look : looks) {
            QApplication::setStyle(QStyleFactory::create("Fusion"));
            QApplication::setPalette(look.dark ? DarkTheme()
                                               : QApplication::style()->standardPalette());
            SetNightMode(look.night);
            const QString suffix = QString(look.suffix) + ".png";
            saved = Save(&window, output + "/main-window" + suffix) && saved;
            ShowChart();
            saved = Save(LoadedChartWindow(), output + "/chart-window" + suffix) && saved;
            LoadedChartWindow()->hide();
            dialog.RefreshSetupDialog();
            saved = Save(&dialog, output + "/setup-dialog" + suffix) && saved;
            dialog.hide();
            diaError notice(&window);
            notice.ShowMessage("File: /home/observer/images/2023-11-21/M57_L_300s_109.fit did "
                               "not plate solve: no astrometry.net index files in "
                               "/usr/share/astrometry: install astrometry-data-tycho2-10-19");
            saved = Save(&notice, output + "/error-dialog" + suffix) && saved;
            notice.hide();
            if (look.night) {
                const auto chooser = MakeBrowseForFolderDialog(&window, "Select A Directory",
                                                               QDir::homePath().toStdString());
                saved = Save(chooser.get(), output + "/folder-chooser-night.png") && saved;
                chooser->hide();
            }
            SetNightMode(false);
        }
    }
    return saved ? 0 : 1;
}
