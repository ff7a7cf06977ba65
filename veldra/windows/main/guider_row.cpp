// The "Guider" row of the Shift Status frame: which guider receives the corrections (the
// D-Bus broadcast or PHD2 at HOST:PORT) and the state of the PHD2 connection.  The choice
// is saved as GUIDER and can change only while monitoring is stopped: Start sends the
// new guider everything it needs.
#include "veldra/guider/guider_choice.h"
#include "veldra/settings/activity_log.h"
#include "veldra/windows/control_factory.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// "HOST:PORT" of a PHD2 choice, as the address box shows it.
QString AddressText(const GuiderChoice& choice) {
    return QString::fromStdString(GuiderChoiceText(choice)).mid(5);
}

} // namespace

void formMain::BuildGuiderRow(QGridLayout* shift, int row) {
    cmbGuider = MakeCombo(frameShiftStatus, "cmbGuider", "Guider");
    cmbGuider->addItems({"D-Bus broadcast", "PHD2"});
    txtGuiderAddress =
        MakeBox(frameShiftStatus, "txtGuiderAddress", "PHD2 host and port", "localhost:4400");
    lblGuiderState = MakeLabel(frameShiftStatus, "D-Bus broadcast", nullptr, "lblGuiderState");
    lblGuiderState->setAccessibleName("Guider state");
    lblGuiderState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    shift->addWidget(MakeLabel(frameShiftStatus, "Guider", cmbGuider), row, 0);
    shift->addWidget(cmbGuider, row, 1, 1, 2);
    shift->addWidget(txtGuiderAddress, row, 3, 1, 2);
    shift->addWidget(lblGuiderState, row + 1, 0, 1, 5);
    // Only PHD2 announces its dithers, so the D-Bus broadcast does not offer it.
    chkDitherAware = MakeCheck(frameShiftStatus, "chkDitherAware", "Dither aware",
                               "Dither aware: take PHD2's dithers out of the drift");
    shift->addWidget(chkDitherAware, row + 2, 0, 1, 5);
    SetTabOrder({Command1, cmbGuider, txtGuiderAddress, chkDitherAware});

    connect(cmbGuider, &QComboBox::activated, this, [this] { GuiderRowChanged(); });
    connect(txtGuiderAddress, &QLineEdit::editingFinished, this, [this] { GuiderRowChanged(); });
    connect(chkDitherAware, &QCheckBox::clicked, this, [this](bool on) {
        state_.settings.DITHER_AWARE = on;
        LogEvent(state_.programFolder, std::string(" : Dither aware: ") + (on ? "on" : "off"));
        SaveSettings(state_.settings, state_.programFolder);
    });
    guider_.programFolder = state_.programFolder;
    guider_.dithers = &state_.dithers;
    guider_.callbacks.statusChanged = [this] { RefreshGuiderRow(); };
}

void formMain::SetCommandLineGuider(const GuiderChoice& choice) {
    commandLineGuider_ = choice;
}

void formMain::StartGuider() {
    Settings stored;
    LoadSettings(stored, state_.programFolder);
    guider_.cosDec = stored.PHD2_COS_DEC;
    ChooseGuider(guider_, ConfiguredGuider(stored, commandLineGuider_, state_.programFolder));
    RefreshGuiderRow();
}

// The user's choice: an address that does not read as HOST:PORT is put back as it was.
void formMain::GuiderRowChanged() {
    const std::optional<GuiderChoice> address =
        ParseGuiderChoice("phd2:" + txtGuiderAddress->text().trimmed().toStdString());
    GuiderChoice choice = address ? *address : guider_.choice;
    choice.kind =
        cmbGuider->currentIndex() == 1 ? GuiderChoice::Kind::Phd2 : GuiderChoice::Kind::DBus;
    const std::string text = GuiderChoiceText(choice);
    if (text != GuiderChoiceText(guider_.choice)) {
        commandLineGuider_.reset();
        state_.settings.GUIDER = text;
        if (choice.kind == GuiderChoice::Kind::DBus)
            LogEvent(state_.programFolder, " : Guider: D-Bus broadcast");
        ChooseGuider(guider_, choice);
        SaveSettings(state_.settings, state_.programFolder);
    }
    RefreshGuiderRow();
}

void formMain::RefreshGuiderRow() {
    const bool phd2 = guider_.choice.kind == GuiderChoice::Kind::Phd2;
    cmbGuider->setCurrentIndex(phd2 ? 1 : 0);
    if (!txtGuiderAddress->hasFocus() && phd2)
        txtGuiderAddress->setText(AddressText(guider_.choice));
    const bool stopped = state_.monitor.monitorState == MonitorState::Stopped;
    cmbGuider->setEnabled(stopped);
    txtGuiderAddress->setEnabled(stopped && phd2);
    chkDitherAware->setVisible(phd2);
    chkDitherAware->setChecked(state_.settings.DITHER_AWARE);
    const QString status = QString::fromStdString(GuiderStatusText(guider_));
    if (lblGuiderState->text() != status)
        lblGuiderState->setText(status);
}
