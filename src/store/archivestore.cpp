// The sample store's archive half: the archive table, its rollups, the adoption of a ring that
// had none, the span and batch reads, and the removal of old days.

#include <QDateTime>
#include <QSqlError>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <map>

#include "base/oledate.h"
#include "store/storeconnection.h"

namespace record {

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
bool SampleStore::inspectArchive(bool readOnly) {
    QStringList archiveCols, rollupCols, metaCols;
    if (!tableColumns(QStringLiteral("archive"), &archiveCols) ||
        !tableColumns(QStringLiteral("archive_rollup"), &rollupCols) ||
        !tableColumns(QStringLiteral("archive_meta"), &metaCols))
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
        return fail(Fault::WrongTables);
    if (present == 0 && readOnly) return true;

    QSqlQuery q(conn_->db);
    if (present == 0) {
        const QStringList sql = {QStringLiteral("BEGIN IMMEDIATE"), schema::createArchiveTableSql(),
                                 schema::createRollupTableSql(), schema::kCreateArchiveMetaSql,
                                 QStringLiteral("COMMIT")};
        for (const QString& s : sql) {
            if (!q.exec(s)) {
                const QSqlError e = q.lastError();
                q.exec(QStringLiteral("ROLLBACK"));
                return failFromSql(e, Fault::Other);
            }
        }
    }
    if (!prepareArchiveStatements()) return fail(Fault::Other);
    hasArchive_ = true;
    if (readOnly) return true;
    // The stale marks' table joins an archive the recorder's writer opens, whenever it was made.
    if (!q.exec(schema::kCreateStaleTableSql)) return failFromSql(q.lastError(), Fault::Other);
    if (!findStaleTable()) return fail(Fault::Other);
    return adoptRing();
}

// Looks for the stale marks' table while the store has not found it, preparing its writes when
// it is there. False when it is not (a file from before it, or one only read until a recorder
// makes it).
bool SampleStore::findStaleTable() {
    if (hasStaleTable_) return true;
    QStringList cols;
    if (!tableColumns(QStringLiteral("archive_stale"), &cols) || cols.isEmpty()) return false;
    Connection& c = *conn_;
    // A mark joins the stretch that ends at the second before it (or already holds it).
    hasStaleTable_ =
        c.staleExtend.prepare(QStringLiteral(
            "UPDATE archive_stale SET last = max(last, ?) WHERE first = (SELECT max(first) FROM "
            "archive_stale WHERE first <= ?) AND last >= ? - 1")) &&
        c.staleAdd.prepare(QStringLiteral("INSERT OR IGNORE INTO archive_stale VALUES (?, ?)"));
    return hasStaleTable_;
}

// Inside the caller's transaction: second `at` marked stale. A file whose archive has no table
// for the marks (written by bulk fills only) keeps the sample unmarked.
bool SampleStore::markStale(int64_t at) {
    fault_ = Fault::None;
    if (!findStaleTable()) return fault_ == Fault::None;
    Connection& c = *conn_;
    for (int i = 0; i < 3; ++i)
        c.staleExtend.bindValue(i, static_cast<qlonglong>(at));
    if (!c.staleExtend.exec()) return failFromSql(c.staleExtend.lastError(), Fault::Other);
    if (c.staleExtend.numRowsAffected() > 0) return true;
    c.staleAdd.bindValue(0, static_cast<qlonglong>(at));
    c.staleAdd.bindValue(1, static_cast<qlonglong>(at));
    return c.staleAdd.exec() || failFromSql(c.staleAdd.lastError(), Fault::Other);
}

std::optional<std::vector<StaleSpan>> SampleStore::staleSpans(int64_t from, int64_t to) {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return std::nullopt;
    std::vector<StaleSpan> spans;
    if (fromRing) return spans;  // the ring marks none
    if (!findStaleTable()) {
        if (fault_ != Fault::None) return std::nullopt;
        return spans;
    }
    if (from > to) std::swap(from, to);
    QSqlQuery q(conn_->db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT first, last FROM archive_stale WHERE first <= ? AND "
                                  "last >= ? ORDER BY first"))) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    q.bindValue(0, static_cast<qlonglong>(to));
    q.bindValue(1, static_cast<qlonglong>(from));
    if (!q.exec()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    while (q.next())
        spans.emplace_back(q.value(0).toLongLong(), q.value(1).toLongLong());
    if (q.lastError().isValid()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    return spans;
}

bool SampleStore::prepareArchiveStatements() {
    Connection& c = *conn_;
    const bool ok =
        c.archivePut.prepare(
            QStringLiteral("INSERT INTO archive VALUES (?, (SELECT coalesce(max(seq) + 1, 0) FROM "
                           "archive WHERE t = ?), %1)")
                .arg(placeholders(schema::kValueCount))) &&
        c.rollupPut.prepare(rollupUpsertSql()) &&
        c.extent.prepare(QStringLiteral("SELECT min(t), max(t) FROM archive")) &&
        c.countAfter.prepare(
            QStringLiteral("SELECT count(*) FROM archive WHERE (t, seq) > (?, ?)")) &&
        c.spanSeconds.prepare(c.db,
                              "SELECT * FROM archive WHERE t BETWEEN ? AND ? ORDER BY t, seq") &&
        c.spanBuckets.prepare(
            c.db,
            "SELECT * FROM archive_rollup WHERE level = ? AND t BETWEEN ? AND ? ORDER BY t") &&
        c.after.prepare(c.db,
                        "SELECT * FROM archive WHERE (t, seq) > (?, ?) ORDER BY t, seq LIMIT ?");
    if (!ok) return false;
    for (QSqlQuery* p : {&c.extent, &c.countAfter})
        p->setForwardOnly(true);
    return true;
}

// The ring's records with a date, in time order (by local date and time, then place), each with
// its moment; records whose local time names no moment are left out. nullopt on a read error.
std::optional<std::vector<Sample>> SampleStore::ringRecords() {
    QSqlQuery q(conn_->db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT * FROM pv_data WHERE w_date > 0 ORDER BY w_date, w_time, "
                               "w_id"))) {
        failFromSql(q.lastError(), Fault::Other);
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
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    return ring;
}

// Copies the ring's records whose seconds the archive lacks into it, in time order, in one
// transaction: at the first open of a ring without an archive every record, at later opens the
// ones another program wrote into the ring meanwhile, which are later than the archive's newest
// second. A second is copied whole or not at all, so one the ring holds twice (the repeated hour
// when daylight saving ends) keeps both its records, and a second already archived is never
// copied again. Older records are left out: the archive holds them already, under the UTC second
// of the time zone they were recorded in (a zone changed since would give them other seconds),
// or retention removed them on purpose.
bool SampleStore::adoptRing() {
    Connection& c = *conn_;
    if (!c.begin.exec()) return failFromSql(c.begin.lastError(), Fault::Other);
    QSqlQuery q(c.db);
    auto abandon = [&](const QSqlError& e) {
        q.finish();
        c.rollback.exec();
        return failFromSql(e, Fault::Other);
    };
    const auto ring = ringRecords();
    if (!ring) {
        const Fault f = fault_;
        c.rollback.exec();
        return fail(f);
    }
    if (!q.exec(QStringLiteral("SELECT max(t) FROM archive")) || !q.next())
        return abandon(q.lastError());
    const bool empty = q.value(0).isNull();
    const int64_t newest = q.value(0).toLongLong();
    q.finish();
    if (!q.prepare(QStringLiteral("SELECT 1 FROM archive WHERE t = ? LIMIT 1")))
        return abandon(q.lastError());
    q.setForwardOnly(true);
    std::map<int64_t, bool> lacks;
    std::vector<Sample> missing;
    for (const Sample& s : *ring) {
        auto it = lacks.find(s.at);
        if (it == lacks.end()) {
            bool want = empty || s.at > newest;
            if (want) {
                q.bindValue(0, static_cast<qlonglong>(s.at));
                if (!q.exec()) return abandon(q.lastError());
                want = !q.next();
                q.finish();
            }
            it = lacks.emplace(s.at, want).first;
        }
        if (it->second) missing.push_back(s);
    }
    if (!archiveMany(missing)) {
        const Fault f = fault_;
        q.finish();
        c.rollback.exec();
        return fail(f);
    }
    // The first adoption's mark, as files from before later copies have it.
    if (!q.exec(QStringLiteral("INSERT OR IGNORE INTO archive_meta VALUES ('adopted', %1)")
                    .arg(missing.size())))
        return abandon(q.lastError());
    q.finish();
    if (!c.commit.exec()) return abandon(c.commit.lastError());
    return true;
}

// Whether the reads of seconds and spans come from the ring: the file has no archive yet, or an
// empty one while its ring holds records. False (with the fault set) when that cannot be told.
bool SampleStore::ringStandsIn(bool* fromRing) {
    *fromRing = false;
    if (!readable()) return false;
    if (!hasArchive_ && !inspectArchive(true)) return false;
    QSqlQuery q(conn_->db);
    q.setForwardOnly(true);
    if (hasArchive_) {
        if (!q.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM archive)")) || !q.next())
            return failFromSql(q.lastError(), Fault::Other);
        if (q.value(0).toBool()) return true;
        q.finish();
        if (!q.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM pv_data WHERE w_date > 0)")) ||
            !q.next())
            return failFromSql(q.lastError(), Fault::Other);
        *fromRing = q.value(0).toBool();
        return true;
    }
    *fromRing = true;
    return true;
}

// The ring's records from..to as the archive would hold them: in time order, a second held twice
// numbered as the archive numbers it.
std::optional<std::vector<ArchivedSample>> SampleStore::ringSeconds(int64_t from, int64_t to) {
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
bool SampleStore::archiveSecond(const Sample& s) {
    QSqlQuery& put = conn_->archivePut;
    const int64_t at = sampleMoment(s);
    if (at == 0) return true;
    put.bindValue(0, static_cast<qlonglong>(at));
    put.bindValue(1, static_cast<qlonglong>(at));
    for (int k = 0; k < schema::kValueCount; ++k)
        put.bindValue(2 + k, archive::encodeValue(s.values[k]));
    return put.exec() || failFromSql(put.lastError(), Fault::Other);
}

// Inside the caller's transaction: the bucket's samples merged into its rollup row.
bool SampleStore::mergeBucket(int level, int64_t t, const archive::Bucket& b) {
    QSqlQuery& r = conn_->rollupPut;
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
    return r.exec() || failFromSql(r.lastError(), Fault::Other);
}

// Inside the caller's transaction: the sample into the archive and the bucket of every level.
bool SampleStore::archiveSample(const Sample& s) {
    const int64_t at = sampleMoment(s);
    if (at == 0 || !archiveSecond(s)) return at == 0;
    if (s.stale && !markStale(at)) return false;
    archive::Bucket one;
    one.add(at, s.values);
    for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level) {
        if (!mergeBucket(int(level), floorTo(at, archive::kLevelSeconds[level]), one)) return false;
    }
    return true;
}

// Inside the caller's transaction: many samples, each bucket summed here and merged once.
bool SampleStore::archiveMany(const std::vector<Sample>& samples) {
    std::map<std::pair<int, int64_t>, archive::Bucket> buckets;
    for (const Sample& s : samples) {
        if (!archiveSecond(s)) return false;
        const int64_t at = sampleMoment(s);
        if (at == 0) continue;
        if (s.stale && !markStale(at)) return false;
        for (size_t level = 1; level < archive::kLevelSeconds.size(); ++level)
            buckets[{int(level), floorTo(at, archive::kLevelSeconds[level])}].add(at, s.values);
    }
    for (const auto& [key, bucket] : buckets) {
        if (!mergeBucket(key.first, key.second, bucket)) return false;
    }
    return true;
}

bool SampleStore::findArchive() {
    if (open_ && !hasArchive_) inspectArchive(true);
    return hasArchive_;
}

// A store opened before the recorder made the archive finds it on a later read.
bool SampleStore::archiveReadable() {
    if (!readable()) return false;
    if (!hasArchive_ && !inspectArchive(true)) return false;
    if (!hasArchive_) return fail(Fault::NotOpen);
    return true;
}

std::optional<QPair<int64_t, int64_t>> SampleStore::archiveExtent() {
    bool fromRing = false;
    if (!ringStandsIn(&fromRing)) return std::nullopt;
    if (fromRing) {
        const auto ring =
            ringSeconds(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
        if (!ring || ring->empty()) return std::nullopt;
        return QPair<int64_t, int64_t>(ring->front().at, ring->back().at);
    }
    QSqlQuery& q = conn_->extent;
    if (!q.exec()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    std::optional<QPair<int64_t, int64_t>> result;
    if (q.next() && !q.value(0).isNull())
        result = QPair<int64_t, int64_t>(q.value(0).toLongLong(), q.value(1).toLongLong());
    q.finish();
    return result;
}

std::optional<std::vector<SpanRow>> SampleStore::loadSpan(int64_t from, int64_t to, int maxRows) {
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
    RawQuery& q = level == 0 ? conn_->spanSeconds : conn_->spanBuckets;
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
bool SampleStore::readRows(RawQuery& q, const std::function<bool(const RawQuery&)>& visit) {
    const QSqlError e = q.run(visit);
    return !e.isValid() || failFromSql(e, Fault::Other);
}

bool SampleStore::forEachArchived(int64_t from, int64_t to,
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
bool SampleStore::archivedSeconds(int64_t from, int64_t to,
                                  const std::function<bool(const ArchivedSample&)>& visit) {
    if (!archiveReadable()) return false;
    if (from > to) std::swap(from, to);
    const auto stale = staleSpans(from, to);
    if (!stale) return false;
    size_t nextStale = 0;
    RawQuery& q = conn_->spanSeconds;
    q.bind(1, from);
    q.bind(2, to);
    return readRows(q, [&](const RawQuery& row) {
        ArchivedSample a = archivedFrom(row);
        a.stale = inStaleSpan(*stale, &nextStale, a.at);
        return visit(a);
    });
}

std::optional<std::vector<ArchivedSample>> SampleStore::loadArchivedAfter(int64_t at, int64_t seq,
                                                                          int limit) {
    if (!archiveReadable()) return std::nullopt;
    RawQuery& q = conn_->after;
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

bool SampleStore::archiveBatch(const std::vector<Sample>& samples) {
    if (!archiveReadable()) return false;
    Connection& c = *conn_;
    if (!c.begin.exec()) return failFromSql(c.begin.lastError(), Fault::Other);
    if (!archiveMany(samples)) {
        const Fault f = fault_;
        c.rollback.exec();
        return fail(f);
    }
    if (!c.commit.exec()) {
        const QSqlError e = c.commit.lastError();
        c.rollback.exec();
        return failFromSql(e, Fault::Other);
    }
    return true;
}

std::optional<int64_t> SampleStore::countArchivedAfter(int64_t at, int64_t seq) {
    if (!archiveReadable()) return std::nullopt;
    QSqlQuery& q = conn_->countAfter;
    q.bindValue(0, static_cast<qlonglong>(at));
    q.bindValue(1, static_cast<qlonglong>(seq));
    if (!q.exec() || !q.next()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    const int64_t n = q.value(0).toLongLong();
    q.finish();
    return n;
}

// Inside the caller's transaction, once every bucket that begins before `cut` is gone: the bucket
// of each level that straddles the cut made again from the seconds at and after it, so that no
// bucket counts a second the archive no longer has.
bool SampleStore::rebuildBuckets(int64_t cut) {
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

std::optional<int64_t> SampleStore::dropArchiveBefore(int64_t before) {
    if (!archiveReadable()) return std::nullopt;
    Connection& c = *conn_;
    QSqlQuery q(c.db);
    auto abandon = [&](const QSqlError& e) -> std::optional<int64_t> {
        c.rollback.exec();
        failFromSql(e, Fault::Other);
        return std::nullopt;
    };
    if (!c.begin.exec()) return abandon(c.begin.lastError());
    if (!q.prepare(QStringLiteral("DELETE FROM archive WHERE t < ?")))
        return abandon(q.lastError());
    q.bindValue(0, static_cast<qlonglong>(before));
    if (!q.exec()) return abandon(q.lastError());
    const int64_t removed = q.numRowsAffected();
    if (!q.prepare(QStringLiteral("DELETE FROM archive_rollup WHERE t < ?")))
        return abandon(q.lastError());
    q.bindValue(0, static_cast<qlonglong>(before));
    if (!q.exec()) return abandon(q.lastError());
    if (findStaleTable()) {
        if (!q.prepare(QStringLiteral("DELETE FROM archive_stale WHERE last < ?")))
            return abandon(q.lastError());
        q.bindValue(0, static_cast<qlonglong>(before));
        if (!q.exec()) return abandon(q.lastError());
    }
    if (!rebuildBuckets(before)) {
        const Fault f = fault_;
        c.rollback.exec();
        fail(f);
        return std::nullopt;
    }
    // The event log's rows of the removed time go with them (its table may not exist yet).
    QStringList eventCols;
    if (!tableColumns(QStringLiteral("events"), &eventCols)) return abandon(QSqlError());
    if (!eventCols.isEmpty()) {
        if (!q.prepare(QStringLiteral("DELETE FROM events WHERE at < ?")))
            return abandon(q.lastError());
        // The event log keeps local times as text, which sorts as time does.
        q.bindValue(0, QDateTime::fromSecsSinceEpoch(before).toLocalTime().toString(
                           QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        if (!q.exec()) return abandon(q.lastError());
    }
    if (!c.commit.exec()) return abandon(c.commit.lastError());
    fault_ = Fault::None;
    lastError_.clear();
    return removed;
}

std::optional<int64_t> SampleStore::reusableBytes() {
    if (!readable()) return std::nullopt;
    QSqlQuery q(conn_->db);
    if (!q.exec(QStringLiteral("SELECT (SELECT freelist_count FROM pragma_freelist_count) * "
                               "(SELECT page_size FROM pragma_page_size)")) ||
        !q.next()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}

}  // namespace record
