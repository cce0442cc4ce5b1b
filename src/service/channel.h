#pragma once
// The local channel of the windows on this computer: a local socket (a Unix socket in the data
// folder, read and written by the service's account and its group; a named pipe on Windows) that
// speaks JSON, one object per line, UTF-8.
//
// Requests, each answered with the id it came with:
//   {"id": 1, "op": "state"}      -> {"id": 1, "chambers": [STATE, ...]} in the fleet's order
//   {"id": 2, "op": "subscribe"}  -> {"id": 2, "subscribed": true}, then, on every change,
//                                    {"event": "state", "chamber": NAME, "state": STATE}
// STATE is chamber::stateJson. A line that is no request gets {"id": ID or null, "error": CODE}
// (CODE "badRequest" or "unknownOp") and the client goes on; a line longer than kMaxLineBytes, or a
// client that leaves more than kMaxQueuedBytes unread, is disconnected, and the service goes on.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <map>

class QLocalServer;
class QLocalSocket;

namespace chamber {
class Chamber;
class Fleet;
struct State;
}  // namespace chamber

namespace service {

class Channel : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxLineBytes = 64 * 1024;
    static constexpr qint64 kMaxQueuedBytes = 4 * 1024 * 1024;
    static constexpr int kMaxClients = 64;

    explicit Channel(chamber::Fleet& fleet, QObject* parent = nullptr);
    ~Channel() override;

    // Listens on the channel of the data folder; false with why when it cannot.
    bool listen(const QString& dataFolder, QString* why);
    // Stops listening and lets every client go; the socket file goes with it.
    void close();
    int clientCount() const { return static_cast<int>(clients_.size()); }

    // The request's answer (without the client's subscription, which the caller keeps).
    QJsonObject answer(const QJsonObject& request, bool* subscribe) const;

  private:
    struct Client {
        QByteArray pending;  // what came after the last full line
        bool subscribed = false;
    };
    void accept();
    void read(QLocalSocket* socket);
    void send(QLocalSocket* socket, const QJsonObject& message);
    void drop(QLocalSocket* socket, const char* why);
    void watch(chamber::Chamber* c);
    void publish(const chamber::Chamber& c, const chamber::State& state);

    chamber::Fleet& fleet_;
    QLocalServer* server_ = nullptr;
    std::map<QLocalSocket*, Client> clients_;
};

}  // namespace service
