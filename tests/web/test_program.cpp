// The program serving its chamber on the web: switched on with --http, kept for the next start,
// the simulated instrument's values in the API and the metrics, the status bar saying where, and
// the server gone when the program ends.

#include <QJsonArray>
#include <QJsonDocument>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <atomic>
#include <thread>
#include "alert/alerter.h"
#include "auth/actor.h"
#include "auth/userstore.h"
#include "confighome.h"
#include "e2e_support.h"
#include "events/eventlog.h"
#include "httpclient.h"
#include "runs/runs.h"
#include "shell/accesscommand.h"
#include "shell/settings.h"
#include "web/host.h"

using namespace e2e;

class WebProgram : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // The port chosen here is kept in a settings file of this test's own.
        testsupport::useConfigHome(home_.path());
        testsupport::useDataHome(home_.path());
    }
    void servesTheChamberAndSaysWhere();
    void pageInABrowser();
    void alertAcknowledgedOverTheWeb();
    void alertAcknowledgedInThePage();
    void passwordAgainInThePageUnderAccessControl();
    void acknowledgementInFlightAtExit();
    void runReportOverTheWeb();
    void offUnlessSwitchedOn();

  private:
    QTemporaryDir home_;
};

namespace {

int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QJsonObject firstChamber(const QString& base) {
    const webtest::Reply r = webtest::fetch(base + "api/v1/chambers");
    return QJsonDocument::fromJson(r.body).object().value("chambers").toArray().at(0).toObject();
}

}  // namespace

void WebProgram::servesTheChamberAndSaysWhere() {
    SimLine line;
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    const int port = freePort();
    shell::Options options = Program::onDevice(line.device());
    options.http = web::parseListen(QString::number(port), nullptr);
    QString base;
    {
        Program program(options);
        auto* w = program.main();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        web::Host* host = program.app().webHost();
        QVERIFY(host);
        base = host->url();
        QCOMPARE(base, QStringLiteral("http://127.0.0.1:%1/").arg(port));
        auto* serving = w->statusBar()->findChild<QLabel*>("webServing");
        QVERIFY(serving);
        QVERIFY2(serving->text().contains(base), qPrintable(serving->text()));

        // Before the port is opened the chamber is there, its values stale.
        QCOMPARE(firstChamber(base).value("stale").toBool(), true);
        click(w, "Command9");
        QVERIFY(runUntil([&] { return labelText(w, "D_3W_0") != QString(); }, 10000));
        QVERIFY(runUntil([&] { return !firstChamber(base).value("stale").toBool(); }, 30000));
        const QJsonObject c = firstChamber(base);
        QCOMPARE(c.value("id").toString(), QStringLiteral("~"));
        QCOMPARE(c.value("link").toObject().value("state").toString(), QStringLiteral("polling"));
        // The value served is one the chamber published (the page may lag the chamber by a
        // publication while the values move).
        QList<double> published{program.app().chamber().state().loops[0].pv};
        const QMetaObject::Connection told =
            QObject::connect(&program.app().chamber(), &chamber::Chamber::stateChanged,
                             [&](const chamber::State& s) { published.append(s.loops[0].pv); });
        const auto untell = qScopeGuard([&] { QObject::disconnect(told); });
        QVERIFY(runUntil(
            [&] {
                const QJsonValue pv =
                    firstChamber(base).value("loops").toArray().at(0).toObject().value("pv");
                return pv.isDouble() && published.contains(pv.toDouble());
            },
            20000));
        const webtest::Reply metrics = webtest::fetch(base + "metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.body.contains("velmars_instrument_up{chamber=\"\"} 1"));
        QVERIFY(metrics.body.contains("velmars_link_state{chamber=\"\",state=\"polling\"} 1"));
        // Prometheus' own checker takes the program's metrics as they are.
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (!promtool.isEmpty()) {
            QProcess check;
            check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
            QVERIFY(check.waitForStarted());
            check.write(metrics.body);
            check.closeWriteChannel();
            QVERIFY(check.waitForFinished(60000));
            QVERIFY2(check.exitCode() == 0, check.readAll().constData());
        }
    }
    // The program ended: nothing answers on the port.
    QCOMPARE(webtest::fetch(base + "api/v1/chambers").status, 0);
    // The choice is kept for the next start.
    QCOMPARE(web::readListen(*shell::settingsFileFor(QString())).port, port);
}

namespace {

// The program on a simulated instrument with its port open and its values read, served on the web.
struct Served {
    SimLine line;
    std::unique_ptr<Program> program;
    QString base;
    bool start() {
        if (!line.start(nullptr)) return false;
        shell::Options options = Program::onDevice(line.device());
        options.http = web::parseListen(QString::number(freePort()), nullptr);
        program = std::make_unique<Program>(options);
        if (!QTest::qWaitForWindowExposed(program->main()) || !program->app().webHost())
            return false;
        base = program->app().webHost()->url();
        click(program->main(), "Command9");
        return runUntil([&] { return !firstChamber(base).value("stale").toBool(); }, 30000);
    }

    // Under access control, what the requests below carry once logged in.
    QList<QPair<QByteArray, QByteArray>> session;
    bool logIn(const QString& user, const QString& password) {
        const webtest::Reply r = webtest::fetch(
            base + "api/v1/session", "POST",
            QJsonDocument(QJsonObject{{"user", user}, {"password", password}}).toJson(),
            {{"Content-Type", "application/json"}});
        const QJsonValue token = QJsonDocument::fromJson(r.body).object().value("token");
        session = {{"Authorization", "Bearer " + token.toString().toLatin1()}};
        return r.status == 201;
    }
    QJsonArray list(const QString& path, const char* key) {
        return QJsonDocument::fromJson(webtest::fetch(base + path, "GET", {}, session).body)
            .object()
            .value(QLatin1String(key))
            .toArray();
    }

    // Raises an alert in the chamber; its id once the server lists it.
    QString raiseAlert() {
        program->app().chamber().alerter()->raise(alert::Kind::LoginFailed, {"anna"});
        QString id;
        runUntil(
            [&] {
                const QJsonArray alerts = list("api/v1/alerts", "alerts");
                if (!alerts.isEmpty()) id = alerts.at(0).toObject().value("id").toString();
                return !id.isEmpty();
            },
            20000);
        return id;
    }

    // The chamber's own list (which the windows show) has the alert acknowledged (a raised alert
    // leaves the list then), and its log keeps the comment.
    bool acknowledged(const QString& id, const QByteArray& comment) {
        const bool listed = runUntil(
            [&] {
                for (const chamber::AlertInfo& a : program->app().chamber().state().alerts)
                    if (a.id == id && !a.acknowledged) return false;
                return true;
            },
            10000);
        return listed && runUntil(
                             [&] {
                                 return webtest::fetch(base + "api/v1/chambers/~/events?limit=50",
                                                       "GET", {}, session)
                                     .body.contains(comment);
                             },
                             20000);
    }
};

}  // namespace

namespace {

// The page's row of an alert, as a JavaScript expression.
QString alertRow(const QString& id) {
    const QString quoted =
        QString::fromUtf8(QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact))
            .mid(1)
            .chopped(1);
    return QStringLiteral("document.querySelector('[data-alert=\"' + CSS.escape(%1) + '\"]')")
        .arg(quoted);
}

// A step that types the comment (and the password) into the alert row's form and presses its
// button.
QString acknowledgeStep(const QString& row, const QString& comment, const QString& password = {}) {
    return QStringLiteral(
               "(() => { const f = %1.querySelector('form'); "
               "f.querySelector('input.comment').value = '%2'; "
               "const p = f.querySelector('input[type=password]'); if (p) p.value = '%3'; "
               "f.querySelector('button[type=submit]').click(); return true; })()")
        .arg(row, comment, password);
}

// Drives the page at url in headless Chromium (with a profile of its own, and the browser's flags
// given) through its steps (see pagedriver.py): true when every step came true.
bool drivePage(const QString& url, const QStringList& steps, const QString& flags = {}) {
    QTemporaryDir profile;
    QProcess driver;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PAGEDRIVER_FLAGS"), flags);
    driver.setProcessEnvironment(env);
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.start(QStringLiteral("python3"),
                 QStringList{QStringLiteral(PAGEDRIVER),
                             QStandardPaths::findExecutable(QStringLiteral("chromium")),
                             profile.path(), url} +
                     steps);
    if (!driver.waitForStarted()) return false;
    // The program answers on its own threads; its event loop goes on meanwhile.
    runUntil([&] { return driver.state() == QProcess::NotRunning; }, 120000);
    return driver.exitStatus() == QProcess::NormalExit && driver.exitCode() == 0;
}

}  // namespace

void WebProgram::pageInABrowser() {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        QSKIP("chromium is not installed");
    Served s;
    QVERIFY(s.start());
    QCOMPARE(firstChamber(s.base)["loops"][0]["unit"].toString(), QStringLiteral("°C"));
    // The tile shows the instrument's values as the window does, and the trend is drawn.
    QVERIFY(drivePage(
        s.base + "?chamber=~&lang=en",
        {QStringLiteral(
             "(() => { const b = document.querySelector('[data-chamber=\"~\"] > button'); "
             "return !!b && b.querySelector('.name')?.textContent === 'Chamber' && "
             "/^\\d+ \\/ \\d+ °C/.test(b.querySelector('.name + "
             ".value[aria-label=\"Temperature\"]')?.textContent || ''); })()"),
         "document.documentElement.lang === 'en'",
         "Number(document.getElementById('chart')?.dataset.points) > 0 && "
         "!!document.querySelector('canvas')"}));
    // In Chinese by default, and for a browser that asks for it.
    QVERIFY(drivePage(s.base + "?chamber=~",
                      {"document.documentElement.lang === 'zh-CN'",
                       "!!document.querySelector('[aria-label=\"温度\"]')",
                       "document.body.textContent.includes('通讯正常')"},
                      "--accept-lang=zh-CN"));
}

void WebProgram::alertAcknowledgedOverTheWeb() {
    Served s;
    QVERIFY(s.start());
    QVERIFY(s.program->app().chamber().alerter());
    const QString id = s.raiseAlert();
    QVERIFY(!id.isEmpty());
    const QString ack = s.base + "api/v1/alerts/" + id + "/acknowledge";
    const QList<QPair<QByteArray, QByteArray>> json{{"Content-Type", "application/json"}};
    // No comment, no acknowledgement; nothing but JSON is taken (a form posted from another site).
    QCOMPARE(webtest::fetch(ack, "POST", R"({"comment":"  "})", json).status, 400);
    QCOMPARE(webtest::fetch(ack, "POST", "comment=x",
                            {{"Content-Type", "application/x-www-form-urlencoded"}})
                 .status,
             415);
    QCOMPARE(webtest::fetch(s.base + "api/v1/alerts/nope/acknowledge", "POST", R"({"comment":"x"})",
                            json)
                 .status,
             404);
    const webtest::Reply done = webtest::fetch(ack, "POST", R"({"comment":"door was open"})", json);
    QCOMPARE(done.status, 200);
    QVERIFY(s.acknowledged(id, "door was open"));
    // Once is enough: acknowledged again, nothing is waiting.
    QCOMPARE(webtest::fetch(ack, "POST", R"({"comment":"again"})", json).status, 404);
}

namespace {

// Stops the host when the chambers' thread is handed an acknowledgement, before it runs it: the
// program leaving while a request waits for it.
class StopOnHandOver : public QObject {
  public:
    StopOnHandOver(web::Host& host, const std::atomic<bool>& asked) : host_(host), asked_(asked) {
        host.installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MetaCall && asked_ && !stopped_) {
            stopped_ = true;
            host_.stop();
        }
        return false;
    }
    bool stopped() const { return stopped_; }

  private:
    web::Host& host_;
    const std::atomic<bool>& asked_;
    bool stopped_ = false;
};

}  // namespace

void WebProgram::acknowledgementInFlightAtExit() {
    Served s;
    QVERIFY(s.start());
    chamber::Chamber& chamber = s.program->app().chamber();
    const QString id = s.raiseAlert();
    QVERIFY(!id.isEmpty());
    const QUrl url(s.base);
    const QByteArray body = R"({"comment":"at exit"})";
    QByteArray reply;
    std::atomic<bool> asked{false};
    // A client of its own thread: this one is the chambers'.
    std::thread client([&] {
        QTcpSocket socket;
        socket.connectToHost(url.host(), quint16(url.port()));
        if (!socket.waitForConnected(30000)) return;
        asked = true;
        socket.write("POST /api/v1/alerts/" + id.toUtf8() +
                     "/acknowledge HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                     "application/json\r\nConnection: close\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket.waitForBytesWritten(30000);
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(60000))
            reply += socket.readAll();
        reply += socket.readAll();
    });
    StopOnHandOver stopper(*s.program->app().webHost(), asked);
    const bool stopped = runUntil([&] { return stopper.stopped(); }, 30000);
    client.join();
    QVERIFY2(stopped, reply.constData());
    // Not answered as done (the server, ending, sends nothing more), and not done afterwards.
    QVERIFY2(!reply.startsWith("HTTP/1.1 200"), reply.constData());
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    bool acknowledged = true;
    for (const chamber::AlertInfo& a : chamber.state().alerts)
        if (a.id == id) acknowledged = a.acknowledged;
    QVERIFY(!acknowledged);
}

void WebProgram::alertAcknowledgedInThePage() {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        QSKIP("chromium is not installed");
    Served s;
    QVERIFY(s.start());
    const QString id = s.raiseAlert();
    QVERIFY(!id.isEmpty());
    // The alert's row, its comment typed and its button pressed, as a person at the browser does.
    const QString row = alertRow(id);
    const QStringList steps{
        QStringLiteral("!!%1?.querySelector('form button')").arg(row),
        acknowledgeStep(row, "door was open"),
        QStringLiteral("!%1?.querySelector('form')").arg(row),
    };
    QVERIFY(drivePage(s.base + QStringLiteral("?lang=en"), steps));
    QVERIFY(s.acknowledged(id, "door was open"));
}

// Under access control the page logs in, and acknowledging asks for the password again: a wrong
// one is refused in the page's words with the session kept and the alert left as it was, also
// after the page was loaded again; the right one acknowledges it in the user's name.
void WebProgram::passwordAgainInThePageUnderAccessControl() {
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
        QSKIP("chromium is not installed");
    QVERIFY(auth::cryptoReady());
    // A user store of this test's own (the other tests' programs run without one).
    QTemporaryDir data;
    testsupport::useDataHome(data.path());
    const auto back = qScopeGuard([this] { testsupport::useDataHome(home_.path()); });
    const QString password = QStringLiteral("Sup-Secret-77");
    {
        QDir().mkpath(QFileInfo(shell::userStorePath()).path());
        auth::UserStore store(shell::userStorePath(), "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("qa", "李 质量", password), auth::Outcome::Done);
    }
    Served s;
    QVERIFY(s.start());
    QVERIFY(s.logIn("qa", password));
    const QString id = s.raiseAlert();
    QVERIFY(!id.isEmpty());
    const QString row = alertRow(id);
    const QString stillOpen =
        QStringLiteral(
            "(async () => { const r = await fetch('/api/v1/alerts', { headers: { Authorization: "
            "'Bearer ' + sessionStorage.getItem('token') } }); const a = (await r.json()).alerts"
            ".find((x) => x.id === %1.dataset.alert); return !!a && !a.acknowledged; })()")
            .arg(row);
    const QStringList steps{
        // Asked to log in, and logged in.
        QStringLiteral("(() => { if (document.getElementById('login').hidden) return false; "
                       "document.getElementById('user').value = 'qa'; "
                       "document.getElementById('password').value = '%1'; "
                       "document.querySelector('#loginForm button[type=submit]').click(); "
                       "return true; })()")
            .arg(password),
        // Loaded again: the session holds, and the alert's form asks for the password.
        QStringLiteral(
            "(() => { if (!%1?.querySelector('form input[type=password]')) return false; "
            "window.before = true; location.reload(); return true; })()")
            .arg(row),
        QStringLiteral("!window.before && document.getElementById('login').hidden && "
                       "!!%1?.querySelector('form input[type=password]')")
            .arg(row),
        // A wrong password: refused in words, still logged in, the alert as it was.
        acknowledgeStep(row, "wrong try", "not-the-password"),
        QStringLiteral("%1.querySelector('[role=alert]').textContent === "
                       "'Not acknowledged: Wrong user name or password' && "
                       "document.getElementById('login').hidden")
            .arg(row),
        stillOpen,
        // The right one.
        acknowledgeStep(row, "door was open", password),
        QStringLiteral("!%1?.querySelector('form')").arg(row),
    };
    QVERIFY(drivePage(s.base + QStringLiteral("?lang=en"), steps));
    QVERIFY(s.acknowledged(id, "door was open"));
    // One acknowledgement in the log, in the user's name; the refused try left none.
    QStringList acknowledged;
    for (const QJsonValue& e : s.list("api/v1/chambers/~/events?limit=50", "events"))
        if (e["code"] == QStringLiteral("alert.acknowledged"))
            acknowledged << e["user"].toString() + u' ' + e["text"].toString();
    QCOMPARE(acknowledged.size(), 1);
    QVERIFY2(acknowledged[0].startsWith(u"qa ") && acknowledged[0].contains(u"door was open"),
             qPrintable(acknowledged[0]));
}

void WebProgram::runReportOverTheWeb() {
    Served s;
    QVERIFY(s.start());
    chamber::Chamber& chamber = s.program->app().chamber();
    runs::Run form;
    form.name = QStringLiteral("老化 1");
    chamber.startRun(form, auth::Actor::self());
    const auto runs = [&] {
        return QJsonDocument::fromJson(webtest::fetch(s.base + "api/v1/chambers/~/runs").body)
            .object()
            .value("runs")
            .toArray();
    };
    QVERIFY(runUntil([&] { return runs().size() == 1; }, 20000));
    chamber.endRun(auth::Actor::self());
    QVERIFY(runUntil([&] { return runs().at(0).toObject().value("endMs").isDouble(); }, 20000));
    const QString report = runs().at(0).toObject().value("report").toString();
    QCOMPARE(report, QStringLiteral("/api/v1/runs/~:%1/report.pdf")
                         .arg(runs().at(0).toObject().value("id").toString().section(u':', 1)));
    const webtest::Reply pdf = webtest::fetch(s.base + report.mid(1));
    QCOMPARE(pdf.status, 200);
    QCOMPARE(pdf.headers.value("content-type"), QByteArray("application/pdf"));
    QVERIFY(pdf.body.startsWith("%PDF"));
}

void WebProgram::offUnlessSwitchedOn() {
    // Switched off with an empty --http, and off from then on.
    shell::Options off;
    off.http = web::Listen{};
    off.http->port = 0;
    {
        Program program(off);
        QVERIFY(QTest::qWaitForWindowExposed(program.main()));
        QVERIFY(!program.app().webHost());
        QVERIFY(!program.main()->statusBar()->findChild<QLabel*>("webServing"));
    }
    Program again(shell::Options{});
    QVERIFY(QTest::qWaitForWindowExposed(again.main()));
    QVERIFY(!again.app().webHost());
}

QTEST_MAIN(WebProgram)
#include "test_program.moc"
