// The archive at the size of a year (31.5 million seconds, filled through the store's own code
// and kept between runs): storing one sample with its synced commit and the UI thread's gaps
// meanwhile, bytes per archived second, a 30-day span drawn cold and warm, a 1-hour span anywhere,
// and a 7-day CSV export against the sqlite3 tool's own CSV output of the same rows.
//
//   build/bin/bench_archive [DAYS]      (default 365; the file lies in build/bench-archive/)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "chamberseconds.h"
#include "chart/spanview.h"
#include "chart/storesource.h"
#include "store/csvexport.h"
#include "store/recorder.h"
#include "store/store.h"

namespace {

using bench::kDay;
using bench::kStart;
using bench::median;
using bench::sampleAt;
using store::Sample;
using store::SampleStore;

void dropCaches() {
    // Only the superuser can; otherwise "cold" is a new connection over a warm page cache.
    QFile f(QStringLiteral("/proc/sys/vm/drop_caches"));
    ::sync();
    if (f.open(QIODevice::WriteOnly)) f.write("1\n");
}

// The archive of `days` days up to its newest second, the ring's last lap written as the recorder
// writes it. Reused while it holds what it should; *last is its last second (earlier runs' store
// measurements add a few minutes after the filled days).
bool fill(const QString& path, int days, int64_t* newest, int64_t* last) {
    const int64_t total = days * kDay;
    *newest = *last = kStart + total - 1;
    {
        SampleStore probe(path, QStringLiteral("probe"));
        const auto extent = QFileInfo::exists(path) && probe.open(SampleStore::Access::ReadOnly)
                                ? probe.archiveExtent()
                                : std::nullopt;
        if (extent && extent->first == kStart && extent->second >= *newest) {
            *last = extent->second;
            return true;
        }
    }
    QFile::remove(path);
    SampleStore store(path, QStringLiteral("fill"), SampleStore::Commit::Fast);
    if (!store.open(SampleStore::Access::Record)) return false;
    std::mt19937 gen(7);
    QElapsedTimer t;
    t.start();
    const int64_t bulkEnd = kStart + std::max<int64_t>(0, total - store::kRingSize);
    std::vector<Sample> batch;
    for (int64_t at = kStart; at < bulkEnd; at += kDay) {
        batch.clear();
        for (int64_t s = at; s < std::min(at + kDay, bulkEnd); ++s)
            batch.push_back(sampleAt(s, gen));
        if (!store.archiveBatch(batch)) return false;
        std::fprintf(stderr, "\rfilling: day %lld of %d, %.0f s",
                     (long long)((at - kStart) / kDay + 1), days, t.elapsed() / 1000.0);
    }
    for (int64_t at = bulkEnd; at <= *newest; ++at) {
        Sample s = sampleAt(at, gen);
        if (!store.storeNextSample(s, 0)) return false;
    }
    std::fprintf(stderr, "\rfilled %d days in %.0f s%20s\n", days, t.elapsed() / 1000.0, "");
    return true;
}

// A clock from a start, running `speed` times faster than the wall clock.
class FastClock : public store::Clock {
  public:
    FastClock(QDateTime start, int speed) : start_(start), speed_(speed) { run_.start(); }
    QDateTime now() const override { return start_.addSecs(run_.elapsed() * speed_ / 1000); }

  private:
    QDateTime start_;
    int speed_;
    QElapsedTimer run_;
};

// Milliseconds for one span: the query, the envelope and the paint, over the store connection
// the chart keeps open (cold: a new one, after the page cache was dropped).
double drawSpan(SampleStore& store, int64_t from, int64_t to, QImage& image) {
    QElapsedTimer t;
    t.start();
    chart::StoreSpanSource source(store);
    chart::SpanView view;
    view.load(source, from, to);
    QPainter p(&image);
    view.paint(p, image.size());
    p.end();
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    const int days = argc > 1 ? std::max(8, QString::fromLocal8Bit(argv[1]).toInt()) : 365;
    const QString dir =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bench-archive");
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/archive-%1.db").arg(days);
    int64_t newest = 0, last = 0;
    if (!fill(path, days, &newest, &last)) {
        std::fprintf(stderr, "bench_archive: cannot fill %s\n", qPrintable(path));
        return 1;
    }
    const double bytesPerSecond =
        static_cast<double>(QFileInfo(path).size()) / static_cast<double>(days * kDay);

    // Storing: ring, archive and rollups with the recorder's synced commit.
    std::vector<double> storeMs;
    {
        SampleStore store(path, QStringLiteral("store"), SampleStore::Commit::Synced);
        if (!store.open(SampleStore::Access::Record)) return 1;
        std::mt19937 gen(11);
        for (int i = 1; i <= 300; ++i) {
            Sample s = sampleAt(last + i, gen);
            QElapsedTimer t;
            t.start();
            if (!store.storeNextSample(s, 0)) return 1;
            storeMs.push_back(t.nsecsElapsed() / 1e6);
        }
        store.dropArchiveBefore(kStart);  // nothing older: the call's cost alone, no change
    }
    // The UI thread's largest gap while the recorder stores ten samples a second (its clock runs
    // ten times fast) for ten seconds.
    qint64 largestGap = 0;
    {
        FastClock clock(QDateTime::fromSecsSinceEpoch(last + 1000), 10);
        store::Recorder recorder(path, clock, [] { return std::array<float, 10>{}; });
        recorder.start();
        QElapsedTimer sinceTick, run;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { largestGap = std::max(largestGap, sinceTick.restart()); });
        QTimer::singleShot(1000, [&] {
            sinceTick.start();
            probe.start();
        });
        run.start();
        while (run.elapsed() < 11000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        recorder.stop();
        recorder.waitForStore();
    }

    // Drawing: 30 days cold, then warm; 1 hour at random places of the year.
    QImage image(1200, 750, QImage::Format_RGB32);
    const int64_t end = newest;
    dropCaches();
    QElapsedTimer coldTimer;
    coldTimer.start();
    SampleStore chartStore(path, QStringLiteral("chart"));
    if (!chartStore.open(SampleStore::Access::ReadOnly)) return 1;
    drawSpan(chartStore, end - 30 * kDay + 1, end, image);
    const double coldMs = coldTimer.nsecsElapsed() / 1e6;
    std::vector<double> warm;
    for (int i = 0; i < 5; ++i)
        warm.push_back(drawSpan(chartStore, end - 30 * kDay + 1, end, image));
    image.save(dir + QStringLiteral("/span-30d.png"));
    std::mt19937 gen(3);
    std::uniform_int_distribution<int64_t> place(kStart + 3600, newest);
    std::vector<double> hour;
    for (int i = 0; i < 30; ++i) {
        const int64_t e = place(gen);
        hour.push_back(drawSpan(chartStore, e - 3599, e, image));
    }

    // Exporting the last 7 days: ours against the sqlite3 tool's CSV of the same rows.
    const int64_t exportFrom = end - 7 * kDay + 1;
    QElapsedTimer t;
    t.start();
    qint64 rows = 0;
    {
        store::CsvExport exporter(path, QStringLiteral("export"));
        QFile out(dir + QStringLiteral("/export.csv"));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        rows = exporter
                   .write(out, {QDateTime::fromSecsSinceEpoch(exportFrom),
                                QDateTime::fromSecsSinceEpoch(end)})
                   .value_or(-1);
    }
    const double oursMs = t.elapsed();
    t.restart();
    QProcess sqlite;
    sqlite.setStandardOutputFile(dir + QStringLiteral("/sqlite3.csv"));
    sqlite.start(QStringLiteral("sqlite3"),
                 {QStringLiteral("-csv"), QStringLiteral("-readonly"), path,
                  QStringLiteral("SELECT * FROM archive WHERE t BETWEEN %1 AND %2 ORDER BY t, seq")
                      .arg(exportFrom)
                      .arg(end)});
    const bool ran = sqlite.waitForFinished(600000) && sqlite.exitCode() == 0;
    const double sqliteMs = t.elapsed();

    std::printf("archive of %d days (%lld seconds): %s\n", days, (long long)(days * kDay),
                qPrintable(path));
    std::printf("store (ring + archive + rollups, synced): median %.3f ms, max %.3f ms\n",
                median(storeMs), *std::max_element(storeMs.begin(), storeMs.end()));
    std::printf("30-day span: %.1f ms cold, %.1f ms warm (median of 5)\n", coldMs, median(warm));
    std::printf("1-hour span: median %.1f ms, max %.1f ms (30 places)\n", median(hour),
                *std::max_element(hour.begin(), hour.end()));
    std::printf("7-day export: %lld rows, %.0f ms; sqlite3 -csv %.0f ms%s\n", (long long)rows,
                oursMs, sqliteMs, ran ? "" : " (sqlite3 failed)");
    std::printf(
        "bench_archive: store median %.2f ms, gap %lld ms, %.1f bytes/s-sample, 30-day span %.0f "
        "ms "
        "cold %.0f ms warm, 1-hour span %.1f ms, 7-day export %.2f x sqlite3\n",
        median(storeMs), (long long)largestGap, bytesPerSecond, coldMs, median(warm),
        *std::max_element(hour.begin(), hour.end()), sqliteMs > 0 ? oursMs / sqliteMs : 0.0);
    return 0;
}
