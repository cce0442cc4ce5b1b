// The API's answers to requests as the server reads them: who may read, errors for bad input,
// the chambers from the hub, the metrics' text as Prometheus' own checker reads it.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

#include "web/api.h"
#include "web/webconfig.h"

namespace {

web::Gauges gauges(const QString& name, bool stale) {
    web::Gauges g;
    g.chamber = name;
    g.pv = {25.3, 55.0};
    g.sv = {30.0, 60.0};
    g.retransmitPct = {42.5, 0};
    g.outputOn = {true, false};
    g.alarm = {false, true};
    g.stale = stale;
    g.link = stale ? QStringLiteral("silent") : QStringLiteral("polling");
    g.silentSeconds = stale ? 12.5 : 0.1;
    g.recorder = QStringLiteral("recording");
    g.samplesRecorded = 1234;
    g.lastSampleSeconds = 1.7e9;
    g.alertsOpen = 2;
    return g;
}

web::Request get(const QString& path, const QString& remote = QStringLiteral("127.0.0.1")) {
    web::Request r;
    r.method = "GET";
    r.path = path;
    r.remote = remote;
    r.headers.insert("host", "127.0.0.1:8080");
    return r;
}

struct Rig {
    web::Hub hub;
    QMap<QString, QByteArray> tokens;
    bool control = false;
    qint64 clockMs = 0;
    web::Api api;
    Rig()
        : api(hub, [this] {
              web::ApiOptions o;
              o.version = QStringLiteral("9.9");
              o.tokens = [this] { return tokens; };
              o.accessControl = [this] { return control; };
              o.login = [](const QString& user, const QString& password) -> QByteArray {
                  return user == u"anna" && password == u"right horse" ? "" : "refused";
              };
              o.idleMs = [] { return qint64(60000); };
              o.loopbackOnly = false;
              return o;
          }()) {
        hub.setChamber({QStringLiteral("A-1"),
                        QJsonObject{{"name", "A-1"}, {"stale", false}},
                        gauges(QStringLiteral("A-1"), false),
                        {}});
        hub.setChamber(
            {QString(), QJsonObject{{"name", ""}, {"stale", true}}, gauges(QString(), true), {}});
    }
};

QJsonObject object(const web::Response& r) {
    return QJsonDocument::fromJson(r.body).object();
}

const QString here = QStringLiteral("127.0.0.1"), away = QStringLiteral("192.0.2.7");

// A request and what it is answered.
struct Case {
    QString path;
    QString remote;
    QByteArray authorization;
    int status;
    const char* code;  // the error's code, or "" for a success (or an answer without one)
    QByteArray method = "GET";
    bool bodyTooLarge = false;
    bool control = false;  // under access control
    QByteArray body = {};
    QByteArray type = "application/json";
};

web::Response ask(Rig& rig, const Case& c) {
    rig.control = c.control;
    web::Request r = get(c.path, c.remote);
    r.method = c.method;
    r.bodyTooLarge = c.bodyTooLarge;
    r.body = c.body;
    if (!c.body.isEmpty()) r.headers.insert("content-type", c.type);
    if (!c.authorization.isEmpty()) r.headers.insert("authorization", c.authorization);
    return rig.api.handle(r);
}

// Each request with what it is answered: every endpoint read, who may read, the page's files and
// nothing beyond them, and bad input answered with a JSON error.
TEST(WebApi, AnswersAndErrors) {
    Rig rig;
    const QByteArray token = "vmt_2yX0cK9pQm";
    rig.tokens.insert(QStringLiteral("grafana"), web::tokenHash(token));
    const QByteArray session = "/api/v1/session";
    const Case cases[] = {
        {"/api/v1/chambers", here, "", 200, ""},
        {"/api/v1/chambers/A-1", here, "", 200, ""},
        {"/api/v1/chambers/~", here, "", 200, ""},
        {"/api/v1/chambers/nope", here, "", 404, "unknown_chamber"},
        {"/api/v1/nothing", here, "", 404, "not_found"},
        {"/metrics", here, "", 200, ""},
        {"/api/v1/chambers", here, "", 405, "", "POST"},
        {"/api/v1/chambers", here, "", 413, "", "GET", true},
        // Beyond loopback a token is needed, and only a kept one counts.
        {"/api/v1/chambers", away, "", 401, "unauthorized"},
        {"/metrics", away, "", 401, "unauthorized"},
        {"/api/v1/chambers", away, "Bearer vmt_wrong", 401, "unauthorized"},
        {"/api/v1/chambers", away, "Basic " + token, 401, "unauthorized"},
        {"/api/v1/chambers", away, "Bearer " + token, 200, ""},
        {"/api/v1/chambers", away, "bearer  " + token + " ", 200, ""},
        // The page, its chart library with the library's licence beside it, the licences' page
        // and the API's description need no token; nothing outside the page's files.
        {"/", away, "", 200, ""},
        {"/app.js", away, "", 200, ""},
        {"/app.css", away, "", 200, ""},
        {"/uPlot.iife.min.js", away, "", 200, ""},
        {"/uPlot-LICENSE.txt", away, "", 200, ""},
        {"/licenses.html", away, "", 200, ""},
        {"/api/v1/openapi.json", away, "", 200, ""},
        {"/../CMakeLists.txt", here, "", 404, "not_found"},
        {"/..", here, "", 404, "not_found"},
        {"/a/b.js", here, "", 404, "not_found"},
        {"/.hidden", here, "", 404, "not_found"},
        {"/%2e%2e/x", here, "", 404, "not_found"},
        // Under access control not even loopback reads without a session, and a session is
        // opened with a right password in JSON only; without access control none is needed.
        {"/api/v1/chambers", here, "", 401, "unauthorized", "GET", false, true},
        {session, here, "", 401, "refused", "POST", false, true,
         R"({"user":"anna","password":"wrong"})"},
        {session, here, "", 400, "bad_request", "POST", false, true, "{not json"},
        {session, here, "", 400, "bad_request", "POST", false, true, R"({"user":"anna"})"},
        {session, here, "", 415, "json_expected", "POST", false, true,
         R"({"user":"anna","password":"right horse"})", "text/plain"},
        {session, here, "", 409, "no_access_control", "POST", false, false,
         R"({"user":"anna","password":"right horse"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.method + ' ' + c.path + u' ' + c.remote + ' ' + c.body).toStdString());
        const web::Response out = ask(rig, c);
        EXPECT_EQ(out.status, c.status);
        if (*c.code) {
            EXPECT_EQ(out.type, "application/json");
            EXPECT_EQ(object(out).value("code").toString(), QLatin1String(c.code));
            EXPECT_FALSE(object(out).value("message").toString().isEmpty());
        }
        // A token is never echoed.
        EXPECT_FALSE(out.body.contains(token));
    }
    const QJsonArray list =
        object(rig.api.handle(get("/api/v1/chambers"))).value("chambers").toArray();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toObject().value("id").toString(), u"A-1");
    EXPECT_EQ(list[1].toObject().value("id").toString(), u"~");
    EXPECT_EQ(rig.api.handle(get("/app.js")).type, "text/javascript; charset=utf-8");
    EXPECT_TRUE(rig.api.handle(get("/uPlot-LICENSE.txt")).body.contains("MIT"));
    EXPECT_TRUE(rig.api.handle(get("/licenses.html")).body.contains("GPL-3.0-or-later"));

    // On loopback only a loopback Host is answered (a name rebound to this computer is not).
    web::Hub hub;
    web::ApiOptions o;
    o.loopbackOnly = true;
    web::Api local(hub, o);
    web::Request rebound = get("/api/v1/chambers");
    rebound.headers.insert("host", "evil.example:8080");
    EXPECT_EQ(local.handle(rebound).status, 421);
    EXPECT_EQ(local.handle(get("/api/v1/chambers")).status, 200);
}

TEST(WebApi, SessionsUnderAccessControl) {
    // (The refused logins are in the table above.)
    Rig rig;
    const web::Response ok = ask(rig, {"/api/v1/session", here, "", 201, "", "POST", false, true,
                                       R"({"user":"anna","password":"right horse"})"});
    ASSERT_EQ(ok.status, 201);
    const QByteArray token = object(ok).value("token").toString().toLatin1();
    ASSERT_FALSE(token.isEmpty());
    const Case read{"/api/v1/chambers", away, "Bearer " + token, 200, "", "GET", false, true};
    EXPECT_EQ(ask(rig, read).status, 200);
    // A personal token is for a program without access control.
    rig.tokens.insert(QStringLiteral("t"), web::tokenHash("vmt_x"));
    EXPECT_EQ(ask(rig, {read.path, away, "Bearer vmt_x", 401, "", "GET", false, true}).status, 401);
    // Logged out: the token ends.
    EXPECT_EQ(
        ask(rig, {"/api/v1/session", away, read.authorization, 204, "", "DELETE", false, true})
            .status,
        204);
    EXPECT_EQ(ask(rig, read).status, 401);
}

TEST(WebApi, SessionsEndWhenIdle) {
    qint64 now = 0;
    web::Sessions s([&] { return now; });
    const QString t = s.open(QStringLiteral("anna"));
    now = 59000;
    EXPECT_EQ(s.touch(t, 60000), std::optional<QString>(QStringLiteral("anna")));
    now = 118000;  // idle 59 s since the last use
    EXPECT_TRUE(s.touch(t, 60000));
    now = 178001;
    EXPECT_FALSE(s.touch(t, 60000));
    EXPECT_FALSE(s.touch(t, 0));  // ended for good
}

TEST(WebMetrics, PrometheusReadsThem) {
    QList<web::Gauges> all{gauges(QStringLiteral("A-1"), false),
                           gauges(QStringLiteral("odd \"name\"\\\n"), false),
                           gauges(QString(), true)};
    const QByteArray text = web::metricsText(all, QStringLiteral("1.2"));
    EXPECT_TRUE(text.contains("velmars_build_info{version=\"1.2\"} 1\n"));
    EXPECT_TRUE(text.contains(
        "velmars_temperature_celsius{chamber=\"A-1\",loop=\"1\",kind=\"pv\"} 25.3\n"));
    EXPECT_TRUE(text.contains("velmars_instrument_up{chamber=\"\"} 0\n"));
    EXPECT_TRUE(text.contains("velmars_link_state{chamber=\"\",state=\"silent\"} 1\n"));
    EXPECT_TRUE(text.contains("chamber=\"odd \\\"name\\\"\\\\\\n\""));
    // A stale chamber's values are no readings: left out.
    EXPECT_FALSE(text.contains("velmars_temperature_celsius{chamber=\"\""));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty()) GTEST_SKIP() << "promtool is not installed";
    QProcess p;
    p.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    ASSERT_TRUE(p.waitForStarted());
    p.write(text);
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(60000));
    const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
    EXPECT_EQ(p.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.trimmed().isEmpty()) << said.toStdString();
}

TEST(WebApi, DescribesItselfInOpenApi) {
    web::Hub hub;
    web::Api api(hub, {});
    web::Request r = get("/api/v1/openapi.json");
    const web::Response out = api.handle(r);
    ASSERT_EQ(out.status, 200);
    QJsonParseError error;
    const QJsonObject doc = QJsonDocument::fromJson(out.body, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_TRUE(doc.value("openapi").toString().startsWith(u"3."));
    const QJsonObject paths = doc.value("paths").toObject();
    for (const char* path :
         {"/api/v1/session", "/api/v1/chambers", "/api/v1/chambers/{name}",
          "/api/v1/chambers/{name}/samples", "/api/v1/chambers/{name}/events",
          "/api/v1/chambers/{name}/runs", "/api/v1/runs/{id}/report.pdf", "/api/v1/alerts",
          "/api/v1/alerts/{id}/acknowledge", "/api/v1/stream", "/api/v1/ws", "/metrics"})
        EXPECT_TRUE(paths.contains(QLatin1String(path))) << path;
}

TEST(WebApi, RateForAddressesBeyondLoopback) {
    web::RateLimit rate(10);
    int taken = 0;
    for (int i = 0; i < 25; ++i)
        taken += rate.allow(QStringLiteral("192.0.2.7"), 1000);  // a burst at one moment
    EXPECT_EQ(taken, 10);
    EXPECT_TRUE(rate.allow(QStringLiteral("192.0.2.8"), 1000));  // each address its own
    EXPECT_FALSE(rate.allow(QStringLiteral("192.0.2.7"), 1050));
    EXPECT_TRUE(rate.allow(QStringLiteral("192.0.2.7"), 1100));  // a tenth of a second: one more
    EXPECT_FALSE(rate.allow(QStringLiteral("192.0.2.7"), 1100));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(rate.allow(QStringLiteral("127.0.0.1"), 1000));
    // After a quiet while the burst is there again, never more.
    taken = 0;
    for (int i = 0; i < 25; ++i)
        taken += rate.allow(QStringLiteral("192.0.2.7"), 100000);
    EXPECT_EQ(taken, 10);
}

}  // namespace
