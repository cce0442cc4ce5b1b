// A chamber on the simulated instrument, answering and silent: it starts, records, and once it
// ends nothing of it is left running and its database lock is free for the next program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>

#include "chamber/chamber.h"
#include "sim/server.h"
#include "store/recorder.h"

namespace {

bool pump(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

qsizetype threadsRunning() {
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

class ChamberLife : public ::testing::TestWithParam<bool> {};

TEST_P(ChamberLife, StartsAndEndsLeavingNothingRunning) {
    const bool silent = GetParam();
    sim::SimServer server;
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;
    server.setSilent(silent);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    record::SystemClock clock;
    const qsizetype before = threadsRunning();
    {
        chamber::Setup setup;
        setup.dbPath = db;
        setup.ports.setExplicit(1, QString::fromStdString(server.ptyPath()));
        setup.clock = &clock;
        const QString ini = dir.filePath(QStringLiteral("velmars.ini"));
        setup.settings = [ini] { return std::make_unique<QSettings>(ini, QSettings::IniFormat); };
        chamber::Chamber chamber(std::move(setup));
        chamber.open();
        chamber.start();
        ASSERT_TRUE(chamber.recording()) << chamber.refusal().toStdString();
        ASSERT_TRUE(chamber.eventLog() && chamber.runs() && chamber.alerter());
        EXPECT_EQ(chamber.forwarder(), nullptr);
        chamber.link().open({1, 1, 0, 1});
        // It records whether the instrument answers or not.
        ASSERT_TRUE(pump(
            [&] {
                const comm::LinkStats s = chamber.link().stats();
                return chamber.recorder()->lastRecordNo() >= 2 &&
                       (silent ? s.failures > 0 : s.exchanges > s.failures + 5);
            },
            60000));
        ASSERT_GT(threadsRunning(), before);
    }
    EXPECT_TRUE(pump([&] { return threadsRunning() == before; }, 60000))
        << threadsRunning() << " threads, " << before << " before the chamber";
    record::DatabaseLock next(db);
    EXPECT_EQ(next.tryLock(), record::DatabaseLock::Outcome::Held);
}

INSTANTIATE_TEST_SUITE_P(Instrument, ChamberLife, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Silent" : "Answering"; });

}  // namespace
