#include "tools/veldsim/guider_listener.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace {
const char* const kInterface = "org.veldra.WindowMessage";
}

GuiderListener::GuiderListener(Handler handler) : handler_(std::move(handler)) {}

bool GuiderListener::Connect() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    bool ok =
        bus.connect({}, "/", kInterface, "MG_RemoteSetShift", this, SLOT(onSetShift(int, int)));
    ok = bus.connect({}, "/", kInterface, "MG_RemoteShift", this, SLOT(onShift(int, int))) && ok;
    ok =
        bus.connect({}, "/", kInterface, "MG_RemoteUnShift", this, SLOT(onUnShift(int, int))) && ok;
    ok = bus.connect({}, "/", kInterface, "VELDSIM_SetShift", this,
                     SLOT(onSimulatorSetShift(int, int))) &&
         ok;
    // connect() hands the bus its match rules without waiting for them to take effect, so
    // a message broadcast right after "listening" could still pass us by (the guider then
    // misses Start's MG_RemoteShift and never shifts).  The bus daemon handles one
    // connection's requests in order: once a call answers, every rule before it holds.
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetId"),
                 QDBus::Block, 30000);
    return ok && reply.type() == QDBusMessage::ReplyMessage;
}

void GuiderListener::onSetShift(int w, int l) {
    handler_("MG_RemoteSetShift", w, l);
}
void GuiderListener::onShift(int w, int l) {
    handler_("MG_RemoteShift", w, l);
}
void GuiderListener::onUnShift(int w, int l) {
    handler_("MG_RemoteUnShift", w, l);
}
void GuiderListener::onSimulatorSetShift(int w, int l) {
    handler_("VELDSIM_SetShift", w, l);
}
