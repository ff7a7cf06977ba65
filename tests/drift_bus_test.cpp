// The guider link on a real session bus (the test runs inside its own dbus-run-session):
// what a guider listening on the bus receives, and what veldra does with an incoming
// "VELDRA_SetShift".
#include "tests/qt_test_app.h"
#include "tests/test_support.h"
#include "veldra/guider/guider_bus.h"
#include "veldra/guider/guider_link.h"
#include "veldra/state/drift_history.h"
#include "veldra/state/platform.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QObject>

#include <string>
#include <vector>

// A guider stand-in on its own bus connection: records every registered message.
class BusWatcher : public QObject {
    Q_OBJECT
  public:
    std::vector<std::string> seen;
  public slots:
    void onSignal(qint32 wParam, qint32 lParam, const QDBusMessage& message) {
        seen.push_back(message.member().toStdString() + " " + std::to_string(wParam) + " " +
                       std::to_string(lParam));
    }
};

namespace {

const char* const kNames[] = {"VELDRA_SetShift",  "MG_RemoteSetShift",     "MG_RemoteShift",
                              "MG_RemoteUnShift", "MG_RemoteCentroidType", "VELDSIM_SetShift"};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtTestApplication<QCoreApplication>("drift_bus_test"));

// Runs the event loop until done() or 10 s have passed (a bound, not a timing check).
template <typename Done> bool WaitFor(Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QDBusConnection WatcherConnection() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "watcher");
}

// Waits until the daemon has handled everything the connection sent before (match rules).
void SyncWithDaemon(QDBusConnection bus) {
    bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "GetId"),
             QDBus::Block, 5000);
}

TEST(GuiderBus, GuiderReceivesTheSequencesInOrderWithExactParameters) {
    ASSERT_TRUE(BusConnected());
    QDBusConnection watcherBus = WatcherConnection();
    ASSERT_TRUE(watcherBus.isConnected());
    BusWatcher watcher;
    for (const char* name : kNames)
        ASSERT_TRUE(watcherBus.connect(QString(), "/", "org.veldra.WindowMessage", name, "ii",
                                       &watcher, SLOT(onSignal(qint32, qint32, QDBusMessage))));
    SyncWithDaemon(watcherBus);

    TempDir dir;
    DriftHistory drift;
    Settings settings;
    Platform platform;
    platform.postMessage = BusPost;
    platform.sendMessage = BusSend;
    platform.clearCharts = [] {};

    settings.SIM = true;
    SendWindowLoadSequence(platform); // never includes the simulator
    drift.currentRaCorrection = 12;
    drift.currentDecCorrection = -7;
    SendStartSequence(drift, settings, dir.path, platform);
    drift.currentRaCorrection = -40;
    drift.currentDecCorrection = 25;
    SendImageCorrection(drift, settings, dir.path, platform);
    settings.SIM = false;
    drift.currentRaCorrection = 3;
    SendImageCorrection(drift, settings, dir.path, platform);
    SendStopSequence(platform); // last: nothing may arrive between the expected ones

    const std::vector<std::string> expected = {
        "MG_RemoteUnShift 0 0",         "MG_RemoteSetShift 10000 10000",
        "MG_RemoteUnShift 0 0",         "MG_RemoteCentroidType 0 0",
        "MG_RemoteSetShift 10012 9993", "VELDSIM_SetShift 10012 9993",
        "MG_RemoteShift 0 0",           "MG_RemoteSetShift 9960 10025",
        "VELDSIM_SetShift 9960 10025",  "MG_RemoteSetShift 10003 10025",
        "MG_RemoteUnShift 0 0"};
    EXPECT_TRUE(WaitFor([&] { return watcher.seen.size() >= expected.size(); }));
    EXPECT_EQ(watcher.seen, expected);
    for (const char* name : kNames)
        watcherBus.disconnect(QString(), "/", "org.veldra.WindowMessage", name, "ii", &watcher,
                              SLOT(onSignal(qint32, qint32, QDBusMessage)));
}

TEST(GuiderBus, IncomingSetShiftReachesTheBiasBoxes) {
    std::vector<std::string> biasTexts;
    std::vector<std::string> arrived;
    Platform platform;
    platform.setBiasTexts = [&biasTexts](const std::string& ra, const std::string& dec) {
        biasTexts.push_back(ra + " " + dec);
    };
    BusListenerHandle listener =
        InstallBusListener([&](const std::string& name, int32_t wParam, int32_t lParam) {
            arrived.push_back(name);
            HandleIncomingMessage(name, wParam, lParam, platform);
        });
    ASSERT_TRUE(listener);

    // Another program sets the biases; a guider message on the way is ignored.
    QDBusConnection peer = WatcherConnection();
    auto emitSignal = [&peer](const char* name, qint32 w, qint32 l) {
        QDBusMessage message = QDBusMessage::createSignal("/", "org.veldra.WindowMessage", name);
        message << w << l;
        peer.send(message);
    };
    emitSignal("MG_RemoteShift", 0, 0);
    emitSignal("VELDRA_SetShift", 10250, 9900);
    EXPECT_TRUE(WaitFor([&] { return arrived.size() >= 2; }));
    EXPECT_EQ(arrived, (std::vector<std::string>{"MG_RemoteShift", "VELDRA_SetShift"}));
    EXPECT_EQ(biasTexts, (std::vector<std::string>{"250 -100"}));
    RemoveBusListener(listener);
    EXPECT_FALSE(listener);
}

} // namespace

#include "drift_bus_test.moc"
