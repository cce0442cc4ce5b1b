// The program serving its chamber on the web: switched on with --http, kept for the next start,
// the simulated instrument's values in the API and the metrics, the status bar saying where, and
// the server gone when the program ends.

#include <QJsonArray>
#include <QJsonDocument>
#include <QStatusBar>
#include <QTcpServer>
#include <QTest>

#include "confighome.h"
#include "e2e_support.h"
#include "httpclient.h"
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
        // The value served is the chamber's own.
        QVERIFY(runUntil(
            [&] {
                return firstChamber(base).value("loops").toArray().at(0).toObject().value("pv") ==
                       program.app().chamber().state().loops[0].pv;
            },
            20000));
        const webtest::Reply metrics = webtest::fetch(base + "metrics");
        QCOMPARE(metrics.status, 200);
        QVERIFY(metrics.body.contains("velmars_instrument_up{chamber=\"\"} 1"));
        QVERIFY(metrics.body.contains("velmars_link_state{chamber=\"\",state=\"polling\"} 1"));
    }
    // The program ended: nothing answers on the port.
    QCOMPARE(webtest::fetch(base + "api/v1/chambers").status, 0);
    // The choice is kept for the next start.
    QCOMPARE(web::readListen(*shell::settingsFileFor(QString())).port, port);
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
