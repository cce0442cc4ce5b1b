#pragma once
// The web server's answers: a request as read off the connection, and what goes back, decided
// from the hub's copies and the chambers' database files without touching a chamber. The
// connection handling (civetweb) is in server.h; this part is plain and testable on its own.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "web/hub.h"

namespace web {

struct Request {
    QByteArray method;
    QString path;                          // decoded, without the query
    QByteArray query;                      // raw, after '?'
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QString remote;                        // the peer's address
    QByteArray body;
    bool bodyTooLarge = false;
    QByteArray header(const char* name) const { return headers.value(QByteArray(name)); }
};

struct Response {
    int status = 200;
    QByteArray type = "application/json";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// A JSON error: {"code": ..., "message": ...}.
Response errorResponse(int status, const char* code, const QString& message);

// Limits every request is held to.
inline constexpr qint64 kMaxBody = 64 * 1024;
inline constexpr int kMaxPoints = 50000;
inline constexpr int kMaxEvents = 5000;

// Who asks: a reader allowed in, with the user under access control.
struct Reader {
    bool allowed = false;
    QString user;  // under access control: the session's user; else the token's name or empty
};

// Sessions of users logged in under access control: a random bearer token each, ended by a
// logout or by the idle lock.
class Sessions {
  public:
    explicit Sessions(std::function<qint64()> monoMs = nullptr);
    QString open(const QString& user);
    // The session's user, its idle time restarted; nullopt when unknown or idle longer than
    // idleMs (0: never idle out).
    std::optional<QString> touch(const QString& token, qint64 idleMs);
    void close(const QString& token);

  private:
    struct Entry {
        QString user;
        qint64 lastMs = 0;
    };
    std::function<qint64()> monoMs_;
    std::mutex mutex_;
    QMap<QByteArray, Entry> byHash_;
};

// Requests each address other than loopback may make: perSecond, and as many at once.
class RateLimit {
  public:
    explicit RateLimit(int perSecond) : perSecond_(perSecond) {}
    // Whether a request from remote at nowMs (a monotonic clock) is taken.
    bool allow(const QString& remote, qint64 nowMs);

  private:
    struct Bucket {
        double tokens = 0;
        qint64 lastMs = 0;
    };
    int perSecond_;
    std::mutex mutex_;
    QMap<QString, Bucket> byAddress_;
};

struct ApiOptions {
    QString version;
    // Whether access control is on (read per request: it may be switched while serving).
    std::function<bool()> accessControl = [] { return false; };
    // The personal tokens kept: name -> SHA-256 (hex).
    std::function<QMap<QString, QByteArray>()> tokens = [] { return QMap<QString, QByteArray>{}; };
    // Under access control: checks a user's password (lockout included); "" when accepted, else
    // a code ("refused", "locked", "must_change", "unusable").
    std::function<QByteArray(const QString& user, const QString& password)> login;
    // Under access control: how long a session may stay idle (ms, 0 never).
    std::function<qint64()> idleMs = [] { return qint64(0); };
    // Whether the server listens on loopback only: then only a loopback Host is answered.
    bool loopbackOnly = true;
    // Acknowledges a chamber's listed alert with the comment, for the reader (under access
    // control after checking the password again); "" when done, else an error code
    // ("refused", "not_found", "invalid", "unavailable"...).
    std::function<QByteArray(const QString& chamber, const QString& alertId, const QString& comment,
                             const Reader& by, const QString& password)>
        acknowledge;
    // The user store's file, named in the reports.
    QString usersPath;
    // Epoch milliseconds now (tests may fix it).
    std::function<qint64()> nowMs;
};

class Api {
  public:
    Api(Hub& hub, ApiOptions options);

    Response handle(const Request& r);
    // Whether the request is for the event stream (answered by the server, not by handle()).
    static bool isStream(const Request& r);
    // Who asks; an error response when refused.
    std::optional<Response> refuse(const Request& r, Reader* who);

    Hub& hub() { return hub_; }
    Sessions& sessions() { return sessions_; }

    // The URL segment of a chamber: its name, or "~" for the one chamber of a program.
    static QString idOf(const QString& name);
    static QString nameOf(const QString& id);

  private:
    Response chambers();
    Response chamber(const QString& id);
    Response metrics();
    Response session(const Request& r);
    Response alerts();
    Response acknowledge(const Request& r, const QString& alertId, const Reader& by);
    Response staticFile(const QString& path);

    Hub& hub_;
    ApiOptions options_;
    Sessions sessions_;
};

// Every response's security headers (content policy, no sniffing, no framing).
QList<std::pair<QByteArray, QByteArray>> securityHeaders();

}  // namespace web
