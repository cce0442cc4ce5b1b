// The test report of a 7-day run (604,800 seconds, with a gap and the events of a week), made
// from a file kept between runs: the time of the whole report (the pass over the seconds, the
// events, the CSV export and its hash, the chart's rollups, the PDF) and the sizes of the PDF
// and the CSV beside it.
//
//   build/bin/bench_report [RUNS]      (default 3; the file lies in build/bench-report/)
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

#include "chamberseconds.h"
#include "events/eventstore.h"
#include "report/report.h"
#include "runs/runcontrol.h"
#include "runs/runs.h"

namespace {

constexpr int64_t kWeek = 7 * bench::kDay;

// The week, its events and the run over it; false when the file could not be made.
bool fillWeek(const QString& path) {
    {
        store::SampleStore store(path, QStringLiteral("fill"));
        if (!store.open(store::SampleStore::Access::Record)) return false;
        std::mt19937 gen(7);
        std::vector<store::Sample> batch;
        for (int64_t at = bench::kStart; at < bench::kStart + kWeek; ++at) {
            // The program was not running for 20 minutes on the third day.
            if (at - bench::kStart >= 2 * bench::kDay + 3600 &&
                at - bench::kStart < 2 * bench::kDay + 4800)
                continue;
            batch.push_back(bench::sampleAt(at, gen));
            if (batch.size() == 3600 || at == bench::kStart + kWeek - 1) {
                if (!store.archiveBatch(batch)) return false;
                batch.clear();
            }
        }
    }
    events::EventStore log(path, QStringLiteral("fill-events"));
    if (!log.open()) return false;
    std::vector<events::EventEntry> events;
    for (int64_t at = bench::kStart + 600; at < bench::kStart + kWeek; at += 1800) {
        const QDateTime t = QDateTime::fromSecsSinceEpoch(at);
        events.push_back(
            {0, t, events::eventkind::kAlarm, QStringLiteral("ALM1 OFF → ALM1报警"), {}, 1, {}});
        events.push_back({0,
                          t.addSecs(120),
                          events::eventkind::kAlarm,
                          QStringLiteral("ALM1报警 → ALM1 OFF"),
                          {},
                          0,
                          {}});
        events.push_back({0, t.addSecs(300), events::eventkind::kWrite,
                          QStringLiteral("SV1 → 40.0"), 1, 400, 0});
    }
    if (!log.append(events)) return false;
    runs::RunStore runs(path, QStringLiteral("fill-runs"));
    runs::Run run;
    run.name = QStringLiteral("湿热 40 °C / 93 %RH 7 天");
    run.orderId = QStringLiteral("2026-117");
    run.start = bench::kStart;
    return runs.open() && runs.start(run) && runs.stop(bench::kStart + kWeek - 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bench-report");
    QDir().mkpath(dir);
    const QString db = dir + QStringLiteral("/week.db");
    if (!QFileInfo::exists(db)) {
        QElapsedTimer fill;
        fill.start();
        if (!fillWeek(db)) {
            QFile::remove(db);
            std::fprintf(stderr, "cannot fill %s\n", qUtf8Printable(db));
            return 1;
        }
        std::printf("filled the week in %.1f s\n", fill.elapsed() / 1000.0);
    }
    runs::RunStore store(db, QStringLiteral("runs"));
    std::optional<runs::Run> run;
    if (store.open(true)) run = store.find(QStringLiteral("湿热 40 °C / 93 %RH 7 天"));
    if (!run || !run->end) {
        std::fprintf(stderr, "no run in %s\n", qUtf8Printable(db));
        return 1;
    }
    report::ReportRequest request = runs::reportRequest(*run, db, *run->end);
    request.pdfPath = dir + QStringLiteral("/week.pdf");
    request.csvPath = dir + QStringLiteral("/week.csv");

    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const report::ReportOutcome outcome = report::makeReport(request);
        seconds.push_back(t.nsecsElapsed() / 1e9);
        if (!outcome.written()) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(outcome.error));
            return 1;
        }
        std::printf("report %d: %.2f s\n", i + 1, seconds.back());
    }
    std::printf("7-day report (median of %d): %.2f s (target <= 3 s)\n", runs,
                bench::median(seconds));
    std::printf("PDF %.2f MB (target <= 2 MB), CSV %.1f MB\n",
                QFileInfo(request.pdfPath).size() / 1e6, QFileInfo(request.csvPath).size() / 1e6);
    return 0;
}
