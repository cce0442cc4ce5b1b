#pragma once
// The program's session: the user store and the session on a thread of their own (a password's
// check takes a noticeable fraction of a second and the store is a file), with what the windows
// need of them kept here on the UI thread after every change.

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "auth/roles.h"
#include "auth/session.h"
#include "auth/userstore.h"

namespace auth {

class SessionKeeper : public QObject {
    Q_OBJECT
  public:
    // What is known after the last change.
    struct View {
        bool opened = false;  // the store's opening has ended
        StoreState store = StoreState::Missing;
        QString storeText;  // why the store cannot be used
        Session::State state = Session::State::LoggedOut;
        QString userId;
        QString fullName;
        std::optional<Role> role;
        Standing standing;
        int idleMinutes = UserStore::kDefaultIdleMinutes;
        bool hasAccounts = false;  // the store holds an account (else the first is asked for)
        QStringList reasons;       // the administrator's list of reasons for a change
        QHash<QString, QString> fullNames;  // every account's full name by user id
        qint64 seqAtOpen = 0;  // the store's last row when it was opened: audited() older ones too
    };
    using Done = std::function<void(Outcome)>;
    // What the administration window lists and edits.
    struct Accounts {
        QList<Account> accounts;
        int expiryDays = UserStore::kDefaultExpiryDays;
        int idleMinutes = UserStore::kDefaultIdleMinutes;
        bool reviewerMayApprove = false;
    };
    // An administrator's change to the store, made as `by`, the user logged in.
    using AdminWork = std::function<Outcome(UserStore& store, const QString& by)>;

    // monoMs: the monotonic clock of input and idle times (a steady timer when null).
    explicit SessionKeeper(const QString& path, std::function<qint64()> monoMs = nullptr,
                           QObject* parent = nullptr);
    ~SessionKeeper() override;

    // Opens the store off the UI thread; changed() follows.
    void open();
    const View& view() const { return view_; }
    // Access control on, or a store nobody may change anything with.
    bool guarding() const { return view_.standing.controlled || !view_.standing.storeUsable; }

    // Each ends in done(outcome) and changed() on the UI thread.
    void login(const QString& userId, const QString& password, Done done);
    void changePassword(const QString& oldPassword, const QString& newPassword, Done done);
    void unlock(const QString& password, Done done);
    void logout();
    // The accounts and settings, read off the UI thread.
    void loadAccounts(std::function<void(const Accounts&)> done);
    // Runs an administrator's work as the user logged in; NotAllowed while nobody is (or the
    // session is locked). The store itself checks that the user is an enabled administrator.
    void administer(AdminWork work, Done done);
    // The first administrator while the store holds no account (made where it is missing);
    // switches access control on.
    void createFirstAdmin(const QString& userId, const QString& fullName, const QString& password,
                          Done done);
    // Switches access control on again with an administrator's user id and password.
    void switchOn(const QString& userId, const QString& password, Done done);
    // The logged-in administrator's new list of reasons for a change.
    void setReasons(const QStringList& reasons, Done done);
    // Input from the user (at most one posted a second).
    void touch();
    // Locks an idle session (the store's idle minutes).
    void checkIdle();
    qint64 nowMs() const { return mono_(); }
    // Looks whether another program (or window) changed the store: its new rows are told, the
    // session's account is read again and every account's standing published for the commands'
    // checks (publishAccounts), so that a disabled, locked or demoted user loses their rights at
    // once. Runs at each change the system reports of the file, and every kRefreshMs by itself.
    void refresh();
    static constexpr int kRefreshMs = 1000;

  signals:
    void changed();
    // A row of the user store's log (logins, failures, locks, account changes, the switching), in
    // order: every row it held when opened (seq up to View::seqAtOpen), then each once stored.
    void audited(const auth::AccessEvent& e);

  private:
    class Worker;
    template <class F>
    void run(F fn, Done done);
    // The view and the store's new rows, from the worker to the UI thread. The worker's work
    // never reaches the keeper itself, which may be gone when a slow hash ends after its thread
    // was left to end on its own: only a guarded pointer to it.
    static void deliver(Worker& w, std::function<void()> then);

    // On the worker's thread: the file looked at again after a change (refresh's work), and
    // the store's file and write-ahead log watched where they exist.
    static void look(Worker& w);
    static void watch(Worker& w);

    std::function<qint64()> mono_;
    struct Thread;
    std::unique_ptr<Thread> thread_;
    View view_;
    qint64 lastTouch_ = -1;
    QTimer* refreshTimer_ = nullptr;
};

}  // namespace auth
