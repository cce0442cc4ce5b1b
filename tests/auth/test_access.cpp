// The user store's rules, the role table, the session's idle lock and the files the store must
// leave alone, all against real store files.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <functional>

#include "../support/sqlrows.h"
#include "auth/actor.h"
#include "auth/audit.h"
#include "auth/credentials.h"
#include "auth/session.h"
#include "auth/sessionkeeper.h"
#include "auth/userstore.h"

using namespace auth;

namespace {

constexpr qint64 kDayMs = 86'400'000;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Step {
    const char* what;
    std::function<Outcome(UserStore&)> run;
    Outcome expected;
};

}  // namespace

TEST(AccessStore, PasswordLockoutExpiryAndHistoryRules) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kUserStoreFileName));
    qint64 now = 1'700'000'000'000;
    UserStore store(path, QStringLiteral("rules"), HashCost::minimum(), [&] { return now; });
    ASSERT_EQ(store.open(/*create=*/true), StoreState::Ready);
    EXPECT_FALSE(store.accessControl());
    EXPECT_EQ(store.passwordExpiryDays(), 90);
    EXPECT_EQ(store.idleLockMinutes(), 15);

    const auto login = [](const char* u, const char* p) {
        return [=](UserStore& s) {
            return s.authenticate(QString::fromUtf8(u), QString::fromUtf8(p));
        };
    };
    const auto change = [](const char* u, const char* o, const char* n) {
        return [=](UserStore& s) {
            return s.changePassword(QString::fromUtf8(u), QString::fromUtf8(o),
                                    QString::fromUtf8(n));
        };
    };
    const auto later = [&](qint64 ms) {
        return [&now, ms](UserStore&) {
            now += ms;
            return Outcome::Done;
        };
    };
    const QString admin = QStringLiteral("admin");
    const std::vector<Step> steps = {
        {"short first password",
         [](UserStore& s) { return s.createFirstAdmin("admin", "Ada", "1234567"); },
         Outcome::TooShort},
        {"first admin",
         [](UserStore& s) { return s.createFirstAdmin("admin", "Ada Admin", "adminpass1"); },
         Outcome::Done},
        {"second first admin",
         [](UserStore& s) { return s.createFirstAdmin("x", "X", "adminpass2"); }, Outcome::Exists},
        {"admin logs in", login("ADMIN", "adminpass1"), Outcome::Done},
        {"operator made",
         [&](UserStore& s) {
             return s.createAccount(admin, "olga", "Olga Op", Role::Operator, "firstpass");
         },
         Outcome::Done},
        {"same id in other case",
         [&](UserStore& s) {
             return s.createAccount(admin, "OLGA", "O", Role::Viewer, "firstpass");
         },
         Outcome::Exists},
        {"operator cannot make accounts",
         [](UserStore& s) {
             return s.createAccount("olga", "vic", "Vic", Role::Viewer, "firstpass");
         },
         Outcome::NotAllowed},
        {"first login must change", login("olga", "firstpass"), Outcome::MustChange},
        {"same password again", change("olga", "firstpass", "firstpass"), Outcome::Reused},
        {"too short", change("olga", "firstpass", "short"), Outcome::TooShort},
        {"wrong old password", change("olga", "nope-nope", "secondpass"), Outcome::Refused},
        {"changed", change("olga", "firstpass", "pass-0002"), Outcome::Done},
        {"logs in", login("olga", "pass-0002"), Outcome::Done},
        {"third", change("olga", "pass-0002", "pass-0003"), Outcome::Done},
        {"fourth", change("olga", "pass-0003", "pass-0004"), Outcome::Done},
        {"fifth", change("olga", "pass-0004", "pass-0005"), Outcome::Done},
        {"sixth", change("olga", "pass-0005", "pass-0006"), Outcome::Done},
        {"fifth back is refused", change("olga", "pass-0006", "pass-0002"), Outcome::Reused},
        {"seventh", change("olga", "pass-0006", "pass-0007"), Outcome::Done},
        {"sixth back is allowed", change("olga", "pass-0007", "pass-0002"), Outcome::Done},
        {"wrong 1", login("olga", "wrong-pass"), Outcome::Refused},
        {"unknown user: the same answer", login("nobody", "pass-0002"), Outcome::Refused},
        {"wrong 2", login("olga", "wrong-pass"), Outcome::Refused},
        {"wrong 3", login("Olga", "wrong-pass"), Outcome::Refused},
        {"wrong 4", login("olga", "wrong-pass"), Outcome::Refused},
        // Locked, but told like a wrong password: the answer does not show the account exists.
        {"wrong 5 locks", login("olga", "wrong-pass"), Outcome::Refused},
        {"right one stays locked", login("olga", "pass-0002"), Outcome::Refused},
        {"operator cannot unlock", [](UserStore& s) { return s.unlock("olga", "olga"); },
         Outcome::NotAllowed},
        {"admin unlocks", [&](UserStore& s) { return s.unlock(admin, "olga"); }, Outcome::Done},
        {"in again", login("olga", "pass-0002"), Outcome::Done},
        {"89 days later", later(89 * kDayMs), Outcome::Done},
        {"not yet expired", login("olga", "pass-0002"), Outcome::Done},
        {"2 days later", later(2 * kDayMs), Outcome::Done},
        {"expired", login("olga", "pass-0002"), Outcome::MustChange},
        {"renewed", change("olga", "pass-0002", "pass-0008"), Outcome::Done},
        {"in after renewal", login("olga", "pass-0008"), Outcome::Done},
        {"admin resets", [&](UserStore& s) { return s.resetPassword(admin, "olga", "reset-pass"); },
         Outcome::Done},
        {"reset must change", login("olga", "reset-pass"), Outcome::MustChange},
        {"the last administrator stays one",
         [&](UserStore& s) { return s.changeAccount(admin, "admin", "Ada", Role::Supervisor); },
         Outcome::LastAdministrator},
        {"nor disables himself", [&](UserStore& s) { return s.setDisabled(admin, "admin", true); },
         Outcome::LastAdministrator},
        {"a second administrator",
         [&](UserStore& s) {
             return s.changeAccount(admin, "olga", "Olga Op", Role::Administrator);
         },
         Outcome::Done},
        {"then the first may go",
         [&](UserStore& s) { return s.changeAccount(admin, "admin", "Ada", Role::Supervisor); },
         Outcome::Done},
        {"no longer an administrator",
         [&](UserStore& s) { return s.changeAccount(admin, "admin", "Ada", Role::Administrator); },
         Outcome::NotAllowed},
        {"made one again",
         [&](UserStore& s) {
             return s.changeAccount("olga", "admin", "Ada Admin", Role::Administrator);
         },
         Outcome::Done},
        {"admin disables", [&](UserStore& s) { return s.setDisabled(admin, "olga", true); },
         Outcome::Done},
        {"disabled: refused", login("olga", "reset-pass"), Outcome::Refused},
        {"no expiry setting", [&](UserStore& s) { return s.setPasswordExpiryDays(admin, 0); },
         Outcome::Done},
        {"a year on", later(365 * kDayMs), Outcome::Done},
        {"admin never expires now", login("admin", "adminpass1"), Outcome::Done},
    };
    for (const Step& s : steps)
        EXPECT_EQ(s.run(store), s.expected) << s.what;

    // All of it is in the file, read anew; the account is kept, only disabled.
    UserStore again(path, QStringLiteral("again"), HashCost::minimum(), [&] { return now; });
    ASSERT_EQ(again.open(false), StoreState::Ready);
    EXPECT_TRUE(again.accessControl());
    EXPECT_EQ(again.passwordExpiryDays(), 0);
    const auto olga = again.account(QStringLiteral("OLGA"));
    ASSERT_TRUE(olga);
    EXPECT_TRUE(olga->disabled);
    EXPECT_TRUE(olga->mustChange);
    EXPECT_EQ(olga->role, Role::Administrator);
    QStringList codes;
    for (const AccessEvent& e : again.events())
        codes << e.code;
    for (const char* code :
         {"account.created", "access.switched", "login", "login.failed", "login.must_change",
          "password.changed", "account.locked", "account.unlocked", "account.reset",
          "account.disabled", "setting.changed"})
        EXPECT_TRUE(codes.contains(QString::fromLatin1(code))) << code;
    // The unknown user's attempt is recorded without what was typed.
    EXPECT_FALSE(bytesOf(path).contains("nobody"));
    // No password in the file's bytes; the file is its owner's alone.
    for (const char* secret :
         {"adminpass1", "firstpass", "pass-0002", "pass-0008", "reset-pass", "wrong-pass"})
        EXPECT_FALSE(bytesOf(path).contains(secret)) << secret;
#ifndef Q_OS_WIN  // Windows keeps the file in the user's own profile folder instead
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0);  // nothing for group or others
#endif
}

TEST(AccessRoles, LowestRoleOfEveryAction) {
    const std::pair<Action, Role> table[] = {
        {Action::Look, Role::Viewer},
        {Action::SetValue, Role::Operator},
        {Action::AlarmSettings, Role::Operator},
        {Action::ProgramRunCommand, Role::Operator},
        {Action::StartEndRun, Role::Operator},
        {Action::AcknowledgeAlert, Role::Operator},
        {Action::ConfigurationWrite, Role::Supervisor},
        {Action::ProgramWrite, Role::Supervisor},
        {Action::SignReport, Role::Supervisor},
        {Action::SignAuditReview, Role::Supervisor},
        {Action::Accounts, Role::Administrator},
        {Action::AccessControlSettings, Role::Administrator},
        {Action::Retention, Role::Administrator},
        {Action::Forwarding, Role::Administrator},
        {Action::AlertSettings, Role::Administrator},
    };
    const Role roles[] = {Role::Viewer, Role::Operator, Role::Supervisor, Role::Administrator};
    for (const auto& [action, lowest] : table) {
        const int a = static_cast<int>(action);
        EXPECT_EQ(lowestRole(action), lowest) << a;
        EXPECT_EQ(mayDo({}, action), Denial::None) << a;  // access control off: everyone
        EXPECT_EQ(mayDo({true, true, std::nullopt, false}, action), Denial::NotLoggedIn) << a;
        EXPECT_EQ(mayDo({true, true, Role::Administrator, true}, action), Denial::SessionLocked)
            << a;
        for (Role r : roles)
            EXPECT_EQ(mayDo({true, true, r, false}, action),
                      r >= lowest ? Denial::None : Denial::RoleTooLow)
                << a << " " << roleKey(r).toStdString();
        EXPECT_EQ(mayDo({false, false, Role::Administrator, false}, action),
                  action == Action::Look ? Denial::None : Denial::StoreUnusable)
            << a;
        EXPECT_EQ(denialText(Denial::None, action), QString());
        EXPECT_FALSE(denialText(Denial::RoleTooLow, action).isEmpty());
    }
    for (Role r : roles)
        EXPECT_EQ(roleFromKey(roleKey(r)), r);
    EXPECT_EQ(roleFromKey(QStringLiteral("root")), std::nullopt);
}

// What a command stamps its row with, for each kind of actor: the user only under access
// control, the program never refused and never named, a refusal in the stored words.
TEST(AccessActor, AuditOfEachKindOfActor) {
    Standing locked{true, true, Role::Administrator, true};
    Standing off{};  // access control off
    struct Case {
        const char* what;
        Actor by;
        Action action;
        QString user;
        bool refused;
    };
    const Case cases[] = {
        {"the program", Actor::self(), Action::Accounts, "", false},
        {"an operator's set value", Actor::user("otto", Role::Operator), Action::SetValue, "otto",
         false},
        {"an operator's configuration", Actor::user("otto", Role::Operator),
         Action::ConfigurationWrite, "otto", true},
        {"a locked session", Actor::atThePc("ada", locked), Action::Look, "ada", true},
        {"access control off", Actor::atThePc("ada", off), Action::Accounts, "", false},
        {"nobody logged in", Actor::atThePc("", {true, true, std::nullopt, false}),
         Action::SetValue, "", true},
    };
    for (const Case& c : cases) {
        const base::Audit a = auditOf(c.by, c.action, QStringLiteral("why"));
        EXPECT_EQ(a.user, c.user) << c.what;
        EXPECT_EQ(a.reason, QStringLiteral("why")) << c.what;
        EXPECT_EQ(a.refusal.isEmpty(), !c.refused) << c.what;
        EXPECT_EQ(a.refusal, denialText(denial(c.by, c.action), c.action, base::Lang::Stored))
            << c.what;
    }
}

TEST(AccessSession, IdleLockAndUnlockWithInjectedTimes) {
    QTemporaryDir dir;
    UserStore store(dir.filePath(QStringLiteral("users.db")), QStringLiteral("session"),
                    HashCost::minimum());
    ASSERT_EQ(store.open(true), StoreState::Ready);
    ASSERT_EQ(store.createFirstAdmin(QStringLiteral("admin"), QStringLiteral("A"),
                                     QStringLiteral("adminpass1")),
              Outcome::Done);
    ASSERT_EQ(
        store.createAccount(QStringLiteral("admin"), QStringLiteral("sue"), QStringLiteral("Sue"),
                            Role::Supervisor, QStringLiteral("temp-pass")),
        Outcome::Done);
    ASSERT_EQ(store.setIdleLockMinutes(QStringLiteral("admin"), 2), Outcome::Done);

    Session s(store);
    EXPECT_EQ(mayDo(s.standing(), Action::Look), Denial::NotLoggedIn);
    EXPECT_EQ(s.login(QStringLiteral("sue"), QStringLiteral("temp-pass"), 1000),
              Outcome::MustChange);
    EXPECT_EQ(mayDo(s.standing(), Action::Look), Denial::NotLoggedIn);  // nothing before the change
    EXPECT_EQ(s.changePassword(QStringLiteral("temp-pass"), QStringLiteral("sue-pass-1"), 2000),
              Outcome::Done);
    EXPECT_EQ(mayDo(s.standing(), Action::ConfigurationWrite), Denial::None);
    EXPECT_EQ(mayDo(s.standing(), Action::Accounts), Denial::RoleTooLow);

    const qint64 idle = 2 * 60'000;
    EXPECT_FALSE(s.lockIfIdle(2000 + idle - 1));
    s.touch(60'000);
    EXPECT_FALSE(s.lockIfIdle(2000 + idle));  // the input started the idle time again
    EXPECT_TRUE(s.lockIfIdle(60'000 + idle));
    EXPECT_FALSE(s.lockIfIdle(60'000 + idle + 1));  // once
    EXPECT_EQ(s.state(), Session::State::Locked);
    EXPECT_EQ(mayDo(s.standing(), Action::SetValue), Denial::SessionLocked);
    s.touch(200'000);  // input does not unlock
    EXPECT_EQ(s.state(), Session::State::Locked);
    EXPECT_EQ(s.unlock(QStringLiteral("adminpass1"), 210'000), Outcome::Refused);  // another's
    EXPECT_EQ(s.unlock(QStringLiteral("sue-pass-1"), 220'000), Outcome::Done);
    EXPECT_FALSE(s.lockIfIdle(220'000 + idle - 1));
    EXPECT_EQ(s.userId(), QStringLiteral("sue"));
    // A wrong unlock counts as a failed login: the fifth in a row ends the session.
    ASSERT_TRUE(s.lockIfIdle(220'000 + idle));
    for (int i = 0; i < UserStore::kLockAfter; ++i)
        EXPECT_EQ(s.unlock(QStringLiteral("wrong-pass"), 230'000),
                  i + 1 == UserStore::kLockAfter ? Outcome::Locked : Outcome::Refused)
            << i;
    EXPECT_EQ(s.state(), Session::State::LoggedOut);

    // A shorter idle time set while someone is logged in counts for them at once.
    ASSERT_EQ(s.login(QStringLiteral("admin"), QStringLiteral("adminpass1"), 300'000),
              Outcome::Done);
    ASSERT_EQ(store.setIdleLockMinutes(QStringLiteral("admin"), 1), Outcome::Done);
    EXPECT_FALSE(s.lockIfIdle(300'000 + 60'000 - 1));
    EXPECT_TRUE(s.lockIfIdle(300'000 + 60'000));
}

TEST(AccessStore, FilesNotOursAreLeftAsTheyAre) {
    QTemporaryDir dir;
    // A store of ours, to damage and to mark read-only.
    const QString good = dir.filePath(QStringLiteral("good.db"));
    {
        UserStore s(good, QStringLiteral("make"), HashCost::minimum());
        ASSERT_EQ(s.open(true), StoreState::Ready);
        ASSERT_EQ(s.createFirstAdmin(QStringLiteral("admin"), QStringLiteral("A"),
                                     QStringLiteral("adminpass1")),
                  Outcome::Done);
    }
    const QByteArray store = bytesOf(good);
    ASSERT_GT(store.size(), 3 * 4096);
    const QString foreign = dir.filePath(QStringLiteral("foreign.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("f"));
        db.setDatabaseName(foreign);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("CREATE TABLE notes(id INTEGER, text TEXT)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("f"));
    struct Case {
        const char* name;
        QByteArray bytes;
        bool readOnly;
    };
    QByteArray corrupt = store;
    corrupt.replace(4096, 4096, QByteArray(4096, '\xff'));
    const Case cases[] = {
        {"not a database", QByteArray(4096, 'x'), false},
        {"another program's database", bytesOf(foreign), false},
        {"a damaged store", corrupt, false},
        {"a read-only store", store, true},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("case.db"));
        QFile::remove(path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(c.bytes) == c.bytes.size());
        f.close();
        if (c.readOnly) QFile::setPermissions(path, QFileDevice::ReadOwner);
        {
            UserStore s(path, QStringLiteral("case"), HashCost::minimum());
            for (bool create : {false, true}) {
                EXPECT_EQ(s.open(create), StoreState::Unusable) << c.name;
                EXPECT_FALSE(s.stateText().isEmpty()) << c.name;
                EXPECT_EQ(s.authenticate(QStringLiteral("admin"), QStringLiteral("adminpass1")),
                          Outcome::Unusable)
                    << c.name;
                Session session(s);
                EXPECT_EQ(mayDo(session.standing(), Action::SetValue), Denial::StoreUnusable)
                    << c.name;
            }
        }
        EXPECT_EQ(bytesOf(path), c.bytes) << c.name;
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("case.db*")}, QDir::Files).size(), 1)
            << c.name;
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

// Whether access control is on is read from the store every time: a store never switched on
// says off, and one whose setting cannot be read counts as on, never as off.
TEST(AccessStore, AnUnreadableSwitchCountsAsOn) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("u.db"));
    UserStore store(path, QStringLiteral("switch"), HashCost::minimum());
    ASSERT_EQ(store.open(/*create=*/true), StoreState::Ready);
    EXPECT_FALSE(store.accessControl());
    ASSERT_TRUE(testsupport::sqlExec(path, QStringLiteral("DROP TABLE access_settings")));
    EXPECT_TRUE(store.accessControl());
}

TEST(AccessAudit, ClockJumpsBeyondAMinuteEitherWay) {
    // Readings of (wall, monotonic) after a first one at (1'000'000, 0): the jump told, if any.
    const struct {
        const char* name;
        qint64 wall, mono;
        std::optional<qint64> jump;
    } cases[] = {
        {"both run alike", 1'010'000, 10'000, std::nullopt},
        {"59 s ahead", 1'079'000, 20'000, std::nullopt},
        {"one minute exactly", 1'139'000, 20'000, std::nullopt},
        {"a minute and 1 ms ahead", 1'199'001, 20'000, 60'001},
        {"set back an hour", 1'199'001 - 3'590'000, 30'000, -3'600'000},
        {"the monotonic clock ran, the wall stood", 1'199'001 - 3'590'000, 100'000, -70'000},
    };
    ClockWatch watch;
    EXPECT_EQ(watch.feed(1'000'000, 0), std::nullopt);
    for (const auto& c : cases)
        EXPECT_EQ(watch.feed(c.wall, c.mono), c.jump) << c.name;
}

TEST(AccessAudit, StoreRowsBecomeEventValuesWithoutWhatWasTyped) {
    QTemporaryDir dir;
    UserStore store(dir.filePath(QStringLiteral("u.db")), QStringLiteral("audit"),
                    HashCost::minimum());
    ASSERT_EQ(store.open(/*create=*/true), StoreState::Ready);
    ASSERT_EQ(store.createFirstAdmin(QStringLiteral("admin"), QStringLiteral("甲"),
                                     QStringLiteral("adminpass1")),
              Outcome::Done);
    const qint64 seen = store.lastEventSeq();
    store.authenticate(QStringLiteral("admin"), QStringLiteral("typo-pass"));
    store.authenticate(QStringLiteral("secretpass1"), QStringLiteral("x"));  // in the user field
    ASSERT_EQ(store.setIdleLockMinutes(QStringLiteral("admin"), 5), Outcome::Done);
    const QList<AccessEvent> rows = store.eventsAfter(seen);
    ASSERT_EQ(rows.size(), 3);
    const struct {
        const char* code;
        QStringList args;
        const char* text;
        bool failed;
    } expected[] = {
        {"user.login.failed", {"", "admin"}, "登录失败：admin", true},
        {"user.login.failed", {""}, "登录失败：未知用户", true},
        // The value before is the one in force, the default of a setting never changed.
        {"user.setting.changed",
         {"admin", "idle_lock_minutes", "15", "5"},
         "admin 修改设置 空闲锁定（分钟）：15 → 5",
         false},
    };
    for (int i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(auditCode(rows[i]), QLatin1String(expected[i].code));
        EXPECT_EQ(auditArgs(rows[i]), expected[i].args);
        EXPECT_EQ(auditText(auditCode(rows[i]), auditArgs(rows[i]), base::Lang::Stored),
                  QString::fromUtf8(expected[i].text));
        EXPECT_EQ(isFailedLogin(rows[i]), expected[i].failed);
    }
    EXPECT_EQ(auditText(QStringLiteral("alert.fired"), {}, base::Lang::Stored), std::nullopt);
}

TEST(AccessStore, PasswordsThatGuessThemselvesAreRefused) {
    QTemporaryDir dir;
    UserStore store(dir.filePath(QStringLiteral("u.db")), QStringLiteral("weak"),
                    HashCost::minimum());
    ASSERT_EQ(store.open(/*create=*/true), StoreState::Ready);
    EXPECT_EQ(store.createFirstAdmin(QStringLiteral("adminadmin"), QStringLiteral("A"),
                                     QStringLiteral("ADMINadmin")),
              Outcome::Weak);
    ASSERT_EQ(store.createFirstAdmin(QStringLiteral("admin"), QStringLiteral("A"),
                                     QStringLiteral("adminpass1")),
              Outcome::Done);
    const struct {
        const char* user;
        const char* password;
        Outcome expected;
    } cases[] = {
        {"b1", "        ", Outcome::Weak},         {"ada", "adaadaada", Outcome::Weak},
        {"ada2", "ADA2ada2", Outcome::Weak},        // in another case
        {"ada3", "ada3ada3ad", Outcome::Weak},      // the last time cut short
        {"operator1", "operator1", Outcome::Weak},  // the id itself
        {"ada4", "ada4ada4x", Outcome::Done},      {"ada6", "   x    ", Outcome::Done},
        {"ada7", "       ", Outcome::TooShort},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            store.createAccount(QStringLiteral("admin"), QString::fromUtf8(c.user),
                                QStringLiteral("N"), Role::Operator, QString::fromUtf8(c.password)),
            c.expected)
            << c.user << " / '" << c.password << "'";
    // The same rule for the user's own change and an administrator's reset.
    EXPECT_EQ(store.changePassword(QStringLiteral("ada4"), QStringLiteral("ada4ada4x"),
                                   QStringLiteral("ada4ada4ada4")),
              Outcome::Weak);
    EXPECT_EQ(store.resetPassword(QStringLiteral("admin"), QStringLiteral("ada4"),
                                  QStringLiteral("        ")),
              Outcome::Weak);
}

TEST(AccessStore, TheLastAdministratorsLockEndsByItself) {
    QTemporaryDir dir;
    qint64 now = 1'700'000'000'000;
    UserStore store(dir.filePath(QStringLiteral("u.db")), QStringLiteral("last"),
                    HashCost::minimum(), [&] { return now; });
    ASSERT_EQ(store.open(/*create=*/true), StoreState::Ready);
    const QString admin = QStringLiteral("admin"), right = QStringLiteral("adminpass1");
    ASSERT_EQ(store.createFirstAdmin(admin, QStringLiteral("A"), right), Outcome::Done);
    const auto lockOut = [&](const QString& user) {
        for (int i = 0; i < UserStore::kLockAfter; ++i)
            store.authenticate(user, QStringLiteral("wrong-pass"));
    };
    const auto count = [&](const char* code) {
        int n = 0;
        for (const AccessEvent& e : store.events())
            n += e.code == QLatin1String(code);
        return n;
    };
    lockOut(admin);
    EXPECT_TRUE(store.account(admin)->locked());
    now += UserStore::kLastAdminLockMs - 1;
    EXPECT_EQ(store.authenticate(admin, right), Outcome::Refused);
    now += 1;
    EXPECT_EQ(store.authenticate(admin, right), Outcome::Done);
    EXPECT_EQ(count("account.lock_expired"), 1);
    // Audited in the chambers' logs, by nobody.
    const AccessEvent expired = store.events().at(store.events().size() - 2);
    EXPECT_EQ(auditText(auditCode(expired), auditArgs(expired), base::Lang::Stored),
              QStringLiteral("最后一个管理员账户 admin 的锁定已到期，自动解除"));

    // A wrong password after the end starts a count of its own: five more lock again.
    lockOut(admin);
    now += UserStore::kLastAdminLockMs;
    EXPECT_EQ(store.authenticate(admin, QStringLiteral("wrong-pass")), Outcome::Refused);
    EXPECT_EQ(store.account(admin)->failedLogins, 1);
    EXPECT_EQ(count("account.lock_expired"), 2);

    // With another administrator who can unlock, a lock lasts until that one does.
    ASSERT_EQ(store.createAccount(admin, QStringLiteral("bea"), QStringLiteral("B"),
                                  Role::Administrator, QStringLiteral("bea-pass-1")),
              Outcome::Done);
    lockOut(admin);
    now += 10 * UserStore::kLastAdminLockMs;
    EXPECT_EQ(store.authenticate(admin, right), Outcome::Refused);
    EXPECT_EQ(store.unlock(QStringLiteral("bea"), admin), Outcome::Done);
    EXPECT_EQ(store.authenticate(admin, right), Outcome::Done);
    EXPECT_EQ(count("account.lock_expired"), 2);
}

namespace {

// Runs the program's event loop until the condition holds, a bounded number of rounds.
bool until(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return done();
}

// A user store with an administrator and an operator, changed through another program's
// connection to the same file.
struct StoreBeside {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users.db"));
    const QString admin = QStringLiteral("admin"), op = QStringLiteral("op1");
    UserStore other{path, QStringLiteral("other-program"), HashCost::minimum()};
    bool ready() {
        return other.open(true) == StoreState::Ready &&
               other.createFirstAdmin(admin, QStringLiteral("A"), QStringLiteral("adminpass1")) ==
                   Outcome::Done &&
               other.createAccount(admin, op, QStringLiteral("Op"), Role::Operator,
                                   QStringLiteral("op1-pass-1")) == Outcome::Done;
    }
};

}  // namespace

// What another program changes in the user store reaches the session here and every command's
// check at once. Every command decides with the account as the store holds it now, not with the
// role its actor brought along (a remote client's, or a session's not yet told): an account given
// another role, disabled, locked or deleted by another program counts as such at its next
// command, in any case of its user id; the program itself is never refused.
TEST(AccessKeeper, ChangesByAnotherProgramReachTheSessionAndEveryCommandAtOnce) {
    StoreBeside beside;
    ASSERT_TRUE(beside.ready());
    auto& [dir, path, admin, op, other] = beside;
    ASSERT_EQ(other.changePassword(op, QStringLiteral("op1-pass-1"), QStringLiteral("op1-pass-2")),
              Outcome::Done);
    const Actor asked = Actor::user(op, Role::Operator);
    const Actor shouted = Actor::user(QStringLiteral("OP1"), Role::Operator);
    const auto raw = [&](const char* sql) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "beside");
        db.setDatabaseName(path);
        bool ok = db.open();
        for (const QString& part : QString::fromLatin1(sql).split(u';'))
            ok = ok && QSqlQuery(db).exec(part);
        db.close();
        db = {};
        QSqlDatabase::removeDatabase("beside");
        return ok ? Outcome::Done : Outcome::Unusable;
    };
    {
        SessionKeeper keeper(path);
        QStringList told;
        QObject::connect(&keeper, &SessionKeeper::audited, [&](const AccessEvent& e) {
            told << e.code + u':' + (e.args.isEmpty() ? e.user : e.args.first().toString());
        });
        keeper.open();
        ASSERT_TRUE(until([&] { return keeper.view().opened; }));
        std::optional<Outcome> logged;
        keeper.login(op, QStringLiteral("op1-pass-2"), [&](Outcome o) { logged = o; });
        ASSERT_TRUE(until([&] { return logged.has_value(); }));
        ASSERT_EQ(*logged, Outcome::Done);
        // A failed login elsewhere reaches the chambers' logs without anyone logging in here.
        other.authenticate(admin, QStringLiteral("wrong-pass"));
        EXPECT_TRUE(until([&] { return told.contains(QStringLiteral("login.failed:admin")); }));
        struct Change {
            const char* what;
            std::function<Outcome()> change;
            Action action;
            Denial expected;
            std::optional<Role> session;  // the session's role here; none once it ended
        };
        const Change changes[] = {
            {"as created", [] { return Outcome::Done; }, Action::SetValue, Denial::None,
             Role::Operator},
            {"given a viewer's role",
             [&] { return other.changeAccount(admin, op, QStringLiteral("Op"), Role::Viewer); },
             Action::SetValue, Denial::RoleTooLow, Role::Viewer},
            {"given a supervisor's role",
             [&] { return other.changeAccount(admin, op, QStringLiteral("Op"), Role::Supervisor); },
             Action::ConfigurationWrite, Denial::None, Role::Supervisor},
            {"disabled", [&] { return other.setDisabled(admin, op, true); }, Action::StartEndRun,
             Denial::NotLoggedIn, std::nullopt},
            {"enabled", [&] { return other.setDisabled(admin, op, false); }, Action::StartEndRun,
             Denial::None, std::nullopt},
            {"locked by wrong passwords",
             [&] {
                 for (int i = 0; i < UserStore::kLockAfter; ++i)
                     other.authenticate(op, QStringLiteral("op1-wrong"));
                 return Outcome::Done;
             },
             Action::AcknowledgeAlert, Denial::NotLoggedIn, std::nullopt},
            {"unlocked", [&] { return other.unlock(admin, op); }, Action::AcknowledgeAlert,
             Denial::None, std::nullopt},
            {"deleted beside the program",
             [&] {
                 return raw(
                     "DELETE FROM access_password_history WHERE account = (SELECT id FROM "
                     "access_users WHERE user_id = 'op1');"
                     "DELETE FROM access_users WHERE user_id = 'op1'");
             },
             Action::SetValue, Denial::NotLoggedIn, std::nullopt},
        };
        for (const Change& c : changes) {
            ASSERT_EQ(c.change(), Outcome::Done) << c.what;
            EXPECT_TRUE(until([&] { return denial(asked, c.action) == c.expected; }))
                << c.what << ": " << int(denial(asked, c.action));
            EXPECT_EQ(denial(shouted, c.action), c.expected) << c.what;
            // What the command's row keeps: the refusal, in the stored words.
            EXPECT_EQ(auditOf(asked, c.action).refusal,
                      denialText(c.expected, c.action, base::Lang::Stored))
                << c.what;
            EXPECT_EQ(denial(Actor::self(), c.action), Denial::None) << c.what;
            EXPECT_TRUE(until([&] { return keeper.view().role == c.session; })) << c.what;
        }
        EXPECT_EQ(keeper.view().state, Session::State::LoggedOut);
        EXPECT_EQ(mayDo(keeper.view().standing, Action::SetValue), Denial::NotLoggedIn);
        // Access control switched off elsewhere.
        ASSERT_EQ(other.setAccessControl(admin, false), Outcome::Done);
        EXPECT_TRUE(until([&] { return !keeper.view().standing.controlled; }));
        // Every row once, in the file's order (the session's end among them).
        QStringList inFile;
        for (const AccessEvent& e : other.events())
            inFile << e.code + u':' + (e.args.isEmpty() ? e.user : e.args.first().toString());
        EXPECT_TRUE(until([&] { return told == inFile; })) << told.join(u' ').toStdString();
        EXPECT_TRUE(told.contains(QStringLiteral("session.ended:op1")));
    }
    // Nobody watches the store any more: the actor's own standing decides, as before.
    EXPECT_EQ(denial(asked, Action::SetValue), Denial::None);
}

// A store made while the program runs (access control switched on by another program) is taken
// up at once, not at the next start: its accounts decide every command from then on.
TEST(AccessKeeper, AStoreMadeWhileTheProgramRunsIsTakenUp) {
    StoreBeside beside;
    SessionKeeper keeper(beside.path);
    keeper.open();
    ASSERT_TRUE(until([&] { return keeper.view().opened; }));
    EXPECT_EQ(keeper.view().store, StoreState::Missing);
    // An actor claiming more than the account will hold.
    const Actor claimed = Actor::user(beside.op, Role::Supervisor);
    EXPECT_EQ(denial(claimed, Action::ConfigurationWrite), Denial::None);
    ASSERT_TRUE(beside.ready());
    EXPECT_TRUE(until([&] { return keeper.view().store == StoreState::Ready; }));
    EXPECT_TRUE(keeper.view().standing.controlled);
    EXPECT_TRUE(
        until([&] { return denial(claimed, Action::ConfigurationWrite) == Denial::RoleTooLow; }));
}

// Work of the keeper's that ends after the keeper, its thread left to end on its own (a slow hash
// at exit), reaches nothing of it: the sanitizer build finds any touch of the freed keeper.
TEST(AccessKeeper, WorkEndingAfterTheKeeperReachesNothingOfIt) {
    StoreBeside beside;
    ASSERT_TRUE(beside.ready());
    QSemaphore entered, gate;
    bool told = false;
    {
        SessionKeeper keeper(beside.path);
        keeper.open();
        ASSERT_TRUE(until([&] { return keeper.view().opened; }));
        std::optional<Outcome> logged;
        keeper.login(beside.admin, QStringLiteral("adminpass1"), [&](Outcome o) { logged = o; });
        ASSERT_TRUE(until([&] { return logged == Outcome::Done; }));
        keeper.administer(
            [&](UserStore&, const QString&) {
                entered.release();
                gate.acquire();
                return Outcome::Done;
            },
            [&](Outcome) { told = true; });
        ASSERT_TRUE(entered.tryAcquire(1, 30000));
    }  // the keeper waits for its thread a while, then leaves it
    gate.release();
#ifdef __linux__
    // Until the thread named after the store has ended.
    const auto usersThreads = [] {
        int n = 0;
        for (const QString& t :
             QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm("/proc/self/task/" + t + "/comm");
            n += comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "users";
        }
        return n;
    };
    EXPECT_TRUE(until([&] { return usersThreads() == 0; }));
#endif
    QCoreApplication::processEvents();
    EXPECT_FALSE(told);
}

// The clients' one check of a user id and password: what the store says, as it is now.
TEST(AccessCredentials, OneCheckForEveryClient) {
    StoreBeside beside;
    ASSERT_TRUE(beside.ready());
    auto& [dir, path, admin, op, other] = beside;
    const QString missing = dir.filePath(QStringLiteral("none.db"));
    const QString notOurs = dir.filePath(QStringLiteral("other.db"));
    {
        QFile f(notOurs);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("not a database") > 0);
    }
    struct Case {
        const char* what;
        QString path, user, password;
        StoreState store;
        bool controlled;
        Outcome outcome;
        std::optional<Role> role;
    };
    const QString pw = QStringLiteral("adminpass1");
    const Case cases[] = {
        {"no store", missing, admin, pw, StoreState::Missing, false, Outcome::Unusable, {}},
        {"not ours", notOurs, admin, pw, StoreState::Unusable, false, Outcome::Unusable, {}},
        {"right", path, admin, pw, StoreState::Ready, true, Outcome::Done, Role::Administrator},
        {"any case", path, "ADMIN", pw, StoreState::Ready, true, Outcome::Done,
         Role::Administrator},
        {"wrong", path, admin, "adminpass2", StoreState::Ready, true, Outcome::Refused, {}},
        {"unknown", path, "nobody", pw, StoreState::Ready, true, Outcome::Refused, {}},
        {"to change", path, op, "op1-pass-1", StoreState::Ready, true, Outcome::MustChange, {}},
    };
    for (const Case& c : cases) {
        const CredentialCheck got = checkCredentials(c.path, c.user, c.password);
        EXPECT_EQ(got.store, c.store) << c.what;
        EXPECT_EQ(got.controlled, c.controlled) << c.what;
        EXPECT_EQ(got.outcome, c.outcome) << c.what;
        EXPECT_EQ(got.role, c.role) << c.what;
        EXPECT_EQ(got.idleMinutes, c.role ? UserStore::kDefaultIdleMinutes : 0) << c.what;
    }
    // Each failure counted as a login's: the account locks.
    for (int i = 0; i < UserStore::kLockAfter; ++i)
        checkCredentials(path, op, QStringLiteral("op1-wrong"));
    EXPECT_TRUE(other.account(op)->locked());
    // Access control off: nothing is checked, nothing counted.
    ASSERT_EQ(other.setAccessControl(admin, false), Outcome::Done);
    const int failed = other.account(admin)->failedLogins;
    const CredentialCheck off = checkCredentials(path, admin, QStringLiteral("wrong"));
    EXPECT_FALSE(off.controlled);
    EXPECT_EQ(off.outcome, Outcome::Unusable);
    EXPECT_EQ(other.account(admin)->failedLogins, failed);
}
