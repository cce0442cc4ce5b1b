#include "mqtt/address.h"

#include <QUrl>

namespace mqtt {

QString Broker::url() const {
    const QString shownHost = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1://%2:%3")
        .arg(tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), shownHost)
        .arg(port);
}

std::optional<Broker> parseBroker(const QString& text, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<Broker> {
        if (error) *error = why;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    const QUrl u(t, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != u"mqtt" && scheme != u"mqtts") || u.host().isEmpty())
        return fail(QStringLiteral("expects mqtt://HOST[:PORT] or mqtts://HOST[:PORT]"));
    // A password on the command line would be seen by every user of the machine.
    if (!u.userInfo().isEmpty())
        return fail(
            QStringLiteral("the user and password come from the settings file or "
                           "standard input (--mqtt-login), never from the address"));
    if ((!u.path().isEmpty() && u.path() != u"/") || u.hasQuery() || u.hasFragment())
        return fail(QStringLiteral("expects no path after HOST[:PORT]"));
    Broker b;
    b.tls = scheme == u"mqtts";
    b.host = u.host();
    const int port = u.port(b.tls ? 8883 : 1883);
    if (port < 1 || port > 65535) return fail(QStringLiteral("expects a PORT from 1 to 65535"));
    b.port = port;
    return b;
}

}  // namespace mqtt
