// The program window against a Link over the scripted FakeModbus: readback into labels and
// editors, only what the operator changed is written, the segment entries' rules, the preview fed
// by the same tick and tab order. The walks and the leaving are in tests/shell/test_window_walks.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include "comm/link.h"
#include "fakemodbus.h"
#include "program/programchart.h"
#include "program/programwindow.h"
#include "windowfeed.h"

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
        link->setSettings({1, 0, 0, 1});
        if (open) link->open();
        w = std::make_unique<ProgramWindow>(testing_support::feedOf(*link, false));
        testing_support::wireToLink(*w, *link);
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
    // Replaces an entry's text key by key, as the operator (or an input method) does, and leaves.
    void type(QLineEdit* e, const QString& text) const {
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        for (QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);
    }
    // Picks a list entry as the operator does, and leaves.
    void pick(QComboBox* c, int index) const {
        c->setFocus(Qt::TabFocusReason);
        c->setCurrentIndex(index);
        emit c->activated(index);
        find<QWidget>(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);
    }
    QString status() const { return text(QStringLiteral("WriteStatus")); }
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
    void segmentBoxSelectsOnFocus();
    void cycleCountWrites();
    void listsWritePositions();
    void unmatchedListTextSendsNothing();
    void previewUsesThisTicksEntries();
    void startPointFollowsSetting();
    void tabOrderThroughFirstSegment();
    void escReachesAWindowThatIsNotActive();
};

void ProgramWindowTest::readbackTexts() {
    Rig r;
    r.stopTimer();
    r.bus->setHolding(8193, 1);
    r.bus->setHolding(8194, 2);
    r.bus->setHolding(8195, 0);
    r.bus->setHolding(8196, 7);
    r.bus->setHolding(8197, 1);
    r.bus->setHolding(8198, 1);
    r.bus->setHolding(8201, 250);  // segment 1 SV1
    r.bus->setHolding(8231, 45);   // segment 8 time
    r.w->readbackTick();
    QTRY_COMPARE(r.text("Label3_0"), QStringLiteral("M"));
    QVERIFY(!r.w->readsPending());
    QCOMPARE(r.text("Label7_1"), QStringLiteral("时间单位：分钟"));
    // The segment count reads as the list shows it: position 2 is three segments.
    QCOMPARE(r.text("Label3_1"), QStringLiteral("3段"));
    QCOMPARE(r.find<QComboBox>("Combo4")->currentText(), QStringLiteral("3:3段 "));
    QCOMPARE(r.text("Label3_2"), QStringLiteral("无限"));
    QCOMPARE(r.text("Label3_3"), QStringLiteral("7"));
    QCOMPARE(r.text("Label3_4"), QStringLiteral("设定值"));
    QCOMPARE(r.text("Label3_5"), QStringLiteral("最后SV控制"));
    QCOMPARE(r.text("Label3_8"), QStringLiteral("250"));
    QCOMPARE(r.text("Label3_38"), QStringLiteral("45"));
    // The editors show the program the instrument holds, the lists the entry of each code.
    QCOMPARE(r.find<QComboBox>("Combo2")->currentText(), QStringLiteral("1:分钟 "));
    QCOMPARE(r.find<QComboBox>("Combo1")->currentIndex(), 0);  // 7 is no entry: left as it was
    QCOMPARE(r.find<QLineEdit>("TextA_2")->text(), QStringLiteral("0"));
    QCOMPARE(r.find<QLineEdit>("TxtB_0")->text(), QStringLiteral("250"));
    QCOMPARE(r.find<QLineEdit>("TxtB_30")->text(), QStringLiteral("45"));
    QCOMPARE(r.w->curve().sv1[1], int16_t(250));  // the preview draws it
    QVERIFY(r.writes().isEmpty());

    r.bus->setHolding(8193, 5);
    r.bus->setHolding(8195, 3);
    r.w->readbackTick();
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
    r.w->readbackTick();
    QTRY_COMPARE(r.text("Label3_20"), QStringLiteral("77"));
    QTRY_VERIFY(!r.w->readsPending());

    r.bus->failReadsAt(8209);
    r.bus->setHolding(8213, 88);
    r.bus->setHolding(8193, 2);
    r.bus->setHolding(8225, 99);  // segment 7 SV1, in the third block
    r.w->readbackTick();
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
        r.w->readbackTick();
        QVERIFY(r.w->readsPending());
        QTest::qWait(40);
    }
    QTRY_VERIFY(!r.w->readsPending());
    const QStringList reads = r.bus->callTexts().filter(QStringLiteral("Get_4X_DX"));
    QCOMPARE(reads, (QStringList{QStringLiteral("Get_4X_DX(1,1,8193,16)"),
                                 QStringLiteral("Get_4X_DX(1,1,8209,16)"),
                                 QStringLiteral("Get_4X_DX(1,1,8225,16)")}));
    r.w->readbackTick();
    QTRY_VERIFY(!r.w->readsPending());
    QCOMPARE(r.bus->callTexts().filter(QStringLiteral("Get_4X_DX")).size(), 6);
}

void ProgramWindowTest::segmentBoxWrites_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::newRow("segment 1 SV1") << 0 << "1234"
                                   << "1234" << 8201 << 1234;
    QTest::newRow("negative SV") << 0 << "-5"
                                 << "-5" << 8201 << -5;
    QTest::newRow("full-width minus") << 1 << "－５"
                                      << "-5" << 8202 << -5;
    QTest::newRow("segment 2 time") << 6 << "7"
                                    << "7" << 8207 << 7;
    QTest::newRow("no fifth digit") << 30 << "99999"
                                    << "9999" << 8231 << 9999;
    QTest::newRow("no point") << 4 << "12.5"
                              << "125" << 8205 << 125;
    QTest::newRow("no minus in a time") << 2 << "-5"
                                        << "5" << 8203 << 5;
}

void ProgramWindowTest::segmentBoxWrites() {
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, reg);
    QFETCH(int, value);
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_%1").arg(box));
    QVERIFY(b);
    r.type(b, typed);
    QCOMPARE(b->text(), shown);  // what cannot be typed never reaches the box
    QTRY_COMPARE(r.writes(), QStringList{write(reg, value)});
    QTRY_COMPARE(r.status(), b->accessibleName() + QStringLiteral(" = %1 已写入").arg(value));
}

void ProgramWindowTest::segmentBoxSelectsOnFocus() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* b = r.find<QLineEdit>(QStringLiteral("TxtB_2"));
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(b, QStringLiteral("42"));
    r.find<QLineEdit>(QStringLiteral("TxtB_0"))->setFocus(Qt::TabFocusReason);
    // Clicked into: after the click, the whole entry is selected, so typing replaces it.
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->width() - 4, b->height() / 2));
    QTRY_COMPARE(b->selectionLength(), 2);
    QCOMPARE(b->selectionStart(), 0);
    QTest::keyClicks(b, QStringLiteral("7"));
    QCOMPARE(b->displayText(), QStringLiteral("7"));
}

void ProgramWindowTest::cycleCountWrites() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* a = r.find<QLineEdit>(QStringLiteral("TextA_2"));
    r.type(a, QStringLiteral("0"));
    QTRY_COMPARE(r.writes(), QStringList{write(8195, 0)});
    r.type(a, QStringLiteral("-5"));
    QTRY_COMPARE(r.writes().size(), 2);
    QCOMPARE(r.writes().last(), write(8195, -5));
    // Cleared, not a number, or too large for a register: nothing is sent, and the line says why.
    r.type(a, QString());
    QCOMPARE(r.status(), QStringLiteral("程序循环次数：空，未发送"));
    r.type(a, QStringLiteral("1,000"));
    QCOMPARE(r.status(), QStringLiteral("程序循环次数：“1,000” 不是数字，未发送"));
    r.type(a, QStringLiteral("70000"));
    QCOMPARE(r.status(), QStringLiteral("程序循环次数：“70000” 超出寄存器范围，未发送"));
    r.type(a, QStringLiteral("１２"));
    QTRY_COMPARE(r.writes().size(), 3);
    QCOMPARE(r.writes().last(), write(8195, 12));
}

void ProgramWindowTest::listsWritePositions() {
    Rig r;
    r.stopTimer();
    QVERIFY(r.showActive());
    auto* combo4 = r.find<QComboBox>(QStringLiteral("Combo4"));
    r.pick(combo4, 2);
    QCOMPARE(combo4->currentText(), QStringLiteral("3:3段 "));
    QTRY_COMPARE(r.writes(), QStringList{write(8194, 2)});
    QTRY_COMPARE(r.status(), QStringLiteral("程序段数 = 3:3段 已写入"));

    const struct {
        const char* name;
        int index;
        int reg;
    } others[] = {
        {"Combo2", 0, 8193}, {"Combo1", 4, 8196}, {"Combo8", 1, 8197}, {"Combo3", 1, 8198}};
    for (const auto& o : others) {
        r.pick(r.find<QComboBox>(QString::fromLatin1(o.name)), o.index);
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
    QCOMPARE(r.status(), QStringLiteral("程序段数：“9” 不是列表中的选项，未发送"));
    // The next field's write arrives alone: the list sent nothing before it.
    r.type(r.find<QLineEdit>(QStringLiteral("TxtB_0")), QStringLiteral("3"));
    QTRY_COMPARE(r.writes(), QStringList{write(8201, 3)});
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
    r.w->readbackTick();
    const program::PreviewGeometry& g = r.w->preview();
    QCOMPARE(g.valueMax, 800);
    QCOMPARE(g.valueMin, 0);  // segments 3..8 are empty and take part
    QCOMPARE(g.timeStep, 2);  // total 15
    QCOMPARE(r.text("Label5"), QStringLiteral("800"));
    QCOMPARE(r.text("Label10"), QStringLiteral("0"));
    QCOMPARE(r.text("Label11"), QStringLiteral("106.6667"));
    QCOMPARE(r.text("Label6_9"), QStringLiteral("00960"));
    // Each of the three numbers after "当前程序曲线：" follows a caption that says what it is,
    // on the same row, whole and apart.
    const char* bounds[][2] = {
        {"Label5", "最大值"}, {"Label10", "最小值"}, {"Label11", "刻度间隔"}};
    int rowEnd = 0;
    for (int i = 0; i < 3; ++i) {
        auto* caption = r.find<QLabel>(QStringLiteral("ProgramChartBoundCaption_%1").arg(i));
        auto* number = r.find<QLabel>(QString::fromLatin1(bounds[i][0]));
        QCOMPARE(caption->text(), QString::fromUtf8(bounds[i][1]));
        QCOMPARE(caption->y(), number->y());
        QVERIFY2(rowEnd <= caption->x() && caption->geometry().right() < number->x() &&
                     caption->width() >= caption->sizeHint().width() &&
                     number->width() >= number->sizeHint().width(),
                 bounds[i][0]);
        rowEnd = number->geometry().right();
    }
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
    r.w->readbackTick();
    QTRY_VERIFY(!r.w->readsPending());
    r.w->readbackTick();
    QCOMPARE(r.w->curve().sv1[0], int16_t(21));
    QCOMPARE(r.w->curve().sv2[0], int16_t(40));

    r.bus->setHolding(8197, 1);
    QTRY_VERIFY(!r.w->readsPending());
    r.w->readbackTick();
    QTRY_COMPARE(r.w->readback()[4], 1);
    r.w->readbackTick();
    QCOMPARE(r.w->curve().sv1[0], int16_t(250));
    QCOMPARE(r.w->curve().sv2[0], int16_t(60));
    QCOMPARE(r.w->preview().sv1Ramps[0].x1, 0.0);
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

void ProgramWindowTest::escReachesAWindowThatIsNotActive() {
    Rig r;
    QSignalSpy returned(r.w.get(), &ProgramWindow::returned);
    QTest::keyClick(r.w.get(), Qt::Key_Escape);
    QCOMPARE(returned.count(), 1);
}

QTEST_MAIN(ProgramWindowTest)
#include "test_programwindow.moc"
