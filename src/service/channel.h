#pragma once
// The local channel of the windows on this computer: a local socket (a Unix socket in the data
// folder, read and written by the service's account and its group; a named pipe on Windows) that
// speaks JSON, one object per line, UTF-8.
//
// Requests, each answered with the id it came with:
//   {"id": 1, "op": "state"}      -> {"id": 1, "chambers": [STATE, ...]} in the fleet's order
//   {"id": 2, "op": "subscribe"}  -> {"id": 2, "subscribed": true}, then, on every change,
//                                    {"event": "state", "chamber": NAME, "state": STATE}
//   {"id": 3, "op": "image", "chamber": NAME}
//                                 -> {"id": 3, "image": IMAGE} (imagejson.h): every register the
//                                    poll cycle read, for the panels of an attached window
//   {"id": 4, "op": "login", "user": U, "password": P}
//                                 -> {"id": 4, "outcome": "done", "token": T, "user": U} or
//                                    {"id": 4, "outcome": "refused" | "locked" | "mustChange" |
//                                    "noAccessControl" | "unusable"}
//   {"id": 5, "op": "logout", "token": T}  -> {"id": 5, "outcome": "done"}
// and the commands, each with "chamber": NAME and "reason": TEXT (optional):
//   "setValue"          "loop": 0|1, "value": N      SV1 or SV2 (4X 1, 2)
//   "setAlarm"          "index": 0..5, "value": N    an alarm setting (4X 257..262)
//   "programCommand"    "code": 0..3                 the program's run command (4X 3)
//   "startRun"          "name", "orderId", "operator", "notes", "station": TEXT, "band1",
//                       "band2": BAND (each optional; runFormJson's form)
//   "endRun"
//   "acknowledgeAlert"  "alert": ID, "comment": TEXT
//   "writeConfiguration" "register": N, "value": N, "caption": TEXT (optional)
//                                                    a configuration register (4X 4097..4144)
//   "writeProgram"      "register": N, "value": N, "caption": TEXT (optional)
//                                                    a program setting or segment (4X 8193..8231)
//   "readHolding"       "first": N, "count": N       holding registers within 4X 4097..4144 or
//                                                    8193..8240; its commandFinished event also
//                                                    carries "first" and "values": [N, ...] when
//                                                    its outcome is "done"
//   "exportAsk"         "what": "csv" | "pdf" | "png" | ..., "path": TEXT
//                                                    a file a window is about to write from the
//                                                    chamber's records: decided with who asks (a
//                                                    refusal is kept in the audit trail) and, when
//                                                    allowed, answered "done" with "export": N
//   "exportDone"        "export": N, "written": BOOL the end of export N, from the client that
//                                                    asked for it: written, the audit trail keeps
//                                                    the file under the name of who asked; not
//                                                    written, nothing is kept. An export whose
//                                                    client goes first is taken as not written.
//                                 -> {"id": 6, "outcome": OUTCOME}, and when that is "pending",
//                                    later {"event": "commandFinished", "id": 6, "outcome":
//                                    OUTCOME}
// STATE is chamber::stateJson; N a value as the instrument takes it (in its decimals); OUTCOME
// one of "done", "pending", "refused", "invalid", "notRecording", "notFound", "linkClosed",
// "failed". A command is decided by the chamber's own checks, as a window's is. With access
// control on it names who asks: "token" (from a login on the channel) or "user" and "password"
// (checked as a login, with the same count of failures and the same lock); without either, or
// with a token that is not one, it is refused (and the refusal is in the audit trail). Passwords
// are checked on a thread of their own, one at a time, and each one refused raises the alert of a
// failed login. Every command is logged with the account
// of the process that sent it, as the system tells it (the peer's uid on Linux).
// A line that is no request gets {"id": ID or null, "error": CODE} (CODE "badRequest",
// "unknownOp" or "unknownChamber"; "busy" for a login or command while kMaxChecks passwords wait
// for their check) and the client goes on; a line longer than kMaxLineBytes, or a client that
// leaves more than kMaxQueuedBytes unread, is disconnected, and the service goes on.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <optional>

#include "auth/actor.h"
#include "auth/roles.h"
#include "base/workerthread.h"
#include "chamber/commands.h"
#include "runs/runs.h"
#include "store/exportfile.h"

class QLocalServer;
class QLocalSocket;

namespace chamber {
class Chamber;
class Fleet;
struct State;
}  // namespace chamber

namespace auth {
enum class Outcome;
}

namespace service {

// The form of a run as startRun carries it: its texts and the tolerance band of each loop
// ({"fixed", "plusMinus", "low", "high", "hysteresis"}).
QJsonObject runFormJson(const runs::Run& form);
// The form read back; nothing when a field is there in another type. Fields left out keep a new
// run's defaults.
std::optional<runs::Run> runFormFromJson(const QJsonObject& o);

class Channel : public QObject {
    Q_OBJECT
  public:
    static constexpr qint64 kMaxLineBytes = 64 * 1024;
    static constexpr qint64 kMaxQueuedBytes = 4 * 1024 * 1024;
    static constexpr int kMaxClients = 64;
    // Password checks waiting or under way at most; beyond, a login or command is answered
    // {"error": "busy"}.
    static constexpr int kMaxChecks = 16;
    // Exports allowed and not yet ended, of one client; beyond, its exportAsk is answered
    // {"error": "busy"}.
    static constexpr int kMaxExports = 16;

    // A session of a login on the channel ends after this long without a command when the user
    // store names no idle time of its own.
    static constexpr qint64 kSessionIdleMs = 15 * 60'000;

    // standing: what is known of whoever asks for a command (access control on or off, the user
    // store usable); usersPath: the user store the logins are checked against.
    Channel(chamber::Fleet& fleet, std::function<auth::Standing()> standing, QString usersPath = {},
            QObject* parent = nullptr);
    ~Channel() override;

    // Listens on the channel of the data folder; false with why when it cannot.
    bool listen(const QString& dataFolder, QString* why);
    // Stops listening and lets every client go; the socket file goes with it.
    void close();
    int clientCount() const { return static_cast<int>(clients_.size()); }

    // The outcome as the channel names it.

  private:
    struct Client {
        QByteArray pending;  // what came after the last full line
        bool subscribed = false;
        QString peer;  // the account of the process at the other end, as the system tells it
    };
    // A login on the channel: the user and their role as the store gave them.
    struct Session {
        QString user;
        auth::Role role = auth::Role::Viewer;
        qint64 lastUsedMs = 0;  // on the monotonic clock
    };
    // What a password check came to: the store's outcome, with the account's role when done.
    struct Checked {
        int outcome = 0;  // auth::Outcome
        auth::Role role = auth::Role::Viewer;
        int idleMinutes = 0;
        bool controlled = true;
    };
    void accept();
    void read(QLocalSocket* socket);
    QJsonObject answer(const QJsonObject& request, QLocalSocket* socket);
    // The answer to a command, or nothing while the password it came with is checked (the
    // answer then comes later).
    std::optional<QJsonObject> command(const QJsonObject& request, QLocalSocket* socket);
    QJsonObject run(const QJsonObject& request, QLocalSocket* socket, const auth::Actor& by);
    QJsonObject image(const QJsonObject& request);
    void login(const QJsonObject& request, QLocalSocket* socket);
    // Checks a password on the logins' thread; then(checked) runs here. False (and then never
    // called) while kMaxChecks are under way.
    bool check(const QString& user, const QString& password,
               std::function<void(const Checked&)> then);
    // A password refused: the alert of a failed login, as the desktop raises it.
    void failedLogin(const QString& user, auth::Outcome outcome);
    // The session of a token, unless it is none or ended.
    // use: the command counts as a use of the session (a read does not).
    const Session* session(const QString& token, bool use = true);
    void send(QLocalSocket* socket, const QJsonObject& message);
    void drop(QLocalSocket* socket, const char* why);
    void watch(chamber::Chamber* c);
    void publish(const chamber::Chamber& c, const chamber::State& state);
    // A client gone: its exports not ended are taken as not written.
    void forget(QLocalSocket* socket);

    // A command under way: who asked, and the id they asked with.
    struct Waiting {
        QPointer<QLocalSocket> socket;
        QJsonValue id;
        QJsonObject read;  // a read's "first" and "values", once they came
    };

    chamber::Fleet& fleet_;
    std::function<auth::Standing()> standing_;
    QString usersPath_;
    std::map<QString, Session> sessions_;  // by token
    QElapsedTimer mono_;
    int checking_ = 0;
    qint64 sessionIdleMs_ = kSessionIdleMs;
    base::WorkerThread<QObject> logins_{QStringLiteral("channel-logins")};
    std::map<std::pair<const chamber::Chamber*, quint64>, Waiting> waiting_;
    // Exports allowed, until their client says whether the file was written.
    struct Export {
        QLocalSocket* socket = nullptr;
        const chamber::Chamber* chamber = nullptr;  // only to match the request's
        store::ExportDone done;
    };
    std::map<qint64, Export> exports_;
    qint64 nextExport_ = 1;
    QLocalServer* server_ = nullptr;
    std::map<QLocalSocket*, Client> clients_;
};

}  // namespace service
