#include "alert/alertbar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "alert/alertwindow.h"
#include "auth/guard.h"
#include "auth/reason.h"
#include "base/tr.h"
#include "ui/accessible.h"
#include "ui/widgets.h"

namespace alert {

namespace {

constexpr int kSoundEveryMs = 2000;

}  // namespace

AlertBar::AlertBar(Alerter& alerter, ApplySettings apply, QWidget* parent)
    : QFrame(parent), alerter_(alerter), apply_(std::move(apply)) {
    setObjectName(QStringLiteral("AlertBar"));
    setAccessibleName(base::Tr::tr("报警栏"));
    setFrameShape(QFrame::StyledPanel);

    list_ = new QTableWidget(0, 4, this);
    list_->setObjectName(QStringLiteral("AlertList"));
    list_->setAccessibleName(base::Tr::tr("报警列表"));
    list_->setHorizontalHeaderLabels(
        {base::Tr::tr("时间"), base::Tr::tr("报警"), base::Tr::tr("数值"), base::Tr::tr("状态")});
    list_->verticalHeader()->hide();
    list_->setCornerButtonEnabled(false);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab goes on to the comment box and "确认"; the arrows choose the alert.
    list_->setTabKeyNavigation(false);
    list_->setMaximumHeight(list_->fontMetrics().height() * 6);
    comment_ = new QLineEdit(this);
    comment_->setObjectName(QStringLiteral("AlertComment"));
    comment_->setAccessibleName(base::Tr::tr("确认说明"));
    comment_->setPlaceholderText(base::Tr::tr("确认说明：谁、为什么"));
    ack_ = ui::commandButton(base::Tr::tr("确认"), QStringLiteral("AlertAcknowledge"),
                             base::Tr::tr("确认报警"));
    silence_ = ui::commandButton(base::Tr::tr("消音"), QStringLiteral("AlertSilence"));
    settings_ = ui::commandButton(base::Tr::tr("报警通知"), QStringLiteral("AlertSettingsButton"));
    auth::guard(comment_, auth::Action::AcknowledgeAlert);
    auth::guard(ack_, auth::Action::AcknowledgeAlert);
    auth::guard(settings_, auth::Action::AlertSettings);
    message_ = new ui::ValueLabel(this);
    message_->setObjectName(QStringLiteral("AlertMessage"));
    message_->setAccessibleName(base::Tr::tr("报警栏提示"));

    auto* side = new QVBoxLayout;
    side->addWidget(comment_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ack_);
    buttons->addWidget(silence_);
    buttons->addWidget(settings_);
    side->addLayout(buttons);
    side->addWidget(message_);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(4, 2, 4, 2);
    lay->addWidget(list_, 1);
    lay->addLayout(side);
    setTabOrder(list_, comment_);
    setTabOrder(comment_, ack_);
    setTabOrder(ack_, silence_);
    setTabOrder(silence_, settings_);

    connect(comment_, &QLineEdit::returnPressed, this, &AlertBar::acknowledgeChosen);
    connect(ack_, &QPushButton::clicked, this, &AlertBar::acknowledgeChosen);
    connect(silence_, &QPushButton::clicked, &alerter_, &Alerter::silence);
    connect(settings_, &QPushButton::clicked, this, &AlertBar::openSettings);
    connect(&alerter_, &Alerter::listChanged, this, &AlertBar::refresh);
    connect(&alerter_, &Alerter::ringingChanged, this, &AlertBar::refresh);
    sound_.setInterval(kSoundEveryMs);
    connect(&sound_, &QTimer::timeout, this, [] { QApplication::beep(); });
    refresh();
}

QString listedStateText(const ListedAlert& a) {
    return listedStateText(a.active, a.acknowledged);
}

QString listedStateText(bool active, bool acknowledged) {
    QString state = active ? base::Tr::tr("报警中") : base::Tr::tr("已恢复");
    return state + (acknowledged ? base::Tr::tr("，已确认") : base::Tr::tr("，未确认"));
}

void AlertBar::refresh() {
    const auto& listed = alerter_.listed();
    const QString chosen = list_->currentRow() >= 0 && list_->item(list_->currentRow(), 0)
                               ? list_->item(list_->currentRow(), 0)->data(Qt::UserRole).toString()
                               : QString();
    list_->setRowCount(static_cast<int>(listed.size()));
    int row = 0;
    for (const ListedAlert& a : listed) {
        const QStringList cells{a.firedAt.toString(QStringLiteral("MM-dd HH:mm:ss")),
                                base::shown(kindTitle(a.kind)), a.valueText.text(base::Lang::Shown),
                                listedStateText(a)};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(Qt::UserRole, a.id);
            if (a.active && !a.acknowledged) item->setForeground(Qt::red);
            list_->setItem(row, c, item);
        }
        if (a.id == chosen) list_->selectRow(row);
        ++row;
    }
    // The time, the alert and its value are read whole; the state takes the rest.
    for (int c = 0; c < 3; ++c)
        list_->resizeColumnToContents(c);
    ack_->setEnabled(std::any_of(listed.begin(), listed.end(),
                                 [](const ListedAlert& a) { return !a.acknowledged; }));
    silence_->setEnabled(alerter_.ringing());
    if (alerter_.ringing() && !sound_.isActive()) {
        QApplication::beep();
        sound_.start();
    } else if (!alerter_.ringing()) {
        sound_.stop();
    }
}

void AlertBar::acknowledgeChosen() {
    const auto& listed = alerter_.listed();
    QString id;
    if (list_->currentRow() >= 0 && list_->item(list_->currentRow(), 0))
        id = list_->item(list_->currentRow(), 0)->data(Qt::UserRole).toString();
    const ListedAlert* a = nullptr;
    for (const ListedAlert& l : listed)
        if (l.id == id && !l.acknowledged) a = &l;
    if (!a)
        for (const ListedAlert& l : listed)
            if (!l.acknowledged && !a) a = &l;
    if (!a) {
        message_->setText(base::Tr::tr("没有待确认的报警"));
        return;
    }
    if (comment_->text().simplified().isEmpty()) {
        message_->setText(base::Tr::tr("请填写确认说明"));
        comment_->setFocus();
        return;
    }
    const QString title = base::shown(kindTitle(a->kind));
    if (const QString no = auth::refusalShown(auth::Action::AcknowledgeAlert); !no.isEmpty()) {
        message_->setText(no);
        return;
    }
    if (acknowledge_ && acknowledge_(a->id, comment_->text())) {
        message_->setText(base::Tr::tr("已确认：%1").arg(title));
        comment_->clear();
    }
}

void AlertBar::openSettings() {
    if (!window_) {
        window_ = new AlertWindow(alerter_, apply_, window());
        ui::nameChamberAfter(window_, this);
        window_->setAttribute(Qt::WA_DeleteOnClose);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QWidget* AlertBar::settingsWindow() const {
    return window_;
}

void addAlertBar(QMainWindow& window, Alerter& alerter, AlertBar::ApplySettings apply,
                 AlertBar::Acknowledge acknowledge) {
    auto* bar = new AlertBar(alerter, std::move(apply));
    bar->setAcknowledge(std::move(acknowledge));
    auto* holder = new QToolBar(base::Tr::tr("报警"), &window);
    holder->setObjectName(QStringLiteral("AlertToolBar"));
    holder->setMovable(false);
    holder->setFloatable(false);
    holder->addWidget(bar);
    // The button a narrow window folds the bar behind is named like every other control.
    if (auto* more = holder->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(base::Tr::tr("报警栏更多"));
    window.addToolBar(Qt::BottomToolBarArea, holder);
}

}  // namespace alert
