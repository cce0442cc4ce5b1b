#include "record/storewriter.h"

#include <utility>

#include "record/ring.h"

namespace record {

StoreWriter::StoreWriter(QString path, QString connectionName)
    : store_(std::move(path), std::move(connectionName), SampleStore::Commit::Synced) {}

void StoreWriter::open() {
    const bool ok = store_.isOpen() || store_.open();
    if (!ok) {
        emit opened(false, store_.lastError(), lastRecordNo_);
        return;
    }
    if (const std::optional<int> counter = store_.readCounter())
        lastRecordNo_ = ringCounter(*counter);
    emit opened(true, {}, lastRecordNo_);
}

void StoreWriter::write(Sample s) {
    if (!store_.isOpen() && !store_.open()) {
        lastRecordNo_ = nextRecordNo(lastRecordNo_);
        emit written(lastRecordNo_, false, store_.lastError());
        return;
    }
    const bool ok = store_.storeNextSample(s, lastRecordNo_);
    lastRecordNo_ = s.id;
    if (ok) {
        emit written(s.id, true, {});
        return;
    }
    const QString error = store_.lastError();
    // A lock is waited out on the open connection; any other fault reopens the file with the next
    // sample, which checks it again from the start.
    if (store_.lastFault() != SampleStore::Fault::Locked) store_.close();
    emit written(s.id, false, error);
}

void StoreWriter::close() {
    store_.close();
}

}  // namespace record
