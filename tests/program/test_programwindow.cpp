// The program window against a Link over the scripted FakeModbus: readback, writers on focus
// loss, the preview fed by the same tick, leaving, names and tab order.

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include "fakemodbus.h"
#include "link/link.h"
#include "program/programchart.h"
#include "program/programwindow.h"

using program::ProgramWindow;
using testing_support::FakeModbus;

namespace {

struct Rig {
    FakeModbus* bus = nullptr;
    std::unique_ptr<comm::Link> link;
    std::unique_ptr<ProgramWindow> w;

    explicit Rig(bool open = false) {
        auto fake = std::make_unique<FakeModbus>();
        bus = fake.get();
        link = std::make_unique<comm::Link>(std::move(fake));
        link->commParams()(comm::kPortSlot) = 1;
        link->commParams()(comm::kAddressSlot) = 1;
        if (open) link->open();
        w = std::make_unique<ProgramWindow>(*link);
    }
    ~Rig() {
        w.reset();
        link->shutdown();
    }
    template <class T>
    T* find(const QString& name) const {
        return w->findChild<T*>(name);
    }
    QString text(const QString& label) const {
        QLabel* l = find<QLabel>(label);
        return l ? l->text() : QStringLiteral("<missing %1>").arg(label);
    }
    void stopTimer() const { w->findChild<QTimer*>(QStringLiteral("Timer1"))->stop(); }
    bool showActive() const {
        w->show();
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    }
    QStringList writes() const { return bus->callTexts().filter(QStringLiteral("Set_4X_D1")); }
    // Focus on a control, then on the inert "下载曲线" button, which writes nothing itself.
    void leave(QWidget* control) const {
        control->setFocus(Qt::TabFocusReason);
        find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);
    }
};

QString write(int reg, int value) {
    return QStringLiteral("Set_4X_D1(1,1,%1,%2)").arg(reg).arg(value);
}

}  // namespace

class ProgramWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void readbackTexts();
    void programState();
    void failedReadLeavesElements();
    void tickDoesNotQueueWhilePending();
    void segmentBoxWrites_data();
    void segmentBoxWrites();
    void segmentBoxRepeatsOnFailure();
    void segmentBoxSelectsOnFocus();
    void cycleCountWrites();
    void listsWritePositions();
    void unmatchedListTextSendsNothing();
    void previewUsesThisTicksEntries();
    void startPointFollowsSetting();
    void closeBoxRefusedAndEscReturns();
    void namesAreUniqueAndPresent();
    void tabOrderThroughFirstSegment();
};

void ProgramWindowTest::readbackTexts() {
    Rig r;
    r.stopTimer();
    r.bus->setHolding(8193, 1);
    r.bus->setHolding(8195, 0);
    r.bus->setHolding(8196, 7);
    r.bus->setHolding(8197, 1);
    r.bus->setHolding(8198, 1);
    r.bus->setHolding(8201, 250);  // segment 1 SV1
    r.bus->setHolding(8231, 45);   // segment 8 time
    r.w->Timer1_Timer();
    QTRY_COMPARE(r.text("Label3_0"), QStringLiteral("M"));
    QVERIFY(!r.w->readsPending());
    QCOMPARE(r.text("Label7_1"), QStringLiteral("时间单位：分钟"));
    QCOMPARE(r.text("Label3_2"), QStringLiteral("无限"));
    QCOMPARE(r.text("Label3_3"), QStringLiteral("7"));
    QCOMPARE(r.text("Label3_4"), QStringLiteral("设定值"));
    QCOMPARE(r.text("Label3_5"), QStringLiteral("最后SV控制"));
    QCOMPARE(r.text("Label3_8"), QStringLiteral("250"));
    QCOMPARE(r.text("Label3_38"), QStringLiteral("45"));

    r.bus->setHolding(8193, 5);
    r.bus->setHolding(8195, 3);
    r.w->Timer1_Timer();
    QTRY_COMPARE(r.text("Label3_0"), QStringLiteral("5"));
    QCOMPARE(r.text("Label7_1"), QStringLiteral("时间单位：分钟"));  // unknown unit: kept
    QCOMPARE(r.text("Label3_2"), QStringLiteral("3"));
}

void ProgramWindowTest::programState() {
    Rig r(true);
    r.bus->setInput(4097, 2);
    r.bus->setInput(4102, 3);  // segment number
    QTRY_COMPARE(r.text("Pro_S_0"), QStringLiteral("暂停"));
    QCOMPARE(r.text("Pro_S_5"), QStringLiteral("3"));
    r.bus->setInput(4097, 9);
    QTRY_COMPARE(r.text("Pro_S_0"), QStringLiteral("9"));
}

void ProgramWindowTest::failedReadLeavesElements() {
    Rig r;
    r.stopTimer();
    r.bus->setHolding(8213, 77);  // segment 4 SV1, in the second block
    r.w->Timer1_Timer();
    QTRY_COMPARE(r.text("Label3_20"), QStringLiteral("77"));
    QTRY_VERIFY(!r.w->readsPending());

    r.bus->failReadsAt(8209);
    r.bus->setHolding(8213, 88);
    r.bus->setHolding(8193, 2);
    r.bus->setHolding(8225, 99);  // segment 7 SV1, in the third block
    r.w->Timer1_Timer();
    QTRY_COMPARE(r.text("Label3_32"), QStringLiteral("99"));
    QCOMPARE(r.text("Label3_0"), QStringLiteral("S"));
    QCOMPARE(r.text("Label3_20"), QStringLiteral("77"));
    QCOMPARE(r.w->readback()[20], 77);
}

void ProgramWindowTest::tickDoesNotQueueWhilePending() {
    Rig r;
    r.stopTimer();
    r.bus->setHook([](const QString& fn) {
        if (fn == QLatin1String("Get_4X_DX")) QThread::msleep(150);
    });
    for (int i = 0; i < 5; ++i) {
        r.w->Timer1_Timer();
        QVERIFY(r.w->readsPending());
        QTest::qWait(40);
    }
    QTRY_VERIFY(!r.w->readsPending());
    const QStringList reads = r.bus->callTexts().filter(QStringLiteral("Get_4X_DX"));
    QCOMPARE(reads, (QStringList{QStringLiteral("Get_4X_DX(1,1,8193,16)"),
                                 QStringLiteral("Get_4X_DX(1,1,8209,16)"),
                                 QStringLiteral("Get_4X_DX(1,1,8225,16)")}));
    r.w->Timer1_Timer();
    QTRY_VERIFY(!r.w->readsPending());
    QCOMPARE(r.bus->callTexts().filter(QStringLiteral("Get_4X_DX")).size(), 6);
}

void ProgramWindowTest::segmentBoxWrites_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::newRow("segment 1 SV1") << 0 << "1234" << 8201 << 1234;
    QTest::newRow("segment 2 time") << 6 << "7" << 8207 << 7;
    QTest::newRow("segment 8 time") << 30 << "9999" << 8231 << 9999;
    QTest::newRow("prompt characters only") << 1 << "" << 8202 << 0;
    QTest::newRow("prompt character ends the number") << 4 << "1>3" << 8205 << 1;
}

void ProgramWindowTest::segmentBoxWrites() {
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(int, reg);
    QFETCH(int, value);
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_%1").arg(box));
    QVERIFY(b);
    b->setFocus(Qt::TabFocusReason);
    for (QChar c : typed) {
        if (c == QLatin1Char('>'))
            QTest::keyClick(b, Qt::Key_Right);
        else
            QTest::keyClicks(b, QString(c));
    }
    r.find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(r.writes(), QStringList{write(reg, value)});
    // Every loss of focus writes, changed or not.
    r.leave(b);
    QTRY_COMPARE(r.writes().size(), 2);
}

void ProgramWindowTest::segmentBoxRepeatsOnFailure() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_0"));
    r.bus->queueWriteStatus(-8888);
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(b, QStringLiteral("1234"));
    QTest::keyClick(b, Qt::Key_Tab);  // on to TxtB_1: only TxtB_0 has been left
    QTRY_COMPARE(r.writes(), (QStringList{write(8201, 1234), write(8201, 1234)}));
}

void ProgramWindowTest::segmentBoxSelectsOnFocus() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_2"));
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(b, QStringLiteral("42"));
    r.find<QLineEdit>(QStringLiteral("TxtB_0"))->setFocus(Qt::TabFocusReason);
    // Clicked into: after the click, the first four characters are selected, so typing replaces
    // the whole field.
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() - 4, b->height() / 2));
    QTRY_COMPARE(b->selectionLength(), 4);
    QCOMPARE(b->selectionStart(), 0);
    QTest::keyClicks(b, QStringLiteral("7"));
    QCOMPARE(b->displayText(), QStringLiteral("7___"));
}

void ProgramWindowTest::cycleCountWrites() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* a = r.find<QLineEdit>(QStringLiteral("TextA_2"));
    a->setText(QStringLiteral("0"));
    r.leave(a);
    QTRY_COMPARE(r.writes(), QStringList{write(8195, 0)});
    a->setText(QStringLiteral("-5"));
    r.leave(a);
    QTRY_COMPARE(r.writes().size(), 2);
    QCOMPARE(r.writes().last(), write(8195, -5));
    // A value that does not fit a register is not sent.
    a->setText(QStringLiteral("70000"));
    r.leave(a);
    a->setText(QStringLiteral("12"));
    r.leave(a);
    QTRY_COMPARE(r.writes().size(), 3);
    QCOMPARE(r.writes().last(), write(8195, 12));
}

void ProgramWindowTest::listsWritePositions() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    // Tabbing through Combo2 right after opening writes its first entry's code.
    auto* combo2 = r.find<QComboBox>(QStringLiteral("Combo2"));
    combo2->setFocus(Qt::TabFocusReason);
    QTest::keyClick(combo2, Qt::Key_Tab);
    QTRY_COMPARE(r.writes(), QStringList{write(8193, 0)});
    r.find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);  // leaves Combo8
    QTRY_COMPARE(r.writes(), (QStringList{write(8193, 0), write(8197, 0)}));
    r.bus->clearCalls();

    auto* combo4 = r.find<QComboBox>(QStringLiteral("Combo4"));
    combo4->setCurrentIndex(2);
    QCOMPARE(combo4->currentText(), QStringLiteral("3:3段 "));
    r.leave(combo4);
    QTRY_COMPARE(r.writes(), QStringList{write(8194, 2)});
    QCOMPARE(r.link->commParams()(comm::kListCodeSlot), 2);

    const struct {
        const char* name;
        int index;
        int reg;
    } others[] = {{"Combo1", 4, 8196}, {"Combo8", 1, 8197}, {"Combo3", 1, 8198}};
    for (const auto& o : others) {
        auto* c = r.find<QComboBox>(QString::fromLatin1(o.name));
        c->setCurrentIndex(o.index);
        r.leave(c);
        QTRY_COMPARE(r.writes().last(), write(o.reg, o.index));
    }
}

void ProgramWindowTest::unmatchedListTextSendsNothing() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* combo4 = r.find<QComboBox>(QStringLiteral("Combo4"));
    combo4->setFocus(Qt::TabFocusReason);
    combo4->lineEdit()->selectAll();
    QTest::keyClicks(combo4->lineEdit(), QStringLiteral("9"));
    QTest::keyClick(combo4, Qt::Key_Return);  // the lists do not take typed entries in
    QCOMPARE(combo4->count(), 8);
    r.find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);
    // The next field's write arrives alone: the list sent nothing before it.
    r.leave(r.find<QLineEdit>(QStringLiteral("TxtB_0")));
    QTRY_COMPARE(r.writes(), QStringList{write(8201, 0)});
}

void ProgramWindowTest::previewUsesThisTicksEntries() {
    Rig r;
    r.stopTimer();
    const struct {
        int box;
        const char* text;
    } typed[] = {{0, "100"}, {1, "50"}, {2, "10"}, {4, "800"}, {5, "300"}, {6, "5"}};
    for (const auto& t : typed)
        r.find<QLineEdit>(QStringLiteral("TxtB_%1").arg(t.box))
            ->setText(QString::fromLatin1(t.text));
    r.w->Timer1_Timer();
    const program::PreviewGeometry& g = r.w->preview();
    QCOMPARE(g.valueMax, 800);
    QCOMPARE(g.valueMin, 0);  // segments 3..8 are empty and take part
    QCOMPARE(g.timeStep, 2);  // total 15
    QCOMPARE(r.text("Label5"), QStringLiteral("800"));
    QCOMPARE(r.text("Label10"), QStringLiteral("0"));
    QCOMPARE(r.text("Label11"), QStringLiteral("106.6667"));
    QCOMPARE(r.text("Label6_9"), QStringLiteral("00960"));
    QCOMPARE(r.text("Label8_15"), QStringLiteral("30"));
    // The segment 2 SV1 ramp ends 7500 units above the bottom edge in this very drawing.
    QCOMPARE(g.sv1Ramps[1].y2, double(program::kChartHeight - 7500));
    auto* chart = r.w->findChild<program::ProgramChart*>(QStringLiteral("pt1"));
    QVERIFY(chart);
    QCOMPARE(chart->geometryDrawn().sv1Ramps[1], g.sv1Ramps[1]);
}

void ProgramWindowTest::startPointFollowsSetting() {
    Rig r(true);
    r.stopTimer();
    r.bus->setInput(1, 21);   // PV1
    r.bus->setInput(2, 40);   // PV2
    r.bus->setInput(3, 250);  // SV1
    r.bus->setInput(4, 60);   // SV2
    QTRY_COMPARE(r.link->image().LiveValues[2], 250.0f);
    r.w->Timer1_Timer();
    QTRY_VERIFY(!r.w->readsPending());
    r.w->Timer1_Timer();
    QCOMPARE(r.w->curve().sv1[0], int16_t(21));
    QCOMPARE(r.w->curve().sv2[0], int16_t(40));

    r.bus->setHolding(8197, 1);
    QTRY_VERIFY(!r.w->readsPending());
    r.w->Timer1_Timer();
    QTRY_COMPARE(r.w->readback()[4], 1);
    r.w->Timer1_Timer();
    QCOMPARE(r.w->curve().sv1[0], int16_t(250));
    QCOMPARE(r.w->curve().sv2[0], int16_t(60));
    QCOMPARE(r.w->preview().sv1Ramps[0].x1, 0.0);
}

void ProgramWindowTest::closeBoxRefusedAndEscReturns() {
    Rig r;
    QVERIFY(r.showActive());
    QVERIFY(r.w->blockClose());
    QVERIFY(!r.w->close());
    QVERIFY(r.w->isVisible());

    QSignalSpy returned(r.w.get(), &ProgramWindow::returned);
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_0"));
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClick(b, Qt::Key_Escape);
    QCOMPARE(returned.count(), 1);
    QVERIFY(!r.w->blockClose());
    QVERIFY(!r.w->isVisible());
    r.w->Command11_Click();  // a second press changes nothing
    QCOMPARE(returned.count(), 1);

    // The button itself; Esc also works on a window that is not the active one.
    Rig r2;
    QSignalSpy returned2(r2.w.get(), &ProgramWindow::returned);
    QTest::mouseClick(r2.find<QAbstractButton>(QStringLiteral("Command11")), Qt::LeftButton);
    QCOMPARE(returned2.count(), 1);
    QVERIFY(r2.w->close());
    Rig r3;
    QSignalSpy returned3(r3.w.get(), &ProgramWindow::returned);
    QTest::keyClick(r3.w.get(), Qt::Key_Escape);
    QCOMPARE(returned3.count(), 1);
}

void ProgramWindowTest::namesAreUniqueAndPresent() {
    Rig r;
    QSet<QString> seen;
    int controls = 0;
    for (QWidget* c : r.w->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(c) || qobject_cast<QComboBox*>(c) ||
                             qobject_cast<QAbstractButton*>(c);
        if (!control || !c->isEnabled()) continue;
        if (qobject_cast<QComboBox*>(c->parentWidget())) continue;  // a list's own edit line
        ++controls;
        QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
        QVERIFY2(!seen.contains(c->accessibleName()), qPrintable(c->accessibleName()));
        seen.insert(c->accessibleName());
    }
    QCOMPARE(controls, 5 + 1 + 24 + 2);
    QCOMPARE(r.find<QLineEdit>(QStringLiteral("TxtB_6"))->accessibleName(),
             QStringLiteral("SEG2 设定值TIME"));
    QCOMPARE(r.find<QLabel>(QStringLiteral("Label3_14"))->accessibleName(),
             QStringLiteral("SEG2 设定值TIME 读数"));
    QCOMPARE(r.w->windowTitle(), QStringLiteral("工艺曲线设定"));
}

void ProgramWindowTest::tabOrderThroughFirstSegment() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    r.find<QWidget>(QStringLiteral("Combo1"))->setFocus(Qt::TabFocusReason);
    const QStringList expected{QStringLiteral("TextA_2"), QStringLiteral("TxtB_0"),
                               QStringLiteral("TxtB_1"), QStringLiteral("TxtB_2"),
                               QStringLiteral("TxtB_4")};
    QStringList got;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        got << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(got, expected);
    // And the settings rows, left to right.
    r.find<QWidget>(QStringLiteral("Combo2"))->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Combo8"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Combo4"));
}

QTEST_MAIN(ProgramWindowTest)
#include "test_programwindow.moc"
