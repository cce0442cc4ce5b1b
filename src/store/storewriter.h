#pragma once
// The recorder's half that touches the disk. It lives on a thread of its own and takes its work
// through queued calls: opening the sample store, writing one sample as the next record of the
// ring (the sample and its counter row in one transaction, checkpoints included), closing. Every
// outcome goes back to the recorder as a signal.

#include <QObject>
#include <QString>
#include <cstdint>
#include <deque>

#include "store/retention.h"
#include "store/store.h"

namespace store {

class StoreWriter : public QObject {
    Q_OBJECT
  public:
    StoreWriter(QString path, QString connectionName);

    // All three run on the writer's thread.
    void open();
    // Stores s as the next record. A closed store is opened first, so an unusable file is tried
    // again with every sample, that is once a second.
    void write(Sample s);
    void close();
    void setRetention(const RetentionPolicy& policy) { retention_ = policy; }
    void setAlsoRemove(const SampleStore::AlsoRemove& alsoRemove) { alsoRemove_ = alsoRemove; }
    // Drops the archive's oldest day when the retention policy asks for it: at most one day per
    // call, so that the samples behind it wait no longer than one day's removal.
    void applyRetention();

  signals:
    // recordNo: the latest record as the counter row names it, or the last one known.
    void opened(bool ok, QString error, int recordNo);
    // recordNo is the number the sample was given; while it cannot be stored the number still
    // advances from the last one known, and follows the file's counter again once it can.
    // waiting: samples held in memory for the file, this one included when it was not stored.
    void written(int recordNo, bool stored, QString error, int waiting);
    // A line for the event log: the archive let a day go, or held samples were let go.
    void archiveNote(const QString& code, const QStringList& args);

  private:
    SampleStore store_;
    int32_t lastRecordNo_ = 0;
    // Samples the file has not taken yet (full disk, file locked or unusable), in order. Bounded
    // to a day of samples, about 6 MB; beyond it the oldest are let go and counted.
    static constexpr size_t kMaxHeld = 86400;
    std::deque<Sample> held_;
    int64_t dropped_ = 0;
    RetentionPolicy retention_;
    SampleStore::AlsoRemove alsoRemove_;
    int writesToRetention_ = 0;  // samples until the next look at the retention policy
};

}  // namespace store
