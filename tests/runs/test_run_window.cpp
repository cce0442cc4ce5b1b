// The window "试验" on the whole program over a temporary database and a scripted instrument: a
// run started with keys lands in the runs table with the form's texts, the chamber and its bands,
// writes nothing to the instrument, gives the alerts its bands and the event log a line; it is
// still open after a restart and ends there; runs follow the instrument's program state when asked
// to; the report of a selected run is made beside its CSV.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTableWidget>
#include <QTest>

#include "alert/alerter.h"
#include "chamber/chamber.h"
#include "confighome.h"
#include "events/eventlog.h"
#include "fakemodbus.h"
#include "programrig.h"
#include "runs/runcontrol.h"
#include "runs/runs.h"
#include "runs/runwindow.h"
#include "shell/mainwindow.h"
#include "shell/settings.h"

using testing_support::FakeModbus;

class RunWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void runFromTheFormThroughARestartToItsEnd();
    void runsFollowTheProgramState();
    void aFileOfAnotherProgramGetsNoRunsTable();

  private:
    shell::MainWindow* main() const { return rig_->app->mainWindow(); }
    runs::RunControl* runs() const { return rig_->app->chamber().runs(); }
    // (Re)starts the program on the rig's database with the port open, and opens "试验" from the
    // main window's button with the keyboard.
    runs::RunWindow* startProgram();
    template <class T>
    T* child(const char* name) {
        auto* w = main()->runWindow()->findChild<T*>(QLatin1String(name));
        if (!w) qWarning("missing control %s", name);
        return w;
    }
    void type(const char* field, const QString& text) {
        auto* e = child<QLineEdit>(field);
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        keys(e, text);
    }
    // Key by key, as an input method sends them (Chinese too).
    static void keys(QWidget* w, const QString& text) {
        for (QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    // Enter presses a push button, as on Windows; a check box is ticked with Space.
    static void press(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w, qobject_cast<QPushButton*>(w) ? Qt::Key_Return : Qt::Key_Space);
    }
    // The runs table as another reader of the file sees it, newest first.
    std::vector<runs::Run> storedRuns() {
        runs::RunStore store(rig_->app->chamber().databasePath(), QStringLiteral("test-runs"));
        return store.open(true) ? store.list() : std::vector<runs::Run>{};
    }
    QStringList writes() const { return rig_->bus->callTexts().filter("Set_4X_D1"); }
    QStringList logged_;
    int port_ = 1;  // the port the operator opens

    QTemporaryDir config_;
    std::unique_ptr<testing_support::ProgramRig> rig_;
};

void RunWindowTest::initTestCase() {
    QVERIFY(config_.isValid());
    // The settings file of this test, not the user's.
    testsupport::useConfigHome(config_.filePath(QStringLiteral("config")));
}

runs::RunWindow* RunWindowTest::startProgram() {
    if (!rig_) {
        rig_ = std::make_unique<testing_support::ProgramRig>([](FakeModbus&) {});
    } else {
        // A restart on the same file and clock: the old program goes first, then a new one.
        rig_->app.reset();
        shell::Options o;
        o.db = rig_->dir.filePath(QStringLiteral("Rdatabj.db"));
        auto fake = std::make_unique<FakeModbus>();
        rig_->bus = fake.get();
        rig_->app = std::make_unique<shell::Application>(o, std::move(fake), &rig_->clock);
        rig_->app->startWithoutSplash();
    }
    connect(rig_->app->chamber().eventLog(), &events::EventLog::logged, this,
            [this](const events::EventEntry& e) {
                if (e.kind == "run") logged_ << e.text;
            });
    main()->findChild<QComboBox*>("Combo1")->setCurrentText(QString::number(port_));
    main()->openPort();
    if (!QTest::qWaitFor(
            [this] { return rig_->app->chamber().link().polling() && runs()->loaded(); }))
        return nullptr;
    press(main()->findChild<QPushButton*>("RunButton"));
    runs::RunWindow* w = main()->runWindow();
    return w && QTest::qWaitForWindowActive(w) ? w : nullptr;
}

void RunWindowTest::runFromTheFormThroughARestartToItsEnd() {
    rig_.reset();
    port_ = 3;
    runs::RunWindow* w = startProgram();
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QString("试验"));
    QCOMPARE(child<QLabel>("RunState")->text(), QString("无进行中的试验"));
    // The form by keys, Tab taking the fields in reading order; PV2 on fixed limits.
    type("RunName", "湿热 40 °C / 93 %RH");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QString("RunOrder"));
    QTest::keyClicks(QApplication::focusWidget(), "2026-117");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    keys(QApplication::focusWidget(), "张工");
    QCOMPARE(child<QDoubleSpinBox>("RunBandWidth_0")->value(), 2.0);
    QCOMPARE(child<QDoubleSpinBox>("RunBandWidth_1")->value(), 5.0);
    QVERIFY(!child<QWidget>("RunBandLow_1")->isEnabled());
    auto* mode = child<QComboBox>("RunBandMode_1");
    mode->setFocus(Qt::TabFocusReason);
    QTest::keyClick(mode, Qt::Key_Down);
    QVERIFY(child<QWidget>("RunBandLow_1")->isEnabled());
    // The limits typed the wrong way round: the band is the span between them.
    for (auto [field, value] :
         {std::pair{"RunBandLow_1", "95"}, std::pair{"RunBandHigh_1", "88"}}) {
        auto* s = child<QDoubleSpinBox>(field);
        s->setFocus(Qt::TabFocusReason);
        s->selectAll();
        QTest::keyClicks(s, value);
    }
    const int64_t startedAt = rig_->clock.now().toSecsSinceEpoch();
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(runs()->openRun().has_value() && !runs()->busy());

    std::vector<runs::Run> stored = storedRuns();
    QCOMPARE(stored.size(), size_t(1));
    const runs::Run run = stored.front();
    QCOMPARE(run.name, QString("湿热 40 °C / 93 %RH"));
    QCOMPARE(run.orderId, QString("2026-117"));
    QCOMPARE(run.operatorName, QString("张工"));
    // The host, device and address of the port opened, not of the one the program started with.
    QVERIFY2(run.port.startsWith("3"), qPrintable(run.port));
    QCOMPARE(run.station, runs::stationOf(QSysInfo::machineHostName(), run.port, 1));
    QCOMPARE(run.address, 1);
    QCOMPARE(run.start, startedAt);
    QVERIFY(!run.end && !run.automatic);
    QCOMPARE(run.band1, (instrument::ToleranceBand{false, 2.0, 0, 0}));
    QCOMPARE(run.band2, (instrument::ToleranceBand{true, 5.0, 88, 95}));
    QVERIFY(!child<QWidget>("RunStart")->isEnabled() && child<QWidget>("RunStop")->isEnabled());
    QTRY_COMPARE(w->table()->rowCount(), 1);
    QCOMPARE(w->table()->item(0, 3)->text(), QString("进行中"));
    // The run's own texts leave the form; the bands stay.
    for (const char* field : {"RunName", "RunOrder", "RunOperator"})
        QVERIFY2(child<QLineEdit>(field)->text().isEmpty(), field);
    QCOMPARE(child<QComboBox>("RunBandMode_1")->currentIndex(), 1);
    // The alerts watch the run's bands, the configured hysteresis kept.
    alert::Alerter* alerter = rig_->app->chamber().alerter();
    const instrument::ToleranceBand b2 = alerter->bandOf(1);
    QVERIFY(b2.fixed && b2.low == 88 && b2.high == 95);
    QCOMPARE(b2.hysteresis, alerter->rules().bands[1].hysteresis);
    QCOMPARE(alerter->bandOf(0).plusMinus, 2.0);
    QTRY_COMPARE(logged_, QStringList{"试验开始：湿热 40 °C / 93 %RH"});
    // Esc closes the window and hands the keys back to its button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!w->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), main()->findChild<QWidget*>("RunButton"));

    // The program ends with the run open; the next one shows it running and ends it.
    rig_->clock.advance(3600);
    QVERIFY(w = startProgram());
    QTRY_VERIFY(runs()->openRun().has_value());
    QCOMPARE(runs()->openRun()->id, run.id);
    QVERIFY(child<QLabel>("RunState")->text().startsWith("进行中：湿热"));
    QCOMPARE(w->table()->item(0, 4)->text(), QString("1:00:00"));
    QVERIFY(child<QLineEdit>("RunOrder")->text().isEmpty());  // the form as it was left
    QCOMPARE(child<QComboBox>("RunBandMode_1")->currentIndex(), 1);
    QVERIFY(rig_->app->chamber().alerter()->bandOf(1).fixed);
    press(child<QPushButton>("RunStop"));
    QTRY_VERIFY(!runs()->openRun() && !runs()->busy());
    stored = storedRuns();
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored.front().end, std::optional<int64_t>(startedAt + 3600));
    QVERIFY(!rig_->app->chamber().alerter()->bandOf(1).fixed);
    QTRY_COMPARE(logged_.last(), QString("试验结束：湿热 40 °C / 93 %RH"));
    QCOMPARE(writes(), QStringList{});

    // The report of the selected run, its data beside it under the same name.
    w->table()->selectRow(0);
    QVERIFY(child<QWidget>("RunReport")->isEnabled());
    const QString pdf = rig_->dir.filePath("run.pdf");
    w->generateReport(pdf);
    QVERIFY(child<QWidget>("RunCancel")->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!child<QWidget>("RunCancel")->isVisible(), 20000);
    QCOMPARE(child<QLabel>("RunOutcome")->text(), "报告已生成：" + pdf);
    QVERIFY(QFileInfo(pdf).size() > 0 && QFileInfo::exists(rig_->dir.filePath("run.csv")));
    QVERIFY(child<QWidget>("RunReport")->isEnabled());
    QFile written(pdf);
    QVERIFY(written.open(QIODevice::ReadOnly) && written.read(5) == "%PDF-");
    // A folder that is not there: the window says the report was not written, and why.
    const QString nowhere = rig_->dir.filePath("missing/run.pdf");
    w->generateReport(nowhere);
    QTRY_VERIFY_WITH_TIMEOUT(!child<QWidget>("RunCancel")->isVisible(), 20000);
    const QString outcome = child<QLabel>("RunOutcome")->text();
    QVERIFY2(outcome.startsWith("报告未生成：") && outcome.size() > 6, qPrintable(outcome));
    QVERIFY(!QFileInfo::exists(nowhere) && child<QWidget>("RunReport")->isEnabled());

    // A name in use is refused where it was typed, and nothing is stored.
    type("RunName", "湿热 40 °C / 93 %RH");
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(!runs()->busy());
    QCOMPARE(child<QLabel>("RunState")->text(),
             QString("未完成：试验名称已被使用：湿热 40 °C / 93 %RH"));
    QCOMPARE(storedRuns().size(), size_t(1));
    QCOMPARE(child<QLineEdit>("RunName")->text(), QString("湿热 40 °C / 93 %RH"));
    // A name of any length keeps the window within the screen.
    const int width = w->width();
    child<QLineEdit>("RunName")->setText(QString(3000, u'长'));
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(runs()->openRun().has_value() && !runs()->busy());
    QVERIFY(child<QLabel>("RunState")->text().startsWith("进行中：长长"));
    QCoreApplication::processEvents();
    QVERIFY2(w->width() <= width && w->minimumSizeHint().width() <= width,
             qPrintable(
                 QString("%1 %2 %3").arg(w->width()).arg(w->minimumSizeHint().width()).arg(width)));

    // A report is the chamber's once asked for: the window closed before it is written does not
    // stop it.
    w->table()->selectRow(1);
    const QString orphan = rig_->dir.filePath("orphan.pdf");
    QSignalSpy finished(&rig_->app->chamber(), &chamber::Chamber::reportFinished);
    w->generateReport(orphan);
    QVERIFY(child<QWidget>("RunCancel")->isVisible());
    delete w;
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished.at(0).at(2).toBool(), false);
    QVERIFY(QFileInfo(orphan).size() > 0);
}

void RunWindowTest::runsFollowTheProgramState() {
    rig_.reset();
    port_ = 1;
    runs::RunWindow* w = startProgram();
    QVERIFY(w);
    press(child<QAbstractButton>("RunAutomatic"));
    QVERIFY(runs()->automatic());
    QVERIFY(shell::settingsFile()->value("run/automatic").toBool());
    type("RunName", "");  // an automatic run without a name is named by its start
    type("RunOrder", "A-7");

    // 3X 4097: running starts a run, a pause keeps it, ended ends it.
    struct Step {
        int32_t state;
        bool open;
    };
    int64_t at = rig_->clock.now().toSecsSinceEpoch();
    for (const Step s : {Step{1, true}, Step{2, true}, Step{3, false}}) {
        rig_->clock.advance(60);
        at += 60;
        rig_->bus->setInput(4097, s.state);
        QTRY_COMPARE(rig_->app->chamber().link().image().InputRegsHigh[0], s.state);
        QTRY_VERIFY(!runs()->busy() && runs()->openRun().has_value() == s.open);
    }
    std::vector<runs::Run> stored = storedRuns();
    QCOMPARE(stored.size(), size_t(1));
    QCOMPARE(stored.front().name,
             "试验 " + QDateTime::fromSecsSinceEpoch(at - 120).toString("yyyy-MM-dd HH:mm"));
    QCOMPARE(stored.front().orderId, QString("A-7"));
    QVERIFY(stored.front().automatic);
    QCOMPARE(stored.front().start, at - 120);
    QCOMPARE(stored.front().end, std::optional<int64_t>(at));

    // A run the operator started is not ended by the program; one running already is no second.
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(runs()->openRun().has_value() && !runs()->busy());
    for (int32_t state : {0, 1}) {
        rig_->bus->setInput(4097, state);
        QTRY_COMPARE(rig_->app->chamber().link().image().InputRegsHigh[0], state);
    }
    QTest::qWait(200);
    QVERIFY(runs()->openRun().has_value() && !runs()->openRun()->automatic);
    QCOMPARE(storedRuns().size(), size_t(2));
    QCOMPARE(writes(), QStringList{});
    // Another run without a name in the same minute gets a name of its own.
    press(child<QPushButton>("RunStop"));
    QTRY_VERIFY(!runs()->openRun() && !runs()->busy());
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(runs()->openRun().has_value() && !runs()->busy());
    stored = storedRuns();
    QCOMPARE(stored.at(0).name, stored.at(1).name + " (2)");
    // The choice is kept for the next program.
    QVERIFY(startProgram());
    QVERIFY(child<QAbstractButton>("RunAutomatic")->isChecked());
}

void RunWindowTest::aFileOfAnotherProgramGetsNoRunsTable() {
    rig_.reset();
    QVERIFY(startProgram());
    rig_->app.reset();
    QDir dir(rig_->dir.path());
    for (const QString& f : dir.entryList(QDir::Files))
        QVERIFY(dir.remove(f));
    const QString db = dir.filePath("Rdatabj.db");
    auto tables = [&db] {
        QStringList names;
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "foreign");
            c.setDatabaseName(db);
            QSqlQuery q(c);
            if (c.open() && q.exec("SELECT name FROM sqlite_master WHERE type = 'table'"))
                while (q.next())
                    names << q.value(0).toString();
        }
        QSqlDatabase::removeDatabase("foreign");
        return names;
    };
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "make");
        c.setDatabaseName(db);
        QVERIFY(c.open() && QSqlQuery(c).exec("CREATE TABLE pv_data (a INTEGER, b TEXT)"));
    }
    QSqlDatabase::removeDatabase("make");
    // The recorder refuses the file; a run started on it is refused too and adds no table.
    QVERIFY(startProgram());
    press(child<QPushButton>("RunStart"));
    QTRY_VERIFY(!runs()->busy());
    QVERIFY(!runs()->openRun());
    QVERIFY2(child<QLabel>("RunState")->text().startsWith("未完成：不是记录数据库"),
             qPrintable(child<QLabel>("RunState")->text()));
    QVERIFY(child<QWidget>("RunStart")->isEnabled());
    QVERIFY2(!tables().contains("runs"), qPrintable(tables().join(',')));
}

QTEST_MAIN(RunWindowTest)
#include "test_run_window.moc"
