// The PHD2 client against a PHD2 stand-in that the test runs on a free local port:
// PHD2 absent at first, appearing, restarting, falling silent and sending garbage.
#include "tests/qt_test_app.h"
#include "veldra/guider/phd2_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <gtest/gtest.h>

namespace {

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtTestApplication<QCoreApplication>("phd2_test"));

// Handles events until done() holds, at most 10 s.
bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Answers every request (unless silent) with a plain result; get_current_equipment
// reports a connected mount, get_pixel_scale 1.5 "/px and the calibration DEC 60.
struct FakePhd2 {
    QTcpServer server;
    std::vector<QTcpSocket*> clients;
    std::vector<QJsonObject> requests;
    bool silent = false;

    bool Listen(quint16 port) {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* client = server.nextPendingConnection()) {
                clients.push_back(client);
                client->write(R"({"Event":"Version","PHDVersion":"2.6.13","Inst":1})"
                              "\r\n"
                              R"({"Event":"AppState","State":"Guiding","Inst":1})"
                              "\r\n");
                QObject::connect(client, &QTcpSocket::readyRead, client,
                                 [this, client] { Read(client); });
            }
        });
        return server.listen(QHostAddress::LocalHost, port);
    }
    void Read(QTcpSocket* client) {
        while (client->canReadLine()) {
            const QJsonObject request = QJsonDocument::fromJson(client->readLine()).object();
            requests.push_back(request);
            if (silent)
                continue;
            const QJsonValue method = request.value("method");
            const QJsonValue result =
                method == "get_current_equipment"
                    ? QJsonValue(QJsonObject{{"mount", QJsonObject{{"connected", true}}}})
                : method == "get_pixel_scale" ? QJsonValue(1.5)
                : method == "get_calibration_data"
                    ? QJsonValue(QJsonObject{{"calibrated", true}, {"declination", 60}})
                    : QJsonValue(0);
            client->write(QJsonDocument(QJsonObject{{"jsonrpc", "2.0"},
                                                    {"result", result},
                                                    {"id", request.value("id")}})
                              .toJson(QJsonDocument::Compact) +
                          "\r\n");
        }
    }
    // PHD2 ends: every connection closes and nothing listens.
    void Quit() {
        server.close();
        for (QTcpSocket* client : clients)
            client->abort();
        clients.clear();
    }
    size_t Count(const char* method) const {
        size_t count = 0;
        for (const QJsonObject& request : requests)
            count += request.value("method") == method;
        return count;
    }
};

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool Logged(const std::vector<std::string>& log, const std::string& part) {
    for (const std::string& line : log)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(Phd2Client, ConnectsWhenPhd2AppearsReappliesAfterARestartAndNeverBlocks) {
    const quint16 port = FreePort();
    ASSERT_NE(port, 0);
    std::vector<std::string> log;
    Phd2ClientOptions options;
    options.port = port;
    options.retrySeconds = 0.2;
    options.requestBoundSeconds = 0.5;
    Phd2Client client(options, {[&log](const std::string& line) { log.push_back(line); }, {}, {}});
    client.Start();
    // The event loop keeps turning whatever the client waits for.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&ticks] { ++ticks; });
    ticker.start(10);

    // PHD2 absent: not reachable, and the wish is logged as failed but kept.
    ASSERT_TRUE(WaitFor([&] { return client.Session().link == Phd2Link::NotReachable; }));
    client.SetShiftRates({30, -15, 60});
    client.SetShiftEnabled(true);
    EXPECT_TRUE(Logged(log, "set_lock_shift_enabled [true] failed: PHD2 not reachable"));
    EXPECT_NE(client.StatusText().find("not reachable"), std::string::npos);

    // PHD2 appears: the client connects by itself and applies the wishes, the RA rate as a
    // coordinate rate since the mount is connected.
    FakePhd2 phd2;
    ASSERT_TRUE(phd2.Listen(port));
    ASSERT_TRUE(WaitFor([&] { return phd2.Count("set_lock_shift_enabled") == 1; }));
    const QJsonObject* params = nullptr;
    for (const QJsonObject& request : phd2.requests)
        if (request.value("method") == "set_lock_shift_params")
            params = &request;
    ASSERT_NE(params, nullptr);
    EXPECT_NEAR(params->value("params")["rate"].toArray()[0].toDouble(), 60, 1e-9);
    ASSERT_TRUE(WaitFor([&] { return client.StatusText().find("guiding") != std::string::npos; }));
    EXPECT_EQ(client.StatusText(), "PHD2 localhost:" + std::to_string(port) + " \u2014 guiding");

    // Garbage: logged, connection kept.
    phd2.clients.front()->write("Welcome!\r\n");
    ASSERT_TRUE(WaitFor([&] { return Logged(log, "ignored: Welcome!"); }));
    EXPECT_EQ(client.Session().link, Phd2Link::Connected);

    // PHD2 restarts: the client reconnects and applies the shift again.
    phd2.Quit();
    ASSERT_TRUE(WaitFor([&] { return client.Session().link == Phd2Link::NotReachable; }));
    ASSERT_TRUE(phd2.Listen(port));
    ASSERT_TRUE(WaitFor([&] { return phd2.Count("set_lock_shift_enabled") == 2; }));
    EXPECT_EQ(phd2.Count("set_lock_shift_params"), 2u);

    // An answer that never comes: the request fails after its bound while events go on.
    phd2.silent = true;
    const int ticksBefore = ticks;
    client.SetShiftRates({10, 10, 0});
    ASSERT_TRUE(WaitFor([&] { return Logged(log, "failed: no answer within 0.5 s"); }));
    EXPECT_GT(ticks, ticksBefore);
    EXPECT_NE(client.StatusText().find("failed: set_lock_shift_params: no answer"),
              std::string::npos);
    EXPECT_EQ(client.Session().link, Phd2Link::Connected);

    // A peer that takes requests and never answers them cannot pile them up in veldra.
    for (size_t i = 0; i <= kPhd2MaxUnsentRequests; ++i)
        client.SetShiftRates({10, 10, 0});
    EXPECT_TRUE(Logged(log, "lost (PHD2 does not read what veldra sends)"));
}
