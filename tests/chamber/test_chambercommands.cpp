// The chamber's commands on the simulated instrument: whoever asks, the chamber decides by the
// actor's role, does it or refuses with a code, and the audit trail names who asked.
#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

#include "../support/sqlrows.h"
#include "alert/alerter.h"
#include "alert/alertsettings.h"
#include "chamber/chamber.h"
#include "chamberrig.h"
#include "report/report.h"
#include "runs/runs.h"
#include "sim/server.h"

namespace {

using chamber::Outcome;
using chamber::Write;

struct Rig {
    sim::SimServer server;
    QTemporaryDir dir;
    store::SystemClock clock;
    std::unique_ptr<chamber::Chamber> chamber;
    QString db;

    Rig() {
        EXPECT_TRUE(server.start());
        chamber::Setup setup = chambertest::setupIn(dir, server, &clock);
        db = setup.dbPath;
        chamber = std::make_unique<chamber::Chamber>(std::move(setup));
        chamber->open();
        chamber->start();
        chamber->link().open({1, 1, 0, 1});
    }
    // The final outcome of ticket: the one it was given when it is final, else the signal's.
    Outcome finalOutcome(const chamber::Ticket& t) {
        if (t.outcome != Outcome::Pending) return t.outcome;
        std::optional<Outcome> got;
        QMetaObject::Connection c = QObject::connect(
            chamber.get(), &chamber::Chamber::commandFinished, [&](quint64 id, Outcome o) {
                if (id == t.id) got = o;
            });
        const bool answered = QTest::qWaitFor([&] { return got.has_value(); }, 60000);
        QObject::disconnect(c);
        EXPECT_TRUE(answered);
        return got.value_or(Outcome::Pending);
    }
    QStringList rows(const QString& sql) { return testsupport::sqlRows(db, sql); }
};

const auth::Actor kViewer = auth::Actor::user(QStringLiteral("vera"), auth::Role::Viewer);
const auth::Actor kOperator = auth::Actor::user(QStringLiteral("otto"), auth::Role::Operator);
const auth::Actor kSupervisor = auth::Actor::user(QStringLiteral("sue"), auth::Role::Supervisor);

TEST(ChamberCommands, WritesAreDecidedByTheActorsRole) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.state().stale; }, 60000));
    struct Case {
        const char* what;
        Write kind;
        int32_t reg, value;
        auth::Actor by;
        Outcome first, last;
    };
    const Case cases[] = {
        {"set value by an operator", Write::SetValue, 1, 123, kOperator, Outcome::Pending,
         Outcome::Done},
        {"set value by a viewer", Write::SetValue, 2, 77, kViewer, Outcome::Refused,
         Outcome::Refused},
        {"configuration by an operator", Write::Configuration, 4100, 5, kOperator, Outcome::Refused,
         Outcome::Refused},
        {"configuration by a supervisor", Write::Configuration, 4100, 5, kSupervisor,
         Outcome::Pending, Outcome::Done},
        {"program command by the program", Write::ProgramCommand, 3, 0, auth::Actor::self(),
         Outcome::Pending, Outcome::Done},
        {"set value above the entry range", Write::SetValue, 1, 10000, kOperator, Outcome::Invalid,
         Outcome::Invalid},
        {"set value into an alarm register", Write::SetValue, 257, 1, kOperator, Outcome::Invalid,
         Outcome::Invalid},
        {"program command without a code", Write::ProgramCommand, 3, 4, kOperator, Outcome::Invalid,
         Outcome::Invalid},
        {"program segment outside the program", Write::Program, 8300, 1, kSupervisor,
         Outcome::Invalid, Outcome::Invalid},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const int before = rig.server.holdingRegister(k.reg);
        const chamber::Ticket t = c.write(k.kind, k.reg, k.value, k.by, QStringLiteral("why"));
        EXPECT_EQ(t.outcome, k.first);
        EXPECT_EQ(rig.finalOutcome(t), k.last);
        if (k.last == Outcome::Done)
            EXPECT_EQ(rig.server.holdingRegister(k.reg), k.value);
        else
            EXPECT_EQ(rig.server.holdingRegister(k.reg), before);
    }
    // The audit trail names who asked and why; the refused ones with their refusal.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return rig.rows(QStringLiteral("SELECT 1 FROM events WHERE reg = 4100")).size() >= 2;
        },
        60000));
    const QStringList written = rig.rows(QStringLiteral(
        "SELECT reg, user_id, new_value, reason, status = 0 FROM events WHERE reg IN (1, 2, 4100) "
        "ORDER BY id"));
    ASSERT_EQ(written.size(), 4) << written.join(u'\n').toStdString();
    EXPECT_EQ(written[0], QStringLiteral("1|otto|123|why|1"));
    EXPECT_TRUE(written[1].startsWith(QStringLiteral("2|vera|77|why|0")));
    EXPECT_TRUE(written[2].startsWith(QStringLiteral("4100|otto|5|why|0")));
    EXPECT_EQ(written[3], QStringLiteral("4100|sue|5|why|1"));

    // Under access control a change needs its reason; one the actor may not make is refused
    // (and audited) all the same.
    EXPECT_EQ(c.writeSetValue(0, 5, kOperator, QStringLiteral(" ")).outcome, Outcome::Invalid);
    EXPECT_EQ(c.writeSetValue(0, 5, kViewer).outcome, Outcome::Refused);
    EXPECT_EQ(c.writeSetValue(0, 5, auth::Actor::self()).outcome, Outcome::Pending);

    // With the port closed a write cannot go through, and says why.
    ASSERT_EQ(c.closePort(kSupervisor), Outcome::Done);
    EXPECT_EQ(rig.finalOutcome(c.writeSetValue(0, 5, kOperator, QStringLiteral("why"))),
              Outcome::LinkClosed);
}

TEST(ChamberCommands, HoldingRegistersAreReadWithinTheWindowsBlocks) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.state().stale; }, 60000));
    rig.server.setHoldingRegister(4097, 11);
    rig.server.setHoldingRegister(4144, 48);
    rig.server.setHoldingRegister(8225, -7);
    rig.server.setHoldingRegister(8240, 16);
    struct Read {
        quint64 id;
        Outcome outcome;
        int32_t first;
        QVector<int32_t> values;
    };
    QList<Read> reads;
    QObject::connect(&c, &chamber::Chamber::holdingRead,
                     [&](quint64 id, Outcome o, int32_t first, const QVector<int32_t>& values) {
                         reads.append({id, o, first, values});
                     });
    struct Case {
        const char* what;
        int32_t first, count;
        auth::Actor by;
        Outcome outcome;
        QVector<int32_t> ends;  // the first and last value read
    };
    const Case cases[] = {
        {"the configuration block", 4097, 48, kViewer, Outcome::Done, {11, 48}},
        {"the program's last block", 8225, 16, kViewer, Outcome::Done, {-7, 16}},
        {"one register", 4144, 1, auth::Actor::self(), Outcome::Done, {48, 48}},
        {"past the configuration block", 4097, 49, kViewer, Outcome::Invalid, {}},
        {"before the program block", 8192, 2, kViewer, Outcome::Invalid, {}},
        {"past the program block", 8240, 2, kViewer, Outcome::Invalid, {}},
        {"the set values", 1, 2, kViewer, Outcome::Invalid, {}},
        {"nothing", 4097, 0, kViewer, Outcome::Invalid, {}},
        {"a count that wraps",
         4097,
         std::numeric_limits<int32_t>::max(),
         kViewer,
         Outcome::Invalid,
         {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        reads.clear();
        const chamber::Ticket t = c.readHolding(k.first, k.count, k.by);
        if (k.outcome != Outcome::Done) {
            EXPECT_EQ(t.outcome, k.outcome);
            EXPECT_EQ(t.id, 0u);
            continue;
        }
        ASSERT_EQ(t.outcome, Outcome::Pending);
        EXPECT_EQ(rig.finalOutcome(t), Outcome::Done);
        ASSERT_EQ(reads.size(), 1);
        EXPECT_EQ(reads[0].id, t.id);
        EXPECT_EQ(reads[0].outcome, Outcome::Done);
        EXPECT_EQ(reads[0].first, k.first);
        ASSERT_EQ(reads[0].values.size(), k.count);
        EXPECT_EQ(reads[0].values.first(), k.ends[0]);
        EXPECT_EQ(reads[0].values.last(), k.ends[1]);
    }
    // A session that is locked may not look.
    auth::Actor locked = kSupervisor;
    locked.standing.locked = true;
    EXPECT_EQ(c.readHolding(4097, 48, locked).outcome, Outcome::Refused);

    // With the port closed nothing is handed over.
    ASSERT_EQ(c.closePort(auth::Actor::self()), Outcome::Done);
    const chamber::Ticket closed = c.readHolding(4097, 48, kViewer);
    EXPECT_EQ(closed.outcome, Outcome::LinkClosed);
    EXPECT_EQ(closed.id, 0u);
}

TEST(ChamberCommands, AnAlertIsAcknowledgedOnlyWithACommentByAnOperator) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    c.alerter()->raise(alert::Kind::LoginFailed, {QStringLiteral("mallory")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.state().alerts.isEmpty(); }, 60000));
    const QString id = c.state().alerts[0].id;
    EXPECT_EQ(c.acknowledgeAlert(id, QStringLiteral("seen"), kViewer), Outcome::Refused);
    EXPECT_EQ(c.acknowledgeAlert(id, QStringLiteral("  "), kOperator), Outcome::Invalid);
    EXPECT_EQ(c.acknowledgeAlert(QStringLiteral("nothing"), QStringLiteral("x"), kOperator),
              Outcome::NotFound);
    EXPECT_FALSE(c.state().alerts[0].acknowledged);
    EXPECT_EQ(c.acknowledgeAlert(id, QStringLiteral("seen"), kOperator), Outcome::Done);
    EXPECT_EQ(c.acknowledgeAlert(id, QStringLiteral("seen"), kOperator), Outcome::NotFound);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !rig.rows(
                           QStringLiteral("SELECT 1 FROM events WHERE code = 'alert.acknowledged' "
                                          "AND user_id = 'otto'"))
                        .isEmpty();
        },
        60000));
}

TEST(ChamberCommands, ARunStartsAndEndsWithItsOutcome) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    // Runs are kept beside the samples: once the recorder has made their table.
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.state().recorder.recordNo > 0; }, 60000));
    runs::Run form;
    form.name = QStringLiteral("T-1");
    EXPECT_EQ(c.startRun(form, kViewer).outcome, Outcome::Refused);
    EXPECT_EQ(c.endRun(kOperator).outcome, Outcome::NotFound);
    EXPECT_EQ(rig.finalOutcome(c.startRun(form, kOperator)), Outcome::Done);
    ASSERT_TRUE(c.state().run.has_value());
    EXPECT_EQ(c.state().run->name, QStringLiteral("T-1"));
    // The name is taken now: the worker says no.
    EXPECT_EQ(rig.finalOutcome(c.startRun(form, kOperator)), Outcome::Failed);
    EXPECT_EQ(rig.finalOutcome(c.endRun(kOperator)), Outcome::Done);
    EXPECT_FALSE(c.state().run.has_value());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return rig.rows(QStringLiteral("SELECT user_id FROM events WHERE code LIKE 'run.%' "
                                           "ORDER BY id")) ==
                   QStringList{QStringLiteral("otto"), QStringLiteral("otto")};
        },
        60000));
}

// The alert settings are an administrator's: taken, kept in the chamber's settings file and
// recorded with who and why; a refusal is recorded and changes nothing.
TEST(ChamberCommands, AlertSettingsAreAnAdministratorsAndKept) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    const alert::NotifySettings before = c.alerter()->notify();
    alert::NotifySettings notify = before;
    notify.repeatMin = 7;
    const alert::RuleConfig rules = c.alerter()->rules();
    const auth::Actor admin = auth::Actor::user(QStringLiteral("ada"), auth::Role::Administrator);
    struct Case {
        const char* what;
        const auth::Actor& by;
        const char* reason;
        Outcome outcome;
    };
    const Case cases[] = {
        {"a supervisor", kSupervisor, "why", Outcome::Refused},
        {"without a reason", admin, " ", Outcome::Invalid},
        {"an administrator", admin, "quieter", Outcome::Done},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(c.changeAlertSettings(before, rules, notify, k.by, QString::fromUtf8(k.reason)),
                  k.outcome)
            << k.what;
        EXPECT_EQ(c.alerter()->notify().repeatMin,
                  k.outcome == Outcome::Done ? 7 : before.repeatMin)
            << k.what;
    }
    alert::RuleConfig keptRules;
    alert::NotifySettings kept;
    alert::loadSettings(*c.settingsFile()(), &keptRules, &kept);
    EXPECT_EQ(kept.repeatMin, 7);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return rig.rows(QStringLiteral("SELECT code, user_id, reason FROM events WHERE code "
                                           "LIKE 'alert.settings%' ORDER BY id")) ==
                   QStringList{QStringLiteral("alert.settings.refused|sue|why"),
                               QStringLiteral("alert.settings|ada|quieter")};
        },
        60000))
        << rig.rows(QStringLiteral("SELECT code, user_id, reason FROM events WHERE code LIKE "
                                   "'alert.settings%'"))
               .join(u'\n')
               .toStdString();
}

// The port is the chamber's configuration: opened, closed and set by a supervisor, and the
// settings changed under access control are recorded with who and why.
TEST(ChamberCommands, ThePortIsOpenedClosedAndSetByTheActorsRole) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    const comm::PortSettings was = c.portSettings();
    comm::PortSettings faster = was;
    faster.baud = 2;
    struct Case {
        const char* what;
        std::function<Outcome()> command;
        Outcome outcome;
        bool openAfter;
    };
    const std::vector<Case> cases = {
        {"closed by a viewer", [&] { return c.closePort(kViewer); }, Outcome::Refused, true},
        {"closed by an operator", [&] { return c.closePort(kOperator); }, Outcome::Refused, true},
        {"closed by a supervisor", [&] { return c.closePort(kSupervisor); }, Outcome::Done, false},
        {"opened by an operator", [&] { return c.openPort(kOperator); }, Outcome::Refused, false},
        {"set by an operator", [&] { return c.openPort(faster, kOperator, QStringLiteral("why")); },
         Outcome::Refused, false},
        {"set without a reason",
         [&] { return c.openPort(faster, kSupervisor, QStringLiteral(" ")); }, Outcome::Invalid,
         false},
        {"opened by the program", [&] { return c.openPort(auth::Actor::self()); }, Outcome::Done,
         true},
        {"set by a supervisor",
         [&] { return c.openPort(faster, kSupervisor, QStringLiteral("faster line")); },
         Outcome::Done, true},
        {"opened again as it is", [&] { return c.openPort(c.portSettings(), kSupervisor); },
         Outcome::Done, true},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(k.command(), k.outcome) << k.what;
        EXPECT_EQ(c.portOpen(), k.openAfter) << k.what;
    }
    EXPECT_EQ(c.portSettings(), faster);
    // One row: the settings changed; the refusals and the opens change nothing.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !rig.rows(QStringLiteral(
                                 "SELECT 1 FROM events WHERE code = 'audit.chamber.changed'"))
                        .isEmpty();
        },
        60000));
    EXPECT_EQ(rig.rows(QStringLiteral("SELECT user_id, reason, old_value, new_value FROM events "
                                      "WHERE code = 'audit.chamber.changed'")),
              QStringList{QStringLiteral("sue|faster line|%1|%2")
                              .arg(comm::settingsText(was), comm::settingsText(faster))});
}

// An export is decided with who asked when they asked, and audited as them once its file is
// written, whenever that is and whoever is logged in by then; one refused writes nothing and
// leaves its refusal in the audit trail.
TEST(ChamberCommands, ExportsAreAuditedAsWhoAskedOnceWritten) {
    Rig rig;
    chamber::Chamber& c = *rig.chamber;
    auth::Standing nobody;
    nobody.controlled = true;
    auth::Standing locked = nobody;
    locked.role = auth::Role::Operator;
    locked.locked = true;
    const auto file = [&](const char* name) { return rig.dir.filePath(QLatin1String(name)); };
    enum class When { AtOnce, Later, Never };
    struct Case {
        const char* what;
        auth::Actor by;
        When when;
        bool written;
        Outcome first, last;
    };
    const Case cases[] = {
        {"painted at once by a viewer", kViewer, When::AtOnce, true, Outcome::Done, Outcome::Done},
        {"written later by an operator", kOperator, When::Later, true, Outcome::Pending,
         Outcome::Done},
        {"failed later", kOperator, When::Later, false, Outcome::Pending, Outcome::Failed},
        {"nobody logged in", auth::Actor::atThePc({}, nobody), When::Never, false, Outcome::Refused,
         Outcome::Refused},
        {"a locked session", auth::Actor::atThePc(QStringLiteral("otto"), locked), When::Never,
         false, Outcome::Refused, Outcome::Refused},
        {"the program itself", auth::Actor::self(), When::AtOnce, true, Outcome::Done,
         Outcome::Done},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const QString path = rig.dir.filePath(QStringLiteral("export-%1.csv").arg(++n));
        bool called = false;
        store::ExportDone finish;
        const auto make = [&] {
            if (!k.written) return;
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("a,b\r\n");
        };
        const chamber::Ticket t =
            c.exportFile(QStringLiteral("csv"), path, k.by, [&](const store::ExportDone& done) {
                called = true;
                if (k.when == When::AtOnce) {
                    make();
                    done(k.written);
                } else {
                    finish = done;
                }
            });
        EXPECT_EQ(t.outcome, k.first);
        EXPECT_EQ(called, k.when != When::Never);
        if (k.when == When::Later) {
            QSignalSpy finished(&c, &chamber::Chamber::commandFinished);
            make();
            finish(k.written);
            ASSERT_EQ(finished.size(), 1);
            EXPECT_EQ(finished.at(0).at(0).toULongLong(), t.id);
            EXPECT_EQ(finished.at(0).at(1).value<Outcome>(), k.last);
        }
        EXPECT_EQ(QFile::exists(path), k.written);
    }

    // A run's report is refused the same way, before anything is made.
    report::ReportRequest request;
    request.dbPath = rig.db;
    request.pdfPath = file("r.pdf");
    request.csvPath = file("r.csv");
    EXPECT_EQ(c.makeReport(request, auth::Actor::atThePc({}, nobody)).outcome, Outcome::Refused);
    EXPECT_FALSE(QFile::exists(request.pdfPath));

    // Only what names a user under access control is audited: the program's own file is not.
    const QStringList expected = {
        QStringLiteral("vera|audit.exported|%1").arg(rig.dir.filePath("export-1.csv")),
        QStringLiteral("otto|audit.exported|%1").arg(rig.dir.filePath("export-2.csv")),
        QStringLiteral("|audit.export.refused|%1").arg(rig.dir.filePath("export-4.csv")),
        QStringLiteral("otto|audit.export.refused|%1").arg(rig.dir.filePath("export-5.csv")),
        QStringLiteral("|audit.export.refused|%1").arg(request.pdfPath),
    };
    const auto rows = [&] {
        return rig.rows(
            QStringLiteral("SELECT user_id, code, json_extract(args, '$[2]') FROM events "
                           "WHERE code LIKE 'audit.export%' ORDER BY id"));
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows().size() >= expected.size(); }, 60000));
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(rig.rows(QStringLiteral("SELECT json_extract(args, '$[3]') FROM events "
                                      "WHERE code = 'audit.export.refused' ORDER BY id")),
              QStringList({QStringLiteral("请先登录"), QStringLiteral("会话已锁定，请输入密码解锁"),
                           QStringLiteral("请先登录")}));
}

}  // namespace
