// The event log against the simulated instrument: an operator's write, an alarm forced in the
// instrument and a silent spell each leave their row in the events table and in "事件记录", and no
// row count pushes rows out of the table.
#include <QHeaderView>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>

#include "comm/link.h"
#include "e2e_support.h"
#include "events/eventlog.h"
#include "events/eventwindow.h"

using namespace e2e;

namespace {

struct Row {
    QString kind, text;
    QVariant reg, value, status;
};

// The events table read through a connection of the test's own.
class EventsTable {
  public:
    explicit EventsTable(const QString& path) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-events"));
        db_.setDatabaseName(path);
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000;QSQLITE_OPEN_READONLY"));
        db_.open();
    }
    ~EventsTable() {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("e2e-events"));
    }
    QList<Row> rows(const QString& kind) {
        QList<Row> out;
        QSqlQuery q(db_);
        q.prepare(
            QStringLiteral("SELECT kind, text, reg, value, status FROM events WHERE kind = ? "
                           "ORDER BY id"));
        q.addBindValue(kind);
        if (q.exec())
            while (q.next())
                out.append({q.value(0).toString(), q.value(1).toString(), q.value(2), q.value(3),
                            q.value(4)});
        return out;
    }
    // The first row of kind whose text contains part, waiting up to timeoutMs for it.
    std::optional<Row> waitFor(const QString& kind, const QString& part, int timeoutMs = 5000) {
        std::optional<Row> found;
        runUntil(
            [&] {
                for (const Row& r : rows(kind))
                    if (r.text.contains(part)) found = r;
                return found.has_value();
            },
            timeoutMs);
        return found;
    }
    int count() {
        QSqlQuery q(db_);
        return q.exec(QStringLiteral("SELECT count(*) FROM events")) && q.next()
                   ? q.value(0).toInt()
                   : -1;
    }

  private:
    QSqlDatabase db_;
};

}  // namespace

class EventLogScenario : public QObject {
    Q_OBJECT
  private slots:
    void writeAlarmAndSilenceLeaveTheirRows();
};

void EventLogScenario::writeAlarmAndSilenceLeaveTheirRows() {
    SimLine line;
    line.holdProcess(300, 600);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    auto& sim = line.server();

    shell::Options options = Program::onDevice(line.device());
    Program program(options);
    auto* w = program.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto& link = program.app().chamber().link();
    events::EventLog* log = program.app().chamber().eventLog();
    QVERIFY(log);
    EventsTable table(program.app().chamber().databasePath());

    click(w, "Command9");
    QVERIFY(runUntil([&] { return labelText(w, "D_3W_0") == "300"; }, 3000));
    QVERIFY(table.waitFor("recorder", "开始记录"));

    // 1. The operator sets SV1 to 340: one write row with register, value and final status.
    typeInto(control<QLineEdit>(w, "Text1_0"), "340");
    click(w, "Command12_0");
    auto write = table.waitFor("write", "340");
    QVERIFY(write);
    QCOMPARE(write->reg.toInt(), 1);
    QCOMPARE(write->value.toInt(), 340);
    QCOMPARE(write->status.toInt(), 0);
    QVERIFY(!write->status.isNull());

    // 2. Sensor 1 opens in the instrument and closes again: both changes, as the panel words them.
    sim.setSensorOpen(1, true);
    auto opened = table.waitFor("alarm", "传感器1开路", 5000);
    QVERIFY(opened);
    QCOMPARE(opened->text, QStringLiteral("传感器正常 → 传感器1开路"));
    QCOMPARE(opened->value.toInt(), 1);
    QVERIFY(opened->reg.isNull() && opened->status.isNull());
    sim.setSensorOpen(1, false);
    QVERIFY(table.waitFor("alarm", "传感器1开路 → 传感器正常"));

    // 3. A silent spell: the line reports it (the test reports it too, so the row does not hang
    // on the link's own timing), and the instrument answering again.
    sim.setSilent(true);
    emit link.linkEvent(comm::LinkEvent::Silent, QString());
    QVERIFY(table.waitFor("link", "仪表停止应答"));
    runFor(1500);
    sim.setSilent(false);
    emit link.linkEvent(comm::LinkEvent::Answering, QString());
    QVERIFY(table.waitFor("link", "仪表恢复应答"));

    // "事件记录" shows the same, newest first, filtered by kind; Esc returns.
    click(w, "EventLogButton");
    auto* events = qobject_cast<shell::EventWindow*>(w->eventWindow());
    QVERIFY(events);
    QVERIFY(QTest::qWaitForWindowExposed(events));
    auto* view = control<QTableWidget>(events, "EventTable");
    const auto shown = [view](int row, int col) {
        auto* item = view->item(row, col);
        return item ? item->text() : QString();
    };
    QVERIFY(runUntil([&] { return shown(0, 2) == "仪表恢复应答"; }, 3000));
    QCOMPARE(shown(0, 1), QStringLiteral("通讯"));
    auto* kind = control<QComboBox>(events, "EventKind");
    QVERIFY(pick(kind, QStringLiteral("写入")));
    QVERIFY(runUntil([&] { return view->rowCount() >= 1 && shown(0, 1) == "写入"; }, 3000));
    for (int r = 0; r < view->rowCount(); ++r)
        QCOMPARE(shown(r, 1), QStringLiteral("写入"));
    // Live while open: a new write appears at the top without asking.
    typeInto(control<QLineEdit>(w, "Text1_0"), "345");
    click(w, "Command12_0");
    QVERIFY(runUntil([&] { return shown(0, 2).contains("345"); }, 3000));
    QTest::keyClick(view, Qt::Key_Escape);
    QVERIFY(runUntil([&] { return w->eventWindow() == nullptr; }, 2000));

    // No row count pushes the audit trail out: however much is logged, every row stays.
    const int before = table.count();
    for (int n = 0; n < 100; ++n) {
        events::EventEntry e;
        e.kind = events::eventkind::kLink;
        e.text = QStringLiteral("填充 %1").arg(n);
        log->log(e);
    }
    QVERIFY(table.waitFor("link", "填充 99"));
    QVERIFY(table.count() >= before + 100);
}

QTEST_MAIN(EventLogScenario)
#include "test_event_log.moc"
