#include "service/linewatch.h"

namespace service {

LineWatch::LineWatch(std::function<qint64()> now, qint64 stuckMs)
    : now_(std::move(now)), stuckMs_(stuckMs) {}

bool LineWatch::check(const std::vector<Target>& lines) {
    const qint64 now = now_();
    std::map<const void*, Watched> kept;
    stuck_ = 0;
    for (const Target& line : lines) {
        auto it = lines_.find(line.key);
        Watched w = it != lines_.end() ? it->second : Watched{};
        if (w.answered && !w.answered->load()) {
            if (now - w.postedAt > stuckMs_) ++stuck_;
            kept[line.key] = w;
            continue;
        }
        w.answered = std::make_shared<std::atomic<bool>>(false);
        w.postedAt = now;
        // A line without a thread has nothing to get stuck in.
        if (!line.post([answered = w.answered] { answered->store(true); })) continue;
        kept[line.key] = w;
    }
    lines_ = std::move(kept);
    return stuck_ == 0;
}

}  // namespace service
