// The settings file and the activity log.
#include "common/file_utils.h"
#include "tests/test_support.h"
#include "veldra/settings/activity_log.h"
#include "veldra/settings/settings.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The solver by default: veldra-solve beside the program.
const std::string kDefaultFile = "PLATE_SOLVE_METHOD,0\r\n"
                                 "OVERRIDE_IMAGE_SCALE,False\r\n"
                                 "IMAGE_SCALE,0.48\r\n"
                                 "PWI_EXE_PATH," +
                                 JoinPath(ProgramFolder(), "veldra-solve") +
                                 "\r\n"
                                 "PWI_MAX_SOLVE_TIME,30\r\n"
                                 "MONITOR_PATH," +
                                 FirstWatchedFolder() +
                                 "\r\n"
                                 "MONITOR_FILTER,*.fit\r\n"
                                 "DEBOUNCE_TIME,4\r\n"
                                 "MONITOR_START_STATE,2\r\n"
                                 "FILTER_PREDICTION_X,True\r\n"
                                 "FILTER_PREDICTION_Y,True\r\n"
                                 "USE_ACCELERATION_X,True\r\n"
                                 "USE_ACCELERATION_Y,False\r\n"
                                 "DISABLE_CORRECTIONS,False\r\n"
                                 "OVERRIDE_TIMESTAMP,False\r\n"
                                 "OVERRIDE_EXPOSURE,False\r\n"
                                 "EXPOSURE,300\r\n"
                                 "OVERRIDE_POSITION,0\r\n"
                                 "RA_POS,18 36 56\r\n"
                                 "DEC_POS,+38 47 01\r\n"
                                 "ASCOM_DRIVER_NAME,\r\n"
                                 "RUN_COMMAND,False\r\n"
                                 "COMMAND,\r\n"
                                 "FLIP_RA,False\r\n"
                                 "SIM,False\r\n"
                                 "NIGHT_MODE,False\r\n"
                                 "GUIDER,dbus\r\n"
                                 "DITHER_AWARE,True\r\n"
                                 "PHD2_COS_DEC,auto\r\n";

Settings LoadFrom(const TempDir& folder, const std::string& text) {
    WriteFile(folder.file("veldra.ini"), text);
    Settings settings;
    settings.DEBOUNCE_TIME = 99; // must be replaced by the defaults first
    LoadSettings(settings, folder.path);
    return settings;
}

} // namespace

TEST(SettingsFile, DefaultsAreWrittenByteForByte) {
    TempDir folder;
    ASSERT_TRUE(SaveSettings(Settings{}, folder.path));
    EXPECT_EQ(ReadFile(folder.file("veldra.ini")), kDefaultFile);
}

TEST(SettingsFile, MissingFileKeepsDefaultsAndCreatesNothing) {
    TempDir folder;
    Settings settings;
    settings.MONITOR_FILTER = "*.fts";
    int resets = 0;
    LoadSettings(settings, folder.path, [&] { ++resets; });
    EXPECT_EQ(settings.MONITOR_FILTER, "*.fit");
    EXPECT_EQ(resets, 1);
    EXPECT_FALSE(std::filesystem::exists(folder.file("veldra.ini")));
}

TEST(SettingsFile, ReadingRules) {
    TempDir folder;
    const Settings s = LoadFrom(folder, "COMMAND,conv %F,%N.fit,quiet\r\n"
                                        "MONITOR_FILTER,*.fts\r\n"
                                        "MONITOR_FILTER, *.fit\r\n"
                                        "debounce_time,9\r\n"
                                        "EXPOSURE,12.5\r\n"
                                        "PWI_MAX_SOLVE_TIME,13.5\r\n"
                                        "FILTER_PREDICTION_X,fALSE\r\n"
                                        "USE_ACCELERATION_Y,-1\r\n"
                                        "SIM,0\r\n"
                                        "DISABLE_CORRECTIONS,true\r\n"
                                        "UNKNOWN_KEY,5\r\n"
                                        "IMAGE_SCALE,1.856\r\n"
                                        "MONITOR_START_STATE,1\r\n");
    EXPECT_EQ(s.COMMAND, "conv %F,%N.fit,quiet"); // only the first comma separates
    EXPECT_EQ(s.MONITOR_FILTER, " *.fit");        // later line wins, leading blank kept
    EXPECT_EQ(s.DEBOUNCE_TIME, 4);                // keys are case-sensitive
    EXPECT_EQ(s.EXPOSURE, 12);                    // halves to even
    EXPECT_EQ(s.PWI_MAX_SOLVE_TIME, 14);
    EXPECT_FALSE(s.FILTER_PREDICTION_X);
    EXPECT_TRUE(s.USE_ACCELERATION_Y);
    EXPECT_FALSE(s.SIM);
    EXPECT_TRUE(s.DISABLE_CORRECTIONS);
    EXPECT_DOUBLE_EQ(s.IMAGE_SCALE, 1.856);
    EXPECT_EQ(s.MONITOR_START_STATE, 1);
}

TEST(SettingsFile, BadLinesAreSkippedAndFieldsKeepTheirValue) {
    TempDir folder;
    const Settings s = LoadFrom(folder, "\r\n"
                                        "no comma here\r\n"
                                        "DEBOUNCE_TIME,abc\r\n"
                                        "EXPOSURE,40000\r\n"
                                        "PWI_MAX_SOLVE_TIME,\r\n"
                                        "RUN_COMMAND,maybe\r\n"
                                        "IMAGE_SCALE,1.2.3\r\n"
                                        "OVERRIDE_POSITION,-32769\r\n"
                                        // Values that no control allows.
                                        "PLATE_SOLVE_METHOD,7\r\n"
                                        "DEBOUNCE_TIME,-5\r\n"
                                        "PWI_MAX_SOLVE_TIME,-1\r\n"
                                        "EXPOSURE,-300\r\n"
                                        "IMAGE_SCALE,-1e300\r\n"
                                        "RA_POS,99 99 99\r\n"
                                        "DEC_POS,+90 00 00\r\n"
                                        "OVERRIDE_POSITION,3\r\n"
                                        "MONITOR_START_STATE,5\r\n");
    EXPECT_EQ(SettingsFileText(s), SettingsFileText(Settings{})); // every field as it was
}

TEST(SettingsFile, TheThirdMethodLoads) {
    TempDir folder;
    EXPECT_EQ(LoadFrom(folder, "PLATE_SOLVE_METHOD,2\r\n").PLATE_SOLVE_METHOD, 2);
    EXPECT_EQ(LoadFrom(folder, "PLATE_SOLVE_METHOD,3\r\n").PLATE_SOLVE_METHOD, 0);
}

TEST(SettingsFile, FlipRaIsFalseAfterEveryLoadAndSolverNameFollowsThePath) {
    TempDir folder;
    Settings s =
        LoadFrom(folder, "FLIP_RA,True\r\nPWI_EXE_PATH,D:\\Tools\\PS2\\PlateSolve2.exe\r\n");
    EXPECT_FALSE(s.FLIP_RA);
    EXPECT_EQ(s.PWI_EXE_PATH, "D:\\Tools\\PS2\\PlateSolve2.exe"); // a Windows path as it stands
    EXPECT_EQ(s.solverExeName, "PlateSolve2.exe");
    ASSERT_TRUE(SaveSettings(s, folder.path));
    EXPECT_NE(ReadFile(folder.file("veldra.ini")).find("FLIP_RA,False\r\n"), std::string::npos);

    s = LoadFrom(folder, "PWI_EXE_PATH,fakesolve\r\n");
    EXPECT_EQ(s.solverExeName, "fakesolve");
    s = LoadFrom(folder, "PWI_EXE_PATH,/opt/solver/solve-field\r\n");
    EXPECT_EQ(s.solverExeName, "solve-field");
}

TEST(SettingsFile, SaveAndLoadRoundTripsEveryStoredField) {
    TempDir folder;
    Settings before;
    before.PLATE_SOLVE_METHOD = 1;
    before.OVERRIDE_IMAGE_SCALE = true;
    before.IMAGE_SCALE = 1.856;
    SetPwiExePath(before, "/usr/local/bin/ps2, v2");
    before.PWI_MAX_SOLVE_TIME = 0;
    before.MONITOR_PATH = "/data/night 1";
    before.MONITOR_FILTER = " *.fts";
    before.DEBOUNCE_TIME = 0;
    before.MONITOR_START_STATE = 0;
    before.FILTER_PREDICTION_X = false;
    before.FILTER_PREDICTION_Y = false;
    before.USE_ACCELERATION_X = false;
    before.USE_ACCELERATION_Y = true;
    before.DISABLE_CORRECTIONS = true;
    before.OVERRIDE_TIMESTAMP = true;
    before.OVERRIDE_EXPOSURE = true;
    before.EXPOSURE = 32767;
    before.OVERRIDE_POSITION = 2;
    before.RA_POS = " 05 30 00 ";
    before.DEC_POS = "-00 30 00";
    before.ASCOM_DRIVER_NAME = "Telescope Simulator@localhost:7624";
    before.RUN_COMMAND = true;
    before.COMMAND = "conv %F,%N.fit";
    before.SIM = true;
    before.GUIDER = "phd2:imaging-pc:4401";
    before.DITHER_AWARE = false;
    before.raBias = 12; // runtime only
    ASSERT_TRUE(SaveSettings(before, folder.path));

    Settings after;
    LoadSettings(after, folder.path);
    before.raBias = 0;
    EXPECT_EQ(SettingsFileText(after), SettingsFileText(before));
    EXPECT_EQ(after.solverExeName, "ps2, v2");
    EXPECT_EQ(after.raBias, 0);
}

TEST(SettingsFile, AFailedSaveLeavesThePreviousFileIntact) {
    TempDir folder;
    Settings first;
    first.MONITOR_FILTER = "*.fts";
    ASSERT_TRUE(SaveSettings(first, folder.path));
    const std::string previous = ReadFile(folder.file("veldra.ini"));

    // A file-size limit far below the settings text makes the write fail part-way, as a
    // full disk would.  Run in a child so the limit cannot leak into other tests.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{120, 120};
        setrlimit(RLIMIT_FSIZE, &limit);
        Settings second;
        second.COMMAND = std::string(400, 'x');
        _exit(SaveSettings(second, folder.path) ? 0 : 7);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(ReadFile(folder.file("veldra.ini")), previous);
    for (const auto& entry : std::filesystem::directory_iterator(folder.path))
        EXPECT_TRUE(entry.path().filename() == "veldra.ini" ||
                    entry.path().filename() == "debug.txt")
            << "left behind: " << entry.path();
    const auto messages = LogMessages(folder.path);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(" : unable to save the settings file ", 0), 0u);
}

TEST(SettingsFile, AnUnwritableFolderIsReportedNotFatal) {
    TempDir folder;
    EXPECT_FALSE(SaveSettings(Settings{}, folder.file("missing")));
}

// A FIFO, a folder or a device where veldra.ini or debug.txt should be never blocks
// (alarm: a hang fails the test) and is never replaced; the reason is reported.
TEST(SettingsFile, NonRegularPlacesAreRefusedWithoutBlocking) {
    std::vector<std::string> reports;
    SetWriteFailureReporter([&reports](const std::string& text) { reports.push_back(text); });
    alarm(20);
    for (const std::string kind : {"FIFO", "folder"}) {
        TempDir folder;
        const std::string ini = folder.file("veldra.ini");
        ASSERT_EQ(kind == "FIFO" ? mkfifo(ini.c_str(), 0600) : mkdir(ini.c_str(), 0700), 0);
        reports.clear();
        Settings settings;
        settings.DEBOUNCE_TIME = 9;
        LoadSettings(settings, folder.path);
        EXPECT_EQ(settings.DEBOUNCE_TIME, 4) << kind;
        EXPECT_FALSE(SaveSettings(settings, folder.path)) << kind;
        const std::string why = ": it is a " + kind + ", not a regular file";
        EXPECT_EQ(reports,
                  (std::vector<std::string>{"Could not read the settings from " + ini + why,
                                            "Could not save the settings to " + ini + why}));
        EXPECT_EQ(LogMessages(folder.path),
                  (std::vector<std::string>{" : unable to read the settings file " + ini + why,
                                            " : unable to save the settings file " + ini + why}));
        struct stat info {};
        ASSERT_EQ(stat(ini.c_str(), &info), 0);
        EXPECT_EQ(kind == "FIFO" ? S_ISFIFO(info.st_mode) : S_ISDIR(info.st_mode), 1) << kind;
    }
    TempDir folder;
    const std::string log = folder.file("debug.txt");
    for (const std::string kind : {"FIFO", "device"}) {
        std::filesystem::remove(log);
        if (kind == "FIFO")
            ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
        else
            std::filesystem::create_symlink("/dev/null", log);
        reports.clear();
        LogEvent(folder.path, " : lost");
        EXPECT_EQ(reports, std::vector<std::string>{"Could not write the activity log " + log +
                                                    ": it is a " + kind + ", not a regular file"});
    }
    alarm(0);
    SetWriteFailureReporter({});
}

// A file that is no settings file is moved aside as veldra.ini.bad (the newest such file)
// before the defaults can be written over it; a damaged but real one is read.
TEST(SettingsFile, GarbageIsKeptAsBadAndTheDefaultsStay) {
    TempDir folder;
    const std::string ini = folder.file("veldra.ini"), bad = ini + ".bad";
    const char raw[] = "\x7f"
                       "ELF\x02\x01\0\0DEBOUNCE_TIME,9\r\n";
    const std::string binary(raw, sizeof raw - 1);
    WriteFile(bad, "an older one");
    for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
             {binary, "it holds binary data"},
             {"[General]\nwindow=1,2\n", "no line of it holds a setting"}}) {
        WriteFile(ini, text);
        Settings settings;
        LoadSettings(settings, folder.path);
        EXPECT_EQ(settings.DEBOUNCE_TIME, 4);
        EXPECT_FALSE(std::filesystem::exists(ini));
        EXPECT_EQ(ReadFile(bad), text);
        EXPECT_EQ(LogMessages(folder.path).back(), " : veldra.ini could not be read as settings (" +
                                                       why + "); kept as " + bad +
                                                       ", defaults in force");
    }
    EXPECT_TRUE(SaveSettings(Settings{}, folder.path));
    EXPECT_EQ(ReadFile(ini), kDefaultFile);
    EXPECT_EQ(ReadFile(bad), "[General]\nwindow=1,2\n");

    for (const std::string text : {"", "junk\x01\nDEBOUNCE_TIME,9\r\n"}) {
        WriteFile(ini, text);
        Settings settings;
        LoadSettings(settings, folder.path);
        EXPECT_EQ(settings.DEBOUNCE_TIME, text.empty() ? 4 : 9);
        EXPECT_EQ(ReadFile(ini), text);
    }
}

TEST(ActivityLog, LinesAreAppendedWithTimeStampAndCrLf) {
    TempDir folder;
    LogEvent(folder.path, " : Start monitoring");
    const std::string first = ReadFile(folder.file("debug.txt"));
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first.substr(first.size() - 2), "\r\n");
    EXPECT_EQ(first.find('\n'), first.size() - 1); // exactly one line
    // The stamp is the date-time text, then the message follows directly.
    EXPECT_NE(first.find(" : Start monitoring\r\n"), std::string::npos);
    EXPECT_NE(first.find_first_of("0123456789"), std::string::npos);

    LogEvent(folder.path, " :    first file is: a.fit");
    EXPECT_EQ(LogMessages(folder.path),
              (std::vector<std::string>{" : Start monitoring", " :    first file is: a.fit"}));
}

TEST(ActivityLog, DeletedLogIsCreatedAgainAndUnwritableLogIsDropped) {
    TempDir folder;
    LogEvent(folder.path, " : one");
    std::filesystem::remove(folder.file("debug.txt"));
    LogEvent(folder.path, " : two");
    EXPECT_EQ(LogMessages(folder.path), std::vector<std::string>{" : two"});
    LogLine(folder.file("no such folder"), "lost"); // must simply return
    EXPECT_FALSE(std::filesystem::exists(folder.file("no such folder")));
}
