// ui::BandEditor in both its looks: the names a window's tests and screen readers find, what takes
// input with and without fixed limits, a band shown and read back, and entries that would turn
// the band inside out.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTest>

#include "instrument/band.h"
#include "ui/bandeditor.h"

class BandEditorTest : public QObject {
    Q_OBJECT
  private slots:
    void bothLooks_data();
    void bothLooks();
};

void BandEditorTest::bothLooks_data() {
    QTest::addColumn<bool>("modeList");
    QTest::addColumn<QString>("names");
    QTest::addColumn<QStringList>("focus");  // object names in Tab order
    QTest::newRow("list, no hysteresis")
        << true << "RunBand%1_1"
        << QStringList{"RunBandMode_1", "RunBandWidth_1", "RunBandLow_1", "RunBandHigh_1"};
    QTest::newRow("box, hysteresis")
        << false << "AlertBand%12"
        << QStringList{"AlertBandWidth2", "AlertBandHysteresis2", "AlertBandFixed2",
                       "AlertBandLow2", "AlertBandHigh2"};
}

void BandEditorTest::bothLooks() {
    QFETCH(bool, modeList);
    QFETCH(QString, names);
    QFETCH(QStringList, focus);
    ui::BandEditor::Look look;
    look.names = names;
    look.pv = "PV2";
    look.sv = "SV2";
    look.modeList = modeList;
    look.hysteresis = !modeList;
    look.widthName = "PV2 width";
    ui::BandEditor e(look);
    QStringList order;
    for (QWidget* w : e.focusOrder())
        order << w->objectName();
    QCOMPARE(order, focus);
    auto* width = e.findChild<QDoubleSpinBox*>(QString(names).replace("%1", "Width"));
    auto* low = e.findChild<QDoubleSpinBox*>(QString(names).replace("%1", "Low"));
    QVERIFY(width && low);
    QCOMPARE(low->accessibleName(), QString("PV2 下限"));

    // Around SV the limits take no input, with fixed limits the entry around SV takes none.
    instrument::ToleranceBand band{true, 3, 10, 20, 1.5};
    e.setBand(band);
    QVERIFY(e.fixed() && low->isEnabled() && !width->isEnabled());
    band.fixed = false;
    e.setBand(band);
    QVERIFY(!low->isEnabled() && width->isEnabled());

    // Read back; the hysteresis only where there is an entry of it.
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
