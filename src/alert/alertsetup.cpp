#include "alert/alertsetup.h"

#include <QMainWindow>
#include <QToolBar>
#include <QToolButton>

#include "alert/alertbar.h"
#include "alert/alertsettings.h"
#include "base/tr.h"

namespace alert {

void readAlertSettings(QSettings& file, const NotifyOptions& given, RuleConfig* rules,
                       NotifySettings* notify) {
    loadSettings(file, rules, notify);
    if (!given.mail && !given.from && !given.to && !given.webhook && !given.silentAfter) return;
    if (given.mail) {
        QString why;
        // Checked on the command line already; a password in the address is kept apart.
        splitMailServer(*given.mail, &notify->mailServer, &notify->password, &why);
    }
    if (given.from) notify->from = *given.from;
    if (given.to) notify->to = *given.to;
    if (given.webhook) notify->webhook = *given.webhook;
    if (given.silentAfter) rules->rule(Kind::Silent).delaySec = *given.silentAfter;
    saveSettings(file, *rules, *notify);
}

void addAlertBar(QMainWindow& window, Alerter& alerter,
                 std::function<std::unique_ptr<QSettings>()> settingsFile) {
    auto* bar = new AlertBar(alerter, [settingsFile = std::move(settingsFile)](
                                          const RuleConfig& rules, const NotifySettings& notify) {
        saveSettings(*settingsFile(), rules, notify);
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

}  // namespace alert
