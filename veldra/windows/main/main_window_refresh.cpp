// RefreshMainWindow and RefreshPendingFile: every control in line with the settings, the
// monitoring state and the history.
#include "common/file_utils.h"
#include "common/numbers.h"
#include "veldra/drift/correction.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/main/display_formats.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <optional>

namespace {

void Show(QLineEdit* box, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (box->text() != shown)
        box->setText(shown);
}

// The settings boxes: a box is rewritten only when the number it holds differs, so an equal entry
// such as "4.0" stays as typed; text that is no number (typing in progress) stays too.
void ShowNumber(QLineEdit* box, double value, const std::string& text) {
    const std::optional<double> shown = ParseLocaleNumber(box->text().toStdString());
    if (shown && *shown != value)
        box->setText(QString::fromStdString(text));
}

void ShowEntry(QLineEdit* name, QLineEdit* ra, QLineEdit* dec, QLineEdit* time,
               const HistoryEntry& entry) {
    Show(name, entry.fileName);
    Show(ra, FormatRa(entry.ra));
    Show(dec, FormatDec(entry.dec));
    Show(time, FormatImageTime(entry.time));
}

} // namespace

// The refresh writes a tick or an option like a click would: the click rule of that
// control then runs (log line, setting, save, a nested refresh).  Qt's setChecked does
// not emit clicked, so the rule is called here explicitly.
void formMain::SetTicked(QCheckBox* box, bool ticked) {
    if (box->isChecked() == ticked)
        return;
    box->setChecked(ticked);
    CheckBoxClicked(box);
}

void formMain::SelectOption(QRadioButton* option) {
    if (option->isChecked())
        return;
    option->setChecked(true);
    OptionClicked(option);
}

void formMain::RefreshMainWindow() {
    const Settings& settings = state_.settings;
    Show(txtFolder, settings.MONITOR_PATH);
    Show(txtFilter, settings.MONITOR_FILTER);

    ShowNumber(txtDebounceTime, settings.DEBOUNCE_TIME, std::to_string(settings.DEBOUNCE_TIME));
    ShowNumber(txtRaBias, settings.raBias, DefaultText(settings.raBias));
    ShowNumber(txtDecBias, state_.settings.decBias, DefaultText(state_.settings.decBias));

    SelectOption(state_.settings.MONITOR_START_STATE == 0   ? Option1
                 : state_.settings.MONITOR_START_STATE == 1 ? Option2
                                                            : Option3);

    RefreshMonitorControls();
    RefreshHistoryBoxes();
    RefreshCorrectionOptions();
    RefreshGuiderRow();
    RefreshPendingFile();
}

// Start/Stop, Pause/Resume and what may change only while monitoring is stopped.
void formMain::RefreshMonitorControls() {
    const MonitorState monitor = state_.monitor.monitorState;
    const bool stopped = monitor != MonitorState::Running && monitor != MonitorState::Paused;
    cmdStart->setEnabled(true);
    cmdStart->setText(stopped ? "Start" : "Stop");
    cmdPause->setEnabled(!stopped);
    cmdPause->setText(monitor == MonitorState::Paused ? "Resume" : "Pause");
    cmdFolder->setEnabled(stopped);
    for (QRadioButton* option : {Option1, Option2, Option3})
        option->setEnabled(stopped);
    txtDebounceTime->setEnabled(true);
    txtFilter->setEnabled(stopped);
    if (stopped)
        cmdClearHistory->setEnabled(false);
}

// "File 1:" the newest image, "File 2:" the one before, and the errors and rates
// between them.
void formMain::RefreshHistoryBoxes() {
    QLineEdit* file1[] = {txtFile1Name, txtFile1RA, txtFile1DEC, txtFile1Time};
    QLineEdit* file2[] = {txtFile2Name, txtFile2RA, txtFile2DEC, txtFile2Time};
    if (state_.drift.historyCount < 1) {
        for (QLineEdit* box : file1)
            Show(box, {});
        for (QLineEdit* box : file2)
            Show(box, {});
    } else {
        ShowEntry(txtFile1Name, txtFile1RA, txtFile1DEC, txtFile1Time,
                  state_.drift.history.at(state_.drift.newestIndex));
    }
    if (state_.drift.historyCount < 2) {
        // The "File 2:" boxes too: a history that restarts at its size limit reaches one
        // entry without passing through an emptying refresh.
        for (QLineEdit* box : file2)
            Show(box, {});
        for (QLineEdit* box : {txtRAError, txtDECError, txtRaRate, txtDecRate})
            Show(box, {});
    } else {
        ShowEntry(txtFile2Name, txtFile2RA, txtFile2DEC, txtFile2Time,
                  state_.drift.history.at(state_.drift.previousIndex));
        Show(txtRAError, FormatOneDecimal(LastRaError(state_.drift, state_.settings)));
        Show(txtDECError, FormatOneDecimal(LastDecError(state_.drift, state_.settings)));
        Show(txtRaRate, FormatOneDecimal(RaRate(state_.drift)));
        Show(txtDecRate, FormatOneDecimal(DecRate(state_.drift)));
        cmdClearHistory->setEnabled(true);
    }
}

void formMain::RefreshCorrectionOptions() {
    // Each click rule below refreshes again (nested); the settings are read afresh after
    // each one, never from a copy taken before it.
    SetTicked(chkFlip, state_.settings.FLIP_RA);

    SetTicked(chkRunCommand, state_.settings.RUN_COMMAND);
    txtCommand->setEnabled(state_.settings.RUN_COMMAND);
    PaintBox(txtCommand, state_.settings.RUN_COMMAND ? BoxColour::Window : BoxColour::Grey);
    Show(txtCommand, state_.settings.COMMAND);

    SetTicked(chkDisableCorr, state_.settings.DISABLE_CORRECTIONS);

    if (state_.settings.DISABLE_CORRECTIONS) {
        for (QCheckBox* box :
             {chkUseKalmanX, chkUseKalmanY, chkUseAccelerationX, chkUseAccelerationY})
            box->setEnabled(false);
    } else {
        chkUseKalmanX->setEnabled(true);
        chkUseKalmanY->setEnabled(true);
        SetTicked(chkUseKalmanX, state_.settings.FILTER_PREDICTION_X);
        chkUseAccelerationX->setEnabled(state_.settings.FILTER_PREDICTION_X);
        SetTicked(chkUseKalmanY, state_.settings.FILTER_PREDICTION_Y);
        chkUseAccelerationY->setEnabled(state_.settings.FILTER_PREDICTION_Y);
        SetTicked(chkUseAccelerationX,
                  state_.settings.FILTER_PREDICTION_X && state_.settings.USE_ACCELERATION_X);
        SetTicked(chkUseAccelerationY,
                  state_.settings.FILTER_PREDICTION_Y && state_.settings.USE_ACCELERATION_Y);
    }
}

void formMain::RefreshPendingFile() {
    if (state_.monitor.refreshPendingBusy != 0)
        return;
    ++state_.monitor.refreshPendingBusy;
    const FileListing& listing = state_.monitor.previousListing;
    if (state_.monitor.settling && listing.count >= 1 &&
        static_cast<size_t>(listing.count) <= listing.paths.size()) {
        Show(txtNewFile, FileNameOf(listing.paths[listing.count - 1]));
        Show(txtTimeRemaining,
             std::to_string(state_.settings.DEBOUNCE_TIME - state_.monitor.settleElapsed));
    } else {
        Show(txtNewFile, {});
        Show(txtTimeRemaining, {});
    }
    --state_.monitor.refreshPendingBusy;
}
