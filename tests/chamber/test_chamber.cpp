// A chamber on the simulated instrument, answering and silent: it starts, records, and once it
// ends nothing of it is left running and its database lock is free for the next program.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include "chamberrig.h"

#include "alert/alerter.h"
#include "chamber/chamber.h"
#include "events/eventlog.h"
#include "sim/server.h"
#include "store/databaselock.h"
#include "store/recorder.h"
#include "store/store.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#endif

namespace {

// The process's threads as the system counts them; -1 where this test cannot count them.
qsizetype threadsRunning() {
#ifdef _WIN32
    const HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (all == INVALID_HANDLE_VALUE) return -1;
    qsizetype n = 0;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL more = Thread32First(all, &t); more; more = Thread32Next(all, &t))
        if (t.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(all);
    return n > 0 ? n : -1;
#else
    const QDir tasks(QStringLiteral("/proc/self/task"));
    if (!tasks.exists()) return -1;
    const qsizetype n = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    return n > 0 ? n : -1;
#endif
}

// A chamber recording into db, its settings in velmars.ini beside it, opened and started; each
// opening of the settings file on this thread counts in *opensHere.
std::unique_ptr<chamber::Chamber> startedChamber(const QString& db, const store::Clock* clock,
                                                 std::atomic<int>* opensHere = nullptr) {
    chamber::Setup setup;
    setup.dbPath = db;
    setup.clock = clock;
    const QString ini = QFileInfo(db).dir().filePath(QStringLiteral("velmars.ini"));
    QThread* here = QThread::currentThread();
    setup.settings = [ini, here, opensHere] {
        if (opensHere && QThread::currentThread() == here) ++*opensHere;
        return std::make_unique<QSettings>(ini, QSettings::IniFormat);
    };
    auto c = std::make_unique<chamber::Chamber>(std::move(setup));
    c->open();
    c->start();
    return c;
}

class ChamberLife : public ::testing::TestWithParam<bool> {};

TEST_P(ChamberLife, StartsAndEndsLeavingNothingRunning) {
    const bool silent = GetParam();
    sim::SimServer server;
    ASSERT_TRUE(server.start());
    server.setSilent(silent);
    QTemporaryDir dir;
    store::SystemClock clock;
    chamber::Setup setup = chambertest::setupIn(dir, server, &clock);
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
    store::DatabaseLock next(dir.filePath(QStringLiteral("Rdatabj.db")));
    EXPECT_EQ(next.tryLock(), store::DatabaseLock::Outcome::Held);
    // A second is stale from the open until the instrument answers: one that never does leaves
    // no second stored as a reading.
    store::SampleStore store(dir.filePath(QStringLiteral("Rdatabj.db")), QStringLiteral("check"));
    ASSERT_TRUE(store.open(store::SampleStore::Access::ReadOnly));
    qint64 stored = 0, marked = 0;
    ASSERT_TRUE(store.forEachArchived(0, QDateTime::currentSecsSinceEpoch() + 10,
                                      [&](const store::ArchivedSample& a) {
                                          ++stored;
                                          marked += a.stale;
                                          return true;
                                      }));
    EXPECT_GE(stored, 2);
    if (silent) {
        EXPECT_EQ(marked, stored);
    }
    // A count that cannot be read would compare nothing with nothing and pass.
    if (before < 0) GTEST_SKIP() << "this system's threads cannot be counted here";
    EXPECT_TRUE(QTest::qWaitFor([&] { return threadsRunning() == before; }, 60000))
        << threadsRunning() << " threads, " << before << " before the chamber";
}

INSTANTIATE_TEST_SUITE_P(Instrument, ChamberLife, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Silent" : "Answering"; });

// A second program on a file being recorded is told who records it, whatever the path holds.
TEST(DatabaseLockRefusal, NamesTheFileAndTheProcess) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("%1 批/Rdatabj.db"));
    store::DatabaseLock first(db), second(db);
    ASSERT_EQ(first.tryLock(), store::DatabaseLock::Outcome::Held);
    ASSERT_EQ(second.tryLock(), store::DatabaseLock::Outcome::HeldElsewhere);
    EXPECT_EQ(
        second.refusal().text(base::Lang::Stored).toStdString(),
        QStringLiteral("数据库 %1 正由另一个程序记录（进程 %2）")
            .arg(QDir::toNativeSeparators(db), QString::number(QCoreApplication::applicationPid()))
            .toStdString());
}

// Three chambers on one line, the first shown: each records its own instrument second by second
// into its own database, and nothing of the others.
TEST(ChambersOnOneLine, EachRecordsOnlyItsOwnInstrument) {
    sim::ServerOptions o;
    o.addresses = {1, 2, 3};
    sim::SimServer server(o);
    ASSERT_TRUE(server.start());
    for (int a : o.addresses)
        server.withInstrument(a,
                              [a](sim::Instrument& i) { return i.setHoldingRegister(1, 100 * a); });
    QTemporaryDir dir;
    store::SystemClock clock;
    comm::PortMap ports;
    ports.setExplicit(1, QString::fromStdString(server.device()));
    comm::LineRegistry lines(ports);
    std::vector<std::unique_ptr<chamber::Chamber>> chambers;
    for (int a : o.addresses) {
        chamber::Setup setup =
            chambertest::setupIn(dir, server, &clock, QStringLiteral("-%1").arg(a));
        setup.lines = &lines;
        setup.linePort = 1;
        chambers.push_back(std::make_unique<chamber::Chamber>(std::move(setup)));
        chambers.back()->open();
        chambers.back()->start();
        chambers.back()->link().open({1, 1, 0, a});
    }
    chambers.front()->setFocused(true);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return std::all_of(chambers.begin(), chambers.end(),
                               [](auto& c) { return c->recorder()->lastRecordNo() >= 5; });
        },
        60000));
    chambers.clear();
    for (int a : o.addresses) {
        store::SampleStore store(dir.filePath(QStringLiteral("Rdatabj-%1.db").arg(a)),
                                 QStringLiteral("check-%1").arg(a));
        ASSERT_TRUE(store.open(store::SampleStore::Access::ReadOnly));
        int fresh = 0;
        for (const store::Sample& s : store.loadBetween(1, 65500)) {
            // SV1, read back among the input registers every second.
            if (s.values[2] != 0.0f) {
                EXPECT_EQ(s.values[2], 100.0f * a) << "record " << s.id;
            }
            if (!s.stale && s.values[2] == 100.0f * a) ++fresh;
        }
        EXPECT_GE(fresh, 3) << "address " << a;
    }
}

}  // namespace

TEST(ChamberChains, AnEventRowChangedOutsideRaisesAnAlertAtTheStart) {
    QTemporaryDir dir;
    store::SystemClock clock;
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    const auto chamberOn = [&] { return startedChamber(db, &clock); };
    const auto brokenChainAlerts = [](const chamber::Chamber& c) {
        QStringList out;
        for (const alert::ListedAlert& a : c.alerter()->listed())
            if (a.kind == alert::Kind::ChainBroken) out << a.valueText.text(base::Lang::Stored);
        return out;
    };
    {
        auto c = chamberOn();
        bool checked = false;
        QObject::connect(c->eventLog(), &events::EventLog::chainsChecked,
                         [&](const store::ChainReport&) { checked = true; });
        for (int i = 0; i < 3; ++i)
            c->eventLog()->log(events::codedEntry(events::eventkind::kRun,
                                                  QStringLiteral("run.started"),
                                                  {QStringLiteral("run %1").arg(i)}));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return checked && c->eventLog()->storedCount() >= 3; }, 30000));
        EXPECT_TRUE(brokenChainAlerts(*c).isEmpty());  // intact at the start: nothing raised
    }
    {
        auto sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        sql.setDatabaseName(db);
        ASSERT_TRUE(sql.open());
        QSqlQuery q(sql);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "UPDATE events SET args = '[\"run X\"]' WHERE id = (SELECT min(id) + 1 FROM events)")));
        ASSERT_EQ(q.numRowsAffected(), 1);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
    auto c = chamberOn();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !brokenChainAlerts(*c).isEmpty(); }, 30000));
    const QStringList alerts = brokenChainAlerts(*c);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.first().startsWith(QStringLiteral("事件记录第 ")))
        << alerts.first().toStdString();
}

// The database's folder cannot hold the lock at first; once it can, another program has taken the
// file: this one stops recording into it and only views it.
TEST(ChamberLockRetry, FindingTheFileHeldElsewhereStopsTheRecording) {
    QTemporaryDir dir;
    store::SystemClock clock;
    const QString folder = dir.filePath(QStringLiteral("data"));
    {
        QFile blocker(folder);  // a file where the folder should be
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString db = folder + QStringLiteral("/Rdatabj.db");
    const auto started = startedChamber(db, &clock);
    chamber::Chamber& chamber = *started;
    ASSERT_TRUE(chamber.recording());
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().mkpath(folder));
    store::DatabaseLock other(db);
    ASSERT_EQ(other.tryLock(), store::DatabaseLock::Outcome::Held);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chamber.recording(); }, 30000));
    EXPECT_EQ(chamber.recorder()->status().state, store::RecorderStatus::State::Refused);
    EXPECT_FALSE(chamber.recorder()->running());
    EXPECT_FALSE(chamber.forwarder());
}

// An alert nobody acknowledged is listed again after a restart, until it is acknowledged.
TEST(ChamberAlerts, UnacknowledgedAlertsOutliveARestart) {
    QTemporaryDir dir;
    store::SystemClock clock;
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    std::atomic<int> opensHere = 0;
    const auto run = [&] { return startedChamber(db, &clock, &opensHere); };
    auto first = run();
    const int opensAtStart = opensHere;
    first->alerter()->raise(alert::Kind::LoginFailed, {QStringLiteral("bob")});
    first->alerter()->raise(alert::Kind::ChainBroken, {QStringLiteral("events"), "7"});
    const QString eve = first->alerter()->listed().back().id;
    ASSERT_TRUE(first->alerter()->acknowledge(eve, QStringLiteral("known")));
    // The list is kept by a thread of its own: the one that raised and acknowledged never
    // waited on the settings file.
    EXPECT_EQ(opensHere, opensAtStart);
    first.reset();

    auto second = run();
    ASSERT_EQ(second->alerter()->listed().size(), 1u);
    const alert::ListedAlert kept = second->alerter()->listed().front();
    EXPECT_EQ(kept.kind, alert::Kind::LoginFailed);
    EXPECT_FALSE(kept.acknowledged);
    EXPECT_EQ(kept.valueText.values, QStringList{QStringLiteral("bob")});
    EXPECT_TRUE(second->alerter()->ringing() || !second->alerter()->notify().sound);
    ASSERT_TRUE(second->alerter()->acknowledge(kept.id, QStringLiteral("checked")));
    second.reset();

    EXPECT_TRUE(run()->alerter()->listed().empty());
}

// The list kept belongs to its database: another database with the same settings file (--db)
// starts without it.
TEST(ChamberAlerts, TheListKeptBelongsToItsDatabase) {
    QTemporaryDir dir;
    store::SystemClock clock;
    const auto run = [&](const QString& db) { return startedChamber(dir.filePath(db), &clock); };
    run(QStringLiteral("a.db"))->alerter()->raise(alert::Kind::LoginFailed, {QStringLiteral("x")});
    EXPECT_TRUE(run(QStringLiteral("b.db"))->alerter()->listed().empty());
    EXPECT_EQ(run(QStringLiteral("a.db"))->alerter()->listed().size(), 1u);
}
