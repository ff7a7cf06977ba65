// The main window's input handlers and their validation.
#include "common/numbers.h"
#include "veldra/drift/bias_rule.h"
#include "veldra/drift/history.h"
#include "veldra/monitor/folder_monitor.h"
#include "veldra/monitor/monitoring_control.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/entry_rules.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/control_factory.h"
#include "veldra/windows/file_dialogs.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

struct CheckRule {
    bool Settings::*setting;
    const char* ticked; // log message, nullptr: none
    const char* cleared;
};

} // namespace

void formMain::ConnectHandlers() {
    connect(txtDebounceTime, &QLineEdit::textChanged, this, [this] { DebounceTimeChanged(); });
    connect(txtRaBias, &QLineEdit::textChanged, this,
            [this] { BiasChanged(txtRaBias, state_.settings.raBias); });
    connect(txtDecBias, &QLineEdit::textChanged, this,
            [this] { BiasChanged(txtDecBias, state_.settings.decBias); });
    for (QLineEdit* box : {txtDebounceTime, txtRaBias, txtDecBias})
        box->installEventFilter(this);
    connect(txtFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        state_.settings.MONITOR_FILTER = text.toStdString();
        RefreshMainWindow();
    });
    connect(txtCommand, &QLineEdit::textChanged, this,
            [this](const QString& text) { state_.settings.COMMAND = text.toStdString(); });

    for (QCheckBox* box : {chkRunCommand, chkUseKalmanX, chkUseKalmanY, chkUseAccelerationX,
                           chkUseAccelerationY, chkDisableCorr, chkFlip})
        connect(box, &QCheckBox::clicked, this, [this, box] { CheckBoxClicked(box); });
    for (QRadioButton* option : {Option1, Option2, Option3})
        connect(option, &QRadioButton::clicked, this, [this, option] { OptionClicked(option); });

    connect(cmdFolder, &QPushButton::clicked, this, [this] { FolderClicked(); });
    connect(cmdStart, &QPushButton::clicked, this, [this] { ClickStart(state_, platform_); });
    connect(cmdPause, &QPushButton::clicked, this,
            [this] { ClickPause(state_.monitor, state_.programFolder, platform_); });
    connect(cmdClearHistory, &QPushButton::clicked, this,
            [this] { ClearHistory(state_.drift, state_.programFolder, platform_); });
    connect(cmdSetupPlateSolve, &QPushButton::clicked, this, [this] { ShowSetupPlateSolve(); });
    connect(Command1, &QPushButton::clicked, this, [] { ShowChart(); });
    connect(Timer1, &QTimer::timeout, this, [this] {
        TimerTick(state_.monitor, state_.settings, state_.programFolder, platform_);
    });
}

void formMain::CheckBoxClicked(QCheckBox* box) {
    const CheckRule rule =
        box == chkRunCommand
            ? CheckRule{&Settings::RUN_COMMAND, " : run command enabled", " : run command disabled"}
        : box == chkUseKalmanX ? CheckRule{&Settings::FILTER_PREDICTION_X, " : Filter X enabled",
                                           " : Filter X disabled"}
        : box == chkUseKalmanY ? CheckRule{&Settings::FILTER_PREDICTION_Y, " : Filter Y enabled",
                                           " : Filter Y disabled"}
        : box == chkUseAccelerationX
            ? CheckRule{&Settings::USE_ACCELERATION_X, " : acceleration X enabled",
                        " : acceleration X disabled"}
        : box == chkUseAccelerationY
            ? CheckRule{&Settings::USE_ACCELERATION_Y, " : acceleration Y enabled",
                        " : acceleration Y disabled"}
        : box == chkDisableCorr ? CheckRule{&Settings::DISABLE_CORRECTIONS,
                                            " : disablecorr enabled", " : disablecorr disabled"}
                                : CheckRule{&Settings::FLIP_RA, nullptr, nullptr};
    const bool ticked = box->isChecked();
    if (rule.ticked != nullptr)
        LogEvent(state_.programFolder, ticked ? rule.ticked : rule.cleared);
    state_.settings.*rule.setting = ticked;
    SaveSettings(state_.settings, state_.programFolder);
    RefreshMainWindow();
}

void formMain::OptionClicked(QRadioButton* option) {
    state_.settings.MONITOR_START_STATE = option == Option1 ? 0 : option == Option2 ? 1 : 2;
    SaveSettings(state_.settings, state_.programFolder);
    RefreshMainWindow();
}

void formMain::DebounceTimeChanged() {
    const std::optional<int16_t> seconds =
        AcceptDebounceTimeText(txtDebounceTime->text().toStdString());
    if (!seconds) {
        PaintBox(txtDebounceTime, BoxColour::Refused);
        return;
    }
    state_.settings.DEBOUNCE_TIME = *seconds;
    PaintBox(txtDebounceTime, BoxColour::Window);
    RefreshMainWindow();
}

void formMain::BiasChanged(QLineEdit* box, double& bias) {
    if (!AcceptBiasText(box->text().toStdString(), bias)) {
        PaintBox(box, BoxColour::Refused);
        return;
    }
    PaintBox(box, BoxColour::Window);
    RefreshMainWindow();
}

void formMain::NumberBoxLeft(QLineEdit* box) {
    PaintBox(box, BoxColour::Window);
    const std::string text =
        box == txtDebounceTime
            ? std::to_string(state_.settings.DEBOUNCE_TIME)
            : DefaultText(box == txtRaBias ? state_.settings.raBias : state_.settings.decBias);
    box->setText(QString::fromStdString(text));
}

bool formMain::eventFilter(QObject* watched, QEvent* event) {
    if (LeavesBox(event))
        NumberBoxLeft(static_cast<QLineEdit*>(watched));
    return QWidget::eventFilter(watched, event);
}

void formMain::FolderClicked() {
    const std::string folder =
        BrowseForFolder(this, "Select A Directory", state_.settings.MONITOR_PATH);
    if (folder.empty())
        return;
    state_.settings.MONITOR_PATH = folder;
    SaveSettings(state_.settings, state_.programFolder);
    RefreshMainWindow();
}
