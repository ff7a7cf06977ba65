// The plate-solve setup dialog offscreen: visibility by method, the per-keystroke rules,
// the leaving-box rules, combo choices, the close box and the executable chooser.
#include "common/file_utils.h"
#include "tests/spoken_name.h"
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "veldra/chart/chart_layout.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class SetupDialogTest : public ::testing::Test {
  protected:
    formSetupPlateSolve& Open() {
        dialog = std::make_unique<formSetupPlateSolve>(settings, folder.path, nullptr);
        dialog->show();
        return *dialog;
    }
    // Chooses item index of combo as the user would (the activated signal).
    void Choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    bool FileSaved() const { return FileExists(folder.file("veldra.ini")); }
    Settings Saved() const {
        Settings saved;
        LoadSettings(saved, folder.path);
        return saved;
    }

    TempDir folder;
    Settings settings;
    std::unique_ptr<formSetupPlateSolve> dialog;
};

TEST_F(SetupDialogTest, WcsMethodShowsOnlyTheMethodAndOk) {
    formSetupPlateSolve& d = Open();
    EXPECT_EQ(d.windowTitle(), "Setup Plate Solving");
    QStringList visible;
    for (QWidget* control : d.findChildren<QWidget*>())
        if (control->isVisibleTo(&d) && !control->objectName().isEmpty() &&
            !control->objectName().startsWith("qt_"))
            visible.append(control->objectName());
    visible.sort();
    EXPECT_EQ(visible, QStringList({"Command1", "Label1", "cmbPlateSolveMethod"}));
    // Captions name what runs here; the stored values stay 0 and 1.
    EXPECT_EQ(d.cmbPlateSolveMethod->currentText(), "WCS in FITS Header");
    EXPECT_EQ(d.cmbPlateSolveMethod->itemText(1), "Plate Solver (veldra-solve)");
    // The refresh wrote the controls but stored nothing.
    EXPECT_FALSE(FileSaved());

    Choose(d.cmbPlateSolveMethod, 1);
    EXPECT_TRUE(d.Frame1->isVisible());
    EXPECT_EQ(Saved().PLATE_SOLVE_METHOD, 1);
    // The stars keep the solver's frame: a reference without WCS keywords is solved.
    Choose(d.cmbPlateSolveMethod, 2);
    EXPECT_EQ(d.cmbPlateSolveMethod->currentText(), "Stars (register against the reference image)");
    EXPECT_TRUE(d.Frame1->isVisible());
    EXPECT_EQ(Saved().PLATE_SOLVE_METHOD, 2);
}

TEST_F(SetupDialogTest, ControlsSitAtTheirTwipPositionsAndNoCaptionIsCutOff) {
    settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve& d = Open();
    // 15 twips per pixel at 96 dots per inch, scaled with the screen's logical DPI and
    // uniformly with the font's need for room.
    ASSERT_GE(d.designFactor(), 1.0);
    auto x = [&](double twips) { return TwipsToPixels(twips * d.designFactor(), d.logicalDpiX()); };
    auto y = [&](double twips) { return TwipsToPixels(twips * d.designFactor(), d.logicalDpiY()); };
    EXPECT_EQ(d.size(), QSize(x(10740), y(6195)));
    EXPECT_EQ(d.Command1->geometry(), QRect(x(2640), y(240), x(1335), y(495)));
    EXPECT_EQ(d.txtDecPos->parentWidget(), d.Frame2);
    EXPECT_EQ(d.txtDecPos->geometry(), QRect(x(1800), y(1200), x(1455), y(285)));
    EXPECT_EQ(d.Frame4->geometry(), QRect(x(4440), y(3840), x(4095), y(1215)));
    for (QWidget* control : d.findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(control) || qobject_cast<QPushButton*>(control) ||
            qobject_cast<QComboBox*>(control)) {
            EXPECT_GE(control->width(), control->sizeHint().width())
                << control->objectName().toStdString();
        }
        if (qobject_cast<QLineEdit*>(control) || qobject_cast<QPushButton*>(control) ||
            qobject_cast<QComboBox*>(control)) {
            EXPECT_FALSE(SpokenName(control).isEmpty()) << control->objectName().toStdString();
        }
    }
}

TEST_F(SetupDialogTest, ExposureRoundsHalvesToEvenAndShowsItAtOnce) {
    settings.PLATE_SOLVE_METHOD = 1;
    settings.OVERRIDE_EXPOSURE = true;
    formSetupPlateSolve& d = Open();
    PasteInto(d.txtExposure, "300.5");
    EXPECT_EQ(settings.EXPOSURE, 300);
    EXPECT_EQ(d.txtExposure->text(), "300");
    PasteInto(d.txtExposure, "301.5");
    EXPECT_EQ(settings.EXPOSURE, 302);
    EXPECT_EQ(d.txtExposure->text(), "302");
    PasteInto(d.txtExposure, "-5");
    EXPECT_EQ(BoxBackground(d.txtExposure), kRefusedRed);
    EXPECT_EQ(settings.EXPOSURE, 302);
    LeaveBox(d.txtExposure);
    EXPECT_EQ(d.txtExposure->text(), "302");
    EXPECT_NE(BoxBackground(d.txtExposure), kRefusedRed);
    EXPECT_FALSE(FileSaved()); // text edits reach the file with the next save
}

TEST_F(SetupDialogTest, MaxSolveTimeKeepsTheTypedFractionUntilLeaving) {
    settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve& d = Open();
    PasteInto(d.txtMaxSolveTime, "30.5");
    EXPECT_EQ(settings.PWI_MAX_SOLVE_TIME, 30);
    EXPECT_EQ(d.txtMaxSolveTime->text(), "30.5");
    LeaveBox(d.txtMaxSolveTime);
    EXPECT_EQ(d.txtMaxSolveTime->text(), "30");
    for (const char* refused : {"-1", "40000"}) {
        PasteInto(d.txtMaxSolveTime, refused);
        EXPECT_EQ(BoxBackground(d.txtMaxSolveTime), kRefusedRed) << refused;
        EXPECT_EQ(settings.PWI_MAX_SOLVE_TIME, 30) << refused;
    }
}

TEST_F(SetupDialogTest, ImageScaleBox) {
    settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve& d = Open();
    EXPECT_FALSE(d.txtImageScale->isEnabled());
    EXPECT_EQ(BoxBackground(d.txtImageScale), ScrollBarGrey());
    Choose(d.cmbPwiImageScale, 1);
    EXPECT_TRUE(settings.OVERRIDE_IMAGE_SCALE);
    EXPECT_TRUE(d.txtImageScale->isEnabled());
    PasteInto(d.txtImageScale, "0");
    EXPECT_EQ(settings.IMAGE_SCALE, 0);
    for (const char* refused : {"-0.1", ""}) {
        PasteInto(d.txtImageScale, refused);
        EXPECT_EQ(BoxBackground(d.txtImageScale), kRefusedRed) << refused;
    }
    EXPECT_EQ(settings.IMAGE_SCALE, 0);
}

TEST_F(SetupDialogTest, PositionBoxesStoreTheTextAsTypedAndStayRedWhenRefused) {
    settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve& d = Open();
    EXPECT_FALSE(d.txtRaPos->isEnabled());
    Choose(d.cmbPwiPosOverride, 1);
    EXPECT_EQ(Saved().OVERRIDE_POSITION, 1);
    EXPECT_TRUE(d.txtRaPos->isEnabled());
    EXPECT_FALSE(d.cmdChooser->isEnabled());

    PasteInto(d.txtRaPos, " 05 12 30 ");
    EXPECT_EQ(settings.RA_POS, " 05 12 30 ");
    PasteInto(d.txtRaPos, "24 00 00");
    EXPECT_EQ(BoxBackground(d.txtRaPos), kRefusedRed);
    EXPECT_EQ(settings.RA_POS, " 05 12 30 ");
    LeaveBox(d.txtRaPos); // no leaving rule: the refused entry stays
    EXPECT_EQ(d.txtRaPos->text(), "24 00 00");
    EXPECT_EQ(BoxBackground(d.txtRaPos), kRefusedRed);

    PasteInto(d.txtDecPos, "-00 30 00");
    EXPECT_EQ(settings.DEC_POS, "-00 30 00");
    PasteInto(d.txtDecPos, "+90 00 00");
    EXPECT_EQ(settings.DEC_POS, "-00 30 00");

    Choose(d.cmbPwiPosOverride, 2);
    EXPECT_EQ(settings.OVERRIDE_POSITION, 2);
    EXPECT_TRUE(d.cmdChooser->isEnabled());
    EXPECT_FALSE(d.txtRaPos->isEnabled());
    EXPECT_FALSE(d.txtDecPos->isEnabled());
    EXPECT_EQ(BoxBackground(d.txtDecPos), ScrollBarGrey());
}

TEST_F(SetupDialogTest, CloseBoxDoesNothingOkAndEscapeHide) {
    formSetupPlateSolve& d = Open();
    EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(d.close());
    EXPECT_TRUE(d.isVisible());
    d.Command1->click();
    EXPECT_FALSE(d.isVisible());
    // Esc as Cancel: the dialog closes, the changes made in it stay in force.
    d.show();
    Choose(d.cmbPwiTimestamp, 1);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(settings.OVERRIDE_TIMESTAMP);
}

// Runs action on the modal dialog the next event loop shows.
void OnModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, [action] {
        ProcessEventsUntil([] { return QApplication::activeModalWidget() != nullptr; });
        action(QApplication::activeModalWidget());
    });
}

TEST_F(SetupDialogTest, SetApplicationStoresTheChosenFileAndACancelKeepsIt) {
    settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve& d = Open();
    const std::string solver = folder.file("platesolve2");
    WriteFile(solver, "#!/bin/sh\n");

    OnModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    d.cmdSelectPlatesolve->click();
    EXPECT_EQ(settings.PWI_EXE_PATH, Settings().PWI_EXE_PATH);
    EXPECT_FALSE(FileSaved());

    OnModal([solver](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(chooser, nullptr);
        EXPECT_EQ(chooser->windowTitle(), "Choose the Plate Solver Program");
        EXPECT_EQ(chooser->nameFilters(), QStringList{"Programs (*)"});
        chooser->selectFile(QString::fromStdString(solver));
        static_cast<QDialog*>(chooser)->accept(); // QFileDialog::accept is protected
    });
    d.cmdSelectPlatesolve->click();
    EXPECT_EQ(settings.PWI_EXE_PATH, solver);
    EXPECT_EQ(settings.solverExeName, "platesolve2");
    EXPECT_EQ(d.cmbPlateSolveMethod->itemText(1), "Plate Solver (platesolve2)");
    EXPECT_EQ(Saved().PWI_EXE_PATH, solver);
    EXPECT_EQ(d.txtPlatesolvePath->text().toStdString(), solver);
}

TEST_F(SetupDialogTest, MainWindowLoadsTheDialogOnceAndDoesNotRefreshItAgain) {
    formMain window(folder.path);
    window.Load();
    window.state().settings.PLATE_SOLVE_METHOD = 1;
    OnModal([](QWidget* modal) { modal->findChild<QPushButton*>("Command1")->click(); });
    window.cmdSetupPlateSolve->click();
    formSetupPlateSolve* first = window.setupDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(first->txtImageScale->text(), "0.48");

    // A scale the pipeline stores meanwhile is not shown by a later showing.
    window.state().settings.IMAGE_SCALE = 1.25;
    OnModal([](QWidget* modal) { modal->findChild<QPushButton*>("Command1")->click(); });
    window.ShowSetupPlateSolve();
    EXPECT_EQ(window.setupDialog(), first);
    EXPECT_EQ(first->txtImageScale->text(), "0.48");
}

} // namespace
