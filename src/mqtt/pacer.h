#pragma once
// When a chamber's retained state goes out: at once after (re)connecting, then at most once a
// second while it changes and at least once a minute while it does not. Times are milliseconds of
// a monotonic clock the caller reads, so that a test can drive it.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace mqtt {

class StatePacer {
  public:
    static constexpr qint64 kMinGapMs = 1000;
    static constexpr qint64 kMaxGapMs = 60 * 1000;

    // The chamber's newest state.
    void offer(const QByteArray& payload) {
        latest_ = payload;
        have_ = true;
    }
    // The payload to publish now, if any; it counts as sent.
    std::optional<QByteArray> due(qint64 nowMs);
    // The connection was (re)made: the state goes out at the next due().
    void restart() { sentAtMs_.reset(); }
    // Milliseconds until due() may give something, for the caller's timer; nullopt: nothing
    // waits but the minute's repeat.
    std::optional<qint64> waitMs(qint64 nowMs) const;

  private:
    QByteArray latest_;
    QByteArray sent_;
    bool have_ = false;
    std::optional<qint64> sentAtMs_;
};

}  // namespace mqtt
