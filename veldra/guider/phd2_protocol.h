#pragma once
// PHD2's event-server protocol without a socket: bytes in, classified lines out; requests
// out with fresh ids, answers matched to them by id among the events that arrive
// interleaved on the same connection.  Both directions are one JSON object per line,
// CR LF ended; requests are JSON-RPC 2.0.  The caller owns the clock (seconds on any
// monotonic scale) and the socket.
#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A line longer than this without its end is dropped as garbage: a peer that never ends a
// line must not grow the buffer without limit.
inline constexpr qsizetype kPhd2MaxLineBytes = 1 << 20;

struct Phd2PendingRequest {
    int64_t id = 0;
    std::string method;
    double deadline = 0; // seconds; the request fails when no answer came by then
    std::string params;  // compact JSON of the params, for the log
};

// One line received, classified.
struct Phd2Incoming {
    enum class Kind {
        Event,  // an object with "Event"
        Answer, // an answer to one of our pending requests
        Stray,  // an answer whose id we are not waiting for (late, after its bound)
        Garbage // not a JSON object, or an object that is neither event nor answer
    };
    Kind kind = Kind::Garbage;
    QJsonObject object; // Event, Answer, Stray: the whole object
    std::string event;  // Event: its name
    // Answer and Stray: the id; Answer: the request's method and its outcome.
    int64_t id = 0;
    std::string method;
    std::string params;  // Answer: the request's params as compact JSON
    bool failed = false; // "error" present (or neither "result" nor "error")
    int errorCode = 0;
    std::string errorMessage;
    std::string line; // Garbage: the line as received (cut to 200 bytes for the log)
};

struct Phd2Protocol {
    QByteArray buffer; // received bytes of an unfinished line
    int64_t nextId = 1;
    std::vector<Phd2PendingRequest> pending; // in the order sent
};

// Compact JSON text of an object or array; empty for anything else.
std::string Phd2JsonText(const QJsonValue& value);

// The line of a request (JSON object and CR LF) with the next id, and remembers it as
// pending until deadline.  A null or undefined params leaves "params" out.
QByteArray Phd2Request(Phd2Protocol& protocol, const std::string& method, const QJsonValue& params,
                       double deadline);
// The id the last Phd2Request used.
inline int64_t Phd2LastId(const Phd2Protocol& protocol) {
    return protocol.nextId - 1;
}
// Appends received bytes and returns every line they complete, classified, in order.  An
// empty line is skipped; an answer removes its request from pending.
std::vector<Phd2Incoming> Phd2Feed(Phd2Protocol& protocol, QByteArrayView bytes);
// Removes and returns the pending requests whose deadline has passed.
std::vector<Phd2PendingRequest> Phd2TakeExpired(Phd2Protocol& protocol, double now);
// The connection ended: drops the unfinished line and returns (and forgets) every
// pending request.
std::vector<Phd2PendingRequest> Phd2Reset(Phd2Protocol& protocol);
// The earliest deadline among pending requests; empty when none is pending.
std::optional<double> Phd2NextDeadline(const Phd2Protocol& protocol);
