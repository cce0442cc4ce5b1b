// The real program, recording the simulated instrument at a fast clock, killed with SIGKILL at
// random moments, fifty times in a row on one file. After each kill the file is sound, the counter
// row names the newest record, the ring advanced only over the records the run overwrote (nothing
// else was lost), every record the run wrote holds the values of one moment, and the archive
// holds every record ever written, once; the hash chains over the events and the archived hours
// verify.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <random>

#include "dbcheck.h"
#include "store/store.h"

using hardening::scalar;
using hardening::withDatabase;

namespace {

constexpr int kRing = store::kRingSize;
constexpr int kStartCounter = 65450;  // the runs go round the ring's end
constexpr int kLapAfter = 600;        // older records the runs overwrite after the wrap
constexpr int kRuns = 50;
// The runs' clocks run 50 times fast, each in a zone further east. Windows takes the local time
// from its own zone setting, which TZ does not change (only the C runtime reads it; under Wine a
// TZ a Windows program gives its child does not reach the child's clock): there the runs keep the
// real clock, which moves on between them by itself.
#ifdef _WIN32
constexpr bool kFastClock = false;
#else
constexpr bool kFastClock = true;
#endif
// 1899-12-30, the OLE dates' day 0, in seconds since 1970.
constexpr qint64 kOleEpochSecs = -2209161600;

struct Row {
    double date = 0, time = 0;
    bool operator==(const Row&) const = default;
};
struct NewRow {
    double date = 0, time = 0;
    bool anyNull = false;
    double pv1 = 0, pv2 = 0, sv1 = 0, sv2 = 0;
};

QHash<int, Row> snapshot(const QString& path) {
    QHash<int, Row> rows;
    withDatabase(path, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec("SELECT w_id, w_date, w_time FROM pv_data");
        while (q.next())
            rows.insert(q.value(0).toInt(), {q.value(1).toDouble(), q.value(2).toDouble()});
    });
    return rows;
}

// Records of an older lap around the counter, which the runs overwrite: up to the counter a day
// newer than the stretch after it (and after the wrap). The rest of the ring stays empty, which
// keeps the checks after each kill quick.
void prefill(const QString& path) {
    {
        store::SampleStore store(path, "prefill");
        ASSERT_TRUE(store.open()) << store.lastError().toStdString();
    }
    withDatabase(path, [](QSqlDatabase& db) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("BEGIN"));
        ASSERT_TRUE(
            q.prepare("INSERT INTO pv_data VALUES (?, ?, ?, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10)"));
        for (int id = kStartCounter - 100; id <= kRing + kLapAfter; ++id) {
            q.bindValue(0, (id - 1) % kRing + 1);
            q.bindValue(1, id <= kStartCounter ? 36001.0 : 36000.0);
            q.bindValue(2, id / 100000.0);
            ASSERT_TRUE(q.exec());
        }
        ASSERT_TRUE(q.exec(
            QString("UPDATE sl_void SET last_id = %1, last_id_copy = %1").arg(kStartCounter)));
        ASSERT_TRUE(q.exec("COMMIT"));
    });
}

bool newer(const NewRow& a, const Row& b) {
    return a.date > b.date || (a.date == b.date && a.time > b.time);
}

}  // namespace

TEST(KilledProgram, FiftyKillsLeaveASoundRing) {
    const QString binDir = qEnvironmentVariable("VELMARS_BIN_DIR");
    ASSERT_FALSE(binDir.isEmpty()) << "VELMARS_BIN_DIR is set by the test registration";
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    prefill(path);
    if (HasFatalFailure()) return;

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 gen(seed);
    // Most runs are killed while they record: a moment after they stored their second sample,
    // however long a loaded machine takes to start the program. Every fifth is killed at a
    // moment of its start-up instead, wherever that has got to.
    std::uniform_int_distribution<int> killAfterMs(0, 700);
    std::uniform_int_distribution<int> killEarlyMs(300, 1500);

    QElapsedTimer total;
    total.start();
    int counter = kStartCounter;
    int stored = 0;
    int shift = 0;  // the run's local zone, seconds east of UTC
    QHash<int, Row> before = snapshot(path);
    const int prefilled = before.size();
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        const Row newestBefore = before.value(counter);

        // Each run's clock starts past where the previous run's fast clock got to: the local time
        // zone moves further east per run by at least 200 s, and by as much more as the previous
        // run's records reached past its start (a slow start, a kill that takes long to land).
        const qint64 startUtc = QDateTime::currentSecsSinceEpoch();
        const double newest = newestBefore.date + newestBefore.time;
        const qint64 reached = qint64(std::ceil(newest * 86400)) + kOleEpochSecs - startUtc;
        shift = std::max<qint64>(shift + 200, reached + 120);
        ASSERT_LT(shift, 24 * 3600) << "the runs' clocks outran a day of time zones";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (kFastClock)
            env.insert("TZ", QString("HRD-%1:%2:%3")
                                 .arg(shift / 3600)
                                 .arg(shift / 60 % 60, 2, 10, QChar('0'))
                                 .arg(shift % 60, 2, 10, QChar('0')));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(binDir + "/velmars", {"--simulate", "--connect", "--db", path, "--clock-speed",
                                      kFastClock ? "50" : "1"});
        ASSERT_TRUE(p.waitForStarted(5000));
        if (run % 5 == 4) {
            QThread::msleep(killEarlyMs(gen));
        } else {
            QElapsedTimer waited;
            waited.start();
            while ((scalar(path, "SELECT last_id FROM sl_void").toInt() - counter + kRing) % kRing <
                       2 &&
                   waited.elapsed() < 120000 && p.state() == QProcess::Running)
                QThread::msleep(20);
            QThread::msleep(killAfterMs(gen));
        }
        p.kill();  // SIGKILL
        ASSERT_TRUE(p.waitForFinished(5000));
        ASSERT_EQ(p.exitStatus(), QProcess::CrashExit) << "the program ended before the kill";

        EXPECT_EQ(scalar(path, "PRAGMA integrity_check").toString(), "ok");
        // Every event row and archived hour the run committed carries its hash.
        QProcess check;
        check.start(binDir + "/velmars", {"--verify", "--db", path});
        ASSERT_TRUE(check.waitForFinished(60000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
        const int c0 = scalar(path, "SELECT last_id FROM sl_void").toInt();
        const int c1 = scalar(path, "SELECT last_id_copy FROM sl_void").toInt();
        EXPECT_EQ(c0, c1);
        EXPECT_EQ(scalar(path, "SELECT count(*) FROM sl_void").toInt(), 1);
        EXPECT_EQ(scalar(path, "SELECT w_id FROM pv_data ORDER BY w_date DESC, w_time DESC LIMIT 1")
                      .toInt(),
                  c0)
            << "the counter row does not name the newest record";

        // The records the run wrote: from the old counter on, round the ring, up to the new one.
        const int written = (c0 - counter + kRing) % kRing;
        QSet<int> advanced;
        for (int i = 1; i <= written; ++i)
            advanced.insert((counter + i - 1) % kRing + 1);
        stored += written;

        QHash<int, NewRow> after;
        withDatabase(path, [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.exec(
                "SELECT w_id, w_date, w_time, pv1, pv2, sv1, sv2, out1_pct, out2_pct, "
                "alarm1_type, alarm2_type, control1, control2 FROM pv_data");
            while (q.next()) {
                NewRow r;
                for (int c = 1; c < 13; ++c)
                    r.anyNull = r.anyNull || q.value(c).isNull();
                r.date = q.value(1).toDouble();
                r.time = q.value(2).toDouble();
                r.pv1 = q.value(3).toDouble();
                r.pv2 = q.value(4).toDouble();
                r.sv1 = q.value(5).toDouble();
                r.sv2 = q.value(6).toDouble();
                after.insert(q.value(0).toInt(), r);
            }
        });
        QSet<int> ids(before.keyBegin(), before.keyEnd());
        ids.unite(advanced);
        ASSERT_EQ(after.size(), ids.size()) << "records were lost or added outside the stretch";
        for (int id : ids)
            ASSERT_TRUE(after.contains(id)) << "record " << id << " lost";

        int lost = 0, torn = 0, outOfOrder = 0;
        NewRow previous{newestBefore.date, newestBefore.time};
        for (int i = 1; i <= written; ++i) {
            const int id = (counter + i - 1) % kRing + 1;
            const NewRow& r = after.value(id);
            // Stored in clock order, each one later than everything before the run.
            if (!newer(r, {previous.date, previous.time})) ++outOfOrder;
            previous = r;
            // The simulator's loops rise towards their demonstration set values 30 and 50;
            // before the first poll the image, and so the sample, is all zeros.
            const bool zeros = r.pv1 == 0 && r.pv2 == 0 && r.sv1 == 0 && r.sv2 == 0;
            const bool polled =
                r.sv1 == 30 && r.sv2 == 50 && r.pv1 > 10 && r.pv1 < 40 && r.pv2 > 20 && r.pv2 < 60;
            if (r.anyNull || !(zeros || polled)) ++torn;
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (advanced.contains(it.key())) continue;
            const NewRow& r = after.value(it.key());
            if (!(Row{r.date, r.time} == it.value())) ++lost;
        }
        // Ring and archive move together: the ring's records from before, adopted once when the
        // recorder first opened the file, and one archived second for every record any run
        // wrote. A run killed before the adoption committed (the empty tables may already be
        // there) leaves an empty archive and no record written; the next run adopts.
        const bool adopted =
            scalar(path, "SELECT count(*) FROM sqlite_master WHERE name = 'archive_meta'")
                .toInt() &&
            scalar(path, "SELECT count(*) FROM archive_meta WHERE key = 'adopted'").toInt();
        if (adopted) {
            EXPECT_EQ(scalar(path, "SELECT count(*) FROM archive").toInt(), prefilled + stored)
                << "ring and archive disagree";
            EXPECT_EQ(scalar(path, "SELECT value FROM archive_meta WHERE key = 'adopted'").toInt(),
                      prefilled);
        } else {
            EXPECT_EQ(stored, 0) << "records written before the ring was adopted";
            if (scalar(path, "SELECT count(*) FROM sqlite_master WHERE name = 'archive'").toInt()) {
                EXPECT_EQ(scalar(path, "SELECT count(*) FROM archive").toInt(), 0);
            }
        }
        EXPECT_EQ(lost, 0) << "records outside the written stretch changed";
        EXPECT_EQ(torn, 0) << "records whose values do not belong together";
        EXPECT_EQ(outOfOrder, 0) << "records not in clock order along the ring";
        counter = c0;
        before.clear();
        for (auto it = after.cbegin(); it != after.cend(); ++it)
            before.insert(it.key(), {it.value().date, it.value().time});
    }
    // Together the runs stored at least two samples each of most and went round the end of the
    // ring.
    EXPECT_GE(stored, 2 * (kRuns - kRuns / 5));
    EXPECT_LT(counter, kStartCounter);
    EXPECT_GT(prefilled, 0);
    std::printf("%d runs, %d samples stored, %.1f s\n", kRuns, stored, total.elapsed() / 1000.0);
}

// Another program reading the file while the program records (a report tool, the sqlite3 shell)
// must not cost records: what was committed before a kill is in the file after it. SQLite keeps
// the newest records in the write-ahead log beside the file until a checkpoint; a reader that
// closes while it takes itself for the file's last user checkpoints and deletes that log.
TEST(KilledProgram, ReaderBetweenSamplesCostsNoRecords) {
    const QString binDir = qEnvironmentVariable("VELMARS_BIN_DIR");
    ASSERT_FALSE(binDir.isEmpty());
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(binDir + "/velmars", {"--simulate", "--connect", "--db", path, "--clock-speed", "50"});
    ASSERT_TRUE(p.waitForStarted(5000));
    // Until the program has stored a few records (its start takes longer on a loaded machine);
    // each look is a reader that opens the file, reads and closes.
    int seen = 0;
    QElapsedTimer waited;
    waited.start();
    while (seen < 3 && waited.elapsed() < 30000) {
        QThread::msleep(500);
        if (QFile::exists(path)) seen = scalar(path, "SELECT count(*) FROM pv_data").toInt();
    }
    ASSERT_GE(seen, 3);
    QThread::msleep(1500);
    EXPECT_TRUE(QFile::exists(path + "-wal")) << "the log the program writes was deleted";
    const int later = scalar(path, "SELECT count(*) FROM pv_data").toInt();
    EXPECT_GT(later, seen) << "a reader no longer sees the program's new records";
    QThread::msleep(1000);  // about ten more samples, stored after the readers came and went
    p.kill();
    ASSERT_TRUE(p.waitForFinished(5000));
    const int after = scalar(path, "SELECT count(*) FROM pv_data").toInt();
    EXPECT_GE(after, later + 5) << "records stored after the reader were lost with the kill";
    EXPECT_EQ(scalar(path, "PRAGMA integrity_check").toString(), "ok");
}

// Two programs started on one database (a double click too many): the first records, the second
// says at once on stderr that the file is being recorded by the first, and records nothing. The
// ring holds one record per second, and the event log none of the second program's events.
TEST(KilledProgram, SecondProgramOnOneFileRecordsNothing) {
    const QString binDir = qEnvironmentVariable("VELMARS_BIN_DIR");
    ASSERT_FALSE(binDir.isEmpty());
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    QProcess first, second;
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(binDir + "/velmars",
                {"--simulate", "--connect", "--db", path, "--quit-after", "7"});
    ASSERT_TRUE(first.waitForStarted(5000));
    QThread::msleep(2500);
    second.start(binDir + "/velmars",
                 {"--simulate", "--connect", "--db", path, "--quit-after", "3"});
    ASSERT_TRUE(second.waitForFinished(20000));
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(
        said.contains(QStringLiteral("正由另一个程序记录（进程 %1）").arg(first.processId())))
        << said.toStdString();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(second.exitCode(), 0);

    const int records = scalar(path, "SELECT count(*) FROM pv_data").toInt();
    EXPECT_GE(records, 5);
    EXPECT_EQ(scalar(path, "SELECT count(DISTINCT w_date + w_time) FROM pv_data").toInt(), records)
        << "two records for one second";
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM archive").toInt(), records);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM events WHERE text LIKE '端口已打开%'").toInt(), 1);
    // The first left no lock behind: a third program records at once.
    QProcess third;
    third.start(binDir + "/velmars", {"--db", path, "--quit-after", "2"});
    ASSERT_TRUE(third.waitForFinished(20000));
    EXPECT_FALSE(QString::fromUtf8(third.readAllStandardError()).contains("正由另一个程序记录"));
    EXPECT_GT(scalar(path, "SELECT count(*) FROM pv_data").toInt(), records);
}
