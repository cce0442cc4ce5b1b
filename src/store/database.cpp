#include "store/database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>
#include <utility>

#include "store/logging.h"
#include "store/schema.h"

namespace store {

namespace {

// SQLite result codes told apart (the low byte of an extended code).
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADb = 26;

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

}  // namespace

bool isReadOnlyFile(const QString& path) {
    const QFileInfo fi(path);
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !fi.isWritable() || !(fi.permissions() & anyWrite);
}

QString faultText(Fault f) {
    switch (f) {
        case Fault::None:
            return {};
        case Fault::NotOpen:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库未打开"));
        case Fault::Missing:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件不存在"));
        case Fault::FolderNotCreatable:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法创建数据库文件夹"));
        case Fault::FileNotCreatable:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法创建数据库文件"));
        case Fault::ReadOnly:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件只读"));
        case Fault::Locked:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件被其他程序锁定"));
        case Fault::NotADatabase:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "文件不是数据库"));
        case Fault::Corrupt:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库文件已损坏"));
        case Fault::WrongTables:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库表结构不符"));
        case Fault::IdNotUnique:
            return QStringLiteral(
                QT_TRANSLATE_NOOP("velmars", "数据库表 pv_data 的 w_id 不是唯一键"));
        case Fault::DiskFull:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "磁盘已满"));
        case Fault::Other:
            break;
    }
    return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "无法读写数据库文件"));
}

Fault faultOf(const QSqlError& e, Fault fallback) {
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok) return fallback;
    switch (code) {
        case kSqliteBusy:
        case kSqliteLocked:
            return Fault::Locked;
        case kSqliteReadOnly:
            return Fault::ReadOnly;
        case kSqliteCorrupt:
            return Fault::Corrupt;
        case kSqliteNotADb:
            return Fault::NotADatabase;
        case kSqliteFull:
            return Fault::DiskFull;
        default:
            return fallback;
    }
}

Database::Database(QString path, QString connectionName)
    : path_(std::move(path)), file_(std::move(connectionName)) {}

bool Database::open(FileAccess access, int busyTimeoutMs) {
    close();
    fault_ = Fault::None;
    access_ = access;
    const bool readOnly = access == FileAccess::ReadOnly;
    const QFileInfo fi(path_);
    const QString folder = fi.absolutePath();
    if (access == FileAccess::Create && !QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return fail(Fault::FolderNotCreatable);
    const bool existed = fi.exists();
    if (!existed && access != FileAccess::Create) return fail(Fault::Missing);
    if (existed) {
        if (!fi.isFile()) return fail(Fault::FileNotCreatable);
        if (!readOnly && isReadOnlyFile(path_)) return fail(Fault::ReadOnly);
        // A file another of our connections already holds has passed this check, and reading its
        // header here would release that connection's locks.
        bool readable = false, database = true;
        lookIfNotHeld(fi.canonicalFilePath(),
                      [&] { database = looksLikeDatabase(path_, &readable); });
        if (!database) return fail(readable ? Fault::NotADatabase : Fault::ReadOnly);
    }
    if (!file_.open(path_, readOnly, busyTimeoutMs))
        return failFromSql(file_.error(), existed ? Fault::Other : Fault::FileNotCreatable);
    // A file whose sample table has another shape belongs to something else: no store of ours
    // writes into it, none reads it as ours.
    QStringList samples;
    const bool ours =
        columns(QStringLiteral("pv_data"), &samples) &&
        (samples.isEmpty() ||
         (samples.size() == schema::kSampleColumnCount &&
          samples.mid(0, 3) == QStringList{QStringLiteral("w_id"), QStringLiteral("w_date"),
                                           QStringLiteral("w_time")}) ||
         fail(Fault::WrongTables));
    if (!ours) {
        const Fault f = fault_;
        close();
        return fail(f);
    }
    return true;
}

void Database::close() {
    forgetKeyed();
    file_.close();
}

bool Database::fail(Fault f) {
    fault_ = f;
    return false;
}

bool Database::failFromSql(const QSqlError& e, Fault fallback) {
    qCDebug(lcStore, "%s: %s", qUtf8Printable(path_), qUtf8Printable(e.text()));
    return fail(faultOf(e, fallback));
}

bool Database::succeed() {
    fault_ = Fault::None;
    return true;
}

bool Database::ready() {
    return isOpen() ? succeed() : fail(Fault::NotOpen);
}

bool readColumns(QSqlQuery& q, const QString& table, QStringList* names) {
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table))) return false;
    while (q.next())
        names->append(q.value(1).toString().toLower());
    return true;
}

bool Database::columns(const QString& table, QStringList* names) {
    QSqlQuery q(db());
    return readColumns(q, table, names) || failFromSql(q.lastError());
}

bool Database::hasTable(const QString& table) {
    QStringList names;
    return columns(table, &names) && !names.isEmpty();
}

bool Database::useWal(bool synced) {
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next())
        return failFromSql(q.lastError(), Fault::Other);
    if (q.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        return fail(Fault::Other);
    q.finish();
    q.exec(synced ? QStringLiteral("PRAGMA synchronous=FULL")
                  : QStringLiteral("PRAGMA synchronous=NORMAL"));
    return true;
}

void Database::setBusyTimeout(int ms) {
    QSqlQuery(db()).exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(ms));
}

bool Database::beginRead() {
    return ready() && (file_.beginRead() || failFromSql(file_.error()));
}

void Database::endRead() {
    if (isOpen()) file_.endRead();
}

Transaction::Transaction(Database& db) : db_(db) {
    if (!db_.ready()) return;
    QSqlQuery q(db_.db());
    open_ = q.exec(QStringLiteral("BEGIN IMMEDIATE")) || db_.failFromSql(q.lastError());
}

Transaction::~Transaction() {
    rollback();
}

bool Transaction::commit() {
    if (!open_) return false;
    QSqlQuery q(db_.db());
    if (q.exec(QStringLiteral("COMMIT"))) {
        open_ = false;
        chain::committed(db_);
        return true;
    }
    const QSqlError e = q.lastError();
    q = QSqlQuery();
    rollback();
    return db_.failFromSql(e);
}

void Transaction::rollback() {
    if (!open_) return;
    open_ = false;
    db_.takeHeads();
    db_.forgetKeyed();
    QSqlQuery(db_.db()).exec(QStringLiteral("ROLLBACK"));
}

}  // namespace store
