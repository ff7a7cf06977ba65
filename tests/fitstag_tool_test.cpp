// The built fitstag run as a child process: standard input, arguments, output,
// exit status, and the header it leaves behind.
#include "hdrlib/hdrlib.h"
#include "tests/test_support.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

struct Launch {
    std::string program = FITSTAG_EXE;
    std::string timeZone = "UTC";
    bool unprivileged = false;   // as "nobody" when the test runs as root
    long long fileSizeLimit = 0; // bytes; 0 = none
};

// Runs fitstag (or launch.program) with args and input on standard input; returns its exit status
// and what it printed.
Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args, const std::string& input,
                const Launch& launch = {}) {
    const auto in = dir.file("stdin.txt"), out = dir.file("stdout.txt"),
               err = dir.file("stderr.txt");
    WriteFile(in, input);
    chmod(dir.path.c_str(), 0755);
    std::vector<std::string> argv = {launch.program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int input = open(in.c_str(), O_RDONLY);
        const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int error = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (input < 0 || output < 0 || error < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 ||
            dup2(error, 2) < 0)
            _exit(120);
        setenv("TZ", launch.timeZone.c_str(), 1);
        if (launch.fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails with EFBIG
            const rlimit limit{static_cast<rlim_t>(launch.fileSizeLimit),
                               static_cast<rlim_t>(launch.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (launch.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(121);
        execv(pointers[0], pointers.data());
        _exit(122);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
}

const std::string kUsage = std::string("usage: ") + FITSTAG_EXE +
                           " [-r RA_rad] [-d DEC_rad] <fits file>\r\nsend cr2 metadata to stdin\n";

} // namespace

TEST(FitstagTool, WritesPositionAndMetadataKeywords) {
    TempDir dir;
    const auto path = dir.file("light.fit");
    WriteFitsImage(path, 200, 100, {{"EXPTIME", 99.0}});
    const std::string before = ReadFile(path);
    const std::string input = "ExifTool Version Number         : 12.57\n"
                              "Shutter Speed                   : 1/200\n"
                              "Date/Time Original              : 2012:11:18 20:13:42\n"
                              "Camera Temperature              : 22 C\n"
                              "Shutter: 30.0 sec\n"
                              "Timestamp: Sun Nov 18 20:13:42 2012\n";
    const Outcome run = RunTool(dir, {"-r", "1.5707963267948966", "-d", "-0.5", path}, input,
                                {.timeZone = kBerlin});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "ra sec = 21600\ndec sec = 103132\n");
    EXPECT_EQ(run.err, "");

    EXPECT_EQ(CardValue(path, "OBJCTRA"), "06 00 00");
    EXPECT_EQ(CardValue(path, "OBJCTDEC"), "-28 38 52");
    EXPECT_EQ(CardValue(path, "IMAGETYP"), "Light Frame");
    // The last line for a keyword wins; the Timestamp is local time, CET in November.
    EXPECT_EQ(CardValue(path, "EXPOSURE"), "30.");
    EXPECT_EQ(CardValue(path, "EXPTIME"), "30.");
    EXPECT_EQ(CardValue(path, "DATE-OBS"), "2012-11-18T19:13:42");
    EXPECT_EQ(CardValue(path, "CCD-TEMP"), "22.");
    const long long start = FitsDataStart(path);
    EXPECT_EQ(ReadFile(path).substr(start), before.substr(start));
}

TEST(FitstagTool, WithoutOptionsWritesOnlyTheFrameTypeAndTheInput) {
    TempDir dir;
    const auto path = dir.file("light.fit");
    WriteFitsImage(path, 10, 10, {});
    // A long line whose second 999-character piece holds the temperature; then
    // malformed lines that must write nothing.
    const std::string input = std::string(999, 'x') + "Camera Temperature : -7.5\n" +
                              "Shutter:\n"
                              "Shutter Speed :\n"
                              "Timestamp: Sun Foo 18 20:13:42 2012\n"
                              "Timestamp: Sun Nov 18 20:1\n"
                              "Date/Time Original : 2012:11:18\n";
    const Outcome run = RunTool(dir, {path}, input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(CardValue(path, "IMAGETYP"), "Light Frame");
    EXPECT_EQ(CardValue(path, "CCD-TEMP"), "-7.5");
    for (const char* key : {"OBJCTRA", "OBJCTDEC", "EXPOSURE", "EXPTIME", "DATE-OBS"})
        EXPECT_EQ(CardValue(path, key), "") << key;
}

TEST(FitstagTool, UsageAndLoadFailuresEndWithMinusOne) {
    TempDir dir;
    const auto path = dir.file("light.fit");
    WriteFitsImage(path, 10, 10, {});
    const std::string before = ReadFile(path);
    // Positions that are no number or outside the sky are usage errors too, and the
    // refused value is named with the reason.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{}, ""},
        {{path, path}, ""},
        {{"-x", path}, "-x refused: not an option (-r, -d or -h)"},
        {{"-r", "1e30", path}, "-r 1e30 refused: RA of 24h or more (2 pi radians)"},
        {{"-r", "abc", path}, "-r abc refused: not a number of radians"},
        {{"-r", "7", "-d", "2", path}, "-r 7 refused: RA of 24h or more (2 pi radians)"},
        {{"-r", "1", "-d", "2", path}, "-d 2 refused: DEC beyond +-90 degrees (pi/2 radians)"},
        {{"-r", "-0.001", path}, "-r -0.001 refused: RA below 0"},
        {{"-d", "1.5708", path}, "-d 1.5708 refused: DEC beyond +-90 degrees (pi/2 radians)"}};
    for (const auto& [args, reason] : refused) {
        const Outcome run = RunTool(dir, args, "Shutter: 5\n");
        EXPECT_EQ(run.status, 255) << reason;
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(run.err, reason.empty() ? "" : "fitstag: " + reason + "\n");
    }
    // Help: the usage on standard output, success, the file untouched.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"-r", "1", "-h", path}}) {
        const Outcome run = RunTool(dir, args, "Shutter: 5\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(run.err, "");
    }
    // "-r" as the last argument is the path.
    Outcome run = RunTool(dir, {"-r"}, "");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "couldn't load fits file: -r\n");
    const auto missing = dir.file("missing.fit");
    run = RunTool(dir, {"-r", "1", missing}, "");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "couldn't load fits file: " + missing + "\n");
    EXPECT_EQ(ReadFile(path), before);
}

TEST(FitstagTool, ReadOnlyFileFailsWithAClearMessage) {
    TempDir dir;
    const auto path = dir.file("light.fit");
    WriteFitsImage(path, 10, 10, {});
    chmod(path.c_str(), 0444);
    const std::string before = ReadFile(path);
    const Outcome run = RunTool(dir, {"-r", "1", path}, "Shutter: 5\n", {.unprivileged = true});
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.err.find(path), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("couldn't write OBJCTRA to fits file: ", 0), 0u) << run.err;
    EXPECT_EQ(ReadFile(path), before);
}

TEST(FitstagTool, FullHeaderGetsANewBlockWithTheDataUnchanged) {
    TempDir dir;
    const auto path = dir.file("full.fit");
    WriteFullHeaderImage(path);
    ASSERT_EQ(FitsDataStart(path), 2880);
    const std::string before = ReadFile(path);

    Outcome run = RunTool(dir, {"-r", "1", "-d", "1", path}, "Shutter: 5\n");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(FitsDataStart(path), 5760);
    EXPECT_EQ(ReadFile(path).substr(5760), before.substr(2880));
    EXPECT_EQ(CardValue(path, "EXPTIME"), "5.");
    EXPECT_EQ(CardValue(path, "KEY26"), "26");
}

// All keywords are saved or none: a header that cannot grow (a full disk, a folder
// that is not writable) fails the run and leaves the file byte-identical, also when
// a keyword that could be replaced in place came first.
TEST(FitstagTool, AFileThatCannotGrowStaysByteIdentical) {
    for (const bool limitSize : {true, false}) {
        TempDir dir;
        const auto path = dir.file("full.fit");
        WriteFullHeaderImage(path);
        std::string bytes = ReadFile(path);
        const auto key = bytes.find("KEY0    ");
        bytes.replace(key, 80, std::string("OBJCTRA = '01 02 03'") + std::string(60, ' '));
        WriteFile(path, bytes);
        if (!limitSize)
            chmod(dir.path.c_str(), 0555);
        const Launch launch = limitSize
                                  ? Launch{.fileSizeLimit = static_cast<long long>(bytes.size())}
                                  : Launch{.unprivileged = true};
        const Outcome run = RunTool(dir, {"-r", "1", path}, "Shutter: 5\n", launch);
        chmod(dir.path.c_str(), 0755);
        EXPECT_EQ(run.status, 255) << limitSize;
        EXPECT_NE(run.err.find("fits file: " + path), std::string::npos) << run.err;
        EXPECT_TRUE(ReadFile(path) == bytes) << limitSize;
        // No half-written copy is left.
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            files +=
                entry.path().extension() == ".fit" || entry.path().filename().c_str()[0] == '.';
        EXPECT_EQ(files, 1u);
    }
}

// A file without the final fill of its last block: the save needs no new space and
// leaves the length as it was, keywords written, also on a full disk.
TEST(FitstagTool, AnUnpaddedFileIsSavedWholeOnAFullDisk) {
    TempDir dir;
    const auto path = dir.file("unpadded.fit");
    WriteFitsImage(path, 100, 100, {});
    std::filesystem::resize_file(path, 2880 + 20000);
    const std::string before = ReadFile(path);
    const Outcome run = RunTool(dir, {"-r", "1", path}, "Shutter: 5\n",
                                {.fileSizeLimit = static_cast<long long>(before.size()) + 100});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string after = ReadFile(path);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(2880), before.substr(2880));
    EXPECT_EQ(CardValue(path, "EXPTIME"), "5.");
    EXPECT_EQ(CardValue(path, "OBJCTRA"), "03 49 11");
}

// The benchmarks take no arguments: "--help" must not start a run (nor name its folder).
TEST(BenchTools, AnswerHelpAndRefuseOtherArguments) {
    TempDir dir;
    for (const std::string program : {BENCH_HDRLIB_EXE, BENCH_FITSTAG_EXE}) {
        Outcome run = RunTool(dir, {"--help"}, "", {.program = program});
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_EQ(run.out.rfind("usage: " + program + " [--help]\n", 0), 0u) << run.out;
        run = RunTool(dir, {"/tmp/some-folder"}, "", {.program = program});
        EXPECT_EQ(run.status, 2) << program;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("usage: " + program), std::string::npos) << run.err;
    }
    // bench-solve takes a round count; anything else must not start the solves.
    Outcome run = RunTool(dir, {"--help"}, "", {.program = BENCH_SOLVE_EXE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: bench-solve [ROUNDS]\n", 0), 0u) << run.out;
    run = RunTool(dir, {"--rounds"}, "", {.program = BENCH_SOLVE_EXE});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
}
