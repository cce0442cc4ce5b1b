#include "web/api.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrlQuery>

#include "web/records.h"
#include "web/webconfig.h"

namespace web {

namespace {

QByteArray json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Response ok(const QJsonObject& o) {
    Response r;
    r.body = json(o);
    return r;
}

// Constant-time comparison of two hashes.
bool sameHash(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QByteArray bearer(const Request& r) {
    const QByteArray h = r.header("authorization").trimmed();
    if (!h.toLower().startsWith("bearer ")) return {};
    return h.mid(7).trimmed();
}

QByteArray mimeOf(const QString& file) {
    if (file.endsWith(u".html")) return "text/html; charset=utf-8";
    if (file.endsWith(u".js")) return "text/javascript; charset=utf-8";
    if (file.endsWith(u".css")) return "text/css; charset=utf-8";
    if (file.endsWith(u".svg")) return "image/svg+xml";
    if (file.endsWith(u".json")) return "application/json";
    return "text/plain; charset=utf-8";
}

}  // namespace

Response errorResponse(int status, const char* code, const QString& message) {
    Response r;
    r.status = status;
    r.body =
        json({{QStringLiteral("code"), QLatin1String(code)}, {QStringLiteral("message"), message}});
    return r;
}

QList<std::pair<QByteArray, QByteArray>> securityHeaders() {
    return {{"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
             "connect-src 'self'; font-src 'self'; manifest-src 'self'; base-uri 'none'; "
             "form-action 'none'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"X-Frame-Options", "DENY"},
            {"Referrer-Policy", "no-referrer"}};
}

Sessions::Sessions(std::function<qint64()> monoMs) : monoMs_(std::move(monoMs)) {
    if (!monoMs_) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        monoMs_ = [timer] { return timer->elapsed(); };
    }
}

QString Sessions::open(const QString& user) {
    QByteArray raw(32, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + raw.size()));
    const QByteArray token =
        "vms_" + raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    std::lock_guard lock(mutex_);
    byHash_.insert(tokenHash(token), {user, monoMs_()});
    return QString::fromLatin1(token);
}

std::optional<QString> Sessions::touch(const QString& token, qint64 idleMs) {
    const QByteArray hash = tokenHash(token.toLatin1());
    std::lock_guard lock(mutex_);
    auto it = byHash_.find(hash);
    if (it == byHash_.end()) return std::nullopt;
    const qint64 now = monoMs_();
    if (idleMs > 0 && now - it->lastMs > idleMs) {
        byHash_.erase(it);
        return std::nullopt;
    }
    it->lastMs = now;
    return it->user;
}

void Sessions::close(const QString& token) {
    std::lock_guard lock(mutex_);
    byHash_.remove(tokenHash(token.toLatin1()));
}

bool RateLimit::allow(const QString& remote, qint64 nowMs) {
    // This computer's own clients (a local Prometheus, the tests) are not held back.
    if (isLoopback(remote)) return true;
    std::lock_guard lock(mutex_);
    if (byAddress_.size() > 10000) byAddress_.clear();  // bounded, whoever sends
    auto it = byAddress_.find(remote);
    if (it == byAddress_.end()) it = byAddress_.insert(remote, {double(perSecond_), nowMs});
    Bucket& b = *it;
    b.tokens =
        std::min<double>(perSecond_, b.tokens + double(nowMs - b.lastMs) * perSecond_ / 1000.0);
    b.lastMs = nowMs;
    if (b.tokens < 1) return false;
    b.tokens -= 1;
    return true;
}

Api::Api(Hub& hub, ApiOptions options) : hub_(hub), options_(std::move(options)) {}

QString Api::idOf(const QString& name) {
    return name.isEmpty() ? QStringLiteral("~") : name;
}

QString Api::nameOf(const QString& id) {
    return id == u"~" ? QString() : id;
}

bool Api::isStream(const Request& r) {
    return r.method == "GET" && r.path == u"/api/v1/stream";
}

std::optional<Response> Api::refuse(const Request& r, Reader* who) {
    if (options_.accessControl()) {
        const QByteArray token = bearer(r);
        if (!token.isEmpty())
            if (const auto user = sessions_.touch(QString::fromLatin1(token), options_.idleMs())) {
                if (who) *who = {true, *user};
                return std::nullopt;
            }
        Response e = errorResponse(401, "unauthorized",
                                   QStringLiteral("log in with POST /api/v1/session first"));
        e.headers << std::pair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer");
        return e;
    }
    if (isLoopback(r.remote)) {
        if (who) *who = {true, {}};
        return std::nullopt;
    }
    const QByteArray token = bearer(r);
    if (!token.isEmpty()) {
        const QByteArray hash = tokenHash(token);
        const auto tokens = options_.tokens();
        for (auto it = tokens.cbegin(); it != tokens.cend(); ++it)
            if (sameHash(it.value(), hash)) {
                if (who) *who = {true, it.key()};
                return std::nullopt;
            }
    }
    Response e = errorResponse(
        401, "unauthorized",
        QStringLiteral("a token is needed (velmars --make-token NAME on the chambers' computer)"));
    e.headers << std::pair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer");
    return e;
}

Response Api::handle(const Request& r) {
    if (r.bodyTooLarge)
        return errorResponse(413, "too_large",
                             QStringLiteral("the request's body exceeds %1 bytes").arg(kMaxBody));
    // A name that resolves to this computer from elsewhere (DNS rebinding) is not answered.
    if (options_.loopbackOnly) {
        static const QRegularExpression host(
            QStringLiteral("^(localhost|127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3})(:\\d{1,5})?$"));
        if (!host.match(QString::fromLatin1(r.header("host"))).hasMatch())
            return errorResponse(421, "wrong_host",
                                 QStringLiteral("this server answers localhost only"));
    }
    const QString& p = r.path;
    if (!p.startsWith(u"/api/") && p != u"/metrics") {
        if (r.method != "GET" && r.method != "HEAD")
            return errorResponse(405, "method_not_allowed",
                                 QStringLiteral("the page is read only"));
        return staticFile(p);
    }
    if (p == u"/api/v1/openapi.json") return staticFile(QStringLiteral("/openapi.json"));
    if (p == u"/api/v1/session") return session(r);
    Reader who;
    if (auto refused = refuse(r, &who)) return *refused;
    static const QRegularExpression ack(QStringLiteral("^/api/v1/alerts/([^/]+)/acknowledge$"));
    if (const auto m = ack.match(p); m.hasMatch()) {
        if (r.method != "POST")
            return errorResponse(405, "method_not_allowed", QStringLiteral("POST"));
        return acknowledge(r, m.captured(1), who);
    }
    if (r.method != "GET" && r.method != "HEAD")
        return errorResponse(
            405, "method_not_allowed",
            QStringLiteral("%1 is not answered here").arg(QLatin1String(r.method)));
    if (p == u"/metrics") return metrics();
    if (p == u"/api/v1/chambers") return chambers();
    if (p == u"/api/v1/alerts") return alerts();
    static const QRegularExpression one(
        QStringLiteral("^/api/v1/chambers/([^/]+)(/samples|/events|/runs)?$"));
    if (const auto m = one.match(p); m.hasMatch()) {
        const QString what = m.captured(2);
        if (what.isEmpty()) return chamber(m.captured(1));
        const auto e = hub_.chamber(nameOf(m.captured(1)));
        if (!e)
            return errorResponse(404, "unknown_chamber", QStringLiteral("no chamber of that name"));
        const QUrlQuery query(QString::fromUtf8(r.query));
        if (what == u"/samples")
            return samples(e->dbPath, query, r.header("accept").contains("text/csv"),
                           options_.nowMs ? options_.nowMs() : QDateTime::currentMSecsSinceEpoch());
        if (what == u"/events") return events(e->dbPath, query);
        return runs(idOf(e->name), e->dbPath);
    }
    static const QRegularExpression pdf(
        QStringLiteral("^/api/v1/runs/([^/:]+):(\\d{1,15})/report\\.pdf$"));
    if (const auto m = pdf.match(p); m.hasMatch()) {
        const auto e = hub_.chamber(nameOf(m.captured(1)));
        if (!e)
            return errorResponse(404, "unknown_chamber", QStringLiteral("no chamber of that name"));
        return report(e->dbPath, m.captured(2).toLongLong(), options_.usersPath);
    }
    return errorResponse(404, "not_found", QStringLiteral("no such resource"));
}

Response Api::alerts() {
    QJsonArray list;
    for (const ChamberEntry& e : hub_.chambers())
        for (const QJsonValue& a : e.state.value(QStringLiteral("alerts")).toArray()) {
            QJsonObject o = a.toObject();
            o.insert(QStringLiteral("chamber"), idOf(e.name));
            list << o;
        }
    return ok({{QStringLiteral("alerts"), list}});
}

Response Api::acknowledge(const Request& r, const QString& alertId, const Reader& by) {
    if (!r.header("content-type").startsWith("application/json"))
        return errorResponse(415, "json_expected",
                             QStringLiteral("the body must be application/json"));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(r.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return errorResponse(400, "bad_request",
                             QStringLiteral("expected {\"comment\": ..., \"chamber\": ...}"));
    const QJsonObject body = doc.object();
    const QString comment = body.value(QStringLiteral("comment")).toString();
    if (comment.simplified().isEmpty() || comment.size() > 1000)
        return errorResponse(400, "bad_comment",
                             QStringLiteral("a comment of 1 to 1000 characters is needed"));
    // The chamber named, or the one chamber listing an alert of that id.
    QString chamberName;
    if (body.contains(QStringLiteral("chamber"))) {
        const auto e = hub_.chamber(nameOf(body.value(QStringLiteral("chamber")).toString()));
        if (!e)
            return errorResponse(404, "unknown_chamber", QStringLiteral("no chamber of that name"));
        chamberName = e->name;
    } else {
        int found = 0;
        for (const ChamberEntry& e : hub_.chambers())
            for (const QJsonValue& a : e.state.value(QStringLiteral("alerts")).toArray())
                if (a.toObject().value(QStringLiteral("id")).toString() == alertId) {
                    chamberName = e.name;
                    ++found;
                }
        if (found == 0) return errorResponse(404, "unknown_alert", QStringLiteral("no such alert"));
        if (found > 1)
            return errorResponse(
                400, "ambiguous_alert",
                QStringLiteral("several chambers list that alert: name the chamber"));
    }
    if (!options_.acknowledge)
        return errorResponse(503, "unavailable",
                             QStringLiteral("alerts cannot be acknowledged here"));
    const QByteArray refused = options_.acknowledge(
        chamberName, alertId, comment, by, body.value(QStringLiteral("password")).toString());
    if (refused.isEmpty()) return ok({{QStringLiteral("acknowledged"), alertId}});
    const int status = refused == "not_found"                        ? 404
                       : refused == "refused" || refused == "locked" ? 403
                       : refused == "password"                       ? 401
                       : refused == "invalid"                        ? 400
                                                                     : 503;
    return errorResponse(status, refused.constData(), QStringLiteral("not acknowledged"));
}

Response Api::chambers() {
    QJsonArray list;
    for (const ChamberEntry& e : hub_.chambers()) {
        QJsonObject o = e.state;
        o.insert(QStringLiteral("id"), idOf(e.name));
        list << o;
    }
    return ok({{QStringLiteral("chambers"), list}});
}

Response Api::chamber(const QString& id) {
    const auto e = hub_.chamber(nameOf(id));
    if (!e) return errorResponse(404, "unknown_chamber", QStringLiteral("no chamber of that name"));
    QJsonObject o = e->state;
    o.insert(QStringLiteral("id"), idOf(e->name));
    return ok(o);
}

Response Api::metrics() {
    QList<Gauges> all;
    for (const ChamberEntry& e : hub_.chambers())
        all << e.gauges;
    Response r;
    r.type = "text/plain; version=0.0.4; charset=utf-8";
    r.body = metricsText(all, options_.version);
    return r;
}

Response Api::session(const Request& r) {
    if (r.method == "DELETE") {
        const QByteArray token = bearer(r);
        if (!token.isEmpty()) sessions_.close(QString::fromLatin1(token));
        Response out;
        out.status = 204;
        return out;
    }
    if (r.method != "POST")
        return errorResponse(405, "method_not_allowed", QStringLiteral("POST or DELETE"));
    if (!options_.accessControl() || !options_.login)
        return errorResponse(409, "no_access_control",
                             QStringLiteral("access control is off: no login is needed"));
    if (!r.header("content-type").startsWith("application/json"))
        return errorResponse(415, "json_expected",
                             QStringLiteral("the body must be application/json"));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(r.body, &parseError);
    const QString user = doc.object().value(QStringLiteral("user")).toString();
    const QString password = doc.object().value(QStringLiteral("password")).toString();
    if (parseError.error != QJsonParseError::NoError || !doc.isObject() || user.isEmpty() ||
        password.isEmpty())
        return errorResponse(400, "bad_request",
                             QStringLiteral("expected {\"user\": ..., \"password\": ...}"));
    const QByteArray refused = options_.login(user, password);
    if (!refused.isEmpty())
        return errorResponse(refused == "unusable" ? 503 : 401, refused.constData(),
                             QStringLiteral("login refused"));
    Response out;
    out.status = 201;
    out.body =
        json({{QStringLiteral("token"), sessions_.open(user)},
              {QStringLiteral("user"), user},
              {QStringLiteral("idleSeconds"), static_cast<double>(options_.idleMs() / 1000)}});
    return out;
}

Response Api::staticFile(const QString& path) {
    // Only the page's own files: names of letters, digits, '-', '_' and '.', no folders.
    static const QRegularExpression name(QStringLiteral("^/([A-Za-z0-9_-][A-Za-z0-9_.-]{0,80})?$"));
    const auto m = name.match(path);
    QString file = m.hasMatch() ? m.captured(1) : QString();
    if (!m.hasMatch() || file.contains(QStringLiteral("..")))
        return errorResponse(404, "not_found", QStringLiteral("no such file"));
    if (file.isEmpty()) file = QStringLiteral("index.html");
    QFile f(QStringLiteral(":/web/") + file);
    if (!f.open(QIODevice::ReadOnly))
        return errorResponse(404, "not_found", QStringLiteral("no such file"));
    Response r;
    r.type = mimeOf(file);
    r.body = f.readAll();
    return r;
}

}  // namespace web
