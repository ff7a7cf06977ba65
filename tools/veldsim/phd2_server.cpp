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
        client->write(Phd2StandinEvent(
            "Version", {{"PHDVersion", "veldsim"}, {"PHDSubver", ""}, {"MsgVersion", 1}}));
        client->write(
            Phd2StandinEvent("AppState", {{"State", standin_.guiding ? "Guiding" : "Stopped"}}));
        QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] { Read(client); });
        QObject::connect(client, &QTcpSocket::disconnected, client, [this, client] {
            std::erase(clients_, client);
            client->deleteLater();
        });
    }
}

void Phd2Server::Read(QTcpSocket* client) {
    while (client->canReadLine()) {
        const QJsonObject request = QJsonDocument::fromJson(client->readLine()).object();
        const Phd2SkyRates before = Phd2StandinSkyRates(standin_);
        const std::optional<QJsonObject> answer = Phd2StandinAnswer(standin_, request);
        if (!answer)
            continue;
        client->write(QJsonDocument(*answer).toJson(QJsonDocument::Compact) + "\r\n");
        client->flush(); // on its way now, not when the event loop next turns
        if (request.value("method") == "set_lock_shift_params" && !answer->contains("error") &&
            callbacks_.setShiftArrived)
            callbacks_.setShiftArrived();
        const Phd2SkyRates after = Phd2StandinSkyRates(standin_);
        if ((after.ra != before.ra || after.dec != before.dec) && callbacks_.shiftChanged)
            callbacks_.shiftChanged(after);
    }
}

void Phd2Server::Broadcast(const QByteArray& line) {
    for (QTcpSocket* client : clients_)
        client->write(line);
}

void Phd2Server::Command(const std::string& command) {
    if (command == "quit") {
        server_.close();
        for (QTcpSocket* client : std::vector<QTcpSocket*>(clients_))
            client->abort();
        clients_.clear();
        standin_.guiding = false;
        standin_.shiftEnabled = false;
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
        Broadcast(Phd2StandinEvent("StartGuiding"));
    } else if (command == "silent") {
        standin_.silent = true;
    } else if (command == "answer") {
        standin_.silent = false;
    } else if (command == "garbage") {
        Broadcast("this is not JSON\r\n");
    }
    if (callbacks_.shiftChanged)
        callbacks_.shiftChanged(Phd2StandinSkyRates(standin_));
}
