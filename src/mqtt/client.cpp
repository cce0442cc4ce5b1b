#include "mqtt/client.h"

#include <mosquitto.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <mutex>

#include "mqtt/logging.h"

namespace mqtt {

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

Client::Client(ClientConfig config, QObject* parent) : QObject(parent), config_(std::move(config)) {
    initLibrary();
    misc_.setInterval(1000);
    connect(&misc_, &QTimer::timeout, this, &Client::housekeeping);
    connectTimeout_.setSingleShot(true);
    connect(&connectTimeout_, &QTimer::timeout, this, [this] {
        if (!connected_) failWith(Fault::Unreachable);
    });
}

Client::~Client() {
    delete readNotifier_;
    delete writeNotifier_;
    if (m_) mosquitto_destroy(m_);
}

bool Client::start() {
    const QByteArray id = config_.clientId.toUtf8();
    m_ = mosquitto_new(id.constData(), /*clean_session=*/true, this);
    if (!m_) {
        failWith(Fault::Protocol);
        return false;
    }
    mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_, &Client::onConnect);
    mosquitto_publish_callback_set(m_, &Client::onPublish);
    mosquitto_message_callback_set(m_, &Client::onMessage);
    if (!config_.user.isEmpty()) {
        const QByteArray u = config_.user.toUtf8(), p = config_.password.toUtf8();
        mosquitto_username_pw_set(m_, u.constData(),
                                  config_.password.isEmpty() ? nullptr : p.constData());
    }
    if (!config_.willTopic.isEmpty()) {
        const QByteArray t = config_.willTopic.toUtf8();
        mosquitto_will_set(m_, t.constData(), int(config_.willPayload.size()),
                           config_.willPayload.constData(), 1, true);
    }
    if (config_.broker.tls) {
        const QByteArray ca = config_.caFile.toLocal8Bit();
        int rc = MOSQ_ERR_SUCCESS;
        if (config_.caFile.isEmpty()) {
            mosquitto_int_option(m_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(m_, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        }
        // The broker's name is checked against its certificate.
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(m_, false);
        if (rc != MOSQ_ERR_SUCCESS) {
            failWith(Fault::Tls);
            return false;
        }
    }
    const QByteArray host = config_.broker.host.toUtf8();
    const int rc =
        mosquitto_connect_async(m_, host.constData(), config_.broker.port, config_.keepAliveS);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_CONN_PENDING) {
        qCDebug(lcMqtt, "connect to %s failed: %s", qUtf8Printable(config_.broker.url()),
                mosquitto_strerror(rc));
        fail(rc);
        return false;
    }
    connectTimeout_.start(config_.connectTimeoutMs);
    watchSocket();
    return true;
}

void Client::watchSocket() {
    const int fd = mosquitto_socket(m_);
    if (fd < 0) {
        failWith(Fault::Unreachable);
        return;
    }
    readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(readNotifier_, &QSocketNotifier::activated, this, &Client::readReady);
    writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &Client::writeReady);
    misc_.start();
    updateWrite();
}

void Client::updateWrite() {
    if (writeNotifier_ && !failed_)
        writeNotifier_->setEnabled(mosquitto_want_write(m_) || !connected_);
}

void Client::readReady() {
    if (failed_) return;
    const int rc = mosquitto_loop_read(m_, 1);
    if (rc != MOSQ_ERR_SUCCESS) return fail(rc);
    updateWrite();
}

void Client::writeReady() {
    if (failed_) return;
    const int rc = mosquitto_loop_write(m_, 1);
    if (rc != MOSQ_ERR_SUCCESS) return fail(rc);
    // Until the broker answered, the socket is writable at once and asks for nothing more.
    if (!connected_ && !mosquitto_want_write(m_))
        writeNotifier_->setEnabled(false);
    else
        updateWrite();
}

void Client::housekeeping() {
    if (failed_) return;
    const int rc = mosquitto_loop_misc(m_);
    if (rc != MOSQ_ERR_SUCCESS) return fail(rc);
    updateWrite();
}

std::optional<int> Client::publish(const QString& topic, const QByteArray& payload, int qos,
                                   bool retain) {
    if (!connected_ || failed_) return std::nullopt;
    int mid = 0;
    const QByteArray t = topic.toUtf8();
    const int rc = mosquitto_publish(m_, &mid, t.constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        qCDebug(lcMqtt, "publish to %s refused: %s", t.constData(), mosquitto_strerror(rc));
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) fail(rc);
        return std::nullopt;
    }
    if (qos > 0) waitingAcks_.insert(mid);
    updateWrite();
    return mid;
}

bool Client::subscribe(const QString& topic, int qos) {
    if (!connected_ || failed_) return false;
    const QByteArray t = topic.toUtf8();
    const bool ok = mosquitto_subscribe(m_, nullptr, t.constData(), qos) == MOSQ_ERR_SUCCESS;
    updateWrite();
    return ok;
}

void Client::disconnectCleanly(int waitMs) {
    if (!connected_ || failed_) return;
    QElapsedTimer t;
    t.start();
    // Blocking on purpose: this runs on the publisher's thread as it ends.
    while (!waitingAcks_.isEmpty() && t.elapsed() < waitMs && !failed_) {
        if (mosquitto_loop(m_, 50, 1) != MOSQ_ERR_SUCCESS) break;
    }
    mosquitto_disconnect(m_);
    // The DISCONNECT goes out before the socket closes.
    mosquitto_loop_write(m_, 1);
    connected_ = false;
    failed_ = true;
    misc_.stop();
    if (readNotifier_) readNotifier_->setEnabled(false);
    if (writeNotifier_) writeNotifier_->setEnabled(false);
}

void Client::fail(int rc) {
    if (refusal_) return failWith(*refusal_);
    switch (rc) {
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_TLS_HANDSHAKE:
            return failWith(Fault::Tls);
        case MOSQ_ERR_AUTH:
            return failWith(Fault::BadLogin);
        case MOSQ_ERR_CONN_REFUSED:
            return failWith(Fault::NotAuthorized);
        default:
            return failWith(connected_ ? Fault::Lost : Fault::Unreachable);
    }
}

void Client::failWith(Fault fault) {
    if (failed_) return;
    failed_ = true;
    connected_ = false;
    misc_.stop();
    connectTimeout_.stop();
    if (readNotifier_) readNotifier_->setEnabled(false);
    if (writeNotifier_) writeNotifier_->setEnabled(false);
    QMetaObject::invokeMethod(
        this, [this, fault] { emit lost(fault); }, Qt::QueuedConnection);
}

void Client::onConnect(mosquitto*, void* self, int rc) {
    auto* c = static_cast<Client*>(self);
    c->connectTimeout_.stop();
    if (rc == 0) {
        c->connected_ = true;
        emit c->connected();
        c->updateWrite();
        return;
    }
    // The MQTT 3.1.1 answers: 1 protocol, 2 client id, 3 unavailable, 4 user or password,
    // 5 not authorized.
    c->refusal_ = rc == 4   ? Fault::BadLogin
                  : rc == 5 ? Fault::NotAuthorized
                  : rc == 3 ? Fault::Unreachable
                            : Fault::Protocol;
    c->failWith(*c->refusal_);
}

void Client::onPublish(mosquitto*, void* self, int mid) {
    auto* c = static_cast<Client*>(self);
    // Called for QoS 0 as soon as the message is written; only QoS 1 waits for the broker.
    if (c->waitingAcks_.remove(mid)) emit c->acknowledged(mid);
}

void Client::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* c = static_cast<Client*>(self);
    emit c->received(QString::fromUtf8(m->topic),
                     QByteArray(static_cast<const char*>(m->payload), m->payloadlen));
}

}  // namespace mqtt
