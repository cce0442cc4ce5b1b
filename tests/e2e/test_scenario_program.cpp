// Scenario: the operator enters a three-segment program in seconds in "曲线设置", returns to the
// main window, runs it with "1:运行 " and "设定曲线", watches the program state and the segment
// number follow the instrument, and stops it with "0:停止 ".
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "e2e_support.h"

using namespace e2e;

class ScenarioProgram : public QObject {
    Q_OBJECT
  private slots:
    void enterRunWatchAndStop();
};

void ScenarioProgram::enterRunWatchAndStop() {
    // The instrument runs its program clock three times faster than real time: segments of 6 s
    // last 2 s here.
    sim::ServerOptions fast;
    fast.timeScale = 3.0;
    SimLine line(fast);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    auto& sim = line.server();

    Program program(Program::onDevice(line.device()));
    auto* w = program.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    click(w, "Command9");
    QTRY_VERIFY_WITH_TIMEOUT(program.app().chamber().link().image().LiveValues[0] != 0.0f, 3000);
    QTRY_COMPARE(labelText(w, "Pro_S_0"), QString("停止  "));

    // "曲线设置": the program window replaces the main window.
    click(w, "Command11");
    QWidget* tech = w->programWindow();
    QVERIFY(tech);
    QVERIFY(!w->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(tech));
    tech->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(tech));

    // Time unit seconds, three segments, endless cycling; each list left with Tab.
    const struct {
        const char* name;
        const char* entry;
    } lists[] = {{"Combo2", "2:秒 "}, {"Combo4", "3:3段 "}};
    for (const auto& l : lists) {
        auto* combo = control<QComboBox>(tech, QLatin1String(l.name));
        QVERIFY(pick(combo, QString::fromUtf8(l.entry)));
        QTRY_VERIFY(combo->hasFocus());
        QTest::keyClick(combo, Qt::Key_Tab);
    }
    auto* cycles = control<QLineEdit>(tech, "TextA_2");
    typeInto(cycles, "0");
    QTest::keyClick(cycles, Qt::Key_Tab);

    // SV1, SV2 and time of each segment, box after box with Tab.
    const char* segments[3][3] = {{"400", "600", "6"}, {"450", "650", "6"}, {"420", "620", "6"}};
    auto* first = control<QLineEdit>(tech, "TxtB_0");
    first->setFocus(Qt::TabFocusReason);  // tabbed into: its four places are selected
    QTRY_VERIFY(first->hasFocus());
    QCoreApplication::processEvents();
    for (const auto& seg : segments) {
        for (const char* v : seg) {
            QTest::keyClicks(QApplication::focusWidget(), QString::fromLatin1(v));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCoreApplication::processEvents();  // an operator is never quicker than the window
        }
    }

    // The readback shows what the instrument holds.
    QTRY_COMPARE_WITH_TIMEOUT(labelText(tech, "Label3_17"), QString("620"), 5000);
    QCOMPARE(labelText(tech, "Label3_0"), QString("S"));
    QCOMPARE(labelText(tech, "Label3_1"), QString("3段"));  // the list's "3:3段 "
    QCOMPARE(labelText(tech, "Label3_2"), QString("无限"));
    for (int k = 1; k <= 3; ++k)
        for (int f = 0; f < 3; ++f)
            QCOMPARE(labelText(tech, QStringLiteral("Label3_%1").arg(4 * k + 4 + f)),
                     QString::fromLatin1(segments[k - 1][f]));
    QCOMPARE(sim.holdingRegister(8193), 2);
    QCOMPARE(sim.holdingRegister(8194), 2);
    QCOMPARE(sim.holdingRegister(8209), 420);

    // Back to the main window.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTRY_VERIFY(!w->programWindow());

    // Watch the segment number the panel shows, every change in order.
    QStringList seen;
    QTimer watch;
    watch.setInterval(20);
    const auto look = [&] {
        const QString s = labelText(w, "Pro_S_5");
        if (seen.isEmpty() || seen.last() != s) seen << s;
    };
    connect(&watch, &QTimer::timeout, this, look);
    watch.start();

    // Run: "1:运行 " and "设定曲线".
    auto* command = control<QComboBox>(w, "Combo3");
    QVERIFY(pick(command, "1:运行 "));
    click(w, "Command14");
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "Pro_S_0"), QString("运行"), 3000);
    QCOMPARE(sim.holdingRegister(3), 1);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "Pro_S_5"), QString("3"), 10000);
    look();
    const qsizetype one = seen.indexOf("1"), two = seen.indexOf("2"), three = seen.indexOf("3");
    QVERIFY2(one >= 0 && one < two && two < three, qPrintable(seen.join(',')));
    // The working set value follows the program (loop 1 ramps between 400, 450 and 420).
    const int sv1 = labelText(w, "Pro_S_2").toInt();
    QVERIFY2(sv1 >= 400 && sv1 <= 450, qPrintable(labelText(w, "Pro_S_2")));

    // Stop: "0:停止 ".
    QVERIFY(pick(command, "0:停止 "));
    click(w, "Command14");
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "Pro_S_0"), QString("停止  "), 3000);
    QCOMPARE(sim.holdingRegister(3), 0);
    watch.stop();

    leaveProgram(w);
    QVERIFY(program.exited());
}

QTEST_MAIN(ScenarioProgram)
#include "test_scenario_program.moc"
