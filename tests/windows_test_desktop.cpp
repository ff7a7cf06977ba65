// The main window on the desktop: night mode in every window, boxes legible under a dark
// palette, one message-box title, and settings that cannot be saved.
#include "tests/held_to_permissions.h"
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "tests/windows_test_main_fixture.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/about_box.h"
#include "veldra/windows/box_colours.h"
#include "veldra/windows/chart/frm_chart.h"
#include "veldra/windows/file_dialogs.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/message_box.h"
#include "veldra/windows/night_mode.h"
#include "veldra/windows/notice/dia_error.h"
#include "veldra/windows/setup/form_setup_plate_solve.h"

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Dark-adapted eyes lose their adaptation to blue and green light first: at night no
// pixel of any veldra window has any green or blue.
struct Brightest {
    int notRed = 0; // pixels with some green or blue
    int red = 0;    // the largest red component
};

Brightest BrightestOf(QWidget* window) {
    window->show();
    QApplication::processEvents();
    const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    Brightest found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            found.notRed += qGreen(pixel) > 0 || qBlue(pixel) > 0 ? 1 : 0;
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

    w.state().settings.PLATE_SOLVE_METHOD = 1;
    formSetupPlateSolve setup(w.state().settings, folder.path, &w);
    diaError notice(&w);
    notice.ShowMessage("fits file does not have DATE-OBS tag");
    const auto files = MakeOpenFileDialog(&w, folder.file("veldra.ini"), "Solver", {});
    const auto folders = MakeBrowseForFolderDialog(&w, "Select A Directory", folder.path);
    const auto about = MakeAboutBox(&w, folder.path);
    QWidget* windows[] = {&w,          &setup,        LoadedChartWindow(), &notice,
                          files.get(), folders.get(), about.get()};
    for (QWidget* shown : windows) {
        const Brightest brightest = BrightestOf(shown);
        EXPECT_EQ(brightest.notRed, 0) << shown->objectName().toStdString();
        if (brightest.notRed != 0)
            shown->grab().save(QString("/tmp/night-%1.png").arg(shown->objectName()));
        EXPECT_GT(brightest.red, 100) << shown->objectName().toStdString(); // still legible
        shown->hide();
    }
    // No caption of the setup dialog is cut off by the night's wider buttons.
    EXPECT_GE(setup.cmdSelectPlatesolve->width(), setup.cmdSelectPlatesolve->sizeHint().width());
    // Unticked boxes and options keep a visible outline: some red where the mark goes.
    const QImage unticked = w.chkRunCommand->grab().toImage();
    int outline = 0;
    for (int y = 0; y < unticked.height(); ++y)
        for (int x = 0; x < std::min(20, unticked.width()); ++x)
            outline = std::max(outline, qRed(unticked.pixel(x, y)));
    EXPECT_GE(outline, 120);
    QTimer::singleShot(0, qApp, [] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(BrightestOf(box).notRed, 0);
        box->close();
    });
    w.platform().messageBox("Correction rate is too large -- stopping.");

    // Both series red: DEC told apart by its dashes, and the labels say so.
    const frmChart* chart = LoadedChartWindow();
    EXPECT_EQ(chart->pos_err_chart.dec->pen().style(), Qt::DashLine);
    EXPECT_EQ(chart->pos_err_chart.ra->pen().style(), Qt::SolidLine);
    EXPECT_EQ(chart->Label6->text(), "DEC = Dashed");

    // Ctrl+N works in a modal dialog too (a main-window shortcut would not reach it).
    QTimer::singleShot(0, qApp, [] {
        ProcessEventsUntil([] { return QApplication::activeModalWidget() != nullptr; });
        QWidget* modal = QApplication::activeModalWidget();
        QTest::keyClick(modal, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    setup.exec();
    EXPECT_FALSE(NightModeOn());
    EXPECT_FALSE(SavedSettings().NIGHT_MODE);
    // Every window is back in the day's colours without reopening: the charts too.
    EXPECT_EQ(chart->pos_err_chart.chart->backgroundBrush().color(),
              QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(chart->pos_err_chart.chart->plotAreaBackgroundBrush().color(),
              QApplication::palette().color(QPalette::Base));
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
    dark.setColor(QPalette::Button, QColor(55, 55, 55));
    dark.setColor(QPalette::ButtonText, QColor(225, 225, 225));
    QApplication::setPalette(dark);
    formMain& w = LoadWindow();
    // The system colours come from the palette: dark boxes and a dark chart.
    EXPECT_EQ(BoxBackground(w.txtFile1Name), QColor(55, 55, 55));
    EXPECT_EQ(BoxBackground(w.txtFilter), QColor(30, 30, 30));
    ShowChart();
    EXPECT_EQ(LoadedChartWindow()->pos_err_chart.chart->backgroundBrush().color(),
              QColor(40, 40, 40));
    PasteInto(w.txtDebounceTime, "x");
    EXPECT_EQ(BoxBackground(w.txtDebounceTime), QColor(255, 0, 0)); // still pure red
    PasteInto(w.txtDebounceTime, "4");
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
