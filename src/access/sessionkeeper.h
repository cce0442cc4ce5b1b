#pragma once
// The program's session: the user store and the session on a thread of their own (a password's
// check takes a noticeable fraction of a second and the store is a file), with what the windows
// need of them kept here on the UI thread after every change.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "access/roles.h"
#include "access/session.h"
#include "access/userstore.h"

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
        QStringList reasons;  // the administrator's list of reasons for a change
    };
    using Done = std::function<void(Outcome)>;

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
    // The logged-in administrator's new list of reasons for a change.
    void setReasons(const QStringList& reasons, Done done);
    // Input from the user (at most one posted a second).
    void touch();
    // Locks an idle session (the store's idle minutes).
    void checkIdle();
    qint64 nowMs() const { return mono_(); }

  signals:
    void changed();

  private:
    class Worker;
    template <class F>
    void run(F fn, Done done);

    std::function<qint64()> mono_;
    struct Thread;
    std::unique_ptr<Thread> thread_;
    View view_;
    qint64 lastTouch_ = -1;
};

}  // namespace auth
