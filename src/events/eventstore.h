#pragma once
// The event log's table in the sample database file: events (id, at, kind, text, reg, value,
// status, code, args, at_ms, hash, and the audit trail's user_id, old_value, new_value, reason,
// utc_offset). It is the audit trail: no row is dropped for a row count; the
// archive's retention removes the rows of the days it removes. One connection per owner, used on
// one thread; the writer runs on a thread of its own, the command-line export opens the file
// read-only.

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "events/eventrules.h"
#include "store/database.h"

class QSqlError;

class QIODevice;
class QSqlQuery;

namespace events {

struct EventFilter {
    QStringList kinds;              // empty: every kind
    std::optional<QDateTime> from;  // inclusive
    std::optional<QDateTime> to;    // inclusive, to the end of its second
    int limit = 0;                  // 0: no limit
    bool newestFirst = true;
    qint64 afterId = 0;    // rows with a higher id only; 0: every row
    QString user{};        // the rows of this user id only; empty: every row
    bool audited = false;  // only rows with a user, an old or new value, or a reason
};

class EventStore {
  public:
    EventStore(QString path, QString connectionName);
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // Opens the file and makes the events table where it is missing. A file that is not a
    // database, is read-only, locked or damaged, or holds tables of another shape is never
    // changed: open() returns false and lastError() says why, in the words of the sample store.
    // readOnly: the file must exist and is only read (the command-line export).
    bool open(bool readOnly = false);
    void close();
    bool isOpen() const { return db_.isOpen(); }
    QString lastError() const { return db_.lastError(); }
    store::Fault fault() const { return db_.fault(); }
    QString path() const { return db_.path(); }

    // Stores the entries in one transaction and sets their ids.
    // On failure nothing is stored and the entries keep id 0. alongside, when given, writes what
    // belongs with the entries into the same transaction (a signature and its row commit
    // together); its false stores nothing.
    // Leaves out the copied entries whose code, moment and user are stored already, and those
    // older than a trimmed log's oldest row (copied before retention took them).
    bool dropCopiesStored(std::vector<EventEntry>& entries);
    bool append(std::vector<EventEntry>& entries,
                const std::function<bool(store::Database&)>& alongside = {});

    // A read transaction: the reads until endRead() see one snapshot of the file.
    bool beginRead();
    void endRead();
    // Whether the events table exists yet (the event log makes it).
    bool hasTable();
    // The lowest and highest id the table holds; nullopt while it is empty or missing.
    std::optional<QPair<qint64, qint64>> idSpan();
    // The number of rows that pass the filter (its limit aside); nullopt on a read error.
    std::optional<qint64> count(const EventFilter& filter);

    // Inside the caller's transaction on db (the archive's retention): the rows older than
    // `before` (UTC seconds) removed, where the file has the table. False with db's fault.
    static bool removeBefore(store::Database& db, int64_t before);

    // Rows that pass the filter, in time order or newest first.
    std::vector<EventEntry> load(const EventFilter& filter);
    // The same, one row at a time, without holding them all (exports); false on a read error.
    bool forEach(const EventFilter& filter, const std::function<void(const EventEntry&)>& visit);

  private:
    // Inside the caller's transaction on db: the entries stored, chained on from the newest row.
    static bool appendIn(store::Database& db, std::vector<EventEntry>& entries);
    static bool nameAnchors(store::Database& db);
    bool prepareTable(bool readOnly);
    // Runs the filter's query for the columns, one call of visit per row.
    bool query(const QString& columns, const EventFilter& filter,
               const std::function<void(const QSqlQuery&)>& visit);

    store::Database db_;
};

}  // namespace events

namespace events {

// Writes the rows that pass the filter as CSV, oldest first: UTF-8 with a byte-order mark, comma
// separated, CRLF line ends, one header row. Returns the number of rows, or -1 when the store
// could not be read or the device not written. After the row's own columns come the audit trail's
// (user, old and new value, reason, the time with its offset from UTC).
qint64 writeEventsCsv(EventStore& store, EventFilter filter, QIODevice& out);

}  // namespace events
