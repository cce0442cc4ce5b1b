// Two chambers on two simulated instruments, as the operator and a screen reader meet them in the
// overview: tiles and their worst state, a chamber's main window and back, the arrow keys between
// tiles, the chamber dialog's refusals and its line's turnaround delay, a deleted chamber's
// database kept whole while the window goes on, and the list kept over a restart.
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSemaphore>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "../e2e/access_driver.h"
#include "../support/sqlrows.h"
#include "alert/alerter.h"
#include "auth/userstore.h"
#include "chamber/chamber.h"
#include "overview/chamberlist.h"
#include "overview/overviewwindow.h"
#include "overviewrig.h"
#include "shell/accesscommand.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "shell/settings.h"
#include "sim/server.h"
#include "store/recorder.h"

namespace {

// What a screen reader hears of the tile named name: its worst state, then its lines.
QString tileSaid(QWidget* window, const QString& name) {
    QList<QAccessibleInterface*> todo{QAccessible::queryAccessibleInterface(window)};
    while (!todo.isEmpty()) {
        QAccessibleInterface* i = todo.takeFirst();
        if (!i) continue;
        if (i->text(QAccessible::Name) == name && i->object() &&
            i->object()->objectName().startsWith("ChamberTile_"))
            return i->text(QAccessible::Description);
        for (int k = 0; k < i->childCount(); ++k)
            todo << i->child(k);
    }
    return {};
}

// Two chambers, each on a simulated instrument of its own at port 1 and 2, their lines opened.
shell::Options twoChambers(sim::SimServer& one, sim::SimServer& two, const char* nameOne,
                           const char* nameTwo) {
    shell::Options o;
    if (!one.start() || !two.start()) return o;
    o.ports[1] = QString::fromStdString(one.device());
    o.ports[2] = QString::fromStdString(two.device());
    o.chambers = {{nameOne, 1, 1}, {nameTwo, 2, 1}};
    o.connect = true;
    return o;
}

}  // namespace

class OverviewTest : public QObject {
    Q_OBJECT
  private slots:
    void chambersOnTheOverview();
    void aProfileBecomesAChamber();
    void deletingASilentChamberKeepsTheWindowGoing();
    void newValuesOnATileLayOutNothingElse();
    void listChangesUnderAccessControl();
    void aLineIsOneThingForAllItsChambers();
};

void OverviewTest::chambersOnTheOverview() {
    sim::SimServer simA, simB;
    shell::Options o = twoChambers(simA, simB, "A", "B");
    QCOMPARE(o.chambers.size(), 2);
    auto app = std::make_unique<shell::Application>(o);
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    QVERIFY(ov && ov->isVisible());
    QCOMPARE(ov->windowTitle(), "试验箱总览");
    QVERIFY(!app->mainWindow());
    QCOMPARE(ov->tiles().size(), 2);
    // Each chamber is what a profile of its name is.
    QCOMPARE(app->chambers()[1]->databasePath(), shell::Application::defaultDatabasePath("B"));
    QCOMPARE(app->chambers()[1]->stationName(), "B");

    QTRY_VERIFY_WITH_TIMEOUT(
        tileSaid(ov, "A").startsWith("正常\n") && tileSaid(ov, "A").contains("通讯正常"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "B").startsWith("正常\n"), 20000);
    // B's sensor opens: its tile turns red, A's stays as it is.
    simB.setSensorOpen(1, true);
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "B").startsWith("报警\n"), 20000);
    QCOMPARE(ov->tiles()[1]->palette().color(QPalette::Window),
             overview::toneColour(overview::Tone::Alarm, false));
    QVERIFY(tileSaid(ov, "A").startsWith("正常\n"));
    // Its alert waits in the overview's list of every chamber's alerts, acknowledged there with a
    // comment; once the sensor is back B is normal again.
    auto* alerts = ov->findChild<QTableWidget*>("OverviewAlertList");
    auto* comment = ov->findChild<QLineEdit*>("OverviewAlertComment");
    auto* ack = ov->findChild<QPushButton*>("OverviewAlertAcknowledge");
    auto* said = ov->findChild<QLabel*>("OverviewAlertMessage");
    QTRY_VERIFY_WITH_TIMEOUT(alerts->rowCount() == 1 && alerts->item(0, 0)->text() == "B", 20000);
    ack->click();
    QCOMPARE(said->text(), "请填写确认说明");
    comment->setText("张工 检查传感器");
    ack->click();
    QVERIFY(said->text().startsWith("已确认："));
    QVERIFY(app->chambers()[1]->alerter()->listed().front().acknowledged);
    simB.setSensorOpen(1, false);
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "B").startsWith("正常\n"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(alerts->rowCount(), 0, 20000);
    // A falls silent: grey, with how long.
    simA.setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "A").startsWith("无通讯\n"), 20000);
    QVERIFY(tileSaid(ov, "A").contains("仪表无应答"));
    QCOMPARE(ov->tiles()[0]->palette().color(QPalette::Window),
             overview::toneColour(overview::Tone::Silent, false));

    // Enter on B's tile opens B's main window; Esc goes back, B still polled and recorded.
    ov->activateWindow();
    ov->tiles()[1]->setFocus();
    QTest::keyClick(ov->tiles()[1], Qt::Key_Return);
    shell::MainWindow* mw = app->mainWindow();
    QVERIFY(mw && mw->isVisible() && !ov->isVisible());
    QVERIFY(mw->windowTitle().endsWith("— B"));
    QVERIFY(QTest::qWaitForWindowActive(mw));
    QTest::keyClick(mw, Qt::Key_Escape);
    QTRY_VERIFY(!mw->isVisible() && ov->isVisible());
    QVERIFY(app->chambers()[1]->link().polling());
    QTRY_VERIFY_WITH_TIMEOUT(app->chambers()[1]->recorder()->status().recordNo > 0, 20000);

    // The dialog refuses what the command line refuses, and keeps nothing.
    ov->addChamber();
    auto* dialog = qobject_cast<QDialog*>(ov->dialog());
    QVERIFY(dialog);
    auto* name = dialog->findChild<QLineEdit*>("ChamberName");
    auto* port = dialog->findChild<QSpinBox*>("ChamberPort");
    auto* address = dialog->findChild<QSpinBox*>("ChamberAddress");
    auto* ok = dialog->findChild<QPushButton*>("ChamberDialogOk");
    auto* message = dialog->findChild<QLabel*>("ChamberDialogMessage");
    const struct {
        const char* name;
        int port, address;
        const char* said;
    } refused[] = {{"a", 3, 1, "名称 a 已被其他试验箱使用"},
                   {"C", 2, 1, "端口 2 上的地址 1 已被其他试验箱使用"},
                   {"C d", 3, 1, "名称只能由字母"}};
    for (const auto& r : refused) {
        name->setText(r.name);
        port->setValue(r.port);
        address->setValue(r.address);
        ok->click();
        QVERIFY2(message->text().startsWith(r.said), qPrintable(message->text()));
        QVERIFY(dialog->isVisible());
    }
    QCOMPARE(overview::readChambers(*shell::settingsFileFor({})).size(), 2);
    name->setText("C");
    address->setValue(2);
    ok->click();
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(ov->tiles().size(), 3);
    QCOMPARE(overview::readChambers(*shell::settingsFileFor({})).size(), 3);

    // The arrow keys, Home and End move between the tiles (one row of three here), stopping at
    // either end.
    ov->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(ov));
    ov->tiles()[0]->setFocus();
    const struct {
        Qt::Key key;
        int to;
    } steps[] = {{Qt::Key_Right, 1}, {Qt::Key_End, 2},  {Qt::Key_Right, 2}, {Qt::Key_Down, 2},
                 {Qt::Key_Left, 1},  {Qt::Key_Home, 0}, {Qt::Key_Left, 0}};
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), step.key);
        QCOMPARE(QApplication::focusWidget(), ov->tiles()[step.to]);
        QCOMPARE(ov->current(), step.to);
    }

    // A change of port or address is kept and followed by the chamber's link at once.
    ov->tiles()[1]->setFocus();
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->editChamber();
    dialog = qobject_cast<QDialog*>(ov->dialog());
    QVERIFY(dialog && dialog->findChild<QLineEdit*>("ChamberName")->isReadOnly());
    dialog->findChild<QSpinBox*>("ChamberAddress")->setValue(2);
    // So is the turnaround delay of the chamber's line, kept by port and given to the line.
    auto* turnaround = dialog->findChild<QSpinBox*>("ChamberTurnaround");
    QCOMPARE(turnaround->value(), 0);
    turnaround->setValue(40);
    dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(app->chambers()[1]->link().settings().address, 2);
    QCOMPARE(overview::readChambers(*shell::settingsFileFor({}))[1].address, 2);
    QCOMPARE(overview::readTurnarounds(*shell::settingsFileFor({})).value(2), 40);
    QCOMPARE(app->chambers()[1]->link().line()->turnaroundMs(20000), 40);
    QCOMPARE(app->chambers()[0]->link().line()->turnaroundMs(20000), 0);
    // The dialog of another chamber on that port starts with the port's delay.
    ov->addChamber();
    dialog = qobject_cast<QDialog*>(ov->dialog());
    turnaround = dialog->findChild<QSpinBox*>("ChamberTurnaround");
    QCOMPARE(turnaround->value(), 0);
    dialog->findChild<QSpinBox*>("ChamberPort")->setValue(2);
    QCOMPARE(turnaround->value(), 40);
    dialog->findChild<QPushButton*>("ChamberDialogCancel")->click();
    QTRY_VERIFY(!ov->dialog());
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "B").contains("仪表无应答"), 20000);

    // Deleting C keeps its database.
    QTest::mouseClick(ov->tiles()[2], Qt::LeftButton);
    ov->deleteChamber();
    auto* question = qobject_cast<QMessageBox*>(ov->dialog());
    QVERIFY(question);
    question->findChild<QPushButton*>("DeleteQuestionDelete")->click();
    QTRY_COMPARE(ov->tiles().size(), 2);
    QCOMPARE(ov->chambers().last().conf.name, "B");
    QVERIFY(QFile::exists(shell::Application::defaultDatabasePath("C")));

    // A restart without --chamber serves the chambers kept.
    app.reset();
    shell::Options again;
    again.ports = o.ports;
    app = std::make_unique<shell::Application>(again);
    o.chambers[1].address = 2;
    QCOMPARE(app->chamberSpecs(), o.chambers);
    QVERIFY(app->startWithoutSplash());
    QCOMPARE(app->overviewWindow()->tiles().size(), 2);
    // The delay kept reaches the line of its port at start.
    QCOMPARE(app->chambers()[1]->link().line()->turnaroundMs(20000), 40);
    app.reset();
}

// Two chambers on one line of a multi-address instrument and a second device: a chamber's own
// window changes its settings through the chamber list, the line's baud rate and parity are one
// setting for all its chambers, a port change moves a chamber to its new device's line, and the
// lines open when the program ended open again at the next start.
void OverviewTest::aLineIsOneThingForAllItsChambers() {
    sim::ServerOptions so;
    so.addresses = {1, 2, 3};
    sim::SimServer line1(so), line2;
    QVERIFY(line1.start() && line2.start());
    for (int a : so.addresses)
        line1.withInstrument(a,
                             [a](sim::Instrument& i) { return i.setHoldingRegister(1, 10 * a); });
    line2.withInstrument(1, [](sim::Instrument& i) { return i.setHoldingRegister(1, 77); });
    shell::Options o;
    o.ports[1] = QString::fromStdString(line1.device());
    o.ports[2] = QString::fromStdString(line2.device());
    o.chambers = {{"TH01", 1, 1}, {"TH02", 1, 2}};
    o.connect = true;
    auto app = std::make_unique<shell::Application>(o);
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    const auto kept = [] { return overview::readChambers(*shell::settingsFileFor({})); };
    const auto sv1 = [&](int i) { return app->chambers()[i]->link().image().LiveValues[2]; };
    QTRY_VERIFY_WITH_TIMEOUT(sv1(0) == 10.0f && sv1(1) == 20.0f, 20000);

    // TH01's window: an address in use is refused and changes nothing; a free one is taken,
    // kept and polled.
    app->showChamberWindow(0);
    shell::MainWindow* mw = app->mainWindow();
    auto* address = mw->findChild<QComboBox*>("Combo2");
    auto* open = mw->findChild<QPushButton*>("Command9");
    auto* said = mw->findChild<QLabel*>("OperatorMessage");
    address->setCurrentText("2");
    open->click();
    QCOMPARE(said->text(), "端口 1 上的地址 2 已被其他试验箱使用");
    QCOMPARE(app->chambers()[0]->link().settings().address, 1);
    QCOMPARE(kept()[0].address, 1);
    address->setCurrentText("3");
    open->click();
    QCOMPARE(kept()[0].address, 3);
    QCOMPARE(app->chambers()[0]->link().settings().address, 3);
    QTRY_VERIFY_WITH_TIMEOUT(sv1(0) == 30.0f, 20000);

    // 19200 baud chosen in TH01's window is the line's: kept for both, TH02's link and window
    // follow, and the status bar names it.
    mw->findChild<QRadioButton*>("Option1_2")->click();
    open->click();
    QCOMPARE(kept()[0].baud, 19200);
    QCOMPARE(kept()[1].baud, 19200);
    QCOMPARE(app->chambers()[1]->link().settings().baud, 2);
    QVERIFY(app->chambers()[1]->link().polling());
    QTRY_VERIFY_WITH_TIMEOUT(mw->findChild<QLabel*>("LinkStatus")->text().contains("19200 无校验"),
                             20000);
    // "关于" in the chamber's window and on the overview opens one About box: the licence and
    // every library the program is built with.
    const auto aboutBoxes = [] {
        QList<QWidget*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "AboutDialog" && w->isVisible()) found << w;
        return found;
    };
    mw->findChild<QToolButton*>("MainAbout")->click();
    ov->findChild<QPushButton*>("OverviewAbout")->click();
    QCOMPARE(aboutBoxes().size(), 1);
    QWidget* about = aboutBoxes()[0];
    QVERIFY(about->findChild<QLabel*>("AboutLicense")->text().contains("GPL-3.0-or-later"));
    QStringList shown;
    auto* components = about->findChild<QTableWidget*>("AboutComponents");
    for (int r = 0; r < components->rowCount(); ++r)
        shown << components->item(r, 0)->text() + ' ' + components->item(r, 1)->text();
    for (const char* c :
         {"Qt 6 LGPL-3.0-only", "libmodbus LGPL-2.1-or-later", "civetweb MIT", "uPlot MIT"})
        QVERIFY2(shown.contains(c), c);
    about->close();
    QTRY_VERIFY(aboutBoxes().isEmpty());
    mw->requestExit();
    QTRY_VERIFY(ov->isVisible());
    app->showChamberWindow(1);
    QVERIFY(app->mainWindow()->findChild<QRadioButton*>("Option1_2")->isChecked());
    app->mainWindow()->requestExit();
    QTRY_VERIFY(ov->isVisible());

    // The overview changes the line's parity for both chambers in one.
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->editChamber();
    auto* dialog = qobject_cast<QDialog*>(ov->dialog());
    QVERIFY(dialog);
    dialog->findChild<QComboBox*>("ChamberParity")->setCurrentIndex(2);
    dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(kept()[0].parity, u'E');
    QCOMPARE(kept()[1].parity, u'E');
    QCOMPARE(app->chambers()[0]->link().settings().parity, 2);

    // TH02 moved to port 2 reads the instrument there, on that device's line; "关闭" and "打开"
    // in its window act on it.
    ov->editChamber();
    dialog = qobject_cast<QDialog*>(ov->dialog());
    dialog->findChild<QSpinBox*>("ChamberPort")->setValue(2);
    dialog->findChild<QSpinBox*>("ChamberAddress")->setValue(1);
    dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
    QTRY_VERIFY(!ov->dialog());
    QVERIFY(app->chambers()[1]->link().line() != app->chambers()[0]->link().line());
    QTRY_VERIFY_WITH_TIMEOUT(sv1(1) == 77.0f, 20000);
    app->showChamberWindow(1);
    mw = app->mainWindow();
    mw->findChild<QPushButton*>("Command10")->click();
    mw->findChild<QPushButton*>("Command9")->click();
    QTRY_VERIFY_WITH_TIMEOUT(app->chambers()[1]->link().stats().portOpen, 20000);
    QCOMPARE(app->chambers()[1]->link().stats().device, o.ports[2]);
    mw->requestExit();
    QTRY_VERIFY(ov->isVisible());

    // A chamber added to an open line is polled at once.
    ov->addChamber();
    dialog = qobject_cast<QDialog*>(ov->dialog());
    dialog->findChild<QLineEdit*>("ChamberName")->setText("TH03");
    dialog->findChild<QSpinBox*>("ChamberPort")->setValue(1);
    dialog->findChild<QSpinBox*>("ChamberAddress")->setValue(2);
    dialog->findChild<QComboBox*>("ChamberBaud")->setCurrentIndex(2);
    dialog->findChild<QComboBox*>("ChamberParity")->setCurrentIndex(2);
    dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(ov->tiles().size(), 3);
    QVERIFY(app->chambers()[2]->link().polling());
    QTRY_VERIFY_WITH_TIMEOUT(sv1(2) == 20.0f, 20000);

    // The overview closes port 2's line: TH02 only.
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->findChild<QPushButton*>("OverviewLineClose")->click();
    QVERIFY(!app->chambers()[1]->link().polling());
    QVERIFY(app->chambers()[0]->link().polling() && app->chambers()[2]->link().polling());

    // Restarted without --connect: port 1's line opens again, port 2's stays closed.
    app.reset();
    shell::Options again;
    again.ports = o.ports;
    app = std::make_unique<shell::Application>(again);
    QVERIFY(app->startWithoutSplash());
    ov = app->overviewWindow();
    QVERIFY(app->chambers()[0]->link().polling() && app->chambers()[2]->link().polling());
    QVERIFY(!app->chambers()[1]->link().polling());
    QTRY_VERIFY_WITH_TIMEOUT(sv1(0) == 30.0f && sv1(2) == 20.0f, 20000);
    // And opens port 2's from the overview.
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->findChild<QPushButton*>("OverviewLineOpen")->click();
    QTRY_VERIFY_WITH_TIMEOUT(sv1(1) == 77.0f, 20000);
    app.reset();
}

namespace {

struct Run {
    int code;
    QByteArray out, err;
};

Run velmars(const QStringList& args) {
    QProcess p;
    p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", args);
    if (!p.waitForFinished(60000)) p.kill();
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

}  // namespace

void OverviewTest::aProfileBecomesAChamber() {
    // A program run with a profile records into the profile's database; the chamber of that
    // name reads the same one.
    QCOMPARE(velmars({"--profile", "P", "--simulate", "--connect", "--quit-after", "4"}).code, 0);
    const Run profile = velmars({"--export-csv", "-", "--profile", "P"});
    const Run chamber = velmars({"--export-csv", "-", "--chamber", "P=1,1"});
    QCOMPARE(profile.code, 0);
    QCOMPARE(chamber.code, 0);
    QVERIFY(profile.out.count('\n') > 2);
    QCOMPARE(chamber.out, profile.out);
    // A refused list says so in one line and keeps nothing.
    const auto kept = overview::readChambers(*shell::settingsFileFor({}));
    const Run refused = velmars({"--chamber", "P=1,1", "--chamber", "p=2,1", "--connect"});
    QCOMPARE(refused.code, 2);
    QCOMPARE(refused.err.count('\n'), 1);
    shell::settingsFileFor({})->sync();
    QCOMPARE(overview::readChambers(*shell::settingsFileFor({})), kept);
}

void OverviewTest::deletingASilentChamberKeepsTheWindowGoing() {
    sim::SimServer simK, simS;
    const shell::Options o = twoChambers(simK, simS, "K", "S");
    QCOMPARE(o.chambers.size(), 2);
    auto app = std::make_unique<shell::Application>(o);
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    const QString path = app->chambers()[1]->databasePath();
    const QString lockFile = path + ".lock";
    const auto remove = [&](int tile) {
        QTest::mouseClick(ov->tiles()[tile], Qt::LeftButton);
        ov->deleteChamber();
        qobject_cast<QMessageBox*>(ov->dialog())
            ->findChild<QPushButton*>("DeleteQuestionDelete")
            ->click();
    };
    QTRY_VERIFY_WITH_TIMEOUT(app->chambers()[1]->recorder()->status().recordNo >= 2, 30000);
    // S falls silent: every exchange on its line now ends in a timeout.
    simS.setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(tileSaid(ov, "S").startsWith("无通讯\n"), 20000);

    // Deleting it leaves its threads to end on their own: a call the window posts now runs while
    // they still hold its database. Its line's thread is held as by an exchange that hangs, so
    // that it is surely still busy.
    QSemaphore inFlight;
    const auto release = qScopeGuard([&] { inFlight.release(); });
    app->chambers()[1]->link().line()->post([&](comm::LineWorker&) { inFlight.acquire(); });
    remove(1);
    QCOMPARE(ov->tiles().size(), 1);
    bool ran = false, held = false;
    QMetaObject::invokeMethod(
        ov,
        [&] {
            ran = true;
            held = QFile::exists(lockFile);
        },
        Qt::QueuedConnection);
    QTRY_VERIFY(ran);
    QVERIFY(held);
    inFlight.release();

    // Added again at once, it waits for its namesake to let go of the database, then records.
    ov->addChamber();
    auto* dialog = ov->dialog();
    dialog->findChild<QLineEdit*>("ChamberName")->setText("S");
    dialog->findChild<QSpinBox*>("ChamberPort")->setValue(2);
    dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
    QCOMPARE(ov->tiles().size(), 2);
    chamber::Chamber* again = app->chambers()[1].get();
    if (!app->teardowns().isEmpty()) {
        QVERIFY(!again->eventLog());
        ov->refresh();
        QVERIFY(tileSaid(ov, "S").contains("等待数据库释放"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(again->recorder() && again->recording(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(again->recorder()->status().recordNo >= 4, 30000);

    // Deleted again and the program left at once: leaving waits for its last sample.
    const int recorded = again->recorder()->status().recordNo;
    remove(1);
    app.reset();
    QVERIFY(!QFile::exists(lockFile));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
        QCOMPARE(q.value(0).toString(), "ok");
        QVERIFY(q.exec("SELECT last_id FROM sl_void") && q.next());
        const int last = q.value(0).toInt();
        QVERIFY2(last >= recorded, qPrintable(QString("%1 < %2").arg(last).arg(recorded)));
        // Every place up to the counter holds a whole sample.
        QVERIFY(q.exec("SELECT count(*) FROM pv_data WHERE w_id <= " + QString::number(last) +
                       " AND w_date > 0 AND w_time IS NOT NULL") &&
                q.next());
        QCOMPARE(q.value(0).toInt(), last);
    }
    QSqlDatabase::removeDatabase("check");
}

// Every tile shows new values twice a second: that repaints the words that changed or moved, and
// lays out neither the grid of tiles nor the window (with 16 chambers that cost the UI thread
// milliseconds each time). What the window then shows of the tile is what painting it whole draws.
void OverviewTest::newValuesOnATileLayOutNothingElse() {
    overview::OverviewWindow ov;
    ov.setChambers({{{"A", 1, 1}, nullptr}, {{"B", 1, 2}, nullptr}});
    ov.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ov));
    overview::TileWidget* tile = ov.tiles()[0];
    struct Counter : QObject {
        QWidget* tile = nullptr;
        int elsewhere = 0;
        bool eventFilter(QObject* o, QEvent* e) override {
            auto* w = qobject_cast<QWidget*>(o);
            if (e->type() == QEvent::LayoutRequest && w && w != tile && !tile->isAncestorOf(w))
                ++elsewhere;
            return false;
        }
    } counter;
    counter.tile = tile;
    const auto shownAsWhole = [&] {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        const QPoint at = tile->mapTo(&ov, QPoint(0, 0));
        const QImage shown =
            ov.screen()
                ->grabWindow(ov.winId(), at.x(), at.y(), tile->width(), tile->height())
                .toImage();
        return shown.convertToFormat(QImage::Format_RGB32) ==
               tile->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    QCoreApplication::processEvents();
    qApp->installEventFilter(&counter);
    const QStringList links = {"通讯正常", "仪表无应答 12 秒", "端口关闭"};
    for (int i = 0; i < 12; ++i) {
        const QString pv = QString("PV1 %1 °C / SV1 55.5 °C").arg(20.5 + i * 1111.1);
        tile->display({{"A" + QString(i % 2 ? "-第二" : ""), pv, "PV2 40 %RH / SV2 60 %RH",
                        "运行 第 3 段", "无试验", links[i % 3], "记录中"},
                       overview::Tone::Normal},
                      false);
        QVERIFY(shownAsWhole());
    }
    qApp->removeEventFilter(&counter);
    QCOMPARE(counter.elsewhere, 0);
    // Its lines fit into it.
    QVERIFY(tile->height() >= tile->sizeHint().height());
    // A larger font lays every word out again: the lines grow with it.
    const int narrow = tile->sizeHint().width();
    QFont larger = tile->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    tile->setFont(larger);
    QVERIFY(tile->sizeHint().width() > narrow * 5 / 4);
    QVERIFY(shownAsWhole());
}

void OverviewTest::listChangesUnderAccessControl() {
    // Access control on: a change of the list asks for its reason and is recorded, the settings
    // before and after with it, in every chamber's log; a failed login raises one alert for the
    // PC, not one per chamber.
    const QString storePath = shell::userStorePath();
    const auto dropStore = qScopeGuard([&] { QFile::remove(storePath); });
    {
        QDir().mkpath(QFileInfo(storePath).path());
        auth::UserStore store(storePath, "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
    }
    sim::SimServer simA, simB;
    auto app = std::make_unique<shell::Application>(twoChambers(simA, simB, "P", "Q"));
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    auth::Doorman& door = *app->doorman();
    QTRY_VERIFY_WITH_TIMEOUT(door.loginDialog(), 10000);
    QVERIFY(e2e::covered(ov));
    e2e::fill(door.loginDialog(), {{"LoginUser", "admin"}, {"LoginPassword", "wrongpass"}},
              "LoginButton");
    const auto loginAlerts = [&] {
        int n = 0;
        for (const auto& c : app->chambers())
            for (const alert::ListedAlert& a : c->alerter()->listed())
                n += a.kind == alert::Kind::LoginFailed;
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(loginAlerts(), 1, 10000);
    QVERIFY(e2e::logIn(door, "admin", "adminpass1"));
    QVERIFY(!e2e::covered(ov));

    // Q to address 2, its line's frames 5 ms further apart: without a reason nothing changes and
    // the dialog stays; with one, both changes are made.
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->editChamber();
    auto* dialog = qobject_cast<QDialog*>(ov->dialog());
    dialog->findChild<QSpinBox*>("ChamberAddress")->setValue(2);
    const int pause = overview::readTurnarounds(*shell::settingsFileFor({})).value(2);
    dialog->findChild<QSpinBox*>("ChamberTurnaround")->setValue(pause + 5);
    for (const QString reason : {"", "换线"}) {
        e2e::answerReason(reason);
        dialog->findChild<QPushButton*>("ChamberDialogOk")->click();
        QCOMPARE(app->chamberSpecs()[1].address, reason.isEmpty() ? 1 : 2);
    }
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(loginAlerts(), 1);
    // P goes, with its reason.
    QTest::mouseClick(ov->tiles()[0], Qt::LeftButton);
    ov->deleteChamber();
    e2e::answerReason("停用");
    ov->dialog()->findChild<QPushButton*>("DeleteQuestionDelete")->click();
    QTRY_COMPARE(ov->tiles().size(), 1);
    app.reset();

    const QStringList rows = testsupport::sqlRows(
        shell::Application::defaultDatabasePath("Q"),
        "SELECT code, user_id, old_value, new_value, reason FROM events WHERE kind = 'audit' AND "
        "code NOT IN ('audit.started', 'audit.ended', 'audit.setting') AND code NOT LIKE 'user.%' "
        "ORDER BY id",
        u' ');
    QCOMPARE(rows,
             QStringList({QString("audit.turnaround admin %1 %2 换线").arg(pause).arg(pause + 5),
                          "audit.chamber.changed admin 2,1,9600,N 2,2,9600,N 换线",
                          "audit.chamber.removed admin 1,1,9600,N  停用"}));
}

int main(int argc, char** argv) {
    return overviewtest::run<OverviewTest>(argc, argv);
}

#include "test_overview_window.moc"
