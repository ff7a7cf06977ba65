// The main window offscreen: start-up, the refresh, the input rules and the click rule.
#include "tests/spoken_name.h"
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "tests/windows_test_main_fixture.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/settings/settings.h"
#include "veldra/version_info.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/display_formats.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

class MainWindowTest : public LoadedMainWindowTest {
  protected:
    // A settings file beside the "program" before the window loads.
    void WriteSettings(const Settings& settings) {
        WriteFile(folder.file("veldra.ini"), SettingsFileText(settings));
    }
    std::vector<std::string> Log() { return LogMessages(folder.path); }
    // The position of message in the log, or -1.
    long LogIndex(const std::string& message) {
        const auto log = Log();
        const auto found = std::find(log.begin(), log.end(), message);
        return found == log.end() ? -1 : found - log.begin();
    }
};

TEST_F(MainWindowTest, StartUpLogsTheRefreshsClicksBeforeTheVersionLine) {
    Settings settings;
    settings.RUN_COMMAND = true;
    settings.FILTER_PREDICTION_Y = false;
    settings.MONITOR_START_STATE = 0;
    WriteSettings(settings);
    formMain& w = LoadWindow();

    EXPECT_EQ(w.windowTitle().toStdString(), "Veldra version " + VersionText());
    EXPECT_EQ(w.focusWidget(), w.txtDummy);
    const long starting = LogIndex(" : Starting Veldra version " + VersionText());
    ASSERT_GE(starting, 0);
    for (const char* click :
         {" : run command enabled", " : Filter X enabled", " : acceleration X enabled"}) {
        const long index = LogIndex(click);
        EXPECT_GE(index, 0) << click;
        EXPECT_LT(index, starting) << click;
    }
    // Boxes the loaded settings leave unticked produce no click.
    EXPECT_EQ(LogIndex(" : Filter Y enabled"), -1);
    EXPECT_EQ(LogIndex(" : disablecorr disabled"), -1);
    EXPECT_TRUE(w.Option1->isChecked());
    EXPECT_TRUE(w.chkRunCommand->isChecked());
    EXPECT_TRUE(w.txtCommand->isEnabled());
    EXPECT_EQ(SavedSettings().MONITOR_START_STATE, 0);
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_FALSE(w.Timer1->isActive());
}

TEST_F(MainWindowTest, ControlsAsDesigned) {
    formMain& w = LoadWindow();
    EXPECT_FALSE(w.chkFlip->isVisible());
    EXPECT_FALSE(w.chkFlip->isChecked());
    for (QLineEdit* box :
         {w.txtFolder, w.txtNewFile, w.txtTimeRemaining, w.txtFile1Name, w.txtFile1RA,
          w.txtFile1DEC, w.txtFile1Time, w.txtFile2Name, w.txtFile2RA, w.txtFile2DEC,
          w.txtFile2Time, w.txtRAError, w.txtDECError, w.txtRaRate, w.txtDecRate}) {
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
        EXPECT_EQ(BoxBackground(box), ScrollBarGrey()) << box->objectName().toStdString();
    }
    // RUN_COMMAND is false by default: the command box is greyed the same way.
    EXPECT_FALSE(w.txtCommand->isEnabled());
    EXPECT_EQ(BoxBackground(w.txtCommand), ScrollBarGrey());
    EXPECT_EQ(w.frameFileMonitor->title(), "File Monitor Config");
    EXPECT_EQ(w.frameShiftStatus->title(), "Shift Status");

    // Every control a user can reach has a name for screen readers, and a unique object
    // name for tests.
    QStringList names;
    for (QWidget* control : w.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(control) || qobject_cast<QAbstractButton*>(control) ||
            qobject_cast<QComboBox*>(control)) {
            EXPECT_FALSE(SpokenName(control).isEmpty()) << control->objectName().toStdString();
            EXPECT_FALSE(names.contains(control->objectName()))
                << control->objectName().toStdString();
            names.append(control->objectName());
        }
    }
    // 37 of the design, the Guider row's choice, address and dither awareness, and the
    // user guide and About buttons.
    EXPECT_EQ(names.size(), 42);
}

TEST_F(MainWindowTest, RefreshFollowsTheMonitoringState) {
    formMain& w = LoadWindow();
    struct Row {
        MonitorState state;
        const char* start;
        bool pauseEnabled;
        const char* pause;
        bool stoppedControls;
    };
    for (const Row& row : {Row{MonitorState::Stopped, "Start", false, "Pause", true},
                           Row{MonitorState::Running, "Stop", true, "Pause", false},
                           Row{MonitorState::Paused, "Stop", true, "Resume", false}}) {
        SCOPED_TRACE(row.start + std::string("/") + row.pause);
        w.cmdClearHistory->setEnabled(true);
        w.state().monitor.monitorState = row.state;
        w.RefreshMainWindow();
        EXPECT_TRUE(w.cmdStart->isEnabled());
        // Announced as shown.
        EXPECT_EQ(SpokenName(w.cmdStart).toStdString(), row.start);
        EXPECT_EQ(w.cmdPause->isEnabled(), row.pauseEnabled);
        EXPECT_EQ(SpokenName(w.cmdPause).toStdString(), row.pause);
        EXPECT_EQ(w.cmdFolder->isEnabled(), row.stoppedControls);
        EXPECT_EQ(w.Option1->isEnabled(), row.stoppedControls);
        EXPECT_EQ(w.Option3->isEnabled(), row.stoppedControls);
        EXPECT_EQ(w.txtFilter->isEnabled(), row.stoppedControls);
        EXPECT_TRUE(w.txtDebounceTime->isEnabled());
        // Disabled when stopped, otherwise left as it was (with fewer than two images).
        EXPECT_EQ(w.cmdClearHistory->isEnabled(), !row.stoppedControls);
    }
}

TEST_F(MainWindowTest, SettleTimeBoxRefusesInRedAndShowsTheValueInForceOnLeaving) {
    formMain& w = LoadWindow();
    for (const char* refused : {"abc", "-1", "40000"}) {
        PasteInto(w.txtDebounceTime, refused);
        EXPECT_EQ(BoxBackground(w.txtDebounceTime), kRefusedRed) << refused;
        EXPECT_EQ(w.state().settings.DEBOUNCE_TIME, 4) << refused;
    }
    LeaveBox(w.txtDebounceTime);
    EXPECT_EQ(w.txtDebounceTime->text(), "4");
    EXPECT_NE(BoxBackground(w.txtDebounceTime), kRefusedRed);

    PasteInto(w.txtDebounceTime, "0");
    EXPECT_EQ(w.state().settings.DEBOUNCE_TIME, 0);
    EXPECT_NE(BoxBackground(w.txtDebounceTime), kRefusedRed);
    PasteInto(w.txtDebounceTime, "4.0");
    EXPECT_EQ(w.state().settings.DEBOUNCE_TIME, 4);
    EXPECT_EQ(w.txtDebounceTime->text(), "4.0"); // an equal number stays as typed
    PasteInto(w.txtDebounceTime, "6.5");
    EXPECT_EQ(w.state().settings.DEBOUNCE_TIME, 6); // halves to even
    LeaveBox(w.txtDebounceTime);
    EXPECT_EQ(w.txtDebounceTime->text(), "6");
    // Typing saves nothing.
    EXPECT_EQ(SavedSettings().DEBOUNCE_TIME, 4);
}

TEST_F(MainWindowTest, BiasBoxesAcceptUpToThreeThousand) {
    formMain& w = LoadWindow();
    PasteInto(w.txtRaBias, "3000");
    EXPECT_EQ(w.state().settings.raBias, 3000);
    EXPECT_NE(BoxBackground(w.txtRaBias), kRefusedRed);
    PasteInto(w.txtRaBias, "3000.1");
    EXPECT_EQ(BoxBackground(w.txtRaBias), kRefusedRed);
    EXPECT_EQ(w.state().settings.raBias, 3000);
    LeaveBox(w.txtRaBias);
    EXPECT_EQ(w.txtRaBias->text(), "3000");
    PasteInto(w.txtDecBias, "-12.5");
    EXPECT_EQ(w.state().settings.decBias, -12.5);
}

TEST_F(MainWindowTest, IncomingSetShiftWritesTheBiasBoxes) {
    formMain& w = LoadWindow();
    ASSERT_TRUE(BusConnected()) << "the test runs inside its own D-Bus session";
    BusPost("VELDRA_SetShift", 10250, 9900);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w.state().settings.decBias == -100; }));
    EXPECT_EQ(w.txtRaBias->text(), "250");
    EXPECT_EQ(w.txtDecBias->text(), "-100");
    EXPECT_EQ(w.state().settings.raBias, 250);

    // 15000 stands for a bias of 5000: written, marked, not adopted.
    w.platform().setBiasTexts("5000", "-100");
    EXPECT_EQ(w.txtRaBias->text(), "5000");
    EXPECT_EQ(BoxBackground(w.txtRaBias), kRefusedRed);
    EXPECT_EQ(w.state().settings.raBias, 250);
}

TEST_F(MainWindowTest, UntickingFilterPredictionUnticksAndStoresAcceleration) {
    formMain& w = LoadWindow(); // defaults: filter X and acceleration X ticked
    ASSERT_TRUE(w.chkUseAccelerationX->isChecked());
    const size_t before = Log().size();

    w.chkUseKalmanX->click();
    EXPECT_FALSE(w.state().settings.FILTER_PREDICTION_X);
    EXPECT_FALSE(w.state().settings.USE_ACCELERATION_X);
    EXPECT_FALSE(w.chkUseAccelerationX->isChecked());
    EXPECT_FALSE(w.chkUseAccelerationX->isEnabled());
    const Settings saved = SavedSettings();
    EXPECT_FALSE(saved.FILTER_PREDICTION_X);
    EXPECT_FALSE(saved.USE_ACCELERATION_X);
    const std::vector<std::string> expected = {" : Filter X disabled",
                                               " : acceleration X disabled"};
    const auto log = Log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + before, log.end()), expected);

    w.chkUseKalmanX->click();
    EXPECT_TRUE(w.state().settings.FILTER_PREDICTION_X);
    EXPECT_TRUE(w.chkUseAccelerationX->isEnabled());
    EXPECT_FALSE(w.chkUseAccelerationX->isChecked());
    EXPECT_FALSE(w.state().settings.USE_ACCELERATION_X);
}

TEST_F(MainWindowTest, DisablingCorrectionsGreysTheFilterBoxesAndKeepsTheirTicks) {
    formMain& w = LoadWindow();
    QCheckBox* filters[] = {w.chkUseKalmanX, w.chkUseKalmanY, w.chkUseAccelerationX,
                            w.chkUseAccelerationY};
    const bool ticks[] = {true, true, true, false}; // the defaults
    w.chkDisableCorr->click();
    EXPECT_EQ(Log().back(), " : disablecorr enabled");
    EXPECT_TRUE(SavedSettings().DISABLE_CORRECTIONS);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(filters[i]->isEnabled()) << i;
        EXPECT_EQ(filters[i]->isChecked(), ticks[i]) << i;
    }
    w.chkDisableCorr->click();
    EXPECT_TRUE(w.chkUseKalmanX->isEnabled());
    EXPECT_TRUE(w.chkUseKalmanY->isEnabled());
    EXPECT_TRUE(w.chkUseAccelerationX->isEnabled());
    EXPECT_TRUE(w.chkUseAccelerationY->isEnabled());
}

TEST_F(MainWindowTest, OptionsAndCommandBoxFollowTheirClicks) {
    formMain& w = LoadWindow();
    w.Option2->click();
    EXPECT_EQ(w.state().settings.MONITOR_START_STATE, 1);
    EXPECT_EQ(SavedSettings().MONITOR_START_STATE, 1);
    w.chkRunCommand->click();
    EXPECT_EQ(Log().back(), " : run command enabled");
    EXPECT_TRUE(w.txtCommand->isEnabled());
    EXPECT_NE(BoxBackground(w.txtCommand), ScrollBarGrey());
    PasteInto(w.txtCommand, "convert %f");
    EXPECT_EQ(w.state().settings.COMMAND, "convert %f");
    PasteInto(w.txtFilter, "*.fits");
    EXPECT_EQ(w.state().settings.MONITOR_FILTER, "*.fits");
}

TEST_F(MainWindowTest, HistoryBoxesShowTheNewestTwoImages) {
    formMain& w = LoadWindow();
    MainState& state = w.state();
    state.drift.history.resize(3);
    state.drift.history[0] =
        HistoryEntry{"a.fit", 41235.5, 1.0, 0.5, 0, 0, 300, 0, 0, std::nullopt};
    state.drift.history[1] =
        HistoryEntry{"b.fit", 41235.6, 1.0001, 0.5001, 12.4, -3.5, 300, 0, 0, std::nullopt};
    state.drift.historyCount = 1;
    state.drift.newestIndex = 0;
    w.RefreshMainWindow();
    EXPECT_EQ(w.txtFile1Name->text(), "a.fit");
    EXPECT_EQ(w.txtFile1RA->text().toStdString(), FormatRa(1.0));
    EXPECT_EQ(w.txtFile1DEC->text().toStdString(), FormatDec(0.5));
    EXPECT_EQ(w.txtFile1Time->text().toStdString(), FormatImageTime(41235.5));
    for (QLineEdit* box : {w.txtFile2Name, w.txtFile2RA, w.txtFile2DEC, w.txtFile2Time,
                           w.txtRAError, w.txtDECError, w.txtRaRate, w.txtDecRate})
        EXPECT_TRUE(box->text().isEmpty()) << box->objectName().toStdString();

    state.drift.historyCount = 2;
    state.drift.newestIndex = 1;
    state.drift.previousIndex = 0;
    state.drift.currentRaCorrection = 12.4;
    state.drift.currentDecCorrection = -3.5;
    w.RefreshMainWindow();
    EXPECT_EQ(w.txtFile1Name->text(), "b.fit");
    EXPECT_EQ(w.txtFile2Name->text(), "a.fit");
    // RA error: 0.0001 rad * cos(0.5001) in arcseconds = 18.1; DEC: 0.0001 rad = 20.6.
    EXPECT_EQ(w.txtRAError->text(), "18.1");
    EXPECT_EQ(w.txtDECError->text(), "20.6");
    EXPECT_EQ(w.txtRaRate->text(), "12.4");
    EXPECT_EQ(w.txtDecRate->text(), "-3.5");
    EXPECT_TRUE(w.cmdClearHistory->isEnabled());

    // One image after a restarted history: "File 2:" does not keep the older image.
    state.drift.historyCount = 1;
    state.drift.newestIndex = 2;
    state.drift.history[2] =
        HistoryEntry{"c.fit", 41236.0, 1.0, 0.5, 0, 0, 300, 0, 0, std::nullopt};
    w.RefreshMainWindow();
    EXPECT_EQ(w.txtFile1Name->text(), "c.fit");
    EXPECT_TRUE(w.txtFile2Name->text().isEmpty());
}

TEST_F(MainWindowTest, PendingFileShowsTheSettlingFileAndIsNotReentered) {
    formMain& w = LoadWindow();
    MainState& state = w.state();
    state.monitor.settling = true;
    state.monitor.settleElapsed = 1;
    state.monitor.previousListing.paths = {"/images/a.fit", "/images/b.fit"};
    state.monitor.previousListing.times = {1, 2};
    state.monitor.previousListing.count = 2;
    state.monitor.refreshPendingBusy = 1; // as if a refresh were running beneath this call
    w.RefreshPendingFile();
    EXPECT_TRUE(w.txtNewFile->text().isEmpty());
    state.monitor.refreshPendingBusy = 0;
    w.RefreshPendingFile();
    EXPECT_EQ(w.txtNewFile->text(), "b.fit");
    EXPECT_EQ(w.txtTimeRemaining->text(), "3");
    EXPECT_EQ(state.monitor.refreshPendingBusy, 0);
    state.monitor.settling = false;
    w.RefreshPendingFile();
    EXPECT_TRUE(w.txtNewFile->text().isEmpty());
    EXPECT_TRUE(w.txtTimeRemaining->text().isEmpty());
}

TEST_F(MainWindowTest, StartProcessesTheNewestTwoImagesThroughTheRealPipeline) {
    TempDir watched;
    WriteDriftingImages(watched, 2);
    Settings settings;
    settings.MONITOR_PATH = watched.path;
    settings.MONITOR_START_STATE = 0; // the last two files
    WriteSettings(settings);
    formMain& w = LoadWindow();

    w.cmdStart->click();
    EXPECT_EQ(w.state().drift.historyCount, 2);
    EXPECT_EQ(w.txtFile1Name->text(), "light_1.fit");
    EXPECT_EQ(w.txtFile2Name->text(), "light_0.fit");
    EXPECT_FALSE(w.txtRAError->text().isEmpty());
    EXPECT_FALSE(w.txtRaRate->text().isEmpty());
    EXPECT_EQ(w.cmdStart->text(), "Stop");
    EXPECT_TRUE(w.cmdClearHistory->isEnabled());
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_NE(LoadedChartWindow(), nullptr); // the pipeline updated the (hidden) charts

    w.cmdStart->click();
    EXPECT_EQ(Log().back(), " : Stop monitoring");
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(w.cmdStart->text(), "Start");
}

TEST_F(MainWindowTest, EndingSavesTheSettingsAndLogsLast) {
    formMain& w = LoadWindow();
    PasteInto(w.txtDebounceTime, "9");
    w.close();
    window.reset();
    EXPECT_EQ(SavedSettings().DEBOUNCE_TIME, 9);
    EXPECT_EQ(Log().back(), " : Ending Veldra");
}

} // namespace
