// The test report, made by the program's command line from a database whose hour of samples,
// gaps and events are known, and read back with pdftotext: the header, every figure worked out
// by hand, the gaps with their causes, the events, the page footers with the SHA-256 of the CSV
// export beside it (byte for byte the --export-csv of the same span), and the refusals; a file
// of the other program reported from its ring; one snapshot for figures, chart and CSV.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "base/oledate.h"
#include "events/eventstore.h"
#include "pdftext.h"
#include "report/report.h"
#include "report/reportpdf.h"
#include "runs/runs.h"
#include "store/store.h"

namespace {

const QDateTime kStart(QDate(2026, 11, 2), QTime(10, 0, 0));
constexpr int kSeconds = 3600;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Ran {
    int status = -1;
    QByteArray out, err;
};

// The program with a settings file of its own in `config`, so that --lang stays with the test.
Ran velmars(const QStringList& args, const QString& config) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("APPDATA", config);  // Windows
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

using testsupport::pdfText;

// An hour from 10:00:00: PV1 30 and PV2 50 around SV1 30 and SV2 50, with PV1 at 33 for the 100
// seconds from 10:10:00 (outside its ±2) and PV2 at 56 for 10 seconds from 10:50:00 (outside its
// ±5). No samples 10:20:00..10:24:59 (the disk was full), 10:40:00..10:40:29 (the instrument was

// The expected text with each "@" the offset from UTC of this PC's zone on 2 November 2026, as the
// report writes it after every time.
QString withOffset(const char* expected) {
    const int offset = QDateTime(QDate(2026, 11, 2), QTime(10, 0)).offsetFromUtc();
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(offset < 0 ? "-" : "+")
                             .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) / 60 % 60, 2, 10, QLatin1Char('0'));
    return QString::fromUtf8(expected).replace(u'@', zone);
}

// silent) and 10:30:00..10:30:04 (too short to list).
QString makeDatabase(QTemporaryDir& dir) {
    const QString db = dir.filePath("chamber.db");
    store::SampleStore store(db, "make");
    EXPECT_TRUE(store.open(store::SampleStore::Access::Record));
    std::vector<store::Sample> samples;
    for (int n = 0; n < kSeconds; ++n) {
        if ((n >= 1200 && n < 1500) || (n >= 2400 && n < 2430) || (n >= 1800 && n < 1805)) continue;
        const QDateTime t = kStart.addSecs(n);
        store::Sample s{
            0, base::oleDate(t.date()), base::oleTime(t.time()), {}, t.toSecsSinceEpoch()};
        s.values = {n >= 600 && n < 700 ? 33.0f : 30.0f,
                    n >= 3000 && n < 3010 ? 56.0f : 50.0f,
                    30,
                    50,
                    float(n % 10),
                    40,
                    1,
                    2,
                    0,
                    1};
        samples.push_back(s);
    }
    EXPECT_TRUE(store.archiveBatch(samples));

    events::EventStore log(db, "make-events");
    EXPECT_TRUE(log.open());
    const auto at = [](int n) { return kStart.addSecs(n); };
    std::vector<events::EventEntry> events = {
        {0, at(5), "write", "SV1 → 30.0", 1, 300, 0},
        {0, at(605), "alarm", "ALM1 OFF → ALM1报警", {}, 1, {}},
        {0, at(690), "alarm", "ALM1报警 → ALM1 OFF", {}, 0, {}},
        {0, at(1201), "recorder", "记录已停止：磁盘已满，每秒重试", {}, {}, {}},
        {0, at(1500), "recorder", "开始记录", {}, {}, {}},
        {0, at(2399), "link", "仪表停止应答", {}, {}, {}},
        {0, at(2430), "link", "仪表恢复应答", {}, {}, {}},
        {0, at(2431), "alert", "报警通知不应出现在报告中", {}, {}, {}},
    };
    EXPECT_TRUE(log.append(events));

    runs::RunStore runs(db, "make-runs");
    EXPECT_TRUE(runs.open());
    runs::Run run;
    run.name = "湿热 40 °C / 93 %RH";
    run.orderId = "2026-117";
    run.operatorName = "王工";
    run.notes = "样品 3 件";
    run.station = "3 号箱";
    run.port = "1: /dev/ttyUSB0";
    run.address = 7;
    run.start = kStart.toSecsSinceEpoch();
    run.band1 = {false, 2.0};
    run.band2 = {false, 5.0};
    EXPECT_TRUE(runs.start(run));
    EXPECT_TRUE(runs.stop(kStart.addSecs(kSeconds - 1).toSecsSinceEpoch()));
    return db;
}

}  // namespace

TEST(Report, RunReportReadBack) {
    QTemporaryDir dir;
    const QString db = makeDatabase(dir);
    const QString pdf = dir.filePath("report.pdf"), csv = dir.filePath("report.csv");
    const Ran made =
        velmars({"--db", db, "--report", pdf, "--run", "湿热 40 °C / 93 %RH", "--report-csv", csv},
                dir.path());
    ASSERT_EQ(made.status, 0) << made.err.toStdString();

    // The CSV beside the report is the export of the run's span, and every page names its hash.
    const Ran exported = velmars({"--db", db, "--export-csv", "-", "--from", "2026-11-02 10:00:00",
                                  "--to", "2026-11-02 10:59:59"},
                                 dir.path());
    ASSERT_EQ(exported.status, 0);
    EXPECT_EQ(bytesOf(csv), exported.out);
    const QString sha = QCryptographicHash::hash(bytesOf(csv), QCryptographicHash::Sha256).toHex();

    // VELMARS_KEEP_REPORT=FILE keeps the report for a person to look at.
    if (qEnvironmentVariableIsSet("VELMARS_KEEP_REPORT"))
        QFile::copy(pdf, qEnvironmentVariable("VELMARS_KEEP_REPORT"));
    const QString text = pdfText(pdf);
    const int pages = int(text.count(QRegularExpression("第 \\d+ 页，共 \\d+ 页")));
    EXPECT_GE(pages, 2) << text.toStdString();
    EXPECT_EQ(text.count("SHA-256: " + sha), pages);
    EXPECT_TRUE(text.contains(QString("共 %1 页").arg(pages)));
    EXPECT_EQ(text.count("report.csv（3265 条记录）"), pages);

    const char* expected[] = {
        // Header.
        "试验报告", "湿热 40 °C / 93 %RH", "2026-117", "3 号箱", "王工", "1: /dev/ttyUSB0",
        "仪表地址 7", "2026-11-02 10:00:00 @", "2026-11-02 10:59:59 @", "持续时间 0:59:59",
        "SV1 ± 2.00", "SV2 ± 5.00", "样品 3 件",
        // PV1: 3165 samples at 30 and 100 at 33 of 3265; PV2: 3255 at 50 and 10 at 56.
        "PV1 30.00 33.00 30.09",
        "96.9 % 0:52:45 2026-11-02 10:10:00 @ 至 2026-11-02 10:11:39 @（0:01:40）",
        "PV2 50.00 56.00 50.02",
        "99.7 % 0:54:15 2026-11-02 10:50:00 @ 至 2026-11-02 10:50:09 @（0:00:10）",
        // The outputs stored in tenths of a percent show as percentages, and say so.
        "SV1 30.00 30.00 30.00 0.000", "OUT2 (%) 4.00 4.00 4.00 0.000",
        // Completeness: 3600 seconds expected, 335 missing.
        "3600 3265 90.69 % 3265", "超过 10 秒的数据缺口：2 处",
        "2026-11-02 10:20:00 @ 2026-11-02 10:24:59 @ 0:05:00 记录已停止：磁盘已满，每秒重试",
        "2026-11-02 10:40:00 @ 2026-11-02 10:40:29 @ 0:00:30 仪表停止应答",
        // Events, the alerts left out.
        "2026-11-02 10:00:05 @ 写入 SV1 → 30.0", "ALM1 OFF → ALM1报警", "仪表恢复应答",
        // Signatures.
        "签字 执行人 姓名 签名 日期 含义 审核人 姓名 签名 日期 含义"};
    for (const char* e : expected)
        EXPECT_TRUE(text.contains(withOffset(e))) << e << "\n" << text.toStdString();
    // Time labels read apart: a label given twice on one chart would name two moments alike.
    const QStringList labels = report::chartTimeLabels(1793613600, 1793613600 + 120);
    EXPECT_EQ(QSet<QString>(labels.begin(), labels.end()).size(), 5)
        << labels.join(u' ').toStdString();
    EXPECT_EQ(report::chartTimeLabels(1793613600, 1793613600 + 3600).first().size(),
              QString("11-02 10:00").size());
    EXPECT_FALSE(text.contains("报警通知不应出现在报告中"));
    EXPECT_FALSE(text.contains("10:30:00 2026-11-02 10:30:04"));

    // In English: the same report with no Chinese left but the run's own texts.
    const QString en = dir.filePath("en.pdf");
    ASSERT_EQ(velmars({"--lang", "en", "--db", db, "--report", en, "--run", "湿热 40 °C / 93 %RH"},
                      dir.path())
                  .status,
              0);
    QString english = pdfText(en);
    for (const char* e : {"Test report", "Page 1 of", "Seconds expected", "Longest excursion",
                          "Recording stopped", "Instrument stopped answering", "Reviewed by"})
        EXPECT_TRUE(english.contains(e)) << e << "\n" << english.toStdString();
    // Blanks aside: a title's large type may come back with blanks between its glyphs.
    english.remove(u' ');
    for (const char* data : {"湿热 40 °C / 93 %RH", "3 号箱", "王工", "样品 3 件"})
        english.remove(QString::fromUtf8(data).remove(u' '));
    EXPECT_FALSE(english.contains(QRegularExpression("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]")))
        << english.toStdString();
}

TEST(Report, SpanReportAndRefusals) {
    QTemporaryDir dir;
    const QString db = makeDatabase(dir);
    // A span without a run: its own title, no band, the gap at the start shown.
    const QString span = dir.filePath("span.pdf");
    const Ran made = velmars({"--db", db, "--report", span, "--title", "十一月二日上午", "--from",
                              "2026-11-02 09:59:00", "--to", "2026-11-02 10:30:00"},
                             dir.path());
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    const QString text = pdfText(span);
    for (const char* e :
         {"十一月二日上午", "2026-11-02 09:59:00 @ 2026-11-02 09:59:59 @ 0:01:00 程序未运行",
          "此报告不属于试验，没有容差带。", "应有秒数 已记录秒数"})
        EXPECT_TRUE(text.contains(withOffset(e))) << e << "\n" << text.toStdString();

    // An empty span says so on its charts; a day from midnight to midnight lasts 24 hours.
    const Ran empty = velmars({"--db", db, "--report", span, "--from", "2026-11-03 00:00:00",
                               "--to", "2026-11-04 00:00:00"},
                              dir.path());
    ASSERT_EQ(empty.status, 0) << empty.err.toStdString();
    const QString none = pdfText(span);
    EXPECT_EQ(none.count("该时段没有数据"), 2) << none.toStdString();
    EXPECT_TRUE(none.contains("持续时间 24:00:00")) << none.toStdString();

    // A title of any length is cut short rather than run past the foot of its page.
    ASSERT_EQ(velmars({"--db", db, "--report", span, "--title", QString(20000, u'长')}, dir.path())
                  .status,
              0);
    const QString first = pdfText(span, true);
    EXPECT_TRUE(first.contains("长…") && first.contains("工作站") && first.contains("第 1 页"))
        << first.toStdString();

    const QString pdf = dir.filePath("refused.pdf");
    struct Case {
        const char* name;
        QStringList args;
        int status;
    } cases[] = {
        {"unknown run", {"--db", db, "--report", pdf, "--run", "没有这个"}, 2},
        {"missing database", {"--db", dir.filePath("none.db"), "--report", pdf}, 2},
        {"unwritable folder", {"--db", db, "--report", dir.filePath("no/such/dir/r.pdf")}, 1},
        {"run without report", {"--db", db, "--run", "x"}, 2},
        {"ends reversed",
         {"--db", db, "--report", pdf, "--from", "2026-11-02 10:30:00", "--to",
          "2026-11-02 10:29:59"},
         2},
        {"run ending before its start",
         {"--db", db, "--report", pdf, "--run", "湿热 40 °C / 93 %RH", "--to",
          "2026-11-01 00:00:00"},
         2},
        {"events reversed",
         {"--db", db, "--export-events", "-", "--from", "2026-11-02 10:30:00", "--to",
          "2026-11-02 10:00:00"},
         2},
    };
    for (const Case& c : cases) {
        const Ran r = velmars(c.args, dir.path());
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err.toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << c.name;
        EXPECT_FALSE(QFile::exists(pdf)) << c.name;
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("none.db")));
    // A missing file is said to be missing, a run's report's as a span's.
    for (const QStringList& extra : {QStringList(), QStringList{"--run", "x"}})
        EXPECT_TRUE(velmars(QStringList{"--db", dir.filePath("none.db"), "--report", pdf} + extra,
                            dir.path())
                        .err.contains("数据库文件不存在："))
            << extra.join(u' ').toStdString();
}

// A file of an older version holding two runs of one name: a report asked for by that name is
// refused rather than made of either.
TEST(Report, AnAmbiguousRunNameIsRefused) {
    QTemporaryDir dir;
    const QString db = makeDatabase(dir);
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "older");
        c.setDatabaseName(db);
        ASSERT_TRUE(c.open());
        QSqlQuery q(c);
        ASSERT_TRUE(
            q.exec("INSERT INTO runs (name, start_t, end_t) SELECT name, start_t + 7200, "
                   "end_t + 7200 FROM runs WHERE id = 1"));
    }
    QSqlDatabase::removeDatabase("older");
    const Ran ambiguous =
        velmars({"--db", db, "--report", dir.filePath("r.pdf"), "--run", "湿热 40 °C / 93 %RH"},
                dir.path());
    EXPECT_EQ(ambiguous.status, 2);
    EXPECT_TRUE(QString::fromUtf8(ambiguous.err).contains("有 2 个名为“湿热 40 °C / 93 %RH”的试验"))
        << ambiguous.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("r.pdf")));

    // A name beyond every ANSI code page of Windows reaches the program whole.
    const QString far = QStringLiteral("湿热 한 ☃ 🌡");
    const Ran unknown =
        velmars({"--db", db, "--report", dir.filePath("r.pdf"), "--run", far}, dir.path());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(
        QString::fromUtf8(unknown.err).contains(QStringLiteral("没有名为“%1”的试验").arg(far)))
        << unknown.err.toStdString();
}

// A file of the other program that this one never opened: the report reads its ring, as the
// export does, and leaves the file as it was.
TEST(Report, RingOfAFileNeverOpenedIsReported) {
    QTemporaryDir dir;
    const QString db = dir.filePath("original.db");
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "original");
        c.setDatabaseName(db);
        ASSERT_TRUE(c.open());
        QSqlQuery q(c);
        ASSERT_TRUE(q.exec(store::schema::createSamplesTableSql()));
        ASSERT_TRUE(q.exec(store::schema::kCreateCounterTableSql));
        ASSERT_TRUE(q.exec("INSERT INTO sl_void VALUES (60, 60, 0)"));
        for (int n = 0; n < 60; ++n) {
            const QDateTime t = kStart.addSecs(n);
            ASSERT_TRUE(q.exec(QString("INSERT INTO pv_data VALUES (%1, %2, %3, 30, 50, 30, 50, "
                                       "400, 400, 0, 0, 1, 1)")
                                   .arg(n + 1)
                                   .arg(base::oleDate(t.date()))
                                   .arg(base::oleTime(t.time()), 0, 'g', 17)));
        }
    }
    QSqlDatabase::removeDatabase("original");
    const QByteArray before = bytesOf(db);
    const QString pdf = dir.filePath("ring.pdf"), csv = dir.filePath("ring.csv");
    const Ran made = velmars({"--db", db, "--report", pdf, "--report-csv", csv}, dir.path());
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    const Ran exported = velmars({"--db", db, "--export-csv", "-"}, dir.path());
    ASSERT_EQ(exported.status, 0);
    EXPECT_EQ(bytesOf(csv), exported.out);
    EXPECT_EQ(exported.out.count('\n'), 61);
    const QString text = pdfText(pdf);
    for (const char* e : {"ring.csv（60 条记录）", "2026-11-02 10:00:00", "2026-11-02 10:00:59",
                          "PV1 30.00 30.00 30.00"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(e))) << e << "\n" << text.toStdString();
    EXPECT_EQ(bytesOf(db), before);
}

// A recorder stores a second while the report is being made (a run still open): the figures,
// the chart and the CSV whose hash the pages print all come from the moment the report began.
TEST(Report, ASecondStoredMidwayIsInNoPartOfTheReport) {
    QTemporaryDir dir;
    const QString db = makeDatabase(dir);
    const int64_t added = kStart.addSecs(1300).toSecsSinceEpoch();  // in the gap of the full disk
    report::ReportRequest request;
    request.dbPath = db;
    request.pdfPath = dir.filePath("midway.pdf");
    request.csvPath = dir.filePath("midway.csv");
    request.from = kStart.toSecsSinceEpoch();
    request.to = request.from + kSeconds - 1;
    bool stored = false;
    // The figures are read when the report reaches 45 %; the CSV and the chart come after.
    const auto outcome = report::makeReport(request, [&](int percent) {
        if (percent >= 45 && !stored) {
            store::SampleStore writer(db, "midway-writer");
            EXPECT_TRUE(writer.open());
            store::Sample s;
            const QDateTime t = QDateTime::fromSecsSinceEpoch(added);
            s.date = base::oleDate(t.date());
            s.time = base::oleTime(t.time());
            s.at = added;
            s.id = 1;
            stored = writer.storeSample(s);
            EXPECT_TRUE(stored) << writer.lastError().toStdString();
        }
        return true;
    });
    ASSERT_TRUE(outcome.written()) << outcome.error.toStdString();
    ASSERT_TRUE(stored);
    const QByteArray csv = bytesOf(request.csvPath);
    // The header, the records, and a row for each of the file's three gaps.
    EXPECT_EQ(csv.count('\n'), 1 + 3265 + 3);
    EXPECT_EQ(csv.count("缺失 "), 3);
    EXPECT_FALSE(csv.contains("2026-11-02 10:21:40"));
    EXPECT_TRUE(pdfText(request.pdfPath).contains("midway.csv（3265 条记录）"));
}

// A GUI application: the report made in this process draws its PDF.
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
