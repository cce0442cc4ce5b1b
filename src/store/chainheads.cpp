#include "store/chainheads.h"

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <atomic>

#include "base/baseos.h"
#include "store/chain.h"
#include "store/database.h"

namespace store::chain {

namespace {

std::atomic<HeadStore*> theStore{nullptr};

constexpr const char* kCreateSql =
    "CREATE TABLE IF NOT EXISTS heads (file TEXT NOT NULL, chain TEXT NOT NULL, last INTEGER NOT "
    "NULL, n INTEGER NOT NULL, hash BLOB NOT NULL, keyed_from INTEGER, PRIMARY KEY (file, chain))";

sqlite3* openFile(const QString& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 2000);
    return db;
}

}  // namespace

QString headsPath(const QString& dir) {
    return QDir(dir).filePath(QStringLiteral("chain-heads.db"));
}

QString recordedName(const QString& path) {
    const QFileInfo f(path);
    const QString canonical = f.canonicalFilePath();
    return canonical.isEmpty() ? f.absoluteFilePath() : canonical;
}

struct HeadStore::File {
    sqlite3* db = nullptr;
    ~File() { sqlite3_close(db); }
};

HeadStore::HeadStore(std::unique_ptr<File> file) : file_(std::move(file)) {}

HeadStore::~HeadStore() = default;

std::unique_ptr<HeadStore> HeadStore::openToWrite(const QString& dir) {
    const QString path = headsPath(dir);
    // Made private before SQLite writes into it (an empty file is an empty database); its
    // journal takes the file's permissions.
    if (!QFileInfo::exists(path)) base::createPrivateFile(path, QByteArray());
    sqlite3* db = openFile(path, SQLITE_OPEN_READWRITE);
    if (!db) return nullptr;
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, kCreateSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    auto file = std::make_unique<File>();
    file->db = db;
    return std::unique_ptr<HeadStore>(new HeadStore(std::move(file)));
}

std::unique_ptr<HeadStore> HeadStore::openToRead(const QString& dir) {
    const QString path = headsPath(dir);
    if (!QFileInfo::exists(path)) return nullptr;
    sqlite3* db = openFile(path, SQLITE_OPEN_READONLY);
    if (!db) return nullptr;
    auto file = std::make_unique<File>();
    file->db = db;
    return std::unique_ptr<HeadStore>(new HeadStore(std::move(file)));
}

std::optional<Heads> HeadStore::heads(const QString& file) {
    std::lock_guard lock(lock_);
    if (const auto c = cache_.find(file); c != cache_.end()) return c->second;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(file_->db,
                           "SELECT chain, last, n, hash, keyed_from FROM heads WHERE file = ?", -1,
                           &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        // A record without its table (made, never written) records nothing.
        return sqlite3_errcode(file_->db) == SQLITE_ERROR ? std::optional<Heads>(Heads{})
                                                          : std::nullopt;
    }
    const QByteArray name = file.toUtf8();
    sqlite3_bind_text(st, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    Heads all;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        Head h;
        h.last = sqlite3_column_int64(st, 1);
        h.n = sqlite3_column_int64(st, 2);
        h.hash = QByteArray(static_cast<const char*>(sqlite3_column_blob(st, 3)),
                            sqlite3_column_bytes(st, 3));
        if (sqlite3_column_type(st, 4) != SQLITE_NULL) h.keyedFrom = sqlite3_column_int64(st, 4);
        all[QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))] = h;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) return std::nullopt;
    cache_[file] = all;
    return all;
}

bool HeadStore::put(const QString& file, const QString& chain, const Head& h) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(file_->db, "INSERT OR REPLACE INTO heads VALUES (?, ?, ?, ?, ?, ?)", -1,
                           &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return false;
    }
    const QByteArray name = file.toUtf8(), c = chain.toUtf8();
    sqlite3_bind_text(st, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, c.constData(), int(c.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 3, h.last);
    sqlite3_bind_int64(st, 4, h.n);
    sqlite3_bind_blob(st, 5, h.hash.constData(), int(h.hash.size()), SQLITE_TRANSIENT);
    if (h.keyedFrom)
        sqlite3_bind_int64(st, 6, *h.keyedFrom);
    else
        sqlite3_bind_null(st, 6);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    return ok;
}

void HeadStore::advance(Database& db, const Heads& reached) {
    const QString file = recordedName(db.path());
    const auto recorded = heads(file);
    if (!recorded) return;
    // Read after the commit: the file as it now stands must hold what was recorded before.
    if (!recorded->empty() && shortOf(db, *recorded)) return;
    std::lock_guard lock(lock_);
    Heads& cached = cache_[file];
    for (const auto& [chain, h] : reached) {
        Head next = h;
        // The keyed part of a chain, once recorded, starts no later than it did.
        if (const auto was = cached.find(chain); was != cached.end() && was->second.keyedFrom)
            next.keyedFrom = next.keyedFrom ? std::min(*next.keyedFrom, *was->second.keyedFrom)
                                            : was->second.keyedFrom;
        if (put(file, chain, next)) cached[chain] = next;
    }
}

void setHeadStore(HeadStore* store) {
    theStore = store;
}

HeadStore* headStore() {
    return theStore;
}

std::optional<std::pair<QString, int64_t>> shortOf(Database& db, const Heads& heads) {
    if (const auto e = heads.find(kEventsChain); e != heads.end()) {
        const Head& h = e->second;
        QSqlQuery q(db.db());
        bool holds = false;
        if (db.hasTable(QStringLiteral("events"))) {
            q.prepare(QStringLiteral("SELECT hash FROM events WHERE id = ?"));
            q.bindValue(0, qlonglong(h.last));
            if (!q.exec()) return db.failFromSql(q.lastError()), std::nullopt;
            if (q.next()) {
                holds = q.value(0).toByteArray() == h.hash;
            } else if (db.hasTable(QStringLiteral("chain_anchor"))) {
                // Retention removed every row up to the head: the next row links to it.
                q.prepare(QStringLiteral(
                    "SELECT 1 FROM chain_anchor WHERE chain = 'events' AND at > ? AND hash = ?"));
                q.bindValue(0, qlonglong(h.last));
                q.bindValue(1, h.hash);
                if (!q.exec()) return db.failFromSql(q.lastError()), std::nullopt;
                holds = q.next();
            }
        }
        if (db.fault() != Fault::None) return std::nullopt;
        if (!holds) return std::pair{QStringLiteral("events"), h.last};
    }
    if (const auto a = heads.find(kHoursChain); a != heads.end()) {
        const Head& h = a->second;
        bool holds = false;
        if (db.hasTable(QStringLiteral("archive_hours"))) {
            QSqlQuery q(db.db());
            q.prepare(QStringLiteral("SELECT n, hash FROM archive_hours WHERE hour = ?"));
            q.bindValue(0, qlonglong(h.last));
            if (!q.exec()) return db.failFromSql(q.lastError()), std::nullopt;
            // The newest hour goes on taking seconds: one that took more since is held.
            holds =
                q.next() && (q.value(1).toByteArray() == h.hash || q.value(0).toLongLong() > h.n);
        }
        if (db.fault() != Fault::None) return std::nullopt;
        if (!holds) return std::pair{QStringLiteral("archive"), h.last * kHourSeconds};
    }
    return std::nullopt;
}

void committed(Database& db) {
    Heads reached = db.takeHeads();
    HeadStore* store = headStore();
    if (!store || reached.empty()) return;
    store->advance(db, reached);
}

}  // namespace store::chain
