// The archive beside the ring: a full, wrapped ring adopted once in time order; a run that wraps
// the ring again and loses nothing; a clock set back; the rollups of every level against a
// brute-force computation, also after retention cut a day in the middle of an hour; an export of
// seconds the ring no longer holds; the retention rule; and a ring another program goes on
// writing, read as the archive while there is none and copied in at each open by the recorder.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <ctime>
#include <map>
#include <random>

#include "base/oledate.h"
#include "comm/image.h"
#include "dbhelpers.h"
#include "events/eventstore.h"
#include "store/chain.h"
#include "store/csvexport.h"
#include "store/database.h"
#include "store/retention.h"
#include "store/store.h"

using store::ArchivedSample;
using store::kRingSize;
using store::Sample;
using store::SampleStore;

namespace {

constexpr int kCounter = 30000;  // the ring wrapped: 30001 is its oldest record
constexpr int64_t kStart = 1767225600 + 8 * 3600 + 17;  // the oldest record's moment (UTC)

// A value that is a multiple of 0.01 for most channels and a float the codec keeps as REAL for
// channel 5, so both kinds of stored value go through.
std::array<float, 10> valuesFor(int64_t n) {
    std::array<float, 10> v{};
    for (int c = 0; c < 10; ++c)
        v[c] = static_cast<float>((n * (c + 3)) % 1999) / 10.0f - 50.0f;
    v[5] = static_cast<float>(n % 97) / 3.0f;
    return v;
}

Sample sampleAt(int64_t at) {
    Sample s;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(at);
    s.date = base::oleDate(local.date());
    s.time = base::oleTime(local.time());
    s.at = at;
    s.values = valuesFor(at - kStart);
    return s;
}

// Records as another program writes them into the ring: places firstId.. hold the seconds
// firstAt.. in turn (their values moved by shift), and the counter names the last.
// The export's row of the sample recorded at that moment (with its line's end).
QByteArray csvRowAt(int64_t at) {
    const Sample s = sampleAt(at);
    QByteArray row;
    double v[10];
    for (int c = 0; c < 10; ++c)
        v[c] = store::schema::shownValue(c, s.values[c]);
    store::appendCsvRow(row, s.date, s.time, v);
    return row;
}

void writeRecords(const QString& path, int firstId, int64_t firstAt, int count, float shift = 0) {
    record_test::withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(q.prepare(QStringLiteral(
            "INSERT OR REPLACE INTO pv_data VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")));
        for (int i = 0; i < count; ++i) {
            const Sample s = sampleAt(firstAt + i);
            q.bindValue(0, firstId + i);
            q.bindValue(1, s.date);
            q.bindValue(2, s.time);
            for (int c = 0; c < 10; ++c)
                q.bindValue(3 + c, static_cast<double>(s.values[c] + shift));
            ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        }
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE sl_void SET last_id = %1, last_id_copy = %1")
                               .arg(firstId + count - 1)));
        ASSERT_TRUE(q.exec(QStringLiteral("COMMIT")));
    });
}

// A full ring as another program left it: record k holds the second kStart + its age order.
void writeWrappedRing(const QString& path) {
    {
        SampleStore store(path, QStringLiteral("make"));
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    writeRecords(path, kCounter + 1, kStart, kRingSize - kCounter);
    writeRecords(path, 1, kStart + kRingSize - kCounter, kCounter);
}

std::vector<ArchivedSample> everything(SampleStore& store) {
    std::vector<ArchivedSample> rows;
    EXPECT_TRUE(store.forEachArchived(0, INT64_MAX / 2, [&](const ArchivedSample& a) {
        rows.push_back(a);
        return true;
    }));
    return rows;
}

// Every level's buckets as loadSpan gives them, against the same buckets made from the seconds.
void expectRollupsMatchSeconds(SampleStore& store, const char* when) {
    const std::vector<ArchivedSample> seconds = everything(store);
    ASSERT_FALSE(seconds.empty());
    const int64_t from = seconds.front().at, to = seconds.back().at;
    const int64_t span = to - from + 1;
    for (size_t level = 0; level < store::archive::kLevelSeconds.size(); ++level) {
        const int64_t width = store::archive::kLevelSeconds[level];
        SCOPED_TRACE(testing::Message() << when << ", level " << width << " s");
        const int maxRows = static_cast<int>(span / width + 1);
        const auto rows = store.loadSpan(from, to, maxRows);
        ASSERT_TRUE(rows.has_value());
        std::map<int64_t, store::SpanRow> expected;  // by bucket start
        for (const ArchivedSample& a : seconds) {
            const int64_t bucket = a.at - ((a.at % width) + width) % width;
            auto [it, fresh] = expected.try_emplace(level == 0 ? a.at * 4 + a.seq : bucket);
            store::SpanRow& r = it->second;
            if (fresh) {
                r.first = a.at;
                r.min = r.max = a.values;
                r.mean.fill(0);
            }
            r.last = a.at;
            ++r.count;
            for (int c = 0; c < 10; ++c) {
                r.min[c] = std::min(r.min[c], a.values[c]);
                r.max[c] = std::max(r.max[c], a.values[c]);
                r.mean[c] += a.values[c];  // the sum until the end
            }
        }
        ASSERT_EQ(rows->size(), expected.size());
        auto it = expected.begin();
        for (const store::SpanRow& got : *rows) {
            const store::SpanRow& want = (it++)->second;
            ASSERT_EQ(std::tuple(got.first, got.last, got.count),
                      std::tuple(want.first, want.last, want.count));
            for (int c = 0; c < 10; ++c) {
                ASSERT_EQ(got.min[c], want.min[c]) << "channel " << c << " at " << got.first;
                ASSERT_EQ(got.max[c], want.max[c]) << "channel " << c << " at " << got.first;
                ASSERT_NEAR(got.mean[c], want.mean[c] / want.count, 1e-3) << "channel " << c;
            }
        }
    }
}

}  // namespace

TEST(Archive, AdoptsAWrappedRingOnceAndKeepsEverySampleAfter) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    writeWrappedRing(path);
    if (HasFatalFailure()) return;

    SampleStore store(path, QStringLiteral("recorder"), SampleStore::Commit::Fast);
    ASSERT_TRUE(store.open(SampleStore::Access::Record)) << store.lastError().toStdString();
    ASSERT_TRUE(store.hasArchive());
    {
        const auto rows = everything(store);
        ASSERT_EQ(rows.size(), size_t(kRingSize));
        for (int i = 0; i < kRingSize; ++i) {
            ASSERT_EQ(rows[i].at, kStart + i) << "not in time order across the wrap";
            ASSERT_EQ(rows[i].values, valuesFor(i)) << "second " << i;
        }
    }
    // A restart never copies twice.
    store.close();
    ASSERT_TRUE(store.open(SampleStore::Access::Record));
    EXPECT_EQ(record_test::scalar(path, "SELECT count(*) FROM archive").toInt(), kRingSize);

    // The ring goes on round; the archive keeps the records it overwrites. A clock set back by
    // ten seconds adds rows beside the seconds already there.
    const int64_t newest = kStart + kRingSize - 1;
    for (int64_t at = newest + 1; at <= newest + 3000; ++at) {
        Sample s = sampleAt(at);
        ASSERT_TRUE(store.storeNextSample(s, 0)) << store.lastError().toStdString();
    }
    for (int64_t at = newest + 2991; at <= newest + 3000; ++at) {
        Sample s = sampleAt(at);
        s.values[0] = 999;
        ASSERT_TRUE(store.storeNextSample(s, 0));
    }
    EXPECT_EQ(store.readCounter(), kCounter + 3010);
    const auto all = everything(store);
    ASSERT_EQ(all.size(), size_t(kRingSize + 3010));
    EXPECT_EQ(all.front().at, kStart);  // the records the ring overwrote are still there
    EXPECT_EQ(all.front().values, valuesFor(0));
    EXPECT_EQ(std::tuple(all.back().at, all.back().seq, all.back().values[0]),
              std::tuple(newest + 3000, int64_t(1), 999.0f));
    EXPECT_EQ(store.archiveExtent(), (QPair<int64_t, int64_t>(kStart, newest + 3000)));
    expectRollupsMatchSeconds(store, "after the run");

    // An export of a span older than the ring comes from the archive.
    {
        store::CsvExport exporter(path, QStringLiteral("export"));
        store::ExportRange range{QDateTime::fromSecsSinceEpoch(kStart + 10),
                                 QDateTime::fromSecsSinceEpoch(kStart + 2009)};
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        ASSERT_EQ(exporter.write(out, range), 2000)
            << exporter.error().text(base::Lang::Stored).toStdString();
        EXPECT_EQ(out.data().split('\n').value(1) + '\n', csvRowAt(kStart + 10));
    }

    // Retention cuts in the middle of an hour, minute and ten minutes: the buckets across the cut
    // hold exactly the seconds after it, and the event log's rows before it go too.
    const int64_t cut = kStart + 4000 + 33;
    {
        events::EventStore events(path, QStringLiteral("events"));
        ASSERT_TRUE(events.open());
        std::vector<events::EventEntry> entries(2);
        for (int i = 0; i < 2; ++i) {
            entries[i].at = QDateTime::fromSecsSinceEpoch(cut - 1 + i);
            entries[i].kind = QStringLiteral("write");
        }
        ASSERT_TRUE(events.append(entries));
    }
    // A row from before events kept their UTC time goes by its local time.
    record_test::exec(path,
                      QStringLiteral("INSERT INTO events (at, kind) VALUES ('%1', 'write')")
                          .arg(events::eventTimeText(QDateTime::fromSecsSinceEpoch(cut - 2))));
    EXPECT_EQ(store.dropArchiveBefore(cut, &events::EventStore::removeBefore), 4033);
    EXPECT_EQ(store.archiveExtent()->first, cut);
    // The row kept, and the one that names the anchors the removal left.
    EXPECT_EQ(record_test::scalar(path, "SELECT group_concat(coalesce(code, '-')) FROM events")
                  .toString(),
              "-,chain.anchors");
    expectRollupsMatchSeconds(store, "after the cut");
}

TEST(Archive, RetentionDropsWholeDaysOldestFirstButNeverToday) {
    const QDate today(2026, 12, 8);
    const int64_t gb = int64_t(1) << 30;
    struct Case {
        const char* name;
        store::RetentionPolicy policy;
        QDate oldest;
        int64_t freeBytes;
        std::optional<QDate> drop;
        bool forAge;
    };
    const std::vector<Case> cases = {
        {"plenty of room, no day limit", {0, gb}, today.addDays(-400), 50 * gb, {}, false},
        {"past the days kept", {7, gb}, today.addDays(-7), 50 * gb, today.addDays(-7), true},
        {"the last day kept stays", {7, gb}, today.addDays(-6), 50 * gb, {}, false},
        {"short of space", {0, gb}, today.addDays(-3), gb - 1, today.addDays(-3), false},
        {"short of space, only today left", {0, gb}, today, 0, {}, false},
        {"no free-space rule", {0, 0}, today.addDays(-30), 0, {}, false},
        {"keep one day: yesterday goes", {1, 0}, today.addDays(-1), 0, today.addDays(-1), true},
    };
    for (const Case& c : cases) {
        const auto got = store::dayToDrop(c.policy, today, c.oldest, c.freeBytes);
        ASSERT_EQ(got.has_value(), c.drop.has_value()) << c.name;
        if (!got) continue;
        EXPECT_EQ(got->day, *c.drop) << c.name;
        EXPECT_EQ(got->forAge, c.forAge) << c.name;
    }
}

// The span reads run SQLite statements of their own on the store's connection: when the tables
// go from under them (another program drops them), every read fails and says so, again and again,
// instead of crashing or returning rows of nothing.
TEST(Archive, ReadsFailCleanlyWhenTheTablesGo) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Rdatabj.db"));
    SampleStore store(path, QStringLiteral("reader"));
    ASSERT_TRUE(store.open(SampleStore::Access::Record));
    std::vector<Sample> batch;
    for (int64_t at = kStart; at < kStart + 200; ++at)
        batch.push_back(sampleAt(at));
    ASSERT_TRUE(store.archiveBatch(batch));
    ASSERT_EQ(store.loadSpan(kStart, kStart + 199, 50)->size(), 4u);  // 1-minute buckets
    ASSERT_TRUE(record_test::exec(path, "DROP TABLE archive_rollup"));
    ASSERT_TRUE(record_test::exec(path, "DROP TABLE archive"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(store.loadSpan(kStart, kStart + 199, 50).has_value());
        EXPECT_FALSE(store.loadSpan(kStart, kStart + 199, 1000).has_value());
        EXPECT_FALSE(store.forEachArchived(kStart, kStart + 199,
                                           [](const ArchivedSample&) { return true; }));
        EXPECT_FALSE(store.loadArchivedAfter(0, 0, 10).has_value());
        EXPECT_EQ(store.lastFault(), SampleStore::Fault::Other);
    }
}

// Samples taken while the instrument's values were stale: the ring and the archive keep them as
// any other, the archive marks their seconds as stretches; the readers tell them apart (the
// export's state column, the report's pass, the span's stale rows in place of the seconds and of
// the rollups that hold nothing else); retention lets old marks go; a file from before the marks
// reads as it always did, also read-only, and gets its table when the recorder opens it.
TEST(Archive, StaleSecondsAreMarkedAndReadApart) {
    // The rule that makes them: values not read for 3 s while polled, or not polled at all.
    static_assert(!comm::valuesStale(true, 2999) && comm::valuesStale(true, 3000));
    static_assert(comm::valuesStale(false, 0) && !comm::valuesStale(true, 0));

    QTemporaryDir dir;
    const QString path = dir.filePath("stale.db");
    const auto isStale = [](int64_t n) { return (n >= 40 && n <= 170) || (n >= 200 && n <= 202); };
    {
        SampleStore store(path, QStringLiteral("stale-writer"));
        ASSERT_TRUE(store.open(SampleStore::Access::Record));
        for (int64_t n = 0; n < 300; ++n) {
            Sample s = sampleAt(kStart + n);
            s.id = int(n) + 1;
            s.stale = isStale(n);
            ASSERT_TRUE(store.storeSample(s));
        }
    }
    const auto readBack = [&](const QString& name, SampleStore::Access access,
                              const std::vector<std::pair<int64_t, int64_t>>& want) {
        SCOPED_TRACE(name.toStdString());
        SampleStore store(path, name);
        ASSERT_TRUE(store.open(access)) << store.lastError().toStdString();
        const auto spans = store.staleSpans(kStart, kStart + 299);
        ASSERT_TRUE(spans);
        std::vector<std::pair<int64_t, int64_t>> got;
        for (const auto& [first, last] : *spans)
            got.emplace_back(first - kStart, last - kStart);
        EXPECT_EQ(got, want);
        int seconds = 0, marked = 0;
        ASSERT_TRUE(store.forEachArchived(kStart, kStart + 299, [&](const ArchivedSample& a) {
            EXPECT_EQ(a.stale, !want.empty() && isStale(a.at - kStart)) << a.at - kStart;
            ++seconds;
            marked += a.stale;
            return true;
        }));
        EXPECT_EQ(seconds, 300);
        EXPECT_EQ(marked, want.empty() ? 0 : 134);
        // Seconds: the stale ones out, one stale row for each stretch in their place.
        const auto rows = store.loadSpan(kStart, kStart + 299, 1000);
        ASSERT_TRUE(rows);
        int staleRows = 0;
        for (const auto& r : *rows) {
            staleRows += r.stale;
            EXPECT_FALSE(!r.stale && !want.empty() && isStale(r.first - kStart));
        }
        EXPECT_EQ(rows->size() - staleRows, want.empty() ? 300u : 166u);
        EXPECT_EQ(staleRows, int(want.size()));
        // Minutes (kStart is 17 s past one): the two wholly stale ones go, the partly stale stay.
        const auto minutes = store.loadSpan(kStart, kStart + 299, 10);
        ASSERT_TRUE(minutes);
        int buckets = 0;
        for (const auto& r : *minutes)
            buckets += !r.stale;
        EXPECT_EQ(buckets, want.empty() ? 6 : 4);
        // The export marks the same seconds in its state column (the one before the time with its
        // offset).
        store::CsvExport csv(path, name + QStringLiteral("-csv"));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        ASSERT_EQ(csv.write(out, {}), 300);
        const QList<QByteArray> lines = out.data().split('\n');
        for (int64_t n = 0; n < 300; ++n) {
            const QList<QByteArray> cells = lines[n + 1].split(',');
            ASSERT_EQ(cells.size(), 13) << n;
            const bool mark = cells[11] == "数值过期";
            EXPECT_EQ(mark, !want.empty() && isStale(n)) << n;
            EXPECT_TRUE(mark || cells[11].isEmpty()) << n;
        }
    };
    const std::vector<std::pair<int64_t, int64_t>> marks = {{40, 170}, {200, 202}};
    readBack(QStringLiteral("reader"), SampleStore::Access::ReadOnly, marks);

    // A file from before the marks: every second a reading, read-only too.
    ASSERT_TRUE(record_test::exec(path, QStringLiteral("DROP TABLE archive_stale")));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner));
    readBack(QStringLiteral("old-reader"), SampleStore::Access::ReadOnly, {});
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    {
        SampleStore store(path, QStringLiteral("old-writer"));
        ASSERT_TRUE(store.open(SampleStore::Access::Record));
        Sample s = sampleAt(kStart + 300);
        s.id = 301;
        s.stale = true;
        ASSERT_TRUE(store.storeSample(s));
        const auto spans = store.staleSpans(kStart, kStart + 300);
        ASSERT_TRUE(spans);
        EXPECT_EQ(*spans, (std::vector<store::StaleSpan>{{kStart + 300, kStart + 300}}));
        // Retention takes the marks of the seconds it removes.
        ASSERT_TRUE(
            record_test::exec(path, QStringLiteral("INSERT INTO archive_stale VALUES (%1, %2)")
                                        .arg(kStart + 40)
                                        .arg(kStart + 170)));
        ASSERT_TRUE(store.dropArchiveBefore(kStart + 180));
        EXPECT_EQ(store.staleSpans(kStart, kStart + 300)->size(), 1u);
    }
}

// A file the other program keeps writing now and then. Before any recorder opened it, a reader
// takes the ring's records for the archive; after, each open by the recorder copies in the
// records whose seconds the archive lacks, once, and their rollups with them.
TEST(Archive, RingRecordsOfAnotherProgramReachTheArchiveOnce) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared.db"));
    ASSERT_TRUE(record_test::exec(path, store::schema::createSamplesTableSql()));
    ASSERT_TRUE(record_test::exec(path, store::schema::kCreateCounterTableSql));
    ASSERT_TRUE(record_test::exec(path, "INSERT INTO sl_void VALUES (0, 0, 0)"));
    writeRecords(path, 1, kStart, 100);
    {
        SampleStore reader(path, QStringLiteral("reader"));
        ASSERT_TRUE(reader.open(SampleStore::Access::ReadOnly)) << reader.lastError().toStdString();
        EXPECT_FALSE(reader.hasArchive());
        EXPECT_EQ(reader.archiveExtent(), (QPair<int64_t, int64_t>(kStart, kStart + 99)));
        const auto seconds = everything(reader);
        ASSERT_EQ(seconds.size(), 100u);
        EXPECT_EQ(std::tuple(seconds[42].at, seconds[42].values),
                  std::tuple(kStart + 42, valuesFor(42)));
        // One-minute buckets: kStart is 17 s past a minute.
        const auto minutes = reader.loadSpan(kStart, kStart + 99, 10);
        ASSERT_TRUE(minutes);
        ASSERT_EQ(minutes->size(), 2u);
        EXPECT_EQ(std::tuple((*minutes)[0].count, (*minutes)[1].count), std::tuple(43, 57));
    }
    const auto count = [&](const char* sql) { return record_test::scalar(path, sql).toInt(); };
    {
        SampleStore recorder(path, QStringLiteral("recorder"));
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record))
            << recorder.lastError().toStdString();
        for (int64_t n = 100; n < 150; ++n) {
            Sample s = sampleAt(kStart + n);
            ASSERT_TRUE(recorder.storeNextSample(s, 0));
        }
    }
    EXPECT_EQ(count("SELECT count(*) FROM archive"), 150);
    writeRecords(path, 151, kStart + 150, 50);
    for (int open = 0; open < 2; ++open) {
        SampleStore recorder(path, QStringLiteral("recorder"));
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record))
            << recorder.lastError().toStdString();
        EXPECT_EQ(count("SELECT count(*) FROM archive"), 200) << "open " << open;
        EXPECT_EQ(count("SELECT count(DISTINCT t) FROM archive"), 200) << "open " << open;
        EXPECT_EQ(recorder.archiveExtent(), (QPair<int64_t, int64_t>(kStart, kStart + 199)));
        expectRollupsMatchSeconds(recorder, "after the copy");
    }
}

// Records another program wrote into the ring while this one was not recording, with times
// older than the archive's newest second (its clock behind, or set back), reach the archive at the
// next open, once: the archive knows which ring record it took last, so neither a time zone
// changed since nor a writer that archived records without saying so doubles any, and what
// retention let go stays gone.
TEST(Archive, OlderRingRecordsOfAnotherProgramReachTheArchive) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("behind.db"));
    {
        SampleStore recorder(path, QStringLiteral("recorder"));
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record));
        for (int64_t n = 1000; n < 1050; ++n) {
            Sample s = sampleAt(kStart + n);
            ASSERT_TRUE(recorder.storeNextSample(s, 0));
        }
    }
    writeRecords(path, 51, kStart, 10);
    // A second the archive holds already, recorded again with other values (a clock set back).
    writeRecords(path, 61, kStart + 1010, 1, 1.0f);
    const auto count = [&](const QString& sql) {
        return record_test::scalar(path, sql).toLongLong();
    };
    const auto reopen = [&](const char* when) {
        SampleStore recorder(path, QStringLiteral("recorder"));
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record)) << when;
        expectRollupsMatchSeconds(recorder, when);
        store::Database db(path, QStringLiteral("check"));
        ASSERT_TRUE(db.open(store::FileAccess::ReadOnly, 2000));
        store::ChainVerifier verifier(db);
        while (!verifier.done())
            ASSERT_TRUE(verifier.step());
        EXPECT_TRUE(verifier.report().intact)
            << when << ": " << verifier.report().why.toStdString();
    };
    reopen("first open");
    EXPECT_EQ(count("SELECT count(*) FROM archive"), 61);
    for (int64_t n = 0; n < 10; ++n) {
        const auto a = QStringLiteral("FROM archive WHERE t = %1").arg(kStart + n);
        EXPECT_EQ(count("SELECT count(*) " + a), 1) << n;
        EXPECT_EQ(count("SELECT pv1 " + a), qRound(valuesFor(n)[0] * 100)) << n;
    }
    EXPECT_EQ(count(QStringLiteral("SELECT max(seq) FROM archive WHERE t = %1").arg(kStart + 1010)),
              1);
    {
        store::CsvExport csv(path, QStringLiteral("behind-csv"));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        ASSERT_EQ(csv.write(out, {}), 61);
        EXPECT_EQ(out.data().split('\n').value(1) + '\n', csvRowAt(kStart));
    }

#ifndef _WIN32
    // Another time zone gives the ring's local times other seconds: nothing is copied again.
    const QByteArray zone = qgetenv("TZ");
    const auto setZone = [](const QByteArray& z) {
        z.isNull() ? qunsetenv("TZ") : qputenv("TZ", z);
        tzset();
    };
    setZone(zone == "Asia/Tokyo" ? QByteArray("America/New_York") : QByteArray("Asia/Tokyo"));
    reopen("another zone");
    setZone(zone);
    EXPECT_EQ(count("SELECT count(*) FROM archive"), 61);
#endif
    // A writer that archived its records without moving the mark: they are held already.
    ASSERT_TRUE(record_test::exec(path, "UPDATE archive_meta SET value = 20 WHERE key = 'ring'"));
    reopen("mark behind");
    EXPECT_EQ(count("SELECT count(*) FROM archive"), 61);

    // Retention let the seconds before kStart + 1000 go; older records written after stay out.
    {
        SampleStore store(path, QStringLiteral("retention"));
        ASSERT_TRUE(store.open(SampleStore::Access::Record));
        ASSERT_EQ(store.dropArchiveBefore(kStart + 1000), 10);
    }
    writeRecords(path, 62, kStart + 2, 5);
    writeRecords(path, 67, kStart + 2000, 1);
    reopen("after retention");
    EXPECT_EQ(count("SELECT count(*) FROM archive"), 52);
    EXPECT_EQ(count("SELECT min(t) FROM archive") - kStart, 1000);
    EXPECT_EQ(count("SELECT max(t) FROM archive") - kStart, 2000);
}

// Two writers on one file: while the recorder stores a sample a second, another program puts
// records into the ring between them. Each reaches the archive with the recorder's next sample,
// whatever its time, so an export read meanwhile holds it, and a later open copies nothing again.
TEST(Archive, RingRecordsOfAnotherProgramReachTheArchiveWhileRecording) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("two writers.db"));
    const auto count = [&](const QString& sql) {
        return record_test::scalar(path, sql).toLongLong();
    };
    const auto exported = [&] {
        store::CsvExport csv(path, QStringLiteral("two-writers-csv"));
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        return csv.write(out, {});
    };
    SampleStore recorder(path, QStringLiteral("recorder"), SampleStore::Commit::Synced);
    ASSERT_TRUE(recorder.open(SampleStore::Access::Record)) << recorder.lastError().toStdString();
    int64_t next = 1000;  // the recorder's next second after kStart
    const auto record = [&](int n) {
        for (int i = 0; i < n; ++i) {
            Sample s = sampleAt(kStart + next++);
            ASSERT_TRUE(recorder.storeNextSample(s, 0)) << recorder.lastError().toStdString();
        }
    };
    record(50);
    const struct {
        const char* what;
        int64_t firstAt;  // after kStart; -1: the recorder's next second
        int count;
        float shift;         // the other program's values moved by this much
        int64_t sameSecond;  // archived rows of second firstAt afterwards
    } rounds[] = {
        {"older than the archive's newest second", 0, 5, 0, 1},
        {"a second archived already, other values (a clock set back)", 1010, 1, 1.0f, 2},
        {"newer than the recorder's next second", 1100, 3, 0, 1},
        {"in the second the recorder stores next", -1, 1, 2.0f, 2},
    };
    int64_t archived = 50;
    for (const auto& r : rounds) {
        SCOPED_TRACE(r.what);
        const int64_t at = kStart + (r.firstAt < 0 ? next : r.firstAt);
        writeRecords(path, *recorder.readCounter() + 1, at, r.count, r.shift);
        record(1);
        archived += r.count + 1;
        EXPECT_EQ(count("SELECT count(*) FROM archive"), archived);
        EXPECT_EQ(count(QStringLiteral("SELECT count(*) FROM archive WHERE t = %1").arg(at)),
                  r.sameSecond);
        EXPECT_EQ(exported(), archived);
    }
    // The other program's values, not the recorder's, in the second it wrote first.
    EXPECT_EQ(count(QStringLiteral("SELECT pv1 FROM archive WHERE t = %1").arg(kStart + 3)),
              qRound(valuesFor(3)[0] * 100));
    expectRollupsMatchSeconds(recorder, "while recording");
    recorder.close();
    {
        store::Database db(path, QStringLiteral("check"));
        ASSERT_TRUE(db.open(store::FileAccess::ReadOnly, 2000));
        store::ChainVerifier verifier(db);
        while (!verifier.done())
            ASSERT_TRUE(verifier.step());
        EXPECT_TRUE(verifier.report().intact) << verifier.report().why.toStdString();
    }
    ASSERT_TRUE(recorder.open(SampleStore::Access::Record));
    EXPECT_EQ(count("SELECT count(*) FROM archive"), archived);
}

// Where daylight saving ends, the ring's local times name the repeated hour's seconds twice: both
// records of such a second are copied together, as the first adoption copies them, and never again.
TEST(Archive, RepeatedHourOfTheRingIsCopiedWhole) {
    const QByteArray zone = qgetenv("TZ");
#ifdef _WIN32
    // Windows' C runtime reads TZ in a syntax of its own, without other zones' rules: the process
    // keeps the system's zone (under Wine the host's TZ, which ctest sets to Berlin's).
    qunsetenv("TZ");
#else
    qputenv("TZ", "Europe/Berlin");
#endif
    tzset();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("autumn.db"));
    {
        SampleStore store(path, QStringLiteral("make"));
        ASSERT_TRUE(store.open(SampleStore::Access::Record));
    }
    // 02:30:00 and 02:30:01 of 2026-10-25 in summer time, then 02:30:00 again in winter time.
    const int64_t summer = QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC).toSecsSinceEpoch();
    if (QDateTime::fromSecsSinceEpoch(summer).time() !=
        QDateTime::fromSecsSinceEpoch(summer + 3600).time()) {
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        tzset();
        GTEST_SKIP() << "local time has no repeated hour on 2026-10-25: not Berlin's zone";
    }
    writeRecords(path, 1, summer, 2);
    writeRecords(path, 3, summer + 3600, 1);
    for (int open = 0; open < 2; ++open) {
        SampleStore recorder(path, QStringLiteral("recorder"));
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record));
        const auto rows = everything(recorder);
        std::vector<std::pair<int64_t, int64_t>> keys;
        ASSERT_EQ(rows.size(), 3u) << "open " << open;
        for (const ArchivedSample& a : rows)
            keys.emplace_back(a.at - rows.front().at, a.seq);
        EXPECT_EQ(keys, (std::vector<std::pair<int64_t, int64_t>>{{0, 0}, {0, 1}, {1, 0}}))
            << "open " << open;
    }
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
}
