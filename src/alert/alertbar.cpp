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

#include "alert/alertsettings.h"
#include "auth/guard.h"
#include "auth/reason.h"
#include "base/tr.h"
#include "ui/accessible.h"
#include "ui/widgets.h"

namespace alert {

namespace {

constexpr int kSoundEveryMs = 2000;

}  // namespace

AlertBar::AlertBar(Commands commands, QWidget* parent)
    : QFrame(parent), commands_(std::move(commands)) {
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
    connect(silence_, &QPushButton::clicked, this, &AlertBar::silence);
    connect(settings_, &QPushButton::clicked, this, &AlertBar::openSettings);
    settings_->setVisible(bool(commands_.settingsWindow));
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

void AlertBar::showAlerts(const QList<chamber::AlertInfo>& alerts, bool ringing) {
    // A new alert rings again here too.
    for (const chamber::AlertInfo& a : alerts)
        if (std::none_of(alerts_.begin(), alerts_.end(),
                         [&](const chamber::AlertInfo& o) { return o.id == a.id; }))
            silencedHere_ = false;
    if (!ringing) silencedHere_ = false;
    alerts_ = alerts;
    ringing_ = ringing;
    refresh();
}

void AlertBar::silence() {
    if (commands_.silence)
        commands_.silence();
    else
        silencedHere_ = true;
    refresh();
}

void AlertBar::refresh() {
    const QList<chamber::AlertInfo>& listed = alerts_;
    const QString chosen = list_->currentRow() >= 0 && list_->item(list_->currentRow(), 0)
                               ? list_->item(list_->currentRow(), 0)->data(Qt::UserRole).toString()
                               : QString();
    list_->setRowCount(static_cast<int>(listed.size()));
    int row = 0;
    for (const chamber::AlertInfo& a : listed) {
        const std::optional<Kind> kind = kindOfKey(a.kind);
        const QStringList cells{a.firedAt.toLocalTime().toString(QStringLiteral("MM-dd HH:mm:ss")),
                                kind ? base::shown(kindTitle(*kind)) : a.kind,
                                a.valueText.text(base::Lang::Shown),
                                listedStateText(a.active, a.acknowledged)};
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
                                 [](const chamber::AlertInfo& a) { return !a.acknowledged; }));
    const bool ringing = ringing_ && !silencedHere_;
    silence_->setEnabled(ringing);
    if (ringing && !sound_.isActive()) {
        QApplication::beep();
        sound_.start();
    } else if (!ringing) {
        sound_.stop();
    }
}

void AlertBar::acknowledgeChosen() {
    const QList<chamber::AlertInfo>& listed = alerts_;
    QString id;
    if (list_->currentRow() >= 0 && list_->item(list_->currentRow(), 0))
        id = list_->item(list_->currentRow(), 0)->data(Qt::UserRole).toString();
    const chamber::AlertInfo* a = nullptr;
    for (const chamber::AlertInfo& l : listed)
        if (l.id == id && !l.acknowledged) a = &l;
    if (!a)
        for (const chamber::AlertInfo& l : listed)
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
    const std::optional<Kind> kind = kindOfKey(a->kind);
    const QString title = kind ? base::shown(kindTitle(*kind)) : a->kind;
    if (const QString no = auth::refusalShown(auth::Action::AcknowledgeAlert); !no.isEmpty()) {
        message_->setText(no);
        return;
    }
    if (!commands_.acknowledge) return;
    switch (commands_.acknowledge(a->id, comment_->text())) {
        case chamber::Outcome::Done:
            message_->setText(base::Tr::tr("已确认：%1").arg(title));
            comment_->clear();
            break;
        case chamber::Outcome::Pending:
            pending_ = title;
            message_->setText(base::Tr::tr("正在发送…"));
            comment_->clear();
            break;
        default:
            break;
    }
}

void AlertBar::acknowledgeFinished(bool done, const QString& why) {
    message_->setText(done ? base::Tr::tr("已确认：%1").arg(pending_) : why);
}

void AlertBar::openSettings() {
    if (!commands_.settingsWindow) return;
    if (!window_) {
        window_ = commands_.settingsWindow(window());
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

AlertBar* addAlertBar(QMainWindow& window, AlertBar::Commands commands) {
    auto* bar = new AlertBar(std::move(commands));
    auto* holder = new QToolBar(base::Tr::tr("报警"), &window);
    holder->setObjectName(QStringLiteral("AlertToolBar"));
    holder->setMovable(false);
    holder->setFloatable(false);
    holder->addWidget(bar);
    // The button a narrow window folds the bar behind is named like every other control.
    if (auto* more = holder->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(base::Tr::tr("报警栏更多"));
    window.addToolBar(Qt::BottomToolBarArea, holder);
    return bar;
}

}  // namespace alert
