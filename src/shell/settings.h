#pragma once
// The settings file in the platform's configuration folder, one per profile, where the command
// line's settings are kept so that an operator's PC goes on as it was set after a restart.

#include <QSettings>
#include <memory>

namespace shell {

// The profile this run uses (--profile NAME): a settings file and a default database of its own,
// so that several programs, one per chamber, run side by side. Empty: the default profile.
void setProfile(const QString& name);
QString profile();

// The program's settings file: velmars.ini, or velmars-NAME.ini for a profile.
std::unique_ptr<QSettings> settingsFile();
// The settings file of a profile, or of the chamber of that name; velmars.ini for none.
std::unique_ptr<QSettings> settingsFileFor(const QString& profile);

}  // namespace shell
