#include "service/channelclient.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>

#include "base/jsonfields.h"
#include "service/channel.h"
#include "service/imagejson.h"
#include "service/serviceos.h"

namespace service {

ChannelClient::ChannelClient(QString dataFolder, QObject* parent)
    : QObject(parent), name_(os::channelName(dataFolder)) {
    retry_.setSingleShot(true);
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &ChannelClient::connectNow);
    // However a read ends (answered, refused, the service gone), its values come with its end.
    connect(this, &ChannelClient::commandFinished, this,
            [this](quint64 id, const QString& outcome) {
                const auto it = reads_.find(id);
                if (it == reads_.end()) return;
                const Read r = it.value();
                reads_.erase(it);
                emit holdingRead(id, outcome, r.first, r.values);
            });
}

ChannelClient::~ChannelClient() {
    if (socket_) socket_->disconnect(this);
}

void ChannelClient::start() {
    if (!socket_) connectNow();
}

void ChannelClient::connectNow() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->deleteLater();
    }
    pending_.clear();
    socket_ = new QLocalSocket(this);
    connect(socket_, &QLocalSocket::connected, this, &ChannelClient::connected);
    connect(socket_, &QLocalSocket::disconnected, this, &ChannelClient::lost);
    connect(socket_, &QLocalSocket::errorOccurred, this, &ChannelClient::lost);
    connect(socket_, &QLocalSocket::readyRead, this, &ChannelClient::read);
    socket_->connectToServer(name_);
}

void ChannelClient::connected() {
    // The changes from now on, then the whole picture; attached once it came.
    send({{QStringLiteral("id"), static_cast<qint64>(nextId_++)},
          {QStringLiteral("op"), QStringLiteral("subscribe")}});
    stateRequest_ = nextId_++;
    send({{QStringLiteral("id"), static_cast<qint64>(stateRequest_)},
          {QStringLiteral("op"), QStringLiteral("state")}});
}

void ChannelClient::lost() {
    if (retry_.isActive()) return;  // an error and the disconnection of the same loss
    const QList<quint64> unanswered = std::exchange(commands_, {});
    // The service's sessions end with it; a login under way has no answer to wait for.
    imageRequest_ = 0;
    abandoned_.clear();  // the service forgets its exports with its clients
    token_.clear();
    user_.clear();
    if (std::exchange(loginRequest_, 0)) emit loggedIn(QStringLiteral("unknown"), loginUser_);
    if (attached_) {
        attached_ = false;
        emit attachedChanged(false);
    }
    for (quint64 id : unanswered)
        emit commandFinished(id, QStringLiteral("unknown"));
    retry_.start();
}

void ChannelClient::read() {
    pending_ += socket_->readAll();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QJsonDocument doc = QJsonDocument::fromJson(pending_.left(end));
        pending_.remove(0, end + 1);
        if (doc.isObject()) take(doc.object());
    }
    // A service sends no line this long; whatever sent it is not one.
    if (pending_.size() > Channel::kMaxQueuedBytes) socket_->abort();
}

void ChannelClient::take(const QJsonObject& message) {
    const base::JsonFields m(message);
    const QString event = m.text("event");
    if (event == u"state") {
        const QString chamber = m.text("chamber");
        const QJsonObject state = m.value("state").toObject();
        if (!names_.contains(chamber)) names_ << chamber;
        states_[chamber] = state;
        emit stateChanged(chamber, state);
        return;
    }
    const quint64 id = static_cast<quint64>(m.integer64("id"));
    if (event.isEmpty() && id == stateRequest_ && m.has("chambers")) {
        names_.clear();
        states_.clear();
        for (const QJsonValue& v : m.array("chambers")) {
            const QJsonObject state = v.toObject();
            const QString chamber = state.value(QStringLiteral("name")).toString();
            names_ << chamber;
            states_[chamber] = state;
        }
        if (!attached_) {
            attached_ = true;
            emit attachedChanged(true);
        }
        for (const QString& chamber : std::as_const(names_))
            emit stateChanged(chamber, states_.value(chamber));
        return;
    }
    if (id != 0 && id == imageRequest_) {
        imageRequest_ = 0;
        if (m.value("image").isObject())
            emit imageArrived(imageChamber_, imageFromJson(m.value("image").toObject()));
        return;
    }
    if (id != 0 && id == loginRequest_) {
        loginRequest_ = 0;
        const QString outcome = m.has("error") ? m.text("error") : m.text("outcome");
        if (outcome == u"done") {
            token_ = m.text("token");
            user_ = loginUser_;
        }
        emit loggedIn(outcome, loginUser_);
        return;
    }
    if (const auto late = abandoned_.find(id); late != abandoned_.end()) {
        // Allowed after the window stopped waiting: the service is told that nothing came of it.
        const QString chamber = late.value();
        abandoned_.erase(late);
        if (m.has("export")) exportDone(chamber, m.integer64("export"), false);
        return;
    }
    if (!commands_.contains(id)) return;
    if (id == asking_) asked_ = message;
    const QString outcome = m.has("error") ? m.text("error") : m.text("outcome");
    if (outcome == u"pending") return;
    commands_.removeOne(id);
    if (const auto read = reads_.find(id); read != reads_.end() && outcome == u"done") {
        read->first = m.value("first").toInt();
        for (const QJsonValue& v : m.array("values"))
            read->values << v.toInt();
    }
    emit commandFinished(id, outcome);
}

quint64 ChannelClient::setValue(const QString& chamber, int loop, int value,
                                const QString& reason) {
    return command(QStringLiteral("setValue"), chamber,
                   {{QStringLiteral("loop"), loop},
                    {QStringLiteral("value"), value},
                    {QStringLiteral("reason"), reason}});
}

quint64 ChannelClient::command(const QString& op, const QString& chamber, QJsonObject fields) {
    const quint64 id = nextId_++;
    if (!attached_) {
        QMetaObject::invokeMethod(
            this, [this, id] { emit commandFinished(id, QStringLiteral("notAttached")); },
            Qt::QueuedConnection);
        return id;
    }
    commands_ << id;
    fields.insert(QStringLiteral("id"), static_cast<qint64>(id));
    fields.insert(QStringLiteral("op"), op);
    fields.insert(QStringLiteral("chamber"), chamber);
    if (!token_.isEmpty()) fields.insert(QStringLiteral("token"), token_);
    send(fields);
    return id;
}

quint64 ChannelClient::readHolding(const QString& chamber, int32_t first, int32_t count) {
    const quint64 id =
        command(QStringLiteral("readHolding"), chamber,
                {{QStringLiteral("first"), first}, {QStringLiteral("count"), count}});
    reads_.insert(id, {});
    return id;
}

ChannelClient::ExportAnswer ChannelClient::askExport(const QString& chamber, const QString& what,
                                                     const QString& path, int waitMs) {
    if (!attached_) return {QStringLiteral("notAttached")};
    asked_.reset();
    asking_ = command(QStringLiteral("exportAsk"), chamber,
                      {{QStringLiteral("what"), what}, {QStringLiteral("path"), path}});
    QElapsedTimer waited;
    waited.start();
    // Each wait lets the socket's readyRead run read(), which takes the answer.
    while (!asked_ && socket_ && attached_ && waited.elapsed() < waitMs) {
        if (!socket_->waitForReadyRead(static_cast<int>(waitMs - waited.elapsed()))) break;
    }
    const quint64 id = std::exchange(asking_, 0);
    if (!asked_) {
        // No answer in time: a late one is answered with "not written".
        if (commands_.removeOne(id)) abandoned_.insert(id, chamber);
        return {QStringLiteral("unknown")};
    }
    const base::JsonFields m(*std::exchange(asked_, std::nullopt));
    const QString outcome = m.has("error") ? m.text("error") : m.text("outcome");
    return {outcome, outcome == u"done" ? m.integer64("export") : 0};
}

quint64 ChannelClient::exportDone(const QString& chamber, qint64 number, bool written) {
    return command(QStringLiteral("exportDone"), chamber,
                   {{QStringLiteral("export"), number}, {QStringLiteral("written"), written}});
}

bool ChannelClient::requestImage(const QString& chamber) {
    if (!attached_ || imageRequest_) return false;
    imageRequest_ = nextId_++;
    imageChamber_ = chamber;
    send({{QStringLiteral("id"), static_cast<qint64>(imageRequest_)},
          {QStringLiteral("op"), QStringLiteral("image")},
          {QStringLiteral("chamber"), chamber}});
    return true;
}

void ChannelClient::login(const QString& user, const QString& password) {
    loginUser_ = user;
    if (!attached_) {
        QMetaObject::invokeMethod(
            this, [this, user] { emit loggedIn(QStringLiteral("notAttached"), user); },
            Qt::QueuedConnection);
        return;
    }
    loginRequest_ = nextId_++;
    send({{QStringLiteral("id"), static_cast<qint64>(loginRequest_)},
          {QStringLiteral("op"), QStringLiteral("login")},
          {QStringLiteral("user"), user},
          {QStringLiteral("password"), password}});
}

void ChannelClient::logout() {
    if (token_.isEmpty()) return;
    send({{QStringLiteral("id"), static_cast<qint64>(nextId_++)},
          {QStringLiteral("op"), QStringLiteral("logout")},
          {QStringLiteral("token"), token_}});
    token_.clear();
    user_.clear();
}

void ChannelClient::send(const QJsonObject& message) {
    if (socket_) socket_->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

}  // namespace service
