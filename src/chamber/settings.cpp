#include "chamber/settings.h"

#include <QFile>
#include <QUrl>
#include <cmath>

#include "alert/alertsettings.h"
#include "chamber/chamber.h"

namespace chamber {

namespace {

const QString kDaysKey = QStringLiteral("archive/keepDays");
const QString kFreeKey = QStringLiteral("archive/keepFreeGB");
const QString kAuditDaysKey = QStringLiteral("archive/keepAuditDays");
const QString kUrlKey = QStringLiteral("forward/url");
const QString kStationKey = QStringLiteral("forward/station");

// A hand-edited value that is no number, or out of range, counts as not set.
std::optional<int> days(const QVariant& v) {
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok && n >= 0 ? std::optional(n) : std::nullopt;
}

std::optional<double> gigabytes(const QVariant& v) {
    bool ok = false;
    const double gb = v.toDouble(&ok);
    return ok && std::isfinite(gb) && gb >= 0 && gb <= 1e6 ? std::optional(gb) : std::nullopt;
}

template <class T>
void put(QSettings& file, const QString& key, const std::optional<T>& value) {
    if (value)
        file.setValue(key, *value);
    else
        file.remove(key);
}

void put(QSettings& file, const QString& key, const QString& value) {
    if (value.isEmpty())
        file.remove(key);
    else
        file.setValue(key, value);
}

template <class T>
QString text(const std::optional<T>& v) {
    return v ? QString::number(*v) : QString();
}

// An address as the audit trail keeps it: without a password.
QString address(const QString& url) {
    QUrl u(url);
    if (u.password().isEmpty()) return url;
    u.setPassword(QString());
    return u.toString();
}

// A mail server as the audit trail keeps it: as given, without its password, and without the port
// its kind of server has unless told.
QString mailAddress(const QString& url) {
    QUrl u(address(url));
    const int usual = u.scheme() == u"smtps" ? 465 : 25;
    if (u.port() == usual) u.setPort(-1);
    return u.toString();
}

bool sameRetention(const Settings& a, const Settings& b) {
    return a.keepDays == b.keepDays && a.keepFreeGb == b.keepFreeGb &&
           a.keepAuditDays == b.keepAuditDays;
}

bool sameForwarding(const Settings& a, const Settings& b) {
    return a.forwardUrl == b.forwardUrl && a.station == b.station;
}

bool sameAlerts(const Settings& a, const Settings& b) {
    for (alert::Kind k : alert::kAllKinds)
        if (a.rules.rule(k).enabled != b.rules.rule(k).enabled ||
            a.rules.rule(k).delaySec != b.rules.rule(k).delaySec)
            return false;
    for (int loop = 0; loop < 2; ++loop) {
        const instrument::ToleranceBand& x = a.rules.bands[loop];
        const instrument::ToleranceBand& y = b.rules.bands[loop];
        if (x.plusMinus != y.plusMinus || x.hysteresis != y.hysteresis || x.fixed != y.fixed ||
            x.low != y.low || x.high != y.high)
            return false;
    }
    const alert::NotifySettings& m = a.notify;
    const alert::NotifySettings& n = b.notify;
    return a.rules.forwardBehindMin == b.rules.forwardBehindMin && m.mailServer == n.mailServer &&
           m.password == n.password && m.from == n.from && m.to == n.to &&
           m.escalateTo == n.escalateTo && m.webhook == n.webhook && m.repeatMin == n.repeatMin &&
           m.escalateMin == n.escalateMin && m.sound == n.sound;
}

}  // namespace

Settings Settings::load(QSettings& file) {
    Settings s;
    s.keepDays = days(file.value(kDaysKey));
    s.keepFreeGb = gigabytes(file.value(kFreeKey));
    s.keepAuditDays = days(file.value(kAuditDaysKey));
    s.forwardUrl = file.value(kUrlKey).toString().trimmed();
    s.station = file.value(kStationKey).toString().trimmed();
    alert::loadSettings(file, &s.rules, &s.notify);
    return s;
}

void Settings::save(QSettings& file, const Settings* since) const {
    if (!since || !sameRetention(*this, *since)) {
        put(file, kDaysKey, keepDays);
        put(file, kFreeKey, keepFreeGb);
        put(file, kAuditDaysKey, keepAuditDays);
    }
    if (!since || !sameForwarding(*this, *since)) {
        put(file, kUrlKey, forwardUrl);
        put(file, kStationKey, station);
    }
    if (!since || !sameAlerts(*this, *since)) alert::saveSettings(file, rules, notify);
    file.sync();
    // An address may hold a password: the file is for this user's eyes only.
    if (QFile::exists(file.fileName()))
        QFile::setPermissions(file.fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

Settings Settings::with(const Given& given) const {
    Settings s = *this;
    if (given.keepDays) s.keepDays = *given.keepDays;
    if (given.keepFreeGb) s.keepFreeGb = *given.keepFreeGb;
    // An empty address turns forwarding off.
    if (given.forwardUrl) s.forwardUrl = given.forwardUrl->trimmed();
    if (given.station) s.station = given.station->trimmed();
    const alert::NotifyOptions& n = given.notify;
    if (n.mail) {
        QString why;
        // Checked on the command line already; a password in the address is kept apart.
        alert::splitMailServer(*n.mail, &s.notify.mailServer, &s.notify.password, &why);
    }
    if (n.from) s.notify.from = *n.from;
    if (n.to) s.notify.to = *n.to;
    if (n.webhook) s.notify.webhook = *n.webhook;
    if (n.silentAfter) s.rules.rule(alert::Kind::Silent).delaySec = *n.silentAfter;
    return s;
}

store::RetentionPolicy Settings::retention() const {
    // Every sample while more than 1 GB is free unless the file says otherwise.
    store::RetentionPolicy policy;
    if (keepDays) policy.keepDays = *keepDays;
    if (keepFreeGb) policy.minFreeBytes = static_cast<int64_t>(*keepFreeGb * (1 << 30));
    if (keepAuditDays) policy.keepAuditDays = *keepAuditDays;
    return policy;
}

QList<SettingChange> difference(const Settings& before, const Settings& after, const Given* given) {
    QList<SettingChange> out;
    // An option the command line gave is listed though it changed nothing: the audit trail keeps
    // what was asked for.
    const auto add = [&](const char* option, bool asked, const QString& was, const QString& is) {
        if (asked || was != is) out.append({QString::fromLatin1(option), was, is});
    };
    const alert::NotifyOptions none;
    const alert::NotifyOptions& n = given ? given->notify : none;
    add("--keep-days", given && given->keepDays, text(before.keepDays), text(after.keepDays));
    add("--keep-free-gb", given && given->keepFreeGb, text(before.keepFreeGb),
        text(after.keepFreeGb));
    add("--forward", given && given->forwardUrl, address(before.forwardUrl),
        address(after.forwardUrl));
    add("--station", given && given->station, before.station, after.station);
    const alert::NotifySettings& was = before.notify;
    const alert::NotifySettings& is = after.notify;
    // A new password alone is a change too, though neither side shows it.
    add("--notify-mail", n.mail.has_value() || was.password != is.password,
        mailAddress(was.mailServer), mailAddress(is.mailServer));
    add("--notify-from", n.from.has_value(), was.from, is.from);
    add("--notify-to", n.to.has_value(), was.to.join(u','), is.to.join(u','));
    add("--notify-webhook", n.webhook.has_value(), was.webhook, is.webhook);
    add("--notify-silent-after", n.silentAfter.has_value(),
        QString::number(before.rules.rule(alert::Kind::Silent).delaySec),
        QString::number(after.rules.rule(alert::Kind::Silent).delaySec));
    return out;
}

QList<SettingChange> mergeGiven(QSettings& file, const Given& given) {
    const Settings before = Settings::load(file);
    const Settings after = before.with(given);
    if (!difference(before, after).isEmpty()) after.save(file, &before);
    return difference(before, after, &given);
}

std::unique_ptr<QSettings> settingsFileFor(const QString& name) {
    const QString file =
        name.isEmpty() ? QStringLiteral("velmars") : QStringLiteral("velmars-") + name;
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("velmars"), file);
}

}  // namespace chamber
