// The configuration window against the simulated instrument on a pseudo-terminal: the editors open
// on the instrument's values without writing, an edit reaches the instrument's register and comes
// back in the readback.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "config/configwindow.h"
#include "sim/server.h"
#include "simlink.h"
#include "windowfeed.h"

class ConfigOverSim : public QObject {
    Q_OBJECT
  private slots:
    void editsReachTheInstrumentAndComeBack();
};

void ConfigOverSim::editsReachTheInstrumentAndComeBack() {
    sim::SimServer server;
    std::string why;
    QVERIFY2(server.start(&why), why.c_str());
    const auto linkOwner = testing_support::linkToSim(server);
    comm::Link& link = *linkOwner;
    server.setHoldingRegister(4107, 1234);  // input 1 upper limit
    server.setHoldingRegister(4105, 4);     // input 1 sensor code 4
    link.open();
    QTRY_VERIFY(link.polling());
    QSignalSpy writes(&link, &comm::Link::writeReported);

    config::ConfigWindow w(testing_support::feedOf(link, true));
    testing_support::wireToLink(w, link);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* tabs = w.findChild<QTabWidget*>("SSTab1");
    auto leave = [&](QWidget* box) {
        box->setFocus(Qt::MouseFocusReason);
        QVERIFY(QTest::qWaitFor([box] { return box->hasFocus(); }));
        tabs->tabBar()->setFocus(Qt::TabFocusReason);
    };

    // The editors hold the instrument's values; showing them wrote nothing.
    auto* upper = w.findChild<QLineEdit*>("T_3RW_10");
    QTRY_COMPARE(upper->text(), QString("1234"));
    QCOMPARE(w.findChild<QComboBox*>("Combo3")->currentIndex(), 4);
    QCOMPARE(w.findChild<QComboBox*>("Combo8")->currentIndex(), 1);  // 9600, the line's own
    QTest::qWait(1100);
    QCOMPARE(writes.count(), 0);

    // "输入上限" of input 1.
    upper->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(upper->hasFocus());
    upper->selectAll();
    QTest::keyClicks(upper, "4321");
    QElapsedTimer sinceLeft;
    QTest::keyClick(upper, Qt::Key_Tab);
    sinceLeft.start();
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel*>("D_4W_10")->text(), QString("4321"), 2000);
    QVERIFY(sinceLeft.elapsed() <= 2000);
    QCOMPARE(server.holdingRegister(4107), 4321);

    // A list and the digital filter on the "INST" tab.
    tabs->setCurrentIndex(0);
    auto* unit = w.findChild<QComboBox*>("Combo4");
    unit->setFocus(Qt::MouseFocusReason);
    unit->setCurrentIndex(2);
    emit unit->activated(2);  // as the operator picks it
    leave(unit);
    auto* filter = w.findChild<QLineEdit*>("T_3RW_2");
    filter->setFocus(Qt::MouseFocusReason);
    filter->selectAll();
    QTest::keyClicks(filter, "12.5");
    leave(filter);
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel*>("D_4W_3")->text(), QString("绝对温度"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel*>("D_4W_2")->text(), QString("12.5"), 2000);
    QCOMPARE(server.holdingRegister(4100), 2);
    QCOMPARE(server.holdingRegister(4099), 125);
    QCOMPARE(writes.count(), 3);

    link.shutdown();
    server.stop();
}

QTEST_MAIN(ConfigOverSim)
#include "test_config_sim.moc"
