#include "shell/settings.h"

#include "chamber/settings.h"

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
    return chamber::settingsFileFor(profile);
}

}  // namespace shell
