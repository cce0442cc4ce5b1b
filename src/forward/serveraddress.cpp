#include "forward/serveraddress.h"

#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace forward {

namespace {

// Sets a field of the target from a libpq keyword; any other keyword is kept as a parameter.
bool setKeyword(Target& t, const QString& key, const QString& value, QString* error) {
    if (key == u"host") {
        t.host = value;
    } else if (key == u"port") {
        bool ok = false;
        const int p = value.toInt(&ok);
        if (!ok || p < 1 || p > 65535) {
            *error = QStringLiteral("--forward: port '%1' is not a number from 1 to 65535")
                         .arg(value.left(40));
            return false;
        }
        t.port = p;
    } else if (key == u"dbname") {
        t.dbname = value;
    } else if (key == u"user") {
        t.user = value;
    } else if (key == u"password") {
        t.password = value;
    } else {
        // Qt's driver joins its options with ';', so a value holding one cannot be passed on.
        if (key.isEmpty() || value.contains(u';')) {
            *error = QStringLiteral("--forward: parameter '%1' cannot be used").arg(key.left(40));
            return false;
        }
        t.params.append({key, value});
    }
    return true;
}

std::optional<Target> parseUri(const QString& text, QString* error) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        *error = QStringLiteral("--forward: not a valid postgresql:// address");
        return std::nullopt;
    }
    Target t;
    if (url.host().contains(u',')) {
        *error = QStringLiteral("--forward: only one server host is supported");
        return std::nullopt;
    }
    t.host = url.host(QUrl::FullyDecoded);
    t.port = url.port(-1);
    t.user = url.userName(QUrl::FullyDecoded);
    t.password = url.password(QUrl::FullyDecoded);
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(u'/')) path.remove(0, 1);
    t.dbname = path;
    const QUrlQuery query(url);
    for (const auto& [k, v] : query.queryItems(QUrl::FullyDecoded)) {
        if (!setKeyword(t, k, v, error)) return std::nullopt;
    }
    return t;
}

// libpq's keyword form: key = value pairs, values bare or in single quotes with \' and \\.
std::optional<Target> parseKeywords(const QString& text, QString* error) {
    Target t;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    bool any = false;
    while (true) {
        skipBlanks();
        if (i >= n) break;
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != u'=' && !text.at(i).isSpace())
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        skipBlanks();
        if (i >= n || text.at(i) != u'=') {
            *error = QStringLiteral("--forward: expected key=value, got '%1'").arg(key.left(40));
            return std::nullopt;
        }
        ++i;
        skipBlanks();
        QString value;
        if (i < n && text.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < n) {
                    value += text.at(i++);
                } else if (c == u'\'') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) {
                *error = QStringLiteral("--forward: unterminated quoted value of '%1'")
                             .arg(key.left(40));
                return std::nullopt;
            }
        } else {
            while (i < n && !text.at(i).isSpace()) {
                if (text.at(i) == u'\\' && i + 1 < n) ++i;
                value += text.at(i++);
            }
        }
        if (!setKeyword(t, key, value, error)) return std::nullopt;
        any = true;
    }
    if (!any) {
        *error = QStringLiteral("--forward expects a server address");
        return std::nullopt;
    }
    return t;
}

// A value in libpq's keyword form, quoted when it has to be.
QString keywordValue(const QString& v) {
    if (!v.isEmpty() && !v.contains(u' ') && !v.contains(u'\'') && !v.contains(u'\\')) return v;
    QString out = QStringLiteral("'");
    for (QChar c : v) {
        if (c == u'\'' || c == u'\\') out += u'\\';
        out += c;
    }
    return out + u'\'';
}

}  // namespace

std::optional<Target> parseTarget(const QString& url, QString* error) {
    const QString text = url.trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("--forward expects a server address");
        return std::nullopt;
    }
    if (text.startsWith(QStringLiteral("postgresql://")) ||
        text.startsWith(QStringLiteral("postgres://")))
        return parseUri(text, error);
    if (!text.contains(u'=')) {
        *error = QStringLiteral(
            "--forward expects postgresql://user@host:port/dbname or 'host=... dbname=...'");
        return std::nullopt;
    }
    return parseKeywords(text, error);
}

QString connectOptions(const Target& t) {
    QStringList opts;
    auto has = [&](const char* key) {
        for (const auto& p : t.params)
            if (p.first == QLatin1String(key)) return true;
        return false;
    };
    for (const auto& [k, v] : t.params)
        opts << k + u'=' + keywordValue(v);
    // A silent host is given up after a few seconds; a connection whose peer vanished is noticed
    // by keepalives and a limit on unacknowledged data.
    const std::pair<const char*, const char*> defaults[] = {
        {"connect_timeout", "5"},  {"keepalives_idle", "5"},      {"keepalives_interval", "2"},
        {"keepalives_count", "3"}, {"tcp_user_timeout", "10000"}, {"application_name", "velmars"},
    };
    for (const auto& [k, v] : defaults)
        if (!has(k)) opts << QLatin1String(k) + u'=' + QLatin1String(v);
    return opts.join(u';');
}

QString describe(const Target& t) {
    QString s;
    if (!t.user.isEmpty()) s += t.user + u'@';
    s += t.host.isEmpty() ? QStringLiteral("localhost") : t.host;
    if (t.port > 0) s += u':' + QString::number(t.port);
    s += u'/' + t.dbname;
    return s;
}

}  // namespace forward
