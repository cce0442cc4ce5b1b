#include "alert/message.h"
#include "base/tr.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace alert {

std::optional<MailServer> parseMailServer(const QString& url, QString* error) {
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != u"smtp" && scheme != u"smtps") || u.host().isEmpty() ||
        (!u.path().isEmpty() && u.path() != u"/")) {
        if (error) *error = QStringLiteral("expected smtp://[user[:password]@]host[:port]");
        return std::nullopt;
    }
    MailServer s;
    s.tls = scheme == u"smtps";
    s.host = u.host();
    s.port = u.port(s.tls ? 465 : 25);
    s.user = u.userName(QUrl::FullyDecoded);
    s.password = u.password(QUrl::FullyDecoded);
    return s;
}

QString mailServerUrl(const MailServer& s) {
    QUrl u;
    u.setScheme(s.tls ? QStringLiteral("smtps") : QStringLiteral("smtp"));
    u.setHost(s.host);
    u.setPort(s.port);
    return u.toString();
}

QStringList parseAddresses(const QString& text, QString* bad) {
    static const QRegularExpression address(QStringLiteral("^[^@\\s<>,;]+@[^@\\s<>,;]+$"));
    QStringList out;
    for (const QString& part :
         text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        if (!address.match(part).hasMatch()) {
            if (bad && bad->isEmpty()) *bad = part;
            continue;
        }
        out << part;
    }
    return out;
}

QString eventKey(Event e) {
    switch (e) {
        case Event::Fired:
            return QStringLiteral("fired");
        case Event::Cleared:
            return QStringLiteral("cleared");
        case Event::Acknowledged:
            return QStringLiteral("acknowledged");
        case Event::Repeated:
            return QStringLiteral("repeated");
        case Event::Escalated:
            return QStringLiteral("escalated");
        case Event::Test:
            return QStringLiteral("test");
    }
    return QString();
}

namespace {

// What happened, in Chinese as kept; eventWord() in the chosen language.
QString eventSource(Event e) {
    switch (e) {
        case Event::Fired:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "报警"));
        case Event::Cleared:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "恢复正常"));
        case Event::Acknowledged:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "已确认"));
        case Event::Repeated:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "报警未确认"));
        case Event::Escalated:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "报警升级"));
        case Event::Test:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "测试"));
    }
    return QString();
}

QString eventWord(Event e) {
    return base::shown(eventSource(e));
}

QString timeText(const QDateTime& at) {
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

QString mailSubject(const Notice& n) {
    if (n.event == Event::Test) return base::Tr::tr("[%1] 测试通知").arg(n.station);
    return base::Tr::tr("[%1] %2：%3")
        .arg(n.station, eventWord(n.event), base::shown(kindTitle(n.kind)));
}

QString logLine(const Notice& n) {
    if (n.event == Event::Test) return eventSource(n.event);
    return QStringLiteral("%1（%2）").arg(kindTitle(n.kind), eventSource(n.event));
}

QString mailBody(const Notice& n) {
    QStringList lines;
    lines << base::Tr::tr("站点：%1").arg(n.station)
          << base::Tr::tr("试验箱地址：%1").arg(n.address);
    if (n.event == Event::Test) {
        lines << base::Tr::tr("这是一条测试通知，收到即说明报警通知可以送达。")
              << base::Tr::tr("时间：%1").arg(timeText(n.at));
        return lines.join(u'\n') + u'\n';
    }
    lines << base::Tr::tr("报警：%1（%2）").arg(base::shown(kindTitle(n.kind)), eventWord(n.event))
          << base::Tr::tr("数值：%1")
                 .arg(n.valueText.isEmpty() ? QStringLiteral("—")
                                            : n.valueText.text(base::Lang::Shown))
          << base::Tr::tr("时间：%1").arg(timeText(n.at));
    if (!n.comment.isEmpty()) lines << base::Tr::tr("说明：%1").arg(n.comment);
    if (n.event == Event::Cleared && n.acknowledged)
        lines << base::Tr::tr("处理：已恢复正常，报警已确认。");
    else if (n.event == Event::Cleared)
        lines << base::Tr::tr("处理：已恢复正常，请在报警栏确认。");
    else if (n.event != Event::Acknowledged)
        lines << base::Tr::tr("处理：%1").arg(base::shown(kindAdvice(n.kind)));
    lines << base::Tr::tr("编号：%1").arg(n.alertId);
    return lines.join(u'\n') + u'\n';
}

namespace {

// An RFC 2047 encoded word for a header that may hold any text.
QByteArray encodedWord(const QString& text) {
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

// A header line that holds no line break, whatever the settings say.
QByteArray headerAddress(const QString& a) {
    QString s = a;
    s.remove(u'\r');
    s.remove(u'\n');
    return s.toUtf8();
}

}  // namespace

QByteArray mailMessage(const QString& from, const QStringList& to, const QString& subject,
                       const QString& body, const QDateTime& date) {
    QByteArray m;
    QStringList toLine;
    for (const QString& a : to)
        toLine << QString::fromUtf8(headerAddress(a));
    m += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    m += "From: " + headerAddress(from) + "\r\n";
    m += "To: " + toLine.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    m += "Subject: " + encodedWord(subject) + "\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\n";
    m += "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray b64 = body.toUtf8().toBase64();
    for (qsizetype i = 0; i < b64.size(); i += 76)
        m += b64.mid(i, 76) + "\r\n";
    return m;
}

QByteArray webhookJson(const Notice& n) {
    QJsonObject o;
    o.insert(QStringLiteral("station"), n.station);
    o.insert(QStringLiteral("address"), n.address);
    o.insert(QStringLiteral("alert"), n.alertId);
    o.insert(QStringLiteral("kind"),
             n.event == Event::Test ? QStringLiteral("test") : kindKey(n.kind));
    o.insert(QStringLiteral("text"), n.event == Event::Test ? mailSubject(n) : kindTitle(n.kind));
    o.insert(QStringLiteral("value"), n.value ? QJsonValue(*n.value) : QJsonValue());
    o.insert(QStringLiteral("valueText"), n.valueText.text(base::Lang::Stored));
    o.insert(QStringLiteral("time"),
             n.at.toOffsetFromUtc(n.at.offsetFromUtc()).toString(Qt::ISODate));
    o.insert(QStringLiteral("state"), eventKey(n.event));
    if (!n.comment.isEmpty()) o.insert(QStringLiteral("comment"), n.comment);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

qint64 retryDelayMs(int attempts) {
    // Called after a failed attempt; the first pause is also the shortest.
    return kRetry.delayMs(std::max(attempts, 1));
}

}  // namespace alert
