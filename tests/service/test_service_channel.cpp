// The local channel of a running service: every chamber's state on request and on change, to
// the service's group only, and clients that misbehave let go while the service goes on.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include <signal.h>
#include <sys/stat.h>

#include "managersocket.h"

using servicetest::ManagerSocket;

namespace {

// One line of the channel as JSON; an empty object when none came (the service hung or closed).
QJsonObject readLine(QLocalSocket& s) {
    for (int i = 0; i < 600 && !s.canReadLine(); ++i)
        if (!s.waitForReadyRead(100) && s.state() != QLocalSocket::ConnectedState) break;
    if (!s.canReadLine()) return {};
    return QJsonDocument::fromJson(s.readLine()).object();
}

// The first line that is no state event (a subscriber hears them between the answers).
QJsonObject readAnswer(QLocalSocket& s) {
    for (int i = 0; i < 1000; ++i) {
        const QJsonObject line = readLine(s);
        if (line.value("event").toString() != u"state") return line;
    }
    return {};
}

QJsonObject ask(QLocalSocket& s, const QByteArray& line) {
    s.write(line + '\n');
    s.flush();
    return readAnswer(s);
}

bool connectTo(QLocalSocket& s, const QString& path) {
    s.connectToServer(path);
    return s.waitForConnected(10000);
}

}  // namespace

class ServiceChannel : public QObject {
    Q_OBJECT
  private slots:
    void statesOnRequestAndOnChangeAndBadClientsLetGo();
    void setValueThroughTheServiceAndRefusedUnderAccessControl();
};

void ServiceChannel::statesOnRequestAndOnChangeAndBadClientsLetGo() {
    const QString bin =
        qEnvironmentVariable("VELMARS_BIN_DIR") + QStringLiteral("/velmars-service");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    QVERIFY(manager.bound());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));
    QProcess service;
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    service.start(bin, {"--simulate", "--data", data, "--chamber", "a=1,1", "--chamber", "b=1,2"});
    QVERIFY(service.waitForStarted());
    QVERIFY2(manager.waitFor("READY=1"), service.readAllStandardError().constData());

    // The service's account and its group read and write the socket; nobody else reaches it.
    const QString path = QDir(data).filePath(QStringLiteral("velmars.sock"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0660u);

    QLocalSocket client;
    QVERIFY(connectTo(client, path));
    const QJsonObject states = ask(client, R"({"id": 1, "op": "state"})");
    QCOMPARE(states.value("id").toInt(), 1);
    const QJsonArray chambers = states.value("chambers").toArray();
    QCOMPARE(chambers.size(), 2);
    QCOMPARE(chambers[0].toObject().value("name").toString(), QStringLiteral("a"));
    QCOMPARE(chambers[1].toObject().value("name").toString(), QStringLiteral("b"));
    for (const QJsonValue& c : chambers) {
        QCOMPARE(c.toObject().value("loops").toArray()[0].toObject().value("unit").toString(),
                 QStringLiteral("°C"));
        QCOMPARE(c.toObject().value("recorder").toObject().value("state").toString(),
                 QStringLiteral("recording"));
    }

    // Requests it cannot take are answered and the client goes on.
    const struct {
        QByteArray line;
        QJsonValue id;
        const char* error;
    } bad[] = {
        {"not json", QJsonValue::Null, "badRequest"},
        {"[1, 2]", QJsonValue::Null, "badRequest"},
        {R"({"id": 7})", 7, "badRequest"},
        {R"({"id": "x", "op": "frobnicate"})", "x", "unknownOp"},
    };
    for (const auto& b : bad) {
        const QJsonObject reply = ask(client, b.line);
        QCOMPARE(reply.value("id"), b.id);
        QCOMPARE(reply.value("error").toString(), QString::fromLatin1(b.error));
    }

    // A line with no end, and a client gone in the middle of one: those clients are let go.
    QLocalSocket flood;
    QVERIFY(connectTo(flood, path));
    flood.write(QByteArray(200 * 1024, 'x'));
    flood.flush();
    QVERIFY(flood.state() == QLocalSocket::UnconnectedState || flood.waitForDisconnected(30000));
    {
        QLocalSocket gone;
        QVERIFY(connectTo(gone, path));
        gone.write(R"({"id": 3, "op": "sta)");
        gone.flush();
        gone.abort();
    }

    // The first client is still served, and hears every change once subscribed.
    QCOMPARE(ask(client, R"({"id": 2, "op": "subscribe"})").value("subscribed").toBool(), true);
    QSet<QString> changed;
    for (int i = 0; i < 50 && changed.size() < 2; ++i) {
        const QJsonObject event = readLine(client);
        QCOMPARE(event.value("event").toString(), QStringLiteral("state"));
        QCOMPARE(event.value("state").toObject().value("name"), event.value("chamber"));
        changed << event.value("chamber").toString();
    }
    QCOMPARE(changed, (QSet<QString>{"a", "b"}));

    ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(60000));
    QCOMPARE(service.exitCode(), 0);
    QVERIFY(!QFile::exists(path));
}

void ServiceChannel::setValueThroughTheServiceAndRefusedUnderAccessControl() {
    const QString binDir = qEnvironmentVariable("VELMARS_BIN_DIR");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    QVERIFY(manager.bound());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));
    QProcess service;
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    service.start(binDir + QStringLiteral("/velmars-service"), {"--simulate", "--data", data});
    QVERIFY(service.waitForStarted());
    QVERIFY2(manager.waitFor("READY=1"), service.readAllStandardError().constData());
    QLocalSocket client;
    QVERIFY(connectTo(client, QDir(data).filePath(QStringLiteral("velmars.sock"))));

    // What the service cannot take is answered and nothing is written.
    const struct {
        QByteArray line;
        const char* error;
        const char* outcome;
    } cases[] = {
        {R"({"id": 1, "op": "setValue", "chamber": "zz", "loop": 0, "value": 1})", "unknownChamber",
         ""},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 1.5})", "badRequest",
         ""},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": "555"})", "badRequest",
         ""},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 1e12})", "badRequest",
         ""},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 2, "value": 1})", "", "invalid"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 99999})", "", "invalid"},
    };
    for (const auto& c : cases) {
        const QJsonObject reply = ask(client, c.line);
        QCOMPARE(reply.value("id").toInt(), 1);
        QCOMPARE(reply.value("error").toString(), QString::fromLatin1(c.error));
        QCOMPARE(reply.value("outcome").toString(), QString::fromLatin1(c.outcome));
    }

    // SV1 written through the service reaches the instrument, and its state shows it.
    const QJsonObject sent =
        ask(client, R"({"id": 5, "op": "setValue", "chamber": "", "loop": 0, "value": 555})");
    QCOMPARE(sent.value("outcome").toString(), QStringLiteral("pending"));
    const QJsonObject finished = readAnswer(client);
    QCOMPARE(finished.value("event").toString(), QStringLiteral("commandFinished"));
    QCOMPARE(finished.value("id").toInt(), 5);
    QCOMPARE(finished.value("outcome").toString(), QStringLiteral("done"));
    QCOMPARE(ask(client, R"({"id": 6, "op": "subscribe"})").value("subscribed").toBool(), true);
    bool shown = false;
    for (int i = 0; i < 100 && !shown; ++i) {
        const QJsonObject loop =
            readLine(client).value("state").toObject().value("loops").toArray()[0].toObject();
        shown = qRound(loop.value("sv").toDouble() *
                       std::pow(10, loop.value("decimals").toInt())) == 555;
    }
    QVERIFY(shown);

    // Access control switched on meanwhile: nobody is logged in on the channel, so it is refused.
    QProcess admin;
    admin.start(binDir + QStringLiteral("/velmars"),
                {"--data", data, "--create-admin", "qa", "--full-name", "QA"});
    admin.write("correct horse 1\ncorrect horse 1\n");
    admin.closeWriteChannel();
    QVERIFY(admin.waitForFinished(60000));
    QCOMPARE(admin.exitCode(), 0);
    QCOMPARE(ask(client, R"({"id": 7, "op": "setValue", "chamber": "", "loop": 0, "value": 300})")
                 .value("outcome")
                 .toString(),
             QStringLiteral("refused"));

    ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
    QVERIFY(service.waitForFinished(60000));
    QCOMPARE(service.exitCode(), 0);
}

QTEST_GUILESS_MAIN(ServiceChannel)
#include "test_service_channel.moc"
