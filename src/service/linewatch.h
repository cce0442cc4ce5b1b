#pragma once
// Whether every line's thread still takes work: each check hands every line a probe behind the
// exchange in flight, and a probe that has waited longer than any exchange with its time-outs
// takes means the thread is stuck in a call that does not return.

#include <QtGlobal>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace service {

class LineWatch {
  public:
    // Runs fn on the line's thread behind what was handed to it before; false when the line has
    // no thread any more (shut down).
    using Post = std::function<bool(std::function<void()> fn)>;
    struct Target {
        const void* key;  // the same key in the next check is the same line
        Post post;
    };
    // now: a monotonic clock in milliseconds.
    LineWatch(std::function<qint64()> now, qint64 stuckMs);

    // Hands each line whose last probe came back a new one; lines not listed are forgotten.
    // True when no line's probe has waited longer than stuckMs.
    bool check(const std::vector<Target>& lines);
    // The lines stuck at the last check.
    int stuckCount() const { return stuck_; }

  private:
    struct Watched {
        std::shared_ptr<std::atomic<bool>> answered;
        qint64 postedAt = 0;
    };
    std::function<qint64()> now_;
    qint64 stuckMs_;
    std::map<const void*, Watched> lines_;
    int stuck_ = 0;
};

}  // namespace service
