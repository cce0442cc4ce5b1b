#pragma once
// The archive's tables in the sample file (see archive.h): made beside a ring that has none, the
// ring's records adopted into it, its spans and batches read, its oldest days removed. It works
// on the sample store's connection and inside its transactions, so that a sample reaches the ring
// and the archive together, and reports its faults through that database.

#include <QPair>
#include <QStringList>
#include <QVariantList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "store/archive.h"
#include "store/database.h"
#include "store/sample.h"

namespace store {

class RawQuery;

class ArchiveStore {
  public:
    explicit ArchiveStore(Database& db);
    ~ArchiveStore();
    ArchiveStore(const ArchiveStore&) = delete;
    ArchiveStore& operator=(const ArchiveStore&) = delete;

    // Looks at the archive's three tables once the file is open. readOnly: takes an archive
    // that is there; otherwise makes a missing one and copies in the ring's records whose seconds
    // it lacks. Tables of another shape fail with WrongTables and stay as they are.
    bool inspect(bool readOnly);
    // Forgets the statements before the connection closes.
    void reset();

    bool hasArchive() const { return hasArchive_; }
    bool findArchive();
    std::optional<QPair<int64_t, int64_t>> extent();
    std::optional<std::vector<SpanRow>> loadSpan(int64_t from, int64_t to, int maxRows);
    std::optional<std::vector<StaleSpan>> staleSpans(int64_t from, int64_t to);
    bool forEach(int64_t from, int64_t to, const std::function<bool(const ArchivedSample&)>& visit);
    bool addBatch(const std::vector<Sample>& samples);
    std::optional<int64_t> countAfter(int64_t at, int64_t seq);
    std::optional<std::vector<ArchivedSample>> loadAfter(int64_t at, int64_t seq, int limit);

    // Inside the caller's transaction: the sample into the archive and its rollups.
    bool add(const Sample& s);
    // Inside the caller's transaction: the ring's record `recordNo` has reached the archive, with
    // every one before it. At the next open the records written after it (by another program)
    // are adopted, whatever their times.
    bool noteRingRecord(int recordNo);
    // Inside the caller's transaction, before a record is written after the ring's counter: the
    // records another program wrote since the ring's mark, whatever their times, into the archive
    // now, as the next open would take them. Nothing to do where the mark names the counter.
    bool catchUpRing();
    // Inside the caller's transaction: the seconds, rollups and stale marks before `before` (UTC
    // seconds) removed, the buckets that straddle it made again. The number of seconds removed.
    std::optional<int64_t> removeBefore(int64_t before);

  private:
    bool ready();
    bool prepare();
    bool adoptRing();
    bool ringStandsIn(bool* fromRing);
    // places: a further condition on the records' w_id ("AND ..."), or none.
    std::optional<std::vector<Sample>> ringRecords(const QString& places = QString());
    bool adoptSince(int lastRecordNo, std::vector<Sample>* missing);
    std::optional<int> ringCounterRow();
    std::optional<std::vector<ArchivedSample>> ringSeconds(int64_t from, int64_t to);
    bool archivedSeconds(int64_t from, int64_t to,
                         const std::function<bool(const ArchivedSample&)>& visit);
    bool readRows(RawQuery& q, const std::function<bool(const RawQuery&)>& visit);
    bool rebuildBuckets(int64_t cut);
    bool addSecond(const Sample& s);
    bool addMarkedSecond(const Sample& s, int64_t at);
    bool addMany(const std::vector<Sample>& samples);
    bool mergeBucket(int level, int64_t t, const archive::Bucket& b);
    bool markStale(int64_t at);
    bool findStaleTable();
    bool findHoursTable();
    bool chainSecond(int64_t at, const QVariantList& values);
    bool chainDigest(int64_t at, const QByteArray& digest, bool counted);
    bool chainStale(int64_t at, int64_t marks);
    bool recordHours();
    bool rechainAfter(int64_t hour, QByteArray previous, int64_t* newest, QByteArray* newestHash);
    bool digestSeconds(int64_t from, int64_t to, int64_t* count, QByteArray* sum);
    bool anchorHours(int64_t before);

    Database& db_;
    bool hasArchive_ = false;
    bool hasStaleTable_ = false;
    bool hasHoursTable_ = false;  // archive_hours: the hours' hash chain (made by a writer)
    // Where the hours' chain stood before the seconds not yet in the file's record of it, and
    // where they took it.
    struct HoursRecord {
        bool headRead = false, pending = false;
        int64_t headHour = 0, firstHour = 0, newest = 0;
        QByteArray headHash, newestHash;
    };
    HoursRecord record_;
    bool batching_ = false;  // addMany(): the record moves once at the end
    // The prepared statements, made once the file has an archive and let go before it closes.
    struct Statements;
    std::unique_ptr<Statements> st_;
};

}  // namespace store
