#include "events/eventwindow.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "base/tr.h"
#include "store/exportfile.h"
#include "ui/accessible.h"
#include "ui/filedialog.h"
#include "ui/keys.h"

namespace shell {

namespace {

constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm:ss";

QDateTimeEdit* timeEdit(const QString& name, const QString& accessible, const QDateTime& value) {
    auto* e = new QDateTimeEdit(value);
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    e->setDisplayFormat(QString::fromLatin1(kTimeFormat));
    e->setCalendarPopup(true);
    // The edit field inside is what takes the keys; it answers to the same name.
    if (auto* field = e->findChild<QLineEdit*>()) field->setAccessibleName(accessible);
    e->setEnabled(false);
    return e;
}

}  // namespace

EventWindow::EventWindow(events::EventLog& log, QWidget* parent) : QWidget(parent), log_(log) {
    setObjectName(QStringLiteral("EventWindow"));
    setWindowTitle(base::Tr::tr("事件记录"));
    setAccessibleName(base::Tr::tr("事件记录"));
    ui::pressFocusedButtonOnEnter();

    kind_ = new ui::NamedList;
    kind_->setObjectName(QStringLiteral("EventKind"));
    kind_->setAccessibleName(base::Tr::tr("事件类型"));
    kind_->addItem(base::Tr::tr("全部"), QString());
    for (const QString& k : events::eventKinds())
        kind_->addItem(events::eventKindCaption(k), k);
    auto* kindLabel = new QLabel(base::Tr::tr("类型"));
    kindLabel->setBuddy(kind_);

    user_ = new ui::NamedList;
    user_->setObjectName(QStringLiteral("EventUser"));
    user_->setAccessibleName(base::Tr::tr("用户"));
    user_->addItem(base::Tr::tr("全部"), QString());
    auto* userLabel = new QLabel(base::Tr::tr("用户"));
    userLabel->setBuddy(user_);

    span_ = new QCheckBox(base::Tr::tr("时间范围"));
    span_->setObjectName(QStringLiteral("EventSpan"));
    span_->setAccessibleName(base::Tr::tr("按时间范围筛选"));
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime today(now.date(), QTime(0, 0));
    from_ = timeEdit(QStringLiteral("EventFrom"), base::Tr::tr("起始时间"), today);
    to_ =
        timeEdit(QStringLiteral("EventTo"), base::Tr::tr("结束时间"), today.addDays(1).addSecs(-1));
    auto* fromLabel = new QLabel(base::Tr::tr("从"));
    fromLabel->setBuddy(from_);
    auto* toLabel = new QLabel(base::Tr::tr("到"));
    toLabel->setBuddy(to_);

    table_ = new QTableWidget(0, 3);
    table_->setObjectName(QStringLiteral("EventTable"));
    table_->setAccessibleName(base::Tr::tr("事件列表"));
    table_->setHorizontalHeaderLabels(
        {base::Tr::tr("时间"), base::Tr::tr("类型"), base::Tr::tr("内容")});
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setTabKeyNavigation(false);
    table_->setCornerButtonEnabled(false);
    table_->setColumnWidth(0, 170);
    table_->setColumnWidth(1, 60);

    export_ = new QPushButton(base::Tr::tr("导出CSV"));
    export_->setObjectName(QStringLiteral("EventExport"));
    export_->setAccessibleName(base::Tr::tr("导出CSV"));
    review_ = new QPushButton(base::Tr::tr("审计审阅…"));
    review_->setObjectName(QStringLiteral("EventAuditReview"));
    return_ = new QPushButton(base::Tr::tr(" Esc 返回"));
    return_->setObjectName(QStringLiteral("EventReturn"));
    return_->setAccessibleName(base::Tr::tr("Esc 返回"));
    status_ = new ui::ValueLabel;
    status_->setObjectName(QStringLiteral("EventStatus"));
    status_->setAccessibleName(base::Tr::tr("事件记录状态"));

    auto* filters = new QHBoxLayout;
    filters->addWidget(kindLabel);
    filters->addWidget(kind_);
    filters->addSpacing(12);
    filters->addWidget(userLabel);
    filters->addWidget(user_);
    filters->addSpacing(12);
    filters->addWidget(span_);
    filters->addWidget(fromLabel);
    filters->addWidget(from_);
    filters->addWidget(toLabel);
    filters->addWidget(to_);
    filters->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(export_);
    buttons->addWidget(review_);
    buttons->addWidget(return_);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(filters);
    lay->addWidget(table_, 1);
    lay->addLayout(buttons);
    setTabOrder(kind_, user_);
    setTabOrder(user_, span_);
    setTabOrder(span_, from_);
    setTabOrder(from_, to_);
    setTabOrder(to_, table_);
    setTabOrder(table_, export_);
    setTabOrder(export_, review_);
    setTabOrder(review_, return_);
    resize(760, 480);

    connect(kind_, &QComboBox::currentIndexChanged, this, &EventWindow::reload);
    connect(user_, &QComboBox::currentIndexChanged, this, &EventWindow::reload);
    connect(span_, &QCheckBox::toggled, this, [this](bool on) {
        from_->setEnabled(on);
        to_->setEnabled(on);
        reload();
    });
    connect(from_, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (span_->isChecked()) reload();
    });
    connect(to_, &QDateTimeEdit::dateTimeChanged, this, [this] {
        if (span_->isChecked()) reload();
    });
    connect(export_, &QPushButton::clicked, this, &EventWindow::chooseExportFile);
    connect(review_, &QPushButton::clicked, this, &EventWindow::auditReviewRequested);
    connect(return_, &QPushButton::clicked, this, &EventWindow::leave);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &EventWindow::leave);

    connect(&log_, &events::EventLog::logged, this, &EventWindow::onLogged);
    connect(&log_, &events::EventLog::rowsLoaded, this,
            [this](quint64 ticket, const QVector<events::EventEntry>& rows) {
                if (ticket == pendingLoad_) showRows(rows);
            });
    connect(&log_, &events::EventLog::exported, this,
            [this](quint64 ticket, qint64 count, const base::Phrase& error) {
                if (ticket != pendingExport_) return;
                pendingExport_ = 0;
                export_->setEnabled(true);
                status_->setText(
                    count < 0 ? base::Tr::tr("导出失败：%1").arg(error.text(base::Lang::Shown))
                              : base::Tr::tr("已导出 %1 条").arg(count));
            });
    reload();
}

events::EventFilter EventWindow::filter() const {
    events::EventFilter f;
    const QString kind = kind_->currentData().toString();
    if (!kind.isEmpty()) f.kinds = events::storedKinds(kind);
    f.user = user_->currentData().toString();
    if (span_->isChecked()) {
        f.from = from_->dateTime();
        f.to = to_->dateTime();
    }
    return f;
}

bool EventWindow::passes(const events::EventEntry& e) const {
    const events::EventFilter f = filter();
    if (!f.kinds.isEmpty() && !f.kinds.contains(e.kind)) return false;
    if (!f.user.isEmpty() && e.user != f.user) return false;
    if (f.from && e.at < *f.from) return false;
    if (f.to && e.at >= f.to->addSecs(1)) return false;
    return true;
}

void EventWindow::reload() {
    events::EventFilter f = filter();
    f.limit = kShownRows;
    arrivedWhileLoading_.clear();
    pendingLoad_ = log_.requestRows(f);
    status_->setText(base::Tr::tr("读取中…"));
}

void EventWindow::showRows(const QVector<events::EventEntry>& rows) {
    pendingLoad_ = 0;
    table_->setUpdatesEnabled(false);
    table_->setRowCount(0);
    for (const events::EventEntry& e : rows)
        insertRow(table_->rowCount(), e);
    // Entries logged after the request were not yet in the file the answer came from.
    for (const events::EventEntry& e : arrivedWhileLoading_)
        onLogged(e);
    arrivedWhileLoading_.clear();
    table_->setUpdatesEnabled(true);
    const QString logText = log_.statusText(base::Lang::Shown);
    status_->setText(logText.isEmpty() ? base::Tr::tr("共显示 %1 条").arg(rows.size()) : logText);
}

void EventWindow::see(const events::EventEntry& e) {
    if (!e.user.isEmpty() && user_->findData(e.user) < 0) user_->addItem(userText(e.user), e.user);
    // The audit columns come with rows made under access control (a user or a reason); without
    // it the window stays as it always was, though writes keep their values before and after.
    if (audited_ || (e.user.isEmpty() && e.reason.isEmpty())) return;
    audited_ = true;
    kind_->addItem(events::eventKindCaption(events::eventkind::kAudit), events::eventkind::kAudit);
    table_->setColumnCount(7);
    table_->setHorizontalHeaderLabels(
        {base::Tr::tr("时间"), base::Tr::tr("类型"), base::Tr::tr("内容"), base::Tr::tr("用户"),
         base::Tr::tr("原值"), base::Tr::tr("新值"), base::Tr::tr("变更原因")});
    table_->setColumnWidth(0, 210);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    // The rows shown so far get their times with the offset.
    for (int r = 0; r < table_->rowCount(); ++r)
        if (QTableWidgetItem* t = table_->item(r, 0)) t->setText(t->data(Qt::UserRole).toString());
}

void EventWindow::insertRow(int at, const events::EventEntry& e) {
    see(e);
    table_->insertRow(at);
    auto* time =
        new QTableWidgetItem(audited_ ? events::auditTimeText(e) : events::eventTimeText(e.at));
    time->setData(Qt::UserRole, events::auditTimeText(e));
    table_->setItem(at, 0, time);
    table_->setItem(at, 1, new QTableWidgetItem(events::eventKindCaption(e.kind)));
    // Rows with a code are made into words here, older rows shown from their stored text.
    table_->setItem(at, 2, new QTableWidgetItem(events::eventText(e)));
    if (!audited_) return;
    const QString values[] = {userText(e.user), e.oldValue, e.newValue, e.reason};
    for (int c = 0; c < 4; ++c)
        table_->setItem(at, 3 + c, new QTableWidgetItem(values[c]));
}

void EventWindow::onLogged(const events::EventEntry& e) {
    if (pendingLoad_) {
        arrivedWhileLoading_.push_back(e);
        return;
    }
    if (!passes(e)) return;
    insertRow(0, e);
    if (table_->rowCount() > kShownRows) table_->setRowCount(kShownRows);
}

void EventWindow::chooseExportFile() {
    const QString file =
        ui::saveFileName(this, base::Tr::tr("导出CSV"), QStringLiteral("events.csv"),
                         base::Tr::tr("CSV 文件 (*.csv)"));
    if (!file.isEmpty()) exportTo(file);
}

void EventWindow::exportTo(const QString& file) {
    events::EventLog* log = &log_;
    const events::EventFilter f = filter();
    const auto write = [this, log, file, f](const store::ExportDone& done) {
        const quint64 ticket = log->exportCsv(file, f);
        pendingExport_ = ticket;
        // The answer is taken by the log, which outlives this window.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(log, &events::EventLog::exported, log,
                        [once, ticket, done](quint64 answered, qint64 count, const base::Phrase&) {
                            if (answered != ticket) return;
                            QObject::disconnect(*once);
                            done(count >= 0);
                        });
    };
    if (!exporter_) {
        write([](bool) {});
    } else if (const QString no = exporter_(QStringLiteral("events"), file, write); !no.isEmpty()) {
        status_->setText(base::Tr::tr("未导出：%1").arg(no));
        return;
    }
    export_->setEnabled(false);
    status_->setText(base::Tr::tr("导出中…"));
}

QString EventWindow::userText(const QString& userId) const {
    const QString name = names_.value(userId);
    return name.isEmpty() || name == userId ? userId : base::Tr::tr("%1（%2）").arg(name, userId);
}

void EventWindow::setUserNames(const QHash<QString, QString>& names) {
    names_ = names;
    for (int i = 1; i < user_->count(); ++i)
        user_->setItemText(i, userText(user_->itemData(i).toString()));
}

void EventWindow::showStatus(const QString& text) {
    status_->setText(text);
}

void EventWindow::leave() {
    hide();
    emit returned();
}

}  // namespace shell
