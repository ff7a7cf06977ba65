// Where veldra keeps "veldra.ini" and "debug.txt", and the report of a write that fails.
#include "tests/held_to_permissions.h"
#include "tests/test_support.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/file_places.h"
#include "veldra/settings/settings.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class FilePlacesTest : public ::testing::Test {
  protected:
    void TearDown() override {
        chmod(program.c_str(), 0755);
        SetLogFolder({}, {});
        SetWriteFailureReporter({});
    }
    TempDir root;
    const std::string program = root.file("bin");
    const std::string config = root.file("config");
    const std::string state = root.file("state");
};

TEST_F(FilePlacesTest, TheProgramFolderWhileWritableElseTheXdgFoldersAndConfigDirWins) {
    std::filesystem::create_directory(program);
    FilePlaces places = ChooseFilePlaces(program, {}, config, state);
    EXPECT_EQ(places.settingsFolder, program);
    EXPECT_EQ(places.logFolder, program);

    ASSERT_EQ(chmod(program.c_str(), 0555), 0);
    HeldToPermissions held;
    EXPECT_FALSE(FolderWritable(program));
    places = ChooseFilePlaces(program, {}, config, state);
    EXPECT_EQ(places.settingsFolder, config + "/veldra");
    EXPECT_EQ(places.logFolder, state + "/veldra");
    EXPECT_TRUE(std::filesystem::is_directory(config + "/veldra")); // made, parents too
    EXPECT_TRUE(std::filesystem::is_directory(state + "/veldra"));

    const std::string chosen = root.file("chosen/deeper");
    places = ChooseFilePlaces(program, chosen, config, state);
    EXPECT_EQ(places.settingsFolder, chosen);
    EXPECT_EQ(places.logFolder, chosen);
    EXPECT_TRUE(std::filesystem::is_directory(chosen));
    EXPECT_TRUE(std::filesystem::is_empty(program));
}

TEST_F(FilePlacesTest, TheLogOfTheSettingsFolderGoesToItsLogFolderOnly) {
    std::filesystem::create_directories(config);
    std::filesystem::create_directories(state);
    SetLogFolder(config, state);
    LogEvent(config, " : Start monitoring");
    EXPECT_EQ(LogMessages(state), std::vector<std::string>{" : Start monitoring"});
    EXPECT_FALSE(std::filesystem::exists(config + "/debug.txt"));
    LogEvent(root.path, " : elsewhere"); // another folder keeps its own log
    EXPECT_EQ(LogMessages(root.path), std::vector<std::string>{" : elsewhere"});
}

TEST_F(FilePlacesTest, ALogLineOrSaveThatFailsIsReportedEveryTime) {
    std::vector<std::string> reports;
    SetWriteFailureReporter([&reports](const std::string& text) { reports.push_back(text); });
    const std::string missing = root.file("missing");
    LogEvent(missing, " : lost");
    LogEvent(missing, " : lost again");
    EXPECT_EQ(reports, std::vector<std::string>(2, "Could not write the activity log " + missing +
                                                       "/debug.txt: No such file or directory"));
    reports.clear();
    EXPECT_FALSE(SaveSettings(Settings{}, missing));
    // The failed save's log line fails too (same folder), then the save itself.
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports.back(), "Could not save the settings to " + missing + "/veldra.ini");
}

} // namespace
