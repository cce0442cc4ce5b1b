#include "auth/adminwindow.h"

#include "auth/accesswindows.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "auth/guard.h"
#include "base/tr.h"

namespace auth {

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

QLineEdit* entry(QWidget* parent, const char* name, bool password = false) {
    auto* e = named(new QLineEdit(parent), name);
    if (password) e->setEchoMode(QLineEdit::Password);
    return e;
}

QComboBox* roleBox(QWidget* parent, const char* name) {
    auto* c = named(new QComboBox(parent), name);
    for (Role r : {Role::Viewer, Role::Operator, Role::Supervisor, Role::Administrator})
        c->addItem(roleText(r), static_cast<int>(r));
    return c;
}

}  // namespace

QString AdminWindow::stateText(const Account& a, int expiryDays, qint64 nowUtcMs) {
    if (a.disabled) return base::Tr::tr("已停用");
    if (a.locked()) return base::Tr::tr("已锁定");
    if (a.mustChange) return base::Tr::tr("须修改密码");
    if (expiryDays > 0 && nowUtcMs - a.passwordSetMs > expiryDays * kDayMs)
        return base::Tr::tr("已过期");
    return base::Tr::tr("正常");
}

AdminWindow::AdminWindow(SessionKeeper& keeper, QWidget* parent)
    : QDialog(parent), keeper_(keeper) {
    setObjectName(QStringLiteral("AccessAdminWindow"));
    setWindowTitle(base::Tr::tr("访问控制"));
    status_ = named(new QLabel(this), "AdminStatus");
    message_ = named(new QLabel(this), "AdminMessage");
    message_->setWordWrap(true);
    const auto button = [this](const QString& text, const char* name) {
        auto* b = named(new QPushButton(text, this), name);
        busyOff_ << b;
        return b;
    };

    // Access control off and no account yet: the first administrator switches it on.
    first_ = named(new QGroupBox(base::Tr::tr("第一个管理员"), this), "FirstAdminBox");
    firstUser_ = entry(first_, "FirstUser");
    firstName_ = entry(first_, "FirstName");
    firstPassword_ = entry(first_, "FirstPassword", true);
    firstRepeat_ = entry(first_, "FirstRepeat", true);
    auto* firstOk = button(base::Tr::tr("创建管理员并开启访问控制"), "FirstAdminButton");
    auto* firstForm = new QFormLayout(first_);
    firstForm->addRow(base::Tr::tr("用户名"), firstUser_);
    firstForm->addRow(base::Tr::tr("姓名"), firstName_);
    firstForm->addRow(base::Tr::tr("密码"), firstPassword_);
    firstForm->addRow(base::Tr::tr("再次输入密码"), firstRepeat_);
    firstForm->addRow(firstOk);

    // Off with accounts: an administrator's user id and password switch it on again.
    switchOn_ = named(new QGroupBox(base::Tr::tr("开启访问控制"), this), "SwitchOnBox");
    switchUser_ = entry(switchOn_, "SwitchUser");
    switchPassword_ = entry(switchOn_, "SwitchPassword", true);
    auto* switchOk = button(base::Tr::tr("开启访问控制"), "SwitchOnButton");
    auto* switchForm = new QFormLayout(switchOn_);
    switchForm->addRow(base::Tr::tr("管理员"), switchUser_);
    switchForm->addRow(base::Tr::tr("密码"), switchPassword_);
    switchForm->addRow(switchOk);

    // On: the accounts and the settings, for administrators.
    admin_ = named(new QGroupBox(base::Tr::tr("账户"), this), "AdminBox");
    table_ = named(new QTableWidget(0, 4, admin_), "AdminAccounts");
    table_->setHorizontalHeaderLabels(
        {base::Tr::tr("用户名"), base::Tr::tr("姓名"), base::Tr::tr("角色"), base::Tr::tr("状态")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    addUser_ = entry(admin_, "AddUser");
    addName_ = entry(admin_, "AddName");
    addRole_ = roleBox(admin_, "AddRole");
    addPassword_ = entry(admin_, "AddPassword", true);
    addRepeat_ = entry(admin_, "AddRepeat", true);
    auto* add = button(base::Tr::tr("添加账户"), "AddAccountButton");
    auto* addForm = new QFormLayout;
    addForm->addRow(base::Tr::tr("用户名"), addUser_);
    addForm->addRow(base::Tr::tr("姓名"), addName_);
    addForm->addRow(base::Tr::tr("角色"), addRole_);
    addForm->addRow(base::Tr::tr("初始密码"), addPassword_);
    addForm->addRow(base::Tr::tr("再次输入密码"), addRepeat_);
    addForm->addRow(add);

    role_ = roleBox(admin_, "AccountRole");
    auto* changeRole = button(base::Tr::tr("修改角色"), "ChangeRoleButton");
    disable_ = button(base::Tr::tr("停用"), "DisableButton");
    auto* unlock = button(base::Tr::tr("解锁"), "UnlockAccountButton");
    resetPassword_ = entry(admin_, "ResetPassword", true);
    resetRepeat_ = entry(admin_, "ResetRepeat", true);
    auto* reset = button(base::Tr::tr("重置密码"), "ResetButton");
    auto* chosenForm = new QFormLayout;
    auto* roleRow = new QHBoxLayout;
    roleRow->addWidget(role_);
    roleRow->addWidget(changeRole);
    chosenForm->addRow(base::Tr::tr("角色"), roleRow);
    auto* stateRow = new QHBoxLayout;
    stateRow->addWidget(disable_);
    stateRow->addWidget(unlock);
    chosenForm->addRow(stateRow);
    chosenForm->addRow(base::Tr::tr("新密码"), resetPassword_);
    chosenForm->addRow(base::Tr::tr("再次输入密码"), resetRepeat_);
    chosenForm->addRow(reset);

    expiry_ = named(new QSpinBox(admin_), "ExpiryDays");
    expiry_->setRange(0, 3650);
    expiry_->setSpecialValueText(base::Tr::tr("永不过期"));
    idle_ = named(new QSpinBox(admin_), "IdleMinutes");
    idle_->setRange(0, 1440);
    idle_->setSpecialValueText(base::Tr::tr("不锁定"));
    reviewerApproves_ =
        named(new QCheckBox(base::Tr::tr("审核人可兼任批准人"), admin_), "ReviewerMayApprove");
    auto* save = button(base::Tr::tr("保存设置"), "SaveSettingsButton");
    reasons_ = named(new QPushButton(base::Tr::tr("修改原因列表"), this), "ReasonsButton");
    connect(reasons_, &QPushButton::clicked, this, [this] {
        auto* editor = new ReasonListDialog(keeper_, this);
        editor->setAttribute(Qt::WA_DeleteOnClose);
        editor->open();
    });
    auto* switchOff = button(base::Tr::tr("关闭访问控制"), "SwitchOffButton");
    auto* settingsForm = new QFormLayout;
    settingsForm->addRow(base::Tr::tr("密码有效期（天）"), expiry_);
    settingsForm->addRow(base::Tr::tr("空闲锁定（分钟）"), idle_);
    settingsForm->addRow(reviewerApproves_);
    settingsForm->addRow(save);
    settingsForm->addRow(reasons_);
    settingsForm->addRow(switchOff);

    auto* columns = new QHBoxLayout;
    columns->addLayout(addForm);
    columns->addLayout(chosenForm);
    columns->addLayout(settingsForm);
    auto* adminLay = new QVBoxLayout(admin_);
    adminLay->addWidget(table_);
    adminLay->addLayout(columns);

    auto* close = named(new QPushButton(base::Tr::tr("关闭"), this), "AdminClose");
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(status_);
    lay->addWidget(first_);
    lay->addWidget(switchOn_);
    lay->addWidget(admin_);
    lay->addWidget(message_);
    lay->addWidget(close, 0, Qt::AlignRight);

    for (QWidget* w : {static_cast<QWidget*>(add), static_cast<QWidget*>(changeRole),
                       static_cast<QWidget*>(disable_), static_cast<QWidget*>(unlock),
                       static_cast<QWidget*>(reset)})
        guard(w, Action::Accounts);
    for (QWidget* w : {static_cast<QWidget*>(save), static_cast<QWidget*>(switchOff)})
        guard(w, Action::AccessControlSettings);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(firstOk, &QPushButton::clicked, this, [this] {
        if (!samePassword(firstPassword_, firstRepeat_)) return;
        setBusy(true);
        keeper_.createFirstAdmin(firstUser_->text(), firstName_->text(), firstPassword_->text(),
                                 [self = QPointer(this)](Outcome o) {
                                     if (self)
                                         self->finish(o, base::Tr::tr("访问控制已开启，请登录"));
                                 });
        firstPassword_->clear();
        firstRepeat_->clear();
    });
    connect(switchOk, &QPushButton::clicked, this, [this] {
        setBusy(true);
        keeper_.switchOn(switchUser_->text(), switchPassword_->text(),
                         [self = QPointer(this)](Outcome o) {
                             if (self) self->finish(o, base::Tr::tr("访问控制已开启，请登录"));
                         });
        switchPassword_->clear();
    });
    connect(add, &QPushButton::clicked, this, [this] {
        if (!samePassword(addPassword_, addRepeat_)) return;
        const QString user = addUser_->text(), name = addName_->text(),
                      password = addPassword_->text();
        const Role role = static_cast<Role>(addRole_->currentData().toInt());
        addPassword_->clear();
        addRepeat_->clear();
        work(
            [user, name, role, password](UserStore& s, const QString& by) {
                return s.createAccount(by, user, name, role, password);
            },
            base::Tr::tr("已添加账户 %1，首次登录须修改密码").arg(user.trimmed()));
    });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        const QString user = selectedUser();
        for (const Account& a : std::as_const(accounts_)) {
            if (a.userId != user) continue;
            role_->setCurrentIndex(role_->findData(static_cast<int>(a.role)));
            disable_->setText(a.disabled ? base::Tr::tr("启用") : base::Tr::tr("停用"));
        }
    });
    connect(changeRole, &QPushButton::clicked, this, [this] {
        const QString user = selectedUser();
        const Role role = static_cast<Role>(role_->currentData().toInt());
        work(
            [user, role](UserStore& s, const QString& by) {
                const auto a = s.account(user);
                return a ? s.changeAccount(by, user, a->fullName, role) : Outcome::NotFound;
            },
            base::Tr::tr("已修改账户 %1").arg(user));
    });
    connect(disable_, &QPushButton::clicked, this, [this] {
        const QString user = selectedUser();
        bool disabled = false;
        for (const Account& a : std::as_const(accounts_))
            if (a.userId == user) disabled = a.disabled;
        work([user, disabled](UserStore& s,
                              const QString& by) { return s.setDisabled(by, user, !disabled); },
             disabled ? base::Tr::tr("已启用账户 %1").arg(user)
                      : base::Tr::tr("已停用账户 %1").arg(user));
    });
    connect(unlock, &QPushButton::clicked, this, [this] {
        const QString user = selectedUser();
        work([user](UserStore& s, const QString& by) { return s.unlock(by, user); },
             base::Tr::tr("已解锁账户 %1").arg(user));
    });
    connect(reset, &QPushButton::clicked, this, [this] {
        if (!samePassword(resetPassword_, resetRepeat_)) return;
        const QString user = selectedUser(), password = resetPassword_->text();
        resetPassword_->clear();
        resetRepeat_->clear();
        work([user, password](UserStore& s,
                              const QString& by) { return s.resetPassword(by, user, password); },
             base::Tr::tr("已重置账户 %1 的密码，下次登录须修改").arg(user));
    });
    connect(save, &QPushButton::clicked, this, [this] {
        const int days = expiry_->value(), minutes = idle_->value();
        const bool approves = reviewerApproves_->isChecked();
        work(
            [days, minutes, approves](UserStore& s, const QString& by) {
                Outcome o = Outcome::Done;
                if (s.passwordExpiryDays() != days) o = s.setPasswordExpiryDays(by, days);
                if (o == Outcome::Done && s.idleLockMinutes() != minutes)
                    o = s.setIdleLockMinutes(by, minutes);
                if (o == Outcome::Done && s.reviewerMayApprove() != approves)
                    o = s.setReviewerMayApprove(by, approves);
                return o;
            },
            base::Tr::tr("设置已保存"));
    });
    connect(switchOff, &QPushButton::clicked, this, [this] {
        work([](UserStore& s, const QString& by) { return s.setAccessControl(by, false); },
             base::Tr::tr("访问控制已关闭"));
    });
    connect(&keeper_, &SessionKeeper::changed, this, &AdminWindow::showView);
    showView();
}

void AdminWindow::showView() {
    const SessionKeeper::View& v = keeper_.view();
    const bool on = v.standing.controlled;
    first_->setVisible(v.standing.storeUsable && !on && !v.hasAccounts);
    switchOn_->setVisible(v.standing.storeUsable && !on && v.hasAccounts);
    admin_->setVisible(on);
    status_->setText(!v.standing.storeUsable ? v.storeText
                     : on                    ? base::Tr::tr("访问控制已开启")
                                             : base::Tr::tr("访问控制已关闭"));
    if (on) reload();
}

void AdminWindow::reload() {
    keeper_.loadAccounts([self = QPointer(this)](const SessionKeeper::Accounts& a) {
        if (self) self->showAccounts(a);
    });
}

void AdminWindow::showAccounts(const SessionKeeper::Accounts& a) {
    const QString chosen = selectedUser();
    accounts_ = a.accounts;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    table_->setRowCount(int(accounts_.size()));
    for (int r = 0; r < accounts_.size(); ++r) {
        const Account& acc = accounts_[r];
        const QStringList cells{acc.userId, acc.fullName, roleText(acc.role),
                                stateText(acc, a.expiryDays, now)};
        for (int c = 0; c < cells.size(); ++c)
            table_->setItem(r, c, new QTableWidgetItem(cells[c]));
        if (acc.userId == chosen) table_->selectRow(r);
    }
    if (!busy_) {
        expiry_->setValue(a.expiryDays);
        idle_->setValue(a.idleMinutes);
        reviewerApproves_->setChecked(a.reviewerMayApprove);
    }
}

QString AdminWindow::selectedUser() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    return items.isEmpty() ? QString() : table_->item(items.first()->row(), 0)->text();
}

bool AdminWindow::samePassword(QLineEdit* a, QLineEdit* b) {
    if (a->text() == b->text()) return true;
    a->clear();
    b->clear();
    message_->setText(base::Tr::tr("两次输入的密码不一致"));
    return false;
}

void AdminWindow::setBusy(bool busy) {
    busy_ = busy;
    for (QWidget* w : std::as_const(busyOff_))
        w->setEnabled(!busy);
    if (busy) message_->setText(base::Tr::tr("正在处理…"));
}

void AdminWindow::work(SessionKeeper::AdminWork w, const QString& doneText) {
    setBusy(true);
    keeper_.administer(std::move(w), [self = QPointer(this), doneText](Outcome o) {
        if (self) self->finish(o, doneText);
    });
}

void AdminWindow::finish(Outcome o, const QString& doneText) {
    setBusy(false);
    message_->setText(o == Outcome::Done ? doneText : outcomeText(o));
    if (keeper_.view().standing.controlled) reload();
}

}  // namespace auth
