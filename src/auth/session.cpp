#include "auth/session.h"

namespace auth {

std::optional<Role> Session::role() const {
    return state_ == State::Active || state_ == State::Locked ? role_ : std::nullopt;
}

Standing Session::standing() const {
    const bool usable = store_.state() != StoreState::Unusable;
    return {usable && store_.accessControl(), usable, role(), state_ == State::Locked};
}

Outcome Session::login(const QString& userId, const QString& password, qint64 monoMs) {
    logout();
    const Outcome o = store_.authenticate(userId, password);
    if (o != Outcome::Done && o != Outcome::MustChange) return o;
    const auto account = store_.account(userId.trimmed());
    if (!account) return Outcome::Unusable;
    userId_ = account->userId;
    role_ = account->role;
    idleMs_ = qint64(store_.idleLockMinutes()) * 60'000;
    lastInput_ = monoMs;
    state_ = o == Outcome::Done ? State::Active : State::MustChange;
    return o;
}

Outcome Session::changePassword(const QString& oldPassword, const QString& newPassword,
                                qint64 monoMs) {
    if (state_ != State::Active && state_ != State::MustChange) return Outcome::NotAllowed;
    const Outcome o = store_.changePassword(userId_, oldPassword, newPassword);
    if (o == Outcome::Done) {
        state_ = State::Active;
        lastInput_ = monoMs;
    } else if (endedByLock(o)) {
        return Outcome::Locked;
    }
    return o;
}

void Session::touch(qint64 monoMs) {
    if (state_ == State::Active || state_ == State::MustChange) lastInput_ = monoMs;
}

bool Session::lockIfIdle(qint64 monoMs) {
    if (state_ != State::Active) return false;
    // A new idle time applies at once, not from the next login.
    idleMs_ = qint64(store_.idleLockMinutes()) * 60'000;
    if (idleMs_ <= 0 || monoMs - lastInput_ < idleMs_) return false;
    state_ = State::Locked;
    store_.record(QStringLiteral("session.locked"), userId_);
    return true;
}

Outcome Session::unlock(const QString& password, qint64 monoMs) {
    if (state_ != State::Locked) return Outcome::NotAllowed;
    const Outcome o = store_.authenticate(userId_, password);
    if (o == Outcome::Done) {
        state_ = State::Active;
        lastInput_ = monoMs;
        store_.record(QStringLiteral("session.unlocked"), userId_);
    } else if (o == Outcome::MustChange) {  // expired while locked
        state_ = State::MustChange;
        lastInput_ = monoMs;
    } else if (endedByLock(o)) {
        return Outcome::Locked;
    }
    return o;
}

bool Session::endedByLock(Outcome o) {
    if (o != Outcome::Refused) return false;
    // The store answers a locked account like a wrong password; the session knows whose it is.
    const auto a = store_.account(userId_);
    if (a && !a->locked() && !a->disabled) return false;
    logout();
    return true;
}

bool Session::recheck() {
    if (state_ == State::LoggedOut) return false;
    const auto a = store_.accountNow(userId_);
    if (!a) return false;  // not readable now: asked again at the next change
    if (a->userId.isEmpty() || a->disabled || a->locked()) {
        store_.record(QStringLiteral("session.ended"), userId_);
        state_ = State::LoggedOut;
        userId_.clear();
        role_.reset();
        return true;
    }
    if (a->role == role_) return false;
    role_ = a->role;
    return true;
}

void Session::logout() {
    if (state_ != State::LoggedOut) store_.record(QStringLiteral("logout"), userId_);
    state_ = State::LoggedOut;
    userId_.clear();
    role_.reset();
}

}  // namespace auth
