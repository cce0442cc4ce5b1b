// End to end: the live panel over the real link and libmodbus, against the simulated instrument on
// a pseudo-terminal.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "monitor/livepanel.h"
#include "sim/server.h"
#include "simlink.h"

class LivePanelSimTest : public QObject {
    Q_OBJECT
  private slots:
    void followsTheInstrumentAndSetsSv1();
};

void LivePanelSimTest::followsTheInstrumentAndSetsSv1() {
    sim::SimServer server;
    // A still process at the factory SV1 setting (30.0), so the first reading is known.
    server.withInstrument([](sim::Instrument& i) {
        i.setNoise(0);
        i.setProcessValue(1, 300);
        return 0;
    });
    std::string why;
    QVERIFY2(server.start(&why), why.c_str());
    const auto linkOwner = testing_support::linkToSim(server);
    comm::Link& link = *linkOwner;

    QWidget host;
    monitor::LivePanel panel(link);
    host.setLayout(new QVBoxLayout);
    host.layout()->addWidget(panel.pvStatusFrame());
    host.layout()->addWidget(panel.curveStatusFrame());
    host.layout()->addWidget(panel.alarmStateFrame());
    host.layout()->addWidget(panel.paramFrame(0));
    host.layout()->addWidget(panel.paramFrame(1));
    host.layout()->addWidget(panel.alarmSettingFrame());
    QTimer display;  // the main window's display tick
    display.setInterval(200);
    QObject::connect(&display, &QTimer::timeout, &panel, [&panel] { panel.ShowLiveStatus(); });
    display.start();

    auto* pv1 = host.findChild<QLabel*>("D_3W_0");
    auto* sv1Setting = host.findChild<QLabel*>("D_4W_0");
    QVERIFY(pv1 && sv1Setting);
    link.open();
    QTRY_COMPARE_WITH_TIMEOUT(pv1->text(), QString("300"), 1000);
    QCOMPARE(sv1Setting->text(), QString("300"));
    QCOMPARE(host.findChild<QLabel*>("Alm1_0")->text(), QString("1000"));  // factory alarm 1

    host.findChild<QLineEdit*>("Text1_0")->setText("350");
    QTest::mouseClick(host.findChild<QPushButton*>("Command12_0"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(sv1Setting->text(), QString("350"), 2000);
    QCOMPARE(server.holdingRegister(1), 350);
    // The process follows the new setting: PV1 rises toward 350 and does not pass it.
    QTRY_VERIFY_WITH_TIMEOUT(pv1->text().toInt() > 300, 5000);
    QVERIFY(pv1->text().toInt() <= 350);

    link.close();
}

QTEST_MAIN(LivePanelSimTest)
#include "test_livepanel_sim.moc"
