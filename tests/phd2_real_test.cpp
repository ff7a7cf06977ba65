// veldra's PHD2 link against the real PHD2 (PHD2_BIN, or phd2 on PATH): PHD2 runs headless
// under its own Xvfb with a private HOME and its Simulator camera, once on an On-camera (ST-4
// class) mount and once with indi_simulator_telescope under a private indiserver as the
// mount that reports a declination.  The test drives PHD2 with its JSON-RPC API over one
// connection and runs veldra's Phd2Session over a second; what it checks comes from PHD2's
// own answers: the camera-frame shift rate, the lock's move, dithers as veldra takes them
// out against the lock's real move, the shift limit, and a killed PHD2 taken up again.
#include "common/child_process.h"
#include "tests/telescope_test_server.h"
#include "veldra/drift/dither_map.h"
#include "veldra/guider/dither_events.h"
#include "veldra/guider/phd2_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FindPhd2() {
    if (const char* bin = std::getenv("PHD2_BIN"); bin && *bin && access(bin, X_OK) == 0)
        return bin;
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        for (size_t at = 0; at <= all.size();) {
            const size_t end = std::min(all.find(':', at), all.size());
            const fs::path candidate = fs::path(all.substr(at, end - at)) / "phd2";
            if (end > at && access(candidate.c_str(), X_OK) == 0)
                return candidate;
            at = end + 1;
        }
    }
    return {};
}

bool PortFree(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return free;
}

// Ends a child: SIGTERM, then SIGKILL when it has not gone within the bound.
void Stop(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (double until = Now() + 10; Now() < until; usleep(50000))
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = 0;
            return;
        }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = 0;
}

// One connection to PHD2's event server: lines in, lines out, every wait bounded.
struct LineSocket {
    int fd = -1;
    std::string buffer;
    ~LineSocket() {
        if (fd >= 0)
            close(fd);
    }
    bool Connect(int port, double bound) {
        for (const double until = Now() + bound; Now() < until; usleep(250000)) {
            fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                return true;
            close(fd);
            fd = -1;
        }
        return false;
    }
    void Write(const QByteArray& line) {
        for (qsizetype done = 0; done < line.size();) {
            const ssize_t n = send(fd, line.constData() + done, line.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            done += n;
        }
    }
    // Bytes that arrive within seconds (at most one read).
    std::string ReadSome(double seconds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0)
            return {};
        char data[65536];
        const ssize_t n = recv(fd, data, sizeof data, 0);
        return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
    }
};

// The test's own JSON-RPC client: a call waits for its answer, events are kept.
struct RpcClient {
    LineSocket socket;
    int64_t nextId = 1;
    std::vector<QJsonObject> events;

    std::optional<QJsonObject> NextLine(double until) {
        while (true) {
            if (const size_t end = socket.buffer.find('\n'); end != std::string::npos) {
                const std::string line = socket.buffer.substr(0, end);
                socket.buffer.erase(0, end + 1);
                const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
                if (doc.isObject())
                    return doc.object();
                continue;
            }
            const double left = until - Now();
            if (left <= 0)
                return std::nullopt;
            socket.buffer += socket.ReadSome(std::min(left, 0.5));
        }
    }
    // The whole answer object; empty when none came within the bound.
    std::optional<QJsonObject> Call(const std::string& method, const QJsonValue& params = {},
                                    double bound = 30) {
        const int64_t id = nextId++;
        QJsonObject request{{"jsonrpc", "2.0"},
                            {"method", QString::fromStdString(method)},
                            {"id", static_cast<qint64>(id)}};
        if (!params.isUndefined() && !params.isNull())
            request["params"] = params;
        socket.Write(QJsonDocument(request).toJson(QJsonDocument::Compact) + "\r\n");
        for (const double until = Now() + bound;;) {
            const std::optional<QJsonObject> line = NextLine(until);
            if (!line)
                return std::nullopt;
            if (line->contains("Event"))
                events.push_back(*line);
            else if (line->value("id").toInteger() == id)
                return line;
        }
    }
    // The first event of one of those names from now on (kept ones are dropped first).
    std::optional<QJsonObject> WaitEvent(const std::vector<std::string>& names, double bound) {
        const auto wanted = [&](const QJsonObject& e) {
            const std::string name = e.value("Event").toString().toStdString();
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        for (const double until = Now() + bound;;) {
            for (size_t i = 0; i < events.size(); ++i)
                if (wanted(events[i])) {
                    const QJsonObject found = events[i];
                    events.erase(events.begin(), events.begin() + static_cast<long>(i) + 1);
                    return found;
                }
            events.clear();
            const std::optional<QJsonObject> line = NextLine(until);
            if (!line)
                return std::nullopt;
            if (line->contains("Event"))
                events.push_back(*line);
        }
    }
    std::optional<QJsonObject> WaitEvent(const std::string& name, double bound) {
        return WaitEvent(std::vector<std::string>{name}, bound);
    }
};

bool Accepted(const std::optional<QJsonObject>& answer) {
    return answer && answer->contains("result") && !answer->contains("error");
}

Vector2 LockPosition(RpcClient& rpc) {
    const std::optional<QJsonObject> answer = rpc.Call("get_lock_position");
    EXPECT_TRUE(Accepted(answer));
    const QJsonArray p = answer ? answer->value("result").toArray() : QJsonArray();
    return {p.at(0).toDouble(NAN), p.at(1).toDouble(NAN)};
}

// veldra's session over its own connection, pumped by the test.
struct VeldraLink {
    LineSocket socket;
    Phd2Session session;
    std::vector<Phd2Incoming> events;
    std::vector<std::string> log;

    void Take(const Phd2Output& out) {
        for (const QByteArray& line : out.send)
            socket.Write(line);
        log.insert(log.end(), out.log.begin(), out.log.end());
        events.insert(events.end(), out.events.begin(), out.events.end());
    }
    void Pump(double seconds) {
        for (const double until = Now() + seconds; Now() < until;) {
            const std::string bytes = socket.ReadSome(std::min(0.2, until - Now()));
            if (!bytes.empty())
                Take(Phd2Received(session, QByteArrayView(bytes.data(), bytes.size()), Now()));
            Take(Phd2Expire(session, Now()));
        }
    }
    // Pumps until done() holds or the bound passes; returns done().
    template <class Done> bool PumpUntil(Done done, double bound) {
        for (const double until = Now() + bound; !done() && Now() < until;)
            Pump(0.2);
        return done();
    }
};

// Camera-frame pixels to the sky (arcsec, RA east, DEC north) through PHD2's calibration:
// the components along the directions a star moves for an East and a North pulse, times
// the pixel scale.  The test's own reading of the calibration, apart from veldra's.
Vector2 CameraToSky(const Phd2Calibration& c, double scale, const Vector2& move) {
    const double pi = std::acos(-1.0);
    const double xa = c.xAngle * pi / 180, ya = c.yAngle * pi / 180;
    // Solve move = ra_px * e_x + dec_px * e_y for the two axis directions.
    const double det = std::cos(xa) * std::sin(ya) - std::sin(xa) * std::cos(ya);
    const double ra = (move.v0 * std::sin(ya) - move.v1 * std::cos(ya)) / det;
    const double dec = (std::cos(xa) * move.v1 - std::sin(xa) * move.v0) / det;
    const double xs = c.xParity == "-" ? -1 : 1, ys = c.yParity == "-" ? -1 : 1;
    return {ra * scale * xs, dec * scale * ys};
}

// Waits until PHD2 reports that state (get_app_state); false when the bound passed.
bool WaitAppState(RpcClient& rpc, const QString& state, double bound) {
    for (const double until = Now() + bound; Now() < until; usleep(250000)) {
        const std::optional<QJsonObject> answer = rpc.Call("get_app_state");
        if (answer && answer->value("result").toString() == state)
            return true;
    }
    return false;
}

// Loops exposures, lets PHD2 pick its star over the whole frame (find_star without a region
// keeps the calibration distance from the edges: src/guider_multistar.cpp AutoSelect) and
// guides until PHD2 reports settled.  A failed calibration or settling is tried again with
// a fresh calibration, at most three times within the bound.  Empty when guiding, else why
// not.
std::string Guide(RpcClient& rpc, const QJsonObject& settle, bool recalibrate, double bound) {
    const double until = Now() + bound;
    std::string why = "no attempt within the bound";
    for (int attempt = 0; attempt < 3 && Now() < until; ++attempt) {
        if (attempt > 0) {
            rpc.Call("stop_capture");
            if (!WaitAppState(rpc, "Stopped", 30))
                return why + "; PHD2 did not stop capturing";
        }
        if (!Accepted(rpc.Call("set_exposure", QJsonArray{500})) || !Accepted(rpc.Call("loop")) ||
            !rpc.WaitEvent("LoopingExposures", 60))
            return "PHD2 does not loop exposures";
        bool found = false;
        for (int frame = 0; frame < 5 && !found; ++frame) {
            found = Accepted(rpc.Call("find_star"));
            if (!found)
                rpc.WaitEvent("LoopingExposures", 10);
        }
        if (!found) {
            why = "PHD2 found no star";
            continue;
        }
        if (!Accepted(rpc.Call("guide", QJsonObject{{"settle", settle},
                                                    {"recalibrate", recalibrate || attempt > 0}})))
            return "PHD2 refused to guide";
        const std::optional<QJsonObject> end = rpc.WaitEvent(
            std::vector<std::string>{"SettleDone", "CalibrationFailed"}, until - Now());
        if (!end)
            return why = "PHD2 did not calibrate and settle within " + std::to_string(bound) + " s";
        if (end->value("Event").toString() == "SettleDone" && end->value("Status").toInt() == 0)
            return {};
        why = Phd2JsonText(*end);
        std::printf("PHD2 attempt %d: %s\n", attempt + 1, why.c_str());
    }
    return why;
}

// PHD2's settings for the test: the Simulator camera (2.888 "/px) on an On-camera mount,
// plus the scope keys and sections given.  The Simulator is made quick and steady: no
// periodic error, drift, backlash or hot pixels, little noise (a faint star is otherwise
// lost for frames at a time), and calibration pulses of 1.5 s, four steps per leg
// (src/gear_simulator.cpp SimCamParams, src/scope.cpp Scope::Scope).
std::string Phd2Profile(const std::string& scope, const std::string& sections) {
    return "ConfigVersion=2001\nServerMode=1\ncurrentProfile=1\n[Update]\nenabled=0\n"
           "[profile/1]\nname=test\n[profile/1/camera]\nLastMenuChoice=Simulator\n"
           "pixelsize=5.6\n[profile/1/scope]\nLastMenuChoice=On-camera\n"
           "CalibrationDuration=1500\n" +
           scope +
           "[profile/1/frame]\nfocalLength=400\n[profile/1/SimCam]\nnoise=0.2\n"
           "nr_hot_pixels=0\nuse_pe=0\ndec_drift=0\ndec_backlash=0\nseeing_scale=1\n" +
           sections;
}

// The whole test needs PHD2: without it every case is skipped with one line.
class Phd2Present : public ::testing::Environment {
    void SetUp() override {
        if (FindPhd2().empty())
            GTEST_SKIP() << "no PHD2 binary (set PHD2_BIN or put phd2 on PATH): real-PHD2 test "
                            "skipped";
    }
};
const auto* const phd2Present = ::testing::AddGlobalTestEnvironment(new Phd2Present);

class RealPhd2 : public ::testing::Test {
  protected:
    fs::path dir;
    pid_t xvfb = 0;
    pid_t phd2 = 0;
    int port = 0;
    int instance = 0;
    std::string bin;

    void SetUp() override {
        bin = FindPhd2();
        ASSERT_FALSE(bin.empty());
        char pattern[] = "/tmp/veldra-phd2-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        StartXvfb();
        ASSERT_GT(display, -1) << "Xvfb gave no display";
        for (int n = 30; n < 200 && !instance; ++n)
            if (PortFree(4400 + n - 1))
                instance = n;
        ASSERT_NE(instance, 0);
        port = 4400 + instance - 1;
        fs::create_directories(dir / "home");
    }
    // Writes PHD2's settings and starts it.  PHD2 names an instance's settings after it
    // (src/phdconfig.cpp ConfigName).
    bool StartPhd2(const std::string& profile) {
        std::ofstream(dir / "home" / (".PHDGuidingV2-instance" + std::to_string(instance)))
            << profile;
        return StartPhd2();
    }
    bool StartPhd2() {
        phd2 = fork();
        if (phd2 == 0) {
            const int out = open((dir / "phd2.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(out, 1);
            dup2(out, 2);
            setenv("HOME", (dir / "home").c_str(), 1);
            setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
            setenv("NO_AT_BRIDGE", "1", 1);
            unsetenv("QT_QPA_PLATFORM");
            const std::string i = std::to_string(instance);
            execl(bin.c_str(), bin.c_str(), "-i", i.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return phd2 > 0;
    }
    void TearDown() override {
        if (HasFailure() && !dir.empty()) {
            std::ifstream out(dir / "phd2.out");
            std::string line;
            for (int n = 0; n < 40 && std::getline(out, line); ++n)
                std::printf("phd2: %s\n", line.c_str());
            for (const auto& entry : fs::directory_iterator(dir / "home" / "PHD2")) {
                std::ifstream debug(entry.path());
                while (std::getline(debug, line))
                    if (line.find("LockPosShift") != std::string::npos ||
                        line.find("valid=0") != std::string::npos ||
                        line.find("lock_shift") != std::string::npos ||
                        line.find("LockPosition") != std::string::npos)
                        std::printf("phd2 log: %s\n", line.substr(0, 200).c_str());
            }
        }
        Stop(phd2);
        Stop(xvfb);
        if (!dir.empty()) {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    }

    int display = -1;
    void StartXvfb() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        xvfb = fork();
        if (xvfb == 0) {
            close(fds[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                   "1280x1024x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string text;
        pollfd p{fds[0], POLLIN, 0};
        for (const double until = Now() + 30;
             Now() < until && text.find('\n') == std::string::npos;) {
            if (poll(&p, 1, 500) <= 0)
                continue;
            char c[32];
            const ssize_t n = read(fds[0], c, sizeof c);
            if (n <= 0)
                break;
            text.append(c, static_cast<size_t>(n));
        }
        close(fds[0]);
        if (!text.empty())
            display = std::atoi(text.c_str());
    }
};

// PHD2's event server reached, its equipment connected, guiding and settled.
void ConnectAndGuide(RpcClient& rpc, int port, const QJsonObject& settle, bool recalibrate) {
    ASSERT_TRUE(rpc.socket.Connect(port, 90)) << "PHD2's event server did not open";
    const std::optional<QJsonObject> connected = rpc.Call("set_connected", QJsonArray{true}, 60);
    ASSERT_TRUE(Accepted(connected)) << (connected ? Phd2JsonText(*connected) : "no answer");
    ASSERT_EQ(Guide(rpc, settle, recalibrate, 300), "");
}

// veldra's session on its own connection, once it knows the calibration and pixel scale.
void ConnectVeldra(VeldraLink& veldra, int port) {
    veldra.session.port = port;
    ASSERT_TRUE(veldra.socket.Connect(port, 10));
    veldra.Take(Phd2Connected(veldra.session, Now()));
    ASSERT_TRUE(veldra.PumpUntil(
        [&] {
            return veldra.session.pixelScale && veldra.session.calibration &&
                   veldra.session.calibration->calibrated;
        },
        30));
}

// The camera-frame rate PHD2 applies (get_lock_shift_params X/Y), pixels/hr.
Vector2 AppliedRate(RpcClient& rpc) {
    const std::optional<QJsonObject> xy =
        rpc.Call("get_lock_shift_params", QJsonObject{{"axes", "X/Y"}});
    EXPECT_TRUE(Accepted(xy));
    const QJsonArray rate =
        xy ? xy->value("result").toObject().value("rate").toArray() : QJsonArray();
    return {rate.at(0).toDouble(NAN), rate.at(1).toDouble(NAN)};
}

// The RA/DEC rates PHD2 holds (get_lock_shift_params), "/hr.
Vector2 SentRate(RpcClient& rpc) {
    const std::optional<QJsonObject> answer = rpc.Call("get_lock_shift_params");
    EXPECT_TRUE(Accepted(answer));
    const QJsonArray rate =
        answer ? answer->value("result").toObject().value("rate").toArray() : QJsonArray();
    return {rate.at(0).toDouble(NAN), rate.at(1).toDouble(NAN)};
}

// veldra switches its shift on with those rates: every request accepted, PHD2's switch on.
void ShiftOn(VeldraLink& veldra, RpcClient& rpc, const Phd2Rates& rates) {
    const size_t seen = veldra.events.size();
    veldra.Take(Phd2SetShiftRates(veldra.session, rates, Now()));
    veldra.Take(Phd2SetShiftEnabled(veldra.session, true, Now()));
    veldra.Pump(2);
    for (size_t i = seen; i < veldra.events.size(); ++i) {
        const Phd2Incoming& e = veldra.events[i];
        if (e.kind == Phd2Incoming::Kind::Answer) {
            EXPECT_FALSE(e.failed) << e.method << ": " << e.errorMessage;
        }
    }
    const std::optional<QJsonObject> enabled = rpc.Call("get_lock_shift_enabled");
    ASSERT_TRUE(Accepted(enabled));
    EXPECT_TRUE(enabled->value("result").toBool());
}

// PHD2's camera-frame rate equals the one veldra meant, and veldra's own read-back of it
// confirmed its cos(DEC) decision.  Returns what veldra meant (pixels/s).
Phd2CameraRate ExpectAppliedAsMeant(VeldraLink& veldra, RpcClient& rpc) {
    const Vector2 applied = AppliedRate(rpc);
    const Phd2CameraRate meant = Phd2LockCreep(veldra.session);
    std::printf("X/Y rate (%s cos(DEC)): veldra meant %.3f %.3f px/h, PHD2 applies %.3f %.3f "
                "px/h\n",
                veldra.session.knowsDeclination ? "with" : "without", meant.x * 3600,
                meant.y * 3600, applied.v0, applied.v1);
    // get_calibration_data answers angles to 0.1 deg and rates to 1e-3: a few parts in 10^4.
    // A wrong cos(DEC) at DEC 30 would be 15 % off.
    const double length = std::hypot(meant.x, meant.y) * 3600;
    EXPECT_NEAR(applied.v0, meant.x * 3600, 0.002 * length);
    EXPECT_NEAR(applied.v1, meant.y * 3600, 0.002 * length);
    EXPECT_TRUE(veldra.PumpUntil(
        [&] {
            for (const std::string& line : veldra.log)
                if (line.find("confirms the cos(DEC) decision") != std::string::npos)
                    return true;
            return false;
        },
        10))
        << "veldra did not confirm its cos(DEC) decision from PHD2's answer";
    return meant;
}

TEST_F(RealPhd2, OnCameraMountShiftDithersLimitAndRestart) {
    ASSERT_TRUE(StartPhd2(Phd2Profile("", "")));
    RpcClient rpc;
    const QJsonObject settle{{"pixels", 2}, {"time", 3}, {"timeout", 120}};
    ConnectAndGuide(rpc, port, settle, true);
    ASSERT_FALSE(HasFatalFailure());
    VeldraLink veldra;
    ConnectVeldra(veldra, port);
    ASSERT_FALSE(HasFatalFailure());
    const Phd2Calibration calibration = *veldra.session.calibration;
    const double scale = *veldra.session.pixelScale;
    EXPECT_NEAR(scale, 2.888, 0.01);
    // PHD2's On-camera mount reports no declination: no cos(DEC) on either side.
    EXPECT_FALSE(veldra.session.knowsDeclination);

    // Dithers, with the shift still off: veldra takes each out through its dither code;
    // the lock's real move is read from PHD2 before and after.
    DitherTrack track;
    track.announced = true;
    const std::optional<GuideCamera> camera = GuideCameraOf(veldra.session);
    ASSERT_TRUE(camera);
    SetGuideCamera(track, camera);
    const std::optional<Matrix2> map = CalibrationMap(*camera);
    ASSERT_TRUE(map);
    // PHD2 dithers by a random amount up to 3 px on each axis: one that moved the lock by
    // less than 1" says little, and the next one is taken (at most four of each kind).
    for (const bool raOnly : {false, true}) {
        SCOPED_TRACE(raOnly ? "RA-only dither" : "2-D dither");
        double largest = 0;
        for (int attempt = 0; attempt < 4 && largest < 1.0; ++attempt) {
            const Vector2 before = LockPosition(rpc);
            const size_t seen = veldra.events.size();
            ASSERT_TRUE(Accepted(rpc.Call(
                "dither", QJsonObject{{"amount", 3}, {"raOnly", raOnly}, {"settle", settle}})));
            const Vector2 after = LockPosition(rpc);
            ASSERT_TRUE(veldra.PumpUntil(
                [&] {
                    for (size_t i = seen; i < veldra.events.size(); ++i)
                        if (veldra.events[i].event == "GuidingDithered")
                            return true;
                    return false;
                },
                30));
            const size_t steps = track.steps.size();
            for (size_t i = seen; i < veldra.events.size(); ++i)
                RecordDitherEvent(track, veldra.events[i], UnixNow());
            ASSERT_EQ(track.steps.size(), steps + 1);
            const DitherStep step = track.steps.back();
            const Vector2 removed = SkyOffset(*map, {step.dx, step.dy});
            const Vector2 real =
                CameraToSky(calibration, scale, {after.v0 - before.v0, after.v1 - before.v1});
            std::printf("dither%s dx %.3f dy %.3f: veldra RA %.3f\" DEC %.3f\", lock RA %.3f\" DEC "
                        "%.3f\"\n",
                        raOnly ? " RA-only" : "", step.dx, step.dy, removed.v0, removed.v1, real.v0,
                        real.v1);
            largest = std::max(largest, std::hypot(real.v0, real.v1));
            EXPECT_NEAR(removed.v0, real.v0, 0.3);
            EXPECT_NEAR(removed.v1, real.v1, 0.3);
            if (raOnly) {
                EXPECT_NEAR(real.v1, 0, 0.3);
            }
            ASSERT_TRUE(rpc.WaitEvent("SettleDone", 150));
        }
        EXPECT_GT(largest, 1.0);
    }

    // The shift: veldra sends its rates at DEC 30; PHD2's camera-frame rate must be the one
    // veldra meant (no cos(DEC) on an ST-4 class mount), and the lock must move at it.
    const Phd2Rates rates{3600, -1800, 30};
    ShiftOn(veldra, rpc, rates);
    ASSERT_FALSE(HasFatalFailure());
    const Vector2 sent = SentRate(rpc);
    EXPECT_NEAR(sent.v0, 3600, 1e-6) << "RA rate divided by cos(DEC)";
    EXPECT_NEAR(sent.v1, -1800, 1e-6);
    const Phd2CameraRate meant = ExpectAppliedAsMeant(veldra, rpc);

    const Vector2 first = LockPosition(rpc);
    const double t0 = Now();
    veldra.Pump(20);
    const Vector2 second = LockPosition(rpc);
    const double hours = (Now() - t0) / 3600;
    const double ex = meant.x * 3600 * hours, ey = meant.y * 3600 * hours;
    const double moved = std::hypot(second.v0 - first.v0, second.v1 - first.v1);
    std::printf("lock move in %.1f s: %.3f %.3f px, expected %.3f %.3f px\n", hours * 3600,
                second.v0 - first.v0, second.v1 - first.v1, ex, ey);
    // Each reading lags by up to a frame (about 2 s here): allow that much of the rate.
    const double slack = std::hypot(meant.x, meant.y) * 3 + 0.05 * std::hypot(ex, ey);
    EXPECT_NEAR(second.v0 - first.v0, ex, slack);
    EXPECT_NEAR(second.v1 - first.v1, ey, slack);
    EXPECT_GT(moved, 2.0);

    // A rate far too large drives the lock out of the allowed area: PHD2 turns the shift
    // off and says so, and veldra sees it.
    veldra.Take(Phd2SetShiftRates(veldra.session, Phd2Rates{200000, 0, 30}, Now()));
    EXPECT_TRUE(veldra.PumpUntil([&] { return veldra.session.shiftLimitReached; }, 120))
        << "no LockPositionShiftLimitReached within 120 s";
    const std::optional<QJsonObject> off = rpc.Call("get_lock_shift_enabled");
    ASSERT_TRUE(Accepted(off));
    EXPECT_FALSE(off->value("result").toBool());
    EXPECT_NE(Phd2StatusText(veldra.session).find("limit"), std::string::npos)
        << Phd2StatusText(veldra.session);

    // PHD2 killed and started again: veldra reconnects and applies its shift once PHD2
    // guides again (with the calibration it kept).
    veldra.Take(Phd2SetShiftRates(veldra.session, rates, Now()));
    kill(phd2, SIGKILL);
    waitpid(phd2, nullptr, 0);
    phd2 = 0;
    veldra.Take(Phd2Disconnected(veldra.session, "killed by the test"));
    close(veldra.socket.fd);
    veldra.socket.fd = -1;
    ASSERT_TRUE(StartPhd2());
    RpcClient again;
    ASSERT_TRUE(again.socket.Connect(port, 90)) << "PHD2's event server did not open again";
    ASSERT_TRUE(veldra.socket.Connect(port, 10));
    veldra.Take(Phd2Connected(veldra.session, Now()));
    ASSERT_TRUE(Accepted(again.Call("set_connected", QJsonArray{true}, 60)));
    ASSERT_EQ(Guide(again, settle, false, 300), "");
    // PHD2 keeps the switch in its profile but forgets the rates: they must come from veldra.
    for (const double until = Now() + 60; Now() < until;) {
        veldra.Pump(2);
        const Vector2 applied = AppliedRate(again);
        if (std::hypot(applied.v0, applied.v1) > 100)
            break;
    }
    // The calibration may be a new one: veldra's meaning is read again.
    EXPECT_FALSE(veldra.session.knowsDeclination);
    const Phd2CameraRate meantAgain = ExpectAppliedAsMeant(veldra, again);
    EXPECT_GT(std::hypot(meantAgain.x, meantAgain.y) * 3600, 100);
}

// A mount that reports its declination (indi_simulator_telescope as PHD2's aux mount, at DEC
// 50): PHD2 multiplies the RA rate by cos(DEC), so veldra divides by it, and the camera-frame
// rate is again the one veldra meant.
TEST_F(RealPhd2, DeclinationReportingMount) {
    IndiServer indi({"indi_simulator_telescope"});
    if (indi.pid <= 0)
        GTEST_SKIP() << "no indiserver (Debian package indi-bin): declination case skipped";
    const std::string device = "Telescope Simulator";
    const std::string indiPort = std::to_string(indi.port);
    const auto set = [&](const std::string& property) {
        const ChildOutcome run =
            RunGuarded({"indi_setprop", "-p", indiPort, "-t", "10", device + "." + property},
                       (dir / "indi_setprop.out").string(), 20, "");
        return run.end == ChildOutcome::End::Exited && run.exitCode == 0;
    };
    // The simulator starts at the pole (PHD2 would divide by cos(89 deg)): synced to DEC 50
    // before PHD2 calibrates.  Left without tracking, its DEC stays put.
    ASSERT_TRUE(set("CONNECTION.CONNECT=On"));
    ASSERT_TRUE(set("TELESCOPE_PARK.UNPARK=On"));
    ASSERT_TRUE(set("ON_COORD_SET.SYNC=On"));
    ASSERT_TRUE(set("EQUATORIAL_EOD_COORD.RA;DEC=3;50"));
    ASSERT_TRUE(StartPhd2(Phd2Profile("LastAuxMenuChoice=INDI Mount [" + device + "]\n",
                                      "[profile/1/indi]\nINDIhost=127.0.0.1\nINDIport=" + indiPort +
                                          "\nINDImount=" + device + "\n")));
    RpcClient rpc;
    ConnectAndGuide(rpc, port, QJsonObject{{"pixels", 2}, {"time", 3}, {"timeout", 120}}, true);
    ASSERT_FALSE(HasFatalFailure());
    const std::optional<QJsonObject> equipment = rpc.Call("get_current_equipment");
    ASSERT_TRUE(Accepted(equipment));
    EXPECT_TRUE(equipment->value("result")
                    .toObject()
                    .value("aux_mount")
                    .toObject()
                    .value("connected")
                    .toBool())
        << Phd2JsonText(*equipment);

    VeldraLink veldra;
    ConnectVeldra(veldra, port);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_NEAR(veldra.session.calibration->declination, 50, 0.1);
    EXPECT_TRUE(veldra.session.knowsDeclination);
    ShiftOn(veldra, rpc, Phd2Rates{3600, -1800, 50});
    ASSERT_FALSE(HasFatalFailure());
    const Vector2 sent = SentRate(rpc);
    EXPECT_NEAR(sent.v0, 3600 / std::cos(50 * std::acos(-1.0) / 180), 0.01)
        << "RA rate not divided by cos(DEC)";
    EXPECT_NEAR(sent.v1, -1800, 1e-6);
    ExpectAppliedAsMeant(veldra, rpc);
}

} // namespace
