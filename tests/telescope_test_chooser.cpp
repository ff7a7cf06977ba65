// The telescope chooser dialog, offscreen, against a real indiserver.
#include "tests/qt_test_app.h"
#include "tests/telescope_test_server.h"
#include "veldra/windows/setup/telescope_chooser.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace {
[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(
    new QtTestApplication<QApplication>("telescope_chooser_test"));

std::vector<std::string> Listed(const TelescopeChooserDialog& dialog) {
    std::vector<std::string> names;
    for (int i = 0; i < dialog.lstDevices->count(); ++i)
        names.push_back(dialog.lstDevices->item(i)->text().toStdString());
    return names;
}

TEST(TelescopeChooserDialog, ListsTelescopesAndPreselectsTheCurrentOne) {
    IndiServer server({"indi_simulator_telescope", "indi_simulator_focus"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    ASSERT_TRUE(DeviceAnnounced(server, "Focuser Simulator"));

    TelescopeChooserDialog dialog(server.Identifier("Telescope Simulator"), nullptr);
    EXPECT_EQ(dialog.txtHost->text(), "localhost");
    EXPECT_EQ(dialog.txtPort->value(), server.port);
    EXPECT_EQ(Listed(dialog), std::vector<std::string>{"Telescope Simulator"});
    EXPECT_TRUE(dialog.cmdOk->isEnabled());
    EXPECT_EQ(dialog.Chosen(), server.Identifier("Telescope Simulator"));
}

TEST(TelescopeChooserDialog, OtherServerAfterRefresh) {
    IndiServer server({"indi_simulator_telescope"});
    ASSERT_TRUE(DeviceAnnounced(server, "Telescope Simulator"));
    const int deadPort = FreePort();

    TelescopeChooserDialog dialog("Old Mount@localhost:" + std::to_string(deadPort), nullptr);
    EXPECT_TRUE(Listed(dialog).empty());
    EXPECT_EQ(dialog.lblStatus->text().toStdString(),
              "No INDI server at localhost:" + std::to_string(deadPort));
    EXPECT_FALSE(dialog.cmdOk->isEnabled());
    EXPECT_EQ(dialog.Chosen(), "");

    dialog.txtPort->setValue(server.port);
    dialog.cmdRefresh->click();
    ASSERT_EQ(Listed(dialog), std::vector<std::string>{"Telescope Simulator"});
    EXPECT_FALSE(dialog.cmdOk->isEnabled()) << "the old device is not there: nothing chosen";
    dialog.lstDevices->setCurrentRow(0);
    EXPECT_TRUE(dialog.cmdOk->isEnabled());
    EXPECT_EQ(dialog.Chosen(), server.Identifier("Telescope Simulator"));
}

} // namespace
