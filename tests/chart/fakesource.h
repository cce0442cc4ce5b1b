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
    FakeSource() : records_(record::kRingSize + 1) {}

    std::optional<int> counter = 0;
    int loads = 0;

    void put(int id, const QDateTime& at, float value0, float value1 = 0) {
        record::Sample s;
        s.id = id;
        s.date = base::oleDate(at.date());
        s.time = base::oleTime(at.time());
        s.values[0] = value0;
        s.values[1] = value1;
        s.values[8] = 100;
        records_[id] = s;
    }
    void erase(int id) { records_[id].reset(); }
    std::optional<record::Sample> get(int id) const { return records_[id]; }

    // The recorder's history: records up to `newest`, one a second, the newest stored at `end`.
    // A wrapped ring holds every number, the older ones beyond `newest` a ring's length earlier.
    void fill(int newest, bool wrapped,
              const QDateTime& end = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 0))) {
        for (auto& r : records_)
            r.reset();
        const int total = wrapped ? record::kRingSize : newest;
        for (int age = 0; age < total; ++age) {
            int id = newest - age;
            if (id < 1) id += record::kRingSize;
            put(id, end.addSecs(-age), float(id));
        }
        counter = newest;
    }

    std::optional<int> readCounter() override { return counter; }
    std::vector<record::Sample> loadBetween(int first, int last) override {
        ++loads;
        std::vector<record::Sample> out;
        for (int id = std::max(first, 1); id <= std::min(last, record::kRingSize); ++id)
            if (records_[id]) out.push_back(*records_[id]);
        sortByTime(out);
        return out;
    }
    std::vector<record::Sample> loadNotBetween(int first, int last) override {
        ++loads;
        return select([&](int id) { return id < first || id > last; });
    }
    bool ringWrapped() override { return records_[record::kRingSize].has_value(); }

  private:
    template <class Pred>
    std::vector<record::Sample> select(Pred pred) {
        std::vector<record::Sample> out;
        for (const auto& r : records_)
            if (r && pred(r->id)) out.push_back(*r);
        sortByTime(out);
        return out;
    }
    static void sortByTime(std::vector<record::Sample>& v) {
        std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
            return a.date != b.date ? a.date < b.date : a.time < b.time;
        });
    }
    std::vector<std::optional<record::Sample>> records_;
};

}  // namespace chart_test
