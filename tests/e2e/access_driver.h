#pragma once
// Driving the login and the reason for a change the way a user does: the dialogs' entries typed,
// their buttons pressed, through the program's own doorman.

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <functional>
#include <memory>

#include "auth/accesswindows.h"
#include "e2e_support.h"

namespace e2e {

// Types into the named entries under root and presses its named button.
inline void fill(QWidget* root, std::initializer_list<std::pair<const char*, QString>> entries,
                 const char* button) {
    for (const auto& [name, text] : entries) {
        auto* e = control<QLineEdit>(root, QLatin1String(name));
        QVERIFY2(e, name);
        e->setText(text);
    }
    click(root, QLatin1String(button));
}

// Answers the reason dialog the next change asks, from inside its own loop: the reason typed and
// OK, or cancelled when reason is empty.
inline void answerReason(const QString& reason) {
    // The poll holds itself only weakly; the timer's call keeps it alive until it answered.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> self = poll;
    *poll = [reason, self] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || d->objectName() != QLatin1String("ReasonDialog")) {
            if (auto again = self.lock()) QTimer::singleShot(20, [again] { (*again)(); });
            return;
        }
        if (reason.isEmpty()) return d->reject();
        d->findChild<QComboBox*>("Reason")->setEditText(reason);
        click(d, "ReasonOk");
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

// Logs in through the login dialog, changing the password first when changeTo is given.
inline bool logIn(auth::Doorman& door, const QString& user, const QString& password,
                  const QString& changeTo = {}) {
    if (!runUntil([&] { return door.loginDialog() != nullptr; }, 10000)) return false;
    QWidget* login = door.loginDialog();
    fill(login, {{"LoginUser", user}, {"LoginPassword", password}}, "LoginButton");
    if (!changeTo.isEmpty()) {
        if (!runUntil([&] { return login->findChild<QDialog*>("ChangePasswordDialog"); }, 10000))
            return false;
        auto* change = login->findChild<QDialog*>("ChangePasswordDialog");
        fill(change,
             {{"OldPassword", password}, {"NewPassword", changeTo}, {"RepeatPassword", changeTo}},
             "ChangeButton");
    }
    return runUntil([&] { return door.loginDialog() == nullptr; }, 20000);
}

// The window's values lie under the login's cover.
inline bool covered(QWidget* w) {
    auto* curtain = w->findChild<QWidget*>("LoginCurtain");
    return curtain && curtain->isVisible();
}

}  // namespace e2e
