// The real server on a free port answering a real HTTP client: the API with its headers, the
// event stream as it happens and resumed, many requests at once, and HTTPS with a certificate
// made by openssl for the test.

#include <civetweb.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QProcess>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <condition_variable>
#include <mutex>

#include "auth/userstore.h"
#include "httpclient.h"
#include "web/host.h"
#include "web/server.h"
#include "web/webconfig.h"

namespace {

web::ChamberEntry entry(const QString& name, double pv) {
    web::ChamberEntry e;
    e.name = name;
    e.state = QJsonObject{{"name", name}, {"pv", pv}};
    e.gauges.chamber = name;
    e.gauges.pv = {pv, 0};
    e.gauges.stale = false;
    e.gauges.link = QStringLiteral("polling");
    return e;
}

struct Served {
    web::Hub hub;
    web::Server server;
    explicit Served(web::Listen l = {}) : server(hub, l, web::ApiOptions{}) {
        hub.setChamber(entry(QStringLiteral("A-1"), 25.5));
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
    }
};

TEST(WebServer, AnswersOverHttp) {
    Served s;
    QString error;
    ASSERT_TRUE(s.server.start(&error)) << error.toStdString();
    ASSERT_GT(s.server.port(), 0);
    const webtest::Reply list = webtest::fetch(s.url("/api/v1/chambers"));
    ASSERT_EQ(list.status, 200);
    EXPECT_EQ(list.headers.value("content-type"), "application/json");
    EXPECT_EQ(list.headers.value("x-content-type-options"), "nosniff");
    EXPECT_TRUE(list.headers.value("content-security-policy").contains("frame-ancestors 'none'"));
    EXPECT_FALSE(list.headers.value("content-security-policy").contains("unsafe-inline"));
    const QJsonArray chambers =
        QJsonDocument::fromJson(list.body).object().value("chambers").toArray();
    ASSERT_EQ(chambers.size(), 1);
    EXPECT_EQ(chambers[0].toObject().value("pv").toDouble(), 25.5);

    const webtest::Reply unknown = webtest::fetch(s.url("/api/v1/chambers/B-2"));
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(QJsonDocument::fromJson(unknown.body).object().value("code"), "unknown_chamber");
    const webtest::Reply metrics = webtest::fetch(s.url("/metrics"));
    EXPECT_EQ(metrics.status, 200);
    EXPECT_TRUE(metrics.body.contains("velmars_instrument_up{chamber=\"A-1\"} 1"));
    // A body over the limit is refused before it is read.
    const webtest::Reply big =
        webtest::fetch(s.url("/api/v1/session"), "POST", QByteArray(web::kMaxBody + 1, 'x'),
                       {{"Content-Type", "application/json"}});
    EXPECT_EQ(big.status, 413);
#ifdef __linux__
    // The threads that answer yield to the chambers' when the processor is short: every worker
    // of the server runs 10 steps nicer than the test's own thread.
    const auto niceOf = [](const QString& stat) {
        QFile f(stat);
        const QByteArray line = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        // The fields after the name in parentheses; the nice value is the 19th field.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 16 ? fields[16].toInt() : -100;
    };
    const int lowered = std::min(niceOf("/proc/thread-self/stat") + 10, 19);
    int workers = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        workers += niceOf("/proc/self/task/" + task + "/stat") == lowered;
    EXPECT_GE(workers, web::Server::kThreads);
#endif
    s.server.stop();
    EXPECT_FALSE(s.server.running());
}

TEST(WebServer, StreamsChangesAndResumes) {
    Served s;
    ASSERT_TRUE(s.server.start(nullptr));
    static QNetworkAccessManager nam;
    const auto open = [&](const QByteArray& lastId) {
        QNetworkRequest req{QUrl(s.url("/api/v1/stream"))};
        if (!lastId.isEmpty()) req.setRawHeader("Last-Event-ID", lastId);
        return nam.get(req);
    };
    // Reads the stream until it holds `needle`.
    const auto readUntil = [](QNetworkReply* reply, QByteArray* got, const QByteArray& needle) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
            *got += reply->readAll();
            if (got->contains(needle)) loop.quit();
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        *got += reply->readAll();
        if (!got->contains(needle)) loop.exec();
        return got->contains(needle);
    };
    QNetworkReply* first = open({});
    QByteArray got;
    // A new client starts from every chamber's state.
    ASSERT_TRUE(readUntil(first, &got, "\"pv\":25.5"));
    EXPECT_TRUE(got.contains("event: state\n"));
    const qint64 a = s.hub.publish("event", R"({"code":"write"})");
    const qint64 b = s.hub.publish("state", R"({"name":"A-1","pv":26})");
    ASSERT_TRUE(readUntil(first, &got, "\"pv\":26"));
    EXPECT_TRUE(got.contains("id: " + QByteArray::number(a) +
                             "\nevent: event\ndata: {\"code\":\"write\"}\n\n"));
    EXPECT_TRUE(got.contains("id: " + QByteArray::number(b) + "\nevent: state\n"));
    first->abort();
    first->deleteLater();
    // One that comes back gets what it missed, and nothing twice.
    s.hub.publish("alert", R"({"id":"7"})");
    QNetworkReply* again = open(QByteArray::number(b));
    QByteArray resumed;
    ASSERT_TRUE(readUntil(again, &resumed, "{\"id\":\"7\"}"));
    EXPECT_FALSE(resumed.contains("\"pv\":26"));
    EXPECT_FALSE(resumed.contains("\"pv\":25.5"));
    again->abort();
    again->deleteLater();
    // Stopping ends the streams still open (the threads are waited for, not left hanging).
    QNetworkReply* last = open({});
    QByteArray tail;
    ASSERT_TRUE(readUntil(last, &tail, "\"pv\":25.5"));
    s.server.stop();
    last->deleteLater();
}

// The stream over a WebSocket, read by civetweb's own client: every chamber's state first, then
// each message as it is published; a page of another site is refused.
TEST(WebServer, StreamsOverAWebSocket) {
    Served s;
    ASSERT_TRUE(s.server.start(nullptr));
    struct Frames {
        std::mutex mutex;
        std::condition_variable arrived;
        QList<QByteArray> text;
        bool has(const QByteArray& needle, int seconds = 60) {
            std::unique_lock<std::mutex> lock(mutex);
            return arrived.wait_for(lock, std::chrono::seconds(seconds), [&] {
                return std::any_of(text.begin(), text.end(),
                                   [&](const QByteArray& t) { return t.contains(needle); });
            });
        }
    } frames;
    const auto onData = +[](mg_connection*, int flags, char* data, size_t size, void* self) {
        auto* f = static_cast<Frames*>(self);
        if ((flags & 0xf) == MG_WEBSOCKET_OPCODE_TEXT) {
            std::lock_guard<std::mutex> lock(f->mutex);
            f->text << QByteArray(data, qsizetype(size));
            f->arrived.notify_all();
        }
        return 1;
    };
    const auto open = [&](const char* origin) {
        char error[256] = {0};
        return mg_connect_websocket_client("127.0.0.1", s.server.port(), 0, error, sizeof error,
                                           web::Server::kWebSocketPath, origin, onData, nullptr,
                                           &frames);
    };
    mg_connection* socket = open(nullptr);
    ASSERT_TRUE(socket);
    EXPECT_TRUE(frames.has(R"("event":"state","data":{"id":"A-1","name":"A-1","pv":25.5})"));
    const qint64 a = s.hub.publish("event", R"({"code":"write"})");
    EXPECT_TRUE(frames.has("{\"id\":" + QByteArray::number(a) +
                           R"(,"event":"event","data":{"code":"write"}})"));
    // The same site's page is answered; another's is not (the handshake as a browser sends it).
    const auto handshake = [&](QTcpSocket& t, QByteArray origin) {
        t.connectToHost(QHostAddress::LocalHost, quint16(s.server.port()));
        if (!t.waitForConnected(30000)) return QByteArray();
        const QByteArray host = "127.0.0.1:" + QByteArray::number(s.server.port());
        t.write("GET /api/v1/ws HTTP/1.1\r\nHost: " + host +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: "
                "13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: " +
                origin.replace("HOST", host) + "\r\n\r\n");
        t.waitForReadyRead(30000);
        return t.readLine().trimmed();
    };
    QTcpSocket evil;
    EXPECT_NE(handshake(evil, "http://evil.example"), "HTTP/1.1 101 Switching Protocols");
    // A client that stops reading holds up only itself: with far more queued for it than the
    // sockets' buffers take, the others still get each message at once (the one writer of all
    // sockets waited out the library's 30 s write time-out for it).
    QTcpSocket stuck;
    ASSERT_EQ(handshake(stuck, "http://HOST"), "HTTP/1.1 101 Switching Protocols");
    const QByteArray bulk = '"' + QByteArray(64 * 1024, 'x') + '"';
    for (int i = 0; i < 400; ++i)
        s.hub.publish("event", bulk);
    const qint64 after = s.hub.publish("event", R"({"code":"after"})");
    EXPECT_TRUE(frames.has("{\"id\":" + QByteArray::number(after) + ",", 20));
    mg_close_connection(socket);
    s.server.stop();
}

// A certificate and key made by openssl for the addresses given; false when openssl is missing.
bool makeCertificate(const QString& cert, const QString& key, const QStringList& addresses) {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) return false;
    QStringList names;
    for (const QString& a : addresses)
        names << "IP:" + a;
    QProcess p;
    p.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                      "/CN=velmars-test", "-addext", "subjectAltName=" + names.join(u','),
                      "-keyout", key, "-out", cert});
    return p.waitForFinished(120000) && p.exitCode() == 0;
}

TEST(WebServer, ServesHttpsWithItsCertificate) {
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    if (!makeCertificate(cert, key, {"127.0.0.1"})) GTEST_SKIP() << "no openssl";
    web::Listen l;
    l.tlsCert = cert;
    l.tlsKey = key;
    Served s(l);
    QString error;
    ASSERT_TRUE(s.server.start(&error)) << error.toStdString();
    EXPECT_TRUE(s.server.url().startsWith(u"https://127.0.0.1:"));
    const auto trust = QSslCertificate::fromPath(cert);
    ASSERT_EQ(trust.size(), 1);
    const webtest::Reply r =
        webtest::fetch(s.server.url() + "api/v1/chambers", "GET", {}, {}, trust);
    EXPECT_EQ(r.status, 200) << int(r.error);
    // Plain HTTP on the TLS port gets no answer.
    EXPECT_NE(webtest::fetch(s.url("/api/v1/chambers")).status, 200);

    // A key that does not match, or a missing file: the server does not start and says why.
    web::Listen wrong = l;
    wrong.tlsKey = dir.filePath("missing.pem");
    web::Hub hub;
    web::Server bad(hub, wrong, {});
    EXPECT_FALSE(bad.start(&error));
    EXPECT_TRUE(error.contains("missing.pem"));
}

// Behind the TLS front a client from another computer is one: it needs a token and is held to
// the rate (see the rate's own test), where one on loopback is not.
TEST(WebServer, BeyondLoopbackThroughTls) {
    QString other;
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) other = a.toString();
    if (other.isEmpty()) GTEST_SKIP() << "no address beside loopback";
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    if (!makeCertificate(cert, key, {"127.0.0.1", other})) GTEST_SKIP() << "no openssl";
    web::Listen l;
    l.address = QStringLiteral("0.0.0.0");
    l.tlsCert = cert;
    l.tlsKey = key;
    web::Hub hub;
    hub.setChamber(entry(QStringLiteral("A-1"), 25.5));
    web::ApiOptions o;
    o.tokens = [] { return QMap<QString, QByteArray>{{"grafana", web::tokenHash("vmt_lab")}}; };
    web::Server server(hub, l, o);
    QString error;
    ASSERT_TRUE(server.start(&error)) << error.toStdString();
    const auto trust = QSslCertificate::fromPath(cert);
    const QString far =
        QStringLiteral("https://%1:%2/api/v1/chambers").arg(other).arg(server.port());
    const QString near = QStringLiteral("https://127.0.0.1:%1/api/v1/chambers").arg(server.port());
    EXPECT_EQ(webtest::fetch(far, "GET", {}, {}, trust).status, 401);
    EXPECT_EQ(webtest::fetch(far, "GET", {}, {{"Authorization", "Bearer vmt_other"}}, trust).status,
              401);
    EXPECT_EQ(webtest::fetch(far, "GET", {}, {{"Authorization", "Bearer vmt_lab"}}, trust).status,
              200);
    EXPECT_EQ(webtest::fetch(near, "GET", {}, {}, trust).status, 200);
    // The front passes the peer on: loopback stays loopback.
    EXPECT_EQ(
        webtest::fetch(near, "GET", {}, {{"Authorization", "Bearer vmt_other"}}, trust).status,
        200);
}

// Under access control: a session from the user store's login, with its lockout, over HTTP.
TEST(WebServer, SessionsFromTheUserStore) {
    QTemporaryDir dir;
    const QString users = dir.filePath("users.db");
    {
        auth::UserStore store(users, QStringLiteral("setup"), auth::HashCost::minimum());
        ASSERT_EQ(store.open(/*create=*/true), auth::StoreState::Ready);
        ASSERT_EQ(store.createFirstAdmin("admin", "Admin", "admin secret 1"), auth::Outcome::Done);
        ASSERT_EQ(store.createAccount("admin", "anna", "Anna", auth::Role::Viewer, "anna secret 1"),
                  auth::Outcome::Done);
        ASSERT_EQ(store.changePassword("anna", "anna secret 1", "anna secret 2"),
                  auth::Outcome::Done);
    }
    web::Hub hub;
    hub.setChamber(entry(QStringLiteral("A-1"), 25.5));
    web::ApiOptions o;
    o.accessControl = [] { return true; };
    o.login = [&](const QString& user, const QString& password) {
        return web::checkLogin(users, user, password);
    };
    web::Server server(hub, {}, o);
    ASSERT_TRUE(server.start(nullptr));
    const QString base = server.url();
    const auto login = [&](const QByteArray& user, const QByteArray& password) {
        return webtest::fetch(base + "api/v1/session", "POST",
                              R"({"user":")" + user + R"(","password":")" + password + R"("})",
                              {{"Content-Type", "application/json"}});
    };
    EXPECT_EQ(webtest::fetch(base + "api/v1/chambers").status, 401);
    // Five wrong passwords lock the account, as at the PC: the right one is refused then.
    for (int i = 0; i < auth::UserStore::kLockAfter; ++i)
        EXPECT_EQ(login("anna", "wrong password").status, 401);
    const webtest::Reply locked = login("anna", "anna secret 2");
    EXPECT_EQ(locked.status, 401);
    EXPECT_TRUE(QJsonDocument::fromJson(locked.body).object().value("token").isUndefined());
    // Another user logs in; the token reads until the logout.
    const webtest::Reply in = login("admin", "admin secret 1");
    ASSERT_EQ(in.status, 201) << in.body.toStdString();
    const QByteArray token =
        "Bearer " + QJsonDocument::fromJson(in.body).object().value("token").toString().toLatin1();
    EXPECT_EQ(
        webtest::fetch(base + "api/v1/chambers", "GET", {}, {{"Authorization", token}}).status,
        200);
    EXPECT_EQ(
        webtest::fetch(base + "api/v1/session", "DELETE", {}, {{"Authorization", token}}).status,
        204);
    EXPECT_EQ(
        webtest::fetch(base + "api/v1/chambers", "GET", {}, {{"Authorization", token}}).status,
        401);
    // The user store keeps the failures and the lock (the password never reaches it or a log).
    auth::UserStore store(users, QStringLiteral("check"));
    ASSERT_EQ(store.open(false), auth::StoreState::Ready);
    const auto anna = store.account("anna");
    ASSERT_TRUE(anna);
    EXPECT_TRUE(anna->locked());
}

TEST(WebServer, RefusesAPortInUse) {
    Served one;
    ASSERT_TRUE(one.server.start(nullptr));
    web::Listen same;
    same.port = one.server.port();
    web::Hub hub;
    web::Server two(hub, same, {});
    QString error;
    EXPECT_FALSE(two.start(&error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
