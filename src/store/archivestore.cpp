#include "store/archivestore.h"

#include <QScopeGuard>

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <map>
#include <tuple>

#include "base/numberrule.h"
#include "base/oledate.h"
#include "store/chain.h"
#include "store/rawquery.h"
#include "store/ring.h"

namespace store {

struct ArchiveStore::Statements {
    QSqlQuery put, rollupPut, extent, countAfter, ringMark, ringMarkGet;
    // The stale marks' writes, prepared once the table is there, and whether a mark covers a
    // second.
    QSqlQuery staleExtend, staleAdd, staleCovers;
    // The hours' chain: an hour's row, the hash before it, its row written, any hour after it.
    QSqlQuery hourGet, hourBefore, hourPut, hoursAfter;
    // The long reads, through SQLite's own interface.
    RawQuery spanSeconds, spanBuckets, after;
    explicit Statements(const QSqlDatabase& d)
        : put(d),
          rollupPut(d),
          extent(d),
          countAfter(d),
          ringMark(d),
          ringMarkGet(d),
          staleExtend(d),
          staleAdd(d),
          staleCovers(d),
          hourGet(d),
          hourBefore(d),
          hourPut(d),
          hoursAfter(d) {}
};

namespace {

int64_t floorTo(int64_t t, int64_t width) {
    const int64_t q = t / width;
    return (q * width > t ? q - 1 : q) * width;
}

// "?, ?, ..." for n bound values.
QString placeholders(int n) {
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

// Adds a sample to a rollup bucket, or makes the bucket with it.
QString rollupUpsertSql() {
    QStringList sets = {QStringLiteral("n = n + excluded.n"),
                        QStringLiteral("first = min(first, excluded.first)"),
                        QStringLiteral("last = max(last, excluded.last)")};
    for (const QString& v : schema::valueColumns()) {
        const QString lo = v + QStringLiteral("_min"), hi = v + QStringLiteral("_max"),
                      sum = v + QStringLiteral("_sum");
        // A missing value (a NaN the driver stored as NULL) gives way to the other.
        sets << QStringLiteral("%1 = min(coalesce(%1, excluded.%1), coalesce(excluded.%1, %1))")
                    .arg(lo)
             << QStringLiteral("%1 = max(coalesce(%1, excluded.%1), coalesce(excluded.%1, %1))")
                    .arg(hi)
             << QStringLiteral("%1 = coalesce(%1, 0) + coalesce(excluded.%1, 0)").arg(sum);
    }
    return QStringLiteral(
               "INSERT INTO archive_rollup VALUES (%1) ON CONFLICT (level, t) DO UPDATE SET %2")
        .arg(placeholders(schema::kRollupColumnCount), sets.join(QStringLiteral(", ")));
}

float storedValue(const RawQuery& q, int column) {
    return static_cast<float>(q.isInteger(column) ? q.integer(column) / 100.0 : q.real(column));
}

ArchivedSample archivedFrom(const RawQuery& q) {
    ArchivedSample a;
    a.at = q.integer(0);
    a.seq = q.integer(1);
    for (int c = 0; c < schema::kValueCount; ++c)
        a.values[c] = storedValue(q, 2 + c);
    return a;
}

SpanRow bucketFrom(const RawQuery& q) {
    SpanRow r;
    r.first = q.integer(3);
    r.last = q.integer(4);
    r.count = static_cast<int>(q.integer(2));
    for (int c = 0; c < schema::kValueCount; ++c) {
        r.min[c] = static_cast<float>(q.real(5 + 3 * c));
        r.max[c] = static_cast<float>(q.real(6 + 3 * c));
        r.mean[c] = r.count > 0 ? static_cast<float>(q.real(7 + 3 * c) / r.count) : 0;
    }
    return r;
}

bool sameColumns(const QStringList& have, const QStringList& want) {
    if (have.size() != want.size()) return false;
    for (int i = 0; i < have.size(); ++i) {
        if (have[i].compare(want[i], Qt::CaseInsensitive) != 0) return false;
    }
    return true;
}

}  // namespace

ArchiveStore::ArchiveStore(Database& db) : db_(db) {}

ArchiveStore::~ArchiveStore() = default;

void ArchiveStore::reset() {
    st_.reset();
    hasArchive_ = hasStaleTable_ = hasHoursTable_ = false;
}

int64_t sampleMoment(const Sample& s) {
    if (s.at != 0) return s.at;
    const QDate d = base::dateFromOle(s.date);
    if (!d.isValid() || s.date <= 0) return 0;
    const QDateTime local(d, base::timeFromOle(s.time));
    return local.isValid() ? local.toSecsSinceEpoch() : 0;
}

// Looks at the archive's three tables. readOnly: takes an archive that is there; otherwise makes
// a missing one and adopts the ring into it. Tables of another shape fail with WrongTables and
// stay as they are.
bool ArchiveStore::inspect(bool readOnly) {
    QStringList archiveCols, rollupCols, metaCols;
    if (!db_.columns(QStringLiteral("archive"), &archiveCols) ||
        !db_.columns(QStringLiteral("archive_rollup"), &rollupCols) ||
        !db_.columns(QStringLiteral("archive_meta"), &metaCols))
        return false;
    const QStringList wantArchive =
        QStringList{QStringLiteral("t"), QStringLiteral("seq")} + schema::valueColumns();
    const QStringList wantRollup =
        QStringList{QStringLiteral("level"), QStringLiteral("t"), QStringLiteral("n"),
                    QStringLiteral("first"), QStringLiteral("last")} +
        schema::rollupValueColumns();
    const QStringList wantMeta = {QStringLiteral("key"), QStringLiteral("value")};
    const int present = !archiveCols.isEmpty() + !rollupCols.isEmpty() + !metaCols.isEmpty();
    // The three are made in one transaction: one without the others is not ours.
    if (present != 0 && (present != 3 || !sameColumns(archiveCols, wantArchive) ||
                         !sameColumns(rollupCols, wantRollup) || !sameColumns(metaCols, wantMeta)))
        return db_.fail(Fault::WrongTables);
    if (present == 0 && readOnly) return true;

    if (present == 0) {
        Transaction make(db_);
        if (!make.ok()) return false;
        QSqlQuery q(db_.db());
        for (const QString& s : {schema::createArchiveTableSql(), schema::createRollupTableSql(),
                                 QString(schema::kCreateArchiveMetaSql)}) {
            if (!q.exec(s)) return db_.failFromSql(q.lastError());
        }
        q = QSqlQuery();
        if (!make.commit()) return false;
    }
    if (!prepare()) return db_.fail(Fault::Other);
    hasArchive_ = true;
    if (readOnly) return true;
    // The stale marks' table joins an archive the recorder's writer opens, whenever it was made.
    QSqlQuery q(db_.db());
    if (!q.exec(schema::kCreateStaleTableSql)) return db_.failFromSql(q.lastError());
    if (!findStaleTable()) return db_.fail(Fault::Other);
    // So does the hours' chain: the seconds written from now on are hashed.
    if (!q.exec(schema::kCreateHoursTableSql)) return db_.failFromSql(q.lastError());
    if (!findHoursTable()) return db_.fail(Fault::Other);
    return adoptRing();
}

// Looks for the stale marks' table while the store has not found it, preparing its writes when
// it is there. False when it is not (a file from before it, or one only read until a recorder
// makes it).
bool ArchiveStore::findStaleTable() {
    if (hasStaleTable_) return true;
    QStringList cols;
    if (!db_.columns(QStringLiteral("archive_stale"), &cols) || cols.isEmpty()) return false;
    Statements& c = *st_;
    // A mark joins the stretch that ends at the second before it (or already holds it).
    hasStaleTable_ =
        c.staleExtend.prepare(QStringLiteral(
            "UPDATE archive_stale SET last = max(last, ?) WHERE first = (SELECT max(first) FROM "
            "archive_stale WHERE first <= ?) AND last >= ? - 1")) &&
        c.staleAdd.prepare(QStringLiteral("INSERT OR IGNORE INTO archive_stale VALUES (?, ?)")) &&
        c.staleCovers.prepare(QStringLiteral(
            "SELECT EXISTS (SELECT 1 FROM archive_stale WHERE first <= ? AND last >= ?)"));
    c.staleCovers.setForwardOnly(true);
    return hasStaleTable_;
}

// Looks for the hours' chain table while the store has not found it, preparing its statements
// when it is there: any store that adds seconds to a file with the table hashes them.
bool ArchiveStore::findHoursTable() {
    if (hasHoursTable_) return true;
    QStringList cols;
    if (!db_.columns(QStringLiteral("archive_hours"), &cols) || cols.isEmpty()) return false;
    Statements& c = *st_;
    hasHoursTable_ =
        c.hourGet.prepare(QStringLiteral("SELECT n, sum FROM archive_hours WHERE hour = ?")) &&
        c.hourBefore.prepare(QStringLiteral(
            "SELECT hash FROM archive_hours WHERE hour < ? ORDER BY hour DESC LIMIT 1")) &&
        c.hourPut.prepare(
            QStringLiteral("INSERT OR REPLACE INTO archive_hours VALUES (?, ?, ?, ?)")) &&
        c.hoursAfter.prepare(
            QStringLiteral("SELECT hour, n, sum FROM archive_hours WHERE hour > ? ORDER BY hour"));
    for (QSqlQuery* p : {&c.hourGet, &c.hourBefore, &c.hoursAfter})
        p->setForwardOnly(true);
    return hasHoursTable_;
}

// Inside the caller's transaction: second `at` marked stale. A file whose archive has no table
// for the marks (written by bulk fills only) keeps the sample unmarked.
bool ArchiveStore::markStale(int64_t at) {
    db_.succeed();
    if (!findStaleTable()) return db_.fault() == Fault::None;
    Statements& c = *st_;
    for (int i = 0; i < 3; ++i)
        c.staleExtend.bindValue(i, static_cast<qlonglong>(at));
    if (!c.staleExtend.exec()) return db_.failFromSql(c.staleExtend.lastError());
    if (c.staleExtend.numRowsAffected() > 0) return true;
    c.staleAdd.bindValue(0, static_cast<qlonglong>(at));
    c.staleAdd.bindValue(1, static_cast<qlonglong>(at));
    return c.staleAdd.exec() || db_.failFromSql(c.staleAdd.lastError());
}

// Inside the caller's transaction: the sample as the archive's next row of its second, with its
// stale mark. An hour's sum holds the stale digest of its second once for every archived row of
// that second a mark covers, as the verifier counts them: a row that joins a second already
// marked brings one (a clock set back, a restart whose clock is behind the last run's, another
// program's ring record), and a new mark over a second archived before brings one for each row
// the second now holds.
bool ArchiveStore::addMarkedSecond(const Sample& s, int64_t at) {
    Statements& c = *st_;
    db_.succeed();
    bool covered = false;
    int64_t held = 0;
    if (hasHoursTable_ && findStaleTable()) {
        c.staleCovers.bindValue(0, static_cast<qlonglong>(at));
        c.staleCovers.bindValue(1, static_cast<qlonglong>(at));
        if (!c.staleCovers.exec() || !c.staleCovers.next())
            return db_.failFromSql(c.staleCovers.lastError());
        covered = c.staleCovers.value(0).toBool();
        c.staleCovers.finish();
        if (s.stale && !covered) {
            QSqlQuery q(db_.db());
            q.setForwardOnly(true);
            q.prepare(QStringLiteral("SELECT count(*) FROM archive WHERE t = ?"));
            q.bindValue(0, static_cast<qlonglong>(at));
            if (!q.exec() || !q.next()) return db_.failFromSql(q.lastError());
            held = q.value(0).toLongLong();
        }
    }
    if (db_.fault() != Fault::None || !addSecond(s)) return false;
    if (s.stale && !markStale(at)) return false;
    const int64_t marks = !hasStaleTable_ ? 0 : covered ? 1 : s.stale ? held + 1 : 0;
    return marks == 0 || chainStale(at, marks);
}

// Inside the caller's transaction, once second `at` is marked stale: `marks` of its stale digest
// join its hour's sum where the file's record says the marks are chained.
bool ArchiveStore::chainStale(int64_t at, int64_t marks) {
    if (!hasHoursTable_) return true;
    const int64_t hour = chain::hourOf(at);
    const auto from = chain::state(db_, chain::kStaleChain);
    if (!from) return false;
    if (!from->first || hour < *from->first) return true;
    QByteArray digest = chain::zeroHash();
    for (int64_t i = 0; i < marks; ++i)
        chain::addDigest(&digest, chain::staleDigest(at));
    return chainDigest(at, digest, /*counted=*/false);
}

std::optional<std::vector<StaleSpan>> ArchiveStore::staleSpans(int64_t from, int64_t to) {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return std::nullopt;
    std::vector<StaleSpan> spans;
    if (fromRing) return spans;  // the ring marks none
    if (!findStaleTable()) {
        if (db_.fault() != Fault::None) return std::nullopt;
        return spans;
    }
    if (from > to) std::swap(from, to);
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT first, last FROM archive_stale WHERE first <= ? AND "
                                  "last >= ? ORDER BY first"))) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    q.bindValue(0, static_cast<qlonglong>(to));
    q.bindValue(1, static_cast<qlonglong>(from));
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    while (q.next())
        spans.emplace_back(q.value(0).toLongLong(), q.value(1).toLongLong());
    if (q.lastError().isValid()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    return spans;
}

bool ArchiveStore::prepare() {
    const QSqlDatabase db = db_.db();
    st_ = std::make_unique<Statements>(db);
    Statements& c = *st_;
    const bool ok =
        c.put.prepare(
            QStringLiteral("INSERT INTO archive VALUES (?, (SELECT coalesce(max(seq) + 1, 0) FROM "
                           "archive WHERE t = ?), %1)")
                .arg(placeholders(schema::kValueCount))) &&
        c.rollupPut.prepare(rollupUpsertSql()) &&
        c.extent.prepare(QStringLiteral("SELECT min(t), max(t) FROM archive")) &&
        c.countAfter.prepare(
            QStringLiteral("SELECT count(*) FROM archive WHERE (t, seq) > (?, ?)")) &&
        c.ringMark.prepare(QStringLiteral("INSERT OR REPLACE INTO archive_meta VALUES (?, ?)")) &&
        c.ringMarkGet.prepare(
            QStringLiteral("SELECT value FROM archive_meta WHERE key = 'ring'")) &&
        c.spanSeconds.prepare(db,
                              "SELECT * FROM archive WHERE t BETWEEN ? AND ? ORDER BY t, seq") &&
        c.spanBuckets.prepare(
            db, "SELECT * FROM archive_rollup WHERE level = ? AND t BETWEEN ? AND ? ORDER BY t") &&
        c.after.prepare(db,
                        "SELECT * FROM archive WHERE (t, seq) > (?, ?) ORDER BY t, seq LIMIT ?");
    if (!ok) return false;
    for (QSqlQuery* p : {&c.extent, &c.countAfter, &c.ringMarkGet})
        p->setForwardOnly(true);
    // The chain's statements are made again with the others.
    hasHoursTable_ = false;
    findHoursTable();
    return true;
}

// The ring's records with a date, in time order (by local date and time, then place), each with
// its moment; records whose local time names no moment are left out. nullopt on a read error.
std::optional<std::vector<Sample>> ArchiveStore::ringRecords(const QString& places) {
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM pv_data WHERE w_date > 0 %1 ORDER BY w_date, w_time, "
                               "w_id")
                    .arg(places))) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    std::vector<Sample> ring;
    while (q.next()) {
        Sample s;
        s.id = q.value(0).toInt();
        s.date = q.value(1).toDouble();
        s.time = q.value(2).toDouble();
        for (int k = 0; k < schema::kValueCount; ++k)
            s.values[k] = static_cast<float>(q.value(schema::kFirstValueColumn + k).toDouble());
        s.at = sampleMoment(s);
        if (s.at != 0) ring.push_back(s);
    }
    if (q.lastError().isValid()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    return ring;
}

// The record number the ring's counter row names, 0 without a row; nullopt on a read error.
std::optional<int> ArchiveStore::ringCounterRow() {
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.exec(
            QStringLiteral("SELECT * FROM sl_void WHERE %1").arg(schema::kCounterRowCondition))) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    if (!q.next()) {
        if (q.lastError().isValid()) {
            db_.failFromSql(q.lastError());
            return std::nullopt;
        }
        return 0;
    }
    bool ok = false;
    const double d = q.value(0).toDouble(&ok);
    const std::optional<int32_t> n = ok ? base::roundToInt32(d) : std::nullopt;
    return n ? ringCounter(*n) : 0;
}

// The records the ring holds after `lastRecordNo` up to its counter (written by another program
// since this one last wrote), whatever their times, in time order. A record stays out when the
// archive holds a row of its second with the same values (a writer that archived it without
// moving the mark) or when retention has already let its day go.
bool ArchiveStore::adoptSince(int lastRecordNo, std::vector<Sample>* missing) {
    const std::optional<int> counter = ringCounterRow();
    if (!counter) return false;
    const int count = ((*counter - lastRecordNo) % kRingSize + kRingSize) % kRingSize;
    if (count == 0) return true;
    QStringList places;
    for (const auto& [lo, hi] : ringRanges(ringStep(lastRecordNo, 1), count))
        places << QStringLiteral("w_id BETWEEN %1 AND %2").arg(lo).arg(hi);
    const auto ring =
        ringRecords(QStringLiteral("AND (%1)").arg(places.join(QStringLiteral(" OR "))));
    if (!ring) return false;
    // Retention moved the hours' anchor: what is older than the oldest second kept went on purpose.
    const auto anchor = chain::anchor(db_, chain::kHoursChain);
    if (!anchor) return false;
    int64_t keptFrom = std::numeric_limits<int64_t>::min();
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (anchor->at != 0) {
        if (!q.exec(QStringLiteral("SELECT min(t) FROM archive")) || !q.next())
            return db_.failFromSql(q.lastError());
        if (!q.value(0).isNull()) keptFrom = q.value(0).toLongLong();
        q.finish();
    }
    if (!q.prepare(QStringLiteral("SELECT %1 FROM archive WHERE t = ?")
                       .arg(schema::valueColumns().join(QStringLiteral(", ")))))
        return db_.failFromSql(q.lastError());
    int64_t second = 0;
    std::vector<std::pair<std::array<float, schema::kValueCount>, bool>> archived;
    for (const Sample& s : *ring) {
        if (s.at < keptFrom) continue;
        if (archived.empty() || s.at != second) {
            second = s.at;
            archived.clear();
            q.bindValue(0, static_cast<qlonglong>(s.at));
            if (!q.exec()) return db_.failFromSql(q.lastError());
            while (q.next()) {
                std::array<float, schema::kValueCount> v{};
                for (int k = 0; k < schema::kValueCount; ++k)
                    v[k] = archive::decodeValue(q.value(k));
                archived.emplace_back(v, false);
            }
            if (q.lastError().isValid()) return db_.failFromSql(q.lastError());
            q.finish();
            // A marker so that a second with no archived rows is not read again.
            archived.emplace_back(std::array<float, schema::kValueCount>{}, true);
        }
        std::array<float, schema::kValueCount> mine{};
        for (int k = 0; k < schema::kValueCount; ++k)
            mine[k] = archive::decodeValue(archive::encodeValue(s.values[k]));
        const auto held = std::find_if(archived.begin(), archived.end() - 1, [&](const auto& row) {
            return !row.second && row.first == mine;
        });
        if (held != archived.end() - 1)
            held->second = true;
        else
            missing->push_back(s);
    }
    return true;
}

// Copies the ring's records the archive lacks into it, in time order, in one transaction. The
// archive's meta row "ring" names the last ring record that reached it; the records after it
// (another program wrote them meanwhile) are copied whatever their times. A file without that
// row (the first open, or one from before it) takes, as it always did, every record at the first
// open and at later ones the records later than the archive's newest second: a second is copied
// whole or not at all, so one the ring holds twice (the repeated hour when daylight saving ends)
// keeps both its records, and a second already archived is never copied again.
bool ArchiveStore::adoptRing() {
    Transaction adopt(db_);
    if (!adopt.ok()) return false;
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT value FROM archive_meta WHERE key = 'ring'")))
        return db_.failFromSql(q.lastError());
    std::optional<int> marked;
    if (q.next()) marked = ringCounter(q.value(0).toLongLong());
    q.finish();
    std::vector<Sample> missing;
    if (marked) {
        if (!adoptSince(*marked, &missing)) return false;
    } else {
        const auto ring = ringRecords();
        if (!ring) return false;
        if (!q.exec(QStringLiteral("SELECT max(t) FROM archive")) || !q.next())
            return db_.failFromSql(q.lastError());
        const bool empty = q.value(0).isNull();
        const int64_t newest = q.value(0).toLongLong();
        q.finish();
        if (!q.prepare(QStringLiteral("SELECT 1 FROM archive WHERE t = ? LIMIT 1")))
            return db_.failFromSql(q.lastError());
        std::map<int64_t, bool> lacks;
        for (const Sample& s : *ring) {
            auto it = lacks.find(s.at);
            if (it == lacks.end()) {
                bool want = empty || s.at > newest;
                if (want) {
                    q.bindValue(0, static_cast<qlonglong>(s.at));
                    if (!q.exec()) return db_.failFromSql(q.lastError());
                    want = !q.next();
                    q.finish();
                }
                it = lacks.emplace(s.at, want).first;
            }
            if (it->second) missing.push_back(s);
        }
    }
    if (!addMany(missing)) return false;
    // The first adoption's mark, as files from before later copies have it.
    if (!q.exec(QStringLiteral("INSERT OR IGNORE INTO archive_meta VALUES ('adopted', %1)")
                    .arg(missing.size())))
        return db_.failFromSql(q.lastError());
    q.finish();
    const std::optional<int> counter = ringCounterRow();
    if (!counter || !noteRingRecord(*counter)) return false;
    return adopt.commit();
}

bool ArchiveStore::catchUpRing() {
    QSqlQuery& m = st_->ringMarkGet;
    if (!m.exec()) return db_.failFromSql(m.lastError());
    std::optional<int> marked;
    if (m.next()) marked = ringCounter(m.value(0).toLongLong());
    if (m.lastError().isValid()) return db_.failFromSql(m.lastError());
    m.finish();
    // A file without the mark is adopted whole at the recorder's next open.
    if (!marked) return true;
    const std::optional<int> counter = ringCounterRow();
    if (!counter) return false;
    if (*counter == *marked) return true;
    std::vector<Sample> missing;
    return adoptSince(*marked, &missing) && addMany(missing) && noteRingRecord(*counter);
}

bool ArchiveStore::noteRingRecord(int recordNo) {
    QSqlQuery& m = st_->ringMark;
    m.bindValue(0, QStringLiteral("ring"));
    m.bindValue(1, recordNo);
    return m.exec() || db_.failFromSql(m.lastError());
}

// Whether the reads of seconds and spans come from the ring: the file has no archive yet, or an
// empty one while its ring holds records. False (with the fault set) when that cannot be told.
bool ArchiveStore::ringStandsIn(bool* fromRing) {
    *fromRing = false;
    if (!db_.ready()) return false;
    if (!hasArchive_ && !inspect(true)) return false;
    QSqlQuery q(db_.db());
    q.setForwardOnly(true);
    if (hasArchive_) {
        if (!q.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM archive)")) || !q.next())
            return db_.failFromSql(q.lastError());
        if (q.value(0).toBool()) return true;
        q.finish();
        if (!q.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM pv_data WHERE w_date > 0)")) ||
            !q.next())
            return db_.failFromSql(q.lastError());
        *fromRing = q.value(0).toBool();
        return true;
    }
    *fromRing = true;
    return true;
}

// The ring's records from..to as the archive would hold them: in time order, a second held twice
// numbered as the archive numbers it.
std::optional<std::vector<ArchivedSample>> ArchiveStore::ringSeconds(int64_t from, int64_t to) {
    const auto ring = ringRecords();
    if (!ring) return std::nullopt;
    std::vector<ArchivedSample> rows;
    for (const Sample& s : *ring) {
        if (s.at < from || s.at > to) continue;
        ArchivedSample a;
        a.at = s.at;
        a.values = s.values;
        rows.push_back(a);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ArchivedSample& a, const ArchivedSample& b) { return a.at < b.at; });
    for (size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].at == rows[i - 1].at) rows[i].seq = rows[i - 1].seq + 1;
    }
    return rows;
}

// Inside the caller's transaction: the sample as the archive's next row of its second. A record
// without a valid date has no moment to be kept under; the ring alone keeps it.
bool ArchiveStore::addSecond(const Sample& s) {
    QSqlQuery& put = st_->put;
    const int64_t at = sampleMoment(s);
    if (at == 0) return true;
    put.bindValue(0, static_cast<qlonglong>(at));
    put.bindValue(1, static_cast<qlonglong>(at));
    QVariantList values;
    for (int k = 0; k < schema::kValueCount; ++k) {
        values << archive::encodeValue(s.values[k]);
        put.bindValue(2 + k, values.back());
    }
    if (!put.exec()) return db_.failFromSql(put.lastError());
    return !hasHoursTable_ || chainSecond(at, values);
}

// The seconds from..to-1 as the hours' chain counts them: their number and digests' sum.
bool ArchiveStore::digestSeconds(int64_t from, int64_t to, int64_t* count, QByteArray* sum) {
    RawQuery& q = st_->spanSeconds;
    q.bind(1, from);
    q.bind(2, to - 1);
    return readRows(q, [&](const RawQuery& row) {
        chain::addDigest(sum, chain::archivedRowDigest(row));
        ++*count;
        return true;
    });
}

// Inside the caller's transaction, once the second is stored: its hour's count, sum and hash
// brought up to date. An hour without a row yet counts every second it holds (seconds an older
// version stored in it too); an hour before the newest links the ones after it again.
bool ArchiveStore::chainSecond(int64_t at, const QVariantList& values) {
    chain::StoredValue v[schema::kValueCount];
    for (int k = 0; k < schema::kValueCount; ++k)
        v[k] = chain::storedValueOf(values[k]);
    return chainDigest(at, chain::secondDigest(at, v, schema::kValueCount), /*counted=*/true);
}

// The digest joins its hour's sum (a second's also its count).
bool ArchiveStore::chainDigest(int64_t at, const QByteArray& digest, bool counted) {
    Statements& c = *st_;
    const int64_t hour = chain::hourOf(at);
    // The chain's head before this second (before the batch's first), and the hour it began with
    // (where the file's record of it has not begun yet).
    if (!batching_) record_ = {};
    if (!record_.headRead) {
        QSqlQuery h(db_.db());
        if (!h.exec(QStringLiteral("SELECT hour, hash, (SELECT min(hour) FROM archive_hours) FROM "
                                   "archive_hours ORDER BY hour DESC LIMIT 1")))
            return db_.failFromSql(h.lastError());
        record_.headRead = true;
        record_.headHour = 0;
        record_.headHash.clear();
        record_.firstHour = hour;
        if (h.next()) {
            record_.headHour = h.value(0).toLongLong();
            record_.headHash = h.value(1).toByteArray();
            record_.firstHour = h.value(2).toLongLong();
        }
    }
    record_.firstHour = std::min(record_.firstHour, hour);
    c.hourGet.bindValue(0, qlonglong(hour));
    if (!c.hourGet.exec()) return db_.failFromSql(c.hourGet.lastError());
    int64_t count = 0;
    QByteArray sum = chain::zeroHash();
    if (c.hourGet.next()) {
        count = c.hourGet.value(0).toLongLong() + (counted ? 1 : 0);
        sum = c.hourGet.value(1).toByteArray();
        chain::addDigest(&sum, digest);
        c.hourGet.finish();
    } else {
        c.hourGet.finish();
        if (!digestSeconds(hour * chain::kHourSeconds, (hour + 1) * chain::kHourSeconds, &count,
                           &sum))
            return false;
    }
    c.hourBefore.bindValue(0, qlonglong(hour));
    if (!c.hourBefore.exec()) return db_.failFromSql(c.hourBefore.lastError());
    QByteArray previous;
    if (c.hourBefore.next()) previous = c.hourBefore.value(0).toByteArray();
    c.hourBefore.finish();
    if (previous.isEmpty()) {
        const auto a = chain::anchor(db_, chain::kHoursChain);
        if (!a) return false;
        previous = a->hash.isEmpty() ? chain::zeroHash() : a->hash;
    }
    const auto key = chain::linkKey(db_, chain::kHoursChain, hour);
    if (!key) return false;
    const QByteArray hash = chain::hourHash(previous, hour, count, sum, *key);
    c.hourPut.bindValue(0, qlonglong(hour));
    c.hourPut.bindValue(1, qlonglong(count));
    c.hourPut.bindValue(2, sum);
    c.hourPut.bindValue(3, hash);
    if (!c.hourPut.exec()) return db_.failFromSql(c.hourPut.lastError());
    record_.newest = hour;
    record_.newestHash = hash;
    if (!rechainAfter(hour, hash, &record_.newest, &record_.newestHash)) return false;
    record_.pending = true;
    return batching_ || recordHours();
}

// The file's record of the hours' chain taken up to the newest hour; the stale marks join the
// sums from the hour after the one the record begins with.
bool ArchiveStore::recordHours() {
    const bool ok = !record_.pending ||
                    (chain::advance(db_, chain::kHoursChain, record_.firstHour, record_.headHour,
                                    record_.headHash, record_.newest, record_.newestHash) &&
                     chain::begin(db_, chain::kStaleChain, record_.newest + 1));
    record_ = {};
    return ok;
}

// The hours after `hour` linked again from its new hash (a clock set back into an earlier hour).
bool ArchiveStore::rechainAfter(int64_t hour, QByteArray previous, int64_t* newest,
                                QByteArray* newestHash) {
    Statements& c = *st_;
    c.hoursAfter.bindValue(0, qlonglong(hour));
    if (!c.hoursAfter.exec()) return db_.failFromSql(c.hoursAfter.lastError());
    std::vector<std::tuple<int64_t, int64_t, QByteArray>> later;
    while (c.hoursAfter.next())
        later.emplace_back(c.hoursAfter.value(0).toLongLong(), c.hoursAfter.value(1).toLongLong(),
                           c.hoursAfter.value(2).toByteArray());
    c.hoursAfter.finish();
    for (const auto& [h, n, sum] : later) {
        const auto key = chain::linkKey(db_, chain::kHoursChain, h);
        if (!key) return false;
        previous = chain::hourHash(previous, h, n, sum, *key);
        c.hourPut.bindValue(0, qlonglong(h));
        c.hourPut.bindValue(1, qlonglong(n));
        c.hourPut.bindValue(2, sum);
        c.hourPut.bindValue(3, previous);
        if (!c.hourPut.exec()) return db_.failFromSql(c.hourPut.lastError());
        *newest = h;
        *newestHash = previous;
    }
    return true;
}

// Inside the caller's transaction, before the seconds before `before` go: the hours wholly before
// it removed, and the anchor set to what the first hour kept links to, with the count and sum of
// the seconds removed from it when the cut falls inside it.
bool ArchiveStore::anchorHours(int64_t before) {
    if (!hasHoursTable_) return true;
    const int64_t cutHour = chain::hourOf(before);
    const auto old = chain::anchor(db_, chain::kHoursChain);
    if (!old) return false;
    chain::Anchor a;
    a.at = cutHour;
    a.hash = old->hash.isEmpty() ? chain::zeroHash() : old->hash;
    a.sum = chain::zeroHash();
    if (old->at == cutHour && !old->hash.isEmpty()) {
        a.count = old->count;
        a.sum = old->sum;
    }
    Statements& c = *st_;
    c.hourBefore.bindValue(0, qlonglong(cutHour));
    if (!c.hourBefore.exec()) return db_.failFromSql(c.hourBefore.lastError());
    if (c.hourBefore.next()) a.hash = c.hourBefore.value(0).toByteArray();
    c.hourBefore.finish();
    c.hourGet.bindValue(0, qlonglong(cutHour));
    if (!c.hourGet.exec()) return db_.failFromSql(c.hourGet.lastError());
    const bool cutHashed = c.hourGet.next();
    c.hourGet.finish();
    if (cutHashed && before > cutHour * chain::kHourSeconds &&
        !digestSeconds(cutHour * chain::kHourSeconds, before, &a.count, &a.sum))
        return false;
    if (cutHashed && before > cutHour * chain::kHourSeconds && hasStaleTable_) {
        const auto from = chain::state(db_, chain::kStaleChain);
        if (!from) return false;
        if (from->first && cutHour >= *from->first) {
            QSqlQuery stale(db_.db());
            stale.prepare(QStringLiteral(
                "SELECT t FROM archive WHERE t >= ? AND t < ? AND EXISTS (SELECT 1 FROM "
                "archive_stale WHERE first <= t AND last >= t)"));
            stale.bindValue(0, qlonglong(cutHour * chain::kHourSeconds));
            stale.bindValue(1, qlonglong(before));
            if (!stale.exec()) return db_.failFromSql(stale.lastError());
            while (stale.next())
                chain::addDigest(&a.sum, chain::staleDigest(stale.value(0).toLongLong()));
        }
    }
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("DELETE FROM archive_hours WHERE hour < %1").arg(cutHour)))
        return db_.failFromSql(q.lastError());
    return chain::setAnchor(db_, chain::kHoursChain, a, /*replaceAll=*/true);
}

// Inside the caller's transaction: the bucket's samples merged into its rollup row.
bool ArchiveStore::mergeBucket(int level, int64_t t, const archive::Bucket& b) {
    QSqlQuery& r = st_->rollupPut;
    r.bindValue(0, level);
    r.bindValue(1, static_cast<qlonglong>(t));
    r.bindValue(2, b.count);
    r.bindValue(3, static_cast<qlonglong>(b.first));
    r.bindValue(4, static_cast<qlonglong>(b.last));
    for (int k = 0; k < schema::kValueCount; ++k) {
        r.bindValue(5 + 3 * k, b.min[k]);
        r.bindValue(6 + 3 * k, b.max[k]);
        r.bindValue(7 + 3 * k, b.sum[k]);
    }
    return r.exec() || db_.failFromSql(r.lastError());
}

// Inside the caller's transaction: the sample into the archive and the bucket of every level.
bool ArchiveStore::add(const Sample& s) {
    const int64_t at = sampleMoment(s);
    if (at == 0 || !addMarkedSecond(s, at)) return at == 0;
    archive::Bucket one;
    one.add(at, s.values);
    for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level) {
        if (!mergeBucket(int(level), floorTo(at, archive::kLevelSeconds[level]), one)) return false;
    }
    return true;
}

// Inside the caller's transaction: many samples, each bucket summed here and merged once.
bool ArchiveStore::addMany(const std::vector<Sample>& samples) {
    std::map<std::pair<int, int64_t>, archive::Bucket> buckets;
    // The record of the hours' chain moves once, at the end of the batch.
    batching_ = true;
    const auto once = qScopeGuard([this] {
        batching_ = false;
        record_ = {};
    });
    for (const Sample& s : samples) {
        const int64_t at = sampleMoment(s);
        if (at == 0) continue;
        if (!addMarkedSecond(s, at)) return false;
        for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level)
            buckets[{int(level), floorTo(at, archive::kLevelSeconds[level])}].add(at, s.values);
    }
    for (const auto& [key, bucket] : buckets) {
        if (!mergeBucket(key.first, key.second, bucket)) return false;
    }
    return recordHours();
}

bool ArchiveStore::findArchive() {
    if (db_.isOpen() && !hasArchive_) inspect(true);
    return hasArchive_;
}

// A store opened before the recorder made the archive finds it on a later read.
bool ArchiveStore::ready() {
    if (!db_.ready()) return false;
    if (!hasArchive_ && !inspect(true)) return false;
    if (!hasArchive_) return db_.fail(Fault::NotOpen);
    return true;
}

std::optional<QPair<int64_t, int64_t>> ArchiveStore::extent() {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return std::nullopt;
    if (fromRing) {
        const auto ring =
            ringSeconds(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
        if (!ring || ring->empty()) return std::nullopt;
        return QPair<int64_t, int64_t>(ring->front().at, ring->back().at);
    }
    QSqlQuery& q = st_->extent;
    if (!q.exec()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    std::optional<QPair<int64_t, int64_t>> result;
    if (q.next() && !q.value(0).isNull())
        result = QPair<int64_t, int64_t>(q.value(0).toLongLong(), q.value(1).toLongLong());
    q.finish();
    return result;
}

std::optional<std::vector<SpanRow>> ArchiveStore::loadSpan(int64_t from, int64_t to, int maxRows) {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return std::nullopt;
    if (from > to) std::swap(from, to);
    maxRows = std::max(maxRows, 1);
    size_t level = archive::kLevelSeconds.size() - 1;
    for (size_t l = 0; l < archive::kLevelSeconds.size(); ++l) {
        const int64_t width = archive::kLevelSeconds[l];
        if ((to - from) / width + 1 <= maxRows) {
            level = l;
            break;
        }
    }
    const int64_t width = archive::kLevelSeconds[level];
    if (fromRing) {
        // The buckets the rollups would hold: every second of each bucket that meets the span.
        const int64_t end = level == 0 ? to : floorTo(to, width) + width - 1;
        const auto seconds = ringSeconds(floorTo(from, width), end);
        if (!seconds) return std::nullopt;
        std::map<std::pair<int64_t, int64_t>, archive::Bucket> buckets;  // by start, then seq
        for (const ArchivedSample& a : *seconds)
            buckets[{floorTo(a.at, width), level == 0 ? a.seq : 0}].add(a.at, a.values);
        std::vector<SpanRow> rows;
        for (const auto& [key, b] : buckets) {
            SpanRow r;
            r.first = b.first;
            r.last = b.last;
            r.count = b.count;
            for (int c = 0; c < schema::kValueCount; ++c) {
                r.min[c] = static_cast<float>(b.min[c]);
                r.max[c] = static_cast<float>(b.max[c]);
                r.mean[c] = static_cast<float>(b.sum[c] / b.count);
            }
            rows.push_back(r);
        }
        return rows;
    }
    const auto stale = staleSpans(from, to);
    if (!stale) return std::nullopt;
    size_t nextStale = 0;
    std::vector<SpanRow> rows;
    RawQuery& q = level == 0 ? st_->spanSeconds : st_->spanBuckets;
    int bind = 1;
    if (level > 0) q.bind(bind++, static_cast<int64_t>(level));
    q.bind(bind++, floorTo(from, width));
    q.bind(bind, to);
    rows.reserve(static_cast<size_t>(std::min<int64_t>((to - from) / width + 2, maxRows + 2)));
    const bool read = readRows(q, [&](const RawQuery& row) {
        if (level > 0) {
            const SpanRow b = bucketFrom(row);
            // A bucket of stale seconds alone holds no reading; one that holds some keeps them.
            if (!inStaleSpan(*stale, &nextStale, b.first) || (*stale)[nextStale].second < b.last)
                rows.push_back(b);
            return true;
        }
        const ArchivedSample a = archivedFrom(row);
        if (inStaleSpan(*stale, &nextStale, a.at)) return true;
        SpanRow r;
        r.first = r.last = a.at;
        r.count = 1;
        r.min = r.max = r.mean = a.values;
        rows.push_back(r);
        return true;
    });
    if (!read) return std::nullopt;
    if (stale->empty()) return rows;
    for (const auto& [first, last] : *stale) {
        SpanRow r;
        r.first = std::max(first, from);
        r.last = std::min(last, to);
        r.stale = true;
        rows.push_back(r);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const SpanRow& a, const SpanRow& b) { return a.first < b.first; });
    return rows;
}

// Runs the bound query and hands each row to visit until it returns false; false on an error.
bool ArchiveStore::readRows(RawQuery& q, const std::function<bool(const RawQuery&)>& visit) {
    const QSqlError e = q.run(visit);
    return !e.isValid() || db_.failFromSql(e);
}

bool ArchiveStore::forEach(int64_t from, int64_t to,
                           const std::function<bool(const ArchivedSample&)>& visit) {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return false;
    if (!fromRing) return archivedSeconds(from, to, visit);
    if (from > to) std::swap(from, to);
    const auto seconds = ringSeconds(from, to);
    if (!seconds) return false;
    for (const ArchivedSample& a : *seconds) {
        if (!visit(a)) break;
    }
    return true;
}

// The archive's own seconds from..to, each with its stale mark.
bool ArchiveStore::archivedSeconds(int64_t from, int64_t to,
                                   const std::function<bool(const ArchivedSample&)>& visit) {
    if (!ready()) return false;
    if (from > to) std::swap(from, to);
    const auto stale = staleSpans(from, to);
    if (!stale) return false;
    size_t nextStale = 0;
    RawQuery& q = st_->spanSeconds;
    q.bind(1, from);
    q.bind(2, to);
    return readRows(q, [&](const RawQuery& row) {
        ArchivedSample a = archivedFrom(row);
        a.stale = inStaleSpan(*stale, &nextStale, a.at);
        return visit(a);
    });
}

std::optional<std::vector<ArchivedSample>> ArchiveStore::loadAfter(int64_t at, int64_t seq,
                                                                   int limit) {
    if (!ready()) return std::nullopt;
    RawQuery& q = st_->after;
    q.bind(1, at);
    q.bind(2, seq);
    q.bind(3, limit);
    std::vector<ArchivedSample> rows;
    const bool read = readRows(q, [&](const RawQuery& row) {
        rows.push_back(archivedFrom(row));
        return true;
    });
    if (!read) return std::nullopt;
    return rows;
}

bool ArchiveStore::addBatch(const std::vector<Sample>& samples) {
    if (!ready()) return false;
    Transaction batch(db_);
    return batch.ok() && addMany(samples) && batch.commit();
}

std::optional<int64_t> ArchiveStore::countAfter(int64_t at, int64_t seq) {
    if (!ready()) return std::nullopt;
    QSqlQuery& q = st_->countAfter;
    q.bindValue(0, static_cast<qlonglong>(at));
    q.bindValue(1, static_cast<qlonglong>(seq));
    if (!q.exec() || !q.next()) {
        db_.failFromSql(q.lastError());
        return std::nullopt;
    }
    const int64_t n = q.value(0).toLongLong();
    q.finish();
    return n;
}

// Inside the caller's transaction, once every bucket that begins before `cut` is gone: the bucket
// of each level that straddles the cut made again from the seconds at and after it, so that no
// bucket counts a second the archive no longer has.
bool ArchiveStore::rebuildBuckets(int64_t cut) {
    int64_t end = cut;
    for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level) {
        const int64_t width = archive::kLevelSeconds[level];
        if (floorTo(cut, width) != cut) end = std::max(end, floorTo(cut, width) + width);
    }
    if (end == cut) return true;
    std::vector<ArchivedSample> kept;
    if (!archivedSeconds(cut, end - 1, [&](const ArchivedSample& a) {
            kept.push_back(a);
            return true;
        }))
        return false;
    std::map<std::pair<int, int64_t>, archive::Bucket> buckets;
    for (const ArchivedSample& a : kept) {
        for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level) {
            const int64_t bucket = floorTo(a.at, archive::kLevelSeconds[level]);
            if (bucket < cut) buckets[{int(level), bucket}].add(a.at, a.values);
        }
    }
    for (const auto& [key, bucket] : buckets) {
        if (!mergeBucket(key.first, key.second, bucket)) return false;
    }
    return true;
}

std::optional<int64_t> ArchiveStore::removeBefore(int64_t before) {
    if (!ready()) return std::nullopt;
    QSqlQuery q(db_.db());
    const auto run = [&](const char* sql) {
        if (!q.prepare(QString::fromLatin1(sql))) return db_.failFromSql(q.lastError());
        q.bindValue(0, static_cast<qlonglong>(before));
        return q.exec() || db_.failFromSql(q.lastError());
    };
    if (!anchorHours(before) || !run("DELETE FROM archive WHERE t < ?")) return std::nullopt;
    const int64_t removed = q.numRowsAffected();
    if (!run("DELETE FROM archive_rollup WHERE t < ?")) return std::nullopt;
    if (findStaleTable() && !run("DELETE FROM archive_stale WHERE last < ?")) return std::nullopt;
    if (!rebuildBuckets(before)) return std::nullopt;
    return removed;
}

}  // namespace store
