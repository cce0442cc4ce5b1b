// What the service leaves in its chambers' records: the gaps of its stops with their causes, in
// the report and in the CSV copy, the user store's rows in every chamber's audit trail, and its
// own record of the chains' heads that a file cut short or put back is found against.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>

#include "pdftext.h"
#include "servedchannel.h"
#include "sqlrows.h"

using servicetest::Served;
using servicetest::ServiceRig;

namespace {

// velmars on the service's folder with args; its exit code, -1 when it did not end.
int runProgram(const QString& data, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(ServiceRig::bin(QStringLiteral("velmars")), QStringList{"--data", data} + args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) return -1;
    return p.exitCode();
}

// The causes the CSV copy gives its gaps longer than ten seconds, in time order.
QStringList csvGapCauses(const QString& file, const QString& missing) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {"no file"};
    // "缺失 12 秒：服务已停止" / "12 s missing: Service stopped" in the state cell (the 12th).
    const QRegularExpression gap(missing);
    QStringList causes;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QStringList cells = QString::fromUtf8(line).trimmed().split(u',');
        if (cells.size() != 13) continue;
        const auto m = gap.match(cells[11]);
        if (!m.hasMatch()) continue;
        // A gap row carries no values.
        for (int c = 1; c <= 10; ++c)
            if (!cells[c].isEmpty()) return {"values in a gap row: " + cells.join(u',')};
        if (m.captured(1).toInt() > 10) causes << m.captured(2);
    }
    return causes;
}

// velmars --data DIR --verify: its exit code and its verdict on standard output.
std::pair<int, QString> verifyIn(const QString& data) {
    QProcess p;
    p.start(ServiceRig::bin(QStringLiteral("velmars")), {"--data", data, "--verify"});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) return {-1, {}};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
}

// The mode bits of a file (0600: its owner's alone).
unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

qint64 count(const QString& db, const QString& table) {
    const QStringList rows = testsupport::sqlRows(db, "SELECT count(*) FROM " + table);
    return rows.isEmpty() ? -1 : rows[0].toLongLong();
}

QString localText(qint64 utc) {
    return QDateTime::fromSecsSinceEpoch(utc).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

class ServiceRecords : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void gapsOfStopsAndKillsHaveTheirCauses();
    void channelLoginsReachEveryChambersLogInTimeOrder();
    void fileCutShortOrPutBackIsFoundAgainstTheHeads();
};

void ServiceRecords::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("VELMARS_BIN_DIR"),
             "VELMARS_BIN_DIR is set by the test registration");
}

void ServiceRecords::gapsOfStopsAndKillsHaveTheirCauses() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    const QString data = rig.data();
    const QString db = QDir(data).filePath(QStringLiteral("Rdatabj.db"));
    // Stopped as the service manager stops it, killed, then stopped again: each start after a
    // pause longer than the report's shortest gap.
    const int ends[] = {SIGTERM, SIGKILL, SIGTERM};
    for (size_t i = 0; i < std::size(ends); ++i) {
        if (i > 0) QTest::qWait(12000);
        QProcess service;
        QVERIFY(rig.start(service, {"--simulate"}));
        QVERIFY(ServiceRig::stop(service, ends[i]));
    }
    // The marker of an unclean end is logged once, after the kill only.
    QCOMPARE(
        testsupport::sqlRows(db, "SELECT code FROM events WHERE code LIKE 'service.%' ORDER BY id"),
        (QStringList{"service.started", "service.stopped", "service.started", "service.unclean",
                     "service.started", "service.stopped"}));
    const QStringList span = testsupport::sqlRows(db, "SELECT min(t), max(t) FROM archive");
    QCOMPARE(span.size(), 1);
    const qint64 from = span[0].section(u'|', 0, 0).toLongLong();
    const qint64 to = span[0].section(u'|', 1, 1).toLongLong();
    QVERIFY(to - from > 2 * 10);

    // The CSV copy, in either language, has a row for each gap with its cause.
    const struct {
        QStringList lang;
        QString missing, stopped, unclean;
    } copies[] = {
        {{},
         QStringLiteral("^缺失 (\\d+) 秒：(.*)$"),
         QStringLiteral("服务已停止"),
         QStringLiteral("上次运行未正常结束")},
        {{"--lang", "en"},
         QStringLiteral("^(\\d+) s missing: (.*)$"),
         QStringLiteral("Service stopped"),
         QStringLiteral("The last run did not end normally")},
    };
    for (const auto& c : copies) {
        const QString csv = rig.path(QStringLiteral("copy%1.csv").arg(c.lang.size()));
        QCOMPARE(runProgram(data, c.lang + QStringList{"--export-csv", csv}), 0);
        QCOMPARE(csvGapCauses(csv, c.missing), (QStringList{c.stopped, c.unclean}));
    }

    // The report names each gap's cause in its table of gaps, and its CSV is the same copy.
    const QString pdf = rig.path(QStringLiteral("span.pdf"));
    const QString reportCsv = rig.path(QStringLiteral("span.csv"));
    QCOMPARE(runProgram(data, {"--report", pdf, "--report-csv", reportCsv, "--from",
                               localText(from), "--to", localText(to)}),
             0);
    QCOMPARE(csvGapCauses(reportCsv, copies[0].missing),
             (QStringList{copies[0].stopped, copies[0].unclean}));
    const QString text = testsupport::pdfText(pdf);
    const qsizetype table = text.indexOf(QStringLiteral("超过 10 秒的数据缺口：2 处"));
    QVERIFY2(table >= 0, qPrintable(text));
    const qsizetype stopped = text.indexOf(copies[0].stopped, table);
    const qsizetype unclean = text.indexOf(copies[0].unclean, table);
    const qsizetype events = text.indexOf(QStringLiteral("程序未运行"), table);
    QVERIFY2(stopped > table && unclean > stopped, qPrintable(text.mid(table, 800)));
    QVERIFY2(events < 0, qPrintable(text.mid(table, 800)));
}

void ServiceRecords::channelLoginsReachEveryChambersLogInTimeOrder() {
    Served s;
    QVERIFY(s.start({"--simulate", "--chamber", "a=1,1", "--chamber", "b=1,2"}, "qa",
                    "correct horse 1"));
    auto& [rig, service, client] = s;
    const QJsonObject answer =
        servicetest::ask(client, R"({"id": 1, "op": "login", "user": "qa", "password": "nope"})");
    QCOMPARE(answer.value("outcome").toString(), QStringLiteral("refused"));

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

void ServiceRecords::fileCutShortOrPutBackIsFoundAgainstTheHeads() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    const QString data = rig.data();
    const QString db = QDir(data).filePath(QStringLiteral("Rdatabj.db"));
    const QString key = QDir(data).filePath(QStringLiteral("chain.key"));
    const QString heads = QDir(data).filePath(QStringLiteral("chain-heads.db"));
    const auto record = [&](qint64 atLeast, int signal) {
        QProcess service;
        QVERIFY(rig.start(service, {"--simulate"}));
        QTRY_VERIFY_WITH_TIMEOUT(count(db, "archive") >= atLeast, 60000);
        QVERIFY(ServiceRig::stop(service, signal));
    };
    record(2, SIGTERM);
    // The key and the heads are the service's account's alone, made so at the first start.
    QCOMPARE(modeOf(key), 0600u);
    QCOMPARE(modeOf(heads), 0600u);
    QFile keyFile(key);
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    const QByteArray keyBytes = keyFile.readAll();
    keyFile.close();
    QCOMPARE(keyBytes.size(), 32);
    const QString older = rig.path("older.db");
    const QString olderHeads = rig.path("older-heads.db");
    QVERIFY(QFile::copy(db, older));
    QVERIFY(QFile::copy(heads, olderHeads));
    // Killed while it writes, twice: the heads may lag the file, never lead it.
    record(count(db, "archive") + 2, SIGKILL);
    record(count(db, "archive") + 2, SIGKILL);
    record(count(db, "archive") + 2, SIGTERM);
    QCOMPARE(verifyIn(data).first, 0);
    QVERIFY(testsupport::sqlRows(db, "SELECT id FROM events WHERE code LIKE 'chain.%'").isEmpty());
    const QString kept = rig.path("kept.db");
    const QString keptHeads = rig.path("kept-heads.db");
    QVERIFY(QFile::copy(db, kept));
    QVERIFY(QFile::copy(heads, keptHeads));
    // Each change also takes the file's own record of its chains away, as it would if made by
    // someone who knows the file.
    const QString unrecord = "; DROP TABLE chain_state; PRAGMA application_id = 0";
    const struct {
        const char* name;
        QString sql;        // run on the file
        QString file;       // put in its place
        QString headsFile;  // put in place of the heads
        bool found;
    } cases[] = {
        {"as the service left it", {}, {}, {}, false},
        {"heads older than the file", {}, {}, olderHeads, false},
        {"newest rows deleted",
         "DELETE FROM events WHERE id > (SELECT max(id) - 2 FROM events)" + unrecord,
         {},
         {},
         true},
        {"events dropped", "DROP TABLE events" + unrecord, {}, {}, true},
        {"older copy put back", {}, older, {}, true},
    };
    for (const auto& c : cases) {
        const QByteArray name = c.name;
        for (const auto& [from, to] : {std::pair{kept, db}, std::pair{keptHeads, heads}}) {
            QFile::remove(to);
            QVERIFY2(QFile::copy(from, to), name);
        }
        if (!c.file.isEmpty()) {
            QFile::remove(db);
            QVERIFY2(QFile::copy(c.file, db), name);
        }
        if (!c.headsFile.isEmpty()) {
            QFile::remove(heads);
            QVERIFY2(QFile::copy(c.headsFile, heads), name);
        }
        if (!c.sql.isEmpty()) QVERIFY2(testsupport::sqlExec(db, c.sql), name);
        const auto [exit, verdict] = verifyIn(data);
        QVERIFY2(exit == (c.found ? 1 : 0), qPrintable(name + ": " + verdict));
        QVERIFY2(verdict.contains("shorter than the service's record") == c.found,
                 qPrintable(name + ": " + verdict));
        if (!c.found) continue;
        // At its start the service logs the change and raises the integrity alert.
        QProcess service;
        QVERIFY2(rig.start(service, {"--simulate"}), name);
        QTRY_VERIFY2_WITH_TIMEOUT(
            !testsupport::sqlRows(db, "SELECT id FROM events WHERE code = 'chain.short'")
                    .isEmpty() &&
                !testsupport::sqlRows(db,
                                      "SELECT id FROM events WHERE code = 'alert.fired' AND "
                                      "args LIKE '[\"chain_broken\"%'")
                     .isEmpty(),
            name, 60000);
        QVERIFY2(ServiceRig::stop(service), name);
        // What it wrote since does not make the file whole again.
        QVERIFY2(verifyIn(data).first == 1, name);
    }

    // A key file that is there but unusable stops the service, and stays as it is.
    QFile::remove(db);
    QVERIFY(QFile::copy(kept, db));
    QVERIFY(keyFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    keyFile.write(keyBytes.left(31));
    keyFile.close();
    QProcess refused;
    refused.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    refused.start(ServiceRig::bin(QStringLiteral("velmars-service")),
                  {"--data", data, "--simulate"});
    QVERIFY(refused.waitForFinished(60000));
    QCOMPARE(refused.exitCode(), 1);
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    QCOMPARE(keyFile.readAll(), keyBytes.left(31));
}

QTEST_GUILESS_MAIN(ServiceRecords)
#include "test_service_records.moc"
