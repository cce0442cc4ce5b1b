#pragma once
// Debian's mosquitto broker on an ephemeral port of the loopback, with its configuration and store
// in a folder of its own, and a reader subscribed to it through libmosquitto.

#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <vector>

namespace mqtttest {

inline int freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class BrokerProcess {
  public:
    // extra: lines added to the listener's configuration (TLS, passwords).
    explicit BrokerProcess(QString extra = {}) : extra_(std::move(extra)), port_(freePort()) {}
    ~BrokerProcess() { stop(); }

    int port() const { return port_; }
    QString dir() const { return dir_.path(); }

    // Starts it and waits until it takes connections (bounded number of tries).
    bool start() {
        QFile conf(dir_.filePath(QStringLiteral("mosquitto.conf")));
        if (!conf.open(QIODevice::WriteOnly)) return false;
        // Started as root, the broker would become the user "mosquitto", who cannot read the
        // test's folders: it stays who runs the test.
        const passwd* me = getpwuid(geteuid());
        conf.write(QStringLiteral("user %3\nper_listener_settings false\npersistence false\n"
                                  "listener %1 127.0.0.1\n%2\n")
                       .arg(port_)
                       .arg(extra_.isEmpty() ? QStringLiteral("allow_anonymous true") : extra_)
                       .arg(QString::fromLocal8Bit(me ? me->pw_name : "root"))
                       .toUtf8());
        conf.close();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(QStringLiteral("/usr/sbin/mosquitto"),
                       {QStringLiteral("-c"), conf.fileName()});
        if (!process_.waitForStarted()) return false;
        for (int i = 0; i < 200; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, quint16(port_));
            if (s.waitForConnected(200)) return true;
            if (process_.state() != QProcess::Running) return false;
            QThread::msleep(25);
        }
        return false;
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(10000)) process_.kill();
        process_.waitForFinished();
    }

  private:
    QTemporaryDir dir_;
    QString extra_;
    int port_;
    QProcess process_;
};

struct Received {
    std::string topic;
    QByteArray payload;
    bool retain = false;
    int qos = 0;
};

// Connects and subscribes without running the Qt event loop: a publisher on this thread cannot
// send anything in between.
class Reader {
  public:
    explicit Reader(int port, const char* id = "reader", const char* user = nullptr,
                    const char* password = nullptr) {
        mosquitto_lib_init();
        m_ = mosquitto_new(id, true, this);
        mosquitto_connect_callback_set(
            m_, [](mosquitto*, void* self, int rc) { static_cast<Reader*>(self)->connack_ = rc; });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* self, int, int, const int*) {
            ++static_cast<Reader*>(self)->subacks_;
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* m) {
            static_cast<Reader*>(self)->messages.push_back(
                {m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen),
                 m->retain, m->qos});
        });
        if (user) mosquitto_username_pw_set(m_, user, password);
        ok_ = mosquitto_connect(m_, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS;
        for (int i = 0; ok_ && connack_ < 0 && i < 500; ++i)
            mosquitto_loop(m_, 20, 1);
        ok_ = ok_ && connack_ == 0;
    }
    ~Reader() {
        mosquitto_disconnect(m_);
        mosquitto_destroy(m_);
    }
    bool ok() const { return ok_; }

    bool subscribe(const char* topic) {
        const int before = subacks_;
        if (mosquitto_subscribe(m_, nullptr, topic, 1) != MOSQ_ERR_SUCCESS) return false;
        for (int i = 0; subacks_ == before && i < 500; ++i)
            mosquitto_loop(m_, 20, 1);
        return subacks_ > before;
    }
    void publish(const char* topic, const QByteArray& payload, bool retain = false) {
        mosquitto_publish(m_, nullptr, topic, int(payload.size()), payload.constData(), 1, retain);
    }

    // Reads and lets the Qt event loop run in turns until done() or the rounds are used up.
    bool pumpUntil(const std::function<bool()>& done, int rounds = 1500) {
        for (int i = 0; i < rounds; ++i) {
            if (done()) return true;
            mosquitto_loop(m_, 5, 1);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return done();
    }

    std::vector<Received> on(const std::string& topic) const {
        std::vector<Received> out;
        for (const Received& r : messages)
            if (r.topic == topic) out.push_back(r);
        return out;
    }

    std::vector<Received> messages;

  private:
    mosquitto* m_ = nullptr;
    int connack_ = -1;
    int subacks_ = 0;
    bool ok_ = false;
};

}  // namespace mqtttest
