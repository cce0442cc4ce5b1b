#include "mqtt/topics.h"

#include <QByteArray>
#include <QStringList>

namespace mqtt {

QString topicLevel(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("_");
    QString out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'+' || u == u'#' || u == u'/' || u == u'%' || u < 0x20 || u == 0x7f)
            out += QStringLiteral("%%1").arg(int(u), 2, 16, QChar(u'0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString statusTopic(const QString& prefix, const QString& station) {
    return prefix + u'/' + topicLevel(station) + QStringLiteral("/status");
}

QString chamberTopic(const QString& prefix, const QString& station, const QString& chamber,
                     const QString& leaf) {
    return prefix + u'/' + topicLevel(station) + u'/' + topicLevel(chamber) + u'/' + leaf;
}

QString prefixProblem(const QString& prefix) {
    if (prefix.isEmpty()) return QStringLiteral("expects a prefix");
    if (prefix.startsWith(u'$')) return QStringLiteral("a prefix cannot begin with '$'");
    if (prefix.contains(u'+') || prefix.contains(u'#'))
        return QStringLiteral("a prefix cannot hold '+' or '#'");
    for (const QString& level : prefix.split(u'/'))
        if (level.isEmpty()) return QStringLiteral("a prefix cannot have an empty level");
    for (const QChar c : prefix)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("a prefix cannot hold control characters");
    return {};
}

QString discoveryId(const QString& name) {
    QString out;
    for (const char b : name.toUtf8()) {
        const auto u = static_cast<unsigned char>(b);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-')
            out += QChar(u);
        else
            out += QStringLiteral("_%1").arg(int(u), 2, 16, QChar(u'0'));
    }
    return out;
}

}  // namespace mqtt
