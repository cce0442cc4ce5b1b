#pragma once
// What forwarding is started from: where the settings file says to forward to.

#include <QString>
#include <functional>
#include <optional>

class QSettings;

namespace forward {

struct Setting {
    QString url;
    QString station;
};

// The server and station from the program's settings file, after the command line's --forward
// and --station are kept there (an empty URL turns forwarding off), so that an operator's PC goes
// on forwarding after a restart. A station not yet named takes defaultStation() and keeps it, so
// that its history on the server stays under one name. nullopt when no server is named.
std::optional<Setting> readSetting(QSettings& settings, const std::optional<QString>& url,
                                   const std::optional<QString>& station,
                                   const std::function<QString()>& defaultStation);

// The station's name as the settings file keeps it; empty when none was named yet.
QString keptStationName(const QSettings& settings);

}  // namespace forward
