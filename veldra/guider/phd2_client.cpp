#include "veldra/guider/phd2_client.h"

#include <QAbstractSocket>
#include <algorithm>
#include <cmath>

Phd2Client::Phd2Client(const Phd2ClientOptions& options, Phd2ClientCallbacks callbacks)
    : callbacks_(std::move(callbacks)) {
    session_.host = options.host;
    session_.port = options.port;
    session_.requestBoundSeconds = options.requestBoundSeconds;
    session_.retrySeconds = options.retrySeconds;
    session_.cosDecForced = options.cosDecForced;
    clock_.start();
    connectTimer_.setSingleShot(true);
    retryTimer_.setSingleShot(true);
    deadlineTimer_.setSingleShot(true);
    // A PHD2 on another computer that vanishes without closing is found by keep-alive.
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);

    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] {
        connectTimer_.stop();
        Carry(Phd2Connected(session_, Now()));
    });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_,
                     [this] { Carry(Phd2Received(session_, socket_.readAll(), Now())); });
    QObject::connect(
        &socket_, &QTcpSocket::errorOccurred, &socket_,
        [this](QAbstractSocket::SocketError) { Drop(socket_.errorString().toStdString()); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_,
                     [this] { Drop("PHD2 closed the connection"); });
    QObject::connect(&connectTimer_, &QTimer::timeout, &connectTimer_, [this] {
        Drop("no connection within " + std::to_string(kPhd2ConnectBoundMs / 1000) + " s");
    });
    QObject::connect(&retryTimer_, &QTimer::timeout, &retryTimer_, [this] { Attempt(); });
    QObject::connect(&deadlineTimer_, &QTimer::timeout, &deadlineTimer_,
                     [this] { Carry(Phd2Expire(session_, Now())); });
}

Phd2Client::~Phd2Client() {
    ending_ = true;
    socket_.abort();
}

void Phd2Client::Start() {
    Attempt();
}

void Phd2Client::SetShiftRates(const Phd2Rates& rates) {
    Carry(Phd2SetShiftRates(session_, rates, Now()));
}

void Phd2Client::SetShiftEnabled(bool enabled) {
    Carry(Phd2SetShiftEnabled(session_, enabled, Now()));
}

double Phd2Client::Now() const {
    return static_cast<double>(clock_.nsecsElapsed()) / 1e9;
}

void Phd2Client::Attempt() {
    if (ending_)
        return;
    // The socket is unconnected here: Drop aborted it.
    connectTimer_.start(kPhd2ConnectBoundMs);
    socket_.connectToHost(QString::fromStdString(session_.host),
                          static_cast<quint16>(session_.port));
}

// A refused attempt, a lost connection or a timed-out attempt: fail what is pending and
// try again later.  The socket reports one drop through several signals; the first one
// counts.
void Phd2Client::Drop(const std::string& reason) {
    if (ending_ || retryTimer_.isActive())
        return;
    connectTimer_.stop();
    deadlineTimer_.stop();
    retryTimer_.start(static_cast<int>(session_.retrySeconds * 1000));
    socket_.abort();
    Carry(Phd2Disconnected(session_, reason));
}

void Phd2Client::Carry(Phd2Output output) {
    if (ending_)
        return;
    const double now = Now();
    if (socket_.state() == QAbstractSocket::ConnectedState && !output.send.empty()) {
        for (const QByteArray& line : output.send)
            socket_.write(line);
        // Out now: the caller may keep the event loop from turning for a while (an image
        // run ends with a pause), and PHD2 should not wait for that.  Never blocks.
        socket_.flush();
        // A peer that stops reading must not grow veldra: its connection is closed (and
        // tried again later).
        if (socket_.bytesToWrite() > kPhd2MaxUnsentBytes ||
            session_.protocol.pending.size() > kPhd2MaxUnsentRequests) {
            Drop("PHD2 does not read what veldra sends");
            return;
        }
    }
    if (callbacks_.log)
        for (const std::string& message : output.log)
            callbacks_.log(message);
    if (callbacks_.event)
        for (const Phd2Incoming& event : output.events)
            callbacks_.event(event, now);
    if (const std::optional<double> next = Phd2NextDeadline(session_.protocol))
        deadlineTimer_.start(static_cast<int>(std::ceil(std::max(0.0, *next - now) * 1000)) + 1);
    else
        deadlineTimer_.stop();
    if (callbacks_.statusChanged)
        callbacks_.statusChanged();
}
