#pragma once
// A record source for the chart tests: a ring of samples held in memory.

#include <QDateTime>
#include <algorithm>
#include <optional>
#include <vector>

#include "base/oledate.h"
#include "chart/chartmodel.h"

namespace chart_test {

class FakeSource : public chart::ChartSource {
  public:
    FakeSource() : records_(store::kRingSize + 1) {}

    std::optional<int> counter = 0;
    int loads = 0;

    void put(int id, const QDateTime& at, float value0, float value1 = 0) {
        store::Sample s;
        s.id = id;
        s.date = base::oleDate(at.date());
        s.time = base::oleTime(at.time());
        s.values[0] = value0;
        s.values[1] = value1;
        s.values[8] = 100;
        records_[id] = s;
    }
    void erase(int id) { records_[id].reset(); }
    // The record was stored while the instrument's values were stale.
    void markStale(int id) {
        if (records_[id]) records_[id]->stale = true;
    }
    std::optional<store::Sample> get(int id) const { return records_[id]; }

    // The recorder's history: records up to `newest`, one a second, the newest stored at `end`.
    // A wrapped ring holds every number, the older ones beyond `newest` a ring's length earlier.
    void fill(int newest, bool wrapped,
              const QDateTime& end = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 0))) {
        for (auto& r : records_)
            r.reset();
        const int total = wrapped ? store::kRingSize : newest;
        for (int age = 0; age < total; ++age) {
            int id = newest - age;
            if (id < 1) id += store::kRingSize;
            put(id, end.addSecs(-age), float(id));
        }
        counter = newest;
    }

    std::optional<int> readCounter() override { return counter; }
    std::vector<store::Sample> loadBetween(int first, int last) override {
        ++loads;
        std::vector<store::Sample> out;
        for (int id = std::max(first, 1); id <= std::min(last, store::kRingSize); ++id)
            if (records_[id]) out.push_back(*records_[id]);
        sortByTime(out);
        return out;
    }
    std::vector<store::Sample> loadNotBetween(int first, int last) override {
        ++loads;
        return select([&](int id) { return id < first || id > last; });
    }
    bool ringWrapped() override { return records_[store::kRingSize].has_value(); }

  private:
    template <class Pred>
    std::vector<store::Sample> select(Pred pred) {
        std::vector<store::Sample> out;
        for (const auto& r : records_)
            if (r && pred(r->id)) out.push_back(*r);
        sortByTime(out);
        return out;
    }
    static void sortByTime(std::vector<store::Sample>& v) {
        std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
            return a.date != b.date ? a.date < b.date : a.time < b.time;
        });
    }
    std::vector<std::optional<store::Sample>> records_;
};

}  // namespace chart_test

#include "chart/spanview.h"
#include "store/archive.h"

namespace chart_test {

// Seconds grouped into buckets of `width` seconds, as the archive's rollups hold them.
inline std::vector<store::SpanRow> rollUp(const std::vector<store::SpanRow>& seconds,
                                          int64_t width) {
    std::vector<store::SpanRow> out;
    std::vector<std::array<double, 10>> sums;
    for (const store::SpanRow& s : seconds) {
        const int64_t bucket = s.first - ((s.first % width) + width) % width;
        if (out.empty() ||
            out.back().first - ((out.back().first % width) + width) % width != bucket) {
            out.push_back(s);
            sums.emplace_back();
        } else {
            store::SpanRow& r = out.back();
            r.last = s.last;
            for (int v = 0; v < 10; ++v) {
                r.min[v] = std::min(r.min[v], s.min[v]);
                r.max[v] = std::max(r.max[v], s.max[v]);
            }
            r.count += s.count;
        }
        for (int v = 0; v < 10; ++v)
            sums.back()[v] += double(s.mean[v]) * s.count;
    }
    for (size_t i = 0; i < out.size(); ++i)
        for (int v = 0; v < 10; ++v)
            out[i].mean[v] = float(sums[i][v] / out[i].count);
    return out;
}

// An archive held in memory: one row per stored second, answered at the level the store picks.
class FakeSpanSource : public chart::SpanSource {
  public:
    std::vector<store::SpanRow> seconds;  // in time order
    int loads = 0;
    int lastMaxRows = 0;

    void add(int64_t at, float pv1, float pv2 = 0) {
        store::SpanRow r;
        r.first = r.last = at;
        r.count = 1;
        r.min[0] = r.max[0] = r.mean[0] = pv1;
        r.min[1] = r.max[1] = r.mean[1] = pv2;
        r.min[8] = r.max[8] = r.mean[8] = 100;
        seconds.push_back(r);
    }
    std::optional<std::pair<int64_t, int64_t>> extent() override {
        if (seconds.empty()) return std::nullopt;
        return std::pair{seconds.front().first, seconds.back().last};
    }
    std::optional<std::vector<store::SpanRow>> loadSpan(int64_t from, int64_t to,
                                                        int maxRows) override {
        ++loads;
        lastMaxRows = maxRows;
        int64_t width = 3600;
        for (int64_t w : store::archive::kLevelSeconds)
            if ((to - from) / w + 1 <= maxRows) {
                width = w;
                break;
            }
        const int64_t start = from - ((from % width) + width) % width;
        std::vector<store::SpanRow> picked;
        for (const store::SpanRow& s : seconds)
            if (s.first >= start && s.first <= to) picked.push_back(s);
        return width == 1 ? picked : rollUp(picked, width);
    }
};

}  // namespace chart_test
