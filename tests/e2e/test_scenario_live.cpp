// Scenario: the operator starts the program, opens the port with the defaults, watches the live
// values, sets SV1 and SV2, makes alarm 1 a high limit below the measured value and sees it trip,
// then leaves through "退出".
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "chart/chartpanel.h"
#include "comm/link.h"
#include "e2e_support.h"

using namespace e2e;

class ScenarioLive : public QObject {
    Q_OBJECT
  private slots:
    void liveValuesSetValuesAlarmAndExit();
};

void ScenarioLive::liveValuesSetValuesAlarmAndExit() {
    SimLine line;
    line.holdProcess(300, 600);  // both loops at their factory settings, so they stay put
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    auto& sim = line.server();

    Program program(Program::onDevice(line.device()));
    auto* w = program.main();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const auto text = [w](const char* name) { return labelText(w, QLatin1String(name)); };

    // Before the port is open the panel shows its zero form (from the first display tick on).
    QTRY_COMPARE(text("D_3W_0"), QString("0"));
    QCOMPARE(text("D_1W_2"), QString("ALM1 OFF"));

    // "打开" with the defaults: port 1, address 1, 9600, no parity.
    click(w, "Command9");
    QTRY_COMPARE_WITH_TIMEOUT(text("D_3W_0"), QString("300"), 3000);
    QCOMPARE(text("D_3W_1"), QString("600"));
    QCOMPARE(text("D_4W_0"), QString::number(sim.holdingRegister(1)));
    QCOMPARE(text("Alm1_0"), QString("1000"));    // factory alarm 1 set value
    QCOMPARE(text("D_3W_6"), QString("NONE  "));  // alarm 1 off by the factory setting
    QVERIFY(text("LinkStatus").startsWith(QString("端口 1 已打开")));

    // SV1 and SV2 through their entry boxes and buttons.
    typeInto(control<QLineEdit>(w, "Text1_0"), "350");
    click(w, "Command12_0");
    typeInto(control<QLineEdit>(w, "Text1_1"), "612.5");  // rounds half to even: 612
    click(w, "Command12_1");
    QTRY_COMPARE_WITH_TIMEOUT(text("D_4W_0"), QString("350"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(text("D_4W_1"), QString("612"), 3000);
    QCOMPARE(sim.holdingRegister(1), 350);
    QCOMPARE(sim.holdingRegister(2), 612);
    // The entry keeps what the operator typed.
    QCOMPARE(control<QLineEdit>(w, "Text1_1")->text(), QString("612.5"));
    // The working set value follows the setting.
    QTRY_COMPARE_WITH_TIMEOUT(text("D_3W_2"), QString("350"), 3000);

    // Alarm 1 becomes a high limit through CONFIG's "报警1方式".
    click(w, "Command21");
    QWidget* config = w->configWindow();
    QVERIFY(config);
    QVERIFY(QTest::qWaitForWindowExposed(config));
    config->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(config));
    QVERIFY(!w->isVisible());
    auto* tabs = control<QTabWidget>(config, "SSTab1");
    QVERIFY(tabs);
    const int alarmTab = [&] {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == QStringLiteral("报警")) return i;
        return -1;
    }();
    QVERIFY(alarmTab >= 0);
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                      tabs->tabBar()->tabRect(alarmTab).center());
    QCOMPARE(tabs->currentIndex(), alarmTab);
    auto* mode = control<QComboBox>(config, "Combo27");
    QVERIFY(pick(mode, "1:上限 "));
    QTRY_VERIFY(mode->hasFocus());
    QTest::keyClick(mode, Qt::Key_Tab);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(config, "D_4W_32"), QString("上限"), 3000);
    QCOMPARE(sim.holdingRegister(4129), 1);
    QTest::keyClick(config, Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTRY_VERIFY(!w->configWindow());

    // The main window shows the alarm type; the set value 1000 is above PV1, so no alarm yet.
    QTRY_COMPARE_WITH_TIMEOUT(text("D_3W_6"), QString("上限报警"), 3000);
    QCOMPARE(text("D_1W_2"), QString("ALM1 OFF"));

    // Alarm 1's set value below PV1 (300): the instrument raises the alarm and the panel shows it.
    typeInto(control<QLineEdit>(w, "Alm11_0"), "200");
    click(w, "Alm111_0");
    QTRY_COMPARE_WITH_TIMEOUT(text("Alm1_0"), QString("200"), 3000);
    QCOMPARE(sim.holdingRegister(257), 200);
    QTRY_VERIFY_WITH_TIMEOUT(sim.discreteInput(3), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(text("D_1W_2"), QString("ALM1报警"), 3000);
    QCOMPARE(text("D_1W_3"), QString("ALM2 OFF"));

    // "退出": the port is closed, recording stops, the window goes and the program ends.
    leaveProgram(w);
    QVERIFY(program.exited());
    QVERIFY(!w->isVisible());
    QVERIFY(!w->chartPanel()->listening());
    QVERIFY(!program.app().chamber().link().polling());
}

QTEST_MAIN(ScenarioLive)
#include "test_scenario_live.moc"
