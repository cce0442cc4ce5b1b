// What the service leaves in its chambers' records: the gaps of its stops with their causes, in
// the report and in the CSV copy, and the user store's rows in every chamber's audit trail.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <signal.h>

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

QTEST_GUILESS_MAIN(ServiceRecords)
#include "test_service_records.moc"
