// veldra ending by a termination signal in the middle of each of its waits: the solver's
// result, the new-image command, the telescope's first reading, and a FIFO in the place
// of veldra.ini.  Each case forks a child that runs the main window as the program's main
// does (session end wired, window loaded) and clicks Start; the test sends SIGTERM once
// the child is inside the wait and checks that it ends within 2 s with its end sequence
// (settings written, " : Ending Veldra" last) and leaves none of its processes behind.
#include "common/file_utils.h"
#include "tests/test_support.h"
#include "veldra/windows/main/form_main.h"
#include "veldra/windows/session_end.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The child: what veldra's main does with a config folder, plus a click on Start.
[[noreturn]] void RunVeldra(const std::string& folder) {
    int argc = 1;
    char name[] = "veldra";
    char* argv[] = {name, nullptr};
    int status = 0;
    {
        QApplication app(argc, argv);
        formMain window(folder);
        EndWithTheSession(&window, [main = &window] {
            main->close();
            QCoreApplication::quit();
        });
        window.Load();
        QTimer::singleShot(0, &window, [main = &window] { main->cmdStart->click(); });
        status = QApplication::exec();
    }
    _exit(status);
}

bool Eventually(const std::function<bool()>& done, std::chrono::seconds bound) {
    const auto deadline = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Gone, or a zombie its new parent has not reaped yet.
bool Ended(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat[close + 2] == 'Z');
}

class SessionEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(images);
        WriteFitsImage(images + "/a.fit", 20, 10,
                       {{"DATE-OBS", std::string("2026-03-14T18:51:51")}, {"EXPOSURE", 300.0}});
    }
    void TearDown() override {
        // Whatever a failed case left running: only the processes this test started.
        for (const pid_t pid : left)
            if (!Ended(pid))
                kill(pid, SIGKILL);
    }
    // veldra.ini: monitoring this test's image folder, the last image processed at Start.
    void WriteSettings(const std::string& lines) {
        WriteFile(folder.file("veldra.ini"), "MONITOR_PATH," + images +
                                                 "\r\nMONITOR_START_STATE,1\r\n"
                                                 "OVERRIDE_IMAGE_SCALE,True\r\n" +
                                                 lines);
    }
    bool Logged(const std::string& message) const {
        for (const std::string& line : LogMessages(folder.path))
            if (line.find(message) != std::string::npos)
                return true;
        return false;
    }
    // Starts the child, waits until inside() holds, sends SIGTERM, and checks the end.
    void EndDuring(const std::function<bool()>& inside) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            RunVeldra(folder.path);
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
        const bool reached = Eventually(inside, std::chrono::seconds(60));
        if (reached)
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // well inside
        const auto signalled = Clock::now();
        kill(child, reached ? SIGTERM : SIGKILL);
        pollfd ended{pidfd, POLLIN, 0};
        const bool quick = poll(&ended, 1, 2000) == 1;
        const auto took = Clock::now() - signalled;
        if (!quick)
            kill(child, SIGKILL);
        int status = -1;
        waitpid(child, &status, 0);
        close(pidfd);
        ASSERT_TRUE(reached) << "the wait was never reached";
        EXPECT_TRUE(quick) << "still running 2 s after SIGTERM";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::printf("ended %.0f ms after SIGTERM\n",
                    std::chrono::duration<double, std::milli>(took).count());
        const auto log = LogMessages(folder.path);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), " : Ending Veldra");
    }
    // The pid a process of the case wrote into a file of the test folder.
    pid_t PidFrom(const std::string& file) {
        const std::string text = ReadFile(folder.file(file));
        if (text.empty())
            return 0;
        left.push_back(static_cast<pid_t>(std::stoi(text)));
        return left.back();
    }
    void ExpectSettingsSaved() {
        EXPECT_NE(ReadFile(folder.file("veldra.ini")).find("NIGHT_MODE,False\r\n"),
                  std::string::npos);
    }

    TempDir folder;
    std::string images = folder.file("images");
    std::vector<pid_t> left;
};

TEST_F(SessionEnd, DuringTheSolversWait) {
    const std::string solver = folder.file("solver.sh");
    std::filesystem::copy_file(std::string(VELDRA_SOURCE_DIR) + "/tests/veldra-fakesolve.sh",
                               solver);
    std::filesystem::permissions(solver, std::filesystem::perms::owner_all);
    WriteFile(images + "/a.fakesolve", "0\nnever\n");
    WriteSettings("PLATE_SOLVE_METHOD,1\r\nOVERRIDE_POSITION,1\r\nPWI_MAX_SOLVE_TIME,60\r\n"
                  "PWI_EXE_PATH," +
                  solver + "\r\n");
    EndDuring([&] {
        return Logged(": waiting for platesolve to complete") &&
               !ReadFile(images + "/a.fakesolve-pid").empty();
    });
    const pid_t pid = static_cast<pid_t>(std::stoi(ReadFile(images + "/a.fakesolve-pid")));
    left.push_back(pid);
    EXPECT_TRUE(Ended(pid));
    EXPECT_TRUE(Logged(" :    ended platesolve process " + std::to_string(pid)));
    ExpectSettingsSaved();
}

// The command and what it started, also ignoring SIGTERM, end with veldra.
TEST_F(SessionEnd, DuringTheNewImageCommand) {
    WriteSettings("RUN_COMMAND,True\r\nCOMMAND,sh -c \"trap '' TERM; sleep 600 & echo $! > " +
                  folder.file("kid") + "; echo $$ > " + folder.file("leader") + "; wait\"\r\n");
    EndDuring([&] {
        return !ReadFile(folder.file("kid")).empty() && !ReadFile(folder.file("leader")).empty();
    });
    for (const char* file : {"kid", "leader"}) {
        const pid_t pid = PidFrom(file);
        EXPECT_TRUE(Eventually([pid] { return Ended(pid); }, std::chrono::seconds(1))) << file;
    }
    EXPECT_TRUE(Logged(" :    command ended: veldra is ending"));
    ExpectSettingsSaved();
}

// A telescope server that accepts the connection and never says a word.
TEST_F(SessionEnd, DuringTheTelescopesFirstReading) {
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 8), 0);
    ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&address), &length), 0);
    WriteSettings("PLATE_SOLVE_METHOD,1\r\nOVERRIDE_POSITION,2\r\n"
                  "ASCOM_DRIVER_NAME,Telescope Simulator@127.0.0.1:" +
                  std::to_string(ntohs(address.sin_port)) + "\r\n");
    EndDuring([&] { return Logged(" : starting solve of file"); });
    close(server);
    EXPECT_FALSE(Logged(" : Doing platesolve of: "));
    ExpectSettingsSaved();
}

// veldra.ini a FIFO: the window comes up at once, the end leaves the FIFO as it was.
TEST_F(SessionEnd, WithAFifoAsTheSettingsFile) {
    ASSERT_EQ(mkfifo(folder.file("veldra.ini").c_str(), 0600), 0);
    EndDuring([&] { return Logged(" : Hdrlib version "); });
    struct stat info {};
    ASSERT_EQ(stat(folder.file("veldra.ini").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(Logged(" : unable to save the settings file " + folder.file("veldra.ini") +
                       ": it is a FIFO, not a regular file"));
}

} // namespace
