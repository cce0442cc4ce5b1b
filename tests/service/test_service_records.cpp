// What the service leaves in its chambers' records: the user store's rows in every chamber's
// audit trail.
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QTest>

#include "servicerig.h"
#include "sqlrows.h"

using servicetest::ServiceRig;

class ServiceRecords : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void channelLoginsReachEveryChambersLogInTimeOrder();
};

void ServiceRecords::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("VELMARS_BIN_DIR"),
             "VELMARS_BIN_DIR is set by the test registration");
}

void ServiceRecords::channelLoginsReachEveryChambersLogInTimeOrder() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    QVERIFY(rig.createAdmin("qa", "correct horse 1"));
    QProcess service;
    QVERIFY(rig.start(service, {"--simulate", "--chamber", "a=1,1", "--chamber", "b=1,2"}));

    QLocalSocket client;
    client.connectToServer(rig.channel());
    QVERIFY(client.waitForConnected(10000));
    client.write(R"({"id": 1, "op": "login", "user": "qa", "password": "nope"})"
                 "\n");
    QVERIFY(client.waitForBytesWritten(10000));
    for (int i = 0; i < 600 && !client.canReadLine(); ++i)
        client.waitForReadyRead(100);
    const QByteArray answer = client.readLine();
    QVERIFY2(!answer.contains("\"done\""), answer.constData());

    const auto userRows = [](const QString& db) {
        return testsupport::sqlRows(
            db,
            "SELECT code || ' ' || json_extract(args, '$[1]') FROM events WHERE code LIKE 'user.%' "
            "ORDER BY id");
    };
    const QStringList rows = {"user.account.created qa", "user.access.switched 1",
                              "user.login.failed qa"};
    const QStringList dbs = {QDir(rig.data()).filePath("Rdatabj-a.db"),
                             QDir(rig.data()).filePath("Rdatabj-b.db")};
    for (const QString& db : dbs)
        QTRY_COMPARE_WITH_TIMEOUT(userRows(db), rows, 60000);
    QVERIFY(ServiceRig::stop(service));
    for (const QString& db : dbs) {
        QCOMPARE(userRows(db), rows);
        // No row stands after a later one: the ids follow the time.
        QCOMPARE(testsupport::sqlRows(db,
                                      "SELECT count(*) FROM events a JOIN events b ON b.id > a.id "
                                      "AND b.at_ms < a.at_ms"),
                 QStringList({"0"}));
    }
}

QTEST_GUILESS_MAIN(ServiceRecords)
#include "test_service_records.moc"
