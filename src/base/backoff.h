#pragma once
// The pause before the next attempt after a run of failures: firstMs after the first, doubling
// with each further failure, never more than capMs; no pause before any failure.

#include <QtGlobal>

namespace base {

struct Backoff {
    qint64 firstMs;
    qint64 capMs;

    constexpr qint64 delayMs(int failures) const {
        if (failures <= 0) return 0;
        const int shift = failures - 1 < 30 ? failures - 1 : 30;
        const qint64 d = firstMs << shift;
        return d < capMs ? d : capMs;
    }
};

}  // namespace base
