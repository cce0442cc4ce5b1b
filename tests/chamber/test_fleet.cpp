// The fleet without windows, on simulated instruments: chambers added, moved to another line,
// changed for their whole line and removed, each change kept in the settings file and recorded
// in the chambers' logs.
#include <gtest/gtest.h>

#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include "../support/sqlrows.h"
#include "auth/audit.h"
#include "chamber/fleet.h"
#include "chamber/fleetstart.h"
#include "chamber/teardown.h"
#include "comm/line.h"
#include "events/eventlog.h"
#include "sim/server.h"
#include "store/recorder.h"

namespace {

using chamber::ChamberConf;
using chamber::Fleet;
using chamber::Refusal;

constexpr int kWaitMs = 60000;  // a bound on work, not a measured time
const auth::Actor kViewer = auth::Actor::user(QStringLiteral("vera"), auth::Role::Viewer);
const auth::Actor kOperator = auth::Actor::user(QStringLiteral("otto"), auth::Role::Operator);
const auth::Actor kSupervisor = auth::Actor::user(QStringLiteral("sue"), auth::Role::Supervisor);

// A data folder of its own: the settings files and databases of the chambers by name.
struct Rig {
    QTemporaryDir dir;
    store::SystemClock clock;
    comm::PortMap ports;

    QString ini(const QString& name) const {
        return dir.filePath(name.isEmpty() ? QStringLiteral("velmars.ini")
                                           : QStringLiteral("velmars-%1.ini").arg(name));
    }
    QString db(const QString& name) const {
        return dir.filePath(name.isEmpty() ? QStringLiteral("Rdatabj.db")
                                           : QStringLiteral("Rdatabj-%1.db").arg(name));
    }
    std::unique_ptr<QSettings> settings(const QString& name = {}) const {
        return std::make_unique<QSettings>(ini(name), QSettings::IniFormat);
    }
    // A fleet of the list, kept as the program keeps the list it starts with.
    std::unique_ptr<Fleet> fleet(const QList<ChamberConf>& confs) const {
        if (!confs.isEmpty()) chamber::writeChambers(*settings(), confs);
        chamber::FleetSetup s;
        s.chambers = confs;
        s.ports = ports;
        s.clock = &clock;
        s.settingsFor = [this](const QString& name) { return settings(name); };
        s.databaseFor = [this](const QString& name) { return db(name); };
        s.given.keepDays = 30;
        s.user = QStringLiteral("admin");
        auto f = std::make_unique<Fleet>(std::move(s));
        f->setAuditing([] { return true; });
        return f;
    }
    // The audit rows of a code in a chamber's database: the arguments and the values before and
    // after, one row a line.
    std::string audited(const QString& name, const char* code) const {
        return rows(name, code).join(u'\n').toStdString();
    }
    QStringList rows(const QString& name, const char* code) const {
        return testsupport::sqlRows(
            db(name), QStringLiteral("SELECT args, old_value, new_value FROM events WHERE code = "
                                     "'%1' ORDER BY id")
                          .arg(QString::fromLatin1(code)));
    }
};

bool answering(const chamber::Chamber& c) {
    return c.link().polling() && c.link().stats().exchanges > c.link().stats().failures + 2;
}

// Two instruments on port 1 (addresses 1 and 2), one on port 2.
class FleetOnTwoLines : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::ServerOptions one;
        one.addresses = {1, 2};
        first_ = std::make_unique<sim::SimServer>(one);
        second_ = std::make_unique<sim::SimServer>();
        ASSERT_TRUE(first_->start() && second_->start());
        rig_.ports.setExplicit(1, QString::fromStdString(first_->device()));
        rig_.ports.setExplicit(2, QString::fromStdString(second_->device()));
    }
    Rig rig_;
    std::unique_ptr<sim::SimServer> first_;
    std::unique_ptr<sim::SimServer> second_;
};

TEST_F(FleetOnTwoLines, ChangedPortMovesTheChamberAndTheLineLeftEmptyEnds) {
    auto fleet = rig_.fleet({{"A", 1, 1}, {"B", 2, 1}});
    QStringList added;
    QObject::connect(fleet.get(), &Fleet::chamberAdded,
                     [&](chamber::Chamber* c) { added << c->name(); });
    fleet->start(/*connect=*/true);
    EXPECT_EQ(added, QStringList({"A", "B"}));
    chamber::Chamber* a = fleet->chamber("A");
    chamber::Chamber* b = fleet->chamber("B");
    ASSERT_TRUE(a && b && !fleet->chamber("C"));
    EXPECT_EQ(fleet->chambers(), QList<chamber::Chamber*>({a, b}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return answering(*a) && answering(*b); }, kWaitMs));
    ASSERT_NE(a->link().line(), b->link().line());

    // B moves to port 1, address 2: it joins A's line and its old line ends with nobody on it.
    std::weak_ptr<comm::Line> oldLine = b->link().line();
    EXPECT_EQ(fleet->change("B", {"B", 1, 2}, {}), std::nullopt);
    EXPECT_EQ(b->link().line(), a->link().line());
    EXPECT_TRUE(oldLine.expired());
    const quint64 before = b->link().stats().exchanges;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const comm::LinkStats s = b->link().stats();
            // Answering on its new line (a gateway's new connection may lose the first one).
            return b->link().polling() && s.lastOk && s.exchanges > before + 2 && s.failures <= 1 &&
                   s.device == rig_.ports.deviceFor(1);
        },
        kWaitMs))
        << "polling " << b->link().polling() << ", " << b->link().stats().exchanges
        << " exchanges after " << before << ", " << b->link().stats().failures << " failures ("
        << b->link().stats().lastError.text(base::Lang::Stored).toStdString() << ") on "
        << b->link().stats().device.toStdString() << " for "
        << rig_.ports.deviceFor(1).toStdString();

    // Kept: the list, and only port 1 as open for the next start; recorded in both logs.
    EXPECT_EQ(chamber::readChambers(*rig_.settings()),
              QList<ChamberConf>({{"A", 1, 1}, {"B", 1, 2}}));
    EXPECT_EQ(chamber::readOpenLines(*rig_.settings()), QList<int>({1}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig_.rows("A", auth::kChamberChanged).size() == 1; },
                                kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig_.rows("B", auth::kChamberChanged).size() == 1; },
                                kWaitMs));
    const QStringList row = rig_.rows("B", auth::kChamberChanged);
    ASSERT_EQ(row.size(), 1);
    EXPECT_TRUE(row.front().endsWith(QStringLiteral("|%1|%2").arg(
        comm::settingsText({2, 1, 0, 1}), comm::settingsText({1, 1, 0, 2}))))
        << row.front().toStdString();
}

// Each change the list would not serve is refused whole: nothing kept, nothing applied.
TEST_F(FleetOnTwoLines, RefusedChangesKeepEverythingAsItWas) {
    auto fleet = rig_.fleet({{"A", 1, 1}, {"B", 2, 1}});
    fleet->start();
    const QList<ChamberConf> kept = chamber::readChambers(*rig_.settings());
    ASSERT_EQ(kept, fleet->confs());
    struct Case {
        const char* what;
        std::function<std::optional<Refusal>()> change;
        Refusal::Kind kind;
    };
    const std::vector<Case> cases = {
        {"added on a taken address",
         [&] {
             return fleet->add({"C", 1, 1}, {});
         },
         Refusal::Kind::DuplicateAddress},
        {"added under a taken name",
         [&] {
             return fleet->add({"A", 3, 1}, {});
         },
         Refusal::Kind::DuplicateName},
        {"added with a bad name",
         [&] {
             return fleet->add({"a b", 3, 1}, {});
         },
         Refusal::Kind::BadName},
        {"moved onto a taken address",
         [&] {
             return fleet->change("B", {"B", 1, 1}, {});
         },
         Refusal::Kind::DuplicateAddress},
        {"moved to no port",
         [&] {
             return fleet->change("B", {"B", 21, 1}, {});
         },
         Refusal::Kind::BadPort},
        {"changed but unknown",
         [&] {
             return fleet->change("Z", {"Z", 1, 5}, {});
         },
         Refusal::Kind::BadName},
        // Under access control the list is a supervisor's, whoever asks.
        {"added by an operator",
         [&] {
             return fleet->add({"C", 3, 1}, kOperator, QStringLiteral("why"));
         },
         Refusal::Kind::NotAllowed},
        {"changed by a viewer",
         [&] {
             return fleet->change("B", {"B", 2, 7}, kViewer, QStringLiteral("why"));
         },
         Refusal::Kind::NotAllowed},
        {"removed by an operator",
         [&] { return fleet->remove("B", kOperator, QStringLiteral("why")); },
         Refusal::Kind::NotAllowed},
        {"line opened by an operator", [&] { return fleet->setLineOpen(1, true, kOperator); },
         Refusal::Kind::NotAllowed},
        {"turnaround set by an operator",
         [&] { return fleet->setTurnaround(1, 50, kOperator, QStringLiteral("why")); },
         Refusal::Kind::NotAllowed},
        {"turnaround of no port", [&] { return fleet->setTurnaround(21, 50, {}); },
         Refusal::Kind::BadPort},
    };
    for (const Case& c : cases) {
        const std::optional<Refusal> refusal = c.change();
        ASSERT_TRUE(refusal) << c.what;
        EXPECT_EQ(refusal->kind, c.kind) << c.what;
        EXPECT_EQ(fleet->confs(), kept) << c.what;
        EXPECT_EQ(chamber::readChambers(*rig_.settings()), kept) << c.what;
        EXPECT_EQ(fleet->chambers().size(), 2) << c.what;
    }
    EXPECT_EQ(fleet->remove("Z", {})->kind, Refusal::Kind::BadName);
    EXPECT_FALSE(fleet->chamber("A")->portOpen());
    EXPECT_TRUE(chamber::readTurnarounds(*rig_.settings()).isEmpty());
    // Nothing refused reached a log; a supervisor's change does, with who and why.
    ASSERT_EQ(fleet->change("B", {"B", 2, 7}, kSupervisor, QStringLiteral("moved")), std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig_.rows("A", auth::kChamberChanged).size() == 1; },
                                kWaitMs));
    EXPECT_EQ(testsupport::sqlRows(rig_.db("A"),
                                   QStringLiteral("SELECT user_id, reason FROM events WHERE code "
                                                  "LIKE 'audit.%' AND code <> 'audit.started'")),
              QStringList{QStringLiteral("sue|moved")});
}

// A line's baud rate and parity are every chamber's on it; its turnaround too.
TEST_F(FleetOnTwoLines, LineSettingsChangeForEveryChamberOnIt) {
    auto fleet = rig_.fleet({{"A", 1, 1}, {"B", 1, 2}, {"C", 2, 1}});
    fleet->start();
    ChamberConf a = *fleet->conf("A");
    a.baud = 19200;
    a.parity = u'E';
    ASSERT_EQ(fleet->change("A", a, {}), std::nullopt);
    for (const char* name : {"A", "B"}) {
        EXPECT_EQ(fleet->conf(name)->baud, 19200) << name;
        EXPECT_EQ(fleet->chamber(name)->link().settings().baud, 2) << name;
        EXPECT_EQ(fleet->chamber(name)->link().settings().parity, 2) << name;
    }
    EXPECT_EQ(fleet->conf("C")->baud, 9600);
    EXPECT_EQ(chamber::readChambers(*rig_.settings()), fleet->confs());

    fleet->setTurnaround(1, 40, {});
    fleet->setTurnaround(2, 5000, {});  // at most a second
    EXPECT_EQ(fleet->chamber("B")->link().line()->turnaroundMs(kWaitMs), 40);
    EXPECT_EQ(fleet->chamber("C")->link().line()->turnaroundMs(kWaitMs), 1000);
    EXPECT_EQ(chamber::readTurnarounds(*rig_.settings()), (QMap<int, int>{{1, 40}, {2, 1000}}));
    fleet->setTurnaround(1, 0, {});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return rig_.rows("C", auth::kTurnaround).size() == 3; }, kWaitMs));
    // Each row with the value it replaced, whoever asked.
    EXPECT_EQ(rig_.audited("C", auth::kTurnaround), R"(["","1","0","40"]|0|40
["","2","0","1000"]|0|1000
["","1","40","0"]|40|0)");
    // Only B's line moved with A: the other chamber's log says so for A and B alone.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig_.rows("C", auth::kChamberChanged).size() == 2; },
                                kWaitMs));

    // The next start takes what was kept.
    fleet.reset();
    auto again = rig_.fleet(chamber::readChambers(*rig_.settings()));
    EXPECT_EQ(again->turnarounds(), (QMap<int, int>{{2, 1000}}));  // 0 is none
    EXPECT_EQ(again->conf("B")->parity, u'E');
}

// Removed, the chamber ends off the caller's thread; added again at once, it waits for its
// namesake's database, and its log still gets the rows of its adding and of what the command line
// changed in its settings file.
TEST_F(FleetOnTwoLines, RemovedAndAddedAgainKeepsItsAuditRows) {
    auto fleet = rig_.fleet({{"A", 1, 1}, {"B", 2, 1}});
    QStringList removed;
    QObject::connect(fleet.get(), &Fleet::chamberRemoved,
                     [&](const QString& name) { removed << name; });
    fleet->start(/*connect=*/true);
    fleet->auditStart();
    chamber::Chamber* b = fleet->chamber("B");
    ASSERT_TRUE(QTest::qWaitFor([&] { return answering(*b); }, kWaitMs));

    // B's line is held as by an exchange that hangs: its threads cannot end yet.
    QSemaphore inFlight;
    const auto release = qScopeGuard([&] { inFlight.release(); });
    b->link().line()->post([&](comm::LineWorker&) { inFlight.acquire(); });
    ASSERT_EQ(fleet->remove("B", {}), std::nullopt);
    EXPECT_EQ(removed, QStringList({"B"}));
    EXPECT_EQ(fleet->chamber("B"), nullptr);
    EXPECT_EQ(chamber::readChambers(*rig_.settings()), QList<ChamberConf>({{"A", 1, 1}}));
    ASSERT_EQ(fleet->teardowns().size(), 1);
    // Its settings file gone meanwhile, the command line's values go into a new one.
    ASSERT_TRUE(QFile::remove(rig_.ini("B")));

    const auth::Actor admin = auth::Actor::user(QStringLiteral("admin"), auth::Role::Administrator);
    ASSERT_EQ(fleet->add({"B", 2, 1}, admin, QStringLiteral("back")), std::nullopt);
    chamber::Chamber* again = fleet->chamber("B");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->eventLog(), nullptr);  // its namesake still holds the database
    inFlight.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return again->recording() && again->eventLog(); }, kWaitMs));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return rig_.rows("B", auth::kChamberAdded).size() == 1; }, kWaitMs));
    const QString settings = comm::settingsText(ChamberConf{"B", 2, 1}.portSettings());
    EXPECT_EQ(rig_.audited("B", auth::kChamberAdded),
              QStringLiteral(R"(["admin","B","%1"]||%1)").arg(settings).toStdString());
    // Once at the start, once more after it was added again.
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig_.rows("B", auth::kSettingChanged).size() == 2; },
                                kWaitMs));
    EXPECT_TRUE(fleet->teardowns().isEmpty());
}

// A program without a chamber list serves one chamber named "" on a line of its own.
TEST(FleetOfOne, ServesOneChamberAndTakesNoOthers) {
    sim::SimServer server;
    ASSERT_TRUE(server.start());
    Rig rig;
    rig.ports.setExplicit(1, QString::fromStdString(server.device()));
    auto fleet = rig.fleet({});
    fleet->start();
    ASSERT_EQ(fleet->chambers().size(), 1);
    chamber::Chamber* one = fleet->chamber(QString());
    ASSERT_TRUE(one && one->recording());
    EXPECT_EQ(one->databasePath(), rig.db(QString()));
    EXPECT_EQ(fleet->lines(), nullptr);
    EXPECT_TRUE(fleet->add({"A", 1, 2}, {}));
    EXPECT_TRUE(fleet->remove(QString(), {}));
    EXPECT_EQ(fleet->chambers().size(), 1);
    // Nothing of a chamber list is written for it.
    EXPECT_FALSE(rig.settings()->contains(QStringLiteral("chambers/size")));
    one->link().open({1, 1, 0, 1});
    EXPECT_TRUE(QTest::qWaitFor([&] { return answering(*one); }, kWaitMs));
}

// Both programs put their fleets together the same way: the chamber list of the run, each
// chamber's files, the simulated instrument on port 1 and the keeper of the accounts.
TEST(FleetStart, ChambersFilesSimulatorAndAccounts) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    chamber::FleetOptions o;
    o.dataFolder = dir.filePath(QStringLiteral("data"));
    o.chambers = {{"A", 1, 1}, {"B", 1, 2}};
    // The command line's list is kept, its change said once; without one the list kept is the
    // run's; a profile of its own is one chamber.
    std::optional<chamber::SettingChange> change;
    EXPECT_EQ(chamber::chambersOfRun(o, &change), o.chambers);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->after, QStringLiteral("A=1,1,9600,N B=1,2,9600,N"));
    change.reset();
    chamber::chambersOfRun(o, &change);
    EXPECT_FALSE(change);
    chamber::FleetOptions kept = o;
    kept.chambers.clear();
    EXPECT_EQ(chamber::chambersOfRun(kept), o.chambers);
    kept.profile = QStringLiteral("P");
    EXPECT_TRUE(chamber::chambersOfRun(kept).isEmpty());

    o.simulate = true;
    o.profile = QStringLiteral("P");
    o.db = dir.filePath(QStringLiteral("own.db"));
    const QString users = chamber::userStorePath(o.dataFolder);
    for (const bool store : {false, true}) {
        if (store) {
            ASSERT_TRUE(QDir().mkpath(o.dataFolder));
            QFile f(users);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        QString error;
        std::optional<chamber::FleetStart> start =
            chamber::makeFleetSetup(o, o.chambers, {}, &error);
        ASSERT_TRUE(start) << error.toStdString();
        ASSERT_TRUE(start->sim);
        EXPECT_EQ(start->sim->addresses(), (std::vector<int>{1, 2}));
        EXPECT_EQ(start->setup.ports.deviceFor(1), QString::fromStdString(start->sim->device()));
        const chamber::FleetSetup& s = start->setup;
        EXPECT_EQ(s.databaseFor(QStringLiteral("A")), QDir(o.dataFolder).filePath("Rdatabj-A.db"));
        EXPECT_EQ(s.databaseFor(QString()), o.db);
        EXPECT_EQ(s.settingsFor(QString())->fileName(), chamber::settingsFileFor("P")->fileName());
        // The keeper of the accounts where there is a user store.
        EXPECT_EQ(start->accounts != nullptr, store);
    }
    // Or where it is asked for (the windows' first administrator makes the store).
    ASSERT_TRUE(QFile::remove(users));
    o.simulate = false;
    o.accountsAlways = true;
    QString error;
    EXPECT_TRUE(chamber::makeFleetSetup(o, {}, {}, &error)->accounts);
    events::setCopiedRowsSource(nullptr);
}

}  // namespace
