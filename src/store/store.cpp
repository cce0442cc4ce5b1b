#include "store/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <utility>

#include "base/numberrule.h"
#include "store/logging.h"
#include "store/ring.h"

namespace store {

namespace {

// The first second a signature covers: the start of a signed run, a signed span or the events
// of a signed review; the largest value where nothing is signed. nullopt with db's fault.
std::optional<int64_t> firstSignedSecond(Database& db) {
    if (!db.hasTable(QStringLiteral("signatures"))) {
        if (db.fault() != Fault::None) return std::nullopt;
        return std::numeric_limits<int64_t>::max();
    }
    const bool runs = db.hasTable(QStringLiteral("runs"));
    // Subjects an administrator released to retention (a chained row of the event log) no longer
    // hold their seconds.
    const bool events = db.hasTable(QStringLiteral("events"));
    if (db.fault() != Fault::None) return std::nullopt;
    const QString released =
        events ? QStringLiteral(
                     " WHERE subject NOT IN (SELECT json_extract(args, '$[0]') FROM "
                     "events WHERE code = 'retention.released' AND args IS NOT NULL)")
               : QString();
    QSqlQuery q(db.db());
    const QString run = runs ? QStringLiteral(
                                   "WHEN subject LIKE 'run:%' THEN (SELECT start_t FROM runs WHERE "
                                   "id = CAST(substr(subject, 5) AS INTEGER))")
                             : QString();
    if (!q.exec(QStringLiteral("SELECT min(CASE %1 WHEN subject LIKE 'span:%' OR subject LIKE "
                               "'audit:%' THEN CAST(substr(subject, instr(subject, ':') + 1) AS "
                               "INTEGER) END) FROM signatures%2")
                    .arg(run, released)) ||
        !q.next()) {
        db.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.value(0).isNull() ? std::numeric_limits<int64_t>::max() : q.value(0).toLongLong();
}

// A lock held elsewhere is waited for only this long: the chart reads on the UI thread, and the
// recorder's writer reports a locked file and tries again next second rather than queue up.
constexpr int kBusyTimeoutMs = 5;
// The recorder's writer, opening the file on its own thread for the first time, waits longer: the
// program's other connections (event log, runs, the chart) open the same file at start-up, and
// while an original file is not in WAL mode yet a reader of theirs holds off the switch and the
// tables' creation for a moment. That is no other program's lock. Later opens (retries once a
// second) wait as little as the writes do, so a lock of another program is reported at once.
constexpr int kRecorderFirstOpenBusyTimeoutMs = 1000;

float floatAt(const QSqlQuery& q, int column) {
    return static_cast<float>(q.value(column).toDouble());
}

Sample sampleFrom(const QSqlQuery& q) {
    Sample s;
    s.id = q.value(0).toInt();
    s.date = q.value(1).toDouble();
    s.time = q.value(2).toDouble();
    for (int c = 0; c < schema::kValueCount; ++c)
        s.values[c] = floatAt(q, schema::kFirstValueColumn + c);
    return s;
}

}  // namespace

struct SampleStore::Statements {
    QSqlQuery counter, setCounter, addCounter;
    QSqlQuery put, record, between, notBetween, places;
    explicit Statements(const QSqlDatabase& d)
        : counter(d),
          setCounter(d),
          addCounter(d),
          put(d),
          record(d),
          between(d),
          notBetween(d),
          places(d) {}
};

SampleStore::SampleStore(QString path, QString connectionName, Commit commit)
    : commit_(commit), db_(std::move(path), std::move(connectionName)) {}

SampleStore::~SampleStore() {
    close();
}

bool SampleStore::open(Access access) {
    close();
    const bool readOnly = access == Access::ReadOnly;
    // Patient from the first look at the tables on: another connection of the program making the
    // file's tables holds it for a moment right then.
    const bool patient = access == Access::Record && !opened_;
    if (!db_.open(readOnly ? FileAccess::ReadOnly : FileAccess::Create,
                  patient ? kRecorderFirstOpenBusyTimeoutMs : kBusyTimeoutMs))
        return false;
    st_ = std::make_unique<Statements>(db_.db());
    opened_ = true;
    const auto failed = [this] {
        const Fault f = db_.fault();
        close();
        return db_.fail(f);
    };

    // The tables are looked at before anything is written: a file that is not the ring's is left
    // exactly as it was, not even switched to WAL.
    QStringList pvColumns, counterColumns;
    bool usable = inspectTables(&pvColumns, &counterColumns);
    if (usable && readOnly) {
        // A file read only must hold the ring already.
        usable =
            (!pvColumns.isEmpty() && !counterColumns.isEmpty()) || db_.fail(Fault::WrongTables);
        usable = usable && (prepareStatements(counterColumns) || db_.fail(Fault::Other));
    }
    usable = usable && archive_.inspect(true);
    if (!usable) return failed();
    if (readOnly) return true;

    // WAL lets the chart read while the recorder writes. With synchronous=FULL the log is synced
    // at every commit, so a sample the recorder reported as stored survives a power cut; the cost
    // (one sync a second) is paid on the recorder's own thread. NORMAL, for readers and bulk
    // writers, is atomic against a crash of the program and syncs only at checkpoints.
    if (!db_.useWal(commit_ == Commit::Synced)) return failed();
    // Small checkpoints keep the log, and so the files on disk, small: about every 100 samples.
    QSqlQuery q(db_.db());
    q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=250"));
    q.exec(QStringLiteral("PRAGMA journal_size_limit=1048576"));
    q = QSqlQuery();

    if (!createTablesAndPrepare(pvColumns, counterColumns) ||
        (access == Access::Record && !archive_.inspect(false)))
        return failed();
    if (patient) db_.setBusyTimeout(kBusyTimeoutMs);
    return db_.succeed();
}

bool SampleStore::inspectTables(QStringList* pvColumns, QStringList* counterColumns) {
    if (!db_.columns(QStringLiteral("pv_data"), pvColumns)) return false;
    if (!db_.columns(QStringLiteral("sl_void"), counterColumns)) return false;
    return checkShapes(*pvColumns, *counterColumns);
}

bool SampleStore::checkShapes(const QStringList& pvColumns, const QStringList& counterColumns) {
    // Tables of another shape are reported and left alone (the database checked pv_data's).
    if (!counterColumns.isEmpty() && counterColumns.size() < 2) return db_.fail(Fault::WrongTables);
    // Without a unique w_id the ring's replace would add a row every second and never overwrite.
    if (!pvColumns.isEmpty()) {
        bool unique = false;
        if (!idIsUniqueKey(pvColumns, &unique)) return false;
        if (!unique) return db_.fail(Fault::IdNotUnique);
    }
    return true;
}

bool SampleStore::createTablesAndPrepare(const QStringList& pvColumns, QStringList counterColumns) {
    const auto run = [&](QSqlQuery& q, const QString& sql) {
        return q.exec(sql) || db_.failFromSql(q.lastError());
    };
    QSqlQuery q(db_.db());
    if (!run(q, QStringLiteral("SELECT count(*) FROM sqlite_master"))) return false;
    q.finish();

    const bool needTables = pvColumns.isEmpty() || counterColumns.isEmpty();
    bool needRow = true;
    if (!counterColumns.isEmpty()) {
        if (!run(q, QStringLiteral("SELECT count(*) FROM sl_void"))) return false;
        needRow = !q.next() || q.value(0).toLongLong() == 0;
        q.finish();
    }
    if (needTables || needRow) {
        Transaction make(db_);
        if (!make.ok()) return false;
        QStringList sql;
        if (pvColumns.isEmpty()) sql << schema::createSamplesTableSql();
        if (counterColumns.isEmpty()) sql << schema::kCreateCounterTableSql;
        // Checked again inside the transaction: another program may have made the row meanwhile.
        sql << QStringLiteral(
            "INSERT INTO sl_void (last_id, last_id_copy, spare) SELECT 0, 0, 0 "
            "WHERE NOT EXISTS (SELECT 1 FROM sl_void)");
        if (!counterColumns.isEmpty()) {
            sql.last() = QStringLiteral(
                             "INSERT INTO sl_void (%1, %2) SELECT 0, 0 WHERE NOT EXISTS "
                             "(SELECT 1 FROM sl_void)")
                             .arg(counterColumns[0], counterColumns[1]);
        }
        for (const QString& s : sql) {
            if (!run(q, s)) return false;
        }
        q.finish();
        if (!make.commit()) return false;
        if (counterColumns.isEmpty())
            counterColumns = {QStringLiteral("last_id"), QStringLiteral("last_id_copy")};
    }
    q = QSqlQuery();
    return prepareStatements(counterColumns) || db_.fail(Fault::Other);
}

bool SampleStore::prepareStatements(const QStringList& counterColumns) {
    Statements& c = *st_;
    // The counter row is the first row of sl_void; its first two columns hold the latest number.
    const QString& row = schema::kCounterRowCondition;
    const bool ok =
        c.counter.prepare(QStringLiteral("SELECT * FROM sl_void WHERE %1").arg(row)) &&
        c.setCounter.prepare(QStringLiteral("UPDATE sl_void SET %1 = ?, %2 = ? WHERE %3")
                                 .arg(counterColumns[0], counterColumns[1], row)) &&
        c.addCounter.prepare(QStringLiteral("INSERT INTO sl_void (%1, %2) VALUES (?, ?)")
                                 .arg(counterColumns[0], counterColumns[1])) &&
        c.put.prepare(QStringLiteral(
            "INSERT OR REPLACE INTO pv_data VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")) &&
        c.record.prepare(QStringLiteral("SELECT * FROM pv_data WHERE w_id = ?")) &&
        c.between.prepare(QStringLiteral(
            "SELECT * FROM pv_data WHERE w_id BETWEEN ? AND ? ORDER BY w_date, w_time")) &&
        // NOT BETWEEN written as two ranges, which SQLite reads from the key instead of
        // scanning the whole ring.
        c.notBetween.prepare(QStringLiteral(
            "SELECT * FROM pv_data WHERE w_id < ? OR w_id > ? ORDER BY w_date, w_time")) &&
        c.places.prepare(
            QStringLiteral("SELECT * FROM pv_data WHERE w_id BETWEEN ? AND ? ORDER BY w_id"));
    if (!ok) return false;
    for (QSqlQuery* p : {&c.counter, &c.record, &c.between, &c.notBetween, &c.places})
        p->setForwardOnly(true);
    return true;
}

bool SampleStore::idIsUniqueKey(const QStringList& pvColumns, bool* unique) {
    QSqlQuery q(db_.db());
    const QString id = pvColumns[0];
    // The primary key, when it is w_id alone (also the INTEGER PRIMARY KEY the store creates).
    if (!q.exec(QStringLiteral("PRAGMA table_info(pv_data)")))
        return db_.failFromSql(q.lastError());
    int keyColumns = 0;
    bool idInKey = false;
    while (q.next()) {
        if (q.value(5).toInt() > 0) {
            ++keyColumns;
            idInKey = idInKey || q.value(1).toString().compare(id, Qt::CaseInsensitive) == 0;
        }
    }
    if (keyColumns == 1 && idInKey) {
        *unique = true;
        return true;
    }
    // Or a unique index over w_id alone that covers every row (not a partial one).
    if (!q.exec(QStringLiteral("PRAGMA index_list(pv_data)")))
        return db_.failFromSql(q.lastError());
    QStringList candidates;
    while (q.next()) {
        if (q.value(2).toInt() == 1 && q.value(4).toInt() == 0) candidates << q.value(1).toString();
    }
    for (const QString& index : candidates) {
        QString escaped = index;
        escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        if (!q.exec(QStringLiteral("PRAGMA index_info(\"%1\")").arg(escaped)))
            return db_.failFromSql(q.lastError());
        QStringList columns;
        while (q.next())
            columns << q.value(2).toString();
        if (columns.size() == 1 && columns[0].compare(id, Qt::CaseInsensitive) == 0) {
            *unique = true;
            return true;
        }
    }
    *unique = false;
    return true;
}

void SampleStore::close() {
    st_.reset();
    archive_.reset();
    db_.close();
}

bool SampleStore::beginRead() {
    return db_.beginRead();
}

void SampleStore::endRead() {
    db_.endRead();
}

QSqlDatabase SampleStore::database() const {
    return db_.isOpen() ? db_.db() : QSqlDatabase();
}

std::optional<int> SampleStore::readCounter() {
    if (!db_.ready()) return std::nullopt;
    return counterFrom(st_->counter);
}

std::optional<int> SampleStore::counterFrom(QSqlQuery& q) {
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    std::optional<int> result;
    if (q.next()) {
        const QVariant v = q.value(0);
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!v.isNull() && ok) result = base::roundToInt32(d);
    } else if (q.lastError().isValid()) {
        db_.failFromSql(q.lastError());
    }
    q.finish();
    return result;
}

bool SampleStore::storeSample(const Sample& s) {
    Transaction t(db_);
    return t.ok() && writeInTransaction(s) && t.commit() && db_.succeed();
}

bool SampleStore::storeNextSample(Sample& s, int fallbackCounter) {
    s.id = nextRecordNo(fallbackCounter);
    Transaction t(db_);
    if (!t.ok()) return false;
    // Read under the write lock: no other writer can move the counter between here and the commit.
    if (const std::optional<int> counter = counterFrom(st_->counter)) s.id = nextRecordNo(*counter);
    return writeInTransaction(s) && t.commit() && db_.succeed();
}

// Runs inside the caller's transaction: the sample, the counter row and the archive's rows.
bool SampleStore::writeInTransaction(const Sample& s) {
    // Records another program put into the ring meanwhile reach the archive before this one moves
    // the ring's mark past them.
    if (archive_.hasArchive() && !archive_.catchUpRing()) return false;
    Statements& c = *st_;
    c.put.bindValue(0, s.id);
    c.put.bindValue(1, s.date);
    c.put.bindValue(2, s.time);
    for (int k = 0; k < 10; ++k)
        c.put.bindValue(3 + k, static_cast<double>(s.values[k]));
    if (!c.put.exec()) return db_.failFromSql(c.put.lastError());

    c.setCounter.bindValue(0, s.id);
    c.setCounter.bindValue(1, s.id);
    if (!c.setCounter.exec()) return db_.failFromSql(c.setCounter.lastError());
    if (c.setCounter.numRowsAffected() == 0) {
        // The counter row went missing: a new one takes its place in the same transaction.
        c.addCounter.bindValue(0, s.id);
        c.addCounter.bindValue(1, s.id);
        if (!c.addCounter.exec()) return db_.failFromSql(c.addCounter.lastError());
    }
    return !archive_.hasArchive() || (archive_.add(s) && archive_.noteRingRecord(s.id));
}

std::vector<Sample> SampleStore::loadWindow(QSqlQuery& q, int first, int last) {
    std::vector<Sample> rows;
    // The bounds are taken as an unordered pair.
    if (first > last) std::swap(first, last);
    q.bindValue(0, first);
    q.bindValue(1, last);
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return rows;
    }
    while (q.next())
        rows.push_back(sampleFrom(q));
    if (q.lastError().isValid()) db_.failFromSql(q.lastError());
    q.finish();
    return rows;
}

std::vector<Sample> SampleStore::loadBetween(int first, int last) {
    if (!db_.ready()) return {};
    return loadWindow(st_->between, first, last);
}

std::vector<Sample> SampleStore::loadNotBetween(int first, int last) {
    if (!db_.ready()) return {};
    return loadWindow(st_->notBetween, first, last);
}

std::optional<std::vector<Sample>> SampleStore::loadPlaces(int first, int count) {
    if (!db_.ready()) return std::nullopt;
    std::vector<Sample> rows;
    for (const auto& [lo, hi] : ringRanges(first, count)) {
        std::vector<Sample> part = loadWindow(st_->places, lo, hi);
        if (db_.fault() != Fault::None) return std::nullopt;
        rows.insert(rows.end(), part.begin(), part.end());
    }
    return rows;
}

std::optional<Sample> SampleStore::loadRecord(int id) {
    if (!db_.ready()) return std::nullopt;
    QSqlQuery& q = st_->record;
    q.bindValue(0, id);
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    std::optional<Sample> result;
    if (q.next() && !q.value(0).isNull()) result = sampleFrom(q);
    q.finish();
    return result;
}

std::optional<int64_t> SampleStore::dropArchiveBefore(int64_t before,
                                                      const AlsoRemove& alsoRemove) {
    if (!db_.ready()) return std::nullopt;
    Transaction t(db_);
    if (!t.ok()) return std::nullopt;
    const std::optional<int64_t> signedFrom = firstSignedSecond(db_);
    if (!signedFrom) return std::nullopt;
    if (*signedFrom < before) {
        before = *signedFrom;
        // Held by signed seconds with nothing older left: the file stays as it is.
        QSqlQuery q(db_.db());
        q.prepare(QStringLiteral("SELECT EXISTS (SELECT 1 FROM archive WHERE t < ?)"));
        q.bindValue(0, qlonglong(before));
        if (!q.exec() || !q.next()) {
            db_.failFromSql(q.lastError());
            return std::nullopt;
        }
        if (!q.value(0).toBool()) return int64_t(0);
    }
    const std::optional<int64_t> removed = archive_.removeBefore(before);
    if (!removed || (alsoRemove && !alsoRemove(db_, before)) || !t.commit()) return std::nullopt;
    db_.succeed();
    return removed;
}

std::optional<QString> SampleStore::archiveFact(const QString& key) {
    if (!db_.ready()) return std::nullopt;
    if (!db_.hasTable(QStringLiteral("archive_meta"))) {
        if (db_.fault() != Fault::None) return std::nullopt;
        return QString();
    }
    QSqlQuery q(db_.db());
    q.prepare(QStringLiteral("SELECT value FROM archive_meta WHERE key = ?"));
    q.bindValue(0, key);
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.next() ? q.value(0).toString() : QString();
}

bool SampleStore::setArchiveFact(const QString& key, const QString& value) {
    if (!db_.ready()) return false;
    QSqlQuery q(db_.db());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO archive_meta VALUES (?, ?)"));
    q.bindValue(0, key);
    q.bindValue(1, value);
    return q.exec() || db_.failFromSql(q.lastError());
}

std::optional<int64_t> SampleStore::reusableBytes() {
    if (!db_.ready()) return std::nullopt;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT (SELECT freelist_count FROM pragma_freelist_count) * "
                               "(SELECT page_size FROM pragma_page_size)")) ||
        !q.next()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

}  // namespace store
