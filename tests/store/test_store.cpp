#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "../support/qtcomplaints.h"
#include "dbhelpers.h"
#include "store/ring.h"
#include "store/sqlitefile.h"
#include "store/store.h"

using store::Sample;
using store::SampleStore;
using namespace record_test;

namespace {

Sample sample(int id, double date, int secondOfDay, float base = 0) {
    Sample s;
    s.id = id;
    s.date = date;
    s.time = secondOfDay / 86400.0;
    for (int c = 0; c < 10; ++c)
        s.values[c] = base + c;
    return s;
}

std::vector<int> ids(const std::vector<Sample>& rows) {
    std::vector<int> out;
    for (const Sample& s : rows)
        out.push_back(s.id);
    return out;
}

// Opens a store for recording on a thread of its own while another connection of the program
// holds the file in the transaction that hold begins (its last statement's cursor left open), and
// ends it a moment later: the recorder waits it out instead of reporting a lock of another
// program.
void recorderWaitsOut(const QString& path, std::initializer_list<const char*> hold) {
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "holder");
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery q(other);
        for (const char* sql : hold)
            ASSERT_TRUE(q.exec(sql)) << sql;
        q.next();
        std::atomic<bool> opened{false};
        QString why;
        std::thread recorder([&] {
            SampleStore store(path, "startup-recorder");
            opened = store.open(SampleStore::Access::Record);
            why = store.lastError();
        });
        // Well within the recorder's patience on its first open.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        q.finish();
        const bool committed = q.exec("COMMIT");
        recorder.join();
        EXPECT_TRUE(committed);
        EXPECT_TRUE(opened) << why.toStdString();
        other.close();
    }
    QSqlDatabase::removeDatabase("holder");
}

}  // namespace

TEST(Ring, SecondsSinceIsAbsoluteAndWhole) {
    const double day = 46000;
    EXPECT_EQ(store::secondsSince(day, 5 / 86400.0, day, 4 / 86400.0), 1);
    EXPECT_EQ(store::secondsSince(day, 0, day, 3600 / 86400.0), 3600);    // clock set back
    EXPECT_EQ(store::secondsSince(day + 1, 0, day, 86399 / 86400.0), 1);  // across midnight
    EXPECT_EQ(store::secondsSince(day, 0.4 / 86400.0, day, 0), 0);
    EXPECT_EQ(store::secondsSince(day, 43200 / 86400.0, day, 43199 / 86400.0), 1);
    EXPECT_GT(store::secondsSince(day, 0, 0, 0), 1e9);  // nothing stored yet
}

// Every count of ring places goes through ringStep: the recorder's next record, the chart's pages
// back, the forwarder's next places and the ranges that hold them.
TEST(Ring, SteppingWrapsAfterTheLastPlace) {
    struct Case {
        int64_t place, steps;
        int32_t expected;
    } steps[] = {
        {1, 1, 2},       {65499, 1, 65500}, {65500, 1, 1},    {0, 1, 1},
        {65490, 30, 20}, {5000, -60, 4940}, {60, -60, 65500}, {50, -60, 65490},
        {0, 0, 65500},   {-5, 0, 65495},    {1, 65500, 1},    {3, -3 * 65500LL, 3},
    };
    for (const Case& c : steps)
        EXPECT_EQ(store::ringStep(c.place, c.steps), c.expected) << c.place << " " << c.steps;
    // A counter outside the ring counts as 0.
    for (const auto& [counter, next] : std::vector<std::pair<int64_t, int32_t>>{
             {0, 1}, {41, 42}, {65499, 65500}, {65500, 1}, {70000, 1}, {-3, 1}})
        EXPECT_EQ(store::nextRecordNo(counter), next) << counter;
    using Ranges = std::vector<QPair<int, int>>;
    EXPECT_EQ(store::ringRanges(65499, 4), (Ranges{{65499, 65500}, {1, 2}}));
    EXPECT_EQ(store::ringRanges(1, store::kRingSize), (Ranges{{1, store::kRingSize}}));
    EXPECT_EQ(store::ringRanges(7, 70000), (Ranges{{7, 65500}, {1, 6}}));
    EXPECT_TRUE(store::ringRanges(5, 0).empty());
}

// The forwarder's view: an existing ring only, read in ring order across the wrap; nothing made.
TEST(SampleStore, ReadOnlyReadsPlacesInRingOrderAndMakesNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ring.db");
    SampleStore reader(path, QStringLiteral("reader"));
    EXPECT_FALSE(reader.open(SampleStore::Access::ReadOnly));
    EXPECT_FALSE(QFile::exists(path));
    writeFile(path, QByteArray());
    EXPECT_FALSE(reader.open(SampleStore::Access::ReadOnly));  // no ring in it yet
    EXPECT_EQ(fileBytes(path), QByteArray());
    {
        SampleStore writer(path, QStringLiteral("writer"));
        ASSERT_TRUE(writer.open());
        // Clock set back at the wrap: ring order is not time order.
        for (const Sample& s : {sample(65499, 46000, 10), sample(65500, 46000, 11),
                                sample(1, 46000, 5), sample(2, 46000, 6)})
            ASSERT_TRUE(writer.storeSample(s));
    }
    ASSERT_TRUE(reader.open(SampleStore::Access::ReadOnly)) << reader.lastError().toStdString();
    ASSERT_TRUE(reader.beginRead());
    EXPECT_EQ(reader.readCounter(), 2);
    const auto rows = reader.loadPlaces(65499, 5);
    reader.endRead();
    ASSERT_TRUE(rows);
    EXPECT_EQ(ids(*rows), (std::vector<int>{65499, 65500, 1, 2}));  // place 3 is empty
    EXPECT_FALSE(reader.storeSample(sample(3, 46000, 7)));
}

TEST(SampleStore, CreatesFolderFileTablesAndCounterRow) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath(QStringLiteral("a/b/Rdatabj.db"));
    SampleStore store(path, QStringLiteral("create"));
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    EXPECT_TRUE(store.isOpen());
    EXPECT_EQ(store.readCounter(), 0);
    store.close();
    EXPECT_FALSE(store.isOpen());

    EXPECT_EQ(scalar(path, "PRAGMA journal_mode").toString().toStdString(), "wal");
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM sl_void").toInt(), 1);
    EXPECT_EQ(scalar(path, "SELECT last_id + last_id_copy + spare FROM sl_void").toInt(), 0);
    QStringList columns;
    withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.exec("PRAGMA table_info(pv_data)");
        while (q.next())
            columns << q.value(1).toString() + ' ' + q.value(2).toString();
    });
    EXPECT_EQ(columns.join(','),
              "w_id INTEGER,w_date REAL,w_time REAL,pv1 REAL,pv2 REAL,sv1 REAL,sv2 REAL,"
              "out1_pct REAL,out2_pct REAL,alarm1_type REAL,alarm2_type REAL,control1 REAL,"
              "control2 REAL");

    // Reopening an existing store changes nothing.
    ASSERT_TRUE(store.open());
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM sl_void").toInt(), 1);
}

TEST(SampleStore, AddsAMissingCounterRowAndKeepsRecords) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    {
        SampleStore store(path, "first");
        ASSERT_TRUE(store.open());
        ASSERT_TRUE(store.storeSample(sample(7, 46000, 10)));
    }
    ASSERT_TRUE(exec(path, "DELETE FROM sl_void"));
    SampleStore store(path, "second");
    ASSERT_TRUE(store.open());
    EXPECT_EQ(store.readCounter(), 0);
    EXPECT_TRUE(store.loadRecord(7).has_value());
    // A counter row deleted while the store is open is put back by the next sample.
    ASSERT_TRUE(exec(path, "DELETE FROM sl_void"));
    ASSERT_TRUE(store.storeSample(sample(8, 46000, 11)));
    EXPECT_EQ(store.readCounter(), 8);
}

TEST(SampleStore, StoresOverwritesAndSetsBothCounterColumns) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    SampleStore store(path, "store");
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.storeSample(sample(1, 46000, 5, 1.5f)));
    ASSERT_TRUE(store.storeSample(sample(2, 46000, 6, -3.25f)));
    ASSERT_TRUE(store.storeSample(sample(1, 46001, 7, 100.0f)));  // overwritten in place

    EXPECT_EQ(store.readCounter(), 1);
    EXPECT_EQ(scalar(path, "SELECT last_id_copy FROM sl_void").toInt(), 1);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM pv_data").toInt(), 2);

    const auto r1 = store.loadRecord(1);
    ASSERT_TRUE(r1);
    EXPECT_EQ(r1->date, 46001);
    EXPECT_DOUBLE_EQ(r1->time, 7 / 86400.0);
    EXPECT_EQ(r1->values[0], 100.0f);
    EXPECT_EQ(r1->values[9], 109.0f);
    const auto r2 = store.loadRecord(2);
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->values[3], -0.25f);
    EXPECT_FALSE(store.loadRecord(3));
}

TEST(SampleStore, WindowsComeInTimeOrderWithAndWithoutTheWrap) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    SampleStore store(path, "windows");
    ASSERT_TRUE(store.open());
    // A ring that has wrapped: records 65496..65500 are older than 1..4.
    int second = 0;
    for (int id = 65496; id <= 65500; ++id)
        ASSERT_TRUE(store.storeSample(sample(id, 46000, 86395 + second++)));
    for (int id = 1; id <= 4; ++id)
        ASSERT_TRUE(store.storeSample(sample(id, 46001, id)));
    for (int id = 5; id <= 9; ++id)
        ASSERT_TRUE(store.storeSample(sample(id, 45000, id)));  // old records of the first round

    EXPECT_EQ(ids(store.loadBetween(1, 4)), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(ids(store.loadBetween(4, 2)), (std::vector<int>{2, 3, 4}));  // unordered bounds
    // The window of 3 records ending at 2, across the wrap.
    EXPECT_EQ(ids(store.loadNotBetween(3, 65499)), (std::vector<int>{65500, 1, 2}));
    EXPECT_EQ(ids(store.loadNotBetween(65499, 3)), (std::vector<int>{65500, 1, 2}));
    // Ordered by date, then time, not by number.
    EXPECT_EQ(ids(store.loadBetween(3, 6)), (std::vector<int>{5, 6, 3, 4}));
    EXPECT_TRUE(store.loadBetween(100, 200).empty());
}

TEST(SampleStore, ClosedStoreFailsQuietly) {
    QTemporaryDir tmp;
    SampleStore store(tmp.filePath("x.db"), "closed");
    EXPECT_FALSE(store.readCounter());
    EXPECT_FALSE(store.storeSample(sample(1, 1, 1)));
    EXPECT_TRUE(store.loadBetween(1, 10).empty());
    EXPECT_TRUE(store.loadNotBetween(1, 10).empty());
    EXPECT_FALSE(store.loadRecord(1));
    EXPECT_EQ(store.lastFault(), SampleStore::Fault::NotOpen);
    EXPECT_FALSE(store.lastError().isEmpty());
}

TEST(SampleStore, EmptyFileBecomesADatabase) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    writeFile(path, {});
    SampleStore store(path, "empty");
    ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    EXPECT_TRUE(store.storeSample(sample(1, 46000, 1)));
}

TEST(SampleStore, CorruptDatabaseIsReportedAndLeftAlone) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    {
        SampleStore store(path, "fill");
        ASSERT_TRUE(store.open());
        for (int id = 1; id <= 200; ++id)
            ASSERT_TRUE(store.storeSample(sample(id, 46000, id)));
    }
    // Everything after the header page is overwritten with noise.
    QByteArray bytes = fileBytes(path);
    ASSERT_GT(bytes.size(), 8192);
    for (int i = 4096; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7919 % 251);
    writeFile(path, bytes);

    SampleStore store(path, "corrupt");
    const bool opened = store.open();
    if (opened) {
        // The damage may only show on the pages a statement reads.
        EXPECT_FALSE(store.storeSample(sample(150, 46001, 1)));
        EXPECT_TRUE(store.loadBetween(1, 200).size() < 200);
    }
    EXPECT_EQ(store.lastFault(), SampleStore::Fault::Corrupt) << store.lastError().toStdString();
    store.close();
    EXPECT_EQ(fileBytes(path), bytes);
}

// Tables the ring cannot work with are refused and left as they are; a w_id that is a unique key
// by any means is the ring's.
TEST(SampleStore, TablesOfAnotherShapeAreLeftAlone) {
    const QString cols =
        "w_date REAL, w_time REAL, a REAL, b REAL, c REAL, d REAL, e REAL, f REAL, g REAL, h REAL, "
        "i REAL, j REAL";
    struct Case {
        QString sql;
        SampleStore::Fault fault;
    } cases[] = {
        {"CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, w_date REAL)",
         SampleStore::Fault::WrongTables},
        {"CREATE TABLE pv_data (w_id INTEGER, " + cols + ")", SampleStore::Fault::IdNotUnique},
        {"CREATE TABLE pv_data (w_id INTEGER, " + cols + ", PRIMARY KEY (w_id, w_date))",
         SampleStore::Fault::IdNotUnique},
        {"CREATE TABLE pv_data (w_id INTEGER, " + cols +
             "); CREATE UNIQUE INDEX part ON pv_data (w_id) WHERE w_id > 10",
         SampleStore::Fault::IdNotUnique},
        {"CREATE TABLE pv_data (w_id INTEGER, " + cols + "); CREATE INDEX plain ON pv_data (w_id)",
         SampleStore::Fault::IdNotUnique},
        {"CREATE TABLE pv_data (w_id INTEGER UNIQUE, " + cols + ")", SampleStore::Fault::None},
        {"CREATE TABLE pv_data (w_id INTEGER, " + cols +
             "); CREATE UNIQUE INDEX \"my \"\"key\"\"\" ON pv_data (W_ID)",
         SampleStore::Fault::None},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Case& c : cases) {
        const QString path = tmp.filePath(QString::number(++n));
        withDb(path, [&](QSqlDatabase& db) {
            for (const QString& sql : c.sql.split("; "))
                ASSERT_TRUE(QSqlQuery(db).exec(sql)) << sql.toStdString();
            ASSERT_TRUE(QSqlQuery(db).exec("INSERT INTO pv_data (w_id) VALUES (1)"));
        });
        const QByteArray before = fileBytes(path);
        SampleStore store(path, "shape");
        EXPECT_EQ(store.open(), c.fault == SampleStore::Fault::None) << c.sql.toStdString();
        EXPECT_EQ(store.lastFault(), c.fault) << c.sql.toStdString();
        if (c.fault == SampleStore::Fault::None) {
            // The ring overwrites record 1 in place.
            EXPECT_TRUE(store.storeSample(sample(1, 46000, 1)));
            EXPECT_EQ(scalar(path, "SELECT count(*) FROM pv_data").toInt(), 1);
        } else {
            EXPECT_EQ(fileBytes(path), before) << c.sql.toStdString();
        }
        if (c.fault == SampleStore::Fault::IdNotUnique) {
            EXPECT_EQ(store.lastError(), QStringLiteral("数据库表 pv_data 的 w_id 不是唯一键"));
        }
    }
}

// Another connection in a write transaction: the store reads, refuses to write at once (the UI
// thread must not wait), and writes again once the lock is gone.
TEST(SampleStore, LockedFileFailsFastAndRecovers) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    SampleStore store(path, "locked");
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.storeSample(sample(1, 46000, 1)));

    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other-writer");
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery q(other);
        ASSERT_TRUE(q.exec("BEGIN IMMEDIATE"));
        ASSERT_TRUE(q.exec("UPDATE sl_void SET spare = 1"));

        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(store.storeSample(sample(2, 46000, 2)));
        EXPECT_LT(t.elapsed(), 1000);  // not the driver's default wait of several seconds
        EXPECT_EQ(store.lastFault(), SampleStore::Fault::Locked);
        EXPECT_EQ(store.lastError(), QStringLiteral("数据库文件被其他程序锁定"));
        EXPECT_EQ(store.readCounter(), 1);  // readers go on in WAL mode

        // A second store opening meanwhile (the main window's) still opens for reading.
        SampleStore reader(path, "reader");
        EXPECT_TRUE(reader.open()) << reader.lastError().toStdString();
        EXPECT_EQ(reader.loadBetween(1, 10).size(), 1u);

        ASSERT_TRUE(q.exec("COMMIT"));
        other.close();
    }
    QSqlDatabase::removeDatabase("other-writer");
    EXPECT_TRUE(store.storeSample(sample(2, 46000, 2)));
    EXPECT_EQ(store.readCounter(), 2);
}

// A chamber's new file: another connection of the program (the event log, say) is making its
// tables when the recorder first looks at them. The recorder waits for it from its very first
// statement instead of reporting a lock of another program.
TEST(SampleStore, RecorderOpeningANewFileWaitsOutTheTablesBeingMade) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    recorderWaitsOut(path, {"BEGIN EXCLUSIVE", "CREATE TABLE events (id INTEGER)"});
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM sl_void").toInt(), 1);
}

// An original file (rollback journal, ring only) opened by the recorder while another connection
// of the program reads it, as the event log, the runs and the chart do at start-up: the switch to
// WAL waits for the reader to finish instead of reporting a lock of another program.
TEST(SampleStore, RecorderOpeningAnOriginalFileWaitsOutAReader) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    ASSERT_TRUE(exec(path,
                     "CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, w_date REAL, w_time "
                     "REAL, a REAL, b REAL, c REAL, d REAL, e REAL, f REAL, g REAL, h REAL, "
                     "i REAL, j REAL)"));
    ASSERT_TRUE(exec(path, "CREATE TABLE sl_void (a INTEGER, b INTEGER, c INTEGER)"));
    ASSERT_TRUE(exec(path, "INSERT INTO sl_void VALUES (0, 0, 0)"));
    recorderWaitsOut(path, {"BEGIN", "SELECT count(*) FROM pv_data"});
    EXPECT_EQ(scalar(path, "PRAGMA journal_mode").toString().toStdString(), "wal");
}

// Another owner of a store's connection name, letting go of the name or asking for it (and
// keeping it), never takes the store's connection from under its statements: Qt would say
// "QSqlQuery::prepare: no driver" and the like on standard error, and the store's statements
// would run on the other owner's file. The reader's stale marks' statements are the ones prepared
// late, at its first look at the marks.
TEST(SampleStore, StatementsNeverOutliveTheirConnection) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gone.db");
    using Owner = std::shared_ptr<store::SqliteFile>;
    struct Case {
        const char* how;
        // Returns the other owner, kept while the store goes on.
        std::function<Owner(const QString& connection)> meddle;
    };
    const std::vector<Case> cases = {
        {"another owner of the name lets go",
         [](const QString& c) {
             store::SqliteFile(c).close();
             return Owner();
         }},
        {"another owner of the name asks for it",
         [&](const QString& c) {
             auto other = std::make_shared<store::SqliteFile>(c);
             EXPECT_FALSE(other->open(path, true, 5));
             return other;
         }},
    };
    int64_t at = 1'700'000'000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        const qsizetype complaintsBefore = testsupport::qtComplaints().size();
        const QString recorderName = QStringLiteral("gone-recorder-%1").arg(at);
        const QString readerName = QStringLiteral("gone-reader-%1").arg(at);
        SampleStore recorder(path, recorderName), reader(path, readerName);
        at += 100;
        const auto staleSample = [&] {
            Sample s = sample(0, 45000, 0);
            s.at = ++at;
            s.stale = true;
            return s;
        };
        Sample first = staleSample(), second = staleSample();
        ASSERT_TRUE(recorder.open(SampleStore::Access::Record));
        ASSERT_TRUE(recorder.storeNextSample(first, 0));
        ASSERT_TRUE(reader.open());

        const Owner others[] = {c.meddle(recorderName), c.meddle(readerName)};
        EXPECT_EQ(reader.staleSpans(first.at, first.at),
                  (std::vector<store::StaleSpan>{{first.at, first.at}}));
        EXPECT_TRUE(recorder.storeNextSample(second, first.id));
        EXPECT_EQ(reader.staleSpans(first.at, second.at),
                  (std::vector<store::StaleSpan>{{first.at, second.at}}));
        EXPECT_EQ(reader.readCounter(), second.id);
        EXPECT_EQ(testsupport::qtComplaints(complaintsBefore).join(u'\n').toStdString(), "");
    }
}
