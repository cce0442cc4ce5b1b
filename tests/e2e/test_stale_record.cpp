// A silent instrument while the program records: the samples go on, one a second, but the seconds
// stored once its values were stale are marked in the archive, marked in the CSV export, and the
// report of the span counts them missing with the silence as their cause.
#include <QBuffer>
#include <QDateTime>
#include <QTest>

#include "comm/link.h"
#include "e2e_support.h"
#include "monitor/livepanel.h"
#include "pdftext.h"
#include "report/report.h"
#include "store/csvexport.h"
#include "store/recorder.h"
#include "store/store.h"

using namespace e2e;

class StaleRecord : public QObject {
    Q_OBJECT
  private slots:
    void silentSpanIsMarkedAndReportedMissing();
};

void StaleRecord::silentSpanIsMarkedAndReportedMissing() {
    SimLine line;
    line.holdProcess(300, 600);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    QTemporaryDir dir;
    shell::Options options = Program::onDevice(line.device());
    options.db = dir.filePath("stale.db");
    Program program(options);
    auto* w = program.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto& link = program.app().chamber().link();
    auto* recorder = program.app().chamber().recorder();
    const auto recordsAfter = [&](int n) {
        const int from = recorder->lastRecordNo();
        return runUntil([&] { return recorder->lastRecordNo() >= from + n; }, 60000);
    };

    click(w, "Command9");
    QVERIFY(runUntil([&] { return labelText(w, "D_3W_0") == "300"; }, 5000));
    QVERIFY(recordsAfter(5));

    // The instrument falls silent for a span of at least 14 samples after its values went stale.
    const int64_t silentFrom = QDateTime::currentSecsSinceEpoch();
    line.server().setSilent(true);
    QVERIFY(runUntil([&] { return link.silentMs() >= comm::kStaleAfterMs; }, 30000));
    QVERIFY(recordsAfter(14));
    const int64_t silentTo = QDateTime::currentSecsSinceEpoch();
    line.server().setSilent(false);
    QVERIFY(runUntil([&] { return !w->livePanel()->stale(); }, 30000));
    QVERIFY(recordsAfter(5));
    const int64_t to = QDateTime::currentSecsSinceEpoch() - 1;
    QVERIFY(recorder->waitForStore());
    const int64_t from = silentFrom - 4;

    // The archive: one stretch, from no earlier than 3 s into the silence to no later than its end,
    // every second of it stored (the ring and the archive keep what was taken).
    store::SampleStore store(options.db, "check");
    QVERIFY(store.open(store::SampleStore::Access::ReadOnly));
    const auto spans = store.staleSpans(from, to);
    QVERIFY(spans);
    QCOMPARE(spans->size(), size_t(1));
    const auto [first, last] = spans->front();
    QVERIFY2(
        first >= silentFrom + 2 && last <= silentTo + 1 && last - first >= 10,
        qPrintable(QString("%1..%2 in %3..%4").arg(first).arg(last).arg(silentFrom).arg(silentTo)));
    qint64 stored = 0, marked = 0, lastReading = 0;
    QVERIFY(store.forEachArchived(from, to, [&](const store::ArchivedSample& a) {
        ++stored;
        marked += a.stale;
        lastReading += a.stale && a.values[0] == 300.0f;  // the last reading, stored again
        return true;
    }));
    QVERIFY(marked >= 11 && stored > marked);
    QCOMPARE(lastReading, marked);

    // The export marks exactly those seconds.
    store::CsvExport csv(options.db, "check-csv");
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const auto rows =
        csv.write(out, {QDateTime::fromSecsSinceEpoch(from), QDateTime::fromSecsSinceEpoch(to)});
    QCOMPARE(rows.value_or(-1), stored);
    QCOMPARE(qint64(out.data().count(",数值过期,")), marked);

    // The report: the stale seconds are missing, one gap longer than 10 s, and its cause is the
    // instrument's silence, not a program that was not running.
    report::ReportRequest request;
    request.dbPath = options.db;
    request.pdfPath = dir.filePath("stale.pdf");
    request.from = from;
    request.to = to;
    const report::ReportOutcome outcome = report::makeReport(request);
    QVERIFY2(outcome.written(), qPrintable(outcome.error));
    const QString text = testsupport::pdfText(request.pdfPath);
    QVERIFY2(text.contains(QString("另有 %1 秒记录时未读到仪表数值").arg(marked)),
             qPrintable(text));
    QVERIFY2(!text.contains("100.00 %") && !text.contains("没有超过 10 秒的数据缺口"),
             qPrintable(text));
    QVERIFY2(text.contains("超过 10 秒的数据缺口：1 处"), qPrintable(text));
    QVERIFY2(text.contains("仪表停止应答") && !text.contains("程序未运行"), qPrintable(text));
}

QTEST_MAIN(StaleRecord)
#include "test_stale_record.moc"
