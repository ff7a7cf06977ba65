// The controls of the main window and their places.  Created in reading order, with the
// tab order set to match, so keyboard and screen-reader users meet them as they see them.
#include "veldra/monitor/folder_monitor.h"
#include "veldra/windows/control_factory.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

void formMain::BuildControls() {
    setObjectName("formMain");
    setWindowTitle("Flexure-Shift Compensation");

    // The box that holds the keyboard focus at start, so that no settings box has it.
    txtDummy = MakeBox(this, "txtDummy", "Focus holder");
    txtDummy->setReadOnly(true);
    txtDummy->setFixedSize(1, 1);
    txtDummy->setFrame(false);

    BuildMonitorFrame();
    QGridLayout* shift = BuildShiftFrame();
    FitBoxWidths();
    LayOutWindow();
    SetReadingOrder();
    BuildGuiderRow(shift, 14);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimer1IntervalMs);
}

void formMain::BuildMonitorFrame() {
    // "File Monitor Config"
    frameFileMonitor = MakeFrame(this, "frameFileMonitor", "File Monitor Config");
    auto* monitor = new QGridLayout(frameFileMonitor);
    txtFolder = MakeDisplayBox(frameFileMonitor, "txtFolder", "Monitored folder");
    cmdFolder = MakeButton(frameFileMonitor, "cmdFolder", "Select Folder to Monitor");
    monitor->addWidget(txtFolder, 0, 0, 1, 3);
    monitor->addWidget(cmdFolder, 0, 3);

    txtFilter = MakeBox(frameFileMonitor, "txtFilter", QString());
    txtDebounceTime = MakeBox(frameFileMonitor, "txtDebounceTime", QString(), "4");
    monitor->addWidget(MakeLabel(frameFileMonitor, "File Name Filter", txtFilter), 1, 0);
    monitor->addWidget(txtFilter, 1, 1);
    monitor->addWidget(MakeLabel(frameFileMonitor, "File Settle Time (s)", txtDebounceTime), 1, 2);
    monitor->addWidget(txtDebounceTime, 1, 3);

    Option1 =
        MakeOption(frameFileMonitor, "Option1", "Start with last two files currently in folder");
    Option2 = MakeOption(frameFileMonitor, "Option2", "Start with last file in folder");
    Option3 = MakeOption(frameFileMonitor, "Option3", "Ignore files currently in folder");
    Option3->setChecked(true);
    monitor->addWidget(Option1, 2, 0, 1, 4);
    monitor->addWidget(Option2, 3, 0, 1, 4);
    monitor->addWidget(Option3, 4, 0, 1, 4);

    cmdStart = MakeButton(frameFileMonitor, "cmdStart", "Start");
    cmdPause = MakeButton(frameFileMonitor, "cmdPause", "Pause");
    monitor->addWidget(cmdStart, 5, 0, 1, 2);
    monitor->addWidget(cmdPause, 5, 2, 1, 2);

    txtNewFile = MakeDisplayBox(frameFileMonitor, "txtNewFile", QString());
    txtTimeRemaining = MakeDisplayBox(frameFileMonitor, "txtTimeRemaining", QString());
    monitor->addWidget(MakeLabel(frameFileMonitor, "New File Found:", txtNewFile), 6, 0);
    monitor->addWidget(txtNewFile, 6, 1, 1, 3);
    monitor->addWidget(MakeLabel(frameFileMonitor, "Time To Settle:", txtTimeRemaining), 7, 0);
    monitor->addWidget(txtTimeRemaining, 7, 1, Qt::AlignLeft);

    chkRunCommand = MakeCheck(frameFileMonitor, "chkRunCommand", "Run Command On New Images",
                              "Run Command On New Images");
    txtCommand = MakeBox(frameFileMonitor, "txtCommand", "Command");
    monitor->addWidget(chkRunCommand, 8, 0, 1, 4);
    monitor->addWidget(txtCommand, 9, 0, 1, 4);

    cmdSetupPlateSolve = MakeButton(frameFileMonitor, "cmdSetupPlateSolve", "Setup Plate Solve");
    monitor->addWidget(cmdSetupPlateSolve, 10, 0, 1, 2);
    cmdHelp = MakeButton(frameFileMonitor, "cmdHelp", "User Guide (F1)");
    cmdAbout = MakeButton(frameFileMonitor, "cmdAbout", "About");
    monitor->addWidget(cmdHelp, 10, 2);
    monitor->addWidget(cmdAbout, 10, 3);
    monitor->setColumnStretch(1, 1);
    monitor->setColumnStretch(3, 1);
}

QGridLayout* formMain::BuildShiftFrame() {
    // "Shift Status"
    frameShiftStatus = MakeFrame(this, "frameShiftStatus", "Shift Status");
    auto* shift = new QGridLayout(frameShiftStatus);
    AddFileRows(shift);
    AddErrorsRatesAndBias(shift);
    AddCorrectionOptions(shift);
    return shift;
}

void formMain::AddFileRows(QGridLayout* shift) {
    const QString columns[] = {"Name", "RA", "DEC", "Time"};
    for (int column = 0; column < 4; ++column)
        shift->addWidget(MakeLabel(frameShiftStatus, columns[column]), 0, column + 1);
    QLineEdit** files[2][4] = {{&txtFile1Name, &txtFile1RA, &txtFile1DEC, &txtFile1Time},
                               {&txtFile2Name, &txtFile2RA, &txtFile2DEC, &txtFile2Time}};
    const char* fileNames[2][4] = {{"txtFile1Name", "txtFile1RA", "txtFile1DEC", "txtFile1Time"},
                                   {"txtFile2Name", "txtFile2RA", "txtFile2DEC", "txtFile2Time"}};
    for (int row = 0; row < 2; ++row) {
        const QString caption = QString("File %1:").arg(row + 1);
        shift->addWidget(MakeLabel(frameShiftStatus, caption), row + 1, 0);
        for (int column = 0; column < 4; ++column) {
            *files[row][column] =
                MakeDisplayBox(frameShiftStatus, fileNames[row][column],
                               QString("File %1 %2").arg(row + 1).arg(columns[column]));
            shift->addWidget(*files[row][column], row + 1, column + 1);
        }
    }
}

void formMain::AddErrorsRatesAndBias(QGridLayout* shift) {
    txtRAError = MakeDisplayBox(frameShiftStatus, "txtRAError", QString());
    txtDECError = MakeDisplayBox(frameShiftStatus, "txtDECError", QString());
    shift->addWidget(MakeLabel(frameShiftStatus, "last RA error (arcseconds)", txtRAError), 3, 0, 1,
                     2);
    shift->addWidget(txtRAError, 3, 2);
    shift->addWidget(MakeLabel(frameShiftStatus, "last DEC error (arcseconds)", txtDECError), 4, 0,
                     1, 2);
    shift->addWidget(txtDECError, 4, 2);

    txtRaRate = MakeDisplayBox(frameShiftStatus, "txtRaRate", QString());
    txtDecRate = MakeDisplayBox(frameShiftStatus, "txtDecRate", QString());
    shift->addWidget(MakeLabel(frameShiftStatus, "RA rate in \"/hour", txtRaRate), 5, 0, 1, 2);
    shift->addWidget(txtRaRate, 5, 2);
    shift->addWidget(MakeLabel(frameShiftStatus, "DEC rate in \"/hour", txtDecRate), 6, 0, 1, 2);
    shift->addWidget(txtDecRate, 6, 2);

    // Label 1 names both bias boxes; the column heads tell them apart.
    auto* biasLabel = MakeLabel(frameShiftStatus, "Shift Bias \"/hour (Use for comets)", nullptr,
                                "labelShiftBias");
    shift->addWidget(biasLabel, 7, 0, 1, 3);
    shift->addWidget(MakeLabel(frameShiftStatus, "RA rate"), 8, 2);
    shift->addWidget(MakeLabel(frameShiftStatus, "DEC rate"), 8, 3);
    txtRaBias = MakeBox(frameShiftStatus, "txtRaBias", "Shift Bias RA rate", "0");
    txtDecBias = MakeBox(frameShiftStatus, "txtDecBias", "Shift Bias DEC rate", "0");
    biasLabel->setBuddy(txtRaBias);
    shift->addWidget(txtRaBias, 9, 2);
    shift->addWidget(txtDecBias, 9, 3);
}

void formMain::AddCorrectionOptions(QGridLayout* shift) {
    shift->addWidget(MakeLabel(frameShiftStatus, "Filter Prediction"), 10, 0, 1, 2);
    chkUseKalmanX = MakeCheck(frameShiftStatus, "chkUseKalmanX", "RA", "Filter Prediction RA");
    chkUseKalmanY = MakeCheck(frameShiftStatus, "chkUseKalmanY", "DEC", "Filter Prediction DEC");
    shift->addWidget(chkUseKalmanX, 10, 2);
    shift->addWidget(chkUseKalmanY, 10, 3);
    shift->addWidget(MakeLabel(frameShiftStatus, "Use Acceleration"), 11, 0, 1, 2);
    chkUseAccelerationX =
        MakeCheck(frameShiftStatus, "chkUseAccelerationX", "RA", "Use Acceleration RA");
    chkUseAccelerationY =
        MakeCheck(frameShiftStatus, "chkUseAccelerationY", "DEC", "Use Acceleration DEC");
    shift->addWidget(chkUseAccelerationX, 11, 2);
    shift->addWidget(chkUseAccelerationY, 11, 3);

    chkDisableCorr =
        MakeCheck(frameShiftStatus, "chkDisableCorr", "Disable Corrections", "Disable Corrections");
    shift->addWidget(chkDisableCorr, 12, 0, 1, 3);
    // Hidden in the design and never shown: FLIP_RA is false after every load.
    chkFlip = MakeCheck(frameShiftStatus, "chkFlip", "Flip RA Shift Rate Sign",
                        "Flip RA Shift Rate Sign");
    chkFlip->setVisible(false);

    cmdClearHistory = MakeButton(frameShiftStatus, "cmdClearHistory", "Clear History");
    Command1 = MakeButton(frameShiftStatus, "Command1", "Display Chart");
    shift->addWidget(cmdClearHistory, 13, 2);
    shift->addWidget(Command1, 13, 3, 1, 2, Qt::AlignLeft);
    shift->setColumnStretch(1, 1);
}

void formMain::FitBoxWidths() {
    // Wide enough for the longest text each box shows.
    auto fit = [this](QLineEdit* box, const char* sample) {
        box->setMinimumWidth(fontMetrics().horizontalAdvance(sample) + 16);
    };
    for (QLineEdit* box : {txtFile1Name, txtFile2Name})
        fit(box, "M57_L_300s_0001.fit");
    for (QLineEdit* box : {txtFile1RA, txtFile2RA, txtFile1DEC, txtFile2DEC})
        fit(box, "-00 00 00.00");
    for (QLineEdit* box : {txtFile1Time, txtFile2Time})
        fit(box, "0000-00-00 00:00:00");
    for (QLineEdit* box : {txtDebounceTime, txtTimeRemaining})
        fit(box, "000000");
    fit(txtFilter, "*.fits*");
    fit(txtNewFile, "M57_L_300s_0001.fit");
    fit(txtFolder, "/home/observer/images/");
}

void formMain::LayOutWindow() {
    // Below both frames: a settings file or log that cannot be written.
    lblFileNotice = MakeLabel(this, QString(), nullptr, "lblFileNotice");
    lblFileNotice->setWordWrap(true);
    lblFileNotice->hide();
    lblStartNotice = MakeLabel(this, QString(), nullptr, "lblStartNotice");
    lblStartNotice->setWordWrap(true);
    lblStartNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblStartNotice->hide();

    auto* outer = new QVBoxLayout(this);
    auto* window = new QHBoxLayout();
    outer->addLayout(window);
    outer->addWidget(lblFileNotice);
    outer->addWidget(lblStartNotice);
    window->addWidget(txtDummy, 0, Qt::AlignTop);
    window->addWidget(frameFileMonitor, 0, Qt::AlignTop);
    window->addWidget(frameShiftStatus, 1, Qt::AlignTop);
}

void formMain::SetReadingOrder() {
    SetTabOrder({txtDummy,
                 txtFolder,
                 cmdFolder,
                 txtFilter,
                 txtDebounceTime,
                 Option1,
                 Option2,
                 Option3,
                 cmdStart,
                 cmdPause,
                 txtNewFile,
                 txtTimeRemaining,
                 chkRunCommand,
                 txtCommand,
                 cmdSetupPlateSolve,
                 txtFile1Name,
                 txtFile1RA,
                 txtFile1DEC,
                 txtFile1Time,
                 txtFile2Name,
                 txtFile2RA,
                 txtFile2DEC,
                 txtFile2Time,
                 txtRAError,
                 txtDECError,
                 txtRaRate,
                 txtDecRate,
                 txtRaBias,
                 txtDecBias,
                 chkUseKalmanX,
                 chkUseKalmanY,
                 chkUseAccelerationX,
                 chkUseAccelerationY,
                 chkDisableCorr,
                 cmdClearHistory,
                 Command1});
    SetTabOrder({cmdSetupPlateSolve, cmdHelp, cmdAbout, txtFile1Name});
}
