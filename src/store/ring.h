#pragma once
// The arithmetic of the record ring and of the recorder's once-a-second rule, free of timers and
// of the database so that it can be checked on its own.

#include <QPair>
#include <cstdint>
#include <vector>

#include "store/schema.h"

namespace store {

// The record number the counter row stands for: a counter outside 0..65499 (65500 and above, or
// negative, which would otherwise number records outside the ring) counts as 0.
constexpr int32_t ringCounter(int64_t counter) {
    return (counter < 0 || counter >= kRingSize) ? 0 : static_cast<int32_t>(counter);
}

// The place `steps` places after `place` in the ring (before it for negative steps), 1..65500;
// place 0 stands for the place before the first.
constexpr int32_t ringStep(int64_t place, int64_t steps) {
    const int64_t r = (place - 1 + steps) % kRingSize;
    return static_cast<int32_t>((r < 0 ? r + kRingSize : r) + 1);
}

// The number of the record after the one the counter names: 1..65500.
constexpr int32_t nextRecordNo(int64_t counter) {
    return ringStep(ringCounter(counter), 1);
}

// The one or two w_id ranges (inclusive, in ring order) that hold `count` places from `first` on.
std::vector<QPair<int, int>> ringRanges(int first, int count);

// Whole seconds between the reference sample (date and time-of-day as OLE values) and now, as an
// absolute value rounded half-even: a clock set back counts as time passed.
double secondsSince(double todayDate, double nowTime, double recordDate, double recordTime);

}  // namespace store
