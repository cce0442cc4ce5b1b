// Cost of the sample store on this machine's disk: one sample into a full ring of 65500 records
// (median and 99th percentile; with fast commits and with each commit synced), filling a ring from
// empty and its file size, and the two history-window queries of 321 records on a full ring.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "store/store.h"

namespace {

using Clock = std::chrono::steady_clock;

store::Sample sampleFor(int n) {
    store::Sample s;
    s.id = (n - 1) % store::kRingSize + 1;
    s.date = 46000 + n / 86400;
    s.time = (n % 86400) / 86400.0;
    for (int c = 0; c < 10; ++c)
        s.values[c] = static_cast<float>((n * 7 + c * 13) % 1000) / 10.0f;
    return s;
}

double fileMegabytes(const QString& path) {
    qint64 bytes = 0;
    for (const char* suffix : {"", "-wal", "-shm"})
        bytes += QFileInfo(path + suffix).size();
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// One full ring, filled once and shared by the benchmarks that need it. Sample n goes to record
// (n - 1) % 65500 + 1 at second n.
struct FullRing {
    QTemporaryDir dir;
    QString path = dir.filePath("Rdatabj.db");
    std::unique_ptr<store::SampleStore> store;
    int next = 1;

    FullRing() {
        store = std::make_unique<store::SampleStore>(path, "bench-full");
        store->open();
        for (; next <= store::kRingSize; ++next)
            store->storeSample(sampleFor(next));
    }
    static FullRing& get() {
        static FullRing ring;
        return ring;
    }
};

// One sample per iteration into the full ring through `store`, with the median, 99th percentile
// and worst time of a single store.
void timeStores(benchmark::State& state, store::SampleStore& store, FullRing& ring) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(state.max_iterations));
    bool ok = true;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        ok = store.storeSample(sampleFor(ring.next++)) && ok;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (!ok) state.SkipWithError("a store failed");
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
    state.counters["max_us"] = us.back();
}

void BM_StoreIntoFullRing(benchmark::State& state) {
    FullRing& ring = FullRing::get();
    timeStores(state, *ring.store, ring);
}
BENCHMARK(BM_StoreIntoFullRing)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// The same with each commit synced to the disk, as the recorder's store thread writes.
void BM_StoreIntoFullRingSynced(benchmark::State& state) {
    FullRing& ring = FullRing::get();
    store::SampleStore synced(ring.path, "bench-synced", store::SampleStore::Commit::Synced);
    if (!synced.open()) {
        state.SkipWithError("cannot open");
        return;
    }
    timeStores(state, synced, ring);
}
BENCHMARK(BM_StoreIntoFullRingSynced)->Iterations(300)->Unit(benchmark::kMicrosecond);

void BM_FillRing(benchmark::State& state) {
    double mb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = dir.filePath("Rdatabj.db");
        store::SampleStore store(path, "bench-fill");
        store.open();
        state.ResumeTiming();
        for (int n = 1; n <= store::kRingSize; ++n)
            store.storeSample(sampleFor(n));
        state.PauseTiming();
        mb = fileMegabytes(path);  // with the write-ahead log as it stands while recording
        store.close();
        state.counters["file_MB_closed"] = fileMegabytes(path);
        state.ResumeTiming();
    }
    state.counters["file_MB_open"] = mb;
}
BENCHMARK(BM_FillRing)->Iterations(1)->Unit(benchmark::kMillisecond);

// The history window of 321 records ending at 40000 (no wrap) and ending at 100 (records 1..100
// and 65280..65500).
void BM_WindowBetween(benchmark::State& state) {
    FullRing& ring = FullRing::get();
    size_t rows = 0;
    for (auto _ : state)
        rows = ring.store->loadBetween(40000 - 321 + 1, 40000).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_WindowBetween)->Unit(benchmark::kMillisecond);

void BM_WindowNotBetween(benchmark::State& state) {
    FullRing& ring = FullRing::get();
    size_t rows = 0;
    const int end = 100;
    const int before = store::kRingSize - (321 - end);
    for (auto _ : state)
        rows = ring.store->loadNotBetween(end + 1, before).size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_WindowNotBetween)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
