#include "forward/serversql.h"

#include <QDateTime>
#include <charconv>
#include <cmath>

#include "base/oledate.h"
#include "store/schema.h"

namespace forward {

namespace {

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

QString createSamplesTableSql() {
    QString cols;
    for (const QString& c : store::schema::valueColumns())
        cols += QStringLiteral(", %1 real").arg(c);
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS velmars_samples (station text, at timestamptz%1, "
               "primary key (station, at))")
        .arg(cols);
}

QString createEventsTableSql() {
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS velmars_events (station text, at timestamptz, kind text, "
        "text text, reg integer, value integer, status integer, code text, args jsonb, "
        "primary key (station, at, kind, text))");
}

QString countEventCodeColumnsSql() {
    return QStringLiteral(
        "SELECT count(*) FROM pg_attribute WHERE attrelid = 'velmars_events'::regclass "
        "AND attname IN ('code', 'args') AND NOT attisdropped");
}

QString addEventCodeColumnsSql() {
    return QStringLiteral(
        "ALTER TABLE velmars_events ADD COLUMN IF NOT EXISTS code text, "
        "ADD COLUMN IF NOT EXISTS args jsonb");
}

// One statement per batch whatever its size: each column goes as one array and unnest() turns
// the arrays back into rows. A batch sent again after a failure adds nothing.
QString insertSamplesSql() {
    QString arrays = QStringLiteral("CAST(? AS timestamptz[])");
    for (int k = 0; k < store::schema::valueColumns().size(); ++k)
        arrays += QStringLiteral(", CAST(? AS real[])");
    return QStringLiteral(
               "INSERT INTO velmars_samples (station, at, %1) SELECT ?, u.* FROM unnest(%2) AS u "
               "ON CONFLICT DO NOTHING")
        .arg(store::schema::valueColumns().join(QStringLiteral(", ")), arrays);
}

QString insertEventsSql(bool withCodes) {
    return QStringLiteral(
               "INSERT INTO velmars_events (station, at, kind, text, reg, value, status%1) "
               "SELECT ?, u.* FROM unnest(CAST(? AS timestamptz[]), CAST(? AS text[]), "
               "CAST(? AS text[]), CAST(? AS integer[]), CAST(? AS integer[]), "
               "CAST(? AS integer[])%2) AS u ON CONFLICT DO NOTHING")
        .arg(withCodes ? QStringLiteral(", code, args") : QString(),
             withCodes ? QStringLiteral(", CAST(? AS text[]), CAST(? AS jsonb[])") : QString());
}

QString createChainHeadsTableSql() {
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS velmars_chain_heads (station text, chain text, "
        "last bigint NOT NULL, n bigint NOT NULL, hash text NOT NULL, keyed_from bigint, "
        "updated timestamptz NOT NULL DEFAULT now(), primary key (station, chain))");
}

QString upsertChainHeadSql() {
    return QStringLiteral(
        "INSERT INTO velmars_chain_heads AS h (station, chain, last, n, hash, keyed_from) "
        "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (station, chain) DO UPDATE SET "
        "last = excluded.last, n = excluded.n, hash = excluded.hash, "
        "keyed_from = excluded.keyed_from, updated = now() "
        "WHERE excluded.last > h.last OR (excluded.last = h.last AND excluded.n >= h.n)");
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

QStringList eventArrays(const std::vector<EventRow>& rows, bool withCodes) {
    QStringList cols(withCodes ? 8 : 6, QStringLiteral("{"));
    auto textOrNull = [](QString& out, const QString& v) {
        if (v.isEmpty())
            out += QStringLiteral("NULL");
        else
            appendQuoted(out, v);
    };
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
        if (withCodes) {
            textOrNull(cols[6], rows[r].code);
            textOrNull(cols[7], rows[r].args);
        }
    }
    for (QString& c : cols)
        c += u'}';
    return cols;
}

}  // namespace forward
