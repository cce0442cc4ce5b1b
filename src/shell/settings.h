#pragma once
// The settings file in the platform's configuration folder, and the settings the command line
// keeps there so that an operator's PC goes on as it was set after a restart.

#include <QSettings>
#include <memory>
#include <optional>

#include "record/retention.h"

namespace shell {

// The program's settings file.
std::unique_ptr<QSettings> settingsFile();

// How long the archive keeps samples: --keep-days and --keep-free-gb when given (and then kept in
// the settings file), else what the file says, else every sample while more than 1 GB is free.
record::RetentionPolicy readRetentionSetting(const std::optional<int>& keepDays,
                                             const std::optional<double>& keepFreeGb);

}  // namespace shell
