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
#include <utility>

#include "base/numberrule.h"
#include "store/logging.h"
#include "store/ring.h"
#include "store/storeconnection.h"

namespace record {

namespace {

// SQLite result codes the store tells apart (the low byte of an extended code).
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADb = 26;

// A lock held elsewhere is waited for only this long: the chart reads on the UI thread, and the
// recorder's writer reports a locked file and tries again next second rather than queue up.
constexpr int kBusyTimeoutMs = 5;
// The recorder's writer, opening the file on its own thread for the first time, waits longer: the
// program's other connections (event log, runs, the chart) open the same file at start-up, and
// while an original file is not in WAL mode yet a reader of theirs holds off the switch and the
// tables' creation for a moment. That is no other program's lock. Later opens (retries once a
// second) wait as little as the writes do, so a lock of another program is reported at once.
constexpr int kRecorderFirstOpenBusyTimeoutMs = 1000;

// A file the user has marked read-only is left alone even where the process could override the
// mark (as the superuser can).
bool isReadOnlyFile(const QFileInfo& fi) {
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !fi.isWritable() || !(fi.permissions() & anyWrite);
}

// An existing file that does not start with the SQLite header is not ours to touch. An empty
// file is taken as a new database.
bool looksLikeDatabase(const QString& path, bool* readable) {
    QFile f(path);
    *readable = f.open(QIODevice::ReadOnly);
    if (!*readable) return false;
    if (f.size() == 0) return true;
    static const QByteArray kMagic("SQLite format 3\0", 16);
    return f.size() >= 100 && f.read(16) == kMagic;
}

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

QString faultText(SampleStore::Fault f) {
    using F = SampleStore::Fault;
    switch (f) {
        case F::None:
            return {};
        case F::NotOpen:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库未打开"));
        case F::FolderNotCreatable:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法创建数据库文件夹"));
        case F::FileNotCreatable:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法创建数据库文件"));
        case F::ReadOnly:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件只读"));
        case F::Locked:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件被其他程序锁定"));
        case F::NotADatabase:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "文件不是数据库"));
        case F::Corrupt:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件已损坏"));
        case F::WrongTables:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库表结构不符"));
        case F::IdNotUnique:
            return QStringLiteral(
                QT_TRANSLATE_NOOP("velmars", "数据库表 pv_data 的 w_id 不是唯一键"));
        case F::DiskFull:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "磁盘已满"));
        case F::Other:
            break;
    }
    return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法读写数据库文件"));
}

SampleStore::SampleStore(QString path, QString connectionName, Commit commit)
    : path_(std::move(path)), commit_(commit), file_(std::move(connectionName)) {}

SampleStore::~SampleStore() {
    close();
}

bool SampleStore::fail(Fault f) {
    fault_ = f;
    lastError_ = faultText(f);
    return false;
}

SampleStore::Fault faultOf(const QSqlError& e, SampleStore::Fault fallback) {
    using F = SampleStore::Fault;
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok) return fallback;
    switch (code) {
        case kSqliteBusy:
        case kSqliteLocked:
            return F::Locked;
        case kSqliteReadOnly:
            return F::ReadOnly;
        case kSqliteCorrupt:
            return F::Corrupt;
        case kSqliteNotADb:
            return F::NotADatabase;
        case kSqliteFull:
            return F::DiskFull;
        default:
            return fallback;
    }
}

bool SampleStore::failFromSql(const QSqlError& e, Fault fallback) {
    qCDebug(lcStore, "%s: %s", qUtf8Printable(path_), qUtf8Printable(e.text()));
    return fail(faultOf(e, fallback));
}

bool SampleStore::isOpen() const {
    return open_;
}

bool SampleStore::open(Access access) {
    close();
    fault_ = Fault::None;
    lastError_.clear();
    const bool readOnly = access == Access::ReadOnly;
    hasArchive_ = false;
    hasStaleTable_ = false;

    const QFileInfo fi(path_);
    const QString folder = fi.absolutePath();
    if (!readOnly && !QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return fail(Fault::FolderNotCreatable);
    const bool existed = fi.exists();
    if (readOnly && !existed) return fail(Fault::NotOpen);
    if (existed) {
        if (!fi.isFile()) return fail(Fault::FileNotCreatable);
        if (!readOnly && isReadOnlyFile(fi)) return fail(Fault::ReadOnly);
        // A file another of our connections already holds has passed this check, and reading its
        // header here would release that connection's locks.
        bool readable = false, database = true;
        lookIfNotHeld(fi.canonicalFilePath(),
                      [&] { database = looksLikeDatabase(path_, &readable); });
        if (!database) return fail(readable ? Fault::NotADatabase : Fault::ReadOnly);
    }

    if (!file_.open(path_, readOnly, kBusyTimeoutMs))
        return failFromSql(file_.error(), existed ? Fault::Other : Fault::FileNotCreatable);
    conn_ = std::make_unique<Connection>(file_.db());
    open_ = true;
    const auto setBusyTimeout = [this](int ms) {
        QSqlQuery(conn_->db).exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(ms));
    };
    const bool patient = access == Access::Record && !opened_;
    opened_ = true;
    if (patient) setBusyTimeout(kRecorderFirstOpenBusyTimeoutMs);

    // The tables are looked at before anything is written: a file that is not the ring's is left
    // exactly as it was, not even switched to WAL.
    QStringList pvColumns, counterColumns;
    bool usable = inspectTables(&pvColumns, &counterColumns);
    if (usable && readOnly) {
        // A file read only must hold the ring already.
        usable = (!pvColumns.isEmpty() && !counterColumns.isEmpty()) || fail(Fault::WrongTables);
        usable = usable && (prepareStatements(counterColumns) || fail(Fault::Other));
    }
    usable = usable && inspectArchive(true);
    if (!usable) {
        const Fault f = fault_;
        close();
        return fail(f);
    }
    if (readOnly) return true;

    // WAL lets the chart read while the recorder writes. With synchronous=FULL the log is synced
    // at every commit, so a sample the recorder reported as stored survives a power cut; the cost
    // (one sync a second) is paid on the recorder's own thread. NORMAL, for readers and bulk
    // writers, is atomic against a crash of the program and syncs only at checkpoints.
    QSqlQuery q(conn_->db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) {
        const QSqlError e = q.lastError();
        q = QSqlQuery();
        close();
        return failFromSql(e, existed ? Fault::Other : Fault::FileNotCreatable);
    }
    const bool wal = q.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) == 0;
    q.finish();
    if (!wal) {
        q = QSqlQuery();
        close();
        return fail(Fault::Other);
    }
    q.exec(commit_ == Commit::Synced ? QStringLiteral("PRAGMA synchronous=FULL")
                                     : QStringLiteral("PRAGMA synchronous=NORMAL"));
    // Small checkpoints keep the log, and so the files on disk, small: about every 100 samples.
    q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=250"));
    q.exec(QStringLiteral("PRAGMA journal_size_limit=1048576"));
    q = QSqlQuery();

    if (!createTablesAndPrepare(pvColumns, counterColumns) ||
        (access == Access::Record && !inspectArchive(false))) {
        const Fault f = fault_;
        close();
        return fail(f);
    }
    if (patient) setBusyTimeout(kBusyTimeoutMs);
    fault_ = Fault::None;
    lastError_.clear();
    return true;
}

bool SampleStore::tableColumns(const QString& table, QStringList* names) {
    QSqlQuery q(conn_->db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return failFromSql(q.lastError(), Fault::Other);
    while (q.next())
        names->append(q.value(1).toString());
    return true;
}

bool SampleStore::inspectTables(QStringList* pvColumns, QStringList* counterColumns) {
    if (!tableColumns(QStringLiteral("pv_data"), pvColumns)) return false;
    if (!tableColumns(QStringLiteral("sl_void"), counterColumns)) return false;
    return checkShapes(*pvColumns, *counterColumns);
}

bool SampleStore::checkShapes(const QStringList& pvColumns, const QStringList& counterColumns) {
    // Tables of another shape are reported and left alone.
    if (!pvColumns.isEmpty()) {
        if (pvColumns.size() != schema::kSampleColumnCount ||
            pvColumns[0].compare(QStringLiteral("w_id"), Qt::CaseInsensitive) ||
            pvColumns[1].compare(QStringLiteral("w_date"), Qt::CaseInsensitive) ||
            pvColumns[2].compare(QStringLiteral("w_time"), Qt::CaseInsensitive))
            return fail(Fault::WrongTables);
    }
    if (!counterColumns.isEmpty() && counterColumns.size() < 2) return fail(Fault::WrongTables);
    // Without a unique w_id the ring's replace would add a row every second and never overwrite.
    if (!pvColumns.isEmpty()) {
        bool unique = false;
        if (!idIsUniqueKey(pvColumns, &unique)) return false;
        if (!unique) return fail(Fault::IdNotUnique);
    }
    return true;
}

bool SampleStore::createTablesAndPrepare(const QStringList& pvColumns, QStringList counterColumns) {
    Connection& c = *conn_;

    auto run = [&](QSqlQuery& q, const QString& sql) {
        if (q.exec(sql)) return true;
        failFromSql(q.lastError(), Fault::Other);
        return false;
    };
    QSqlQuery q(c.db);
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
        if (!run(q, QStringLiteral("BEGIN IMMEDIATE"))) return false;
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
            if (!run(q, s)) {
                q.exec(QStringLiteral("ROLLBACK"));
                return false;
            }
        }
        if (!run(q, QStringLiteral("COMMIT"))) {
            q.exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        if (counterColumns.isEmpty())
            counterColumns = {QStringLiteral("last_id"), QStringLiteral("last_id_copy")};
    }
    q = QSqlQuery();
    return prepareStatements(counterColumns) || fail(Fault::Other);
}

bool SampleStore::prepareStatements(const QStringList& counterColumns) {
    Connection& c = *conn_;
    // The counter row is the first row of sl_void; its first two columns hold the latest number.
    const QString& row = schema::kCounterRowCondition;
    const bool ok =
        c.begin.prepare(QStringLiteral("BEGIN IMMEDIATE")) &&
        c.commit.prepare(QStringLiteral("COMMIT")) &&
        c.rollback.prepare(QStringLiteral("ROLLBACK")) &&
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
    QSqlQuery q(conn_->db);
    const QString id = pvColumns[0];
    // The primary key, when it is w_id alone (also the INTEGER PRIMARY KEY the store creates).
    if (!q.exec(QStringLiteral("PRAGMA table_info(pv_data)")))
        return failFromSql(q.lastError(), Fault::Other);
    int keyColumns = 0;
    bool idInKey = false;
    while (q.next()) {
        if (q.value(5).toInt() > 0) {
            ++keyColumns;
            idInKey = idInKey || q.value(1).toString() == id;
        }
    }
    if (keyColumns == 1 && idInKey) {
        *unique = true;
        return true;
    }
    // Or a unique index over w_id alone that covers every row (not a partial one).
    if (!q.exec(QStringLiteral("PRAGMA index_list(pv_data)")))
        return failFromSql(q.lastError(), Fault::Other);
    QStringList candidates;
    while (q.next()) {
        if (q.value(2).toInt() == 1 && q.value(4).toInt() == 0) candidates << q.value(1).toString();
    }
    for (const QString& index : candidates) {
        QString escaped = index;
        escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        if (!q.exec(QStringLiteral("PRAGMA index_info(\"%1\")").arg(escaped)))
            return failFromSql(q.lastError(), Fault::Other);
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
    conn_.reset();
    file_.close();
    open_ = false;
    hasArchive_ = false;
    hasStaleTable_ = false;
}

bool SampleStore::readable() {
    fault_ = Fault::None;
    lastError_.clear();
    return open_ || fail(Fault::NotOpen);
}

bool SampleStore::beginRead() {
    return readable() && (file_.beginRead() || failFromSql(file_.error(), Fault::Other));
}

void SampleStore::endRead() {
    if (open_) file_.endRead();
}

QSqlDatabase SampleStore::database() const {
    return open_ ? file_.db() : QSqlDatabase();
}

std::optional<int> SampleStore::readCounter() {
    if (!readable()) return std::nullopt;
    return counterFrom(conn_->counter);
}

std::optional<int> SampleStore::counterFrom(QSqlQuery& q) {
    if (!q.exec()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    std::optional<int> result;
    if (q.next()) {
        const QVariant v = q.value(0);
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!v.isNull() && ok) result = base::roundToInt32(d);
    } else if (q.lastError().isValid()) {
        failFromSql(q.lastError(), Fault::Other);
    }
    q.finish();
    return result;
}

bool SampleStore::storeSample(const Sample& s) {
    if (!open_) return fail(Fault::NotOpen);
    if (!conn_->begin.exec()) return failFromSql(conn_->begin.lastError(), Fault::Other);
    return writeInTransaction(s);
}

bool SampleStore::storeNextSample(Sample& s, int fallbackCounter) {
    s.id = nextRecordNo(fallbackCounter);
    if (!open_) return fail(Fault::NotOpen);
    Connection& c = *conn_;
    if (!c.begin.exec()) return failFromSql(c.begin.lastError(), Fault::Other);
    // Read under the write lock: no other writer can move the counter between here and the commit.
    if (const std::optional<int> counter = counterFrom(c.counter)) s.id = nextRecordNo(*counter);
    return writeInTransaction(s);
}

// Runs inside an open transaction; commits it, or rolls it back when any statement fails.
bool SampleStore::writeInTransaction(const Sample& s) {
    Connection& c = *conn_;
    auto abandon = [&](const QSqlQuery& failed) {
        const QSqlError e = failed.lastError();
        c.rollback.exec();
        return failFromSql(e, Fault::Other);
    };

    c.put.bindValue(0, s.id);
    c.put.bindValue(1, s.date);
    c.put.bindValue(2, s.time);
    for (int k = 0; k < 10; ++k)
        c.put.bindValue(3 + k, static_cast<double>(s.values[k]));
    if (!c.put.exec()) return abandon(c.put);

    c.setCounter.bindValue(0, s.id);
    c.setCounter.bindValue(1, s.id);
    if (!c.setCounter.exec()) return abandon(c.setCounter);
    if (c.setCounter.numRowsAffected() == 0) {
        // The counter row went missing: a new one takes its place in the same transaction.
        c.addCounter.bindValue(0, s.id);
        c.addCounter.bindValue(1, s.id);
        if (!c.addCounter.exec()) return abandon(c.addCounter);
    }
    if (hasArchive_ && !archiveSample(s)) {
        const Fault f = fault_;
        c.rollback.exec();
        return fail(f);
    }
    if (!c.commit.exec()) return abandon(c.commit);
    fault_ = Fault::None;
    lastError_.clear();
    return true;
}

std::vector<Sample> SampleStore::loadWindow(QSqlQuery& q, int first, int last) {
    std::vector<Sample> rows;
    // The bounds are taken as an unordered pair.
    if (first > last) std::swap(first, last);
    q.bindValue(0, first);
    q.bindValue(1, last);
    if (!q.exec()) {
        failFromSql(q.lastError(), Fault::Other);
        return rows;
    }
    while (q.next())
        rows.push_back(sampleFrom(q));
    if (q.lastError().isValid()) failFromSql(q.lastError(), Fault::Other);
    q.finish();
    return rows;
}

std::vector<Sample> SampleStore::loadBetween(int first, int last) {
    if (!readable()) return {};
    return loadWindow(conn_->between, first, last);
}

std::vector<Sample> SampleStore::loadNotBetween(int first, int last) {
    if (!readable()) return {};
    return loadWindow(conn_->notBetween, first, last);
}

std::optional<std::vector<Sample>> SampleStore::loadPlaces(int first, int count) {
    if (!readable()) return std::nullopt;
    std::vector<Sample> rows;
    for (const auto& [lo, hi] : ringRanges(first, count)) {
        std::vector<Sample> part = loadWindow(conn_->places, lo, hi);
        if (fault_ != Fault::None) return std::nullopt;
        rows.insert(rows.end(), part.begin(), part.end());
    }
    return rows;
}

std::optional<Sample> SampleStore::loadRecord(int id) {
    if (!readable()) return std::nullopt;
    QSqlQuery& q = conn_->record;
    q.bindValue(0, id);
    if (!q.exec()) {
        failFromSql(q.lastError(), Fault::Other);
        return std::nullopt;
    }
    std::optional<Sample> result;
    if (q.next() && !q.value(0).isNull()) result = sampleFrom(q);
    q.finish();
    return result;
}

}  // namespace record
