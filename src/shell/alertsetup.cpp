#include "shell/alertsetup.h"

#include <QMainWindow>
#include <QToolBar>
#include <QToolButton>

#include "alert/alertbar.h"
#include "alert/alertsettings.h"
#include "base/tr.h"
#include "shell/settings.h"

namespace shell {

void readAlertSettings(const Options& options, alert::RuleConfig* rules,
                       alert::NotifySettings* notify) {
    const auto file = settingsFile();
    alert::loadSettings(*file, rules, notify);
    const bool given = options.notifyMail || options.notifyFrom || options.notifyTo ||
                       options.notifyWebhook || options.notifySilentAfter;
    if (!given) return;
    if (options.notifyMail) {
        QString why;
        // Checked on the command line already; a password in the address is kept apart.
        alert::splitMailServer(*options.notifyMail, &notify->mailServer, &notify->password, &why);
    }
    if (options.notifyFrom) notify->from = *options.notifyFrom;
    if (options.notifyTo) notify->to = *options.notifyTo;
    if (options.notifyWebhook) notify->webhook = *options.notifyWebhook;
    if (options.notifySilentAfter)
        rules->rule(alert::Kind::Silent).delaySec = *options.notifySilentAfter;
    alert::saveSettings(*file, *rules, *notify);
}

void addAlertBar(QMainWindow& window, alert::Alerter& alerter) {
    auto* bar = new alert::AlertBar(
        alerter, [](const alert::RuleConfig& rules, const alert::NotifySettings& notify) {
            alert::saveSettings(*settingsFile(), rules, notify);
        });
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

}  // namespace shell
