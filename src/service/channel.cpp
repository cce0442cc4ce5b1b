#include "service/channel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <cmath>

#include "access/actor.h"
#include "chamber/fleet.h"
#include "chamber/statejson.h"
#include "service/logging.h"
#include "service/serviceos.h"

namespace service {

namespace {

QJsonObject errorAnswer(const QJsonValue& id, const char* code) {
    return {{QStringLiteral("id"), id}, {QStringLiteral("error"), QLatin1String(code)}};
}

}  // namespace

Channel::Channel(chamber::Fleet& fleet, std::function<auth::Standing()> standing, QObject* parent)
    : QObject(parent), fleet_(fleet), standing_(std::move(standing)) {
    for (chamber::Chamber* c : fleet_.chambers())
        watch(c);
    connect(&fleet_, &chamber::Fleet::chamberAdded, this, &Channel::watch);
}

Channel::~Channel() {
    close();
}

void Channel::watch(chamber::Chamber* c) {
    connect(c, &chamber::Chamber::stateChanged, this,
            [this, c](const chamber::State& s) { publish(*c, s); });
    connect(c, &chamber::Chamber::commandFinished, this,
            [this, c](quint64 ticket, chamber::Outcome outcome) {
                const auto it = waiting_.find({c, ticket});
                if (it == waiting_.end()) return;
                const Waiting w = it->second;
                waiting_.erase(it);
                if (w.socket && clients_.count(w.socket.data()))
                    send(w.socket.data(),
                         {{QStringLiteral("event"), QStringLiteral("commandFinished")},
                          {QStringLiteral("id"), w.id},
                          {QStringLiteral("outcome"), outcomeWord(outcome)}});
            });
}

bool Channel::listen(const QString& dataFolder, QString* why) {
    close();
    server_ = new QLocalServer(this);
    server_->setMaxPendingConnections(kMaxClients);
    if (!os::listenChannel(*server_, dataFolder, why)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &Channel::accept);
    return true;
}

void Channel::close() {
    for (auto& [socket, client] : clients_) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    clients_.clear();
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
}

void Channel::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (static_cast<int>(clients_.size()) >= kMaxClients) {
            qCWarning(lcService) << "channel: a client beyond" << kMaxClients << "turned away";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        clients_[socket] = Client{};
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            clients_.erase(socket);
            socket->deleteLater();
        });
    }
}

void Channel::read(QLocalSocket* socket) {
    auto it = clients_.find(socket);
    if (it == clients_.end()) return;
    Client& client = it->second;
    client.pending += socket->readAll();
    qsizetype end;
    while ((end = client.pending.indexOf('\n')) >= 0) {
        const QByteArray line = client.pending.left(end).trimmed();
        client.pending.remove(0, end + 1);
        if (line.isEmpty()) continue;
        if (line.size() > kMaxLineBytes) {
            drop(socket, "sent a line too long");
            return;
        }
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        const QJsonObject reply = doc.isObject() ? answer(doc.object(), socket)
                                                 : errorAnswer(QJsonValue::Null, "badRequest");
        send(socket, reply);
        if (!clients_.count(socket)) return;  // sending let it go
    }
    // Nothing this long is a request: the client is let go rather than its line kept.
    if (client.pending.size() > kMaxLineBytes) drop(socket, "sent a line too long");
}

void Channel::drop(QLocalSocket* socket, const char* why) {
    qCWarning(lcService) << "channel: a client" << why << "and was disconnected";
    clients_.erase(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

QJsonObject Channel::answer(const QJsonObject& request, QLocalSocket* socket) {
    const QJsonValue id = request.value(QStringLiteral("id"));
    const QJsonValue op = request.value(QStringLiteral("op"));
    if (!op.isString()) return errorAnswer(id, "badRequest");
    if (op.toString() == u"state") {
        QJsonArray chambers;
        for (const chamber::Chamber* c : fleet_.chambers())
            chambers.append(chamber::stateJson(c->state()));
        return {{QStringLiteral("id"), id}, {QStringLiteral("chambers"), chambers}};
    }
    if (op.toString() == u"subscribe") {
        clients_.at(socket).subscribed = true;
        return {{QStringLiteral("id"), id}, {QStringLiteral("subscribed"), true}};
    }
    if (op.toString() == u"setValue") return setValue(request, socket);
    return errorAnswer(id, "unknownOp");
}

QJsonObject Channel::setValue(const QJsonObject& request, QLocalSocket* socket) {
    const QJsonValue id = request.value(QStringLiteral("id"));
    const QJsonValue name = request.value(QStringLiteral("chamber"));
    const QJsonValue loop = request.value(QStringLiteral("loop"));
    const QJsonValue value = request.value(QStringLiteral("value"));
    const QJsonValue reason = request.value(QStringLiteral("reason"));
    // Whole numbers only: a fraction or a number beyond 32 bits is no register value.
    const auto whole = [](const QJsonValue& v) {
        return v.isDouble() && v.toDouble() == std::trunc(v.toDouble()) &&
               std::abs(v.toDouble()) <= 2147483647.0;
    };
    if (!name.isString() || !whole(loop) || !whole(value) ||
        !(reason.isUndefined() || reason.isString()))
        return errorAnswer(id, "badRequest");
    chamber::Chamber* c = fleet_.chamber(name.toString());
    if (!c) return errorAnswer(id, "unknownChamber");
    // Nobody logs in on the channel yet: under access control the chamber refuses, as it does
    // for a window nobody logged in to.
    const auth::Actor by =
        auth::Actor::atThePc(QString(), standing_ ? standing_() : auth::Standing{});
    const chamber::Ticket t =
        c->writeSetValue(static_cast<int>(loop.toDouble()), static_cast<int32_t>(value.toDouble()),
                         by, reason.toString());
    if (t.outcome == chamber::Outcome::Pending) waiting_[{c, t.id}] = Waiting{socket, id};
    return {{QStringLiteral("id"), id}, {QStringLiteral("outcome"), outcomeWord(t.outcome)}};
}

QString Channel::outcomeWord(chamber::Outcome outcome) {
    using O = chamber::Outcome;
    switch (outcome) {
        case O::Done:
            return QStringLiteral("done");
        case O::Pending:
            return QStringLiteral("pending");
        case O::Refused:
            return QStringLiteral("refused");
        case O::Invalid:
            return QStringLiteral("invalid");
        case O::NotRecording:
            return QStringLiteral("notRecording");
        case O::NotFound:
            return QStringLiteral("notFound");
        case O::LinkClosed:
            return QStringLiteral("linkClosed");
        case O::Failed:
            return QStringLiteral("failed");
    }
    return QStringLiteral("failed");
}

void Channel::publish(const chamber::Chamber& c, const chamber::State& state) {
    QJsonObject message;
    bool made = false;
    for (auto it = clients_.begin(); it != clients_.end();) {
        QLocalSocket* socket = (it++)->first;  // send may let this client go
        if (!clients_.at(socket).subscribed) continue;
        if (!made) {
            message = {{QStringLiteral("event"), QStringLiteral("state")},
                       {QStringLiteral("chamber"), c.name()},
                       {QStringLiteral("state"), chamber::stateJson(state)}};
            made = true;
        }
        send(socket, message);
    }
}

void Channel::send(QLocalSocket* socket, const QJsonObject& message) {
    // A client that does not read is let go before its backlog grows without bound.
    if (socket->bytesToWrite() > kMaxQueuedBytes) {
        drop(socket, "stopped reading");
        return;
    }
    socket->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

}  // namespace service
