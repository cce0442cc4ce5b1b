// A disk whose every sync takes 300 ms: the recorder's tick still returns at once, and each sample
// is synced to the disk before the recorder reports it stored.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include "dbhelpers.h"
#include "slowsyncvfs.h"
#include "store/recorder.h"

using namespace record_test;

TEST(SlowDisk, TickNeverWaitsAndEachSampleIsSynced) {
    ASSERT_TRUE(bench::installSlowSyncVfs());  // before any connection of this process
    QTemporaryDir tmp;
    const QString path = tmp.filePath("Rdatabj.db");
    store::ManualClock clock(QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0)));
    store::Recorder rec(path, clock, [] { return std::array<float, 10>{}; });
    rec.start();
    ASSERT_TRUE(rec.waitForStore());
    bench::setSyncDelayMs(300);
    for (int i = 0; i < 3; ++i) {
        const long syncsBefore = bench::syncCount();
        clock.advance(1);
        QElapsedTimer t;
        t.start();
        rec.tick();
        EXPECT_LT(t.elapsed(), 100);
        ASSERT_TRUE(rec.waitForStore());
        EXPECT_GE(t.elapsed(), 300);
        EXPECT_GE(bench::syncCount(), syncsBefore + 1);
        EXPECT_EQ(rec.lastRecordNo(), i + 1);
        EXPECT_EQ(rec.statusText(), QStringLiteral("记录中：第 %1 条").arg(i + 1));
    }
    bench::setSyncDelayMs(0);
    EXPECT_EQ(scalar(path, "SELECT count(*) FROM pv_data").toInt(), 3);
}
