#pragma once
// Which local records go to the server next: the newest sample and event the server has
// confirmed, what the ring and the event log hold now, and the places and ids to read from them.
// Free of threads and connections so that it can be checked on its own.

#include <QPair>
#include <cstdint>
#include <optional>

#include "store/ring.h"

namespace forward {

inline constexpr int kMaxBatch = 5000;  // rows per transaction while catching up

// The newest local sample the server has confirmed: its place in the ring and its time (id 0:
// nothing confirmed yet), and once the file has an archive its key there (at 0: none yet).
struct SampleCursor {
    int id = 0;
    double date = 0;  // OLE whole days
    double time = 0;  // OLE fraction of a day
    int64_t at = 0;   // UTC seconds
    int64_t seq = 0;
};

// What the local ring looks like now, read in one snapshot.
struct RingView {
    int counter = 0;  // number of the latest record, 0..65500
    // w_date and w_time of the record at the cursor's place, when there is one.
    std::optional<QPair<double, double>> atCursor;
    // w_date + w_time of the record after the counter's: the oldest when the ring is full.
    std::optional<double> oldest;
};

// Which ring places to read next: `count` places from `first` on, wrapping after 65500.
// `skipped` counts samples the ring overwrote before they could be sent.
struct RingPlan {
    int first = 1;
    int count = 0;
    int64_t skipped = 0;
};

RingPlan planSamples(const SampleCursor& cursor, const RingView& ring);

// Events ---------------------------------------------------------------------------------------

// Which events go next: ids above `after`, with `skipped` lost to the log's bound meanwhile.
// A log whose newest id is below the cursor was started afresh: everything in it is sent again
// (the server drops what it already holds).
struct EventPlan {
    int64_t after = 0;
    int64_t skipped = 0;
};
EventPlan planEvents(int64_t cursor, std::optional<int64_t> minId, std::optional<int64_t> maxId);

}  // namespace forward
