#pragma once
// The sample store: an SQLite file with the ring of sample records (pv_data) and the counter row
// (sl_void). Each owner (the recorder, the main window) has its own connection for its whole life.

#include <QPair>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "store/archivestore.h"
#include "store/database.h"
#include "store/ring.h"
#include "store/sample.h"
#include "store/schema.h"

class QSqlDatabase;
class QSqlQuery;

namespace store {

class SampleStore {
  public:
    // Why the last call failed; lastError() gives the same in words.
    using Fault = store::Fault;

    // How a commit reaches the disk.
    enum class Commit {
        Fast,    // atomic against a crash of the program; a power cut may take the latest commits
        Synced,  // each commit synced before it returns: survives a power cut too (the recorder's)
    };

    // How open() takes the file.
    enum class Access {
        ReadWrite,  // made where missing, with its folder, tables and counter row
        ReadOnly,   // an existing ring only read: nothing is created or changed (the forwarder)
        Record,     // as ReadWrite, and the archive made where missing; the ring's records whose
                    // seconds it lacks are copied in (the recorder's writer, on its own thread:
                    // a first adoption takes seconds)
    };

    // connectionName must be unique per owner. Nothing is opened until open().
    SampleStore(QString path, QString connectionName, Commit commit = Commit::Fast);
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // Opens the file, creating the folder, the file, the tables and the counter row where missing.
    // An archive the file holds is checked too: one of another shape fails the open as the ring's
    // tables do.
    // A file that is not a database, or cannot be opened or written, is never overwritten or
    // deleted: open() then returns false and lastError() says why (in Chinese, for the status bar).
    bool open(Access access = Access::ReadWrite);
    void close();
    bool isOpen() const { return db_.isOpen(); }
    QString lastError() const { return db_.lastError(); }
    Fault lastFault() const { return db_.fault(); }
    QString path() const { return db_.path(); }

    // A read transaction: the reads until endRead() see one snapshot of the file.
    bool beginRead();
    void endRead();
    // The open connection, for a reader that shares this store's read transaction (a CSV export
    // of the same snapshot). Invalid while the store is closed.
    QSqlDatabase database() const;

    // The read calls set lastFault() to None when they succeed.
    // Column 0 of the counter row; nullopt when it cannot be read or holds no number.
    std::optional<int> readCounter();
    // Writes the sample (overwriting the record with its id, or adding it) and sets both counter
    // columns to its id, in one transaction: either both land or neither.
    bool storeSample(const Sample& s);
    // Stores s as the record after the one the counter row names, reading the counter, writing the
    // sample and setting the counter in one transaction, and sets s.id to that number. When the
    // counter row cannot be read (or the transaction cannot begin), fallbackCounter stands for it,
    // so s.id still advances by one.
    bool storeNextSample(Sample& s, int fallbackCounter);
    // Records with first <= w_id <= last (first <= last), ordered by w_date, w_time.
    std::vector<Sample> loadBetween(int first, int last);
    // Records outside first..last, ordered by w_date, w_time (a window across the ring's wrap).
    std::vector<Sample> loadNotBetween(int first, int last);
    // The records at `count` ring places from `first` on, in ring order (wrapping after the last
    // place); empty places are left out. nullopt when they cannot be read.
    std::optional<std::vector<Sample>> loadPlaces(int first, int count);
    // One record by number, nullopt when there is none.
    std::optional<Sample> loadRecord(int id);

    // --- The archive (see archive.h). Every sample the ring takes goes into it in the same
    // transaction; a ring file without one gets one on the recorder's first open, holding a copy
    // of the ring's records, and every later open by the recorder copies the ring's records whose
    // seconds it lacks (written meanwhile by another program); records another program writes
    // while a store writes reach the archive with its next sample. A store opened read-only on a
    // file without an archive has none.
    //
    // Where the file has no archive yet, or an empty one while its ring holds records, the
    // extent, span and second reads below come from the ring instead: its records taken at their
    // local date and time, as the archive would have adopted them.
    bool hasArchive() const { return archive_.hasArchive(); }
    // The same, looking at the file again while it has none (a recorder may have made it since).
    bool findArchive() { return archive_.findArchive(); }
    // The first and last archived second; nullopt when the archive is empty or cannot be read.
    std::optional<QPair<int64_t, int64_t>> archiveExtent() { return archive_.extent(); }
    // The span from..to (UTC seconds, both included) at the finest level whose buckets over the
    // span number at most maxRows: single seconds, or rollup buckets (first/last then say which
    // seconds each holds). Seconds stored stale, and buckets that hold nothing else, are left out;
    // a stale row stands for each stretch of them. Rows in time order; nullopt on a read error.
    std::optional<std::vector<SpanRow>> loadSpan(int64_t from, int64_t to, int maxRows) {
        return archive_.loadSpan(from, to, maxRows);
    }
    // The stretches of seconds stored stale that meet from..to, in time order (none in a file
    // from before stale seconds were marked); nullopt on a read error.
    std::optional<std::vector<StaleSpan>> staleSpans(int64_t from, int64_t to) {
        return archive_.staleSpans(from, to);
    }
    // The archived seconds from..to in time order, each with its stale mark, one call of visit
    // each, without holding them all; visit returns false to stop. False on a read error.
    bool forEachArchived(int64_t from, int64_t to,
                         const std::function<bool(const ArchivedSample&)>& visit) {
        return archive_.forEach(from, to, visit);
    }
    // Adds the samples to the archive and its rollups alone, the ring left as it is, in one
    // transaction: bulk fills of an archive (benchmarks, imports of older records).
    bool archiveBatch(const std::vector<Sample>& samples) { return archive_.addBatch(samples); }
    // The number of archived samples after (at, seq).
    std::optional<int64_t> countArchivedAfter(int64_t at, int64_t seq) {
        return archive_.countAfter(at, seq);
    }
    // Up to limit archived samples after (at, seq), in order (the forwarder's next batch).
    std::optional<std::vector<ArchivedSample>> loadArchivedAfter(int64_t at, int64_t seq,
                                                                 int limit) {
        return archive_.loadAfter(at, seq, limit);
    }
    // What else goes with the archive's oldest days, inside the same transaction: the event
    // log's rows of that time (the event store's removeBefore). False when it fails.
    using AlsoRemove = std::function<bool(Database& db, int64_t before)>;
    // Removes the archived seconds and rollups before `before` (UTC seconds), and what alsoRemove
    // removes, in one transaction. Returns the number of seconds removed. Signed data are never
    // removed: the cut stops at the first second a signature covers (a signed run or span, or
    // the events of a signed review).
    std::optional<int64_t> dropArchiveBefore(int64_t before, const AlsoRemove& alsoRemove = {});
    // The value the archive keeps under key (archive_meta); an empty one where none. nullopt on a
    // read error.
    std::optional<QString> archiveFact(const QString& key);
    bool setArchiveFact(const QString& key, const QString& value);
    // Bytes of the file's pages that are free for reuse.
    std::optional<int64_t> reusableBytes();

  private:
    Commit commit_;
    Database db_;
    ArchiveStore archive_{db_};
    bool opened_ = false;  // open() has run before: a recorder's later opens wait no longer

    // The ring's prepared statements, made once per open() and reused by every call.
    struct Statements;
    std::unique_ptr<Statements> st_;

    bool inspectTables(QStringList* pvColumns, QStringList* counterColumns);
    bool checkShapes(const QStringList& pvColumns, const QStringList& counterColumns);
    bool createTablesAndPrepare(const QStringList& pvColumns, QStringList counterColumns);
    bool prepareStatements(const QStringList& counterColumns);
    bool idIsUniqueKey(const QStringList& pvColumns, bool* unique);
    std::optional<int> counterFrom(QSqlQuery& q);
    bool writeInTransaction(const Sample& s);
    std::vector<Sample> loadWindow(QSqlQuery& q, int first, int last);
};

}  // namespace store
