#pragma once
// The archive beside the ring: every sample ever stored, one row per second, never overwritten,
// kept until the retention limit. Rows are keyed by the sample's time in UTC seconds since
// 1970 and an insertion sequence, so a clock set back (or the repeated hour when daylight saving
// ends) adds rows beside the ones already there instead of overwriting them. Rollups hold the
// minimum, maximum and sum of each value per minute, per ten minutes and per hour, kept up to date
// as samples arrive, so a long span is read from a few thousand rows.

#include <QVariant>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "store/schema.h"

namespace store {

// One second of the archive as read back.
struct ArchivedSample {
    int64_t at = 0;   // UTC seconds since 1970
    int64_t seq = 0;  // 0, or 1, 2 ... for further samples of the same second (clock set back)
    std::array<float, schema::kValueCount> values{};
    bool stale = false;  // stored while the instrument's values were stale: not a reading
};

// One row of a span: one archived second, or one rollup bucket of several. A stale row holds no
// values: it says that the seconds first..last were stored while the instrument's values were
// stale, so they are no readings (a drawing leaves them out and breaks its line there).
struct SpanRow {
    int64_t first = 0;  // UTC seconds of the first sample the row holds
    int64_t last = 0;   // of the last (== first for a single second)
    int count = 0;      // samples in the row
    std::array<float, schema::kValueCount> min{}, max{}, mean{};
    bool stale = false;
};

// A stretch of stale seconds, first..last, both included.
using StaleSpan = std::pair<int64_t, int64_t>;

// Whether t lies in one of spans (in time order, not overlapping), moving *next past the spans
// that end before t; a caller asking for t in rising order walks the list once.
inline bool inStaleSpan(const std::vector<StaleSpan>& spans, size_t* next, int64_t t) {
    while (*next < spans.size() && spans[*next].second < t)
        ++*next;
    return *next < spans.size() && spans[*next].first <= t;
}

namespace archive {

// Rollup levels: bucket widths in seconds, finest first. Level 0 (one second) is the archive.
inline constexpr std::array<int64_t, 4> kLevelSeconds = {1, 60, 600, 3600};

// A rollup bucket being summed: its samples, first and last second, and per value the minimum,
// maximum and sum.
struct Bucket {
    int count = 0;
    int64_t first = 0, last = 0;
    std::array<double, schema::kValueCount> min{}, max{}, sum{};

    void add(int64_t at, const std::array<float, schema::kValueCount>& values) {
        for (int k = 0; k < schema::kValueCount; ++k) {
            const double v = values[k];
            min[k] = count == 0 ? v : std::min(min[k], v);
            max[k] = count == 0 ? v : std::max(max[k], v);
            sum[k] += v;
        }
        first = count == 0 ? at : std::min(first, at);
        last = count == 0 ? at : std::max(last, at);
        ++count;
    }
};

// A value as the archive keeps it: a float that is an exact multiple of 0.01 (as nearly every
// instrument value is: the decimal point shifts an integer register) as that multiple, an
// INTEGER of one to three bytes; any other value as the float itself (REAL). The columns carry no
// type affinity, so SQLite keeps each as given and the reader tells them apart by type.
inline QVariant encodeValue(float v) {
    if (std::isfinite(v)) {
        const double scaled = std::nearbyint(static_cast<double>(v) * 100.0);
        if (std::fabs(scaled) < 9.0e15 && static_cast<float>(scaled / 100.0) == v)
            return QVariant(static_cast<qlonglong>(scaled));
    }
    return QVariant(static_cast<double>(v));
}

inline float decodeValue(const QVariant& stored) {
    if (stored.typeId() == QMetaType::LongLong || stored.typeId() == QMetaType::Int)
        return static_cast<float>(stored.toLongLong() / 100.0);
    return static_cast<float>(stored.toDouble());
}

}  // namespace archive
}  // namespace store
