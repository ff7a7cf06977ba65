#pragma once
// veldsim's PHD2 stand-in on a TCP port of this computer (loopback only): PHD2's catch-up
// events on connect, one answer per request line, the lock shift and its limit, dithers
// and the scheduled commands of Phd2Standin.  Lines are CR LF ended JSON, as PHD2's.
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
    std::function<double()> hours;         // the simulated time now, hours
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
    // Shifts the lock up to the simulated time now; at the limit the shift goes off.
    void Advance();
    // One dither with its events (Unix seconds of the simulated clock).
    void Dither(DitherWalk& walk, double ditheredAt, double settledAt);

  private:
    void Accept();
    void Read(QTcpSocket* client);
    double Hours() const { return callbacks_.hours ? callbacks_.hours() : 0; }
    void ReportShift();

    Phd2Standin standin_;
    quint16 port_;
    Phd2ServerCallbacks callbacks_;
    QTcpServer server_;
    std::vector<QTcpSocket*> clients_; // children of server_
    Phd2SkyRates reported_;            // the rates last passed to shiftChanged
};
