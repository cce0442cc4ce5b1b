#include "mqtt/publisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTimer>
#include <mutex>

#include "mqtt/logging.h"
#include "mqtt/payloads.h"
#include "mqtt/topics.h"

namespace mqtt {

namespace {

const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");

qint64 processMs() {
    static QElapsedTimer t;
    static std::once_flag once;
    std::call_once(once, [] { t.start(); });
    return t.elapsed();
}

}  // namespace

PublishWorker::PublishWorker(Config config, std::function<qint64()> mono)
    : config_(std::move(config)), mono_(mono ? std::move(mono) : processMs) {
    config_.client.willTopic = statusTopic(config_.prefix, config_.station);
    config_.client.willPayload = kOffline;
    status_.broker = config_.client.broker.url();
}

PublishWorker::~PublishWorker() {
    if (!finished_) finish();
}

qint64 PublishWorker::now() const {
    return mono_();
}

QString PublishWorker::key() const {
    return QStringLiteral("%1 %2 %3")
        .arg(config_.client.broker.url(), config_.prefix, topicLevel(config_.station));
}

qint64 PublishWorker::acknowledged(const QString& chamber) const {
    const auto it = chambers_.find(chamber);
    return it == chambers_.end() ? -1 : it->second.outbox->acknowledged();
}

void PublishWorker::start() {
    if (timer_) return;
    timer_ = new QTimer(this);
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &PublishWorker::tick);
    timer_->start();
    tick();
}

void PublishWorker::addChamber(const QString& name, const QString& dbPath) {
    if (finished_) return;
    removed_.erase(name);
    Chamber& c = chambers_[name];
    c.name = name;
    // Added again with another file (it became the recorder of its database, or stopped being
    // it): what was on the way belongs to the outbox it had, which keeps its mark; the new one
    // goes on from its own.
    for (auto e = events_.begin(); e != events_.end();)
        e = e->first == name ? events_.erase(e) : std::next(e);
    c.sent.clear();
    c.saveDue = false;
    c.outbox.reset();
    c.outbox = std::make_unique<Outbox>(dbPath, key());
    if (c.outbox->open()) c.sentUpTo = c.outbox->acknowledged();
    if (client_ && client_->isConnected()) {
        if (config_.discovery) sendDiscovery(name);
        sendEvents(c);
    }
}

void PublishWorker::removeChamber(const QString& name) {
    const auto it = chambers_.find(name);
    if (it == chambers_.end()) return;
    for (auto e = events_.begin(); e != events_.end();)
        e = e->first == name ? events_.erase(e) : std::next(e);
    chambers_.erase(it);
    if (client_ && client_->isConnected())
        clearRetained(name);
    else
        removed_.insert(name);
}

void PublishWorker::setState(const QString& name, const QByteArray& json) {
    const auto it = chambers_.find(name);
    if (it == chambers_.end()) return;
    it->second.pacer.offer(json);
    publishState(it->second);
}

void PublishWorker::eventsStored(const QString& name) {
    const auto it = chambers_.find(name);
    if (it != chambers_.end()) sendEvents(it->second);
}

void PublishWorker::tick() {
    if (finished_) return;
    if (!client_ && now() >= retryAtMs_) connectNow();
    const bool up = client_ && client_->isConnected();
    for (auto& [name, c] : chambers_) {
        if (!c.outbox->isOpen() && c.outbox->open()) c.sentUpTo = c.outbox->acknowledged();
        if (up) {
            publishState(c);
            sendEvents(c);
        }
        if (c.saveDue && c.outbox->save()) c.saveDue = false;
    }
    // The count of what waits reads every file: once a second is enough for the status bar.
    if (ticks_++ % (1000 / kTickMs) == 0) updatePending();
}

void PublishWorker::connectNow() {
    setStatus({State::Connecting, Fault::None, status_.broker, status_.pending});
    ClientConfig cc = config_.client;
    if (cc.clientId.isEmpty())
        cc.clientId = QStringLiteral("velmars-%1-%2")
                          .arg(topicLevel(config_.station))
                          .arg(QCoreApplication::applicationPid());
    client_ = std::make_unique<Client>(cc);
    connect(client_.get(), &Client::connected, this, &PublishWorker::onConnected);
    connect(client_.get(), &Client::lost, this, &PublishWorker::onLost);
    connect(client_.get(), &Client::acknowledged, this, &PublishWorker::onAcknowledged);
    connect(client_.get(), &Client::received, this, &PublishWorker::onReceived);
    client_->start();
}

void PublishWorker::onConnected() {
    failures_ = 0;
    client_->publish(statusTopic(config_.prefix, config_.station), kOnline, 1, true);
    for (const QString& name : removed_)
        clearRetained(name);
    removed_.clear();
    if (config_.discovery) {
        client_->subscribe(config_.discoveryPrefix + QStringLiteral("/status"), 1);
        for (const auto& [name, c] : chambers_)
            sendDiscovery(name);
    }
    for (auto& [name, c] : chambers_) {
        c.pacer.restart();
        publishState(c);
        sendEvents(c);
    }
    setStatus({State::Connected, Fault::None, status_.broker, status_.pending});
}

void PublishWorker::onLost(Fault fault) {
    qCDebug(lcMqtt, "connection to %s ended (%d)", qUtf8Printable(status_.broker), int(fault));
    // The client sent this signal queued and is of no more use.
    if (client_) client_.release()->deleteLater();
    // What was on the way without an acknowledgement goes again, in order, on the next
    // connection: a repeat the broker may have had is what QoS 1 allows, and each carries its id.
    events_.clear();
    for (auto& [name, c] : chambers_) {
        c.sent.clear();
        c.sentUpTo = c.outbox->acknowledged();
    }
    ++failures_;
    const qint64 wait = std::min<qint64>(kMaxRetryMs, 1000LL << std::min(failures_ - 1, 5));
    retryAtMs_ = now() + wait;
    setStatus({State::Down, fault, status_.broker, status_.pending});
}

void PublishWorker::onAcknowledged(int mid) {
    const auto it = events_.find(mid);
    if (it == events_.end()) return;
    const auto [name, id] = it.value();
    events_.erase(it);
    const auto c = chambers_.find(name);
    if (c == chambers_.end()) return;
    auto& sent = c->second.sent;
    if (const auto s = sent.find(id); s != sent.end()) s->second = true;
    // The mark moves over every entry acknowledged with all before it.
    qint64 upTo = 0;
    while (!sent.empty() && sent.begin()->second) {
        upTo = sent.begin()->first;
        sent.erase(sent.begin());
    }
    if (upTo > 0) {
        c->second.outbox->acknowledge(upTo);
        c->second.saveDue = true;
    }
    sendEvents(c->second);
}

void PublishWorker::onReceived(const QString& topic, const QByteArray& payload) {
    // Home Assistant started again: it has forgotten the chambers unless their configurations
    // are retained, which a broker restarted without its store has lost.
    if (config_.discovery && topic == config_.discoveryPrefix + QStringLiteral("/status") &&
        payload.trimmed() == kOnline) {
        for (const auto& [name, c] : chambers_)
            sendDiscovery(name);
    }
}

void PublishWorker::publishState(Chamber& c) {
    if (!client_ || !client_->isConnected()) return;
    if (const auto payload = c.pacer.due(now()))
        client_->publish(
            chamberTopic(config_.prefix, config_.station, c.name, QStringLiteral("state")),
            *payload, 0, true);
}

void PublishWorker::sendEvents(Chamber& c) {
    if (!client_ || !client_->isConnected() || !c.outbox->isOpen()) return;
    const int room = kMaxInFlight - int(c.sent.size());
    if (room <= 0) return;
    for (const events::EventEntry& e : c.outbox->after(c.sentUpTo, room)) {
        const QString leaf = isAlert(e) ? QStringLiteral("alert") : QStringLiteral("event");
        const QByteArray payload = QJsonDocument(eventJson(e)).toJson(QJsonDocument::Compact);
        const auto mid = client_->publish(
            chamberTopic(config_.prefix, config_.station, c.name, leaf), payload, 1, false);
        if (!mid) return;
        events_.insert(*mid, {c.name, e.id});
        c.sent[e.id] = false;
        c.sentUpTo = e.id;
    }
}

void PublishWorker::sendDiscovery(const QString& chamber) {
    for (const Message& m :
         discoveryMessages(config_.discoveryPrefix, config_.prefix, config_.station, chamber))
        client_->publish(m.topic, m.payload, 1, true);
}

void PublishWorker::clearRetained(const QString& chamber) {
    client_->publish(
        chamberTopic(config_.prefix, config_.station, chamber, QStringLiteral("state")), {}, 1,
        true);
    if (!config_.discovery) return;
    for (const Message& m :
         discoveryMessages(config_.discoveryPrefix, config_.prefix, config_.station, chamber))
        client_->publish(m.topic, {}, 1, true);
}

void PublishWorker::updatePending() {
    qint64 pending = 0;
    for (auto& [name, c] : chambers_)
        pending += c.outbox->countAfter(c.outbox->acknowledged());
    Status s = status_;
    s.pending = pending;
    setStatus(s);
}

void PublishWorker::finish() {
    if (finished_) return;
    finished_ = true;
    if (timer_) timer_->stop();
    if (client_ && client_->isConnected()) {
        client_->publish(statusTopic(config_.prefix, config_.station), kOffline, 1, true);
        // The acknowledgements that arrive now still move the marks.
        client_->disconnectCleanly(kStopWaitMs);
    }
    client_.reset();
    for (auto& [name, c] : chambers_)
        c.outbox->close();
}

void PublishWorker::setStatus(Status s) {
    if (s == status_) return;
    status_ = s;
    emit statusChanged(status_);
}

Publisher::Publisher(Config config, QObject* parent)
    : QObject(parent), thread_(QStringLiteral("mqtt"), std::move(config)) {
    status_.broker = thread_.worker()->status().broker;
    connect(thread_.worker(), &PublishWorker::statusChanged, this, [this](const Status& s) {
        status_ = s;
        emit statusChanged();
    });
}

Publisher::~Publisher() {
    shutdown();
}

void Publisher::start() {
    if (thread_.started()) return;
    thread_.start();
    thread_.post(&PublishWorker::start);
}

void Publisher::addChamber(const QString& name, const QString& dbPath) {
    thread_.post(&PublishWorker::addChamber, name, dbPath);
}

void Publisher::removeChamber(const QString& name) {
    thread_.post(&PublishWorker::removeChamber, name);
}

void Publisher::setState(const QString& name, const QByteArray& json) {
    thread_.post(&PublishWorker::setState, name, json);
}

void Publisher::eventsStored(const QString& name) {
    thread_.post(&PublishWorker::eventsStored, name);
}

void Publisher::shutdown() {
    thread_.end(PublishWorker::kStopWaitMs + 1000, [](PublishWorker& w) { w.finish(); });
}

}  // namespace mqtt
