#include "auth/userstore.h"

#include <sodium.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QVariant>

#include "base/tr.h"

namespace auth {

namespace {

// Marks the file as ours in its header ("VelU"); a file with tables and another mark is foreign.
constexpr qint64 kApplicationId = 0x56656c55;
constexpr int kBusyTimeoutMs = 2000;
constexpr qint64 kDayMs = 86'400'000;
constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS access_users(id INTEGER PRIMARY KEY,"
    " user_id TEXT NOT NULL COLLATE NOCASE UNIQUE, full_name TEXT NOT NULL, role TEXT NOT NULL,"
    " disabled INTEGER NOT NULL DEFAULT 0, hash TEXT NOT NULL, password_set_ms INTEGER NOT NULL,"
    " must_change INTEGER NOT NULL, failed INTEGER NOT NULL DEFAULT 0,"
    " created_ms INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS access_password_history(account INTEGER NOT NULL,"
    " hash TEXT NOT NULL, set_ms INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS access_settings(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS access_events(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " at_ms INTEGER NOT NULL, code TEXT NOT NULL, user TEXT NOT NULL, args TEXT NOT NULL)",
};

const QString kAccessControl = QStringLiteral("access_control");
const QString kExpiryDays = QStringLiteral("password_expiry_days");
const QString kIdleMinutes = QStringLiteral("idle_lock_minutes");
const QString kReasons = QStringLiteral("reasons");
const QString kReviewerMayApprove = QStringLiteral("reviewer_may_approve");

// The rules every new password meets.
Outcome passwordRule(const QString& userId, const QString& password) {
    if (!longEnough(password)) return Outcome::TooShort;
    if (guessable(userId, password)) return Outcome::Weak;
    return Outcome::Done;
}

QSqlQuery prepared(const store::Database& db, const char* sql) {
    QSqlQuery q(db.db());
    q.prepare(QString::fromLatin1(sql));
    return q;
}

}  // namespace

struct UserStore::Row {
    qint64 id = 0;
    Account account;
    QByteArray hash;
};

bool Account::locked() const {
    return failedLogins >= UserStore::kLockAfter;
}

QString outcomeText(Outcome o) {
    switch (o) {
        case Outcome::Done:
            return {};
        case Outcome::Refused:
            return base::Tr::tr("用户名或密码错误");
        case Outcome::Locked:
            return base::Tr::tr("账户已锁定，请管理员解锁");
        case Outcome::Weak:
            return base::Tr::tr("密码不能只有空格，也不能由用户名重复组成");
        case Outcome::MustChange:
            return base::Tr::tr("密码已过期或须更改，请设置新密码");
        case Outcome::NotAllowed:
            return base::Tr::tr("需要管理员权限");
        case Outcome::TooShort:
            return base::Tr::tr("密码至少需要 %1 个字符").arg(kMinPasswordLength);
        case Outcome::Reused:
            return base::Tr::tr("新密码不能与最近 %1 次的密码相同").arg(UserStore::kHistory);
        case Outcome::Exists:
            return base::Tr::tr("用户已存在");
        case Outcome::NotFound:
            return base::Tr::tr("没有此用户");
        case Outcome::LastAdministrator:
            return base::Tr::tr("不能停用或降级最后一个管理员");
        case Outcome::BadInput:
            return base::Tr::tr("用户名和姓名不能为空");
        case Outcome::Unusable:
            break;
    }
    return base::Tr::tr("用户库无法使用");
}

UserStore::UserStore(const QString& path, const QString& connectionName, HashCost cost,
                     std::function<qint64()> utcNowMs)
    : db_(path, connectionName), cost_(cost), now_(std::move(utcNowMs)) {
    if (!now_) now_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

UserStore::~UserStore() = default;

QString UserStore::stateText() const {
    if (state_ != StoreState::Unusable) return {};
    return base::Tr::tr("用户库 %1 无法使用：%2").arg(db_.path(), db_.lastError());
}

bool UserStore::isOurs(bool* empty) {
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next())
        return db_.failFromSql(q.lastError(), store::Fault::Corrupt);
    if (q.value(0).toString() != u"ok") return db_.fail(store::Fault::Corrupt);
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return db_.failFromSql(q.lastError());
    const qint64 id = q.value(0).toLongLong();
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return db_.failFromSql(q.lastError());
    *empty = id == 0 && q.value(0).toInt() == 0;
    return id == kApplicationId || *empty || db_.fail(store::Fault::WrongTables);
}

bool UserStore::ensureSchema(bool fresh) {
    store::Transaction t(db_);
    if (!t.ok()) return false;
    QSqlQuery q(db_.db());
    for (const char* sql : kSchema)
        if (!q.exec(QString::fromLatin1(sql))) return db_.failFromSql(q.lastError());
    if (fresh && !q.exec(QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId)))
        return db_.failFromSql(q.lastError());
    return t.commit();
}

StoreState UserStore::open(bool create) {
    db_.close();
    const QString path = db_.path();
    const QFileInfo fi(path);
    if (!fi.exists()) {
        if (!create) return state_ = StoreState::Missing;
        // Made owner-only before SQLite writes a byte of it (its journal takes the same mode).
        QFile f(path);
        if (!QDir().mkpath(fi.absolutePath()) || !f.open(QIODevice::NewOnly) ||
            !f.setPermissions(kOwnerOnly)) {
            db_.fail(store::Fault::FileNotCreatable);
            return state_ = StoreState::Unusable;
        }
    }
    bool empty = false;
    if (!db_.open(create ? store::FileAccess::Create : store::FileAccess::Existing,
                  kBusyTimeoutMs) ||
        !isOurs(&empty)) {
        db_.close();
        return state_ = StoreState::Unusable;
    }
    if (empty && !create) {  // a file nobody has made a store of yet is left as it is
        db_.close();
        return state_ = StoreState::Missing;
    }
    QSqlQuery(db_.db()).exec(QStringLiteral("PRAGMA synchronous=FULL"));
    if (!ensureSchema(empty)) {
        db_.close();
        return state_ = StoreState::Unusable;
    }
    if ((QFile::permissions(path) & ~kOwnerOnly & ~QFileDevice::ReadUser &
         ~QFileDevice::WriteUser) != 0)
        QFile::setPermissions(path, kOwnerOnly);
    return state_ = StoreState::Ready;
}

QString UserStore::setting(const QString& key, const QString& fallback) {
    if (state_ != StoreState::Ready) return fallback;
    QSqlQuery q = prepared(db_, "SELECT value FROM access_settings WHERE key = ?");
    q.addBindValue(key);
    return q.exec() && q.next() ? q.value(0).toString() : fallback;
}

bool UserStore::putSetting(const QString& key, const QString& value) {
    QSqlQuery q = prepared(db_, "INSERT OR REPLACE INTO access_settings(key, value) VALUES(?, ?)");
    q.addBindValue(key);
    q.addBindValue(value);
    return q.exec() || db_.failFromSql(q.lastError());
}

bool UserStore::accessControl() {
    if (state_ != StoreState::Ready) return false;
    QSqlQuery q = prepared(db_, "SELECT value FROM access_settings WHERE key = ?");
    q.addBindValue(kAccessControl);
    // A store that cannot be read now (busy, damaged) counts as controlled: nothing goes
    // unchecked for it. Never switched on, it holds no row.
    if (!q.exec()) return true;
    return q.next() && q.value(0).toString() == u"1";
}

int UserStore::passwordExpiryDays() {
    return setting(kExpiryDays, QString::number(kDefaultExpiryDays)).toInt();
}

int UserStore::idleLockMinutes() {
    return setting(kIdleMinutes, QString::number(kDefaultIdleMinutes)).toInt();
}

bool UserStore::reviewerMayApprove() {
    return setting(kReviewerMayApprove, QStringLiteral("0")) == u"1";
}

QStringList UserStore::reasons() {
    const QJsonDocument doc = QJsonDocument::fromJson(setting(kReasons, {}).toUtf8());
    QStringList out;
    for (const QJsonValue& v : doc.array())
        out << v.toString();
    return out;
}

namespace {

const char kRowColumns[] =
    "SELECT id, user_id, full_name, role, disabled, must_change, failed, password_set_ms, hash"
    " FROM access_users";

}  // namespace

UserStore::Row UserStore::rowFrom(const QSqlQuery& q) {
    Row r;
    r.id = q.value(0).toLongLong();
    r.account.userId = q.value(1).toString();
    r.account.fullName = q.value(2).toString();
    // An unknown role (a newer program's) grants nothing beyond looking.
    r.account.role = roleFromKey(q.value(3).toString()).value_or(Role::Viewer);
    r.account.disabled = q.value(4).toBool();
    r.account.mustChange = q.value(5).toBool();
    r.account.failedLogins = q.value(6).toInt();
    r.account.passwordSetMs = q.value(7).toLongLong();
    r.hash = q.value(8).toByteArray();
    return r;
}

QList<Account> UserStore::accounts() {
    QList<Account> out;
    if (state_ != StoreState::Ready) return out;
    QSqlQuery q(db_.db());
    if (!q.exec(QString::fromLatin1(kRowColumns) + QStringLiteral(" ORDER BY user_id"))) return out;
    while (q.next())
        out << rowFrom(q).account;
    return out;
}

std::optional<UserStore::Row> UserStore::row(const QString& userId) {
    if (state_ != StoreState::Ready) return std::nullopt;
    QSqlQuery q(db_.db());
    q.prepare(QString::fromLatin1(kRowColumns) + QStringLiteral(" WHERE user_id = ?"));
    q.addBindValue(userId);
    if (!q.exec() || !q.next()) return std::nullopt;
    return rowFrom(q);
}

std::optional<Account> UserStore::account(const QString& userId) {
    const auto r = row(userId);
    return r ? std::optional<Account>(r->account) : std::nullopt;
}

std::optional<Account> UserStore::accountNow(const QString& userId) {
    if (state_ != StoreState::Ready) return std::nullopt;
    QSqlQuery q(db_.db());
    q.prepare(QString::fromLatin1(kRowColumns) + QStringLiteral(" WHERE user_id = ?"));
    q.addBindValue(userId);
    if (!q.exec()) return std::nullopt;
    return q.next() ? rowFrom(q).account : Account{};
}

qint64 UserStore::dataVersion() {
    if (state_ != StoreState::Ready) return -1;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next()) return -1;
    return q.value(0).toLongLong();
}

QList<AccessEvent> UserStore::events() {
    return eventsAfter(0);
}

QList<AccessEvent> UserStore::eventsAfter(qint64 seq, bool* ok) {
    QList<AccessEvent> out;
    if (ok) *ok = false;
    if (state_ != StoreState::Ready) return out;
    QSqlQuery q = prepared(
        db_, "SELECT seq, at_ms, code, user, args FROM access_events WHERE seq > ? ORDER BY seq");
    q.addBindValue(seq);
    if (!q.exec()) return out;
    if (ok) *ok = true;
    while (q.next())
        out << AccessEvent{q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(),
                           q.value(3).toString(),
                           QJsonDocument::fromJson(q.value(4).toByteArray()).array()};
    return out;
}

qint64 UserStore::lastEventSeq() {
    if (state_ != StoreState::Ready) return 0;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT coalesce(max(seq), 0) FROM access_events")) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

bool UserStore::recordNow(const QString& code, const QString& user, const QJsonArray& args) {
    QSqlQuery q =
        prepared(db_, "INSERT INTO access_events(at_ms, code, user, args) VALUES(?, ?, ?, ?)");
    q.addBindValue(now_());
    q.addBindValue(code);
    q.addBindValue(user.isNull() ? QStringLiteral("") : user);  // a null one would bind NULL
    q.addBindValue(QString::fromUtf8(QJsonDocument(args).toJson(QJsonDocument::Compact)));
    return q.exec() || db_.failFromSql(q.lastError());
}

bool UserStore::record(const QString& code, const QString& user, const QJsonArray& args) {
    if (state_ != StoreState::Ready) return false;
    store::Transaction t(db_);
    return t.ok() && recordNow(code, user, args) && t.commit();
}

const QByteArray& UserStore::dummyHash() {
    // A hash of random bytes nobody knows, made at the product's cost ahead of time, so that even
    // the first unknown user costs one verification like any other; at another cost it is made
    // on first use.
    static const QByteArray kInteractive(
        "$argon2id$v=19$m=65536,t=2,p=1$t9ogaADijj5uZG35LUA9Kg$"
        "ekT5abpYfhVuaZEQzRoUdEWiyWZ27OwQEm45aHPhvf0");
    if (dummy_.isEmpty() && !needsRehash(kInteractive, cost_)) dummy_ = kInteractive;
    if (dummy_.isEmpty()) {
        char random[24];
        randombytes_buf(random, sizeof random);
        dummy_ =
            hashPassword(QString::fromLatin1(QByteArray(random, sizeof random).toBase64()), cost_);
    }
    return dummy_;
}

bool UserStore::insertAccount(const QString& userId, const QString& fullName, Role role,
                              const QByteArray& hash, bool mustChange) {
    const qint64 now = now_();
    QSqlQuery q =
        prepared(db_,
                 "INSERT INTO access_users(user_id, full_name, role, hash,"
                 " password_set_ms, must_change, created_ms) VALUES(?, ?, ?, ?, ?, ?, ?)");
    q.addBindValue(userId);
    q.addBindValue(fullName);
    q.addBindValue(roleKey(role));
    q.addBindValue(QString::fromLatin1(hash));
    q.addBindValue(now);
    q.addBindValue(mustChange ? 1 : 0);
    q.addBindValue(now);
    if (!q.exec()) return db_.failFromSql(q.lastError());
    const qint64 rowId = q.lastInsertId().toLongLong();
    q = prepared(db_, "INSERT INTO access_password_history(account, hash, set_ms) VALUES(?, ?, ?)");
    q.addBindValue(rowId);
    q.addBindValue(QString::fromLatin1(hash));
    q.addBindValue(now);
    return q.exec() || db_.failFromSql(q.lastError());
}

Outcome UserStore::createFirstAdmin(const QString& userId, const QString& fullName,
                                    const QString& password) {
    if (state_ != StoreState::Ready) return Outcome::Unusable;
    const QString id = userId.trimmed();
    if (id.isEmpty() || fullName.trimmed().isEmpty()) return Outcome::BadInput;
    if (const Outcome rule = passwordRule(id, password); rule != Outcome::Done) return rule;
    const QByteArray hash = hashPassword(password, cost_);
    if (hash.isEmpty()) return Outcome::Unusable;
    store::Transaction t(db_);
    if (!t.ok()) return Outcome::Unusable;
    QSqlQuery q(db_.db());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM access_users")) || !q.next())
        return Outcome::Unusable;
    if (q.value(0).toInt() > 0) return Outcome::Exists;
    q.finish();
    const bool ok = insertAccount(id, fullName.trimmed(), Role::Administrator, hash, false) &&
                    recordNow(QStringLiteral("account.created"), id,
                              {id, fullName.trimmed(), roleKey(Role::Administrator)}) &&
                    putSetting(kAccessControl, QStringLiteral("1")) &&
                    recordNow(QStringLiteral("access.switched"), id, {true}) && t.commit();
    return ok ? Outcome::Done : Outcome::Unusable;
}

bool UserStore::endLastAdminLock(Row& r) {
    if (!r.account.locked() || r.account.disabled || r.account.role != Role::Administrator)
        return false;
    QSqlQuery q = prepared(db_,
                           "SELECT count(*) FROM access_users WHERE role = ? AND disabled = 0"
                           " AND failed < ? AND id <> ?");
    q.addBindValue(roleKey(Role::Administrator));
    q.addBindValue(kLockAfter);
    q.addBindValue(r.id);
    if (!q.exec() || !q.next() || q.value(0).toInt() > 0) return false;
    // The lock began with the account's newest lock row (none: long ago).
    q = prepared(db_,
                 "SELECT coalesce(max(at_ms), 0) FROM access_events WHERE code = ? AND args = ?");
    q.addBindValue(QStringLiteral("account.locked"));
    q.addBindValue(QString::fromUtf8(
        QJsonDocument(QJsonArray{r.account.userId}).toJson(QJsonDocument::Compact)));
    if (!q.exec() || !q.next() || now_() - q.value(0).toLongLong() < kLastAdminLockMs) return false;
    q = prepared(db_, "UPDATE access_users SET failed = 0 WHERE id = ?");
    q.addBindValue(r.id);
    if (!q.exec() || !recordNow(QStringLiteral("account.lock_expired"), {}, {r.account.userId}))
        return false;
    r.account.failedLogins = 0;
    return true;
}

Outcome UserStore::authenticate(const QString& userId, const QString& password,
                                const QString& successCode) {
    if (state_ != StoreState::Ready) return Outcome::Unusable;
    const auto unknown = [&] {
        // The same work as for a real account, and a row that does not keep what was typed (a
        // password typed into the user field must not land in the log).
        verifyPassword(dummyHash(), password);
        return record(QStringLiteral("login.failed"), {}, {}) ? Outcome::Refused
                                                              : Outcome::Unusable;
    };
    const auto before = row(userId.trimmed());
    if (!before) return unknown();
    const bool right = verifyPassword(before->hash, password);
    store::Transaction t(db_);
    if (!t.ok()) return Outcome::Unusable;
    // Read again inside the transaction, which no other program can enter meanwhile: the count
    // of failures is the file's, not what this program saw before the slow check.
    auto r = row(userId.trimmed());
    if (!r || r->hash != before->hash) {  // deleted or given a new password meanwhile
        t.rollback();
        return r ? Outcome::Refused : unknown();
    }
    const QString id = r->account.userId;
    // Every attempt after the last administrator's lock has run out starts a new count.
    endLastAdminLock(*r);
    if (r->account.disabled || r->account.locked() || !right) {
        bool lockedNow = false;
        if (!r->account.disabled && !r->account.locked()) {
            QSqlQuery q = prepared(db_,
                                   "UPDATE access_users SET failed = failed + 1"
                                   " WHERE id = ? AND failed < ?");
            q.addBindValue(r->id);
            q.addBindValue(kLockAfter);
            if (!q.exec()) return db_.failFromSql(q.lastError()), Outcome::Unusable;
            lockedNow = r->account.failedLogins + 1 >= kLockAfter;
        }
        bool ok = recordNow(QStringLiteral("login.failed"), {}, {id});
        if (lockedNow) ok = ok && recordNow(QStringLiteral("account.locked"), {}, {id});
        if (!ok || !t.commit()) return Outcome::Unusable;
        return Outcome::Refused;
    }
    QSqlQuery q = prepared(db_, "UPDATE access_users SET failed = 0 WHERE id = ?");
    q.addBindValue(r->id);
    if (!q.exec()) return db_.failFromSql(q.lastError()), Outcome::Unusable;
    if (needsRehash(r->hash, cost_)) {  // made at another cost: made anew, the age kept
        const QByteArray hash = hashPassword(password, cost_);
        q = prepared(db_, "UPDATE access_users SET hash = ? WHERE id = ?");
        q.addBindValue(QString::fromLatin1(hash));
        q.addBindValue(r->id);
        if (hash.isEmpty() || !q.exec()) return Outcome::Unusable;
    }
    const int days = passwordExpiryDays();
    const bool expired = days > 0 && now_() - r->account.passwordSetMs > days * kDayMs;
    const bool change = r->account.mustChange || expired;
    if (!recordNow(change ? QStringLiteral("login.must_change") : successCode, id, {}) ||
        !t.commit())
        return Outcome::Unusable;
    return change ? Outcome::MustChange : Outcome::Done;
}

Outcome UserStore::checkNewPassword(const Row& r, const QString& password) {
    if (const Outcome rule = passwordRule(r.account.userId, password); rule != Outcome::Done)
        return rule;
    QSqlQuery q = prepared(db_, "SELECT hash FROM access_password_history WHERE account = ?");
    q.addBindValue(r.id);
    if (!q.exec()) return Outcome::Unusable;
    bool reused = verifyPassword(r.hash, password);
    while (!reused && q.next())
        reused = verifyPassword(q.value(0).toByteArray(), password);
    return reused ? Outcome::Reused : Outcome::Done;
}

Outcome UserStore::storePassword(const Row& r, const QByteArray& hash, bool mustChange) {
    if (hash.isEmpty()) return Outcome::Unusable;
    const qint64 now = now_();
    QSqlQuery q = prepared(db_,
                           "UPDATE access_users SET hash = ?, password_set_ms = ?, must_change = ?,"
                           " failed = 0 WHERE id = ?");
    q.addBindValue(QString::fromLatin1(hash));
    q.addBindValue(now);
    q.addBindValue(mustChange ? 1 : 0);
    q.addBindValue(r.id);
    if (!q.exec()) return db_.failFromSql(q.lastError()), Outcome::Unusable;
    q = prepared(db_, "INSERT INTO access_password_history(account, hash, set_ms) VALUES(?, ?, ?)");
    q.addBindValue(r.id);
    q.addBindValue(QString::fromLatin1(hash));
    q.addBindValue(now);
    if (!q.exec()) return db_.failFromSql(q.lastError()), Outcome::Unusable;
    // Only the newest ones are kept.
    q = prepared(db_,
                 "DELETE FROM access_password_history WHERE account = ? AND rowid NOT IN"
                 " (SELECT rowid FROM access_password_history WHERE account = ?"
                 " ORDER BY rowid DESC LIMIT ?)");
    q.addBindValue(r.id);
    q.addBindValue(r.id);
    q.addBindValue(kHistory);
    return q.exec() ? Outcome::Done : (db_.failFromSql(q.lastError()), Outcome::Unusable);
}

Outcome UserStore::changePassword(const QString& userId, const QString& oldPassword,
                                  const QString& newPassword) {
    const auto r = row(userId.trimmed());
    if (state_ != StoreState::Ready) return Outcome::Unusable;
    if (!r || r->account.disabled || r->account.locked() || !verifyPassword(r->hash, oldPassword)) {
        // Counted as a failed login: the old password is the one asked for.
        const Outcome o = authenticate(userId, oldPassword);
        return o == Outcome::Done || o == Outcome::MustChange ? Outcome::Refused : o;
    }
    const Outcome rule = checkNewPassword(*r, newPassword);
    if (rule != Outcome::Done) return rule;
    const QByteArray hash = hashPassword(newPassword, cost_);
    store::Transaction t(db_);
    if (!t.ok()) return Outcome::Unusable;
    const Outcome o = storePassword(*r, hash, /*mustChange=*/false);
    if (o != Outcome::Done) return o;
    return recordNow(QStringLiteral("password.changed"), r->account.userId, {r->account.userId}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::adminCheck(const QString& by) {
    if (state_ != StoreState::Ready) return Outcome::Unusable;
    const auto admin = row(by.trimmed());
    if (!admin || admin->account.disabled || admin->account.locked() ||
        admin->account.role != Role::Administrator)
        return Outcome::NotAllowed;
    return Outcome::Done;
}

Outcome UserStore::createAccount(const QString& by, const QString& userId, const QString& fullName,
                                 Role role, const QString& password) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    const QString id = userId.trimmed();
    if (id.isEmpty() || fullName.trimmed().isEmpty()) return Outcome::BadInput;
    if (row(id)) return Outcome::Exists;
    if (const Outcome rule = passwordRule(id, password); rule != Outcome::Done) return rule;
    const QByteArray hash = hashPassword(password, cost_);
    if (hash.isEmpty()) return Outcome::Unusable;
    store::Transaction t(db_);
    if (!t.ok()) return Outcome::Unusable;
    return insertAccount(id, fullName.trimmed(), role, hash, true) &&
                   recordNow(QStringLiteral("account.created"), by.trimmed(),
                             {id, fullName.trimmed(), roleKey(role)}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

bool UserStore::isLastAdministrator(const Row& r) {
    if (r.account.role != Role::Administrator || r.account.disabled) return false;
    QSqlQuery q = prepared(db_,
                           "SELECT count(*) FROM access_users WHERE role = ? AND disabled = 0"
                           " AND id <> ?");
    q.addBindValue(roleKey(Role::Administrator));
    q.addBindValue(r.id);
    return !q.exec() || !q.next() || q.value(0).toInt() == 0;
}

Outcome UserStore::changeAccount(const QString& by, const QString& userId, const QString& fullName,
                                 Role role) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    if (fullName.trimmed().isEmpty()) return Outcome::BadInput;
    const auto r = row(userId.trimmed());
    if (!r) return Outcome::NotFound;
    if (role != Role::Administrator && isLastAdministrator(*r)) return Outcome::LastAdministrator;
    store::Transaction t(db_);
    QSqlQuery q = prepared(db_, "UPDATE access_users SET full_name = ?, role = ? WHERE id = ?");
    q.addBindValue(fullName.trimmed());
    q.addBindValue(roleKey(role));
    q.addBindValue(r->id);
    return t.ok() && q.exec() &&
                   recordNow(QStringLiteral("account.changed"), by.trimmed(),
                             {r->account.userId, r->account.fullName, fullName.trimmed(),
                              roleKey(r->account.role), roleKey(role)}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::setDisabled(const QString& by, const QString& userId, bool disabled) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    const auto r = row(userId.trimmed());
    if (!r) return Outcome::NotFound;
    if (disabled && isLastAdministrator(*r)) return Outcome::LastAdministrator;
    store::Transaction t(db_);
    QSqlQuery q = prepared(db_, "UPDATE access_users SET disabled = ? WHERE id = ?");
    q.addBindValue(disabled ? 1 : 0);
    q.addBindValue(r->id);
    return t.ok() && q.exec() &&
                   recordNow(disabled ? QStringLiteral("account.disabled")
                                      : QStringLiteral("account.enabled"),
                             by.trimmed(), {r->account.userId}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::resetPassword(const QString& by, const QString& userId,
                                 const QString& password) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    const auto r = row(userId.trimmed());
    if (!r) return Outcome::NotFound;
    const Outcome rule = checkNewPassword(*r, password);
    if (rule != Outcome::Done) return rule;
    const QByteArray hash = hashPassword(password, cost_);
    store::Transaction t(db_);
    if (!t.ok()) return Outcome::Unusable;
    const Outcome o = storePassword(*r, hash, /*mustChange=*/true);
    if (o != Outcome::Done) return o;
    return recordNow(QStringLiteral("account.reset"), by.trimmed(), {r->account.userId}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::unlock(const QString& by, const QString& userId) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    const auto r = row(userId.trimmed());
    if (!r) return Outcome::NotFound;
    store::Transaction t(db_);
    QSqlQuery q = prepared(db_, "UPDATE access_users SET failed = 0 WHERE id = ?");
    q.addBindValue(r->id);
    return t.ok() && q.exec() &&
                   recordNow(QStringLiteral("account.unlocked"), by.trimmed(),
                             {r->account.userId}) &&
                   t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::changeSetting(const QString& by, const QString& key, const QString& value,
                                 const QString& code) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    // The value before is the one in force: a setting never changed has its default.
    const QString before = key == kExpiryDays    ? QString::number(passwordExpiryDays())
                           : key == kIdleMinutes ? QString::number(idleLockMinutes())
                                                 : setting(key, {});
    store::Transaction t(db_);
    return t.ok() && putSetting(key, value) &&
                   recordNow(code, by.trimmed(), {key, before, value}) && t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::setAccessControl(const QString& by, bool on) {
    if (const Outcome o = adminCheck(by); o != Outcome::Done) return o;
    store::Transaction t(db_);
    return t.ok() && putSetting(kAccessControl, on ? QStringLiteral("1") : QStringLiteral("0")) &&
                   recordNow(QStringLiteral("access.switched"), by.trimmed(), {on}) && t.commit()
               ? Outcome::Done
               : Outcome::Unusable;
}

Outcome UserStore::setPasswordExpiryDays(const QString& by, int days) {
    if (days < 0) return Outcome::BadInput;
    return changeSetting(by, kExpiryDays, QString::number(days), QStringLiteral("setting.changed"));
}

Outcome UserStore::setIdleLockMinutes(const QString& by, int minutes) {
    if (minutes < 0) return Outcome::BadInput;
    return changeSetting(by, kIdleMinutes, QString::number(minutes),
                         QStringLiteral("setting.changed"));
}

Outcome UserStore::setReviewerMayApprove(const QString& by, bool allowed) {
    return changeSetting(by, kReviewerMayApprove,
                         allowed ? QStringLiteral("1") : QStringLiteral("0"),
                         QStringLiteral("setting.changed"));
}

Outcome UserStore::setReasons(const QString& by, const QStringList& reasons) {
    // Blank entries and repeats would only be offered as nothing or twice.
    QStringList kept;
    for (const QString& r : reasons)
        if (!r.trimmed().isEmpty() && !kept.contains(r.trimmed())) kept << r.trimmed();
    return changeSetting(
        by, kReasons,
        QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(kept)).toJson(QJsonDocument::Compact)),
        QStringLiteral("setting.changed"));
}

}  // namespace auth
