// Scenario: a database whose ring of 65500 records is full and has wrapped, the program recording
// on at an accelerated clock; the operator pages back with F7 across the ring's wrap, measures with
// the ruler (F4 and the slider hc), zooms out and in (F1, F2), and returns to the live view with F4
// and F6, where the display timer runs again.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "base/oledate.h"
#include "chart/chartpanel.h"
#include "e2e_support.h"
#include "fakemodbus.h"
#include "store/recorder.h"
#include "store/store.h"

using namespace e2e;
using chart::ChartModel;

namespace {

// The pre-filled ring: sample n (0..65499) is one second after sample n-1, carries n as PV1, and
// is stored as record (kFirstId + n - 1) mod 65500 + 1, so the newest (n = 65499) is record
// kNewest and records kNewest+1..65500 and 1..kNewest are in time order.
constexpr int kNewest = 200;
constexpr int kFirstId = kNewest + 1;
constexpr float kLivePv1 = 777;  // what the instrument shows while the program records

int recordOf(int n) {
    return (kFirstId + n - 1) % store::kRingSize + 1;
}

}  // namespace

class ScenarioHistory : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void pageBackAcrossTheWrapRulerZoomAndLive();

  private:
    QTemporaryDir dir_;
    QString db_;
    QDateTime first_;  // time of sample 0
};

void ScenarioHistory::initTestCase() {
    db_ = dir_.filePath("Rdatabj.db");
    // The newest pre-filled sample is one second before now; the program's clock starts at now.
    first_ = store::SystemClock().now().addSecs(-store::kRingSize);
    store::SampleStore store(db_, "prefill");
    QVERIFY2(store.open(), qPrintable(store.lastError()));
    QElapsedTimer spent;
    spent.start();
    for (int n = 0; n < store::kRingSize; ++n) {
        const QDateTime t = first_.addSecs(n);
        store::Sample s;
        s.id = recordOf(n);
        s.date = base::oleDate(t.date());
        s.time = base::oleTime(t.time());
        s.values[0] = static_cast<float>(n);
        s.values[1] = static_cast<float>(n % 1000);
        QVERIFY(store.storeSample(s));
    }
    qInfo("filled a ring of %d records in %lld ms", store::kRingSize, spent.elapsed());
    QCOMPARE(store.readCounter().value_or(-1), kNewest);
}

void ScenarioHistory::pageBackAcrossTheWrapRulerZoomAndLive() {
    shell::Options options;
    options.db = db_;
    options.clockSpeed = 10;  // ten clock seconds a second: the recorder stores on every tick
    auto fake = std::make_unique<testing_support::FakeModbus>();
    fake->setInput(1, static_cast<int>(kLivePv1));
    testing_support::FakeModbus* instrument = fake.get();
    auto app = std::make_unique<shell::Application>(options, std::move(fake));
    app->startWithoutSplash();
    auto* w = app->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    click(w, "Command9");
    auto* chart = w->chartPanel();
    const ChartModel& m = chart->model();
    const auto key = [w](Qt::Key k) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
        QTest::keyClick(target, k);
    };

    // The recorder goes on from the wrapped ring's newest record; the live chart takes the new
    // samples.
    QTRY_VERIFY_WITH_TIMEOUT(app->chamber().recorder()->lastRecordNo() >= kNewest + 20, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(m.samples()[0][m.newestSlot()], kLivePv1, 10000);
    QVERIFY(chart->displayTimer()->isActive());
    QCOMPARE(labelText(w, "D_3W_0"), QString("777"));

    // F7, page after page, until the window lies wholly before the wrap.
    bool crossedWrap = false;
    for (int page = 1; page <= 12 && m.windowEnd() <= store::kRingSize - 1000; ++page) {
        key(Qt::Key_F7);
        QCOMPARE(int(m.historyPage()), page);
        QVERIFY(!m.oldestPageReached());
        QVERIFY(!chart->displayTimer()->isActive());
        // 321 records in time order, none missing; pre-filled ones consecutive, across the wrap
        // too.
        double last = -1;
        for (int s = 1; s <= ChartModel::kHistoryCount; ++s) {
            const double when = m.dates()[s] + m.times()[s];
            QVERIFY2(m.dates()[s] > 0 && when > last,
                     qPrintable(QString("page %1 slot %2").arg(page).arg(s)));
            last = when;
            const float v = m.samples()[0][s], prev = m.samples()[0][s - 1];
            if (s > 1 && v != kLivePv1 && prev != kLivePv1) QCOMPARE(v, prev + 1);
        }
        // The window's newest record is the one 60 records per page before the newest.
        QCOMPARE(m.windowEnd(),
                 (m.newestRecord() - 60 * page + store::kRingSize - 1) % store::kRingSize + 1);
        if (m.windowEnd() < ChartModel::kHistoryCount) {
            // Records 65500 and 1 sit side by side in the window.
            const float beforeWrap = static_cast<float>(store::kRingSize - kFirstId);
            bool found = false;
            for (int s = 1; s < ChartModel::kHistoryCount; ++s)
                found |= m.samples()[0][s] == beforeWrap && m.samples()[0][s + 1] == beforeWrap + 1;
            QVERIFY2(found, qPrintable(QString("page %1").arg(page)));
            crossedWrap = true;
        }
    }
    QVERIFY(crossedWrap);
    QVERIFY(m.windowEnd() > store::kRingSize - 1000);

    // While the operator looks at history the live panel stays live: a new PV1, an alarm that
    // comes and a set value the operator writes all show at once.
    instrument->setInput(1, 555);
    instrument->setDiscreteBytes(0x04, 0);  // alarm 1 on
    typeInto(control<QLineEdit>(w, "Text1_0"), "444");
    click(w, "Command12_0");
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_3W_0"), QString("555"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_1W_2"), QString("ALM1报警"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_4W_0"), QString("444"), 2000);
    QTRY_COMPARE(labelText(w, "OperatorMessage"), QString("设定SV1 = 444 已写入"));
    QVERIFY(!chart->displayTimer()->isActive());
    instrument->setDiscreteBytes(0, 0);
    instrument->setInput(1, static_cast<int>(kLivePv1));
    const int pages = m.historyPage();
    QVERIFY(control<QPushButton>(w, "Command7")->isEnabled());

    // The ruler: F4, then the slider moved with the arrow keys; the readout names the record under
    // it with the time that record was stored at.
    key(Qt::Key_F4);
    QVERIFY(m.rulerMode());
    auto* hc = control<QSlider>(w, "hc");
    QVERIFY(hc && hc->isEnabled());
    QTRY_VERIFY(hc->hasFocus());
    QCOMPARE(control<QPushButton>(w, "Command5")->text(), QString("F4 复原"));
    const auto checkReadout = [&] {
        const int s = qRound(hc->value() / double(m.slotStep())) + m.firstSlot();
        const int n = static_cast<int>(m.samples()[0][s]);
        QCOMPARE(labelText(w, "D_3W_0"), QString::number(n));
        QCOMPARE(labelText(w, "Label2_10"), first_.addSecs(n).time().toString("HH:mm:ss"));
        QCOMPARE(labelText(w, "D_3W_1"), QString::number(n % 1000));
    };
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(hc, Qt::Key_Right);
    QCOMPARE(hc->value(), 4 * hc->singleStep());
    checkReadout();

    // Zoom out and in with F1 and F2: the slider moves one slot per step at every zoom level.
    key(Qt::Key_F1);
    QCOMPARE(int(m.zoomLevel()), 2);
    QCOMPARE(hc->singleStep(), 75);
    QTest::keyClick(hc, Qt::Key_Right);
    checkReadout();
    key(Qt::Key_F2);
    QCOMPARE(int(m.zoomLevel()), 1);
    QCOMPARE(hc->singleStep(), 150);

    // The slider's left end pages back once more.
    QTest::keyClick(hc, Qt::Key_Home);
    QCOMPARE(hc->value(), ChartModel::kSliderMin);
    QCOMPARE(int(m.historyPage()), pages + 1);

    // F4 again: the ruler is off, the live window is back, the page counter stays.
    key(Qt::Key_F4);
    QVERIFY(!m.rulerMode());
    QVERIFY(!hc->isEnabled());
    QCOMPARE(int(m.windowCount()), ChartModel::kLiveCount);
    QCOMPARE(int(m.historyPage()), pages + 1);

    // F6 back to page 0: the live view, with the display timer running and the panel live again.
    for (int page = pages; page >= 0; --page) {
        key(Qt::Key_F6);
        QCOMPARE(int(m.historyPage()), page);
    }
    QVERIFY(chart->displayTimer()->isActive());
    QVERIFY(!control<QPushButton>(w, "Command7")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_3W_0"), QString("777"), 2000);
    // New samples go on arriving at the live end of the chart.
    QTRY_VERIFY_WITH_TIMEOUT(m.newestSlot() > ChartModel::kLiveCount, 3000);
    QCOMPARE(m.samples()[0][m.newestSlot()], kLivePv1);

    leaveProgram(w);
    app.reset();
}

QTEST_MAIN(ScenarioHistory)
#include "test_scenario_history.moc"
