#pragma once
// The administration of access control ("访问控制"): the accounts with their state, adding one,
// its role, disabling (an account is never deleted), a new password it must change, unlocking;
// the expiry and idle settings; switching access control on (the first administrator when the
// store has none) and off. Every check of a password and every hash runs on the session's thread.

#include <QDialog>

#include "auth/sessionkeeper.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QCheckBox;
class QSpinBox;
class QTableWidget;

namespace auth {

class AdminWindow : public QDialog {
    Q_OBJECT
  public:
    explicit AdminWindow(SessionKeeper& keeper, QWidget* parent = nullptr);

    // The state an account shows in the list: "已停用", "已锁定", "须修改密码", "已过期" or "正常".
    static QString stateText(const Account& a, int expiryDays, qint64 nowUtcMs);
    // The reason list's button, for its dialog once there is one.
    QPushButton* reasonsButton() const { return reasons_; }

  private:
    void showView();
    void reload();
    void showAccounts(const SessionKeeper::Accounts& a);
    QString selectedUser() const;
    // Runs the work as the administrator logged in; the list is read again after it.
    void work(SessionKeeper::AdminWork w, const QString& doneText);
    void finish(Outcome o, const QString& doneText);
    // Both entries hold the same password; else says so and clears them.
    bool samePassword(QLineEdit* a, QLineEdit* b);
    void setBusy(bool busy);

    SessionKeeper& keeper_;
    QLabel* status_;
    QLabel* message_;
    QGroupBox* first_;
    QLineEdit* firstUser_;
    QLineEdit* firstName_;
    QLineEdit* firstPassword_;
    QLineEdit* firstRepeat_;
    QGroupBox* switchOn_;
    QLineEdit* switchUser_;
    QLineEdit* switchPassword_;
    QGroupBox* admin_;
    QTableWidget* table_;
    QLineEdit* addUser_;
    QLineEdit* addName_;
    QComboBox* addRole_;
    QLineEdit* addPassword_;
    QLineEdit* addRepeat_;
    QComboBox* role_;
    QPushButton* disable_;
    QLineEdit* resetPassword_;
    QLineEdit* resetRepeat_;
    QSpinBox* expiry_;
    QSpinBox* idle_;
    QCheckBox* reviewerApproves_;
    QPushButton* reasons_;
    QList<QWidget*> busyOff_;  // off while a request runs
    QList<Account> accounts_;
    bool busy_ = false;
};

}  // namespace auth
