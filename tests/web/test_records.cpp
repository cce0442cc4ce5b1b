// What the API reads from a chamber's database file: a span reduced to at most N points with its
// gaps said, the CSV export, the events with their paging, the runs; bad input refused.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include "events/eventstore.h"
#include "runs/runs.h"
#include "store/store.h"
#include "web/api.h"
#include "web/records.h"

namespace {

constexpr int64_t kT0 = 1699999200;  // on the hour

// Seconds 0..599 readings 20..29, 600..899 stored stale, 900..1199 nothing, 1200..1799 readings
// of 30.
void fill(const QString& path) {
    store::SampleStore store(path, QStringLiteral("fill"));
    ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
    std::vector<store::Sample> batch;
    for (int i = 0; i < 1800; ++i) {
        if (i >= 900 && i < 1200) continue;
        store::Sample s;
        s.at = kT0 + i;
        s.stale = i >= 600 && i < 900;
        s.values[0] = i < 900 ? 20.0f + static_cast<float>(i % 10) : 30.0f;
        s.values[1] = 55.5f;
        batch.push_back(s);
    }
    ASSERT_TRUE(store.archiveBatch(batch));
}

struct Rig {
    QTemporaryDir dir;
    QString db = dir.filePath(QStringLiteral("a.db"));
    web::Hub hub;
    web::Api api{hub, [] {
                     web::ApiOptions o;
                     o.loopbackOnly = false;
                     o.nowMs = [] { return (kT0 + 1800) * 1000; };
                     return o;
                 }()};
    Rig() { hub.setChamber({QStringLiteral("A-1"), {}, {}, db}); }
    web::Response get(const QString& path, const QByteArray& accept = {}) {
        web::Request r;
        r.method = "GET";
        const qsizetype q = path.indexOf(u'?');
        r.path = q < 0 ? path : path.left(q);
        r.query = q < 0 ? QByteArray() : path.mid(q + 1).toUtf8();
        r.remote = QStringLiteral("127.0.0.1");
        if (!accept.isEmpty()) r.headers.insert("accept", accept);
        return api.handle(r);
    }
};

QJsonObject object(const web::Response& r) {
    return QJsonDocument::fromJson(r.body).object();
}

QString span(int64_t from, int64_t to, int points) {
    return QStringLiteral("/api/v1/chambers/A-1/samples?from=%1&to=%2&points=%3")
        .arg(from * 1000)
        .arg(to * 1000)
        .arg(points);
}

TEST(WebRecords, SpanReducedWithItsGaps) {
    Rig rig;
    fill(rig.db);
    // Minutes: ten of readings, the stale five and the missing five each one gap, ten more.
    const web::Response minutes = rig.get(span(kT0, kT0 + 1799, 30));
    ASSERT_EQ(minutes.status, 200) << minutes.body.toStdString();
    const QJsonArray points = object(minutes).value("points").toArray();
    ASSERT_EQ(points.size(), 22);
    EXPECT_EQ(object(minutes).value("stepSeconds").toInt(), 60);
    const QJsonObject first = points[0].toObject();
    EXPECT_EQ(first.value("tMs").toInteger(), kT0 * 1000);
    EXPECT_EQ(first.value("count").toInt(), 60);
    EXPECT_EQ(first.value("min").toArray()[0].toDouble(), 20.0);
    EXPECT_EQ(first.value("max").toArray()[0].toDouble(), 29.0);
    EXPECT_DOUBLE_EQ(first.value("mean").toArray()[0].toDouble(), 24.5);
    EXPECT_EQ(first.value("mean").toArray()[1].toDouble(), 55.5);
    const QJsonObject stale = points[10].toObject();
    EXPECT_EQ(stale.value("gap").toString(), u"stale");
    EXPECT_EQ(stale.value("tMs").toInteger(), (kT0 + 600) * 1000);
    EXPECT_EQ(stale.value("tEndMs").toInteger(), (kT0 + 899) * 1000);
    const QJsonObject missing = points[11].toObject();
    EXPECT_EQ(missing.value("gap").toString(), u"missing");
    EXPECT_EQ(missing.value("tMs").toInteger(), (kT0 + 900) * 1000);
    EXPECT_EQ(points[12].toObject().value("mean").toArray()[0].toDouble(), 30.0);

    // Never more points than asked for, whatever the span and its alignment.
    for (const auto& [from, to, n] :
         {std::tuple{kT0 + 7, kT0 + 1799, 30}, std::tuple{kT0 - 86400 * 40, kT0 + 1799, 1000},
          std::tuple{kT0 + 100, kT0 + 100, 1}, std::tuple{kT0 + 1, kT0 + 1500, 7},
          std::tuple{kT0, kT0 + 1799, 50000}}) {
        SCOPED_TRACE(QStringLiteral("%1..%2 in %3").arg(from).arg(to).arg(n).toStdString());
        const web::Response r = rig.get(span(from, to, n));
        ASSERT_EQ(r.status, 200);
        const QJsonArray p = object(r).value("points").toArray();
        EXPECT_LE(p.size(), n);
        EXPECT_GE(p.size(), 1);
        int counted = 0;
        for (const QJsonValue& v : p)
            counted += v.toObject().value("count").toInt();
        EXPECT_LE(counted, 1500);  // the stale seconds are no readings
    }
    // Every second at one point each: readings and the two gaps between them.
    const QJsonArray seconds =
        object(rig.get(span(kT0, kT0 + 1799, 1800))).value("points").toArray();
    EXPECT_EQ(seconds.size(), 600 + 1 + 1 + 600);
}

TEST(WebRecords, CsvAsTheExportWritesIt) {
    Rig rig;
    fill(rig.db);
    const web::Response csv = rig.get(span(kT0, kT0 + 1799, 10), "text/csv");
    ASSERT_EQ(csv.status, 200);
    EXPECT_TRUE(csv.type.startsWith("text/csv"));
    EXPECT_TRUE(csv.body.startsWith("\xEF\xBB\xBF"));
    // The header, then every stored second, and a row for the seconds missing between them.
    EXPECT_EQ(csv.body.count("\r\n"), 1 + 1500 + 1);
}

TEST(WebRecords, BadInputIsRefused) {
    Rig rig;
    fill(rig.db);
    struct Case {
        QString path;
        int status;
        const char* code;
    };
    const Case cases[] = {
        {"/api/v1/chambers/A-1/samples?from=yesterday", 400, "bad_time"},
        {"/api/v1/chambers/A-1/samples?to=2026-13-40T00:00:00Z", 400, "bad_time"},
        {"/api/v1/chambers/A-1/samples?from=2026-02-01T00:00:00Z&to=2026-01-01T00:00:00Z", 400,
         "bad_range"},
        {"/api/v1/chambers/A-1/samples?from=0&to=253402300799000", 400, "range_too_large"},
        {"/api/v1/chambers/A-1/samples?points=0", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/samples?points=50001", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/samples?points=1e3", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/samples?from=-5", 400, "bad_time"},
        {"/api/v1/chambers/B/samples", 404, "unknown_chamber"},
        {"/api/v1/chambers/A-1/events?limit=0", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/events?limit=5001", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/events?after=-1", 400, "bad_parameter"},
        {"/api/v1/chambers/A-1/events?from=%00", 400, "bad_time"},
        {"/api/v1/runs/A-1:99/report.pdf", 404, "unknown_run"},
        {"/api/v1/runs/B:1/report.pdf", 404, "unknown_chamber"},
        {"/api/v1/runs/A-1/report.pdf", 404, "not_found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const web::Response r = rig.get(c.path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(object(r).value("code").toString(), QLatin1String(c.code));
    }
    // ISO 8601 with a zone reads as the same moment as its epoch milliseconds.
    EXPECT_EQ(web::parseTime(QStringLiteral("2023-11-14T22:00:00Z")), kT0 * 1000);
    EXPECT_EQ(web::parseTime(QStringLiteral("2023-11-15T06:00:00+08:00")), kT0 * 1000);
    EXPECT_EQ(web::parseTime(QString::number(kT0 * 1000)), kT0 * 1000);
}

TEST(WebRecords, EventsPagedAndRuns) {
    Rig rig;
    fill(rig.db);
    {
        events::EventStore store(rig.db, QStringLiteral("events"));
        ASSERT_TRUE(store.open());
        std::vector<events::EventEntry> rows;
        for (int i = 0; i < 5; ++i) {
            events::EventEntry e;
            e.at = QDateTime::fromSecsSinceEpoch(kT0 + i);
            e.kind = QStringLiteral("link");
            e.text = QStringLiteral("事件 %1").arg(i);
            rows.push_back(e);
        }
        ASSERT_TRUE(store.append(rows));
        runs::RunStore runs(rig.db, QStringLiteral("runs"));
        ASSERT_TRUE(runs.open());
        runs::Run run;
        run.name = QStringLiteral("老化试验");
        run.start = kT0;
        ASSERT_TRUE(runs.start(run));
        ASSERT_TRUE(runs.stop(kT0 + 1799));
    }
    const QJsonObject newest = object(rig.get("/api/v1/chambers/A-1/events?limit=2"));
    const QJsonArray two = newest.value("events").toArray();
    ASSERT_EQ(two.size(), 2);
    EXPECT_TRUE(newest.value("more").toBool());
    EXPECT_EQ(two[0].toObject().value("text").toString(), u"事件 4");
    // After an id: the ones that came later, oldest first.
    const qint64 id = two[1].toObject().value("id").toInteger();
    const QJsonObject later =
        object(rig.get(QStringLiteral("/api/v1/chambers/A-1/events?after=%1").arg(id)));
    ASSERT_EQ(later.value("events").toArray().size(), 1);
    EXPECT_EQ(later.value("events").toArray()[0].toObject().value("text").toString(), u"事件 4");
    EXPECT_FALSE(later.value("more").toBool());
    const QJsonArray runs = object(rig.get("/api/v1/chambers/A-1/runs")).value("runs").toArray();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs[0].toObject().value("name").toString(), u"老化试验");
    EXPECT_EQ(runs[0].toObject().value("endMs").toInteger(), (kT0 + 1799) * 1000);
    EXPECT_TRUE(runs[0].toObject().value("report").toString().endsWith(u"/report.pdf"));
}

}  // namespace
