#pragma once
// The session in the windows: the login, the change of password it may ask for, the unlock after
// idle time, the user's name and "注销" in each window's status bar, and the doorman that shows
// them as the session changes, feeds the idle time from the program's input and keeps the guard
// up to date.

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "auth/sessionkeeper.h"
#include "ui/credentialform.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace auth {

class Guard;

// User id and password; accepted once logged in (after a change of password when asked).
class LoginDialog : public QDialog {
    Q_OBJECT
  public:
    LoginDialog(SessionKeeper& keeper, QWidget* parent);

  private:
    void submit();
    SessionKeeper& keeper_;
    ui::CredentialForm form_;
    QLineEdit* user_;
    QLineEdit* password_;
};

// The logged-in user's own change: old, new and the new one again.
class ChangePasswordDialog : public QDialog {
    Q_OBJECT
  public:
    ChangePasswordDialog(SessionKeeper& keeper, QWidget* parent);

  private:
    void submit();
    SessionKeeper& keeper_;
    ui::CredentialForm form_;
    QLineEdit* old_;
    QLineEdit* new_;
    QLineEdit* repeat_;
};

// Over the windows while the session is locked: the same user's password, or "注销".
class UnlockDialog : public QDialog {
    Q_OBJECT
  public:
    UnlockDialog(SessionKeeper& keeper, QWidget* parent);
    void reject() override;

  private:
    void submit();
    SessionKeeper& keeper_;
    ui::CredentialForm form_;
    QLineEdit* password_;
};

// "变更原因列表": the administrator's list of reasons for a change, added to, removed from and put
// in order; stored with OK (the store checks that an administrator asks).
class ReasonListDialog : public QDialog {
    Q_OBJECT
  public:
    ReasonListDialog(SessionKeeper& keeper, QWidget* parent);

  private:
    void move(int step);
    void submit();
    SessionKeeper& keeper_;
    QListWidget* list_;
    QLineEdit* entry_;
    QPushButton* ok_;
    QLabel* message_;
};

// Who is logged in, with "注销" (or "登录" when nobody is); why nobody may write when the store
// cannot be used.
class UserBar : public QWidget {
    Q_OBJECT
  public:
    explicit UserBar(QWidget* parent = nullptr);
    void show(const SessionKeeper::View& v);

  signals:
    void logoutClicked();
    void loginClicked();
    void reasonsClicked();

  private:
    QLabel* label_;
    QLabel* unprotected_;  // this program records itself: the PC's account can change the files
    QPushButton* logout_;
    QPushButton* login_;
    QPushButton* reasons_;  // administrators only
};

// The windows show no values while access control is on and nobody is logged in (before the
// first login, after "注销"); a locked session keeps its windows and their values.
class Doorman : public QObject {
    Q_OBJECT
  public:
    static constexpr int kIdleCheckMs = 1000;

    Doorman(SessionKeeper& keeper, Guard& guard, QObject* parent = nullptr);
    ~Doorman() override;

    // A window whose status bar (or, without one, its bottom row) names the user; the first one
    // shown carries the login.
    void addWindow(QWidget* window);
    QWidget* loginDialog() const { return login_; }
    QWidget* unlockDialog() const { return unlock_; }
    // The login dialog over the active window (from "登录" or after "注销").
    void askLogin();

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void update();
    QWidget* host() const;
    // Access control on and nobody logged in (or the first login's change of password pending).
    bool nobody() const;
    // A window of the program's own (not a dialog, menu or tooltip) shown now.
    static bool coverable(const QWidget* w);
    // Covers the window's values (a main window's central part, else the whole) with "登录"
    // while nobody is logged in.
    void cover(QWidget* window, bool on);

    SessionKeeper& keeper_;
    Guard& guard_;
    QTimer idle_;
    QList<QPointer<QWidget>> windows_;
    QList<QPointer<UserBar>> bars_;
    QPointer<QDialog> login_;
    QPointer<QDialog> unlock_;
    QPointer<QDialog> reasons_;
    bool asked_ = false;      // the login was asked for once the windows came up
    bool someoneIn_ = false;  // a user was logged in at the last update
    // What the last user left on screen goes with them: the administration window closes, and
    // the lines naming their last command are cleared.
    void clearAfterLogout();
};

}  // namespace auth
