#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <memory>

#include "base/oledate.h"
#include "comm/link.h"
#include "dbhelpers.h"
#include "fakemodbus.h"
#include "store/recorder.h"

using store::ManualClock;
using store::Recorder;
using namespace record_test;

namespace {

class RecorderTest : public ::testing::Test {
  protected:
    QTemporaryDir tmp;
    QString path = tmp.filePath("Rdatabj.db");
    ManualClock clock{QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0))};
    std::array<float, 10> live{};
    std::unique_ptr<Recorder> rec;
    std::vector<store::Sample> heard;  // what sampleStored said, in order

    void make() {
        listen(std::make_unique<Recorder>(path, clock, [this] { return live; }));
    }
    void listen(std::unique_ptr<Recorder> r) {
        rec = std::move(r);
        QObject::connect(rec.get(), &Recorder::sampleStored,
                         [this](const store::Sample& s) { heard.push_back(s); });
    }
    void makeAndStart() {
        make();
        rec->start();
    }
    // One tick of the timer, and the store thread's work for it done.
    void tick() {
        rec->tick();
        ASSERT_TRUE(rec->waitForStore());
    }
    // One tick in each of the next n clock seconds.
    void tickSeconds(int n) {
        for (int i = 0; i < n; ++i) {
            clock.advance(1);
            tick();
        }
    }
    int records() { return scalar(path, "SELECT count(*) FROM pv_data").toInt(); }
    int counter() { return scalar(path, "SELECT last_id FROM sl_void").toInt(); }
    int counterCopy() { return scalar(path, "SELECT last_id_copy FROM sl_void").toInt(); }
    bool recording() { return rec->statusText().startsWith(QStringLiteral("记录中：第 ")); }
};

}  // namespace

TEST_F(RecorderTest, FirstTickStoresAndNamesTheRecordInTheStatus) {
    make();
    EXPECT_EQ(rec->statusText(), QStringLiteral("记录未启动"));
    QSignalSpy changed(rec.get(), &Recorder::statusChanged);
    rec->start();
    EXPECT_TRUE(rec->running());
    live = {1, 2, 3, 4, 5, 6, 7, 8, 100, 0};
    tick();
    EXPECT_EQ(rec->lastRecordNo(), 1);
    EXPECT_EQ(rec->statusText(), QStringLiteral("记录中：第 1 条"));
    EXPECT_GE(changed.count(), 1);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].id, 1);
    EXPECT_EQ(heard[0].date, base::oleDate(QDate(2026, 3, 1)));
    EXPECT_DOUBLE_EQ(heard[0].time, 36000 / 86400.0);
    EXPECT_EQ(heard[0].values, live);
    EXPECT_EQ(scalar(path, "SELECT pv1 + pv2 + control1 FROM pv_data WHERE w_id = 1").toInt(), 103);
    rec->stop();
    EXPECT_FALSE(rec->running());
    EXPECT_EQ(rec->statusText(), QStringLiteral("记录已停止"));
}

// The ring: where the next record goes for each counter value found in the file.
TEST_F(RecorderTest, RingFollowsTheCounterRow) {
    struct Case {
        int counter;
        int next;
    } cases[] = {{0, 1}, {41, 42}, {65499, 65500}, {65500, 1}, {70000, 1}, {-5, 1}};
    makeAndStart();
    tick();  // record 1 exists from here on, dated 10:00:00
    for (const Case& c : cases) {
        ASSERT_TRUE(exec(path, QStringLiteral("UPDATE sl_void SET last_id = %1").arg(c.counter)));
        const int before = records();
        const bool exists = scalar(path, QStringLiteral("SELECT count(*) FROM pv_data WHERE w_id "
                                                        "= %1")
                                             .arg(c.next))
                                .toInt() == 1;
        tickSeconds(1);
        EXPECT_EQ(rec->lastRecordNo(), c.next) << c.counter;
        EXPECT_EQ(counter(), c.next) << c.counter;
        EXPECT_EQ(counterCopy(), c.next) << c.counter;
        EXPECT_EQ(records(), before + (exists ? 0 : 1)) << c.counter;
        // The record holds this second's sample, overwritten in place where it existed.
        EXPECT_DOUBLE_EQ(
            scalar(path, QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = %1").arg(c.next))
                .toDouble(),
            base::oleTime(clock.now().time()))
            << c.counter;
    }
}

TEST_F(RecorderTest, OneSamplePerClockSecond) {
    clock.set(QDateTime(QDate(2026, 3, 2), QTime(0, 0, 5)));
    makeAndStart();
    tick();
    tick();  // same second
    tick();
    EXPECT_EQ(records(), 1);
    EXPECT_EQ(scalar(path, "SELECT w_time FROM pv_data WHERE w_id = 1").toDouble(), 5 / 86400.0);
    EXPECT_EQ(scalar(path, "SELECT w_date FROM pv_data WHERE w_id = 1").toDouble(),
              base::oleDate(QDate(2026, 3, 2)));
    EXPECT_EQ(rec->secondsSinceLatestSample(), 0);
    clock.advance(1);
    EXPECT_EQ(rec->secondsSinceLatestSample(), 1);
    tick();
    tick();
    EXPECT_EQ(records(), 2);

    // The clock set back an hour: stored on the next tick, then once a second as before.
    clock.advance(-3600);
    EXPECT_EQ(rec->secondsSinceLatestSample(), 3600);
    tick();
    EXPECT_EQ(records(), 3);
    tick();
    EXPECT_EQ(records(), 3);
    tickSeconds(3);
    EXPECT_EQ(records(), 6);
    EXPECT_EQ(counter(), 6);
}

TEST_F(RecorderTest, SampleStoredOnlyOnceCommitted) {
    makeAndStart();
    tick();
    // A listener hears of the record only once the store thread has committed it.
    clock.advance(1);
    rec->tick();
    EXPECT_EQ(heard.size(), 1u);
    ASSERT_TRUE(rec->waitForStore());
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].id, 2);
    EXPECT_EQ(records(), 2);
    tick();  // same second: nothing new
    EXPECT_EQ(heard.size(), 2u);
}

// With the port closed the image holds zeros, and a record of zeros is stored every second.
TEST_F(RecorderTest, PortClosedStoresZerosEverySecond) {
    comm::Link link(std::make_unique<testing_support::FakeModbus>());
    listen(std::make_unique<Recorder>(path, clock, [&link] {
        std::array<float, 10> v{};
        for (int i = 0; i < 10; ++i)
            v[i] = link.image().LiveValues[i];
        return v;
    }));
    rec->start();
    tick();
    tickSeconds(4);
    EXPECT_EQ(records(), 5);
    EXPECT_EQ(
        scalar(path,
               "SELECT count(*) FROM pv_data WHERE pv1 = 0 AND pv2 = 0 AND sv1 = 0 AND sv2 = 0 "
               "AND out1_pct = 0 AND out2_pct = 0 AND alarm1_type = 0 AND alarm2_type = 0 AND "
               "control1 = 0 AND control2 = 0")
            .toInt(),
        5);
}

// The timer drives the recorder by itself once started.
TEST_F(RecorderTest, TimerTicks) {
    makeAndStart();
    QElapsedTimer t;
    t.start();
    while (records() < 1 && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(records(), 1);
}

// A counter row that cannot be read leaves the number of the previous tick, still advancing.
TEST_F(RecorderTest, UnreadableCounterKeepsTheNumberGoing) {
    makeAndStart();
    tickSeconds(3);
    ASSERT_EQ(rec->lastRecordNo(), 3);
    ASSERT_TRUE(exec(path, "UPDATE sl_void SET last_id = NULL"));
    tickSeconds(1);
    EXPECT_EQ(rec->lastRecordNo(), 4);
    EXPECT_EQ(counter(), 4);
}

// Each unusable file: nothing crashes, the status says why and how many samples wait in memory,
// a failed second is not retried within its second, and once the file can be used every held
// sample goes in with its own time, in order.
TEST_F(RecorderTest, FolderThatCannotBeCreated) {
    writeFile(tmp.filePath("blocker"), "x");
    path = tmp.filePath("blocker/Rdatabj.db");
    makeAndStart();
    tick();
    EXPECT_EQ(rec->statusText(),
              QStringLiteral("记录已停止：无法创建数据库文件夹，每秒重试；内存中 1 个样本待写入"));
    EXPECT_EQ(heard.size(), 1u);  // the live curve goes on without the file
    tickSeconds(2);
    ASSERT_TRUE(QFile::remove(tmp.filePath("blocker")));
    tickSeconds(1);
    EXPECT_TRUE(recording()) << rec->statusText().toStdString();
    EXPECT_EQ(records(), 4);
    EXPECT_EQ(counter(), 4);
}

// A store that refuses writes for a spell and then takes them again: every second is stored, in
// order, with its own time, and the status counted the seconds waiting meanwhile.
TEST_F(RecorderTest, ReadOnlyFile) {
    makeAndStart();
    tickSeconds(2);
    rec->stop();
    ASSERT_TRUE(rec->waitForStore());
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner));
    const QByteArray before = fileBytes(path);
    rec->start();
    tickSeconds(30);
    EXPECT_EQ(rec->statusText(),
              QStringLiteral("记录已停止：数据库文件只读，每秒重试；内存中 30 个样本待写入"));
    EXPECT_EQ(fileBytes(path), before);
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    tickSeconds(1);
    EXPECT_TRUE(recording());
    EXPECT_EQ(records(), 33);
    EXPECT_EQ(counter(), 33);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM archive").toInt(), 33);
    // One record per clock second, in ring order.
    std::vector<double> times;
    withDb(path, [&](QSqlDatabase& db) {
        QSqlQuery q("SELECT w_date + w_time FROM pv_data ORDER BY w_id", db);
        while (q.next())
            times.push_back(q.value(0).toDouble());
    });
    ASSERT_EQ(times.size(), 33u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_NEAR((times[i] - times[i - 1]) * 86400, 1, 1e-3) << "record " << i + 1;
}

TEST_F(RecorderTest, LockedByAnotherProcess) {
    makeAndStart();
    tickSeconds(1);
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + "/record_child", {"lock", path});
    ASSERT_TRUE(holder.waitForStarted(5000));
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_TRUE(holder.readLine().startsWith("locked"));
    tickSeconds(2);
    EXPECT_EQ(
        rec->statusText(),
        QStringLiteral("记录已停止：数据库文件被其他程序锁定，每秒重试；内存中 2 个样本待写入"));
    // The holder dies without letting go: its lock goes with it.
    holder.kill();
    holder.waitForFinished(5000);
    EXPECT_EQ(records(), 1);
    tickSeconds(1);
    EXPECT_TRUE(recording()) << rec->statusText().toStdString();
    // The held seconds go in behind the first, then the new one.
    EXPECT_EQ(records(), 4);
    EXPECT_EQ(counter(), 4);
    EXPECT_EQ(scalar(path, "PRAGMA integrity_check").toString(), "ok");
}

// The counter row refuses its update after the sample went in: the transaction takes the sample
// back, the counter keeps its value, and the chart is not told of a record that does not exist.
TEST_F(RecorderTest, FailedCounterWriteLeavesNoSample) {
    makeAndStart();
    tickSeconds(2);
    ASSERT_TRUE(exec(path,
                     "CREATE TRIGGER refuse BEFORE UPDATE ON sl_void BEGIN SELECT RAISE(ABORT, "
                     "'refused'); END"));
    tickSeconds(1);
    EXPECT_EQ(records(), 2);
    EXPECT_EQ(counter(), 2);
    EXPECT_EQ(counterCopy(), 2);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM pv_data WHERE w_id = 3").toInt(), 0);
    EXPECT_TRUE(rec->statusText().startsWith(QStringLiteral("记录已停止：")))
        << rec->statusText().toStdString();
    ASSERT_TRUE(exec(path, "DROP TRIGGER refuse"));
    tickSeconds(1);
    EXPECT_TRUE(recording());
    EXPECT_EQ(records(), 4);  // the refused second too, held until the file took it
    EXPECT_EQ(counter(), 4);
}
