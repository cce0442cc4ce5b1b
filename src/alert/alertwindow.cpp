#include "alert/alertwindow.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "auth/reason.h"
#include "base/tr.h"
#include "ui/accessible.h"
#include "ui/bandeditor.h"
#include "ui/widgets.h"

namespace alert {

namespace {

QLineEdit* entry(const QString& name, const QString& accessible) {
    auto* e = new QLineEdit;
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    return e;
}

QDoubleSpinBox* number(const QString& name, const QString& accessible) {
    auto* b = new QDoubleSpinBox;
    b->setObjectName(name);
    b->setAccessibleName(accessible);
    b->setRange(-99999, 99999);
    b->setDecimals(1);
    return b;
}

QSpinBox* count(const QString& name, const QString& accessible, int max) {
    auto* b = new QSpinBox;
    b->setObjectName(name);
    b->setAccessibleName(accessible);
    b->setRange(0, max);
    return b;
}

}  // namespace

AlertWindow::AlertWindow(Alerter& alerter, ApplySettings apply, QWidget* parent)
    : QDialog(parent), alerter_(alerter), apply_(std::move(apply)), before_(alerter.notify()) {
    setObjectName(QStringLiteral("AlertSettingsWindow"));
    setWindowTitle(base::Tr::tr("报警通知"));
    setAccessibleName(base::Tr::tr("报警通知"));

    auto* test = ui::commandButton(base::Tr::tr("发送测试"), QStringLiteral("NotifyTest"));
    auto* ok = ui::commandButton(base::Tr::tr("确定"), QStringLiteral("AlertSettingsOk"));
    auto* cancel = ui::commandButton(base::Tr::tr("取消"), QStringLiteral("AlertSettingsCancel"));
    result_ = new ui::ValueLabel(this);
    result_->setObjectName(QStringLiteral("NotifyTestResult"));
    result_->setAccessibleName(base::Tr::tr("测试结果"));
    result_->setWordWrap(true);

    auto* columns = new QHBoxLayout;
    columns->addWidget(buildRules());
    columns->addWidget(buildNotify());
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(test);
    buttons->addWidget(result_, 1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* lay = new QVBoxLayout(this);
    lay->addLayout(columns);
    lay->addLayout(buttons);

    connect(test, &QPushButton::clicked, this, &AlertWindow::sendTest);
    connect(ok, &QPushButton::clicked, this, &AlertWindow::accept);
    connect(cancel, &QPushButton::clicked, this, &AlertWindow::reject);
    connect(&alerter_, &Alerter::testDone, this, [this](bool good, const QString& text) {
        result_->setText((good ? base::Tr::tr("测试成功：") : base::Tr::tr("测试失败：")) + text);
    });
    fill(alerter_.rules(), alerter_.notify());
}

QWidget* AlertWindow::buildRules() {
    auto* box = new QGroupBox(base::Tr::tr("报警规则"));
    auto* grid = new QGridLayout(box);
    grid->addWidget(new QLabel(base::Tr::tr("延时（秒）")), 0, 1);
    int row = 1;
    for (Kind k : kAllKinds) {
        const int i = static_cast<int>(k);
        enabled_[i] = new QCheckBox(base::shown(kindTitle(k)));
        enabled_[i]->setObjectName(QStringLiteral("AlertRule_%1").arg(kindKey(k)));
        delay_[i] = count(QStringLiteral("AlertDelay_%1").arg(kindKey(k)),
                          base::shown(kindTitle(k)) + base::Tr::tr(" 延时"), 86400);
        grid->addWidget(enabled_[i], row, 0);
        grid->addWidget(delay_[i], row, 1);
        ++row;
    }
    for (int loop = 0; loop < 2; ++loop) {
        const QString n = QString::number(loop + 1);
        const QString pv = QStringLiteral("PV") + n;
        ui::BandEditor::Look look;
        look.names = QStringLiteral("AlertBand%1") + n;
        look.pv = pv;
        look.sv = QStringLiteral("SV") + n;
        look.modeList = false;
        look.hysteresis = true;
        look.widthName = pv + base::Tr::tr(" 允许偏差");
        bands_[loop] = new ui::BandEditor(look);
        grid->addWidget(bands_[loop], row++, 0, 1, 2);
    }
    forwardBehind_ = number(QStringLiteral("AlertForwardBehind"), base::Tr::tr("转发滞后上限"));
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel(base::Tr::tr("转发滞后超过（分钟）")));
    line->addWidget(forwardBehind_);
    grid->addLayout(line, row, 0, 1, 2);
    return box;
}

QWidget* AlertWindow::buildNotify() {
    auto* box = new QGroupBox(base::Tr::tr("通知"));
    auto* form = new QFormLayout(box);
    mail_ = entry(QStringLiteral("NotifyMail"), base::Tr::tr("邮件服务器"));
    mail_->setPlaceholderText(base::Tr::tr("smtp://用户@主机:端口"));
    // The example address is seen whole, however long the captions beside it are.
    mail_->setMinimumWidth(mail_->fontMetrics().horizontalAdvance(mail_->placeholderText()) +
                           2 * mail_->fontMetrics().height());
    password_ = entry(QStringLiteral("NotifyPassword"), base::Tr::tr("邮件密码"));
    password_->setEchoMode(QLineEdit::Password);
    from_ = entry(QStringLiteral("NotifyFrom"), base::Tr::tr("发件人"));
    to_ = entry(QStringLiteral("NotifyTo"), base::Tr::tr("收件人"));
    escalateTo_ = entry(QStringLiteral("NotifyEscalateTo"), base::Tr::tr("升级收件人"));
    webhook_ = entry(QStringLiteral("NotifyWebhook"), base::Tr::tr("Webhook 地址"));
    repeat_ = count(QStringLiteral("NotifyRepeat"), base::Tr::tr("重复通知间隔"), 1440);
    escalate_ = count(QStringLiteral("NotifyEscalate"), base::Tr::tr("升级通知时间"), 10080);
    sound_ = new QCheckBox(base::Tr::tr("报警声音"));
    sound_->setObjectName(QStringLiteral("NotifySound"));
    form->addRow(base::Tr::tr("邮件服务器"), mail_);
    form->addRow(base::Tr::tr("密码"), password_);
    form->addRow(base::Tr::tr("发件人"), from_);
    form->addRow(base::Tr::tr("收件人"), to_);
    form->addRow(base::Tr::tr("升级收件人"), escalateTo_);
    form->addRow(QStringLiteral("Webhook"), webhook_);
    form->addRow(base::Tr::tr("未确认时每（分钟）重复"), repeat_);
    form->addRow(base::Tr::tr("未确认（分钟）后升级"), escalate_);
    form->addRow(QString(), sound_);
    return box;
}

void AlertWindow::fill(const RuleConfig& rules, const NotifySettings& notify) {
    for (Kind k : kAllKinds) {
        const int i = static_cast<int>(k);
        enabled_[i]->setChecked(rules.rule(k).enabled);
        delay_[i]->setValue(rules.rule(k).delaySec);
    }
    for (int loop = 0; loop < 2; ++loop) {
        bands_[loop]->setBand(rules.bands[loop]);
    }
    forwardBehind_->setValue(rules.forwardBehindMin);
    mail_->setText(notify.mailServer);
    password_->setText(notify.password);
    from_->setText(notify.from);
    to_->setText(notify.to.join(QStringLiteral(", ")));
    escalateTo_->setText(notify.escalateTo.join(QStringLiteral(", ")));
    webhook_->setText(notify.webhook);
    repeat_->setValue(notify.repeatMin);
    escalate_->setValue(notify.escalateMin);
    sound_->setChecked(notify.sound);
}

bool AlertWindow::read(RuleConfig* rules, NotifySettings* notify, QString* error) const {
    for (Kind k : kAllKinds) {
        const int i = static_cast<int>(k);
        rules->rule(k).enabled = enabled_[i]->isChecked();
        rules->rule(k).delaySec = delay_[i]->value();
    }
    for (int loop = 0; loop < 2; ++loop) {
        instrument::ToleranceBand& b = rules->bands[loop];
        bands_[loop]->readInto(&b);
        if (b.fixed && b.low >= b.high) {
            *error = base::Tr::tr("PV%1 的下限须小于上限").arg(loop + 1);
            return false;
        }
    }
    rules->forwardBehindMin = forwardBehind_->value();
    QString why;
    if (!splitMailServer(mail_->text(), &notify->mailServer, &notify->password, &why)) {
        *error = base::Tr::tr("邮件服务器地址无效");
        return false;
    }
    // A password typed into the address wins; otherwise the one in its own box.
    if (notify->password.isEmpty()) notify->password = password_->text();
    QString bad;
    const QStringList from = parseAddresses(from_->text(), &bad);
    if (from.size() > 1 || !bad.isEmpty()) {
        *error = base::Tr::tr("发件人地址无效");
        return false;
    }
    notify->from = from.value(0);
    notify->to = parseAddresses(to_->text(), &bad);
    notify->escalateTo = parseAddresses(escalateTo_->text(), &bad);
    if (!bad.isEmpty()) {
        *error = base::Tr::tr("邮件地址无效：%1").arg(bad);
        return false;
    }
    notify->webhook = webhook_->text().trimmed();
    if (!notify->webhook.isEmpty() && !notify->webhook.startsWith(u"http://") &&
        !notify->webhook.startsWith(u"https://")) {
        *error = base::Tr::tr("Webhook 地址须以 http:// 或 https:// 开头");
        return false;
    }
    notify->repeatMin = repeat_->value();
    notify->escalateMin = escalate_->value();
    notify->sound = sound_->isChecked();
    return true;
}

// The settings the window holds over the alerter's; false, with the reason shown, when an entry
// cannot be taken.
bool AlertWindow::readOrSay(RuleConfig* rules, NotifySettings* notify) {
    *rules = alerter_.rules();
    *notify = alerter_.notify();
    QString error;
    if (read(rules, notify, &error)) return true;
    result_->setText(error);
    return false;
}

void AlertWindow::accept() {
    RuleConfig rules;
    NotifySettings notify;
    if (!readOrSay(&rules, &notify)) return;
    // Asked here as well as on the button: nothing is kept for one who may not, or without a
    // reason while access control is on.
    const auto audit = auth::consent(this, auth::Action::AlertSettings, windowTitle());
    if (!audit) return;
    // The chamber decides (a refusal too is recorded there) and keeps them.
    const QString refused = apply_ ? apply_(before_, rules, notify, audit->reason)
                                   : base::wording(audit->refusal, base::Lang::Shown);
    if (!apply_ || !refused.isEmpty()) {
        result_->setText(refused);
        return;
    }
    QDialog::accept();
}

void AlertWindow::reject() {
    alerter_.setNotify(before_);
    QDialog::reject();
}

void AlertWindow::sendTest() {
    RuleConfig rules;
    NotifySettings notify;
    if (!readOrSay(&rules, &notify)) return;
    // The test goes with what the window holds; "取消" gives the settings before it back.
    alerter_.setNotify(notify);
    result_->setText(base::Tr::tr("正在发送…"));
    alerter_.sendTest();
}

}  // namespace alert
