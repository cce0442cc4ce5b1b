#pragma once
// The user store: one SQLite file for every chamber of the PC, with the accounts, their password
// hashes, the access-control settings and a log of everything done to them. A file that is not
// ours (corrupt, another program's, read-only) is left untouched, and the store then says that
// nobody may change anything.

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "auth/password.h"
#include "auth/roles.h"
#include "store/database.h"

namespace auth {

// The file's name in the data folder, beside the chambers' Rdatabj*.db.
inline constexpr char kUserStoreFileName[] = "velmars-users.db";

enum class StoreState {
    Missing,   // no file yet: access control is off
    Ready,     // read and written
    Unusable,  // a file we may not use; fault() says why, nobody may change anything
};

// How a request ended.
enum class Outcome {
    Done,
    // Wrong user id or password, a disabled or a locked account: none is told apart from the
    // others, so that nobody learns from the answer that an account exists.
    Refused,
    Locked,      // the session's own account was locked by this attempt (the session ended)
    MustChange,  // the password is right but expired or set by an administrator: change it first
    NotAllowed,  // the one asking is no enabled administrator
    TooShort,    // fewer than kMinPasswordLength characters
    Weak,        // only blanks, or the user id over and over
    Reused,      // one of the account's last kHistory passwords
    Exists,      // the user id is taken (in any case), or the store has accounts already
    NotFound,    // no such account
    LastAdministrator,  // the last enabled administrator may not be disabled or given another role
    BadInput,           // an empty user id or name
    Unusable,           // the store cannot be read or written
};
QString outcomeText(Outcome o);

struct Account {
    QString userId;
    QString fullName;
    Role role = Role::Viewer;
    bool disabled = false;
    bool mustChange = false;
    int failedLogins = 0;
    qint64 passwordSetMs = 0;  // UTC
    bool locked() const;
};

// One row of the store's log: what happened, to whom, by whom; no password or hash.
struct AccessEvent {
    qint64 seq = 0;   // the row's number, rising
    qint64 atMs = 0;  // UTC
    QString code;     // "login", "login.failed", "account.locked", ...
    QString user;     // who did it; empty for the command line before anyone is known
    QJsonArray args;  // the values: the account concerned, old and new values
};

class UserStore {
  public:
    static constexpr int kLockAfter = 5;  // failed logins in a row
    static constexpr int kHistory = 5;    // a new password may be none of the last ones
    static constexpr int kDefaultExpiryDays = 90;
    static constexpr int kDefaultIdleMinutes = 15;
    // The lock of the last usable administrator ends by itself this long after it began, so that
    // wrong passwords typed by anyone cannot shut every administrator out for good.
    static constexpr qint64 kLastAdminLockMs = 15 * 60'000;

    // utcNowMs gives the time of password ages and log rows (the wall clock unless given).
    UserStore(const QString& path, const QString& connectionName,
              HashCost cost = HashCost::interactive(), std::function<qint64()> utcNowMs = nullptr);
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    // Opens the file; create: make it (owner-only) where missing. A missing file without create
    // is Missing, any file not ours Unusable; either way nothing is written to it.
    StoreState open(bool create);
    StoreState state() const { return state_; }
    store::Fault fault() const { return db_.fault(); }
    // Why the store cannot be used, in the operator's words; empty when it can.
    QString stateText() const;
    QString path() const { return db_.path(); }

    // Settings held in the store, so that no text editor switches them.
    bool accessControl();
    int passwordExpiryDays();  // 0: passwords never expire
    int idleLockMinutes();     // 0: sessions never lock
    QStringList reasons();     // the administrator's list of reasons for a change
    // Whether one person may both review and approve the same record (default: not).
    bool reviewerMayApprove();

    QList<Account> accounts();
    std::optional<Account> account(const QString& userId);
    QList<AccessEvent> events();
    // The rows after seq, oldest first (what the chambers' logs have not been told yet); *ok
    // false when they could not be read (the file busy or damaged).
    QList<AccessEvent> eventsAfter(qint64 seq, bool* ok = nullptr);
    // The number of the newest row; 0 without one.
    qint64 lastEventSeq();
    // A number that changes whenever another program has written the file; -1 when it cannot be
    // read.
    qint64 dataVersion();
    // The account as the file holds it now: nullopt when the file could not be read, an empty
    // account (no user id) when it holds no such account.
    std::optional<Account> accountNow(const QString& userId);

    // The first administrator, only while the store has no account; switches access control on.
    Outcome createFirstAdmin(const QString& userId, const QString& fullName,
                             const QString& password);
    // A login's check of user id and password; records a success, a failure and a lock. An
    // unknown user costs the same as a known one, and answers the same as a wrong password or a
    // disabled or locked account (Refused). The failures are counted in the file itself, so that
    // attempts from several programs at once lock at exactly kLockAfter.
    // successCode: the row a success leaves ("login"; a signature's check is no login).
    Outcome authenticate(const QString& userId, const QString& password,
                         const QString& successCode = QStringLiteral("login"));
    // The user's own change: the old password again; clears the must-change mark.
    Outcome changePassword(const QString& userId, const QString& oldPassword,
                           const QString& newPassword);

    // An administrator's work (by: the administrator's user id, checked against the store).
    Outcome createAccount(const QString& by, const QString& userId, const QString& fullName,
                          Role role, const QString& password);
    Outcome changeAccount(const QString& by, const QString& userId, const QString& fullName,
                          Role role);
    Outcome setDisabled(const QString& by, const QString& userId, bool disabled);
    Outcome resetPassword(const QString& by, const QString& userId, const QString& password);
    Outcome unlock(const QString& by, const QString& userId);
    Outcome setAccessControl(const QString& by, bool on);
    Outcome setPasswordExpiryDays(const QString& by, int days);
    Outcome setIdleLockMinutes(const QString& by, int minutes);
    Outcome setReasons(const QString& by, const QStringList& reasons);
    Outcome setReviewerMayApprove(const QString& by, bool allowed);

    // Adds a row to the log (a session's lock, unlock and logout); false when it cannot.
    bool record(const QString& code, const QString& user, const QJsonArray& args = {});

  private:
    struct Row;
    bool ensureSchema(bool fresh);
    bool isOurs(bool* empty);
    static Row rowFrom(const QSqlQuery& q);  // a row of kRowColumns
    std::optional<Row> row(const QString& userId);
    QString setting(const QString& key, const QString& fallback);
    bool putSetting(const QString& key, const QString& value);
    // The account's row and its first password in the history, inside the caller's transaction.
    bool insertAccount(const QString& userId, const QString& fullName, Role role,
                       const QByteArray& hash, bool mustChange);
    Outcome adminCheck(const QString& by);
    // Whether the account is the only enabled administrator (nobody could switch access off).
    bool isLastAdministrator(const Row& r);
    Outcome checkNewPassword(const Row& r, const QString& password);
    // Ends the lock of the last usable administrator once kLastAdminLockMs have passed since it
    // began; inside the caller's transaction. True when it ended it now.
    bool endLastAdminLock(Row& r);
    Outcome storePassword(const Row& r, const QByteArray& hash, bool mustChange);
    Outcome changeSetting(const QString& by, const QString& key, const QString& value,
                          const QString& code);
    bool recordNow(const QString& code, const QString& user, const QJsonArray& args);
    const QByteArray& dummyHash();

    store::Database db_;
    HashCost cost_;
    std::function<qint64()> now_;
    StoreState state_ = StoreState::Missing;
    QByteArray dummy_;
};

}  // namespace auth
