#include "forward/forward.h"

#include <QDateTime>
#include <QUrl>
#include <QUrlQuery>
#include <charconv>
#include <cmath>

#include "base/oledate.h"

namespace record::forward {

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

// An element of a PostgreSQL array literal, always quoted.
void appendQuoted(QString& out, const QString& v) {
    out += u'"';
    for (QChar c : v) {
        if (c.unicode() == 0) continue;  // the server's text cannot hold NUL
        if (c == u'"' || c == u'\\') out += u'\\';
        out += c;
    }
    out += u'"';
}

void appendFloat(QString& out, float v) {
    if (std::isnan(v)) {
        out += QStringLiteral("NaN");
    } else if (std::isinf(v)) {
        out += v > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    } else {
        // The shortest text that reads back as the same float.
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out += QLatin1String(buf, r.ptr - buf);
    }
}

QString withOffset(const QDateTime& dt) {
    const int off = dt.offsetFromUtc();
    const int a = std::abs(off);
    QString s = dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
    s += off < 0 ? u'-' : u'+';
    s += QStringLiteral("%1:%2")
             .arg(a / 3600, 2, 10, QChar(u'0'))
             .arg(a / 60 % 60, 2, 10, QChar(u'0'));
    if (a % 60) s += QStringLiteral(":%1").arg(a % 60, 2, 10, QChar(u'0'));
    return s;
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

// Samples --------------------------------------------------------------------------------------

RingPlan planSamples(const SampleCursor& cursor, const RingView& ring) {
    const int latest = (ring.counter >= 1 && ring.counter <= kRingSize) ? ring.counter : 0;
    const bool full = ring.oldest.has_value();
    // Everything the ring holds, oldest first.
    auto whole = [&] {
        RingPlan p;
        if (full) {
            p.first = ringStep(latest, 1);
            p.count = kRingSize;
        } else {
            p.first = 1;
            p.count = latest;
        }
        return p;
    };
    if (cursor.id < 1 || cursor.id > kRingSize) return whole();

    if (!ring.atCursor) {
        // The cursor's place is empty: the ring has not come round to it, so nothing newer was
        // lost. Beyond the latest record the file was started afresh.
        if (cursor.id > latest) return whole();
    } else if (ring.atCursor->first != cursor.date || ring.atCursor->second != cursor.time) {
        // The recorder came round and overwrote the cursor's record: the whole ring is newer than
        // what the server has, and what was overwritten before it could be sent is lost to it.
        RingPlan p = whole();
        if (full) {
            const double gap = (*ring.oldest - (cursor.date + cursor.time)) * 86400.0;
            if (std::isfinite(gap) && gap > 1)
                p.skipped = static_cast<int64_t>(std::llround(gap)) - 1;
        }
        return p;
    }
    RingPlan p;
    p.first = ringStep(cursor.id, 1);
    p.count = ((latest - cursor.id) % kRingSize + kRingSize) % kRingSize;
    return p;
}

// Events ---------------------------------------------------------------------------------------

EventPlan planEvents(int64_t cursor, std::optional<int64_t> minId, std::optional<int64_t> maxId) {
    EventPlan p;
    p.after = std::max<int64_t>(cursor, 0);
    if (!maxId || !minId) return p;
    if (*maxId < p.after) {
        p.after = 0;
        return p;
    }
    if (p.after > 0 && *minId > p.after + 1) p.skipped = *minId - p.after - 1;
    return p;
}

// SQL text --------------------------------------------------------------------------------------

QString createSamplesTableSql() {
    QString cols;
    for (const QString& c : schema::valueColumns())
        cols += QStringLiteral(", %1 real").arg(c);
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS velmars_samples (station text, at timestamptz%1, "
               "primary key (station, at))")
        .arg(cols);
}

QString createEventsTableSql() {
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS velmars_events (station text, at timestamptz, kind text, "
        "text text, reg integer, value integer, status integer, "
        "primary key (station, at, kind, text))");
}

// One statement per batch whatever its size: each column goes as one array and unnest() turns
// the arrays back into rows. A batch sent again after a failure adds nothing.
QString insertSamplesSql() {
    QString arrays = QStringLiteral("CAST(? AS timestamptz[])");
    for (int k = 0; k < schema::valueColumns().size(); ++k)
        arrays += QStringLiteral(", CAST(? AS real[])");
    return QStringLiteral(
               "INSERT INTO velmars_samples (station, at, %1) SELECT ?, u.* FROM unnest(%2) AS u "
               "ON CONFLICT DO NOTHING")
        .arg(schema::valueColumns().join(QStringLiteral(", ")), arrays);
}

QString insertEventsSql() {
    return QStringLiteral(
        "INSERT INTO velmars_events (station, at, kind, text, reg, value, status) "
        "SELECT ?, u.* FROM unnest(CAST(? AS timestamptz[]), CAST(? AS text[]), "
        "CAST(? AS text[]), CAST(? AS integer[]), CAST(? AS integer[]), CAST(? AS integer[])) "
        "AS u ON CONFLICT DO NOTHING");
}

QString sampleAt(double oleDate, double oleTime, const QTimeZone& zone) {
    const QDate d = base::dateFromOle(oleDate);
    if (!d.isValid() || !std::isfinite(oleTime)) return {};
    return withOffset(QDateTime(d, base::timeFromOle(oleTime), zone));
}

QString sampleAtUtc(int64_t utcSeconds, const QTimeZone& zone) {
    return withOffset(QDateTime::fromSecsSinceEpoch(utcSeconds, zone));
}

QString eventAt(const QString& localText, const QTimeZone& zone) {
    QDateTime dt =
        QDateTime::fromString(localText.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (!dt.isValid())
        dt = QDateTime::fromString(localText.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!dt.isValid()) return {};
    return withOffset(QDateTime(dt.date(), dt.time(), zone));
}

QStringList sampleArrays(const std::vector<SampleRow>& rows) {
    QStringList cols(11, QStringLiteral("{"));
    for (size_t r = 0; r < rows.size(); ++r) {
        const QString sep = r ? QStringLiteral(",") : QString();
        cols[0] += sep;
        appendQuoted(cols[0], rows[r].at);
        for (int k = 0; k < 10; ++k) {
            cols[k + 1] += sep;
            appendFloat(cols[k + 1], rows[r].values[k]);
        }
    }
    for (QString& c : cols)
        c += u'}';
    return cols;
}

QStringList eventArrays(const std::vector<EventRow>& rows) {
    QStringList cols(6, QStringLiteral("{"));
    auto number = [](QString& out, const std::optional<int>& v) {
        out += v ? QString::number(*v) : QStringLiteral("NULL");
    };
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r)
            for (QString& c : cols)
                c += u',';
        appendQuoted(cols[0], rows[r].at);
        appendQuoted(cols[1], rows[r].kind);
        appendQuoted(cols[2], rows[r].text);
        number(cols[3], rows[r].reg);
        number(cols[4], rows[r].value);
        number(cols[5], rows[r].status);
    }
    for (QString& c : cols)
        c += u'}';
    return cols;
}

// Status ----------------------------------------------------------------------------------------

QString statusText(const Status& s) {
    switch (s.state) {
        case State::Healthy:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "转发: 正常"));
        case State::Waiting:
            return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "转发: 等待服务器 (%1 条待发)"))
                .arg(s.pending);
        case State::Failed:
            break;
    }
    return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "转发: 错误: %1")).arg(s.reason);
}

QString skippedText(int64_t samples, int64_t events, base::Lang lang) {
    if (samples <= 0 && events <= 0) return {};
    if (events <= 0)
        return base::wording(
                   QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录 (服务器恢复前已被覆盖)"), lang)
            .arg(samples);
    return base::wording(
               QT_TRANSLATE_NOOP("velmars", "转发跳过 %1 条记录、%2 条事件 (服务器恢复前已被覆盖)"),
               lang)
        .arg(samples)
        .arg(events);
}

std::optional<QString> eventText(const QString& code, const QStringList& args, base::Lang lang) {
    if (code != kSkippedCode) return std::nullopt;
    return skippedText(args.value(0).toLongLong(), args.value(1).toLongLong(), lang);
}

std::optional<QString> errorReason(const QString& message, const QString& sqlState) {
    const QString m = message.toLower();
    const QString cls = sqlState.left(2);
    if (m.contains(QStringLiteral("password authentication failed")) ||
        m.contains(QStringLiteral("authentication failed")) || cls == u"28")
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "用户名或密码错误"));
    if (m.contains(QStringLiteral("no password supplied")) ||
        m.contains(QStringLiteral("password is required")))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "缺少密码"));
    if (m.contains(QStringLiteral("pg_hba.conf")))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器不接受本机的连接"));
    if (sqlState == u"3D000" ||
        (m.contains(QStringLiteral("database")) && m.contains(QStringLiteral("does not exist"))))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "数据库不存在"));
    if (m.contains(QStringLiteral("role")) && m.contains(QStringLiteral("does not exist")))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "用户不存在"));
    if (sqlState == u"42501" || m.contains(QStringLiteral("permission denied")))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "没有写入服务器表的权限"));
    if (m.contains(QStringLiteral("invalid connection option")) ||
        m.contains(QStringLiteral("invalid sslmode")) ||
        m.contains(QStringLiteral("invalid value")))
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "连接参数无效"));
    // Connection trouble (08), the server going down or starting up (57), lack of resources (53),
    // a transaction rolled back (40): the server is waited for.
    if (sqlState.isEmpty() || cls == u"08" || cls == u"57" || cls == u"53" || cls == u"40")
        return std::nullopt;
    if (cls == u"42")
        return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器上的表结构不符 (%1)"))
            .arg(sqlState);
    return QStringLiteral(QT_TRANSLATE_NOOP("velmars", "服务器拒绝写入 (%1)")).arg(sqlState);
}

int retryDelayMs(int failures) {
    return static_cast<int>(kRetry.delayMs(failures));
}

}  // namespace record::forward
