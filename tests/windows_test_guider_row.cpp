// The main window's Guider row: the stored choice, the command line's, the user's, and the
// PHD2 connection's state as the row shows it.
#include "tests/test_support.h"
#include "tests/windows_test_app.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/main/form_main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

// A local port with nothing listening on it.
int ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool Logged(const std::string& folder, const std::string& message) {
    for (const std::string& line : LogMessages(folder))
        if (line == message)
            return true;
    return false;
}

} // namespace

TEST(GuiderRow, ShowsTheChoiceAndTheConnectionAndKeepsTheCommandLinesOutOfTheFile) {
    TempDir folder;
    const std::string address = "localhost:" + std::to_string(ClosedPort());
    Settings stored;
    stored.GUIDER = "phd2:" + address;
    WriteFile(folder.file("veldra.ini"), SettingsFileText(stored));
    {
        formMain window(folder.path);
        window.Load();
        EXPECT_EQ(window.cmbGuider->currentText(), "PHD2");
        EXPECT_EQ(window.txtGuiderAddress->text().toStdString(), address);
        ASSERT_TRUE(ProcessEventsUntil([&] {
            return window.lblGuiderState->text().toStdString() ==
                   "PHD2 " + address + " \u2014 not reachable";
        })) << window.lblGuiderState->text().toStdString();
        EXPECT_TRUE(Logged(folder.path, " : Guider: phd2:" + address));
        // Dither awareness: offered with PHD2, on by default, saved when changed.
        EXPECT_FALSE(window.chkDitherAware->isHidden());
        EXPECT_TRUE(window.chkDitherAware->isChecked());
        window.chkDitherAware->click();
        EXPECT_TRUE(Logged(folder.path, " : Dither aware: off"));
        Settings changed;
        LoadSettings(changed, folder.path);
        EXPECT_FALSE(changed.DITHER_AWARE);
        window.chkDitherAware->click();

        // While monitoring runs the choice is fixed.
        window.cmdStart->click();
        EXPECT_FALSE(window.cmbGuider->isEnabled());
        window.cmdStart->click();
        EXPECT_TRUE(window.cmbGuider->isEnabled());

        // The user picks the D-Bus broadcast: shown, logged and saved at once.
        window.cmbGuider->setCurrentIndex(0);
        emit window.cmbGuider->activated(0);
        EXPECT_EQ(window.lblGuiderState->text(), "D-Bus broadcast");
        EXPECT_FALSE(window.txtGuiderAddress->isEnabled());
        EXPECT_TRUE(window.chkDitherAware->isHidden()); // the bus announces no dithers
        EXPECT_TRUE(Logged(folder.path, " : Guider: D-Bus broadcast"));
        Settings saved;
        LoadSettings(saved, folder.path);
        EXPECT_EQ(saved.GUIDER, "dbus");
    }

    // The command line's choice holds for the run; the file keeps the stored one.
    {
        formMain window(folder.path);
        window.SetCommandLineGuider(*ParseGuiderChoice("phd2:" + address));
        window.Load();
        EXPECT_EQ(window.cmbGuider->currentText(), "PHD2");
        EXPECT_NE(window.lblGuiderState->text().indexOf("PHD2 " + QString::fromStdString(address)),
                  -1);
    }
    Settings saved;
    LoadSettings(saved, folder.path);
    EXPECT_EQ(saved.GUIDER, "dbus");
}
