// Scenario: the operator opens CONFIG from the main window, changes the sensor type and the upper
// limit of input 1 and the digital filter, leaving each box with Tab, sees each read back from the
// instrument, and returns to the main window with Esc.
#include <QComboBox>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "e2e_support.h"

using namespace e2e;

class ScenarioConfig : public QObject {
    Q_OBJECT
  private slots:
    void editThreeParametersAndReturn();
};

namespace {

void showTab(QTabWidget* tabs, const QString& caption) {
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->tabText(i) == caption) {
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                              tabs->tabBar()->tabRect(i).center());
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no tab %1").arg(caption)));
}

}  // namespace

void ScenarioConfig::editThreeParametersAndReturn() {
    SimLine line;
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    auto& sim = line.server();
    QCOMPARE(sim.holdingRegister(4105), 0);     // sensor type 0:0V5
    QCOMPARE(sim.holdingRegister(4107), 5000);  // input 1 upper limit
    QCOMPARE(sim.holdingRegister(4099), 10);    // filter 1.0 s

    Program program(Program::onDevice(line.device()));
    auto* w = program.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    click(w, "Command9");
    QTRY_VERIFY_WITH_TIMEOUT(program.app().chamber().link().image().ParamValues[10] == 5000.0f,
                             3000);

    click(w, "Command21");
    QWidget* config = w->configWindow();
    QVERIFY(config);
    QVERIFY(!w->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(config));
    config->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(config));
    auto* tabs = control<QTabWidget>(config, "SSTab1");
    QVERIFY(tabs);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QString("输入1"));
    // The readback fills within a second of opening.
    QTRY_COMPARE_WITH_TIMEOUT(labelText(config, "D_4W_8"), QString("0V5"), 2500);
    QCOMPARE(labelText(config, "D_4W_10"), QString("5000"));

    // Sensor type of input 1: "4:0MA10 " reads back with the instrument's own text "0MA10)".
    auto* sensor = control<QComboBox>(config, "Combo3");
    QVERIFY(pick(sensor, "4:0MA10 "));
    QTRY_VERIFY(sensor->hasFocus());
    QTest::keyClick(sensor, Qt::Key_Tab);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(config, "D_4W_8"), QString("0MA10)"), 2500);
    QCOMPARE(sim.holdingRegister(4105), 4);

    // Upper limit of input 1, typed over the box and left with Tab.
    auto* upper = control<QLineEdit>(config, "T_3RW_10");
    typeInto(upper, "1234.5");  // half to even: 1234
    QTest::keyClick(upper, Qt::Key_Tab);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(config, "D_4W_10"), QString("1234"), 2500);
    QCOMPARE(sim.holdingRegister(4107), 1234);
    QCOMPARE(upper->text(), QString("1234.5"));

    // The digital filter on "INST", in seconds with one decimal: 2.5 s is 25 in the register.
    showTab(tabs, "INST");
    auto* filter = control<QLineEdit>(config, "T_3RW_2");
    typeInto(filter, "2.5");
    QTest::keyClick(filter, Qt::Key_Tab);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(config, "D_4W_2"), QString("2.5"), 2500);
    QCOMPARE(sim.holdingRegister(4099), 25);

    // Esc: the configuration window is unloaded and the main window comes back.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTRY_VERIFY(!w->configWindow());
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "Parm1_2"), QString("2.5"), 2000);
    // The main window's parameter column reads the same registers.
    QCOMPARE(labelText(w, "Parm1_10"), QString("1234"));
    QCOMPARE(labelText(w, "Parm1_8"), QString("4"));

    leaveProgram(w);
    QVERIFY(program.exited());
}

QTEST_MAIN(ScenarioConfig)
#include "test_scenario_config.moc"
