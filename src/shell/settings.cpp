#include "shell/settings.h"

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
    return settingsFileFor(profileName());
}

std::unique_ptr<QSettings> settingsFileFor(const QString& profile) {
    const QString file =
        profile.isEmpty() ? QStringLiteral("velmars") : QStringLiteral("velmars-") + profile;
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("velmars"), file);
}

}  // namespace shell
