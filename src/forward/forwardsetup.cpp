#include "forward/forwardsetup.h"

#include <QFile>
#include <QSettings>

namespace forward {

namespace {
const QString kStationKey = QStringLiteral("forward/station");
}

QString keptStationName(const QSettings& settings) {
    return settings.value(kStationKey).toString().trimmed();
}

std::optional<Setting> readSetting(QSettings& settings, const std::optional<QString>& url,
                                   const std::optional<QString>& station,
                                   const std::function<QString()>& defaultStation) {
    const QString urlKey = QStringLiteral("forward/url");
    const QString& stationKey = kStationKey;
    if (url) {
        if (url->isEmpty())
            settings.remove(urlKey);
        else
            settings.setValue(urlKey, *url);
    }
    if (station) settings.setValue(stationKey, *station);
    Setting s;
    s.url = settings.value(urlKey).toString().trimmed();
    if (s.url.isEmpty()) return std::nullopt;
    s.station = settings.value(stationKey).toString().trimmed();
    if (s.station.isEmpty()) {
        s.station = defaultStation();
        settings.setValue(stationKey, s.station);
    }
    settings.sync();
    // The address may hold a password: the file is for this user's eyes only.
    QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    return s;
}

}  // namespace forward
