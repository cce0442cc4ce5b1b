// How long the UI thread's event loop is held up while the recorder records.
//
//   bench_record_gap [seconds]
//
// Three recordings on the real clock into a full ring (65500 records), each on a fresh file:
//   1. the recorder with its store thread, on this machine's disk;
//   2. the same while every sync of the database takes 200 ms longer (a slow or failing disk);
//   0. nothing recorded, to show the machine's own scheduling noise (at most 10 s);
//   3. for comparison, the same slow disk with the samples written on the UI thread itself (at
//      most 10 s).
// Runs 1 and 2 last the given seconds (60 by default). Meanwhile a 1 ms timer on the UI thread
// measures the gaps between its runs, and once a second the UI thread reads the counter and a
// history window of 321 records, as the chart does. Exit status 0 when runs 1 and 2 keep the
// largest gap within 20 ms and store a sample for every second.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/oledate.h"
#include "slowsyncvfs.h"
#include "store/clock.h"
#include "store/recorder.h"
#include "store/ring.h"
#include "store/store.h"

namespace {

constexpr int kSlowSyncMs = 200;
constexpr double kTargetGapMs = 20;
constexpr int kWindow = 321;

struct Result {
    double maxGapMs = 0;
    double maxGapAtS = 0;  // when the largest gap ended, seconds into the run
    double maxReadMs = 0;  // the longest chart read on the UI thread
    double p99GapMs = 0;
    int seconds = 0;
    int samples = 0;
    long syncs = 0;
};

// A full ring whose newest record is 65500, written in one transaction at the disk's own speed.
bool prefill(const QString& path) {
    bench::setSyncDelayMs(0);
    {
        store::SampleStore store(path, QStringLiteral("bench-create"));
        if (!store.open()) return false;
    }
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "bench-fill");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec("BEGIN") &&
                 q.exec(
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                     "65500) INSERT INTO pv_data SELECT i, 46000 + i / 86400, (i % 86400) / "
                     "86400.0, i % 100, 1, 2, 3, 4, 5, 6, 7, 0, 100 FROM n") &&
                 q.exec("UPDATE sl_void SET last_id = 65500, last_id_copy = 65500") &&
                 q.exec("COMMIT") && q.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("bench-fill");
    return ok;
}

// The chart's history read: the counter, then the window of 321 records ending at it.
void readLikeTheChart(store::SampleStore& reader) {
    const int newest = reader.readCounter().value_or(0);
    if (newest >= kWindow)
        reader.loadBetween(newest - kWindow + 1, newest);
    else
        reader.loadNotBetween(newest + 1, store::kRingSize - (kWindow - newest));
}

enum class Writer { None, StoreThread, UiThread };

Result runRecording(const QString& path, int seconds, int syncDelayMs, Writer writer) {
    Result r;
    r.seconds = seconds;
    if (!prefill(path)) {
        std::printf("  cannot prepare %s\n", qPrintable(path));
        return r;
    }
    store::SampleStore reader(path, QStringLiteral("bench-chart"));
    reader.open();
    bench::setSyncDelayMs(syncDelayMs);
    const long syncsBefore = bench::syncCount();

    store::SystemClock clock;
    const std::array<float, 10> live{25.5f, 60.1f, 25, 60, 500, 400, 1, 2, 100, 0};
    std::unique_ptr<store::Recorder> rec;
    std::unique_ptr<store::SampleStore> inlineStore;
    QTimer inlineTick;
    QDateTime lastSecond;
    int inlineSamples = 0;
    if (writer == Writer::StoreThread) {
        rec = std::make_unique<store::Recorder>(path, clock, [&live] { return live; });
        rec->start();
    } else if (writer == Writer::UiThread) {
        // The way the store was used before it had a thread: every write on the UI thread.
        inlineStore = std::make_unique<store::SampleStore>(path, QStringLiteral("bench-inline"),
                                                           store::SampleStore::Commit::Synced);
        inlineStore->open();
        inlineTick.setInterval(100);
        QObject::connect(&inlineTick, &QTimer::timeout, [&] {
            const QDateTime now = clock.now();
            if (now == lastSecond) return;
            lastSecond = now;
            store::Sample s;
            s.date = base::oleDate(now.date());
            s.time = base::oleTime(now.time());
            s.values = live;
            if (inlineStore->storeNextSample(s, 0)) ++inlineSamples;
        });
        inlineTick.start();
    }

    std::vector<double> gaps;
    gaps.reserve(static_cast<size_t>(seconds) * 1000);
    QElapsedTimer sinceLast, run;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gap = sinceLast.nsecsElapsed() / 1e6;
        if (gap > r.maxGapMs) {
            r.maxGapMs = gap;
            r.maxGapAtS = run.elapsed() / 1000.0;
        }
        gaps.push_back(gap);
        sinceLast.restart();
    });
    QTimer chart;
    chart.setInterval(1000);
    QObject::connect(&chart, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        readLikeTheChart(reader);
        r.maxReadMs = std::max(r.maxReadMs, t.nsecsElapsed() / 1e6);
    });
    const int firstRecord = rec ? 0 : -1;
    sinceLast.start();
    run.start();
    probe.start();
    chart.start();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    probe.stop();
    chart.stop();
    inlineTick.stop();

    r.samples = rec ? rec->lastRecordNo() - firstRecord : inlineSamples;
    r.syncs = bench::syncCount() - syncsBefore;
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        r.p99GapMs = gaps[gaps.size() * 99 / 100];
    }
    bench::setSyncDelayMs(0);
    rec.reset();
    inlineStore.reset();
    reader.close();
    return r;
}

void print(const char* what, const Result& r) {
    std::printf(
        "%-44s largest gap %6.1f ms (at %4.1f s)  p99 %4.1f ms  chart read <= %4.1f ms  %3d "
        "samples in %2d s  %4ld syncs\n",
        what, r.maxGapMs, r.maxGapAtS, r.p99GapMs, r.maxReadMs, r.samples, r.seconds, r.syncs);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (!bench::installSlowSyncVfs()) {
        std::fprintf(stderr, "bench_record_gap: cannot install the slow-sync VFS\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    int seconds = 60;
    if (argc > 1) {
        bool ok = false;
        seconds = QString::fromLocal8Bit(argv[1]).toInt(&ok);
        if (!ok || seconds < 2) {
            std::fprintf(stderr, "usage: bench_record_gap [seconds]\n");
            return 2;
        }
    }
    QTemporaryDir dir;
    // The machine's own noise: the probe and the chart reads with nothing recorded.
    const Result idle =
        runRecording(dir.filePath("idle.db"), std::min(seconds, 10), 0, Writer::None);
    print("nothing recorded (the machine's own noise):", idle);
    const Result normal = runRecording(dir.filePath("normal.db"), seconds, 0, Writer::StoreThread);
    print("store thread, this machine's disk:", normal);
    const Result slow =
        runRecording(dir.filePath("slow.db"), seconds, kSlowSyncMs, Writer::StoreThread);
    print("store thread, every sync +200 ms:", slow);
    const Result inlined = runRecording(dir.filePath("inline.db"), std::min(seconds, 10),
                                        kSlowSyncMs, Writer::UiThread);
    print("UI thread writes (for comparison), +200 ms:", inlined);

    bool ok = true;
    for (const Result* r : {&normal, &slow}) {
        ok &= r->maxGapMs <= kTargetGapMs;
        ok &= r->samples >= r->seconds - 1;
    }
    std::printf("%s\n", ok ? "gap: within 20 ms" : "gap: FAILED");
    return ok ? 0 : 1;
}
