// The service as the service manager runs it: the real executable on the simulated instrument,
// with a datagram socket standing in for the manager's notification socket.
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include "servicerig.h"
#include "store/databaselock.h"

using servicetest::ServiceRig;

class ServiceNotify : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void badOptionsExitWithStatusTwo_data();
    void badOptionsExitWithStatusTwo();
    void readyOncePingedAndStoppingAtTheEnd();
    void aKilledServiceLeavesTheCauseOfItsGap();

  private:
    static QString bin() { return ServiceRig::bin(QStringLiteral("velmars-service")); }
};

void ServiceNotify::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("VELMARS_BIN_DIR"),
             "VELMARS_BIN_DIR is set by the test registration");
}

void ServiceNotify::badOptionsExitWithStatusTwo_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown") << QStringList{"--frobnicate"};
    QTest::newRow("a window's option") << QStringList{"--connect"};
    QTest::newRow("an export") << QStringList{"--export-events", "-"};
    QTest::newRow("data without a folder") << QStringList{"--data"};
}

void ServiceNotify::badOptionsExitWithStatusTwo() {
    QFETCH(QStringList, args);
    QProcess p;
    p.start(bin(), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(err.startsWith("velmars-service: "));
}

void ServiceNotify::readyOncePingedAndStoppingAtTheEnd() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    const QString data = rig.data();
    servicetest::ManagerSocket& manager = rig.manager();
    rig.setEnv(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));

    // First start: the chambers from the command line; the second start finds them kept.
    const QStringList firstArgs{"--simulate", "--chamber",   "a=1,1", "--chamber",
                                "b=1,2",      "--keep-days", "400"};
    for (const QStringList& args : {firstArgs, QStringList{"--simulate"}}) {
        QProcess service;
        // READY comes with the status once both chambers stored a sample.
        QList<QByteArray> seen;
        QVERIFY(rig.start(service, args, &seen));
        QVERIFY2(seen.last().split('\n').contains("STATUS=2 chambers recording"),
                 seen.last().constData());
        QCOMPARE(std::count_if(seen.begin(), seen.end(),
                               [](const QByteArray& m) { return m.contains("READY=1"); }),
                 1);
        // The pings go on while everything is alive.
        for (int i = 0; i < 3; ++i)
            QVERIFY(manager.waitFor("WATCHDOG=1"));

        // A second service on the same folder is refused with one line.
        QProcess second;
        second.start(bin(), {"--simulate", "--data", data});
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitCode(), 2);
        const QByteArray err = second.readAllStandardError();
        QVERIFY2(err.startsWith("velmars-service: ") && err.count('\n') == 1, err.constData());

        ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
        QVERIFY(manager.waitFor("STOPPING=1"));
        QVERIFY(service.waitForFinished(60000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);

        // Both databases let go, with the samples recorded.
        for (const char* name : {"Rdatabj-a.db", "Rdatabj-b.db"}) {
            const QString db = QDir(data).filePath(QLatin1String(name));
            store::DatabaseLock lock(db);
            QCOMPARE(lock.tryLock(), store::DatabaseLock::Outcome::Held);
            auto conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("c"));
            conn.setDatabaseName(db);
            QVERIFY(conn.open());
            QSqlQuery q(conn);
            QVERIFY(q.exec(QStringLiteral("select count(*) from pv_data")) && q.next());
            QVERIFY2(q.value(0).toInt() > 0, name);
            q = QSqlQuery();
            conn.close();
            conn = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("c"));
        }
    }
}

void ServiceNotify::aKilledServiceLeavesTheCauseOfItsGap() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    const QString data = rig.data();
    // Killed, then started again and stopped as the service manager stops it.
    for (const int signal : {SIGKILL, SIGTERM}) {
        QProcess service;
        QVERIFY(rig.start(service, {"--simulate"}));
        QVERIFY(ServiceRig::stop(service, signal));
    }
    auto conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e"));
    conn.setDatabaseName(QDir(data).filePath(QStringLiteral("Rdatabj.db")));
    QVERIFY(conn.open());
    QStringList codes;
    {
        QSqlQuery q(conn);
        QVERIFY(q.exec(
            QStringLiteral("select code from events where code like 'service.%' order by id")));
        while (q.next())
            codes << q.value(0).toString();
    }
    conn.close();
    conn = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("e"));
    QCOMPARE(codes, (QStringList{"service.started", "service.unclean", "service.started",
                                 "service.stopped"}));
}

QTEST_GUILESS_MAIN(ServiceNotify)
#include "test_service_notify.moc"
