#include "web/hub.h"

#include <chrono>

namespace web {

void Hub::setChamber(ChamberEntry entry) {
    std::lock_guard lock(mutex_);
    for (ChamberEntry& e : chambers_)
        if (e.name == entry.name) {
            e = std::move(entry);
            return;
        }
    chambers_ << std::move(entry);
}

void Hub::removeChamber(const QString& name) {
    std::lock_guard lock(mutex_);
    chambers_.removeIf([&](const ChamberEntry& e) { return e.name == name; });
}

QList<ChamberEntry> Hub::chambers() const {
    std::lock_guard lock(mutex_);
    return chambers_;
}

std::optional<ChamberEntry> Hub::chamber(const QString& name) const {
    std::lock_guard lock(mutex_);
    for (const ChamberEntry& e : chambers_)
        if (e.name == name) return e;
    return std::nullopt;
}

qint64 Hub::publish(const QByteArray& event, const QByteArray& data) {
    qint64 id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        messages_.push_back({id, event, data});
        while (messages_.size() > kKeep)
            messages_.pop_front();
    }
    changed_.notify_all();
    return id;
}

qint64 Hub::lastId() const {
    std::lock_guard lock(mutex_);
    return nextId_ - 1;
}

QList<StreamMessage> Hub::after(qint64 id, int waitMs, bool* missed) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return closed_ || nextId_ - 1 > id; };
    if (!ready()) changed_.wait_for(lock, std::chrono::milliseconds(waitMs), ready);
    QList<StreamMessage> out;
    if (missed) *missed = !messages_.empty() && messages_.front().id > id + 1;
    for (const StreamMessage& m : messages_)
        if (m.id > id) out << m;
    return out;
}

void Hub::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool Hub::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace web
