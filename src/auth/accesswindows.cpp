#include "auth/accesswindows.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>

#include "auth/guard.h"
#include "base/tr.h"

namespace auth {

namespace {

QLabel* messageLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setWordWrap(true);
    return l;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// A change of password asked for by the store, over the dialog that asked; then(true) once done.
void askChange(SessionKeeper& keeper, QDialog* over, std::function<void(bool)> then) {
    auto* change = new ChangePasswordDialog(keeper, over);
    change->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(change, &QDialog::finished, over,
                     [then = std::move(then)](int r) { then(r == QDialog::Accepted); });
    change->open();
}

}  // namespace

LoginDialog::LoginDialog(SessionKeeper& keeper, QWidget* parent)
    : QDialog(parent), keeper_(keeper), form_(this) {
    setObjectName(QStringLiteral("LoginDialog"));
    setWindowTitle(base::Tr::tr("登录"));
    user_ = form_.entry(base::Tr::tr("用户名"), "LoginUser", false);
    password_ = form_.entry(base::Tr::tr("密码"), "LoginPassword", true);
    QPushButton* login = form_.finish(base::Tr::tr("登录"), "LoginButton", "LoginMessage");
    connect(login, &QPushButton::clicked, this, &LoginDialog::submit);
}

void LoginDialog::submit() {
    if (!form_.wait()) return;
    const QString user = user_->text().trimmed();
    const QString password = password_->text();
    password_->clear();
    keeper_.login(user, password, [self = QPointer<LoginDialog>(this)](Outcome o) {
        if (!self) return;
        self->form_.answer(outcomeText(o));
        if (o == Outcome::Done) {
            self->accept();
        } else if (o == Outcome::MustChange) {
            askChange(self->keeper_, self, [self](bool changed) {
                if (self && changed) self->accept();
            });
        } else {
            self->password_->setFocus();
        }
    });
}

ChangePasswordDialog::ChangePasswordDialog(SessionKeeper& keeper, QWidget* parent)
    : QDialog(parent), keeper_(keeper), form_(this) {
    setObjectName(QStringLiteral("ChangePasswordDialog"));
    setWindowTitle(base::Tr::tr("修改密码"));
    old_ = form_.entry(base::Tr::tr("旧密码"), "OldPassword", true);
    new_ = form_.entry(base::Tr::tr("新密码"), "NewPassword", true);
    repeat_ = form_.entry(base::Tr::tr("再次输入新密码"), "RepeatPassword", true);
    QPushButton* ok = form_.finish(base::Tr::tr("确定"), "ChangeButton", "ChangeMessage");
    connect(ok, &QPushButton::clicked, this, &ChangePasswordDialog::submit);
}

void ChangePasswordDialog::submit() {
    if (new_->text() != repeat_->text()) {
        form_.message()->setText(base::Tr::tr("两次输入的密码不一致"));
        return;
    }
    if (!form_.wait()) return;
    const QString oldPassword = old_->text();
    const QString newPassword = new_->text();
    for (QLineEdit* e : {old_, new_, repeat_})
        e->clear();
    keeper_.changePassword(oldPassword, newPassword, [self = QPointer(this)](Outcome o) {
        if (!self) return;
        self->form_.answer(outcomeText(o));
        if (o == Outcome::Done)
            self->accept();
        else if (o == Outcome::Locked || o == Outcome::NotAllowed)
            self->reject();  // logged out: the login is asked for again
    });
}

UnlockDialog::UnlockDialog(SessionKeeper& keeper, QWidget* parent)
    : QDialog(parent), keeper_(keeper), form_(this) {
    setObjectName(QStringLiteral("UnlockDialog"));
    setWindowTitle(base::Tr::tr("会话已锁定"));
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    form_.addLine(base::Tr::tr("%1 的会话已锁定，请输入密码解锁").arg(keeper.view().userId));
    password_ = form_.entry(base::Tr::tr("密码"), "UnlockPassword", true);
    auto* logout = button(base::Tr::tr("注销"), "UnlockLogout", this);
    QPushButton* unlock =
        form_.finish(base::Tr::tr("解锁"), "UnlockButton", "UnlockMessage", {logout});
    connect(unlock, &QPushButton::clicked, this, &UnlockDialog::submit);
    connect(logout, &QPushButton::clicked, this, [this] {
        keeper_.logout();
        accept();
    });
}

void UnlockDialog::reject() {
    // Esc and the close box leave the session locked: only the password or "注销" end it.
}

void UnlockDialog::submit() {
    if (!form_.wait()) return;
    const QString password = password_->text();
    password_->clear();
    keeper_.unlock(password, [self = QPointer(this)](Outcome o) {
        if (!self) return;
        self->form_.answer(outcomeText(o));
        if (o == Outcome::Done) {
            self->accept();
        } else if (o == Outcome::MustChange) {
            askChange(self->keeper_, self, [self](bool) {
                if (self) self->accept();
            });
        } else if (self->keeper_.view().state == Session::State::LoggedOut) {
            self->accept();  // the account locked: the login is asked for again
        }
    });
}

ReasonListDialog::ReasonListDialog(SessionKeeper& keeper, QWidget* parent)
    : QDialog(parent), keeper_(keeper) {
    setObjectName(QStringLiteral("ReasonListDialog"));
    setWindowTitle(base::Tr::tr("变更原因列表"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("ReasonList"));
    list_->addItems(keeper.view().reasons);
    entry_ = new QLineEdit(this);
    entry_->setObjectName(QStringLiteral("ReasonEntry"));
    auto* add = button(base::Tr::tr("添加"), "ReasonAdd", this);
    auto* remove = button(base::Tr::tr("删除"), "ReasonRemove", this);
    auto* up = button(base::Tr::tr("上移"), "ReasonUp", this);
    auto* down = button(base::Tr::tr("下移"), "ReasonDown", this);
    ok_ = button(base::Tr::tr("确定"), "ReasonListOk", this);
    auto* cancel = button(base::Tr::tr("取消"), "ReasonListCancel", this);
    message_ = messageLabel(this, "ReasonListMessage");
    auto* grid = new QGridLayout(this);
    grid->addWidget(list_, 0, 0, 4, 1);
    grid->addWidget(up, 0, 1);
    grid->addWidget(down, 1, 1);
    grid->addWidget(remove, 2, 1);
    grid->addWidget(entry_, 4, 0);
    grid->addWidget(add, 4, 1);
    grid->addWidget(message_, 5, 0, 1, 2);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok_);
    row->addWidget(cancel);
    grid->addLayout(row, 6, 0, 1, 2);
    connect(add, &QPushButton::clicked, this, [this] {
        const QString text = entry_->text().trimmed();
        if (text.isEmpty() || !list_->findItems(text, Qt::MatchExactly).isEmpty()) return;
        list_->addItem(text);
        entry_->clear();
    });
    connect(entry_, &QLineEdit::returnPressed, add, &QPushButton::click);
    connect(remove, &QPushButton::clicked, this, [this] { delete list_->currentItem(); });
    connect(up, &QPushButton::clicked, this, [this] { move(-1); });
    connect(down, &QPushButton::clicked, this, [this] { move(1); });
    connect(ok_, &QPushButton::clicked, this, &ReasonListDialog::submit);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ReasonListDialog::move(int step) {
    const int from = list_->currentRow();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= list_->count()) return;
    list_->insertItem(to, list_->takeItem(from));
    list_->setCurrentRow(to);
}

void ReasonListDialog::submit() {
    QStringList reasons;
    for (int i = 0; i < list_->count(); ++i)
        reasons << list_->item(i)->text();
    ok_->setEnabled(false);
    keeper_.setReasons(reasons, [self = QPointer(this)](Outcome o) {
        if (!self) return;
        self->ok_->setEnabled(true);
        if (o == Outcome::Done)
            self->accept();
        else
            self->message_->setText(outcomeText(o));
    });
}

UserBar::UserBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("UserBar"));
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("UserStatus"));
    // Only a service under its own account keeps the records out of reach of the people they
    // record; the program that records by itself says so while access control is on.
    unprotected_ = new QLabel(base::Tr::tr("记录未受保护（未安装服务）"), this);
    unprotected_->setObjectName(QStringLiteral("RecordsUnprotected"));
    unprotected_->setToolTip(
        base::Tr::tr("本程序在当前账户下自行记录：能登录这台电脑的人可以改写记录文件。"
                     "安装并启用服务后，记录由服务的账户保存。"));
    logout_ = button(base::Tr::tr("注销"), "LogoutButton", this);
    login_ = button(base::Tr::tr("登录"), "LoginAgainButton", this);
    reasons_ = button(base::Tr::tr("变更原因列表"), "ReasonsButton", this);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(unprotected_);
    row->addWidget(label_);
    row->addWidget(reasons_);
    row->addWidget(logout_);
    row->addWidget(login_);
    connect(reasons_, &QPushButton::clicked, this, &UserBar::reasonsClicked);
    connect(logout_, &QPushButton::clicked, this, &UserBar::logoutClicked);
    connect(login_, &QPushButton::clicked, this, &UserBar::loginClicked);
}

void UserBar::show(const SessionKeeper::View& v) {
    const bool in = v.role.has_value();
    if (!v.standing.storeUsable)
        label_->setText(v.storeText);
    else if (in)
        label_->setText(
            base::Tr::tr("用户：%1（%2，%3）").arg(v.fullName, v.userId, roleText(*v.role)));
    else
        label_->setText(base::Tr::tr("未登录"));
    logout_->setVisible(v.standing.storeUsable && in);
    reasons_->setVisible(mayDo(v.standing, Action::AccessControlSettings) == Denial::None &&
                         v.standing.controlled);
    login_->setVisible(v.standing.storeUsable && !in);
    unprotected_->setVisible(v.standing.controlled);
}

Doorman::Doorman(SessionKeeper& keeper, Guard& guard, QObject* parent)
    : QObject(parent), keeper_(keeper), guard_(guard) {
    idle_.setInterval(kIdleCheckMs);
    connect(&idle_, &QTimer::timeout, this, [this] {
        keeper_.checkIdle();
        // A lock whose dialog went with its window (a chamber deleted) asks again.
        if (keeper_.view().state == Session::State::Locked && !unlock_) update();
    });
    connect(&keeper_, &SessionKeeper::changed, this, &Doorman::update);
    qApp->installEventFilter(this);
}

Doorman::~Doorman() {
    qApp->removeEventFilter(this);
    delete login_.data();
    delete unlock_.data();
    delete reasons_.data();
}

void Doorman::addWindow(QWidget* window) {
    windows_.removeAll(nullptr);
    if (!windows_.contains(window)) windows_ << window;
    update();
}

QWidget* Doorman::host() const {
    // The window in front, also one of the main window's own (configuration, program, ...),
    // which hide the main window while they show.
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (const QPointer<QWidget>& w : windows_)
        if (w && w->isVisible()) return w;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !qobject_cast<QDialog*>(w)) return w;
    return nullptr;
}

void Doorman::askLogin() {
    if (login_ || !host()) return;
    login_ = new LoginDialog(keeper_, host());
    login_->setAttribute(Qt::WA_DeleteOnClose);
    login_->setWindowModality(Qt::ApplicationModal);
    login_->show();
}

void Doorman::cover(QWidget* window, bool on) {
    auto* main = qobject_cast<QMainWindow*>(window);
    QWidget* host = main && main->centralWidget() ? main->centralWidget() : window;
    auto* curtain =
        host->findChild<QWidget*>(QStringLiteral("LoginCurtain"), Qt::FindDirectChildrenOnly);
    if (!on) {
        delete curtain;
        return;
    }
    if (!curtain) {
        curtain = new QWidget(host);
        curtain->setObjectName(QStringLiteral("LoginCurtain"));
        curtain->setAutoFillBackground(true);
        auto* lay = new QVBoxLayout(curtain);
        lay->addStretch(1);
        lay->addWidget(new QLabel(base::Tr::tr("请登录后查看"), curtain), 0, Qt::AlignCenter);
        QPushButton* login = button(base::Tr::tr("登录"), "CurtainLogin", curtain);
        lay->addWidget(login, 0, Qt::AlignCenter);
        lay->addStretch(1);
        connect(login, &QPushButton::clicked, this, &Doorman::askLogin);
    }
    curtain->setGeometry(host->rect());
    curtain->raise();
    curtain->show();
}

void Doorman::update() {
    const SessionKeeper::View& v = keeper_.view();
    if (!v.opened) return;
    guard_.setUser(v.userId, v.reasons, v.fullNames);
    guard_.setStanding(v.standing);
    const bool in =
        v.standing.controlled && !v.userId.isEmpty() && v.state != Session::State::LoggedOut;
    if (someoneIn_ && !in) clearAfterLogout();
    someoneIn_ = in;
    windows_.removeAll(nullptr);
    // Every window shown is covered, also those opened from the main window (configuration,
    // program, events, runs...), which stay open over a logout.
    const bool none = nobody();
    for (const QPointer<QWidget>& w : std::as_const(windows_))
        cover(w, none);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (coverable(w) && !windows_.contains(w)) cover(w, none);
    if (!keeper_.guarding()) return;  // access control off: nothing shows
    bars_.removeAll(nullptr);
    for (const QPointer<QWidget>& w : windows_) {
        if (w->findChild<UserBar*>(QStringLiteral("UserBar"))) continue;
        auto* bar = new UserBar;
        if (auto* main = qobject_cast<QMainWindow*>(w.data()))
            main->statusBar()->addPermanentWidget(bar);
        else if (auto* box = qobject_cast<QBoxLayout*>(w->layout()))
            box->addWidget(bar);
        else
            bar->setParent(w);
        connect(bar, &UserBar::logoutClicked, this, [this] {
            keeper_.logout();
            askLogin();
        });
        connect(bar, &UserBar::loginClicked, this, &Doorman::askLogin);
        connect(bar, &UserBar::reasonsClicked, this, [this] {
            if (reasons_ || !host()) return;
            reasons_ = new ReasonListDialog(keeper_, host());
            reasons_->setAttribute(Qt::WA_DeleteOnClose);
            reasons_->open();
        });
        bars_ << bar;
    }
    for (const QPointer<UserBar>& b : std::as_const(bars_))
        b->show(v);
    if (!v.standing.controlled) return;
    if (!idle_.isActive()) idle_.start();
    if (v.state == Session::State::LoggedOut && !asked_ && host()) {
        asked_ = true;
        askLogin();
    }
    if (v.state == Session::State::Locked && !unlock_ && host()) {
        delete login_.data();
        unlock_ = new UnlockDialog(keeper_, host());
        unlock_->setAttribute(Qt::WA_DeleteOnClose);
        unlock_->setWindowModality(Qt::ApplicationModal);
        connect(unlock_, &QDialog::accepted, this, [this] {
            if (keeper_.view().state == Session::State::LoggedOut ||
                keeper_.view().state == Session::State::Locked)
                askLogin();
        });
        unlock_->show();
    }
}

void Doorman::clearAfterLogout() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == u"AccessAdminWindow") w->close();
        for (QLabel* l : w->findChildren<QLabel*>())
            if (l->objectName() == u"OperatorMessage" || l->objectName() == u"WriteStatus")
                l->clear();
    }
}

bool Doorman::nobody() const {
    const SessionKeeper::View& v = keeper_.view();
    return v.standing.controlled &&
           (v.state == Session::State::LoggedOut || v.state == Session::State::MustChange);
}

bool Doorman::coverable(const QWidget* w) {
    // Menus and lists that drop down are popups.
    return w && w->isWindow() && w->isVisible() && !qobject_cast<const QDialog*>(w) &&
           w->windowType() != Qt::ToolTip && w->windowType() != Qt::Popup;
}

bool Doorman::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
        case QEvent::Show:
            // A window that comes up while nobody is logged in shows nothing either; one hidden
            // over a logout shows again uncovered once someone logged in.
            if (auto* w = qobject_cast<QWidget*>(watched); coverable(w)) cover(w, nobody());
            break;
        case QEvent::Resize:
            if (auto* w = qobject_cast<QWidget*>(watched))
                if (auto* c = w->findChild<QWidget*>(QStringLiteral("LoginCurtain"),
                                                     Qt::FindDirectChildrenOnly))
                    c->setGeometry(w->rect());
            break;
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            if (keeper_.view().standing.controlled) keeper_.touch();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, e);
}

}  // namespace auth
