#include "common/file_utils.h"
#include "tests/qt_test_app.h"
#include "tests/spoken_name.h"
#include "tests/test_support.h"
#include "veldra/windows/file_dialogs.h"
#include "veldra/windows/notice/dia_error.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace {

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtTestApplication<QApplication>("notice_test"));

// Runs act on the modal dialog once it is open.  A dialog still open after ten seconds
// is rejected, so a dialog that fails to close fails its test instead of hanging it.
template <typename Dialog> void WhenModal(const std::function<void(Dialog*)>& act) {
    QTimer::singleShot(0, qApp, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
    QTimer::singleShot(10000, qApp, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "dialog still open";
            dialog->reject();
        }
    });
}

TEST(TimedError, ShowsTheMessageAsTitleAndInsideWithFiveSecondsAndOkClosesAtOnce) {
    QPointer<diaError> shown;
    WhenModal<diaError>([&shown](diaError* dialog) {
        shown = dialog;
        EXPECT_EQ(dialog->windowTitle(), "fits file does not have DATE-OBS tag");
        EXPECT_EQ(dialog->lblMessage->text(), dialog->windowTitle());
        EXPECT_TRUE(dialog->lblMessage->isVisible());
        EXPECT_TRUE(dialog->Timer1->isActive());
        EXPECT_EQ(dialog->Timer1->interval(), 5000);
        // The design width, heightened just enough for the text above the button.
        const double dpi = dialog->logicalDpiX();
        EXPECT_EQ(dialog->width(), qRound(6030 * dpi / 1440));
        EXPECT_GT(dialog->height(), qRound(630 * dpi / 1440));
        EXPECT_LT(dialog->height(), qRound(630 * dpi / 1440) + 3 * dialog->fontMetrics().height());
        EXPECT_EQ(dialog->OKButton->size(),
                  QSize(qRound(1215 * dpi / 1440), qRound(375 * dpi / 1440)));
        const QRect inside = dialog->rect();
        EXPECT_TRUE(inside.contains(dialog->lblMessage->geometry()));
        EXPECT_TRUE(inside.contains(dialog->OKButton->geometry()));
        EXPECT_FALSE(dialog->lblMessage->geometry().intersects(dialog->OKButton->geometry()));
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(SpokenName(dialog->OKButton), "OK");
        dialog->OKButton->click();
    });
    ShowTimedError(nullptr, "fits file does not have DATE-OBS tag");
    EXPECT_TRUE(shown.isNull()); // closed and destroyed with its timer
}

TEST(TimedError, ALongMessageWidensThenWrapsAndIsShownWhole) {
    diaError dialog;
    const double dpi = dialog.logicalDpiX();
    EXPECT_EQ(dialog.size(), QSize(qRound(6030 * dpi / 1440), qRound(630 * dpi / 1440)));
    // A deep path: long enough to need more than one line at the widest.
    QString path = "Could not load fits file: ";
    for (int night = 0; night < 12; ++night)
        path += QString("/observatory-night-%1").arg(night);
    dialog.ShowMessage(path + "/M57_L_300s_0001.fit");
    EXPECT_GT(dialog.width(), qRound(6030 * dpi / 1440));
    EXPECT_LE(dialog.width(), qRound(12060 * dpi / 1440));
    const QRect text = dialog.lblMessage->geometry();
    EXPECT_GE(text.height(), dialog.lblMessage->heightForWidth(text.width()));
    EXPECT_TRUE(dialog.rect().contains(text));
    EXPECT_TRUE(dialog.rect().contains(dialog.OKButton->geometry()));
}

TEST(TimedError, ClosesItselfWhenTheTimerFiresAndEveryCallGetsAFreshDialog) {
    QWidget owner;
    QPointer<diaError> first;
    WhenModal<diaError>([&first](diaError* dialog) {
        first = dialog;
        dialog->set_timeout(20); // the 5000 ms, shortened: nobody presses OK
    });
    ShowTimedError(&owner, "first");
    EXPECT_TRUE(first.isNull());

    WhenModal<diaError>([](diaError* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "second");
        EXPECT_EQ(dialog->Timer1->interval(), 5000);
        EXPECT_TRUE(dialog->Timer1->isActive());
        dialog->set_timeout(20);
    });
    ShowTimedError(&owner, "second");
}

TEST(TimedError, NoTimeoutNoTimer) {
    diaError dialog;
    EXPECT_EQ(dialog.windowTitle(), "Dialog Caption");
    EXPECT_FALSE(dialog.Timer1->isActive()); // does not fire before set_timeout
    dialog.set_timeout(5000);
    EXPECT_TRUE(dialog.Timer1->isActive());
    dialog.set_timeout(0);
    EXPECT_FALSE(dialog.Timer1->isActive());
}

const std::vector<FileFilter> kExeFilter{{"EXE Files (*.exe)", "*.exe"}};

TEST(FileDialogs, OpenFilePreselectsFolderAndNameAndListsTheFilters) {
    TempDir folder;
    WriteFile(folder.file("solver"), "#!/bin/sh\n");
    const auto dialog = MakeOpenFileDialog(nullptr, folder.file("solver"),
                                           "Enter PlateSolve Executable file", kExeFilter);
    EXPECT_EQ(dialog->windowTitle(), "Enter PlateSolve Executable file");
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"EXE Files (*.exe)", "All Files (*)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "EXE Files (*.exe)");
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath(),
              QDir(QString::fromStdString(folder.path)).canonicalPath());

    // A description without its patterns gets them; ";" lists become blank-separated.
    const auto fits =
        MakeOpenFileDialog(nullptr, "", "t", {{"Images", "*.fit;*.fits"}, {"Any", "*"}});
    EXPECT_EQ(fits->nameFilters(), (QStringList{"Images (*.fit *.fits)", "Any (*)"}));
}

TEST(FileDialogs, OpenFileReturnsThePathOrEmptyWhenCancelled) {
    TempDir folder;
    const std::string solver = folder.file("solver");
    WriteFile(solver, "#!/bin/sh\n");

    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(OpenFileDialog(nullptr, solver, "exe", "t", kExeFilter), "");

    // An existing program without an extension comes back unchanged.
    WhenModal<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    EXPECT_EQ(std::filesystem::canonical(OpenFileDialog(nullptr, solver, "exe", "t", kExeFilter)),
              std::filesystem::canonical(solver));

    // A typed name that is not there gets the default extension.
    WhenModal<QFileDialog>([](QFileDialog* dialog) {
        dialog->selectFile("newtool");
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(FileNameOf(OpenFileDialog(nullptr, solver, "exe", "t", kExeFilter)), "newtool.exe");
}

TEST(FileDialogs, BrowseForFolderPreselectsTheFolderAndReturnsEmptyWhenCancelled) {
    TempDir folder;
    std::filesystem::create_directory(folder.file("night"));
    const std::string night = folder.file("night");
    const auto dialog = MakeBrowseForFolderDialog(nullptr, "Select A Directory", night);
    EXPECT_EQ(dialog->windowTitle(), "Select A Directory");
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);

    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(BrowseForFolder(nullptr, "Select A Directory", night), "");

    WhenModal<QFileDialog>([](QFileDialog* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    EXPECT_EQ(std::filesystem::canonical(BrowseForFolder(nullptr, "Select A Directory", night)),
              std::filesystem::canonical(night));
}

} // namespace
