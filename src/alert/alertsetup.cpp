#include "alert/alertsetup.h"

#include "alert/alertsettings.h"

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

}  // namespace alert
