// The main window as used at the telescope: help inside the program, windows that keep
// their place and size, and Start's problems shown under the frames.
#include "common/file_utils.h"
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "tests/windows_test_main_fixture.h"
#include "veldra/version_info.h"
#include "veldra/windows/about_box.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/night_mode.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"
#include "veldra/windows/window_places.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class TelescopeTest : public LoadedMainWindowTest {
  protected:
    void TearDown() override {
        window.reset();
        SetNightMode(false);
        killme();
    }
    // Eight measured images, as a night of updates leaves the window.
    static void FillNight(MainState& state) {
        state.drift.history.assign(9, HistoryEntry{});
        for (int i = 0; i < 8; ++i) {
            HistoryEntry& entry = state.drift.history[static_cast<size_t>(i)];
            entry.fileName = "NGC7000_Ha_600s_20261209_" + std::to_string(230501 + i) + ".fits";
            entry.time = 46365.9 + i * 600.0 / 86400;
            entry.ra = 5.49 + i * 1e-5;
            entry.dec = -0.77 - i * 2e-5;
            entry.raCorrection = -1234.5 + i;
            entry.decCorrection = 2345.6 - i;
        }
        state.drift.historyCount = 8;
        state.drift.newestIndex = 7;
        state.drift.previousIndex = 6;
        state.drift.currentRaCorrection = -1227.5;
        state.drift.currentDecCorrection = 2338.6;
    }
};

// The names of the window's controls that the user works with but that have no tooltip.
QStringList WithoutToolTip(const QWidget* window, const std::vector<const QWidget*>& skipped) {
    QStringList found;
    for (const QWidget* control : window->findChildren<QWidget*>()) {
        const bool input = qobject_cast<const QLineEdit*>(control) != nullptr ||
                           qobject_cast<const QAbstractButton*>(control) != nullptr ||
                           qobject_cast<const QComboBox*>(control) != nullptr;
        const bool skip = std::find(skipped.begin(), skipped.end(), control) != skipped.end();
        if (input && !skip && !control->objectName().startsWith("qt_") &&
            control->toolTip().isEmpty())
            found.append(control->objectName());
    }
    return found;
}

TEST_F(TelescopeTest, EveryControlSaysWhatItDoesAndWhichKeyItSets) {
    formMain& w = LoadWindow();
    // The focus holder and the never-shown flip box are no controls for the user.
    EXPECT_EQ(WithoutToolTip(&w, {w.txtDummy, w.chkFlip}), QStringList());
    EXPECT_TRUE(w.txtDebounceTime->toolTip().contains("DEBOUNCE_TIME"));
    EXPECT_TRUE(w.Option2->toolTip().contains("MONITOR_START_STATE 1"));
    formSetupPlateSolve setup(w.state().settings, folder.path, &w);
    EXPECT_EQ(WithoutToolTip(&setup, {}), QStringList());
    EXPECT_TRUE(setup.txtImageScale->toolTip().contains("IMAGE_SCALE"));
    EXPECT_TRUE(setup.cmdChooser->toolTip().contains("ASCOM_DRIVER_NAME"));
}

TEST_F(TelescopeTest, AboutNamesVersionsLicenceAndFilesAndF1FindsTheGuide) {
    formMain& w = LoadWindow();
    const QString about = MakeAboutBox(&w, folder.path)->text();
    EXPECT_TRUE(about.startsWith(QString::fromStdString("Veldra " + VersionText())));
    EXPECT_TRUE(
        about.contains(QRegularExpression("hdrlib \\d+\\.\\d+\\.\\d+, CFITSIO \\d+\\.\\d+")))
        << about.toStdString();
    EXPECT_TRUE(about.contains("Licence: "));
    EXPECT_TRUE(about.contains(QString::fromStdString(folder.file("veldra.ini"))));
    EXPECT_TRUE(about.contains(QString::fromStdString(folder.file("debug.txt"))));
    // Installed beside bin/ as share/doc/veldra/user-guide.md, else the source tree's.
    const std::string guide = UserGuidePath();
    EXPECT_EQ(FileNameOf(guide), "user-guide.md");
    EXPECT_TRUE(guide.find("/share/doc/veldra/") != std::string::npos ||
                guide.find("/docs/") != std::string::npos)
        << guide;
}

TEST_F(TelescopeTest, CtrlQEndsVeldraAsClosingTheWindowDoes) {
    formMain& w = LoadWindow();
    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.isVisible());
    // The window's place was stored on the way out.
    EXPECT_TRUE(FileExists(folder.file(kWindowPlacesFileName)));
}

TEST_F(TelescopeTest, WindowsReopenWhereTheyWereLeftAndTheChartBesideTheMain) {
    formMain& w = LoadWindow();
    w.move(40, 30);
    ShowChart();
    frmChart* chart = LoadedChartWindow();
    // Beside the main window, not over its title bar (this small offscreen screen has no
    // room beside it).
    EXPECT_GT(chart->frameGeometry().top(), w.frameGeometry().top() + 40);
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(BesidePlace(QRect(10, 20, 1000, 700), QSize(600, 400), screen), QPoint(1018, 20));
    EXPECT_EQ(BesidePlace(QRect(10, 20, 1400, 600), QSize(600, 400), screen), QPoint(10, 628));
    EXPECT_EQ(BesidePlace(QRect(10, 20, 1400, 900), QSize(600, 400), screen), QPoint(1320, 320));
    chart->setGeometry(300, 200, chart->width() + 40, chart->height() + 30);
    const QRect chartPlace = chart->geometry();
    w.resize(w.width() + 25, w.height());
    const QRect mainPlace = w.geometry();
    w.close();
    window.reset();

    formMain& again = LoadWindow();
    EXPECT_EQ(again.geometry(), mainPlace);
    ShowChart();
    EXPECT_EQ(LoadedChartWindow()->geometry(), chartPlace);
}

TEST_F(TelescopeTest, TheMainWindowNeverGrowsPastItsFirstSize) {
    for (const char* style : {"Fusion", "Windows"}) {
        std::unique_ptr<QStyle> kept(QStyleFactory::create(style));
        if (!kept)
            continue;
        QApplication::setStyle(QStyleFactory::create(style));
        formMain& w = LoadWindow();
        QApplication::processEvents();
        const QSize first = w.size();
        FillNight(w.state());
        w.RefreshMainWindow();
        w.ShowStartProblems({"PHD2 at observatory.example.org:4400 does not answer: the shift "
                             "waits until it does",
                             "Plate solver not ready: no astrometry.net index files in "
                             "/usr/share/astrometry: install astrometry-data-tycho2-10-19 or "
                             "name another folder with INDEX_DIR in veldra-solve.ini"});
        w.ShowWriteFailure("Could not save the settings to /home/observer/.config/veldra/"
                           "veldra.ini");
        for (bool night : {true, false, true}) {
            w.SetNightMode(night);
            QApplication::processEvents();
            EXPECT_LE(w.width(), first.width()) << style << " night " << night;
            EXPECT_LE(w.height(), first.height()) << style << " night " << night;
        }
        w.SetNightMode(false);
        window.reset();
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
}

TEST_F(TelescopeTest, StartTellsAMissingIndexUnderTheFramesAndStillStarts) {
    // The real veldra-solve, asked with --check, finds no index files in an empty folder.
    const TempDir config;
    const TempDir indexes;
    std::filesystem::create_directory(config.file("veldra"));
    WriteFile(config.file("veldra/veldra-solve.ini"), "INDEX_DIR=" + indexes.path + "\n");
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = before != nullptr ? before : "";
    setenv("XDG_CONFIG_HOME", config.path.c_str(), 1);
    formMain& w = LoadWindow();
    MainState& state = w.state();
    state.settings.MONITOR_PATH = folder.path;
    state.settings.PLATE_SOLVE_METHOD = 1;
    SetPwiExePath(state.settings, JoinPath(ProgramFolder(), "veldra-solve")); // beside the test
    w.cmdStart->click();
    if (before != nullptr)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Running);
    ASSERT_FALSE(w.lblStartNotice->isHidden());
    EXPECT_TRUE(w.lblStartNotice->text().startsWith(QString::fromStdString(
        "Plate solver not ready: no astrometry.net index files in " + indexes.path)))
        << w.lblStartNotice->text().toStdString();
    w.cmdStart->click(); // Stop

    state.settings.MONITOR_PATH = folder.file("not-there");
    w.cmdStart->click();
    EXPECT_EQ(state.monitor.monitorState, MonitorState::Stopped);
    EXPECT_TRUE(w.lblStartNotice->text().startsWith("The folder "));
}

} // namespace
