#include "mqtt/pacer.h"

namespace mqtt {

std::optional<QByteArray> StatePacer::due(qint64 nowMs) {
    if (!have_) return std::nullopt;
    const bool first = !sentAtMs_;
    const qint64 since = first ? 0 : nowMs - *sentAtMs_;
    // A clock that went back counts as a full gap.
    const bool gapOver = since >= kMinGapMs || since < 0;
    const bool changed = latest_ != sent_;
    if (!first && !(changed && gapOver) && !(since >= kMaxGapMs || since < 0)) return std::nullopt;
    sent_ = latest_;
    sentAtMs_ = nowMs;
    return sent_;
}

std::optional<qint64> StatePacer::waitMs(qint64 nowMs) const {
    if (!have_) return std::nullopt;
    if (!sentAtMs_) return 0;
    const qint64 since = nowMs - *sentAtMs_;
    if (since < 0) return 0;
    if (latest_ != sent_) return std::max<qint64>(0, kMinGapMs - since);
    return std::max<qint64>(0, kMaxGapMs - since);
}

}  // namespace mqtt
