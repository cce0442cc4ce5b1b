#include "service/channel.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <algorithm>
#include <array>
#include <cmath>

#include "alert/alerter.h"
#include "auth/credentials.h"
#include "base/jsonfields.h"
#include "chamber/fleet.h"
#include "chamber/statejson.h"
#include "runs/runs.h"
#include "service/imagejson.h"
#include "service/logging.h"
#include "service/serviceos.h"

namespace service {

namespace {

// A chamber's state as the channel tells it: the state every client gets, with the file its
// samples are in (an attached window on this computer reads its history from there) and the
// number of its port (which its printed chart names).
QJsonObject channelState(const chamber::Chamber& c, const chamber::State& state) {
    QJsonObject o = chamber::stateJson(state);
    o.insert(QStringLiteral("database"), c.databasePath());
    o.insert(QStringLiteral("port"), c.portSettings().port);
    return o;
}

QJsonObject errorAnswer(const QJsonValue& id, const char* code) {
    return {{QStringLiteral("id"), id}, {QStringLiteral("error"), QLatin1String(code)}};
}

QJsonObject outcomeAnswer(const QJsonValue& id, const QString& outcome) {
    return {{QStringLiteral("id"), id}, {QStringLiteral("outcome"), outcome}};
}

QString loginWord(auth::Outcome o) {
    switch (o) {
        case auth::Outcome::Done:
            return QStringLiteral("done");
        case auth::Outcome::Locked:
            return QStringLiteral("locked");
        case auth::Outcome::MustChange:
            return QStringLiteral("mustChange");
        case auth::Outcome::Unusable:
            return QStringLiteral("unusable");
        default:
            // A wrong password, an unknown user, a disabled or locked account: one answer.
            return QStringLiteral("refused");
    }
}

// The longest caption a write names its value by in the event log.
constexpr int kMaxCaption = 80;

const QStringList& commandOps() {
    static const QStringList ops{QStringLiteral("setValue"),
                                 QStringLiteral("setAlarm"),
                                 QStringLiteral("programCommand"),
                                 QStringLiteral("startRun"),
                                 QStringLiteral("endRun"),
                                 QStringLiteral("acknowledgeAlert"),
                                 QStringLiteral("writeConfiguration"),
                                 QStringLiteral("writeProgram"),
                                 QStringLiteral("readHolding"),
                                 QStringLiteral("exportAsk"),
                                 QStringLiteral("exportDone")};
    return ops;
}

// The longest file name an export may name.
constexpr int kMaxPath = 4096;

QJsonObject bandJson(const instrument::ToleranceBand& b) {
    return {{QStringLiteral("fixed"), b.fixed},
            {QStringLiteral("plusMinus"), b.plusMinus},
            {QStringLiteral("low"), b.low},
            {QStringLiteral("high"), b.high},
            {QStringLiteral("hysteresis"), b.hysteresis}};
}

// A band field left out keeps its value; one of another type is no band.
bool readBand(const QJsonValue& v, instrument::ToleranceBand* band) {
    if (v.isUndefined()) return true;
    if (!v.isObject()) return false;
    const base::JsonFields f(v.toObject());
    for (const char* key : {"plusMinus", "low", "high", "hysteresis"}) {
        const QJsonValue n = f.value(key);
        if (!n.isUndefined() && (!n.isDouble() || !std::isfinite(n.toDouble()))) return false;
    }
    const QJsonValue fixed = f.value("fixed");
    if (!fixed.isUndefined() && !fixed.isBool()) return false;
    band->fixed = f.flag("fixed", band->fixed);
    band->plusMinus = f.value("plusMinus").toDouble(band->plusMinus);
    band->low = f.value("low").toDouble(band->low);
    band->high = f.value("high").toDouble(band->high);
    band->hysteresis = f.value("hysteresis").toDouble(band->hysteresis);
    return true;
}

}  // namespace

QJsonObject runFormJson(const runs::Run& form) {
    return {{QStringLiteral("name"), form.name},
            {QStringLiteral("orderId"), form.orderId},
            {QStringLiteral("operator"), form.operatorName},
            {QStringLiteral("notes"), form.notes},
            {QStringLiteral("station"), form.station},
            {QStringLiteral("band1"), bandJson(form.band1)},
            {QStringLiteral("band2"), bandJson(form.band2)}};
}

std::optional<runs::Run> runFormFromJson(const QJsonObject& o) {
    const base::JsonFields f(o);
    for (const char* key : {"name", "orderId", "operator", "notes", "station"})
        if (!f.isOptionalText(key)) return std::nullopt;
    runs::Run form;
    form.name = f.text("name");
    form.orderId = f.text("orderId");
    form.operatorName = f.text("operator");
    form.notes = f.text("notes");
    form.station = f.text("station");
    if (!readBand(f.value("band1"), &form.band1) || !readBand(f.value("band2"), &form.band2))
        return std::nullopt;
    return form;
}

Channel::Channel(chamber::Fleet& fleet, std::function<auth::Standing()> standing, QString usersPath,
                 QObject* parent)
    : QObject(parent),
      fleet_(fleet),
      standing_(std::move(standing)),
      usersPath_(std::move(usersPath)) {
    mono_.start();
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
                QJsonObject finished{{QStringLiteral("event"), QStringLiteral("commandFinished")},
                                     {QStringLiteral("id"), w.id},
                                     {QStringLiteral("outcome"), chamber::outcomeWord(outcome)}};
                for (auto f = w.read.begin(); f != w.read.end(); ++f)
                    finished.insert(f.key(), f.value());
                if (w.socket && clients_.count(w.socket.data())) send(w.socket.data(), finished);
            });
    // A read's values come just before its end.
    connect(
        c, &chamber::Chamber::holdingRead, this,
        [this, c](quint64 ticket, chamber::Outcome, int32_t first, const QVector<int32_t>& values) {
            const auto it = waiting_.find({c, ticket});
            if (it == waiting_.end()) return;
            QJsonArray read;
            for (int32_t v : values)
                read.append(v);
            it->second.read = {{QStringLiteral("first"), first}, {QStringLiteral("values"), read}};
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

void Channel::forget(QLocalSocket* socket) {
    for (auto it = exports_.begin(); it != exports_.end();) {
        if (it->second.socket != socket) {
            ++it;
            continue;
        }
        const store::ExportDone done = std::move(it->second.done);
        it = exports_.erase(it);
        done(false);
    }
}

void Channel::close() {
    for (auto& [socket, client] : clients_) {
        forget(socket);
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
        // Beyond the clients the channel takes, or from another computer: turned away.
        const char* away = static_cast<int>(clients_.size()) >= kMaxClients ? "beyond the limit"
                           : os::fromAnotherComputer(*socket)               ? "of another computer"
                                                                            : nullptr;
        if (away) {
            qCWarning(lcService) << "channel: a client" << away << "turned away";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        clients_[socket] = Client{{}, false, os::peerOf(*socket)};
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            forget(socket);
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
        // Empty while a password is checked: the answer comes then.
        if (!reply.isEmpty()) send(socket, reply);
        if (!clients_.count(socket)) return;  // sending let it go
    }
    // Nothing this long is a request: the client is let go rather than its line kept.
    if (client.pending.size() > kMaxLineBytes) drop(socket, "sent a line too long");
}

void Channel::drop(QLocalSocket* socket, const char* why) {
    qCWarning(lcService) << "channel: a client" << why << "and was disconnected";
    forget(socket);
    clients_.erase(socket);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

QJsonObject Channel::answer(const QJsonObject& request, QLocalSocket* socket) {
    const base::JsonFields f(request);
    const QJsonValue id = f.value("id");
    if (!f.isText("op")) return errorAnswer(id, "badRequest");
    const QString op = f.text("op");
    if (op == u"state") {
        QJsonArray chambers;
        for (const chamber::Chamber* c : fleet_.chambers())
            chambers.append(channelState(*c, c->state()));
        return {{QStringLiteral("id"), id}, {QStringLiteral("chambers"), chambers}};
    }
    if (op == u"subscribe") {
        clients_.at(socket).subscribed = true;
        return {{QStringLiteral("id"), id}, {QStringLiteral("subscribed"), true}};
    }
    if (op == u"image") return image(request);
    if (op == u"login") {
        login(request, socket);
        return {};
    }
    if (op == u"logout") {
        if (!f.isText("token")) return errorAnswer(id, "badRequest");
        if (const auto it = sessions_.find(f.text("token")); it != sessions_.end()) {
            qCInfo(lcService).noquote()
                << "channel: logout of" << it->second.user << "from" << clients_.at(socket).peer;
            sessions_.erase(it);
        }
        return outcomeAnswer(id, QStringLiteral("done"));
    }
    if (commandOps().contains(op)) return command(request, socket).value_or(QJsonObject{});
    return errorAnswer(id, "unknownOp");
}

QJsonObject Channel::image(const QJsonObject& request) {
    const base::JsonFields f(request);
    const QJsonValue id = f.value("id");
    if (!f.isText("chamber")) return errorAnswer(id, "badRequest");
    const chamber::Chamber* c = fleet_.chamber(f.text("chamber"));
    if (!c) return errorAnswer(id, "unknownChamber");
    return {{QStringLiteral("id"), id}, {QStringLiteral("image"), imageJson(c->link().image())}};
}

void Channel::failedLogin(const QString& user, auth::Outcome outcome) {
    if (outcome != auth::Outcome::Refused && outcome != auth::Outcome::Locked) return;
    // The PC's alert, not a chamber's: raised once, in the first chamber, as the desktop does.
    for (chamber::Chamber* c : fleet_.chambers())
        if (alert::Alerter* a = c->alerter()) {
            a->raise(alert::Kind::LoginFailed, {user});
            return;
        }
}

const Channel::Session* Channel::session(const QString& token, bool use) {
    const auto it = sessions_.find(token);
    if (it == sessions_.end()) return nullptr;
    const qint64 now = mono_.elapsed();
    if (sessionIdleMs_ > 0 && now - it->second.lastUsedMs > sessionIdleMs_) {
        qCInfo(lcService).noquote()
            << "channel: the session of" << it->second.user << "ended after its idle time";
        sessions_.erase(it);
        return nullptr;
    }
    if (use) it->second.lastUsedMs = now;
    return &it->second;
}

bool Channel::check(const QString& user, const QString& password,
                    std::function<void(const Checked&)> then) {
    // Each check takes a fraction of a second: a client that sends more than the thread can take
    // is answered at once instead of delaying everyone's login without end.
    if (checking_ >= kMaxChecks) return false;
    ++checking_;
    logins_.start();
    QPointer<Channel> self(this);
    logins_.post(
        [self, path = usersPath_, user, password, then = std::move(then)](QObject&) mutable {
            const auth::CredentialCheck c = auth::checkCredentials(path, user, password);
            Checked r;
            // A store that cannot be read lets nobody change anything.
            r.controlled = c.store != auth::StoreState::Ready || c.controlled;
            r.outcome = static_cast<int>(c.outcome);
            if (c.outcome == auth::Outcome::Done) {
                if (c.role)
                    r.role = *c.role;
                else
                    r.outcome = static_cast<int>(auth::Outcome::Refused);
                r.idleMinutes = c.idleMinutes;
            }
            // Back on the service's main thread, unless the channel ended meanwhile.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, r, then = std::move(then)] {
                    if (!self) return;
                    --self->checking_;
                    then(r);
                },
                Qt::QueuedConnection);
        });
    return true;
}

void Channel::login(const QJsonObject& request, QLocalSocket* socket) {
    const base::JsonFields f(request);
    const QJsonValue id = f.value("id");
    const QString user = f.text("user");
    if (!f.isText("user") || !f.isText("password") || user.isEmpty()) {
        send(socket, errorAnswer(id, "badRequest"));
        return;
    }
    const QString peer = clients_.at(socket).peer;
    const auth::Standing standing = standing_ ? standing_() : auth::Standing{};
    if (!standing.controlled) {
        send(socket, outcomeAnswer(id, QStringLiteral("noAccessControl")));
        return;
    }
    QPointer<QLocalSocket> asker(socket);
    const bool taken =
        check(user, f.text("password"), [this, asker, id, user, peer](const Checked& r) {
            const auto outcome = static_cast<auth::Outcome>(r.outcome);
            qCInfo(lcService).noquote()
                << "channel: login of" << user << "from" << peer << "->" << loginWord(outcome);
            if (r.controlled) failedLogin(user, outcome);
            if (!asker || !clients_.count(asker.data())) return;  // gone before the answer
            if (!r.controlled) {
                send(asker.data(), outcomeAnswer(id, QStringLiteral("noAccessControl")));
                return;
            }
            if (outcome != auth::Outcome::Done) {
                send(asker.data(), outcomeAnswer(id, loginWord(outcome)));
                return;
            }
            // 192 bits from the system's source of randomness.
            std::array<quint32, 6> random{};
            QRandomGenerator::system()->fillRange(random.data(), random.size());
            const QString token = QString::fromLatin1(
                QByteArray(reinterpret_cast<const char*>(random.data()), sizeof random).toHex());
            sessionIdleMs_ = r.idleMinutes > 0 ? qint64(r.idleMinutes) * 60'000 : 0;
            sessions_[token] = Session{user, r.role, mono_.elapsed()};
            QJsonObject answer = outcomeAnswer(id, QStringLiteral("done"));
            answer.insert(QStringLiteral("token"), token);
            answer.insert(QStringLiteral("user"), user);
            send(asker.data(), answer);
        });
    if (!taken) send(socket, errorAnswer(id, "busy"));
}

std::optional<QJsonObject> Channel::command(const QJsonObject& request, QLocalSocket* socket) {
    const base::JsonFields f(request);
    const QJsonValue id = f.value("id");
    if (!f.isText("chamber")) return errorAnswer(id, "badRequest");
    if (!fleet_.chamber(f.text("chamber"))) return errorAnswer(id, "unknownChamber");
    const auth::Standing standing = standing_ ? standing_() : auth::Standing{};
    // Without access control whoever reaches the channel acts as whoever is at the PC.
    const auth::Actor nobody = auth::Actor::atThePc(QString(), standing);
    if (!standing.controlled) return run(request, socket, nobody);
    if (f.isText("token")) {
        // A read of the registers a window shows is no use of the session: an open window reads
        // all the time, and its session still ends after its idle time.
        const Session* s = session(f.text("token"), f.text("op") != u"readHolding");
        return run(request, socket, s ? auth::Actor::user(s->user, s->role) : nobody);
    }
    if (!f.isText("user") || !f.isText("password")) return run(request, socket, nobody);
    // Checked as a login is; the command waits for it, and is not run for a client gone by then.
    QPointer<QLocalSocket> asker(socket);
    const bool taken =
        check(f.text("user"), f.text("password"),
              [this, asker, request, nobody, user = f.text("user")](const Checked& r) {
                  if (!asker || !clients_.count(asker.data())) return;
                  const auto outcome = static_cast<auth::Outcome>(r.outcome);
                  const bool done = outcome == auth::Outcome::Done;
                  if (r.controlled) failedLogin(user, outcome);
                  const auth::Actor by = !r.controlled ? auth::Actor::atThePc(QString(), {})
                                         : done        ? auth::Actor::user(user, r.role)
                                                       : nobody;
                  send(asker.data(), run(request, asker.data(), by));
              });
    if (!taken) return errorAnswer(id, "busy");
    return std::nullopt;
}

QJsonObject Channel::run(const QJsonObject& request, QLocalSocket* socket, const auth::Actor& by) {
    const base::JsonFields f(request);
    const QJsonValue id = f.value("id");
    const QString op = f.text("op");
    const QString name = f.text("chamber");
    chamber::Chamber* c = fleet_.chamber(name);
    if (!c) return errorAnswer(id, "unknownChamber");  // ended while a password was checked
    if (!f.isOptionalText("reason")) return errorAnswer(id, "badRequest");
    const QString reason = f.text("reason");
    chamber::Ticket t;
    // Register values are whole numbers only: a fraction or a number beyond 32 bits is none.
    if (op == u"setValue") {
        const auto loop = f.whole("loop"), value = f.whole("value");
        if (!loop || !value) return errorAnswer(id, "badRequest");
        t = c->writeSetValue(*loop, *value, by, reason);
    } else if (op == u"setAlarm") {
        const auto index = f.whole("index"), value = f.whole("value");
        if (!index || !value) return errorAnswer(id, "badRequest");
        // 4X 257..262; any other index names no alarm setting.
        t = *index < 0 || *index > 5
                ? chamber::Ticket{chamber::Outcome::Invalid, 0}
                : c->write(chamber::Write::AlarmSetting, 257 + *index, *value, by, reason);
    } else if (op == u"programCommand") {
        const auto code = f.whole("code");
        if (!code) return errorAnswer(id, "badRequest");
        t = c->writeProgramCommand(*code, by, reason);
    } else if (op == u"startRun") {
        const std::optional<runs::Run> form = runFormFromJson(request);
        if (!form) return errorAnswer(id, "badRequest");
        t = c->startRun(*form, by, reason);
    } else if (op == u"endRun") {
        t = c->endRun(by, reason);
    } else if (op == u"acknowledgeAlert") {
        if (!f.isText("alert") || !f.isOptionalText("comment"))
            return errorAnswer(id, "badRequest");
        t = {c->acknowledgeAlert(f.text("alert"), f.text("comment"), by), 0};
    } else if (op == u"writeConfiguration" || op == u"writeProgram") {
        // The caption names the value in the event log, as the window that sent it shows it.
        const auto reg = f.whole("register"), value = f.whole("value");
        if (!reg || !value || !f.isOptionalText("caption")) return errorAnswer(id, "badRequest");
        t = c->write(
            op == u"writeProgram" ? chamber::Write::Program : chamber::Write::Configuration, *reg,
            *value, by, reason, f.text("caption").left(kMaxCaption));
    } else if (op == u"readHolding") {
        const auto first = f.whole("first"), count = f.whole("count");
        if (!first || !count) return errorAnswer(id, "badRequest");
        t = c->readHolding(*first, *count, by);
        // Reads are not logged: an open window asks several times a second.
        if (t.outcome == chamber::Outcome::Pending) waiting_[{c, t.id}] = Waiting{socket, id, {}};
        return outcomeAnswer(id, chamber::outcomeWord(t.outcome));
    } else if (op == u"exportAsk") {
        if (!f.isText("what") || !f.isText("path") || f.text("path").size() > kMaxPath)
            return errorAnswer(id, "badRequest");
        const auto own = std::count_if(exports_.begin(), exports_.end(), [socket](const auto& e) {
            return e.second.socket == socket;
        });
        if (own >= kMaxExports) return errorAnswer(id, "busy");
        // The chamber decides and keeps a refusal; allowed, the file is the client's to write,
        // and its row waits for the client's word that it was.
        store::ExportDone done;
        t = c->exportFile(f.text("what").left(kMaxCaption), f.text("path"), by,
                          [&done](const store::ExportDone& d) { done = d; });
        if (t.outcome == chamber::Outcome::Pending && done) {
            const qint64 number = nextExport_++;
            exports_[number] = Export{socket, c, std::move(done)};
            qCInfo(lcService).noquote()
                << "channel: exportAsk" << f.text("what").left(kMaxCaption) << "for chamber"
                << (name.isEmpty() ? QStringLiteral("-") : name) << "by"
                << (by.userId.isEmpty() ? QStringLiteral("-") : by.userId) << "from"
                << clients_.at(socket).peer << "-> export" << number;
            QJsonObject allowed = outcomeAnswer(id, QStringLiteral("done"));
            allowed.insert(QStringLiteral("export"), number);
            return allowed;
        }
    } else if (op == u"exportDone") {
        const std::optional<int32_t> number = f.whole("export");
        const QJsonValue written = f.value("written");
        if (!number || !written.isBool()) return errorAnswer(id, "badRequest");
        // Only the client that asked ends an export, and only once.
        const auto it = exports_.find(*number);
        if (it == exports_.end() || it->second.socket != socket || it->second.chamber != c)
            return outcomeAnswer(id, QStringLiteral("notFound"));
        const store::ExportDone done = std::move(it->second.done);
        exports_.erase(it);
        done(written.toBool());
        t = {chamber::Outcome::Done, 0};
    } else {
        return errorAnswer(id, "unknownOp");
    }
    qCInfo(lcService).noquote() << "channel:" << op << "for chamber"
                                << (name.isEmpty() ? QStringLiteral("-") : name) << "by"
                                << (by.userId.isEmpty() ? QStringLiteral("-") : by.userId) << "from"
                                << clients_.at(socket).peer << "->"
                                << chamber::outcomeWord(t.outcome);
    if (t.outcome == chamber::Outcome::Pending) waiting_[{c, t.id}] = Waiting{socket, id, {}};
    return outcomeAnswer(id, chamber::outcomeWord(t.outcome));
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
                       {QStringLiteral("state"), channelState(c, state)}};
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
