#include "shell/settings.h"

#include <cmath>

namespace shell {

namespace {
QString& profileName() {
    static QString name;
    return name;
}
}  // namespace

void setProfile(const QString& name) {
    profileName() = name;
}

QString profile() {
    return profileName();
}

std::unique_ptr<QSettings> settingsFile() {
    const QString file = profileName().isEmpty() ? QStringLiteral("velmars")
                                                 : QStringLiteral("velmars-") + profileName();
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("velmars"), file);
}

record::RetentionPolicy readRetentionSetting(const std::optional<int>& keepDays,
                                             const std::optional<double>& keepFreeGb) {
    const auto settings = settingsFile();
    const QString daysKey = QStringLiteral("archive/keepDays");
    const QString freeKey = QStringLiteral("archive/keepFreeGB");
    if (keepDays) settings->setValue(daysKey, *keepDays);
    if (keepFreeGb) settings->setValue(freeKey, *keepFreeGb);
    record::RetentionPolicy policy;
    bool ok = false;
    // A hand-edited value that is no number, or out of range, counts as not set.
    const int days = settings->value(daysKey).toInt(&ok);
    if (ok && days >= 0) policy.keepDays = days;
    const double gb = settings->value(freeKey).toDouble(&ok);
    if (ok && std::isfinite(gb) && gb >= 0 && gb <= 1e6)
        policy.minFreeBytes = static_cast<int64_t>(gb * (1 << 30));
    return policy;
}

}  // namespace shell
