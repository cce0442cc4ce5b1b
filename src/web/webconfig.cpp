#include "web/webconfig.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace web {

namespace {
constexpr auto kGroup = "web";
constexpr auto kTokens = "web-tokens";
}  // namespace

bool isLoopback(const QString& address) {
    QHostAddress a;
    return a.setAddress(address) && a.protocol() == QAbstractSocket::IPv4Protocol && a.isLoopback();
}

bool Listen::loopback() const {
    return isLoopback(address);
}

std::optional<Listen> parseListen(const QString& text, QString* error) {
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return std::nullopt;
    };
    Listen l;
    QString portText = text.trimmed();
    const qsizetype colon = portText.lastIndexOf(u':');
    if (colon >= 0) {
        QString address = portText.left(colon);
        portText = portText.mid(colon + 1);
        if (address == u"localhost") address = QStringLiteral("127.0.0.1");
        QHostAddress a;
        static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
        if (!dotted.match(address).hasMatch() || !a.setAddress(address) ||
            a.protocol() != QAbstractSocket::IPv4Protocol)
            return fail(QStringLiteral("an IPv4 address or localhost before the port"));
        l.address = a.toString();
    }
    bool ok = false;
    const int port = portText.toInt(&ok);
    if (!ok || port < 1 || port > 65535) return fail(QStringLiteral("a port from 1 to 65535"));
    l.port = port;
    return l;
}

QString urlOf(const Listen& l, int port) {
    return QStringLiteral("%1://%2:%3/")
        .arg(l.tls() ? QStringLiteral("https") : QStringLiteral("http"), l.address)
        .arg(port);
}

Listen readListen(QSettings& s) {
    Listen l;
    s.beginGroup(QLatin1String(kGroup));
    l.address = s.value(QStringLiteral("address"), l.address).toString();
    l.port = s.value(QStringLiteral("port"), 0).toInt();
    l.tlsCert = s.value(QStringLiteral("tlsCert")).toString();
    l.tlsKey = s.value(QStringLiteral("tlsKey")).toString();
    s.endGroup();
    // A file edited by hand to serve beyond this computer without TLS stays off.
    QString ignored;
    if (l.port < 0 || l.port > 65535 ||
        !parseListen(QStringLiteral("%1:1").arg(l.address), &ignored) ||
        (!l.loopback() && !l.tls()))
        l.port = 0;
    return l;
}

void writeListen(QSettings& s, const Listen& l) {
    s.beginGroup(QLatin1String(kGroup));
    s.setValue(QStringLiteral("address"), l.address);
    s.setValue(QStringLiteral("port"), l.port);
    s.setValue(QStringLiteral("tlsCert"), l.tlsCert);
    s.setValue(QStringLiteral("tlsKey"), l.tlsKey);
    s.endGroup();
    s.sync();
}

QByteArray tokenHash(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
}

bool validTokenName(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_.-]{1,40}$"));
    return re.match(name).hasMatch();
}

QString makeToken(QSettings& s, const QString& name) {
    if (!validTokenName(name)) return {};
    QByteArray raw(32, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                         reinterpret_cast<quint32*>(raw.data() + raw.size()));
    const QByteArray token =
        "vmt_" + raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    s.beginGroup(QLatin1String(kTokens));
    s.setValue(name, QString::fromLatin1(tokenHash(token)));
    s.endGroup();
    s.sync();
    return QString::fromLatin1(token);
}

bool revokeToken(QSettings& s, const QString& name) {
    s.beginGroup(QLatin1String(kTokens));
    const bool had = s.contains(name);
    s.remove(name);
    s.endGroup();
    s.sync();
    return had;
}

QMap<QString, QByteArray> readTokens(QSettings& s) {
    QMap<QString, QByteArray> out;
    s.beginGroup(QLatin1String(kTokens));
    for (const QString& k : s.childKeys())
        out.insert(k, s.value(k).toString().toLatin1());
    s.endGroup();
    return out;
}

}  // namespace web
