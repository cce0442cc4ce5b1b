#pragma once
// The chart's records from the main window's own connection to the sample store.

#include "chart/chartmodel.h"
#include "record/store.h"

namespace chart {

class StoreChartSource : public ChartSource {
  public:
    explicit StoreChartSource(record::SampleStore& store) : store_(store) {}
    std::optional<int> readCounter() override { return store_.readCounter(); }
    std::vector<Sample> loadBetween(int first, int last) override {
        return store_.loadBetween(first, last);
    }
    std::vector<Sample> loadNotBetween(int first, int last) override {
        return store_.loadNotBetween(first, last);
    }
    // The recorder fills the ring in order, so record 65500 exists only once every number has
    // been written.
    bool ringWrapped() override { return store_.loadRecord(kRingSize).has_value(); }

  private:
    record::SampleStore& store_;
};

}  // namespace chart
