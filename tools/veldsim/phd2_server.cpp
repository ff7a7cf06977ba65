#include "tools/veldsim/phd2_server.h"

#include <QJsonDocument>
#include <algorithm>

Phd2Server::Phd2Server(const Phd2Standin& standin, quint16 port, Phd2ServerCallbacks callbacks)
    : standin_(standin), port_(port), callbacks_(std::move(callbacks)) {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
}

// The server deletes its client sockets; their last signals must not reach clients_.
Phd2Server::~Phd2Server() {
    for (QTcpSocket* client : server_.findChildren<QTcpSocket*>())
        client->disconnect();
}

bool Phd2Server::Listen() {
    return server_.isListening() || server_.listen(QHostAddress::LocalHost, port_);
}

void Phd2Server::Accept() {
    while (QTcpSocket* client = server_.nextPendingConnection()) {
        clients_.push_back(client);
        for (const QByteArray& line : Phd2StandinCatchUpEvents(
                 standin_, standin_.startUnixSeconds > 0
                               ? std::optional<double>(standin_.startUnixSeconds + Hours() * 3600)
                               : std::nullopt))
            client->write(line);
        QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] { Read(client); });
        QObject::connect(client, &QTcpSocket::disconnected, client, [this, client] {
            std::erase(clients_, client);
            client->deleteLater();
        });
    }
}

// Tells the night the rates the shift moves the image by, when they changed.
void Phd2Server::ReportShift() {
    const Phd2SkyRates now = Phd2StandinSkyRates(standin_);
    if ((now.ra != reported_.ra || now.dec != reported_.dec) && callbacks_.shiftChanged)
        callbacks_.shiftChanged(now);
    reported_ = now;
}

void Phd2Server::Advance() {
    for (const QByteArray& line : Phd2StandinAdvance(standin_, Hours()))
        Broadcast(line);
    ReportShift();
}

void Phd2Server::Read(QTcpSocket* client) {
    while (client->canReadLine()) {
        const QJsonObject request = QJsonDocument::fromJson(client->readLine()).object();
        Advance(); // the lock up to now, before the request changes the shift
        const std::optional<QJsonObject> answer = Phd2StandinAnswer(standin_, request, Hours());
        if (!answer)
            continue;
        client->write(QJsonDocument(*answer).toJson(QJsonDocument::Compact) + "\r\n");
        client->flush(); // on its way now, not when the event loop next turns
        if (request.value("method") == "set_lock_shift_params" && !answer->contains("error") &&
            callbacks_.setShiftArrived)
            callbacks_.setShiftArrived();
        ReportShift();
    }
}

void Phd2Server::Broadcast(const QByteArray& line) {
    for (QTcpSocket* client : clients_)
        client->write(line);
}

void Phd2Server::Dither(DitherWalk& walk, double ditheredAt, double settledAt) {
    Advance();
    const ::Dither moved = NextDither(walk, standin_);
    for (const QByteArray& line : Phd2StandinDitherEvents(standin_, moved, ditheredAt, settledAt))
        Broadcast(line);
}

void Phd2Server::Command(const std::string& command) {
    Advance();
    const auto middle = [this] {
        standin_.lockX = standin_.frameWidth / 2;
        standin_.lockY = standin_.frameHeight / 2;
    };
    const auto lockEvent = [this](const char* name) {
        Broadcast(Phd2StandinEvent(name, {{"X", standin_.lockX}, {"Y", standin_.lockY}},
                                   standin_.startUnixSeconds + Hours() * 3600));
    };
    if (command == "quit") {
        server_.close();
        for (QTcpSocket* client : std::vector<QTcpSocket*>(clients_))
            client->abort();
        clients_.clear();
        standin_.guiding = false;
        standin_.shiftEnabled = false;
        standin_.rateSet = false;
        standin_.rate[0] = standin_.rate[1] = 0;
    } else if (command == "start") {
        standin_.guiding = true;
        Listen();
    } else if (command == "stop-guiding") {
        standin_.guiding = false;
        Broadcast(Phd2StandinEvent("GuidingStopped"));
    } else if (command == "start-guiding") {
        standin_.guiding = true;
        standin_.shiftEnabled = false;
        middle();
        lockEvent("LockPositionSet");
        Broadcast(Phd2StandinEvent("StartGuiding"));
    } else if (command == "new-star") {
        middle();
        lockEvent("StarSelected");
        lockEvent("LockPositionSet");
    } else if (command == "flip") {
        // src/mount.cpp Mount::FlipCalibration for a mount that needs no DEC flip: the
        // RA direction turns by 180 degrees, the DEC direction stays and the DEC parity
        // reverses, as the flipped mount does on the sky.
        standin_.camera.xAngleDegrees += 180;
        standin_.camera.mirrored = !standin_.camera.mirrored;
        standin_.mount.decSign = -standin_.mount.decSign;
        Broadcast(Phd2StandinEvent(
            "CalibrationDataFlipped",
            {{"Mount", standin_.mount.reportsDeclination ? "INDI Mount [veldsim]" : "On-camera"}}));
    } else if (command == "silent") {
        standin_.silent = true;
    } else if (command == "answer") {
        standin_.silent = false;
    } else if (command == "garbage") {
        Broadcast("this is not JSON\r\n");
    }
    ReportShift();
}
