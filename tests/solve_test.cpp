// veldra-solve as veldra runs it: the real solve-field on simulated star frames with an
// index built from the same synthetic catalogue, and the ".apm" answer beside the image.
#include "common/child_process.h"
#include "common/file_utils.h"
#include "common/numbers.h"
#include "solve/astap_solver.h"
#include "solve/astrometry_solver.h"
#include "solve/fits_image.h"
#include "solve/readiness_check.h"
#include "solve/solution_header.h"
#include "solve/solve_request.h"
#include "solve/solve_run.h"
#include "tests/test_support.h"
#include "tools/veldsim/star_field.h"
#include "tools/veldsim/star_index.h"

#include <array>
#include <atomic>
#include <cmath>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const double kPiFull = 3.14159265358979323846;
// The true pointing of the star frame, and a start position a few arcminutes off, as a
// telescope's would be.
const double kTrueRa = 83.8, kTrueDec = 22.0; // degrees
const double kHintRa = 83.85, kHintDec = 21.96;
// A solution counts when its centre is this close to the truth.
const double kToleranceArcsec = 1.0;

std::string SolverText(const StarCamera& camera, const std::string& image) {
    const double perDegree = kPiFull / 180;
    return PlainNumberText(kHintRa * perDegree) + "," + PlainNumberText(kHintDec * perDegree) +
           "," + PlainNumberText(FieldWidth(camera) * perDegree) + "," +
           PlainNumberText(FieldHeight(camera) * perDegree) + ",999," + image;
}

struct Apm {
    double ra = 0, dec = 0, flag = -1;
};

Apm ReadApm(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    Apm apm;
    const size_t first = line.find(','), second = line.find(',', first + 1);
    if (second == std::string::npos)
        return apm;
    apm.ra = ParseNumber(line.substr(0, first)).value_or(0);
    apm.dec = ParseNumber(line.substr(first + 1, second - first - 1)).value_or(0);
    apm.flag = ParseNumber(line.substr(second + 1)).value_or(-1);
    return apm;
}

// Every process below pid, from /proc: child -> parent.
std::map<pid_t, pid_t> ParentsOfAll() {
    std::map<pid_t, pid_t> parents;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadFile(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size())
            continue;
        // After "pid (comm) ": the state, then the parent's pid.
        if (stat[close + 2] == 'Z')
            continue; // ended, waiting only to be reaped
        parents[std::stoi(name)] = std::stoi(stat.substr(close + 4));
    }
    return parents;
}

std::set<pid_t> DescendantsOf(pid_t root) {
    const auto parents = ParentsOfAll();
    std::set<pid_t> found{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [child, parent] : parents)
            if (found.count(parent) != 0 && found.insert(child).second)
                grew = true;
    }
    found.erase(root);
    return found;
}

bool Alive(pid_t pid) {
    return ParentsOfAll().count(pid) != 0;
}

class VeldraSolve : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        shared_ = std::make_unique<TempDir>();
        camera_.width = 1024;
        camera_.height = 768;
        const auto catalogue = CatalogueFor(camera_, kTrueRa, kTrueDec, 5);
        std::filesystem::create_directory(IndexDir());
        buildError_ = WriteStarIndexFor(catalogue, camera_, IndexDir() + "/index-sim.fits");
        std::mt19937 noise(11);
        const auto stars = RenderStars(catalogue, camera_, kTrueRa, kTrueDec, noise);
        const auto empty = RenderStars({}, camera_, kTrueRa, kTrueDec, noise);
        WriteImageFile(shared_->file("stars.fits"), camera_.width, camera_.height, &stars);
        WriteImageFile(shared_->file("empty.fits"), camera_.width, camera_.height, &empty);
        WriteFile(shared_->file("veldra-solve.ini"),
                  "INDEX_DIR=" + IndexDir() + "\nTIME_LIMIT=20\n# comment\n");
    }
    static void TearDownTestSuite() { shared_.reset(); }

    void SetUp() override {
        ASSERT_EQ(buildError_, "");
        // The scratch folders go here, so a test can see that none is left behind.
        setenv("TMPDIR", scratch_.path.c_str(), 1);
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    static std::string IndexDir() { return shared_->file("index"); }
    static std::string Program() { return JoinPath(ProgramFolder(), "veldra-solve"); }

    // An image of the fixture copied into a folder of this test.
    std::string Image(const std::string& name, const std::string& folder = {}) {
        const std::string target = folder.empty() ? work_.path : work_.file(folder);
        std::filesystem::create_directories(target);
        std::filesystem::copy_file(shared_->file(name), target + "/" + name);
        return target + "/" + name;
    }

    ChildOutcome Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), Program());
        arguments.insert(arguments.end(), {"--config", shared_->file("veldra-solve.ini")});
        return RunGuarded(arguments, work_.file("output.txt"), 120, "");
    }

    std::string Output() const { return ReadFile(work_.file("output.txt")); }
    // No scratch folder of veldra-solve is left (other temporary folders may be there).
    bool ScratchEmpty() const {
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.path))
            if (entry.path().filename().string().rfind("veldra-solve.", 0) == 0)
                return false;
        return true;
    }

    static std::unique_ptr<TempDir> shared_;
    static StarCamera camera_;
    static std::string buildError_;
    TempDir work_;
    TempDir scratch_;
};

std::unique_ptr<TempDir> VeldraSolve::shared_;
StarCamera VeldraSolve::camera_;
std::string VeldraSolve::buildError_;

TEST_F(VeldraSolve, SolvesAStarFrameToTheTrueCentre) {
    const std::string image = Image("stars.fits");
    const ChildOutcome run = Run({SolverText(camera_, image)});
    ASSERT_EQ(run.end, ChildOutcome::End::Exited) << Output();
    EXPECT_EQ(run.exitCode, 0) << Output();
    const Apm apm = ReadApm(work_.file("stars.apm"));
    EXPECT_EQ(apm.flag, 1);
    const double perDegree = kPiFull / 180;
    EXPECT_NEAR((apm.ra / perDegree - kTrueRa) * std::cos(kTrueDec * perDegree) * 3600, 0,
                kToleranceArcsec);
    EXPECT_NEAR((apm.dec / perDegree - kTrueDec) * 3600, 0, kToleranceArcsec);
    // The orientation on the second line: veldsim's frames have north up, east left.
    const std::string text = ReadFile(work_.file("stars.apm"));
    std::string line = text.substr(text.find('\n') + 1);
    const FrameWcs truth = WcsOf(camera_);
    for (int i = 0; i < 4; ++i) {
        const double cd = ParseNumber(line.substr(0, line.find_first_of(",\n"))).value_or(1);
        EXPECT_NEAR(cd, truth.cd[i / 2][i % 2], 1e-3 * camera_.scale / 3600) << "CD element " << i;
        line = line.substr(line.find_first_of(",\n") + 1);
    }
    EXPECT_NE(ReadFile(work_.file("veldra-solve.log")).find("stars.fits: solved in "),
              std::string::npos);
    EXPECT_TRUE(ScratchEmpty());
    // Nothing else beside the image: no temporary result, no solver output.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work_.path))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string>{"stars.fits", "stars.apm", "veldra-solve.log", "output.txt"}));
}

TEST_F(VeldraSolve, TakesTheSolverTextSplitAtBlanksAndSixSeparateFields) {
    // A path with a blank, as a Windows-style split of veldra's command line gives it.
    const std::string image = Image("stars.fits", "night one");
    const std::string text = SolverText(camera_, image);
    const size_t blank = text.find(' ');
    ASSERT_EQ(Run({text.substr(0, blank), text.substr(blank + 1)}).exitCode, 0) << Output();
    EXPECT_EQ(ReadApm(work_.file("night one/stars.apm")).flag, 1);

    std::vector<std::string> fields;
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        const size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    fields.push_back(text.substr(start));
    std::filesystem::remove(work_.file("night one/stars.apm"));
    ASSERT_EQ(Run(fields).exitCode, 0) << Output();
    EXPECT_EQ(ReadApm(work_.file("night one/stars.apm")).flag, 1);

    // The hand check: the same hint and field in degrees, the height left to default.
    std::filesystem::remove(work_.file("night one/stars.apm"));
    ASSERT_EQ(Run({"--ra", PlainNumberText(kHintRa), "--dec", PlainNumberText(kHintDec), "--width",
                   PlainNumberText(FieldWidth(camera_)), image})
                  .exitCode,
              0)
        << Output();
    EXPECT_EQ(ReadApm(work_.file("night one/stars.apm")).flag, 1);
}

TEST_F(VeldraSolve, AFrameWithoutStarsAnswersNotSolvedWithTheReason) {
    const std::string image = Image("empty.fits");
    const ChildOutcome run = Run({SolverText(camera_, image), "--log-dir", scratch_.path});
    EXPECT_EQ(run.exitCode, 1);
    const Apm apm = ReadApm(work_.file("empty.apm"));
    EXPECT_EQ(apm.flag, 0);
    // The answer comes from solve-field itself, not from the time limit.
    const std::string log = ReadFile(scratch_.file("veldra-solve.log"));
    EXPECT_NE(log.find("empty.fits: not solved after "), std::string::npos) << log;
    EXPECT_NE(log.find("solve-field found no solution"), std::string::npos) << log;
    EXPECT_NE(Output().find("solve-field found no solution"), std::string::npos);
}

TEST_F(VeldraSolve, RunByVeldraItLogsBesideVeldrasLogAndAnswersWhetherItIsReady) {
    // veldra names its log folder: the solver's log goes there, not among the frames.
    const std::string image = Image("empty.fits");
    setenv("VELDRA_LOG_DIR", scratch_.path.c_str(), 1);
    EXPECT_EQ(Run({SolverText(camera_, image)}).exitCode, 1);
    unsetenv("VELDRA_LOG_DIR");
    EXPECT_NE(ReadFile(scratch_.file("veldra-solve.log")).find("empty.fits: not solved"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(work_.file("veldra-solve.log")));

    const std::string size =
        "," + std::to_string(camera_.width) + "," + std::to_string(camera_.height);
    const std::string scale = PlainNumberText(camera_.scale);
    EXPECT_EQ(Run({"--check", scale + size}).exitCode, 0) << Output();
    EXPECT_EQ(Output(), "ready\n");
    EXPECT_EQ(Run({"--check", scale}).exitCode, 0) << Output(); // size unknown
    // A field a hundred times wider than the index's quads were made for.
    EXPECT_EQ(Run({"--check", PlainNumberText(camera_.scale * 100) + size}).exitCode, 1);
    EXPECT_NE(Output().find("no astrometry.net index file in " + IndexDir() + " fits a field "),
              std::string::npos)
        << Output();
    EXPECT_NE(Output().find("install astrometry-data-tycho2-10-19"), std::string::npos);
    const TempDir nothing;
    EXPECT_EQ(Run({"--check", scale, "--index-dir", nothing.path}).exitCode, 1);
    EXPECT_EQ(Output().rfind("no astrometry.net index files in " + nothing.path + ": install ", 0),
              0u)
        << Output();
    EXPECT_EQ(Run({"--check", scale, "--solve-field", nothing.file("solve-field")}).exitCode, 1);
    EXPECT_NE(Output().find("cannot be run: install astrometry.net"), std::string::npos);
    for (const char* wrong : {"0", "-1", "1.2,100", "x", "1.2,100,0"})
        EXPECT_EQ(Run({"--check", wrong}).exitCode, 2) << wrong;

    // The packaged files by name: index-4107 holds quads of 22.6' to 32'.
    const auto tycho = IndexScalesOf(nothing.file("index-4107.fits"));
    ASSERT_TRUE(tycho.has_value());
    EXPECT_NEAR(tycho->low / 60, 22.63, 0.01);
    EXPECT_NEAR(tycho->high / 60, 32.0, 0.01);
    EXPECT_FALSE(IndexScalesOf(nothing.file("stars.fits")).has_value());
}

TEST_F(VeldraSolve, MissingSolverIndexOrSettingsAnswerNotSolvedWithAClearMessage) {
    const std::string image = Image("stars.fits");
    struct Case {
        std::vector<std::string> options;
        std::string message;
    };
    const TempDir nothing;
    const std::vector<Case> cases = {
        {{"--index-dir", nothing.path}, "no astrometry.net index files (*.fits) in "},
        {{"--solve-field", nothing.file("solve-field")},
         "install the Debian package astrometry.net"},
        {{"--time-limit", "zero"}, "TIME_LIMIT=zero: not a number"},
        {{"--no-such-option", "1"}, "unknown option --no-such-option"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(work_.file("stars.apm"));
        std::vector<std::string> arguments{SolverText(camera_, image)};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ChildOutcome run = Run(arguments);
        EXPECT_EQ(run.exitCode, 1) << c.message;
        EXPECT_EQ(ReadApm(work_.file("stars.apm")).flag, 0) << c.message;
        EXPECT_NE(Output().find(c.message), std::string::npos) << Output();
    }

    // solve-field not on PATH at all, as on a machine without astrometry.net.
    const std::string path = std::getenv("PATH");
    setenv("PATH", nothing.path.c_str(), 1);
    std::filesystem::remove(work_.file("stars.apm"));
    const ChildOutcome run = Run({SolverText(camera_, image)});
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(ReadApm(work_.file("stars.apm")).flag, 0);
    EXPECT_NE(Output().find("cannot run solve-field"), std::string::npos) << Output();
    EXPECT_TRUE(ScratchEmpty());

    // Without a readable solver text there is nothing to answer: usage, status 2.
    std::filesystem::remove(work_.file("stars.apm"));
    EXPECT_EQ(Run({"1.5,0.2,abc,0.01,999," + image}).exitCode, 2);
    EXPECT_FALSE(FileExists(work_.file("stars.apm")));
}

TEST_F(VeldraSolve, TheResultFileIsNeverSeenHalfWritten) {
    const std::string image = Image("stars.fits");
    const std::string result = work_.file("stars.apm");
    std::atomic<bool> done{false};
    std::vector<std::string> seen;
    std::thread watcher([&] {
        while (!done) {
            std::ifstream in(result, std::ios::binary);
            if (in) {
                std::string text((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
                if (seen.empty() || seen.back() != text)
                    seen.push_back(text);
            }
            std::this_thread::yield();
        }
    });
    const ChildOutcome run = Run({SolverText(camera_, image)});
    done = true;
    watcher.join();
    EXPECT_EQ(run.exitCode, 0) << Output();
    ASSERT_EQ(seen.size(), 1u); // the one complete text, from its first appearance on
    EXPECT_EQ(seen.front(), ReadFile(result));
    EXPECT_EQ(seen.front().back(), '\n');
}

// A stand-in for solve-field that starts a child of its own and waits, as solve-field
// waits for astrometry-engine.
std::string WriteSlowSolver(const TempDir& folder) {
    const std::string path = folder.file("solve-field");
    WriteFile(path, "#!/bin/sh\nsleep 300 &\nwait\n");
    chmod(path.c_str(), 0755);
    return path;
}

TEST_F(VeldraSolve, NoSolverProcessOutlivesItsTimeLimitOrASigkill) {
    const TempDir tools;
    const std::string slow = WriteSlowSolver(tools);
    const std::string image = Image("stars.fits");

    // Time limit: the run ends with its answer, and every process it started is gone.
    const ChildOutcome limited =
        Run({SolverText(camera_, image), "--solve-field", slow, "--time-limit", "1"});
    EXPECT_EQ(limited.exitCode, 1);
    EXPECT_EQ(ReadApm(work_.file("stars.apm")).flag, 0);
    EXPECT_NE(Output().find("no solution within the time limit of 1 seconds"), std::string::npos)
        << Output();
    EXPECT_TRUE(ScratchEmpty());

    // SIGKILL, as veldra's forced end sends it: solve-field's own child must end too.
    const std::string config = shared_->file("veldra-solve.ini");
    const std::string text = SolverText(camera_, image);
    const pid_t solver = fork();
    if (solver == 0) {
        execl(Program().c_str(), Program().c_str(), text.c_str(), "--config", config.c_str(),
              "--solve-field", slow.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(solver, 0);
    // Wait (at most 20 s) until the stand-in's own child runs: three levels below us.
    std::set<pid_t> started;
    for (int i = 0; i < 2000; ++i) {
        started = DescendantsOf(solver);
        const auto parents = ParentsOfAll();
        bool grandchild = false;
        for (const pid_t pid : started)
            grandchild = grandchild || (parents.count(pid) != 0 && parents.at(pid) != solver &&
                                        started.count(parents.at(pid)) != 0);
        if (grandchild)
            break;
        usleep(10000);
    }
    ASSERT_GE(started.size(), 3u); // watchdog, stand-in, its child
    kill(solver, SIGKILL);
    waitpid(solver, nullptr, 0);
    std::set<pid_t> alive = started;
    for (int i = 0; i < 1000 && !alive.empty(); ++i) {
        std::erase_if(alive, [](pid_t pid) { return !Alive(pid); });
        usleep(10000);
    }
    EXPECT_TRUE(alive.empty()) << alive.size() << " processes left";
    // The watchdog removed the scratch folder too (its helper may still be at it).
    for (int i = 0; i < 500 && !ScratchEmpty(); ++i)
        usleep(10000);
    EXPECT_TRUE(ScratchEmpty());
}

TEST_F(VeldraSolve, AstapEngineRunsAstapCliAndReadsItsIni) {
    // A stand-in for astap_cli that records its arguments and answers like ASTAP.
    const TempDir tools;
    const std::string astap = tools.file("astap_cli");
    WriteFile(astap, "#!/bin/sh\n"
                     "echo \"$@\" > " +
                         tools.file("arguments") +
                         "\n"
                         "while [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
                         "printf 'PLTSOLVD=T\\r\\nCRVAL1=8.38E+01\\r\\nCRVAL2=-2.2E+01\\r\\n"
                         "CD1_1=-4.1666666666667E-004\\r\\nCD1_2= 1.5E-006\\r\\n"
                         "CD2_1= 1.5E-006\\r\\nCD2_2= 4.1666666666667E-004\\r\\n' "
                         "> \"$out.ini\"\n");
    chmod(astap.c_str(), 0755);
    const std::string image = Image("stars.fits");
    const ChildOutcome run =
        Run({"0.5,-0.25,0.01,0.008,999," + image, "--engine", "astap", "--astap-cli", astap});
    EXPECT_EQ(run.exitCode, 0) << Output();
    // The orientation goes on the second line, for veldra's registration reference.
    EXPECT_EQ(ReadFile(work_.file("stars.apm")),
              "1.46258591317125,-0.383972435438752,1\n"
              "-0.00041666666666667,1.5E-06,1.5E-06,0.00041666666666667\n");
    // RA in hours, DEC as the distance from the south pole, the field's height in degrees
    // (values from 0.5 and -0.25 rad with veldra's pi, worked out apart from the code).
    const std::string arguments = ReadFile(tools.file("arguments"));
    EXPECT_NE(arguments.find("-f " + image +
                             " -ra 1.90985931710275 -spd 75.6760551217294 "
                             "-r 1.71887338539247 -fov 0.458366236104659 -z 0 -o "),
              std::string::npos)
        << arguments;

    WriteFile(astap, "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; done\n"
                     "printf 'PLTSOLVD=F\\nERROR=Not enough stars\\n' > \"$out.ini\"\nexit 1\n");
    EXPECT_EQ(Run({"0.5,-0.25,0.01,0.008,999," + image, "--engine", "astap", "--astap-cli", astap})
                  .exitCode,
              1);
    EXPECT_EQ(ReadApm(work_.file("stars.apm")).flag, 0);
    EXPECT_NE(Output().find("ASTAP found no solution: Not enough stars"), std::string::npos);
}

TEST(VeldraSolveParts, AstapResultCarriesItsOrientation) {
    // ASTAP's ".ini" as it writes it: CRPIX, CRVAL, CDELT, CROTA and the CD matrix.
    const SolveOutcome full = ParseAstapResult(
        "PLTSOLVD=T\nCRPIX1= 1.5005E+003\nCRPIX2= 1.0005E+003\nCRVAL1= 8.38E+001\n"
        "CRVAL2= 2.2E+001\nCDELT1=-4.1666E-004\nCDELT2= 4.1666E-004\nCROTA1= 2.0E+000\n"
        "CROTA2= 2.0E+000\nCD1_1=-4.1641E-004\nCD1_2= 1.4541E-005\nCD2_1=-1.4541E-005\n"
        "CD2_2= 4.1641E-004\n");
    ASSERT_TRUE(full.solved);
    EXPECT_TRUE(full.oriented);
    EXPECT_EQ(full.cd[0][0], -4.1641E-004);
    EXPECT_EQ(full.cd[0][1], 1.4541E-005);
    EXPECT_EQ(full.cd[1][0], -1.4541E-005);
    EXPECT_EQ(full.cd[1][1], 4.1641E-004);
    // Scale and turn only: CD = (CDELT1 cos r, -CDELT2 sin r; CDELT1 sin r, CDELT2 cos r),
    // here with r = 90 degrees (0, -CDELT2; CDELT1, 0).
    const SolveOutcome turned = ParseAstapResult(
        "PLTSOLVD=T\nCRVAL1=83.8\nCRVAL2=22\nCDELT1=-0.0004\nCDELT2=0.0004\nCROTA2=90\n");
    ASSERT_TRUE(turned.oriented);
    EXPECT_NEAR(turned.cd[0][0], 0, 1e-18);
    EXPECT_NEAR(turned.cd[0][1], -0.0004, 1e-18);
    EXPECT_NEAR(turned.cd[1][0], -0.0004, 1e-18);
    EXPECT_NEAR(turned.cd[1][1], 0, 1e-18);
    // No orientation, or a matrix of rank one: solved, not oriented.
    for (const char* text : {"PLTSOLVD=T\nCRVAL1=83.8\nCRVAL2=22\nCD1_1=-0.0004\n",
                             "PLTSOLVD=T\nCRVAL1=83.8\nCRVAL2=22\nCD1_1=1\nCD1_2=2\nCD2_1=2\n"
                             "CD2_2=4\n"}) {
        const SolveOutcome bare = ParseAstapResult(text);
        EXPECT_TRUE(bare.solved) << text;
        EXPECT_FALSE(bare.oriented) << text;
    }
}

TEST(VeldraSolveParts, HandCheckTakesDegreesAndNamesWhatIsMissing) {
    CommandLine line;
    EXPECT_EQ(ParseCommandLine({"--ra", "90", "--dec", "-45", "--width", "0.5", "--height", "0.25",
                                "night 1/a.fit"},
                               line),
              "");
    ASSERT_TRUE(line.request);
    const double perDegree = kPiFull / 180;
    EXPECT_NEAR(line.request->ra, 90 * perDegree, 1e-12);
    EXPECT_NEAR(line.request->dec, -45 * perDegree, 1e-12);
    EXPECT_NEAR(line.request->width, 0.5 * perDegree, 1e-12);
    EXPECT_NEAR(line.request->height, 0.25 * perDegree, 1e-12);
    EXPECT_EQ(line.request->imagePath, "night 1/a.fit");

    CommandLine square;
    EXPECT_EQ(ParseCommandLine({"--ra", "10", "--dec", "20", "--width", "1", "a.fit"}, square), "");
    ASSERT_TRUE(square.request);
    EXPECT_NEAR(square.request->height, perDegree, 1e-12);

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--ra", "10", "--dec", "20", "a.fit"},
          std::vector<std::string>{"--ra", "ten", "--dec", "20", "--width", "1", "a.fit"},
          std::vector<std::string>{"--ra", "10", "--dec", "95", "--width", "1", "a.fit"},
          std::vector<std::string>{"--ra", "10", "--dec", "20", "--width", "1"}}) {
        CommandLine line;
        EXPECT_NE(ParseCommandLine(bad, line), "") << bad[3];
        EXPECT_FALSE(line.request) << bad[3];
    }
}

// Relative names that look like options reach the engines as "./NAME", and the solver
// text in one argument, or after "--", never reads as an option of veldra-solve.
TEST_F(VeldraSolve, ImageNamesLikeOptionsSolveLikeAnyOther) {
    const std::string folder = std::filesystem::current_path();
    std::filesystem::current_path(work_.path);
    std::vector<ChildOutcome> runs;
    for (const std::string name : {"-x.fit", "--help.fit"}) {
        std::filesystem::copy_file(shared_->file("stars.fits"), name);
        runs.push_back(Run({SolverText(camera_, name)}));
    }
    std::filesystem::remove("--help.apm");
    const std::string text = SolverText(camera_, "--help.fit");
    std::vector<std::string> split = {Program(), "--config", shared_->file("veldra-solve.ini"),
                                      "--"};
    for (size_t start = 0, comma = 0; comma != std::string::npos; start = comma + 1) {
        comma = split.size() < 9 ? text.find(',', start) : std::string::npos;
        split.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    }
    runs.push_back(RunGuarded(split, work_.file("output.txt"), 120, ""));
    std::filesystem::current_path(folder);
    for (const ChildOutcome& run : runs)
        EXPECT_EQ(run.exitCode, 0) << Output();
    EXPECT_EQ(ReadApm(work_.file("-x.apm")).flag, 1);
    EXPECT_EQ(ReadApm(work_.file("--help.apm")).flag, 1);

    SolveJob job;
    job.request = {0.5, -0.25, 0.01, 0.008, "-x.fit"};
    job.imageWidth = 1024;
    EXPECT_EQ(SolveFieldArguments(job, "c").back(), "./-x.fit");
    EXPECT_EQ(AstapArguments(job, "o")[2], "./-x.fit");
    job.request.imagePath = "/img/-x.fit";
    EXPECT_EQ(SolveFieldArguments(job, "c").back(), "/img/-x.fit");
}

// Large frames are shrunk to at most about 1800 pixels a side before stars are found;
// beyond 100,000 pixels a side no solver is started.
TEST_F(VeldraSolve, LargeFramesAreDownsampledAndHugeOnesRefused) {
    SolveJob job;
    const std::vector<std::array<int, 3>> sizes = {
        {1024, 768, 1}, {1799, 1000, 1}, {3000, 2000, 3}, {6000, 4000, 5}, {100000, 10, 83}};
    for (const auto& [width, height, factor] : sizes) {
        job.imageWidth = width;
        job.imageHeight = height;
        EXPECT_EQ(DownsampleFor(job), factor) << width;
        EXPECT_LE(std::max(width, height) / factor, 1800) << width;
    }
    job.settings.downsample = 2; // DOWNSAMPLE decides when set
    EXPECT_EQ(DownsampleFor(job), 2);

    const std::string huge = work_.file("huge.fits");
    ASSERT_TRUE(WriteImageFile(huge, 100001, 1, nullptr));
    EXPECT_EQ(Run({"0.5,-0.25,0.01,0.008,999," + huge}).exitCode, 1);
    EXPECT_EQ(ReadApm(work_.file("huge.apm")).flag, 0);
    EXPECT_NE(Output().find("the image is 100001 x 1 pixels: more than 100000 pixels a side"),
              std::string::npos)
        << Output();
}

// A solution's centre must be a sky position; a crafted solution file is refused
// without harm.
TEST(VeldraSolveParts, ASolutionOffTheSkyIsNoSolution) {
    const TempDir dir;
    const std::string path = dir.file("a.wcs");
    const std::pair<double, double> centres[] = {{360, 10}, {-0.5, 10}, {10, 90.5}, {10, -91}};
    for (const auto& [ra, dec] : centres) {
        WriteFitsImage(path, 0, 0, {{"CRVAL1", ra}, {"CRVAL2", dec}});
        const SolveOutcome outcome = ReadCentre(path);
        EXPECT_FALSE(outcome.solved) << ra << " " << dec;
        EXPECT_NE(outcome.reason.find("no sky position"), std::string::npos) << outcome.reason;
    }
    WriteFitsImage(path, 0, 0, {{"CRVAL1", 359.5}, {"CRVAL2", -90.0}});
    EXPECT_TRUE(ReadCentre(path).solved);
    const auto crafted =
        std::string(VELDRA_SOURCE_DIR) + "/tests/fuzz-corpus/crafted-naxis-120-free.fits";
    EXPECT_NE(ReadCentre(crafted).reason.find("hdrlib -12"), std::string::npos);
}

TEST(VeldraSolveParts, SolveFieldGetsTheHintScaleAndLeanOptions) {
    SolveJob job;
    job.request = {0.5, -0.25, 0.01, 0.008, "/img/a.fit"};
    job.imageWidth = 3000;
    job.imageHeight = 2000;
    job.scratch = "/tmp/s";
    const auto arguments = SolveFieldArguments(job, "/tmp/s/astrometry.cfg");
    std::string line;
    for (const auto& argument : arguments)
        line += argument + " ";
    // 0.01 rad over 3000 pixels is 0.687549354 "/px; +-15 %; radius 3 field widths of
    // 0.573 degrees (worked out apart from the code, with veldra's pi).
    EXPECT_NE(line.find("--ra 28.6478897565412 --dec -14.3239448782706 --radius "
                        "1.71887338539247 --scale-units arcsecperpix --scale-low "
                        "0.58441695103344 --scale-high 0.790681757280537 --downsample 3 "),
              std::string::npos)
        << line;
    for (const char* lean :
         {"--crpix-center", "--no-plots", "--overwrite", "--fits-image", "--no-remove-lines",
          "--new-fits none", "--corr none", "--dir /tmp/s --temp-dir /tmp/s", "/img/a.fit "})
        EXPECT_NE(line.find(lean), std::string::npos) << lean;
}

// The caller's work while the program runs: called once, before the program ends (it
// ends only once the work has left its mark), and never for a program that did not start.
TEST(VeldraSolveParts, WorkWhileTheProgramRunsOverlapsIt) {
    const TempDir dir;
    const std::string mark = dir.file("mark");
    int calls = 0;
    const ChildOutcome run =
        RunGuarded({"sh", "-c", "while [ ! -e '" + mark + "' ]; do sleep 0.02; done"},
                   dir.file("out"), 20, "", [&] {
                       ++calls;
                       WriteFile(mark, "");
                   });
    EXPECT_EQ(run.end, ChildOutcome::End::Exited);
    EXPECT_EQ(calls, 1);
    const ChildOutcome missing =
        RunGuarded({dir.file("no-such-program")}, dir.file("out"), 20, "", [&] { ++calls; });
    EXPECT_EQ(missing.end, ChildOutcome::End::NotStarted);
    EXPECT_EQ(calls, 1);
}

// With SIGCHLD ignored the kernel reaps the program itself and waitpid can only fail: the
// run says so instead of blaming a signal that never came.
TEST(VeldraSolveParts, AWaitThatFailsIsNamedAsSuch) {
    const TempDir dir;
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    const ChildOutcome run = RunGuarded({"true"}, dir.file("out"), 20, "");
    std::signal(SIGCHLD, previous);
    EXPECT_EQ(run.end, ChildOutcome::End::WaitFailed);
    EXPECT_LT(run.seconds, 10);
}

} // namespace
