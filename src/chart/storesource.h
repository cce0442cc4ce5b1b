#pragma once
// The chart's records and spans from the main window's own connection to the sample store.

#include "base/oledate.h"
#include "chart/chartmodel.h"
#include "chart/spanview.h"
#include "store/store.h"

namespace chart {

class StoreChartSource : public ChartSource {
  public:
    explicit StoreChartSource(store::SampleStore& store) : store_(store) {}
    std::optional<int> readCounter() override { return store_.readCounter(); }
    std::vector<Sample> loadBetween(int first, int last) override {
        return markStale(store_.loadBetween(first, last));
    }
    std::vector<Sample> loadNotBetween(int first, int last) override {
        return markStale(store_.loadNotBetween(first, last));
    }
    // The recorder fills the ring in order, so record 65500 exists only once every number has
    // been written.
    bool ringWrapped() override { return store_.loadRecord(kRingSize).has_value(); }

  private:
    // The ring keeps no stale mark: the archive's stale seconds mark the records of theirs.
    std::vector<Sample> markStale(std::vector<Sample> rows) {
        if (rows.empty()) return rows;
        const auto secondOf = [](const Sample& r) {
            return base::dateTimeFromOle(r.date + r.time).toSecsSinceEpoch();
        };
        const auto spans = store_.staleSpans(secondOf(rows.front()), secondOf(rows.back()));
        if (!spans || spans->empty()) return rows;
        size_t next = 0;
        for (Sample& r : rows)
            r.stale = r.stale || store::inStaleSpan(*spans, &next, secondOf(r));
        return rows;
    }

    store::SampleStore& store_;
};

// The archive's spans over the same connection. The recorder's writer makes the archive; a
// connection opened before that finds it on a later read.
class StoreSpanSource : public SpanSource {
  public:
    explicit StoreSpanSource(store::SampleStore& store) : store_(store) {}
    std::optional<std::pair<int64_t, int64_t>> extent() override {
        const auto e = store_.archiveExtent();
        if (!e) return std::nullopt;
        return std::pair{e->first, e->second};
    }
    std::optional<std::vector<SpanRow>> loadSpan(int64_t from, int64_t to, int maxRows) override {
        return store_.loadSpan(from, to, maxRows);
    }

  private:
    store::SampleStore& store_;
};

}  // namespace chart
