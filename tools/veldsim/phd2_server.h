#pragma once
// veldsim's PHD2 stand-in on a TCP port of this computer (loopback only): events on
// connect ("Version", "AppState"), one answer per request line, and the scheduled
// commands of Phd2Standin.  Lines are CR LF ended JSON, as PHD2's.
#include "tools/veldsim/phd2_standin.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <string>
#include <vector>

struct Phd2ServerCallbacks {
    // The rates the shift moves the image by, after anything that may have changed them.
    std::function<void(const Phd2SkyRates& rates)> shiftChanged;
    std::function<void()> setShiftArrived; // a set_lock_shift_params was taken
};

class Phd2Server {
  public:
    Phd2Server(const Phd2Standin& standin, quint16 port, Phd2ServerCallbacks callbacks);
    Phd2Server(const Phd2Server&) = delete;
    Phd2Server& operator=(const Phd2Server&) = delete;
    ~Phd2Server();
    // Listens on 127.0.0.1:port; false (with the reason in ErrorText) when it cannot.
    bool Listen();
    std::string ErrorText() const { return server_.errorString().toStdString(); }
    // Carries out one command of IsPhd2StandinCommand.
    void Command(const std::string& command);
    const Phd2Standin& Standin() const { return standin_; }
    // Sends an event line to every connected client.
    void Broadcast(const QByteArray& line);

  private:
    void Accept();
    void Read(QTcpSocket* client);

    Phd2Standin standin_;
    quint16 port_;
    Phd2ServerCallbacks callbacks_;
    QTcpServer server_;
    std::vector<QTcpSocket*> clients_; // children of server_
};
