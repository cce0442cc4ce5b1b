// A chamber on the simulated instrument, answering and silent: it starts, records, and once it
// ends nothing of it is left running and its database lock is free for the next program.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "chamber/chamber.h"
#include "sim/server.h"
#include "store/recorder.h"

namespace {

qsizetype threadsRunning() {
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

class ChamberLife : public ::testing::TestWithParam<bool> {};

TEST_P(ChamberLife, StartsAndEndsLeavingNothingRunning) {
    const bool silent = GetParam();
    sim::SimServer server;
    ASSERT_TRUE(server.start());
    server.setSilent(silent);
    QTemporaryDir dir;
    record::SystemClock clock;
    chamber::Setup setup;
    setup.dbPath = dir.filePath(QStringLiteral("Rdatabj.db"));
    setup.ports.setExplicit(1, QString::fromStdString(server.ptyPath()));
    setup.clock = &clock;
    const QString ini = dir.filePath(QStringLiteral("velmars.ini"));
    setup.settings = [ini] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
    const qsizetype before = threadsRunning();
    auto chamber = std::make_unique<chamber::Chamber>(std::move(setup));
    chamber->open();
    chamber->start();
    ASSERT_TRUE(chamber->recording() && chamber->runs() && chamber->alerter());
    chamber->link().open({1, 1, 0, 1});
    // It records whether the instrument answers or not.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const comm::LinkStats s = chamber->link().stats();
            return chamber->recorder()->lastRecordNo() >= 2 &&
                   (silent ? s.failures > 0 : s.exchanges > s.failures + 5);
        },
        60000));
    chamber.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return threadsRunning() == before; }, 60000))
        << threadsRunning() << " threads, " << before << " before the chamber";
    record::DatabaseLock next(dir.filePath(QStringLiteral("Rdatabj.db")));
    EXPECT_EQ(next.tryLock(), record::DatabaseLock::Outcome::Held);
}

INSTANTIATE_TEST_SUITE_P(Instrument, ChamberLife, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Silent" : "Answering"; });

}  // namespace
