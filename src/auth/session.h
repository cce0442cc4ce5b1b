#pragma once
// The one at the PC: who is logged in, and whether the session is locked after idle time. Pure
// logic on a monotonic clock the caller passes in (ms); the windows feed it input times and ask it
// whether to lock.

#include <QString>
#include <optional>

#include "auth/roles.h"
#include "auth/userstore.h"

namespace auth {

class Session {
  public:
    enum class State { LoggedOut, MustChange, Active, Locked };

    explicit Session(UserStore& store) : store_(store) {}

    State state() const { return state_; }
    QString userId() const { return userId_; }
    std::optional<Role> role() const;
    // What mayDo() needs of this session and its store.
    Standing standing() const;

    // Done: logged in. MustChange: the password has to be changed (changePassword) first; the
    // session may do nothing else meanwhile. Refused, Locked, Unusable: nobody is logged in.
    Outcome login(const QString& userId, const QString& password, qint64 monoMs);
    // The logged-in user's own change (also the one a MustChange login asks for).
    Outcome changePassword(const QString& oldPassword, const QString& newPassword, qint64 monoMs);
    // Input from the user: the idle time starts again.
    void touch(qint64 monoMs);
    // Locks an active session idle for the store's idle minutes; true when it locked now.
    bool lockIfIdle(qint64 monoMs);
    // Unlocks with the same user's password; a wrong one counts as a failed login.
    Outcome unlock(const QString& password, qint64 monoMs);
    void logout();
    // Reads the account again: a disabled, locked or deleted one ends the session (with a row),
    // a new role applies at once. True when the session changed.
    bool recheck();

  private:
    // After a refused password: whether the account is now locked (or gone), which ends the
    // session.
    bool endedByLock(Outcome o);

    UserStore& store_;
    State state_ = State::LoggedOut;
    QString userId_;
    std::optional<Role> role_;
    qint64 idleMs_ = 0;  // 0: never locks
    qint64 lastInput_ = 0;
};

}  // namespace auth
