#pragma once
// The local channel of the windows on this computer: a local socket (a Unix socket in the data
// folder, read and written by the service's account and its group; a named pipe on Windows) that
// speaks JSON, one object per line, UTF-8.
//
// Requests, each answered with the id it came with:
//   {"id": 1, "op": "state"}      -> {"id": 1, "chambers": [STATE, ...]} in the fleet's order
//   {"id": 2, "op": "subscribe"}  -> {"id": 2, "subscribed": true}, then, on every change,
//                                    {"event": "state", "chamber": NAME, "state": STATE}
//   {"id": 3, "op": "setValue", "chamber": NAME, "loop": 0|1, "value": N, "reason": TEXT}
//                                 -> {"id": 3, "outcome": OUTCOME}, and when that is "pending",
//                                    later {"event": "commandFinished", "id": 3, "outcome":
//                                    OUTCOME}
// STATE is chamber::stateJson; N the set value as the instrument takes it (in its decimals);
// OUTCOME one of "done", "pending", "refused", "invalid", "notRecording", "notFound",
// "linkClosed", "failed". A command is decided as the chamber decides it for whoever is at the
// PC: with access control on, nobody is logged in on the channel yet, so it is refused (and the
// refusal is in the audit trail). A line that is no request gets {"id": ID or null, "error": CODE}
// (CODE "badRequest", "unknownOp" or "unknownChamber") and the client goes on; a line longer than
// kMaxLineBytes, or a client that leaves more than kMaxQueuedBytes unread, is disconnected, and the
// service goes on.

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>

#include "access/roles.h"
#include "chamber/commands.h"

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

    // standing: what is known of whoever asks for a command (access control on or off, the user
    // store usable).
    Channel(chamber::Fleet& fleet, std::function<auth::Standing()> standing,
            QObject* parent = nullptr);
    ~Channel() override;

    // Listens on the channel of the data folder; false with why when it cannot.
    bool listen(const QString& dataFolder, QString* why);
    // Stops listening and lets every client go; the socket file goes with it.
    void close();
    int clientCount() const { return static_cast<int>(clients_.size()); }

    // The outcome as the channel names it.
    static QString outcomeWord(chamber::Outcome outcome);

  private:
    struct Client {
        QByteArray pending;  // what came after the last full line
        bool subscribed = false;
    };
    void accept();
    void read(QLocalSocket* socket);
    QJsonObject answer(const QJsonObject& request, QLocalSocket* socket);
    QJsonObject setValue(const QJsonObject& request, QLocalSocket* socket);
    void send(QLocalSocket* socket, const QJsonObject& message);
    void drop(QLocalSocket* socket, const char* why);
    void watch(chamber::Chamber* c);
    void publish(const chamber::Chamber& c, const chamber::State& state);

    // A command under way: who asked, and the id they asked with.
    struct Waiting {
        QPointer<QLocalSocket> socket;
        QJsonValue id;
    };

    chamber::Fleet& fleet_;
    std::function<auth::Standing()> standing_;
    std::map<std::pair<const chamber::Chamber*, quint64>, Waiting> waiting_;
    QLocalServer* server_ = nullptr;
    std::map<QLocalSocket*, Client> clients_;
};

}  // namespace service
