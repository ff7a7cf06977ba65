// The main window on the desktop: night mode in every window, boxes legible under a dark
// palette, one message-box title, and settings that cannot be saved.
#include "tests/held_to_permissions.h"
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "tests/windows_test_main_fixture.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/message_box.h"
#include "veldra/windows/night_mode.h"
#include "veldra/windows/notice/dia_error.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Green and blue of a night pixel stay at or below this (of 255): dark-adapted eyes lose
// their adaptation to blue and green light first.
constexpr int kNightGreenBlue = 12;

struct Brightest {
    int greenBlue = 0; // the largest green or blue component of any pixel
    int red = 0;
};

Brightest BrightestOf(QWidget* window) {
    window->show();
    QApplication::processEvents();
    const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    Brightest found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            found.greenBlue = std::max({found.greenBlue, qGreen(pixel), qBlue(pixel)});
            found.red = std::max(found.red, qRed(pixel));
        }
    return found;
}

// Relative luminance difference of two colours, 0..255.
int Contrast(const QColor& a, const QColor& b) {
    return std::abs(qGray(a.rgb()) - qGray(b.rgb()));
}

class DesktopTest : public LoadedMainWindowTest {
  protected:
    void TearDown() override {
        window.reset();
        SetNightMode(false);
        killme();
    }
};

TEST_F(DesktopTest, NightModeDrawsEveryWindowRedOnBlackAndIsRemembered) {
    formMain& w = LoadWindow();
    QApplication::setActiveWindow(&w); // the shortcut works in the active window
    const QColor dayGrey = ScrollBarGrey();
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    ASSERT_TRUE(NightModeOn());
    EXPECT_TRUE(SavedSettings().NIGHT_MODE);

    // A night of data, so the charts draw lines and labels.
    std::vector<HistoryEntry> history(9);
    for (int i = 0; i < 8; ++i) {
        history[i].time = 46000 + i / 24.0;
        history[i].ra = 1 + i * 1e-5;
        history[i].dec = 0.5 - i * 2e-5;
        history[i].raCorrection = 10 * i;
        history[i].decCorrection = -5 * i;
    }
    UpdateCharts(8, history, w.state().settings);
    PasteInto(w.txtDebounceTime, "x"); // a refused entry, in the night's red

    formSetupPlateSolve setup(w.state().settings, folder.path, &w);
    diaError notice(&w);
    notice.ShowMessage("fits file does not have DATE-OBS tag");
    QWidget* windows[] = {&w, &setup, LoadedChartWindow(), &notice};
    for (QWidget* shown : windows) {
        const Brightest brightest = BrightestOf(shown);
        EXPECT_LE(brightest.greenBlue, kNightGreenBlue) << shown->objectName().toStdString();
        EXPECT_GT(brightest.red, 100) << shown->objectName().toStdString(); // still legible
    }
    QTimer::singleShot(0, qApp, [] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        EXPECT_LE(BrightestOf(box).greenBlue, kNightGreenBlue);
        box->close();
    });
    w.platform().messageBox("Correction rate is too large -- stopping.");

    // Both series red: DEC told apart by its dashes, and the labels say so.
    const frmChart* chart = LoadedChartWindow();
    EXPECT_EQ(chart->pos_err_chart.dec->pen().style(), Qt::DashLine);
    EXPECT_EQ(chart->pos_err_chart.ra->pen().style(), Qt::SolidLine);
    EXPECT_EQ(chart->Label6->text(), "DEC = Dashed");

    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(NightModeOn());
    EXPECT_FALSE(SavedSettings().NIGHT_MODE);
    EXPECT_EQ(BoxBackground(w.txtFile1Name), dayGrey);
    EXPECT_EQ(chart->Label6->text(), "DEC = Green");
    EXPECT_EQ(chart->pos_err_chart.dec->pen().color(), QColor(0, 192, 0));
    EXPECT_EQ(chart->pos_err_chart.dec->pen().style(), Qt::DashLine);
}

TEST_F(DesktopTest, NightModeFromTheSettingsFileOrTheCommandLine) {
    Settings stored;
    stored.NIGHT_MODE = true;
    WriteFile(folder.file("veldra.ini"), SettingsFileText(stored));
    LoadWindow();
    EXPECT_TRUE(NightModeOn());
    window.reset();
    SetNightMode(false);

    WriteFile(folder.file("veldra.ini"), SettingsFileText(Settings{}));
    window = std::make_unique<formMain>(folder.path);
    window->startInNightMode = true; // --night
    window->Load();
    EXPECT_TRUE(NightModeOn());
    EXPECT_TRUE(SavedSettings().NIGHT_MODE);
}

TEST_F(DesktopTest, ReadOutBoxesStayLegibleUnderADarkTheme) {
    const QPalette day = QApplication::palette();
    QPalette dark = day;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    QApplication::setPalette(dark);
    formMain& w = LoadWindow();
    for (QLineEdit* box : {w.txtFile1Name, w.txtRaRate, w.txtCommand, w.txtDebounceTime}) {
        const QPalette::ColorGroup group = box->isEnabled() ? QPalette::Active : QPalette::Disabled;
        const QPalette& palette = box->palette();
        EXPECT_GE(
            Contrast(palette.color(group, QPalette::Text), palette.color(group, QPalette::Base)),
            120)
            << box->objectName().toStdString();
    }
    PasteInto(w.txtDebounceTime, "x");
    EXPECT_GE(Contrast(w.txtDebounceTime->palette().color(QPalette::Text),
                       w.txtDebounceTime->palette().color(QPalette::Base)),
              60);
    window.reset();
    QApplication::setPalette(day);
}

TEST_F(DesktopTest, EveryMessageBoxHasOneTitleAndAWarningForFailures) {
    formMain& w = LoadWindow();
    std::vector<std::pair<QString, QMessageBox::Icon>> seen;
    const auto look = [&seen] {
        QTimer::singleShot(0, qApp, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen.emplace_back(box->windowTitle(), box->icon());
            box->close();
        });
    };
    look();
    w.platform().messageBox("Unable to launch platesolve");
    look();
    ShowMessageBox(&w, "Saved.", QMessageBox::Information);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(QString(kMessageBoxTitle), QMessageBox::Warning));
    EXPECT_EQ(seen[1], std::make_pair(QString("Veldra"), QMessageBox::Information));
}

TEST_F(DesktopTest, ASaveIntoAFolderThatCannotBeWrittenIsShownOnceAndLosesNothing) {
    formMain& w = LoadWindow();
    w.chkRunCommand->click();
    ASSERT_TRUE(SavedSettings().RUN_COMMAND);
    EXPECT_TRUE(w.lblFileNotice->isHidden());
    const std::string saved = ReadFile(folder.file("veldra.ini"));

    ASSERT_EQ(chmod(folder.path.c_str(), 0555), 0);
    {
        HeldToPermissions held;
        w.chkDisableCorr->click();
        w.Option1->click();
    }
    ASSERT_EQ(chmod(folder.path.c_str(), 0755), 0);
    EXPECT_FALSE(w.lblFileNotice->isHidden());
    EXPECT_EQ(w.lblFileNotice->text(), QString::fromStdString("Could not save the settings to " +
                                                              folder.file("veldra.ini")));
    EXPECT_EQ(ReadFile(folder.file("veldra.ini")), saved);
    const auto log = LogMessages(folder.path);
    EXPECT_GE(std::count(log.begin(), log.end(),
                         " : unable to save the settings file " + folder.file("veldra.ini")),
              2);
}

} // namespace
