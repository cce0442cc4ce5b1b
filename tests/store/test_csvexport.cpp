// The CSV export: a wrapped ring in time order, ranges, and the file parsed back to the stored
// values. The command line's exports are tested in tests/shell/test_exports.cpp.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "base/oledate.h"
#include "dbhelpers.h"
#include "store/csvexport.h"
#include "store/store.h"

namespace {

const QDateTime kStart(QDate(2026, 3, 1), QTime(23, 59, 0));

// The value of channel c of the record taken at second n: floats of several kinds.
float valueAt(int n, int c) {
    return c == 0 ? 20.0f + n * 0.1f : c == 1 ? -12.5f * n : c == 8 ? float((n % 2) * 100) : 300;
}

// A ring that has gone round: records 151..400 were written first, then 1..150 overwrote the
// oldest; record 401 was never written (date 0). Other sizes keep the same shape.
QString makeWrappedRing(QTemporaryDir& dir, int size = 400, int wrapped = 150) {
    const QString path = dir.filePath("ring.db");
    {
        store::SampleStore store(path, "test-make");
        EXPECT_TRUE(store.open());
    }
    record_test::withDb(path, [=](QSqlDatabase& db) {
        db.transaction();
        QSqlQuery q(db);
        q.prepare("INSERT OR REPLACE INTO pv_data VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
        auto put = [&](int id, int n, bool written) {
            const QDateTime t = kStart.addSecs(n);
            q.addBindValue(id);
            q.addBindValue(written ? base::oleDate(t.date()) : 0.0);
            q.addBindValue(written ? base::oleTime(t.time()) : 0.0);
            for (int c = 0; c < 10; ++c)
                q.addBindValue(double(valueAt(n, c)));
            EXPECT_TRUE(q.exec());
        };
        for (int id = wrapped + 1; id <= size; ++id)
            put(id, id - wrapped - 1, true);
        for (int id = 1; id <= wrapped; ++id)
            put(id, size - wrapped + id - 1, true);
        put(size + 1, 0, false);
        db.commit();
    });
    return path;
}

struct Parsed {
    QByteArray bom;
    QStringList header;
    std::vector<QStringList> rows;
};

// A plain CSV reader: CRLF lines, comma fields, no quoting needed by these files.
Parsed parse(const QByteArray& csv) {
    Parsed p;
    p.bom = csv.left(3);
    QList<QByteArray> lines = csv.mid(3).split('\n');
    EXPECT_TRUE(lines.last().isEmpty());
    lines.removeLast();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith('\r')) << i;
        const QStringList fields = QString::fromUtf8(lines[i].chopped(1)).split(u',');
        if (i == 0)
            p.header = fields;
        else
            p.rows.push_back(fields);
    }
    return p;
}

// The moment a "2026-03-01 23:59:00 +08:00" cell names, as UTC seconds; -1 for any other text.
qint64 momentOf(const QString& cell) {
    const QStringList parts = cell.split(u' ');
    if (parts.size() != 3) return -1;
    const QDateTime t = QDateTime::fromString(parts[0] + u'T' + parts[1] + parts[2], Qt::ISODate);
    return t.isValid() ? t.toSecsSinceEpoch() : -1;
}

QByteArray exportToBytes(const QString& path, const store::ExportRange& range,
                         qint64* rows = nullptr) {
    store::CsvExport ex(path, "test-export");
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    const auto n = ex.write(buf, range);
    EXPECT_TRUE(n) << ex.error().text(base::Lang::Stored).toStdString();
    if (rows && n) *rows = *n;
    return buf.data();
}

}  // namespace

TEST(CsvExport, WrappedRingInTimeOrderParsesBackToTheStoredValues) {
    QTemporaryDir dir;
    const QString path = makeWrappedRing(dir);
    qint64 rows = 0;
    const Parsed p = parse(exportToBytes(path, {}, &rows));
    EXPECT_EQ(p.bom, QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(p.header.join(u','),
              "日期时间,PV1,PV2,SV1,SV2,变送1,变送2,ALM1类型,ALM2类型,输出1,"
              "输出2,数据状态,时间（含时区）");
    ASSERT_EQ(rows, 400);
    ASSERT_EQ(p.rows.size(), 400u);
    for (int n = 0; n < 400; ++n) {
        const QStringList& r = p.rows[n];
        ASSERT_EQ(r.size(), 13);
        EXPECT_EQ(r[11], "");  // a ring's records are readings
        EXPECT_EQ(r[0], kStart.addSecs(n).toString("yyyy-MM-dd HH:mm:ss")) << n;
        EXPECT_EQ(momentOf(r[12]), kStart.addSecs(n).toSecsSinceEpoch()) << r[12].toStdString();
        for (int c = 0; c < 10; ++c)
            EXPECT_EQ(r[c + 1].toFloat(), float(store::schema::shownValue(c, valueAt(n, c))))
                << n << " " << c;
    }
    EXPECT_EQ(p.rows[0][9], "0");  // shortest forms
    EXPECT_EQ(p.rows[0][10], "300");
    EXPECT_EQ(p.rows[1][1], "20.1");
}

TEST(CsvExport, RangesIncludeBothEnds) {
    QTemporaryDir dir;
    const QString path = makeWrappedRing(dir);
    struct Case {
        std::optional<int> from, to;  // seconds after the first record
        int first, count;
    };
    const Case cases[] = {
        {10, 19, 10, 10}, {395, std::nullopt, 395, 5}, {std::nullopt, 0, 0, 1}, {500, 600, 0, 0},
        {20, 10, 0, 0},
    };
    for (const Case& c : cases) {
        store::ExportRange range;
        if (c.from) range.from = kStart.addSecs(*c.from);
        if (c.to) range.to = kStart.addSecs(*c.to);
        store::CsvExport ex(path, "test-count");
        EXPECT_EQ(ex.count(range), c.count);
        const Parsed p = parse(exportToBytes(path, range));
        EXPECT_EQ(p.header.size(), 13);  // a range without records gives the header alone
        ASSERT_EQ(int(p.rows.size()), c.count);
        if (c.count > 0) {
            EXPECT_EQ(p.rows[0][0], kStart.addSecs(c.first).toString("yyyy-MM-dd HH:mm:ss"));
        }
    }
}

// The window's cancel button answers the progress call: the export stops there and says so.
TEST(CsvExport, ProgressCanStopALargeExport) {
    QTemporaryDir dir;
    const QString path = makeWrappedRing(dir, 10000, 3000);
    store::CsvExport ex(path, "test-stop");
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    QList<qint64> seen;
    const auto n = ex.write(buf, {}, [&](qint64 done) {
        seen << done;
        return seen.size() < 2;
    });
    EXPECT_FALSE(n);
    EXPECT_TRUE(ex.stopped());
    EXPECT_EQ(ex.error().text(base::Lang::Stored), QStringLiteral("导出已取消"));
    EXPECT_EQ(seen, (QList<qint64>{4096, 8192}));
    // The whole ring again, to the end, in time order across the wrap.
    qint64 rows = 0;
    const Parsed p = parse(exportToBytes(path, {}, &rows));
    ASSERT_EQ(rows, 10000);
    EXPECT_EQ(p.rows.back()[0], kStart.addSecs(9999).toString("yyyy-MM-dd HH:mm:ss"));
}

// The retransmission outputs are stored in tenths of a percent and exported as a percentage, from
// the archive and from a ring without one alike; the ring keeps the tenths.
TEST(CsvExport, RetransmissionOutputsAsPercentages) {
    struct Case {
        float stored;
        const char* shown;
    } const cases[] = {{6, "0.6"},   {456, "45.6"},   {1000, "100"},  {0, "0"},
                       {-5, "-0.5"}, {45.6f, "4.56"}, {1.5f, "0.15"}, {333.3f, "33.33"}};
    for (const auto access :
         {store::SampleStore::Access::Record, store::SampleStore::Access::ReadWrite}) {
        QTemporaryDir dir;
        const QString path = dir.filePath("pct.db");
        {
            store::SampleStore store(path, "test-pct");
            ASSERT_TRUE(store.open(access));
            for (size_t i = 0; i < std::size(cases); ++i) {
                store::Sample s;
                s.id = int(i) + 1;
                const QDateTime t = kStart.addSecs(qint64(i));
                s.date = base::oleDate(t.date());
                s.time = base::oleTime(t.time());
                s.values = {23.4f, 0, 0, 0, cases[i].stored, cases[i].stored * 2, 1, 2, 100, 0};
                ASSERT_TRUE(store.storeSample(s));
            }
        }
        const Parsed p = parse(exportToBytes(path, {}));
        ASSERT_EQ(p.rows.size(), std::size(cases));
        for (size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_EQ(p.rows[i][5], cases[i].shown) << i;
            EXPECT_NEAR(p.rows[i][6].toDouble(), cases[i].stored * 2 / 10.0, 1e-4) << i;
            EXPECT_LE(p.rows[i][6].size(), 8) << p.rows[i][6].toStdString();
            EXPECT_EQ(p.rows[i][1], "23.4");  // the other channels as stored
            EXPECT_EQ(p.rows[i][9], "100");
            EXPECT_EQ(record_test::scalar(path, QString("SELECT out1_pct FROM pv_data WHERE "
                                                        "w_id = %1")
                                                    .arg(i + 1))
                          .toDouble(),
                      cases[i].stored);
        }
    }
}

// Every copy names its moments with their offset from UTC: an archive's seconds read back from the
// last column are the seconds stored, whatever zone the copy was made in.
TEST(CsvExport, ArchivedSecondsCarryTheirOffset) {
    QTemporaryDir dir;
    const QString path = dir.filePath("zone.db");
    // Midnight UTC of a winter and a summer day, so that a zone with summer time shows both of
    // its offsets.
    const qint64 seconds[] = {1767225600, 1782864000};
    {
        store::SampleStore store(path, "test-zone");
        ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
        for (size_t i = 0; i < std::size(seconds); ++i) {
            store::Sample s;
            s.id = int(i) + 1;
            const QDateTime t = QDateTime::fromSecsSinceEpoch(seconds[i]);
            s.date = base::oleDate(t.date());
            s.time = base::oleTime(t.time());
            s.values = {23.4f, 0, 0, 0, 0, 0, 1, 2, 100, 0};
            ASSERT_TRUE(store.storeSample(s));
        }
    }
    Parsed p = parse(exportToBytes(path, {}));
    // The half year between them is a gap's row of its own.
    ASSERT_EQ(p.rows.size(), std::size(seconds) + 1);
    EXPECT_EQ(momentOf(p.rows[1][12]), seconds[0] + 1);
    p.rows.erase(p.rows.begin() + 1);
    for (size_t i = 0; i < std::size(seconds); ++i) {
        EXPECT_EQ(momentOf(p.rows[i][12]), seconds[i]) << p.rows[i][12].toStdString();
        EXPECT_TRUE(p.rows[i][12].startsWith(p.rows[i][0] + u' ')) << i;
    }
}

// The signatures' digest reads the rows in the form they were first signed in, whatever the
// copies look like: a signed span stays checkable.
TEST(CsvExport, DigestFormKeepsTheFirstSignaturesBytes) {
    const double values[10] = {45.6 / 10.0, 23.4f, 0.1 + 0.2, 300, 0, 0, 1, 2, 100, 0};
    QByteArray copy, digest;
    store::appendCsvRow(copy, 46000, 0.5, values, {}, 8 * 3600);
    store::appendCsvRow(digest, 46000, 0.5, values, {}, 8 * 3600, store::CsvForm::Digest);
    EXPECT_EQ(copy,
              "2025-12-09 12:00:00,4.56,23.4,0.3,300,0,0,1,2,100,0,,2025-12-09 12:00:00 "
              "+08:00\r\n");
    EXPECT_EQ(digest,
              "2025-12-09 12:00:00,4.5600000000000005,23.4,0.30000000000000004,300,0,0,1,2,100,0,"
              "\r\n");
    EXPECT_FALSE(store::csvHeader(store::CsvForm::Digest).contains("时区"));
}

// Seconds missing between archived records are a row of their own at the first missing second,
// values empty, the state saying how many and why; the count is of records, and the digest's form
// never shows them (what was signed stays checkable).
TEST(CsvExport, GapsAreRowsWithTheirCause) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gaps.db");
    const qint64 t0 = kStart.toSecsSinceEpoch();
    const qint64 offsets[] = {0, 1, 5, 6, 100, 101};
    {
        store::SampleStore store(path, "test-gaps");
        ASSERT_TRUE(store.open(store::SampleStore::Access::Record));
        for (size_t i = 0; i < std::size(offsets); ++i) {
            store::Sample s;
            s.id = int(i) + 1;
            const QDateTime t = QDateTime::fromSecsSinceEpoch(t0 + offsets[i]);
            s.date = base::oleDate(t.date());
            s.time = base::oleTime(t.time());
            s.values = {23.4f, 0, 0, 0, 0, 0, 1, 2, 100, 0};
            ASSERT_TRUE(store.storeSample(s));
        }
    }
    const auto local = [&](qint64 offset) {
        return QDateTime::fromSecsSinceEpoch(t0 + offset).toString("yyyy-MM-dd HH:mm:ss");
    };
    const struct {
        const char* name;
        bool named;
        std::vector<std::pair<qint64, QString>> gaps;  // first missing second, state cell
    } cases[] = {
        {"with causes", true, {{2, "缺失 3 秒：2..4"}, {7, "缺失 93 秒：7..99"}}},
        {"without", false, {{2, "缺失 3 秒"}, {7, "缺失 93 秒"}}},
    };
    for (const auto& c : cases) {
        store::CsvExport ex(path, "test-gaps-export");
        ex.setWords(base::Lang::Stored);
        if (c.named)
            ex.setGapCause([t0](qint64 first, qint64 last) {
                return QStringLiteral("%1..%2").arg(first - t0).arg(last - t0);
            });
        QBuffer buf, digest;
        buf.open(QIODevice::WriteOnly);
        digest.open(QIODevice::WriteOnly);
        EXPECT_EQ(ex.write(buf, {}, {}, &digest), qint64(std::size(offsets))) << c.name;
        const Parsed p = parse(buf.data());
        ASSERT_EQ(p.rows.size(), std::size(offsets) + c.gaps.size()) << c.name;
        std::vector<std::pair<qint64, QString>> gaps;
        for (const QStringList& row : p.rows) {
            ASSERT_EQ(row.size(), 13) << c.name;
            if (row[11].isEmpty()) {
                EXPECT_EQ(row[1], "23.4");
                continue;
            }
            for (int v = 1; v <= 10; ++v)
                EXPECT_TRUE(row[v].isEmpty()) << c.name << " " << v;
            EXPECT_TRUE(row[12].startsWith(row[0] + u' ')) << row[12].toStdString();
            gaps.emplace_back(
                QDateTime::fromString(row[0], "yyyy-MM-dd HH:mm:ss").toSecsSinceEpoch() - t0,
                row[11]);
        }
        EXPECT_EQ(gaps, c.gaps) << c.name;
        EXPECT_EQ(p.rows[2][0], local(2)) << c.name;
        EXPECT_EQ(parse(digest.data()).rows.size(), std::size(offsets)) << c.name;
    }
    // A cause with the separator or a quote stays one cell.
    EXPECT_EQ(store::csvGapMark(3, "a, \"b\"", base::Lang::Stored), "\"缺失 3 秒：a, \"\"b\"\"\"");
}
