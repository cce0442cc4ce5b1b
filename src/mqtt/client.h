#pragma once
// One connection to the broker through libmosquitto, driven by the event loop of the thread it
// lives on: its socket is watched with QSocketNotifier and mosquitto_loop_read/write/misc are
// called as it becomes ready, so the library runs no thread of its own (it is built without
// threading for Windows). Connecting resolves the broker's name and starts the TCP connection on
// this thread: the publisher keeps the client on a thread of its own, never the UI's.
//
// A client is used for one connection: once it was lost, a new one is made.

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <optional>

#include "mqtt/config.h"
#include "mqtt/status.h"

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

namespace mqtt {

class Client : public QObject {
    Q_OBJECT
  public:
    explicit Client(ClientConfig config, QObject* parent = nullptr);
    // Closes the socket without a DISCONNECT (the broker then sends the will) unless
    // disconnectCleanly() came first.
    ~Client() override;

    // Starts connecting; connected() or lost() follows. False when it could not even start
    // (lost() follows as well, queued).
    bool start();
    bool isConnected() const { return connected_; }

    // Queues a message; its message id (acknowledged() follows for QoS 1), or nothing when the
    // client is not connected or the message was refused.
    std::optional<int> publish(const QString& topic, const QByteArray& payload, int qos,
                               bool retain);
    bool subscribe(const QString& topic, int qos);

    // Sends what is queued and a DISCONNECT, waiting at most waitMs for the broker to acknowledge
    // the messages of QoS 1 sent so far (for the last "offline" at a clean stop).
    void disconnectCleanly(int waitMs);
    // Messages of QoS 1 not yet acknowledged.
    int unacknowledged() const { return int(waitingAcks_.size()); }

  signals:
    void connected();
    // The connection failed or broke; the client is of no more use. Always queued after the call
    // that found it, so that the receiver may delete the client.
    void lost(mqtt::Fault fault);
    void acknowledged(int mid);
    void received(const QString& topic, const QByteArray& payload);

  private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* m);

    void watchSocket();
    void readReady();
    void writeReady();
    void housekeeping();
    void updateWrite();
    // A call of the library failed with rc: the connection is over.
    void fail(int rc);
    void failWith(Fault fault);

    ClientConfig config_;
    mosquitto* m_ = nullptr;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    QTimer misc_;
    QTimer connectTimeout_;
    bool connected_ = false;
    bool failed_ = false;
    std::optional<Fault> refusal_;  // the broker's answer to CONNECT, when it refused
    QSet<int> waitingAcks_;         // message ids of QoS 1 not yet acknowledged
};

// Once per process, before the first client.
void initLibrary();

}  // namespace mqtt
