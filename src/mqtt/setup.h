#pragma once
// The publisher's settings, kept in the program's settings file under [mqtt]: the broker's
// address, the prefix, discovery, the user and password (never given on the command line), the
// certificate authorities for TLS and the station's name in the topics.

#include <QSettings>
#include <QString>
#include <optional>

#include "mqtt/config.h"

namespace mqtt {

struct Given {
    std::optional<QString> url;  // empty: off
    std::optional<QString> prefix;
    std::optional<bool> discovery;
    // From standard input (--mqtt-login).
    std::optional<QString> user;
    std::optional<QString> password;
};

namespace key {
inline const QString kUrl = QStringLiteral("mqtt/url");
inline const QString kPrefix = QStringLiteral("mqtt/prefix");
inline const QString kDiscovery = QStringLiteral("mqtt/discovery");
inline const QString kUser = QStringLiteral("mqtt/user");
inline const QString kPassword = QStringLiteral("mqtt/password");
inline const QString kCaFile = QStringLiteral("mqtt/ca_file");
inline const QString kStation = QStringLiteral("mqtt/station");
}  // namespace key

// Keeps what was given in the settings and reads the whole setting back: the publisher's
// configuration, or nothing while no broker is named (or the one named cannot be used).
// defaultStation names the station when the settings name none (the host's name).
std::optional<Config> configure(QSettings& settings, const Given& given,
                                const QString& defaultStation);

}  // namespace mqtt
