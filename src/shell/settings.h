#pragma once
// The settings file in the platform's configuration folder, and the settings the command line
// keeps there so that an operator's PC goes on as it was set after a restart.

#include <QSettings>
#include <memory>
#include <optional>

#include "store/retention.h"

namespace shell {

// The profile this run uses (--profile NAME): a settings file and a default database of its own,
// so that several programs, one per chamber, run side by side. Empty: the default profile.
void setProfile(const QString& name);
QString profile();

// The program's settings file: velmars.ini, or velmars-NAME.ini for a profile.
std::unique_ptr<QSettings> settingsFile();

// How long the archive keeps samples: --keep-days and --keep-free-gb when given (and then kept in
// the settings file), else what the file says, else every sample while more than 1 GB is free.
record::RetentionPolicy readRetentionSetting(const std::optional<int>& keepDays,
                                             const std::optional<double>& keepFreeGb);

}  // namespace shell
