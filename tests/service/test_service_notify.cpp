// The service as the service manager runs it: the real executable on the simulated instrument,
// with a datagram socket standing in for the manager's notification socket.
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "store/databaselock.h"

namespace {

// The manager's end: a datagram socket bound to a path, read one message at a time.
class ManagerSocket {
  public:
    explicit ManagerSocket(const QString& path) : path_(path.toLocal8Bit()) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path_.constData(), sizeof a.sun_path - 1);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~ManagerSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }
    // The next message, or an empty one when none came within waitMs (a hung service).
    QByteArray next(int waitMs = 60000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return {};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? QByteArray(buf, static_cast<int>(n)) : QByteArray();
    }
    // Reads until a message holding line comes; every message read is kept in seen.
    bool waitFor(const QByteArray& line, QList<QByteArray>* seen = nullptr) {
        for (int i = 0; i < 10000; ++i) {
            const QByteArray m = next();
            if (m.isEmpty()) return false;
            if (seen) *seen << m;
            if (m.split('\n').contains(line)) return true;
        }
        return false;
    }

  private:
    QByteArray path_;
    int fd_ = -1;
    bool bound_ = false;
};

}  // namespace

class ServiceNotify : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void badOptionsExitWithStatusTwo_data();
    void badOptionsExitWithStatusTwo();
    void readyOncePingedAndStoppingAtTheEnd();

  private:
    QString bin() const { return binDir_ + QStringLiteral("/velmars-service"); }
    QString binDir_;
};

void ServiceNotify::initTestCase() {
    binDir_ = qEnvironmentVariable("VELMARS_BIN_DIR");
    QVERIFY2(!binDir_.isEmpty(), "VELMARS_BIN_DIR is set by the test registration");
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
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    ManagerSocket manager(dir.filePath(QStringLiteral("notify")));
    QVERIFY(manager.bound());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.filePath(QStringLiteral("notify")));
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));

    // First start: the chambers from the command line; the second start finds them kept.
    const QStringList firstArgs{"--simulate", "--data", data,          "--chamber", "a=1,1",
                                "--chamber",  "b=1,2",  "--keep-days", "400"};
    for (const QStringList& args : {firstArgs, QStringList{"--simulate", "--data", data}}) {
        QProcess service;
        service.setProcessEnvironment(env);
        service.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        service.start(bin(), args);
        QVERIFY(service.waitForStarted());

        // READY comes with the status once both chambers stored a sample.
        QList<QByteArray> seen;
        QVERIFY2(manager.waitFor("READY=1", &seen), service.readAllStandardError().constData());
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
            record::DatabaseLock lock(db);
            QCOMPARE(lock.tryLock(), record::DatabaseLock::Outcome::Held);
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

QTEST_GUILESS_MAIN(ServiceNotify)
#include "test_service_notify.moc"
