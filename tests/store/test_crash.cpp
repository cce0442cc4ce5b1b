// A recorder killed at random moments, while its store thread is busy with a queue of samples
// (the child hands over a thousand a second), leaves a sound file whose counter row names the
// newest record: the sample and its counter are one transaction.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <random>

#include "dbhelpers.h"
#include "store/store.h"

using namespace record_test;

TEST(CrashSafety, KilledRecorderLeavesAConsistentRing) {
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    {
        store::SampleStore store(path, "prepare");
        ASSERT_TRUE(store.open());
    }
    // Start just before the end of the ring, so that the runs go round the wrap.
    ASSERT_TRUE(exec(path, "UPDATE sl_void SET last_id = 65480, last_id_copy = 65480"));

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> delayMs(0, 250);
    const QString child = QCoreApplication::applicationDirPath() + "/record_child";
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0, 0));

    int previous = 65480;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        QProcess p;
        // Each run's clock starts a day after the previous one's, so the newest record is the
        // newest by date and time.
        p.start(child, {"record", path, start.addDays(run).toString(Qt::ISODate)});
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(p.waitForReadyRead(10000)) << p.readAllStandardError().toStdString();
        ASSERT_TRUE(p.readLine().startsWith("ready"));
        QThread::msleep(delayMs(gen));
        p.kill();  // SIGKILL
        ASSERT_TRUE(p.waitForFinished(5000));

        EXPECT_EQ(scalar(path, "PRAGMA integrity_check").toString(), "ok");
        const int counter = scalar(path, "SELECT last_id FROM sl_void").toInt();
        EXPECT_EQ(scalar(path, "SELECT last_id_copy FROM sl_void").toInt(), counter);
        EXPECT_GE(counter, 1);
        EXPECT_LE(counter, 65500);
        EXPECT_NE(counter, previous);  // the run stored at least one sample
        EXPECT_EQ(scalar(path, "SELECT w_id FROM pv_data ORDER BY w_date DESC, w_time DESC LIMIT 1")
                      .toInt(),
                  counter);
        // Every record holds the ten values of one moment.
        EXPECT_EQ(scalar(path,
                         "SELECT count(*) FROM pv_data WHERE pv2 != pv1 + 1 OR sv1 != pv1 + 2 OR "
                         "sv2 != pv1 + 3 OR out1_pct != pv1 + 4 OR out2_pct != pv1 + 5 OR "
                         "alarm1_type != pv1 + 6 OR alarm2_type != pv1 + 7 OR control1 != pv1 + 8 "
                         "OR control2 != pv1 + 9")
                      .toInt(),
                  0);
        previous = counter;
    }
    // The ring went round its end.
    EXPECT_GT(scalar(path, "SELECT count(*) FROM pv_data WHERE w_id < 65480").toInt(), 0);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM pv_data WHERE w_id < 1 OR w_id > 65500").toInt(),
              0);
}
