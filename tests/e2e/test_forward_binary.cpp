// Forwarding end to end: the program on the simulated instrument, a real PostgreSQL server from
// scripts/dev-postgres (which runs this test), the server stopped and started while the program
// records, and the program restarted in between. Afterwards the server holds exactly the local
// records and events, under the station's name, at the right instants; and an outage longer than
// the ring costs nothing while the archive holds the samples.
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include "base/oledate.h"
#include "forward/forwarder.h"
#include "forward/serversql.h"
#include "store/chainheads.h"
#include "store/store.h"

namespace {

const QString kStation = QStringLiteral("车间-3号 'A'");
const QByteArray kZone = "Asia/Shanghai";  // UTC+8 all year: a wrong offset shows as 8 hours

// A column as text, NULL told apart from zero whatever the driver.
QString cell(const QVariant& v) {
    return v.isNull() ? QStringLiteral("NULL") : v.toString();
}

struct Row {
    qint64 atMs = 0;
    QList<float> values;
    bool operator==(const Row&) const = default;
};

}  // namespace

class ForwardBinary : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void wrongPasswordIsAnErrorAndNoServerIsWaitedFor();
    void outageAndRestartLoseNothing();
    void serviceForwardsItsChainHeads();
    void archiveBeyondTheRingReachesTheServer();  // last: the tests above count every row

  private:
    bool runProgram(const QStringList& args, int outageAfterMs = -1, int outageMs = 0);
    void devPostgres(const char* what);
    QList<Row> localSamples();
    QList<Row> serverSamples(const QString& station);
    void addLocalEvents(int first, int count);
    QStringList localEvents();
    QStringList serverEvents();
    // A fresh connection: the server may have been restarted since the last one.
    QSqlDatabase server();

    QString binDir_, url_, devPostgres_;
    QTemporaryDir dir_;
    QString db_;
};

void ForwardBinary::initTestCase() {
    binDir_ = qEnvironmentVariable("VELMARS_BIN_DIR");
    url_ = qEnvironmentVariable("VELMARS_PG_URL");
    devPostgres_ = qEnvironmentVariable("VELMARS_DEV_POSTGRES");
    QVERIFY2(!binDir_.isEmpty(), "VELMARS_BIN_DIR is set by the test registration");
    QVERIFY2(!url_.isEmpty() && !devPostgres_.isEmpty(),
             "run through scripts/dev-postgres, which starts the PostgreSQL server");
    QVERIFY(dir_.isValid());
    db_ = dir_.filePath("Rdatabj.db");
    // The server from the PG* variables dev-postgres sets.
    QSqlDatabase pg = QSqlDatabase::addDatabase("QPSQL", "server");
    QVERIFY2(pg.open(), qPrintable(pg.lastError().text()));
}

void ForwardBinary::devPostgres(const char* what) {
    QCOMPARE(QProcess::execute(devPostgres_, {QLatin1String(what)}), 0);
}

bool ForwardBinary::runProgram(const QStringList& args, int outageAfterMs, int outageMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));  // the settings file of this test
    env.insert("TZ", kZone);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(binDir_ + "/velmars", QStringList{"--simulate", "--connect", "--db", db_} + args);
    if (!p.waitForStarted(10000)) return false;
    if (outageAfterMs >= 0) {
        QTest::qWait(outageAfterMs);
        devPostgres("stop");
        QTest::qWait(outageMs);
        devPostgres("start");
    }
    const bool finished = p.waitForFinished(90000);
    if (finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return true;
    qWarning() << "velmars" << args << (finished ? "ended" : "did not end") << p.exitStatus()
               << "code" << p.exitCode() << p.errorString();
    if (!finished) p.kill();
    return false;
}

QSqlDatabase ForwardBinary::server() {
    QSqlDatabase db = QSqlDatabase::database("server", false);
    db.close();
    if (!db.open()) qWarning() << db.lastError().text();
    return db;
}

QList<Row> ForwardBinary::localSamples() {
    QList<Row> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "local");
        db.setDatabaseName(db_);
        if (!db.open()) return rows;
        QSqlQuery q(db);
        q.exec("SELECT * FROM pv_data ORDER BY w_date, w_time");
        while (q.next()) {
            Row r;
            const QDateTime t(base::dateFromOle(q.value(1).toDouble()),
                              base::timeFromOle(q.value(2).toDouble()), QTimeZone(kZone));
            r.atMs = t.toMSecsSinceEpoch();
            for (int k = 3; k < 13; ++k)
                r.values << static_cast<float>(q.value(k).toDouble());
            rows << r;
        }
    }
    QSqlDatabase::removeDatabase("local");
    return rows;
}

QList<Row> ForwardBinary::serverSamples(const QString& station) {
    QList<Row> rows;
    QSqlQuery q(server());
    q.prepare(
        "SELECT (extract(epoch FROM at) * 1000)::bigint, pv1, pv2, sv1, sv2, out1_pct, out2_pct, "
        "alarm1_type, alarm2_type, control1, control2 FROM velmars_samples WHERE station = ? "
        "ORDER BY at");
    q.addBindValue(station);
    if (!q.exec()) qWarning() << q.lastError().text();
    while (q.next()) {
        Row r;
        r.atMs = q.value(0).toLongLong();
        for (int k = 1; k < 11; ++k)
            r.values << static_cast<float>(q.value(k).toDouble());
        rows << r;
    }
    return rows;
}

// Events as the event log keeps them; forwarded once the table exists.
void ForwardBinary::addLocalEvents(int first, int count) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "events");
        db.setDatabaseName(db_);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(
            q.exec("CREATE TABLE IF NOT EXISTS events (id INTEGER PRIMARY KEY, at TEXT, kind "
                   "TEXT, text TEXT, reg INTEGER, value INTEGER, status INTEGER)"));
        for (int i = first; i < first + count; ++i) {
            q.prepare(
                "INSERT INTO events (at, kind, text, reg, value, status) VALUES (?, 'test', "
                "?, ?, ?, ?)");
            q.addBindValue(QStringLiteral("2026-03-01 08:00:%1.250").arg(i, 2, 10, QChar('0')));
            q.addBindValue(QStringLiteral("写入 \"设定SV1\" {%1}, \\").arg(i));
            q.addBindValue(i % 2 ? QVariant(4097) : QVariant());
            q.addBindValue(i * 10);
            q.addBindValue(i % 3 ? 0 : -8888);
            QVERIFY(q.exec());
        }
    }
    QSqlDatabase::removeDatabase("events");
}

QStringList ForwardBinary::localEvents() {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "events");
        db.setDatabaseName(db_);
        if (!db.open()) return out;
        QSqlQuery q("SELECT at, text, reg, value, status FROM events WHERE kind = 'test'", db);
        while (q.next()) {
            const QDateTime t =
                QDateTime::fromString(q.value(0).toString(), "yyyy-MM-dd HH:mm:ss.zzz");
            out << QStringLiteral("%1|%2|%3|%4|%5")
                       .arg(QDateTime(t.date(), t.time(), QTimeZone(kZone)).toMSecsSinceEpoch())
                       .arg(cell(q.value(1)), cell(q.value(2)), cell(q.value(3)), cell(q.value(4)));
        }
    }
    QSqlDatabase::removeDatabase("events");
    return out;
}

QStringList ForwardBinary::serverEvents() {
    QStringList out;
    QSqlQuery q(server());
    q.prepare(
        "SELECT (extract(epoch FROM at) * 1000)::bigint, text, reg, value, status FROM "
        "velmars_events WHERE station = ? AND kind = 'test' ORDER BY at");
    q.addBindValue(kStation);
    if (!q.exec()) qWarning() << q.lastError().text();
    while (q.next())
        out << QStringLiteral("%1|%2|%3|%4|%5")
                   .arg(q.value(0).toLongLong())
                   .arg(cell(q.value(1)), cell(q.value(2)), cell(q.value(3)), cell(q.value(4)));
    return out;
}

// The reasons libpq gives, read as the status bar shows them, with the samples still to go.
void ForwardBinary::wrongPasswordIsAnErrorAndNoServerIsWaitedFor() {
    const QString path = dir_.filePath("failures.db");
    {
        store::SampleStore store(path, "failures");
        QVERIFY(store.open());
        for (int i = 1; i <= 3; ++i)
            QVERIFY(store.storeSample({i, 46082, i / 86400.0, {}}));
    }
    QString why;
    const auto target = forward::parseTarget(url_, &why);
    QVERIFY2(target, qPrintable(why));
    using forward::State;
    auto attempt = [&](forward::Target t) {
        forward::ForwardWorker w({t, "failures", path, QTimeZone::systemTimeZone()});
        QElapsedTimer clock;
        clock.start();
        w.round();
        w.finish();
        [&] { QVERIFY(clock.elapsed() < 8000); }();
        return w.status();
    };
    auto wrongPassword = *target;
    wrongPassword.password = "not-the-password";
    QCOMPARE(attempt(wrongPassword), (forward::Status{State::Failed, 3, "用户名或密码错误"}));
    auto noDatabase = *target;
    noDatabase.dbname = "no_such_db";
    QCOMPARE(attempt(noDatabase).reason, QStringLiteral("数据库不存在"));
    auto refused = *target;
    refused.port = 1;
    QCOMPARE(attempt(refused), (forward::Status{State::Waiting, 3, {}}));
}

void ForwardBinary::outageAndRestartLoseNothing() {
    addLocalEvents(1, 3);
    // The server's events table as an older version made it, with a row of its own.
    QSqlQuery older(server());
    QVERIFY(older.exec(
        "CREATE TABLE velmars_events (station text, at timestamptz, kind text, text text, "
        "reg integer, value integer, status integer, primary key (station, at, kind, text))"));
    QVERIFY(
        older.exec("INSERT INTO velmars_events VALUES ('older', now(), 'link', '端口已打开', "
                   "NULL, NULL, NULL)"));

    // First run: the server named on the command line, kept in the settings file.
    QVERIFY(runProgram({"--forward", url_, "--station", kStation, "--quit-after", "5"}));
    QList<Row> local = localSamples();
    QVERIFY2(local.size() >= 3, qPrintable(QString::number(local.size())));
    QCOMPARE(serverSamples(kStation), local);
    {
        // The cursor is on disk: the newest sample the server confirmed is the archive's newest.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "cursor");
        db.setDatabaseName(db_);
        QVERIFY(db.open());
        QSqlQuery q("SELECT (SELECT archive_t FROM forward_cursor), (SELECT max(t) FROM archive)",
                    db);
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toLongLong(), q.value(1).toLongLong());
    }
    QSqlDatabase::removeDatabase("cursor");

    // Second run from the settings file alone, with the clock ten times faster: the server goes
    // away for a spell while samples keep coming.
    addLocalEvents(4, 3);
    QVERIFY(runProgram({"--clock-speed", "10", "--quit-after", "22"}, 3000, 5000));

    local = localSamples();
    QVERIFY2(local.size() >= 100, qPrintable(QString::number(local.size())));
    const QList<Row> remote = serverSamples(kStation);
    QCOMPARE(remote.size(), local.size());
    QCOMPARE(remote, local);
    QSqlQuery all("SELECT count(*), count(DISTINCT station) FROM velmars_samples", server());
    QVERIFY(all.next());
    QCOMPARE(all.value(0).toInt(), local.size());
    QCOMPARE(all.value(1).toInt(), 1);

    const QStringList events = localEvents();
    QCOMPARE(events.size(), 6);
    QCOMPARE(serverEvents(), events);
    // The older table gained the code columns, kept its row, and takes the program's own events
    // with their codes and values; rows written without a code have none on the server either.
    QSqlQuery codes(
        "SELECT (SELECT count(*) FROM velmars_events WHERE station = 'older' AND code IS NULL), "
        "(SELECT count(*) FROM velmars_events WHERE code = 'recorder.recording' AND "
        "args = '[]'::jsonb), "
        "(SELECT count(*) FROM velmars_events WHERE code = 'link.opened' AND "
        "jsonb_array_length(args) = 1), "
        "(SELECT count(*) FROM velmars_events WHERE kind = 'test' AND code IS NOT NULL)",
        server());
    QVERIFY2(codes.next(), qPrintable(codes.lastError().text()));
    QCOMPARE(codes.value(0).toInt(), 1);
    QVERIFY(codes.value(1).toInt() >= 1);
    QVERIFY(codes.value(2).toInt() >= 1);
    QCOMPARE(codes.value(3).toInt(), 0);
}

// The service's record of its chains' heads goes to the server too: a copy away from the PC that
// the file must still hold, and that a file put back older cannot take back.
void ForwardBinary::serviceForwardsItsChainHeads() {
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QString station = QStringLiteral("heads");
    const QString path = data.filePath("heads.db");
    QProcess service;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", kZone);
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedChannels);
    service.start(binDir_ + "/velmars-service", {"--data", data.path(), "--simulate", "--db", path,
                                                 "--forward", url_, "--station", station});
    QVERIFY(service.waitForStarted(10000));
    auto serverHeads = [&] {
        std::map<QString, std::pair<qint64, QString>> heads;
        QSqlQuery q(QSqlDatabase::database("server"));
        q.prepare("SELECT chain, last, hash FROM velmars_chain_heads WHERE station = ?");
        q.addBindValue(station);
        if (q.exec())
            while (q.next())
                heads[q.value(0).toString()] = {q.value(1).toLongLong(), q.value(2).toString()};
        return heads;
    };
    const bool forwarded = QTest::qWaitFor(
        [&] {
            const auto h = serverHeads();
            return h.count("events") && h.count("hours");
        },
        60000);
    service.terminate();
    QVERIFY(service.waitForFinished(60000));
    QVERIFY(forwarded);
    const auto sent = serverHeads();

    // What the server holds is a head the file still has, no newer than the service's record.
    const auto record = store::chain::HeadStore::openToRead(data.path());
    QVERIFY(record);
    const auto recorded = record->heads(store::chain::recordedName(path));
    QVERIFY(recorded && recorded->count("events") && recorded->count("hours"));
    QVERIFY(sent.at("events").first <= recorded->at("events").last);
    QVERIFY(sent.at("hours").first <= recorded->at("hours").last);
    {
        QSqlDatabase local = QSqlDatabase::addDatabase("QSQLITE", "heads");
        local.setDatabaseName(path);
        QVERIFY(local.open());
        QSqlQuery q(local);
        q.prepare("SELECT hex(hash) FROM events WHERE id = ?");
        q.addBindValue(sent.at("events").first);
        QVERIFY(q.exec() && q.next());
        QCOMPARE(q.value(0).toString().toLower(), sent.at("events").second);
    }
    QSqlDatabase::removeDatabase("heads");

    // An older head (a file put back) leaves the server's copy as it is; a newer one moves it.
    QSqlQuery up(server());
    const auto put = [&](qint64 last, const QString& hash) {
        up.prepare(forward::upsertChainHeadSql());
        for (const QVariant& v :
             {QVariant(station), QVariant("events"), QVariant(last), QVariant(qint64(0)),
              QVariant(hash), QVariant(QMetaType(QMetaType::LongLong))})
            up.addBindValue(v);
        return up.exec();
    };
    const qint64 last = sent.at("events").first;
    QVERIFY2(put(last - 1, "older"), qPrintable(up.lastError().text()));
    QCOMPARE(serverHeads().at("events"), sent.at("events"));
    QVERIFY(put(last + 1, "newer"));
    QCOMPARE(serverHeads().at("events"), std::make_pair(last + 1, QStringLiteral("newer")));
}

// A server away for longer than the ring holds: the archive still has every second, and the
// server gets every one of them once it answers, the ring's overwritten ones included.
void ForwardBinary::archiveBeyondTheRingReachesTheServer() {
    const QString path = dir_.filePath("longoutage.db");
    const QString station = QStringLiteral("long-outage");
    constexpr int kSamples = store::kRingSize + 2000;
    const qint64 start =
        QDateTime(QDate(2026, 3, 1), QTime(0, 0), QTimeZone(kZone)).toSecsSinceEpoch();
    {
        store::SampleStore store(path, "longoutage", store::SampleStore::Commit::Fast);
        QVERIFY(store.open(store::SampleStore::Access::Record));
        for (int i = 0; i < kSamples; ++i) {
            store::Sample s;
            const QDateTime at = QDateTime::fromSecsSinceEpoch(start + i, QTimeZone(kZone));
            s.date = base::oleDate(at.date());
            s.time = base::oleTime(at.time());
            s.at = start + i;
            s.values[0] = i % 1000 / 10.0f;
            QVERIFY(store.storeNextSample(s, 0));
        }
    }
    QString why;
    const auto target = forward::parseTarget(url_, &why);
    QVERIFY2(target, qPrintable(why));
    forward::ForwardWorker w({*target, station, path, QTimeZone(kZone)});
    QVERIFY(w.drain(60000));
    w.finish();
    QSqlQuery q(server());
    q.prepare(
        "SELECT count(*), min(extract(epoch FROM at))::bigint, max(extract(epoch FROM "
        "at))::bigint, sum(pv1)::float8 FROM velmars_samples WHERE station = ?");
    q.addBindValue(station);
    QVERIFY(q.exec() && q.next());
    QCOMPARE(q.value(0).toInt(), kSamples);
    QCOMPARE(q.value(1).toLongLong(), start);
    QCOMPARE(q.value(2).toLongLong(), start + kSamples - 1);
    double sum = 0;
    for (int i = 0; i < kSamples; ++i)
        sum += i % 1000 / 10.0f;
    QCOMPARE(q.value(3).toDouble(), sum);
}

QTEST_GUILESS_MAIN(ForwardBinary)
#include "test_forward_binary.moc"
