#pragma once
// The arithmetic of the record ring and of the recorder's once-a-second rule, free of timers and
// of the database so that it can be checked on its own.

#include <cstdint>

namespace record {

// The record number the counter row stands for: a counter outside 0..65499 (65500 and above, or
// negative, which would otherwise number records outside the ring) counts as 0.
constexpr int32_t ringCounter(int64_t counter) {
    return (counter < 0 || counter >= 65500) ? 0 : static_cast<int32_t>(counter);
}

// The number of the record after the one the counter names: 1..65500.
constexpr int32_t nextRecordNo(int64_t counter) {
    return ringCounter(counter) + 1;
}

// Whole seconds between the reference sample (date and time-of-day as OLE values) and now, as an
// absolute value rounded half-even: a clock set back counts as time passed.
double secondsSince(double todayDate, double nowTime, double recordDate, double recordTime);

}  // namespace record
