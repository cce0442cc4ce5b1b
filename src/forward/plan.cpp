#include "forward/plan.h"

#include <algorithm>
#include <cmath>

namespace forward {

RingPlan planSamples(const SampleCursor& cursor, const RingView& ring) {
    const int latest = (ring.counter >= 1 && ring.counter <= store::kRingSize) ? ring.counter : 0;
    const bool full = ring.oldest.has_value();
    // Everything the ring holds, oldest first.
    auto whole = [&] {
        RingPlan p;
        if (full) {
            p.first = store::ringStep(latest, 1);
            p.count = store::kRingSize;
        } else {
            p.first = 1;
            p.count = latest;
        }
        return p;
    };
    if (cursor.id < 1 || cursor.id > store::kRingSize) return whole();

    if (!ring.atCursor) {
        // The cursor's place is empty: the ring has not come round to it, so nothing newer was
        // lost. Beyond the latest record the file was started afresh.
        if (cursor.id > latest) return whole();
    } else if (ring.atCursor->first != cursor.date || ring.atCursor->second != cursor.time) {
        // The recorder came round and overwrote the cursor's record: the whole ring is newer than
        // what the server has, and what was overwritten before it could be sent is lost to it.
        RingPlan p = whole();
        if (full) {
            const double gap = (*ring.oldest - (cursor.date + cursor.time)) * 86400.0;
            if (std::isfinite(gap) && gap > 1)
                p.skipped = static_cast<int64_t>(std::llround(gap)) - 1;
        }
        return p;
    }
    RingPlan p;
    p.first = store::ringStep(cursor.id, 1);
    p.count = ((latest - cursor.id) % store::kRingSize + store::kRingSize) % store::kRingSize;
    return p;
}

EventPlan planEvents(int64_t cursor, std::optional<int64_t> minId, std::optional<int64_t> maxId) {
    EventPlan p;
    p.after = std::max<int64_t>(cursor, 0);
    if (!maxId || !minId) return p;
    if (*maxId < p.after) {
        p.after = 0;
        return p;
    }
    if (p.after > 0 && *minId > p.after + 1) p.skipped = *minId - p.after - 1;
    return p;
}

}  // namespace forward
