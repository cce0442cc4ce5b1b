// ui::BandEditor in both its looks, for what the windows' tests leave out: the entry around SV
// takes no input with fixed limits, the hysteresis is read only where it has an entry, and no
// entry turns the band inside out.
#include <QDoubleSpinBox>
#include <QTest>

#include "instrument/band.h"
#include "ui/bandeditor.h"

class BandEditorTest : public QObject {
    Q_OBJECT
  private slots:
    void bothLooks_data() {
        QTest::addColumn<bool>("modeList");
        QTest::newRow("list, no hysteresis") << true;
        QTest::newRow("box, hysteresis") << false;
    }
    void bothLooks();
};

void BandEditorTest::bothLooks() {
    QFETCH(bool, modeList);
    ui::BandEditor::Look look{"Band%1", "PV2", "SV2", modeList, !modeList, "PV2 width"};
    ui::BandEditor e(look);
    auto* width = e.findChild<QDoubleSpinBox*>("BandWidth");
    auto* low = e.findChild<QDoubleSpinBox*>("BandLow");
    QVERIFY(width && low);

    e.setBand(instrument::ToleranceBand{true, 3, 10, 20, 1.5});
    QVERIFY(e.fixed() && low->isEnabled() && !width->isEnabled());
    e.setBand(instrument::ToleranceBand{false, 3, 10, 20, 1.5});
    QVERIFY(!low->isEnabled() && width->isEnabled());
    instrument::ToleranceBand read{true, 0, 0, 0, 9};
    e.readInto(&read);
    QCOMPARE(read, (instrument::ToleranceBand{false, 3, 10, 20, modeList ? 9 : 1.5}));

    // A negative width or hysteresis would put the band's limits the wrong way round.
    e.setBand(instrument::ToleranceBand{false, -2, 0, 0, -1});
    e.readInto(&read);
    QCOMPARE(read.plusMinus, 0.0);
    QCOMPARE(read.hysteresis, modeList ? 9 : 0.0);
}

QTEST_MAIN(BandEditorTest)
#include "test_bandeditor.moc"
