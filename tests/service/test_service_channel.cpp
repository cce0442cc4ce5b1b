// The local channel of a running service: every chamber's state on request and on change, to
// the service's group only, and clients that misbehave let go while the service goes on.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>
#include <cmath>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "auth/userstore.h"
#include "servedchannel.h"

using servicetest::ask;
using servicetest::connectTo;
using servicetest::readAnswer;
using servicetest::readLine;
using servicetest::Served;
using servicetest::ServiceRig;

namespace {

// A command's last word: its answer, or when that is "pending", the outcome it finished with
// (an error code when the request was not taken).
QString outcomeOf(QLocalSocket& s, const QByteArray& line) {
    const QJsonObject answer = ask(s, line);
    if (answer.contains("error")) return answer.value("error").toString();
    if (answer.value("outcome").toString() != u"pending") return answer.value("outcome").toString();
    const QJsonObject finished = readAnswer(s);
    if (finished.value("event").toString() != u"commandFinished" ||
        finished.value("id") != answer.value("id"))
        return QStringLiteral("no commandFinished");
    return finished.value("outcome").toString();
}

}  // namespace

class ServiceChannel : public QObject {
    Q_OBJECT
  private slots:
    void statesOnRequestAndOnChangeAndBadClientsLetGo();
    void setValueThroughTheServiceAndRefusedUnderAccessControl();
    void theOtherCommandsGoThroughTheChambersChecks();
    void loginTokensAndPasswordsUnderAccessControl();
};

void ServiceChannel::statesOnRequestAndOnChangeAndBadClientsLetGo() {
    Served s;
    QVERIFY(s.start({"--simulate", "--chamber", "a=1,1", "--chamber", "b=1,2"}));
    auto& [rig, service, client] = s;

    // The service's account and its group read and write the socket; nobody else reaches it.
    const QString path = rig.channel();
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 0777, 0660u);

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

    QVERIFY(ServiceRig::stop(service));
    QVERIFY(!QFile::exists(path));
}

void ServiceChannel::setValueThroughTheServiceAndRefusedUnderAccessControl() {
    Served s;
    QVERIFY(s.start());
    auto& [rig, service, client] = s;

    // (What a set value the service cannot take is answered is in the commands' table below.)
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
    QVERIFY(rig.createAdmin("qa", "correct horse 1"));
    QCOMPARE(ask(client, R"({"id": 7, "op": "setValue", "chamber": "", "loop": 0, "value": 300})")
                 .value("outcome")
                 .toString(),
             QStringLiteral("refused"));

    QVERIFY(ServiceRig::stop(service));
}

void ServiceChannel::theOtherCommandsGoThroughTheChambersChecks() {
    Served s;
    QVERIFY(s.start());
    auto& [rig, service, client] = s;

    // The registers the poll cycle read, for an attached window's panels.
    const QJsonObject image = ask(client, R"({"id": 1, "op": "image", "chamber": ""})");
    QCOMPARE(image.value("id").toInt(), 1);
    QCOMPARE(image.value("image").toObject().value("params").toArray().size(), 48);
    QCOMPARE(image.value("image").toObject().value("live").toArray().size(), 10);
    QCOMPARE(ask(client, R"({"id": 1, "op": "image", "chamber": "zz"})").value("error").toString(),
             QStringLiteral("unknownChamber"));

    // Each command as the chamber decides it, in order: what it cannot take changes nothing.
    const struct {
        QByteArray line;
        const char* outcome;
    } commands[] = {
        {R"({"id": 1, "op": "setValue", "chamber": "zz", "loop": 0, "value": 1})",
         "unknownChamber"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 1.5})", "badRequest"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": "555"})", "badRequest"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 1e12})", "badRequest"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 2, "value": 1})", "invalid"},
        {R"({"id": 1, "op": "setValue", "chamber": "", "loop": 0, "value": 99999})", "invalid"},
        {R"({"id": 2, "op": "setAlarm", "chamber": "", "index": 0, "value": 50})", "done"},
        {R"({"id": 3, "op": "setAlarm", "chamber": "", "index": 6, "value": 50})", "invalid"},
        {R"({"id": 4, "op": "setAlarm", "chamber": "", "index": "0", "value": 50})", "badRequest"},
        {R"({"id": 5, "op": "setAlarm", "chamber": "", "index": 0, "value": 99999})", "invalid"},
        {R"({"id": 6, "op": "programCommand", "chamber": "", "code": 9})", "invalid"},
        {R"({"id": 7, "op": "programCommand", "chamber": "", "code": 0})", "done"},
        {R"({"id": 8, "op": "endRun", "chamber": ""})", "notFound"},
        {R"({"id": 9, "op": "startRun", "chamber": "", "name": 5})", "badRequest"},
        {R"({"id": 10, "op": "startRun", "chamber": "", "name": "t1", "orderId": "o-1"})", "done"},
        {R"({"id": 11, "op": "endRun", "chamber": "zz"})", "unknownChamber"},
        {R"({"id": 12, "op": "endRun", "chamber": ""})", "done"},
        {R"({"id": 13, "op": "acknowledgeAlert", "chamber": "", "comment": "x"})", "badRequest"},
        {R"({"id": 14, "op": "acknowledgeAlert", "chamber": "", "alert": "no-such",
             "comment": "seen"})",
         "notFound"},
        // The configuration and program windows' writes, each op to its own block only.
        {R"({"id": 16, "op": "writeConfiguration", "chamber": "", "register": 4100, "value": 2,
             "caption": "输入1 单位"})",
         "done"},
        {R"({"id": 17, "op": "writeConfiguration", "chamber": "", "register": 8201, "value": 2})",
         "invalid"},
        {R"({"id": 18, "op": "writeProgram", "chamber": "", "register": 4100, "value": 2})",
         "invalid"},
        {R"({"id": 19, "op": "writeProgram", "chamber": "", "register": "8201", "value": 2})",
         "badRequest"},
        {R"({"id": 20, "op": "writeProgram", "chamber": "", "register": 8201, "value": 2,
             "caption": 5})",
         "badRequest"},
        {R"({"id": 21, "op": "writeProgram", "chamber": "", "register": 8201, "value": -150})",
         "done"},
        // Their reads, within those blocks only.
        {R"({"id": 22, "op": "readHolding", "chamber": "", "first": 8193, "count": 48})", "done"},
        {R"({"id": 23, "op": "readHolding", "chamber": "", "first": 4097, "count": 49})",
         "invalid"},
        {R"({"id": 24, "op": "readHolding", "chamber": "", "first": 1, "count": 2})", "invalid"},
        {R"({"id": 25, "op": "readHolding", "chamber": "", "first": 4097, "count": "1"})",
         "badRequest"},
        {R"({"id": 26, "op": "startRun", "chamber": "", "name": "t2", "band1": {"fixed": 1}})",
         "badRequest"},
        // A window's file: allowed (export 1, the first), ended once by the client that asked.
        {R"({"id": 27, "op": "exportAsk", "chamber": "", "what": "png"})", "badRequest"},
        {R"({"id": 28, "op": "exportAsk", "chamber": "", "what": "png", "path": "/x/c.png"})",
         "done"},
        {R"({"id": 29, "op": "exportDone", "chamber": "", "export": 1, "written": "yes"})",
         "badRequest"},
        {R"({"id": 30, "op": "exportDone", "chamber": "", "export": 1, "written": true})", "done"},
        {R"({"id": 31, "op": "exportDone", "chamber": "", "export": 1, "written": true})",
         "notFound"},
    };
    for (const auto& c : commands)
        QCOMPARE(outcomeOf(client, QByteArray(c.line).replace('\n', ' ')),
                 QString::fromLatin1(c.outcome));

    // The write reached the instrument: its image holds it once the poll cycle read it back.
    int alarm1 = -1;
    for (int i = 0; i < 300 && alarm1 != 50; ++i) {
        if (i > 0) QTest::qWait(100);
        alarm1 = ask(client, R"({"id": 15, "op": "image", "chamber": ""})")
                     .value("image")
                     .toObject()
                     .value("holding257")
                     .toArray()[0]
                     .toInt();
    }
    QCOMPARE(alarm1, 50);
    QVERIFY(ServiceRig::stop(service));
}

void ServiceChannel::loginTokensAndPasswordsUnderAccessControl() {
    Served s;
    QVERIFY(s.start({"--simulate"}, "qa", "correct horse 1"));
    auto& [rig, service, client] = s;
    const auto setValue = [](const QByteArray& who, const QByteArray& reason = "r") {
        return R"({"id": 30, "op": "setValue", "chamber": "", "loop": 0, "value": 321, "reason": ")" +
               reason + '"' + who + "}";
    };

    const QJsonObject login =
        ask(client, R"({"id": 20, "op": "login", "user": "qa", "password": "correct horse 1"})");
    QCOMPARE(login.value("outcome").toString(), QStringLiteral("done"));
    const QByteArray token = login.value("token").toString().toLatin1();
    QVERIFY(token.size() >= 32);
    const QByteArray byToken = ", \"token\": \"" + token + '"';
    const QByteArray byPassword = ", \"user\": \"qa\", \"password\": \"correct horse 1\"";

    const struct {
        QByteArray who;
        const char* outcome;
    } asks[] = {
        {"", "refused"},
        {byToken, "done"},
        {", \"token\": \"0123456789abcdef0123456789abcdef\"", "refused"},
        {byPassword, "done"},
        {", \"user\": \"qa\", \"password\": \"wrong\"", "refused"},
        {", \"user\": \"qa\"", "refused"},
    };
    for (const auto& a : asks)
        QCOMPARE(outcomeOf(client, setValue(a.who)), QString::fromLatin1(a.outcome));
    // Under access control a change without its reason is done by nobody, whoever asks.
    QCOMPARE(outcomeOf(client, setValue(byToken, " ")), QStringLiteral("invalid"));
    // Every command is logged with the account of the process that sent it.
    const QByteArray logged = QStringLiteral("by qa from uid %1 ").arg(::getuid()).toUtf8();
    QByteArray err;
    service.setReadChannel(QProcess::StandardError);
    for (int i = 0; i < 100 && !err.contains(logged); ++i) {
        service.waitForReadyRead(100);
        err += service.readAllStandardError();
    }
    QVERIFY2(err.contains(logged), err.constData());

    // A session holds the account as the store holds it now, not as it was at the login: given
    // another role by another program, the token's next command is refused; given it back, done.
    auth::UserStore other(QDir(rig.data()).filePath(auth::kUserStoreFileName), "other",
                          auth::HashCost::minimum());
    QCOMPARE(other.open(false), auth::StoreState::Ready);
    QCOMPARE(other.createAccount("qa", "qb", "QB", auth::Role::Administrator, "correct horse 2"),
             auth::Outcome::Done);
    for (const auto& [role, outcome] :
         {std::pair{auth::Role::Viewer, "refused"}, std::pair{auth::Role::Administrator, "done"}}) {
        QCOMPARE(other.changeAccount("qb", "qa", "qa", role), auth::Outcome::Done);
        QString got;
        for (int i = 0; i < 300 && got != QLatin1String(outcome); ++i) {
            if (i > 0) QTest::qWait(100);
            got = outcomeOf(client, setValue(byToken));
        }
        QCOMPARE(got, QString::fromLatin1(outcome));
    }

    // Logged out, the token is no more.
    const QByteArray logout = "{\"id\": 21, \"op\": \"logout\", \"token\": \"" + token + "\"}";
    QCOMPARE(ask(client, logout).value("outcome").toString(), QStringLiteral("done"));
    QCOMPARE(outcomeOf(client, setValue(byToken)), QStringLiteral("refused"));

    // Failed logins on the channel count as the desktop's do: the account locks, and the right
    // password is then refused too, by login and by command alike.
    QCOMPARE(ask(client, R"({"id": 22, "op": "login", "user": "qa"})").value("error").toString(),
             QStringLiteral("badRequest"));
    for (int i = 1; i < 5; ++i)
        QCOMPARE(ask(client, R"({"id": 23, "op": "login", "user": "qa", "password": "nope"})")
                     .value("outcome")
                     .toString(),
                 QStringLiteral("refused"));
    QVERIFY(ask(client, R"({"id": 24, "op": "login", "user": "qa", "password": "correct horse 1"})")
                .value("outcome")
                .toString() != u"done");
    QCOMPARE(outcomeOf(client, setValue(byPassword)), QStringLiteral("refused"));

    // A flood of logins: what the checking thread cannot take is answered "busy" at once, every
    // request gets its answer, and the service goes on.
    constexpr int kFlood = 3 * 16;
    QByteArray flood;
    for (int i = 0; i < kFlood; ++i)
        flood += "{\"id\": " + QByteArray::number(100 + i) +
                 ", \"op\": \"login\", \"user\": \"ghost\", \"password\": \"x\"}\n";
    client.write(flood);
    client.flush();
    QSet<int> answered;
    int busy = 0;
    for (int i = 0; i < kFlood; ++i) {
        const QJsonObject a = readAnswer(client);
        answered << a.value("id").toInt();
        busy += a.value("error").toString() == u"busy" ? 1 : 0;
    }
    QCOMPARE(answered.size(), kFlood);
    QVERIFY(busy > 0);
    QCOMPARE(ask(client, R"({"id": 1, "op": "state"})").value("chambers").toArray().size(), 1);
    QVERIFY(ServiceRig::stop(service));
}

QTEST_GUILESS_MAIN(ServiceChannel)
#include "test_service_channel.moc"
