// Cost of the chart's drawing, of paging back through a full ring of stored records, and of
// exporting the whole ring to CSV (beside the sqlite3 tool's own CSV output of the same table).

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <optional>
#include <vector>

#include "base/oledate.h"
#include "chart/chartmodel.h"
#include "chart/chartview.h"
#include "chart/storesource.h"
#include "store/csvexport.h"
#include "store/store.h"

namespace {

const QDateTime kEnd(QDate(2026, 3, 1), QTime(12, 0, 0));

store::Sample sampleAt(int id, const QDateTime& at, int n) {
    store::Sample s;
    s.id = id;
    s.date = base::oleDate(at.date());
    s.time = base::oleTime(at.time());
    s.values = {float(30 + 20 * std::sin(n / 30.0)),
                float(25 + 15 * std::cos(n / 40.0)),
                float(40 + 10 * std::sin(n / 50.0)),
                float(20 + 5 * std::cos(n / 20.0)),
                0,
                0,
                0,
                0,
                float(n % 60 < 30 ? 100 : 0),
                float(n % 90 < 20 ? 100 : 0)};
    return s;
}

// Records 1..381 in memory, one a second with a pause of ten minutes before every tenth of the
// first 300 of the page that ends at record 321.
class MemorySource : public chart::ChartSource {
  public:
    MemorySource() {
        QDateTime t = kEnd;
        for (int id = 1; id <= 381; ++id) {
            t = t.addSecs(id % 10 == 5 && id < 300 ? 600 : 1);
            records_.push_back(sampleAt(id, t, id));
        }
    }
    std::optional<int> readCounter() override { return int(records_.size()); }
    std::vector<store::Sample> loadBetween(int first, int last) override {
        return {records_.begin() + (first - 1), records_.begin() + last};
    }
    std::vector<store::Sample> loadNotBetween(int, int) override { return {}; }
    bool ringWrapped() override { return false; }

  private:
    std::vector<store::Sample> records_;
};

// A history window at zoom level 4: six curves of 320 segments each, the grid, 30 gap marks.
chart::ChartModel fullModel() {
    MemorySource src;
    chart::ChartModel m;
    m.load(src);
    for (int i = 0; i < 3; ++i)
        m.zoomOut();
    // Slots 1..320 are drawn: 319 segments per curve, since slot 0 is never loaded.
    m.pageOlder(src);
    return m;
}

void BM_RedrawPaint(benchmark::State& state) {
    chart::ChartModel m = fullModel();
    QImage image(1200, 750, QImage::Format_ARGB32_Premultiplied);
    chart::ChartPainter painter;
    for (auto _ : state) {
        m.redrawChart();
        QPainter p(&image);
        painter.paint(p, image.size(), m);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["lines"] = double(m.surface().size());
}
BENCHMARK(BM_RedrawPaint)->Unit(benchmark::kMillisecond);

// The geometry alone, without painting.
void BM_RedrawGeometry(benchmark::State& state) {
    chart::ChartModel m = fullModel();
    for (auto _ : state) {
        m.redrawChart();
        benchmark::DoNotOptimize(m.surface().data());
    }
}
BENCHMARK(BM_RedrawGeometry)->Unit(benchmark::kMillisecond);

// A full ring of 65500 records in an SQLite store, built once.
struct FullRing {
    QTemporaryDir dir;
    std::unique_ptr<store::SampleStore> store;
    FullRing() {
        store = std::make_unique<store::SampleStore>(dir.filePath("Rdatabj.db"), "bench-ring");
        store->open();
        QDateTime t = kEnd.addSecs(-store::kRingSize);
        for (int id = 1; id <= store::kRingSize; ++id) {
            t = t.addSecs(1);
            store->storeSample(sampleAt(id, t, id));
        }
        // The newest record is 1000: the ring has gone round once more to there.
        for (int id = 1; id <= 1000; ++id) {
            t = t.addSecs(1);
            store->storeSample(sampleAt(id, t, id));
        }
    }
};

FullRing& fullRing();

void BM_HistoryPage(benchmark::State& state) {
    FullRing& ring = fullRing();
    chart::StoreChartSource src(*ring.store);
    chart::ChartModel m;
    m.load(src);
    m.zoomOut();
    m.zoomOut();
    m.zoomOut();
    QImage image(1200, 750, QImage::Format_ARGB32_Premultiplied);
    chart::ChartPainter painter;
    const bool acrossWrap = state.range(0) != 0;
    // Page 1 ends at 940; page 14 ends at 160, its window runs across the wrap.
    for (int page = 1; page <= (acrossWrap ? 14 : 1); ++page)
        m.pageOlder(src);
    for (auto _ : state) {
        state.PauseTiming();
        if (m.historyPage() > 0) m.pageNewer(src);
        state.ResumeTiming();
        m.pageOlder(src);
        QPainter p(&image);
        painter.paint(p, image.size(), m);
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["WindowEnd"] = m.windowEnd();
}
BENCHMARK(BM_HistoryPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

FullRing& fullRing() {
    static FullRing ring;
    return ring;
}

// The whole ring to a CSV file, as "导出 CSV" and --export-csv write it.
void BM_ExportCsv(benchmark::State& state) {
    FullRing& ring = fullRing();
    const QString out = ring.dir.filePath("export.csv");
    qint64 rows = 0;
    for (auto _ : state) {
        store::CsvExport ex(ring.store->path(), "bench-export");
        QFile f(out);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        rows = ex.write(f, {}).value_or(-1);
    }
    state.counters["rows"] = double(rows);
}
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same table through the sqlite3 command-line tool's own CSV output, for comparison.
void BM_Sqlite3Csv(benchmark::State& state) {
    FullRing& ring = fullRing();
    const QString out = ring.dir.filePath("sqlite3.csv");
    for (auto _ : state) {
        QProcess p;
        p.setStandardOutputFile(out);
        p.start("sqlite3", {"-csv", "-header", ring.store->path(),
                            "SELECT * FROM pv_data WHERE w_date <> 0 ORDER BY w_date, w_time"});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            state.SkipWithError("sqlite3 failed");
            break;
        }
    }
}
BENCHMARK(BM_Sqlite3Csv)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
