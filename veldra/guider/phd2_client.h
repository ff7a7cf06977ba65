#pragma once
// The connection to PHD2's event server: a QTcpSocket and three timers around a
// Phd2Session.  Nothing here blocks: Start returns at once, the connection is made in the
// background, every request is answered or failed within the session's bound (3 s), a
// connection attempt ends after kPhd2ConnectBoundMs, and a lost or refused connection is
// tried again every kPhd2RetrySeconds.  Runs on the thread that creates it, through its
// Qt event loop; callbacks run there too.
#include "veldra/guider/phd2_session.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

// A connection attempt (name lookup included) that has not succeeded by then fails.
inline constexpr int kPhd2ConnectBoundMs = 3000;
// A PHD2 that leaves more than this unread has its connection closed.
inline constexpr qint64 kPhd2MaxUnsentBytes = 1 << 20;
inline constexpr size_t kPhd2MaxUnsentRequests = 64;

struct Phd2ClientOptions {
    std::string host = "localhost";
    int port = 4400;
    double requestBoundSeconds = kPhd2RequestBoundSeconds;
    double retrySeconds = kPhd2RetrySeconds;
    // PHD2_COS_DEC: whether PHD2 multiplies the RA rate by cos(DEC); empty: ask PHD2.
    std::optional<bool> cosDecForced;
};

struct Phd2ClientCallbacks {
    std::function<void(const std::string& message)> log; // one activity-log message
    std::function<void()> statusChanged;                 // Phd2StatusText may differ
    // Every event PHD2 sends, with its arrival time on the client's clock.
    std::function<void(const Phd2Incoming& event, double seconds)> event;
};

class Phd2Client {
  public:
    Phd2Client(const Phd2ClientOptions& options, Phd2ClientCallbacks callbacks);
    Phd2Client(const Phd2Client&) = delete;
    Phd2Client& operator=(const Phd2Client&) = delete;
    // Ends the connection without further callbacks.
    ~Phd2Client();

    // Starts connecting in the background; returns at once.
    void Start();
    // veldra's wishes; sent now when connected, kept and applied again after every
    // reconnection and every new start of guiding.
    void SetShiftRates(const Phd2Rates& rates);
    void SetShiftEnabled(bool enabled);

    const Phd2Session& Session() const { return session_; }
    std::string StatusText() const { return Phd2StatusText(session_); }
    // Seconds on the client's monotonic clock (the time base of events and deadlines).
    double Now() const;

  private:
    void Attempt();
    void Drop(const std::string& reason);
    void Carry(Phd2Output output);

    Phd2Session session_;
    Phd2ClientCallbacks callbacks_;
    QElapsedTimer clock_;
    QTcpSocket socket_;
    QTimer connectTimer_;  // bounds one connection attempt
    QTimer retryTimer_;    // the pause before the next attempt
    QTimer deadlineTimer_; // fires at the earliest request deadline
    bool ending_ = false;
};
