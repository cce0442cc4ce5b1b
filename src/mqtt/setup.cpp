#include "mqtt/setup.h"

#include <QFile>

#include "mqtt/topics.h"

namespace mqtt {

std::optional<Config> configure(QSettings& settings, const Given& given,
                                const QString& defaultStation) {
    if (given.url) settings.setValue(key::kUrl, given.url->trimmed());
    if (given.prefix) settings.setValue(key::kPrefix, *given.prefix);
    if (given.discovery) settings.setValue(key::kDiscovery, *given.discovery);
    if (given.user) settings.setValue(key::kUser, *given.user);
    if (given.password) settings.setValue(key::kPassword, *given.password);
    settings.sync();
    // The password is for this user's eyes only.
    if (settings.contains(key::kPassword))
        QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);

    const auto broker = parseBroker(settings.value(key::kUrl).toString());
    if (!broker) return std::nullopt;
    Config c;
    c.client.broker = *broker;
    c.client.user = settings.value(key::kUser).toString();
    c.client.password = settings.value(key::kPassword).toString();
    c.client.caFile = settings.value(key::kCaFile).toString();
    const QString prefix = settings.value(key::kPrefix).toString();
    // A prefix edited into the file by hand that topics cannot carry falls back to the default.
    if (!prefix.isEmpty() && prefixProblem(prefix).isEmpty()) c.prefix = prefix;
    c.discovery = settings.value(key::kDiscovery, false).toBool();
    c.station = settings.value(key::kStation).toString().trimmed();
    if (c.station.isEmpty()) c.station = defaultStation;
    return c;
}

}  // namespace mqtt
