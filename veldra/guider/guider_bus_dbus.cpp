// D-Bus backend of the window messages (QtDBus); no QtDBus header leaves this file.
#include "veldra/guider/guider_bus.h"

#include "veldra/guider/guider_link.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

namespace {

QDBusMessage SignalMessage(const std::string& name, int32_t wParam, int32_t lParam) {
    QDBusMessage message = QDBusMessage::createSignal(QString::fromLatin1(kBusPath),
                                                      QString::fromLatin1(kBusInterface),
                                                      QString::fromStdString(name));
    message << static_cast<qint32>(wParam) << static_cast<qint32>(lParam);
    return message;
}

// The daemon handles one connection's messages in order, so its reply to this call
// proves that everything we sent before (signals, match rules) has been processed.
void WaitForDaemon(const QDBusConnection& bus) {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    bus.call(call, QDBus::Block, kBusSendTimeoutMs);
}

const char* const kListenedNames[] = {kSetBiasMessage,      kSetShiftMessage,
                                      kShiftMessage,        kUnShiftMessage,
                                      kCentroidTypeMessage, kSimulatorSetShiftMessage};

} // namespace

// Receives the signals as a QObject slot, which QtDBus needs to deliver them.
class GuiderBusReceiver : public QObject {
    Q_OBJECT
  public:
    explicit GuiderBusReceiver(BusCallback callback) : callback_(std::move(callback)) {}

  public slots:
    void onSignal(qint32 wParam, qint32 lParam, const QDBusMessage& message) {
        callback_(message.member().toStdString(), wParam, lParam);
    }

  private:
    BusCallback callback_;
};

struct BusListener {
    explicit BusListener(BusCallback callback) : receiver(std::move(callback)) {}
    GuiderBusReceiver receiver;
};

bool BusConnected() {
    return QDBusConnection::sessionBus().isConnected();
}

void BusPost(const std::string& name, int32_t wParam, int32_t lParam) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        bus.send(SignalMessage(name, wParam, lParam));
}

void BusSend(const std::string& name, int32_t wParam, int32_t lParam) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.send(SignalMessage(name, wParam, lParam));
    WaitForDaemon(bus);
}

BusListenerHandle InstallBusListener(BusCallback callback) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return {};
    BusListenerHandle listener(new BusListener(std::move(callback)));
    for (const char* name : kListenedNames)
        bus.connect(QString(), QString::fromLatin1(kBusPath), QString::fromLatin1(kBusInterface),
                    QString::fromLatin1(name), QStringLiteral("ii"), &listener->receiver,
                    SLOT(onSignal(qint32, qint32, QDBusMessage)));
    WaitForDaemon(bus);
    return listener;
}

void BusListenerDeleter::operator()(BusListener* listener) const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (const char* name : kListenedNames)
        bus.disconnect(QString(), QString::fromLatin1(kBusPath), QString::fromLatin1(kBusInterface),
                       QString::fromLatin1(name), QStringLiteral("ii"), &listener->receiver,
                       SLOT(onSignal(qint32, qint32, QDBusMessage)));
    delete listener;
}

void RemoveBusListener(BusListenerHandle& listener) {
    listener.reset();
}

#include "guider_bus_dbus.moc"
