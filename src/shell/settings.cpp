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
    const QString file = profileName().isEmpty() ? QStringLiteral("velmars")
                                                 : QStringLiteral("velmars-") + profileName();
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("velmars"), file);
}

}  // namespace shell
