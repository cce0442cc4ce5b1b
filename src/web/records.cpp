#include "web/records.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <atomic>
#include <cmath>

#include "events/eventstore.h"
#include "report/report.h"
#include "runs/runs.h"
#include "store/archive.h"
#include "store/csvexport.h"
#include "store/store.h"
#include "web/feed.h"

namespace web {

namespace {

// Connection names are unique per request: each request opens and ends its own.
QString connectionName(const char* what) {
    static std::atomic<quint64> next{0};
    return QStringLiteral("web-%1-%2").arg(QLatin1String(what)).arg(++next);
}

QString iso(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

double rounded(float v) {
    return std::round(static_cast<double>(v) * 10000.0) / 10000.0;
}

Response json(const QJsonObject& o) {
    Response r;
    r.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    return r;
}

// The span asked for, in epoch milliseconds; an error response when it is no span.
std::optional<Response> spanOf(const QUrlQuery& q, qint64 nowMs, qint64 defaultMs, qint64* from,
                               qint64* to) {
    *to = nowMs;
    if (q.hasQueryItem(QStringLiteral("to"))) {
        const auto t = parseTime(q.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded));
        if (!t) return errorResponse(400, "bad_time", QStringLiteral("'to' is no time"));
        *to = *t;
    }
    *from = *to - defaultMs;
    if (q.hasQueryItem(QStringLiteral("from"))) {
        const auto f = parseTime(q.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded));
        if (!f) return errorResponse(400, "bad_time", QStringLiteral("'from' is no time"));
        *from = *f;
    }
    if (*from > *to) return errorResponse(400, "bad_range", QStringLiteral("'from' is after 'to'"));
    if (*to - *from > kMaxSpanMs)
        return errorResponse(400, "range_too_large",
                             QStringLiteral("a span of at most twenty years"));
    return std::nullopt;
}

std::optional<int> intParam(const QUrlQuery& q, const char* name, int low, int high, int fallback,
                            std::optional<Response>* error) {
    const QString key = QLatin1String(name);
    if (!q.hasQueryItem(key)) return fallback;
    bool ok = false;
    const qlonglong v = q.queryItemValue(key).toLongLong(&ok);
    if (!ok || v < low || v > high) {
        *error = errorResponse(400, "bad_parameter",
                               QStringLiteral("'%1' expects a whole number from %2 to %3")
                                   .arg(key)
                                   .arg(low)
                                   .arg(high));
        return std::nullopt;
    }
    return static_cast<int>(v);
}

Response unreadable(const QString& why) {
    return errorResponse(503, "unreadable", why);
}

}  // namespace

std::optional<qint64> parseTime(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^-?\\d{1,15}$"));
    qint64 ms = 0;
    if (digits.match(text).hasMatch()) {
        ms = text.toLongLong();
    } else {
        const QDateTime t = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
        if (!t.isValid()) return std::nullopt;
        ms = t.toMSecsSinceEpoch();
    }
    if (ms < 0 || ms > 253402300799999LL) return std::nullopt;
    return ms;
}

Response samples(const QString& dbPath, const QUrlQuery& q, bool csv, qint64 nowMs) {
    qint64 fromMs = 0, toMs = 0;
    if (auto bad = spanOf(q, nowMs, 3600 * 1000, &fromMs, &toMs)) return *bad;
    std::optional<Response> bad;
    const auto points = intParam(q, "points", 1, kMaxPoints, 1000, &bad);
    if (!points) return *bad;
    const int64_t from = fromMs / 1000, to = toMs / 1000;

    if (csv) {
        store::CsvExport exporter(dbPath, connectionName("csv"));
        if (!exporter.open()) return unreadable(exporter.error().text(base::Lang::Shown));
        const store::ExportRange range{QDateTime::fromSecsSinceEpoch(from),
                                       QDateTime::fromSecsSinceEpoch(to)};
        const auto count = exporter.count(range);
        if (!count) return unreadable(exporter.error().text(base::Lang::Shown));
        if (*count > kMaxCsvRows)
            return errorResponse(413, "too_many_rows",
                                 QStringLiteral("the span holds %1 rows, at most %2 are exported "
                                                "at once: ask for a shorter span")
                                     .arg(*count)
                                     .arg(kMaxCsvRows));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        if (!exporter.write(out, range))
            return unreadable(exporter.error().text(base::Lang::Shown));
        Response r;
        r.type = "text/csv; charset=utf-8";
        r.body = out.data();
        r.headers << std::pair<QByteArray, QByteArray>("Content-Disposition",
                                                       "attachment; filename=\"samples.csv\"");
        return r;
    }

    store::SampleStore store(dbPath, connectionName("samples"));
    if (!store.open(store::SampleStore::Access::ReadOnly)) return unreadable(store.lastError());
    // Stretches as wide as the rollups' buckets at least, lined up with them, so that every
    // stretch gets whole buckets and none is left empty between two.
    int64_t width = store::archive::kLevelSeconds.back();
    for (int64_t w : store::archive::kLevelSeconds)
        if ((to - from) / w + 1 <= *points) {
            width = w;
            break;
        }
    const int64_t origin = from - from % width;
    int64_t step = std::max<int64_t>(width, (to - origin + *points) / *points);
    step = (step + width - 1) / width * width;
    const int64_t stretches = (to - origin) / step + 1;

    store.beginRead();
    const auto rows = store.loadSpan(from, to, *points);
    const auto stale = store.staleSpans(from, to);
    store.endRead();
    if (!rows || !stale) return unreadable(store.lastError());

    struct Stretch {
        int count = 0;
        std::array<double, 4> min{}, max{}, sum{};
    };
    std::vector<Stretch> buckets(static_cast<size_t>(stretches));
    for (const store::SpanRow& row : *rows) {
        if (row.stale || row.count <= 0) continue;
        const int64_t i = std::clamp<int64_t>((row.first - origin) / step, 0, stretches - 1);
        Stretch& s = buckets[static_cast<size_t>(i)];
        for (int c = 0; c < 4; ++c) {
            s.min[c] = s.count == 0 ? row.min[c] : std::min<double>(s.min[c], row.min[c]);
            s.max[c] = s.count == 0 ? row.max[c] : std::max<double>(s.max[c], row.max[c]);
            s.sum[c] += static_cast<double>(row.mean[c]) * row.count;
        }
        s.count += row.count;
    }
    QJsonArray out;
    size_t nextStale = 0;
    for (int64_t i = 0; i < stretches;) {
        const int64_t t = std::max(from, origin + i * step);
        if (buckets[static_cast<size_t>(i)].count > 0) {
            const Stretch& s = buckets[static_cast<size_t>(i)];
            QJsonArray mean, min, max;
            for (int c = 0; c < 4; ++c) {
                mean << rounded(static_cast<float>(s.sum[c] / s.count));
                min << rounded(static_cast<float>(s.min[c]));
                max << rounded(static_cast<float>(s.max[c]));
            }
            out << QJsonObject{
                {QStringLiteral("t"), iso(t * 1000)}, {QStringLiteral("tMs"), qint64(t * 1000)},
                {QStringLiteral("count"), s.count},   {QStringLiteral("mean"), mean},
                {QStringLiteral("min"), min},         {QStringLiteral("max"), max}};
            ++i;
            continue;
        }
        // Empty stretches in a row are one gap: stale where the instrument's values were stale
        // (the program recorded, but no readings), missing where nothing was recorded.
        const auto staleIn = [&](int64_t k) {
            const int64_t first = std::max(from, origin + k * step);
            const int64_t last = std::min(to, origin + (k + 1) * step - 1);
            while (nextStale < stale->size() && (*stale)[nextStale].second < first)
                ++nextStale;
            return nextStale < stale->size() && (*stale)[nextStale].first <= last;
        };
        const bool wasStale = staleIn(i);
        int64_t j = i + 1;
        while (j < stretches && buckets[static_cast<size_t>(j)].count == 0 &&
               staleIn(j) == wasStale)
            ++j;
        const int64_t end = std::min(to, origin + j * step - 1);
        out << QJsonObject{{QStringLiteral("t"), iso(t * 1000)},
                           {QStringLiteral("tMs"), qint64(t * 1000)},
                           {QStringLiteral("tEnd"), iso(end * 1000)},
                           {QStringLiteral("tEndMs"), qint64(end * 1000)},
                           {QStringLiteral("gap"),
                            wasStale ? QStringLiteral("stale") : QStringLiteral("missing")}};
        i = j;
    }
    return json(
        {{QStringLiteral("from"), iso(from * 1000)},
         {QStringLiteral("fromMs"), qint64(from * 1000)},
         {QStringLiteral("to"), iso(to * 1000)},
         {QStringLiteral("toMs"), qint64(to * 1000)},
         {QStringLiteral("stepSeconds"), qint64(step)},
         {QStringLiteral("channels"), QJsonArray{QStringLiteral("pv1"), QStringLiteral("pv2"),
                                                 QStringLiteral("sv1"), QStringLiteral("sv2")}},
         {QStringLiteral("units"), QJsonArray{QStringLiteral("°C"), QStringLiteral("%RH"),
                                              QStringLiteral("°C"), QStringLiteral("%RH")}},
         {QStringLiteral("points"), out}});
}

Response events(const QString& dbPath, const QUrlQuery& q) {
    events::EventFilter filter;
    std::optional<Response> bad;
    const auto limit = intParam(q, "limit", 1, kMaxEvents, 100, &bad);
    if (!limit) return *bad;
    const auto after = intParam(q, "after", 0, std::numeric_limits<int>::max(), 0, &bad);
    if (!after) return *bad;
    for (const char* end : {"from", "to"}) {
        const QString key = QLatin1String(end);
        if (!q.hasQueryItem(key)) continue;
        const auto t = parseTime(q.queryItemValue(key, QUrl::FullyDecoded));
        if (!t) return errorResponse(400, "bad_time", QStringLiteral("'%1' is no time").arg(key));
        (key == u"from" ? filter.from : filter.to) = QDateTime::fromMSecsSinceEpoch(*t);
    }
    if (filter.from && filter.to && *filter.from > *filter.to)
        return errorResponse(400, "bad_range", QStringLiteral("'from' is after 'to'"));
    filter.afterId = *after;
    filter.newestFirst = *after == 0;
    filter.limit = *limit + 1;  // one more tells whether there are more
    events::EventStore store(dbPath, connectionName("events"));
    if (!store.open(/*readOnly=*/true)) return unreadable(store.lastError());
    QJsonArray list;
    std::vector<events::EventEntry> rows;
    if (store.hasTable()) rows = store.load(filter);
    const bool more = rows.size() > static_cast<size_t>(*limit);
    if (more) rows.resize(static_cast<size_t>(*limit));
    for (const events::EventEntry& e : rows)
        list << eventJson(e);
    return json({{QStringLiteral("events"), list}, {QStringLiteral("more"), more}});
}

Response runs(const QString& chamberId, const QString& dbPath) {
    runs::RunStore store(dbPath, connectionName("runs"));
    if (!store.open(/*readOnly=*/true)) return unreadable(store.lastError());
    QJsonArray list;
    for (const runs::Run& r : store.list()) {
        const QString id = QStringLiteral("%1:%2").arg(chamberId).arg(r.id);
        QJsonObject o{{QStringLiteral("id"), id},
                      {QStringLiteral("name"), r.name},
                      {QStringLiteral("orderId"), r.orderId},
                      {QStringLiteral("operator"), r.operatorName},
                      {QStringLiteral("start"), iso(r.start * 1000)},
                      {QStringLiteral("startMs"), qint64(r.start * 1000)},
                      {QStringLiteral("automatic"), r.automatic},
                      {QStringLiteral("report"),
                       QStringLiteral("/api/v1/runs/%1/report.pdf")
                           .arg(QString::fromLatin1(QUrl::toPercentEncoding(id, ":~")))}};
        o.insert(QStringLiteral("end"), r.end ? QJsonValue(iso(*r.end * 1000)) : QJsonValue());
        o.insert(QStringLiteral("endMs"), r.end ? QJsonValue(qint64(*r.end * 1000)) : QJsonValue());
        list << o;
    }
    return json({{QStringLiteral("runs"), list}});
}

Response report(const QString& dbPath, qint64 runId, const QString& usersPath) {
    std::optional<runs::Run> run;
    {
        runs::RunStore store(dbPath, connectionName("run"));
        if (!store.open(/*readOnly=*/true)) return unreadable(store.lastError());
        for (const runs::Run& r : store.list())
            if (r.id == runId) run = r;
    }
    if (!run) return errorResponse(404, "unknown_run", QStringLiteral("no run of that id"));
    QTemporaryDir dir;
    if (!dir.isValid()) return unreadable(QStringLiteral("no room for the report"));
    report::ReportRequest request;
    request.dbPath = dbPath;
    request.pdfPath = dir.filePath(QStringLiteral("report.pdf"));
    request.from = run->start;
    request.to = run->end ? *run->end : QDateTime::currentSecsSinceEpoch();
    request.subject.name = run->name;
    request.subject.orderId = run->orderId;
    request.subject.operatorName = run->operatorName;
    request.subject.notes = run->notes;
    request.subject.station = run->station;
    request.subject.port = run->port;
    request.subject.address = run->address;
    request.subject.open = !run->end;
    request.subject.bands = std::array{run->band1, run->band2};
    request.usersPath = usersPath;
    // Drawn on a Qt thread of its own: text layout and fonts are Qt's per thread, and this one is
    // the server's.
    report::ReportOutcome made;
    std::unique_ptr<QThread> drawing(QThread::create([&] { made = report::makeReport(request); }));
    drawing->start();
    drawing->wait();
    if (!made.written()) return unreadable(made.error);
    QFile pdf(request.pdfPath);
    if (!pdf.open(QIODevice::ReadOnly))
        return unreadable(QStringLiteral("the report went missing"));
    Response r;
    r.type = "application/pdf";
    r.body = pdf.readAll();
    return r;
}

}  // namespace web
