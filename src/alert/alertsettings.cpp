#include "alert/alertsettings.h"

#include <QFile>
#include <QUrl>
#include <cmath>

namespace alert {

namespace {

double finiteOr(const QVariant& v, double fallback) {
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && std::isfinite(d) ? d : fallback;
}

int nonNegativeOr(const QVariant& v, int fallback) {
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok && n >= 0 ? n : fallback;
}

}  // namespace

void loadSettings(QSettings& f, RuleConfig* rules, NotifySettings* notify) {
    const RuleConfig defaults;
    for (Kind k : kAllKinds) {
        const QString g = QStringLiteral("alerts/%1/").arg(kindKey(k));
        Rule& r = rules->rule(k);
        r.enabled = f.value(g + QStringLiteral("enabled"), defaults.rule(k).enabled).toBool();
        r.delaySec = nonNegativeOr(f.value(g + QStringLiteral("delay")), defaults.rule(k).delaySec);
    }
    for (int loop = 0; loop < 2; ++loop) {
        const QString g = QStringLiteral("alerts/band%1/").arg(loop + 1);
        instrument::ToleranceBand& b = rules->bands[loop];
        const instrument::ToleranceBand& d = defaults.bands[loop];
        b.plusMinus = std::abs(finiteOr(f.value(g + QStringLiteral("width")), d.plusMinus));
        b.hysteresis = std::abs(finiteOr(f.value(g + QStringLiteral("hysteresis")), d.hysteresis));
        b.fixed = f.value(g + QStringLiteral("fixed"), false).toBool();
        b.low = finiteOr(f.value(g + QStringLiteral("low")), d.low);
        b.high = finiteOr(f.value(g + QStringLiteral("high")), d.high);
    }
    rules->forwardBehindMin =
        std::abs(finiteOr(f.value(QStringLiteral("alerts/forwardBehindMin")), 30));

    const NotifySettings n;
    notify->mailServer = f.value(QStringLiteral("notify/mail")).toString().trimmed();
    notify->password = f.value(QStringLiteral("notify/password")).toString();
    notify->from = f.value(QStringLiteral("notify/from")).toString().trimmed();
    notify->to = parseAddresses(f.value(QStringLiteral("notify/to")).toString());
    notify->escalateTo = parseAddresses(f.value(QStringLiteral("notify/escalateTo")).toString());
    notify->webhook = f.value(QStringLiteral("notify/webhook")).toString().trimmed();
    notify->repeatMin = nonNegativeOr(f.value(QStringLiteral("notify/repeatMin")), n.repeatMin);
    notify->escalateMin =
        nonNegativeOr(f.value(QStringLiteral("notify/escalateMin")), n.escalateMin);
    notify->sound = f.value(QStringLiteral("notify/sound"), n.sound).toBool();
}

void saveSettings(QSettings& f, const RuleConfig& rules, const NotifySettings& notify) {
    for (Kind k : kAllKinds) {
        const QString g = QStringLiteral("alerts/%1/").arg(kindKey(k));
        f.setValue(g + QStringLiteral("enabled"), rules.rule(k).enabled);
        f.setValue(g + QStringLiteral("delay"), rules.rule(k).delaySec);
    }
    for (int loop = 0; loop < 2; ++loop) {
        const QString g = QStringLiteral("alerts/band%1/").arg(loop + 1);
        const instrument::ToleranceBand& b = rules.bands[loop];
        f.setValue(g + QStringLiteral("width"), b.plusMinus);
        f.setValue(g + QStringLiteral("hysteresis"), b.hysteresis);
        f.setValue(g + QStringLiteral("fixed"), b.fixed);
        f.setValue(g + QStringLiteral("low"), b.low);
        f.setValue(g + QStringLiteral("high"), b.high);
    }
    f.setValue(QStringLiteral("alerts/forwardBehindMin"), rules.forwardBehindMin);
    f.setValue(QStringLiteral("notify/mail"), notify.mailServer);
    if (notify.password.isEmpty())
        f.remove(QStringLiteral("notify/password"));
    else
        f.setValue(QStringLiteral("notify/password"), notify.password);
    f.setValue(QStringLiteral("notify/from"), notify.from);
    f.setValue(QStringLiteral("notify/to"), notify.to.join(QStringLiteral(", ")));
    f.setValue(QStringLiteral("notify/escalateTo"), notify.escalateTo.join(QStringLiteral(", ")));
    f.setValue(QStringLiteral("notify/webhook"), notify.webhook);
    f.setValue(QStringLiteral("notify/repeatMin"), notify.repeatMin);
    f.setValue(QStringLiteral("notify/escalateMin"), notify.escalateMin);
    f.setValue(QStringLiteral("notify/sound"), notify.sound);
    f.sync();
    // The password is for this user's eyes only.
    QFile::setPermissions(f.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

bool splitMailServer(const QString& url, QString* address, QString* password, QString* error) {
    if (url.trimmed().isEmpty()) {
        address->clear();
        password->clear();
        return true;
    }
    const auto server = parseMailServer(url, error);
    if (!server) return false;
    QUrl u(mailServerUrl(*server));
    if (!server->user.isEmpty()) u.setUserName(server->user);
    *address = u.toString();
    *password = server->password;
    return true;
}

}  // namespace alert
