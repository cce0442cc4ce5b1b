#include "store/storewriter.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStorageInfo>
#include <utility>

#include "store/ring.h"

namespace store {

namespace {
const QString kRetentionKey = QStringLiteral("retention");
// The retention policy is looked at once an hour of samples, and with every sample while it is
// still removing days.
constexpr int kRetentionInterval = 3600;
// Held samples written with each new one once the file takes them again: a day's backlog is
// caught up within a few minutes, and no single sample waits long behind it.
constexpr int kCatchUpPerSample = 600;
}  // namespace

StoreWriter::StoreWriter(QString path, QString connectionName)
    : store_(std::move(path), std::move(connectionName), SampleStore::Commit::Synced) {}

void StoreWriter::open() {
    const bool ok = store_.isOpen() || store_.open(SampleStore::Access::Record);
    if (!ok) {
        emit opened(false, store_.lastError(), lastRecordNo_);
        return;
    }
    if (const std::optional<int> counter = store_.readCounter())
        lastRecordNo_ = ringCounter(*counter);
    emit opened(true, {}, lastRecordNo_);
    writesToRetention_ = 0;
}

// The sample joins the samples waiting in memory, and as many of them as the file takes go in,
// oldest first, each with its own time.
void StoreWriter::write(Sample s) {
    held_.push_back(s);
    if (held_.size() > kMaxHeld) {
        held_.pop_front();
        ++dropped_;
    }
    if (!store_.isOpen() && !store_.open(SampleStore::Access::Record)) {
        lastRecordNo_ = nextRecordNo(lastRecordNo_);
        emit written(lastRecordNo_, false, store_.lastError(), int(held_.size()));
        return;
    }
    bool ok = true;
    for (int budget = kCatchUpPerSample; ok && !held_.empty() && budget > 0; --budget) {
        Sample next = held_.front();
        ok = store_.storeNextSample(next, lastRecordNo_);
        lastRecordNo_ = next.id;
        if (ok) held_.pop_front();
    }
    if (ok) {
        if (dropped_ > 0 && held_.empty()) {
            emit archiveNote(kSamplesDroppedCode, {QString::number(dropped_)});
            dropped_ = 0;
        }
        emit written(lastRecordNo_, true, {}, int(held_.size()));
        if (--writesToRetention_ <= 0) applyRetention();
        return;
    }
    const QString error = store_.lastError();
    // A lock is waited out on the open connection; any other fault reopens the file with the next
    // sample, which checks it again from the start.
    if (store_.lastFault() != SampleStore::Fault::Locked) store_.close();
    emit written(lastRecordNo_, false, error, int(held_.size()));
}

void StoreWriter::applyRetention() {
    writesToRetention_ = kRetentionInterval;
    if (!store_.isOpen() || !store_.hasArchive()) return;
    // A policy other than the one the file kept (the settings file edited, a new option) is a
    // change the event log records.
    const QString policy = retentionText(retention_);
    if (const std::optional<QString> kept = store_.archiveFact(kRetentionKey);
        kept && *kept != policy && store_.setArchiveFact(kRetentionKey, policy) && !kept->isEmpty())
        emit archiveNote(kRetentionChangedCode, {*kept, policy});
    const std::optional<QPair<int64_t, int64_t>> extent = store_.archiveExtent();
    if (!extent) return;
    const std::optional<int64_t> reusable = store_.reusableBytes();
    const int64_t freeBytes =
        QStorageInfo(QFileInfo(store_.path()).absolutePath()).bytesAvailable() +
        reusable.value_or(0);
    const QDate oldest = QDateTime::fromSecsSinceEpoch(extent->first).date();
    const std::optional<DayToDrop> drop =
        dayToDrop(retention_, QDate::currentDate(), oldest, freeBytes);
    if (!drop) return;
    const int64_t cut = QDateTime(drop->day.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    // The event log keeps its rows at least as long as the samples, longer where the policy says.
    const int64_t eventsKeptFrom = auditKeptFrom(retention_, QDate::currentDate());
    SampleStore::AlsoRemove alsoRemove;
    if (alsoRemove_)
        alsoRemove = [&](Database& db, int64_t before) {
            return alsoRemove_(db, std::min(before, eventsKeptFrom));
        };
    const std::optional<int64_t> removed = store_.dropArchiveBefore(cut, alsoRemove);
    // Nothing removed: the oldest seconds are signed, and stay until the next look.
    if (removed && *removed > 0) {
        emit archiveNote(kDayDroppedCode, droppedDayArgs(*drop, *removed, retention_));
        writesToRetention_ = 1;
    }
}

void StoreWriter::close() {
    store_.close();
}

}  // namespace store
