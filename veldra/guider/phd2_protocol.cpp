#include "veldra/guider/phd2_protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr qsizetype kLoggedGarbageBytes = 200;

Phd2Incoming Garbage(const QByteArray& line) {
    Phd2Incoming incoming;
    incoming.kind = Phd2Incoming::Kind::Garbage;
    incoming.line = line.left(kLoggedGarbageBytes).toStdString();
    return incoming;
}

// The outcome of an answer: "result" is success, "error" {code, message} is failure.
void ReadOutcome(const QJsonObject& object, Phd2Incoming& answer) {
    if (object.contains("error")) {
        answer.failed = true;
        const QJsonValue error = object.value("error");
        answer.errorCode = error.toObject().value("code").toInt();
        const QJsonValue message = error.toObject().value("message");
        answer.errorMessage = message.isString() ? message.toString().toStdString()
                                                 : QJsonDocument(QJsonObject{{"error", error}})
                                                       .toJson(QJsonDocument::Compact)
                                                       .toStdString();
    } else if (!object.contains("result")) {
        answer.failed = true;
        answer.errorMessage = "answer without result or error";
    }
}

Phd2Incoming Classify(Phd2Protocol& protocol, const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Garbage(line);
    Phd2Incoming incoming;
    incoming.object = document.object();
    if (const QJsonValue event = incoming.object.value("Event"); event.isString()) {
        incoming.kind = Phd2Incoming::Kind::Event;
        incoming.event = event.toString().toStdString();
        return incoming;
    }
    const QJsonValue id = incoming.object.value("id");
    const double number = id.toDouble(std::nan(""));
    if (!id.isDouble() || !std::isfinite(number) || number != std::trunc(number) ||
        std::abs(number) > 9.0e15)
        return Garbage(line);
    incoming.id = static_cast<int64_t>(number);
    ReadOutcome(incoming.object, incoming);
    const auto pending =
        std::find_if(protocol.pending.begin(), protocol.pending.end(),
                     [&](const Phd2PendingRequest& request) { return request.id == incoming.id; });
    if (pending == protocol.pending.end()) {
        incoming.kind = Phd2Incoming::Kind::Stray;
        return incoming;
    }
    incoming.kind = Phd2Incoming::Kind::Answer;
    incoming.method = pending->method;
    incoming.params = pending->params;
    protocol.pending.erase(pending);
    return incoming;
}

} // namespace

std::string Phd2JsonText(const QJsonValue& value) {
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).toStdString();
    return {};
}

QByteArray Phd2Request(Phd2Protocol& protocol, const std::string& method, const QJsonValue& params,
                       double deadline) {
    const int64_t id = protocol.nextId++;
    QJsonObject request{{"jsonrpc", "2.0"},
                        {"method", QString::fromStdString(method)},
                        {"id", static_cast<qint64>(id)}};
    if (!params.isUndefined() && !params.isNull())
        request.insert("params", params);
    protocol.pending.push_back({id, method, deadline, Phd2JsonText(params)});
    return QJsonDocument(request).toJson(QJsonDocument::Compact) + "\r\n";
}

std::vector<Phd2Incoming> Phd2Feed(Phd2Protocol& protocol, QByteArrayView bytes) {
    std::vector<Phd2Incoming> lines;
    protocol.buffer.append(bytes);
    qsizetype start = 0;
    for (qsizetype end = protocol.buffer.indexOf('\n'); end >= 0;
         end = protocol.buffer.indexOf('\n', start)) {
        const QByteArray line = protocol.buffer.mid(start, end - start).trimmed();
        start = end + 1;
        if (!line.isEmpty())
            lines.push_back(Classify(protocol, line));
    }
    protocol.buffer.remove(0, start);
    if (protocol.buffer.size() > kPhd2MaxLineBytes) {
        lines.push_back(Garbage(protocol.buffer));
        protocol.buffer.clear();
    }
    return lines;
}

std::vector<Phd2PendingRequest> Phd2TakeExpired(Phd2Protocol& protocol, double now) {
    std::vector<Phd2PendingRequest> expired;
    std::erase_if(protocol.pending, [&](const Phd2PendingRequest& request) {
        if (request.deadline > now)
            return false;
        expired.push_back(request);
        return true;
    });
    return expired;
}

std::vector<Phd2PendingRequest> Phd2Reset(Phd2Protocol& protocol) {
    protocol.buffer.clear();
    return std::exchange(protocol.pending, {});
}

std::optional<double> Phd2NextDeadline(const Phd2Protocol& protocol) {
    std::optional<double> next;
    for (const Phd2PendingRequest& request : protocol.pending)
        if (!next || request.deadline < *next)
            next = request.deadline;
    return next;
}
