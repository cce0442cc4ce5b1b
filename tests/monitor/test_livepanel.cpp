// The live panel's widgets over a real link and a scripted instrument: buttons, entry boxes and the
// program-command list reach the bus as exact calls; polled values reach the captions.
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "comm/link.h"
#include "fakemodbus.h"
#include "monitor/livepanel.h"
#include "monitor/livetexts.h"

using testing_support::FakeModbus;

namespace {
// A write the panel never makes; once the bus has seen it, every earlier request has been handled.
constexpr int32_t kSentinelReg = 999;
}  // namespace

class LivePanelTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void setValueButtonWritesExactCall();
    void entryWrites_data();
    void entryWrites();
    void twoFailuresGiveExactlyTwoCalls();
    void programCommandWritesPosition_data();
    void programCommandWritesPosition();
    void typedCommandMatchingNoEntrySendsNothing();
    void showsPolledValues();
    void zeroImageAndDesignCaptions();
    void silentBeforeAnyAnswerShowsDashes();
    void accessibleNamesAreSetAndUnique();
    void tabOrderFollowsRows();
    void screenshot();

  private:
    template <class T>
    T* child(const QString& name) {
        auto* w = host_->findChild<T*>(name);
        if (!w) qWarning("missing control %s", qPrintable(name));
        return w;
    }
    // Waits until every request made so far has reached the bus, then returns the writes made.
    QStringList writesSoFar();

    std::unique_ptr<comm::Link> link_;
    FakeModbus* bus_ = nullptr;
    std::unique_ptr<QWidget> host_;
    monitor::LivePanel* panel_ = nullptr;
};

void LivePanelTest::init() {
    auto fake = std::make_unique<FakeModbus>();
    bus_ = fake.get();
    link_ = std::make_unique<comm::Link>(std::move(fake));
    link_->setSettings({2, 0, 0, 5});
    host_ = std::make_unique<QWidget>();
    panel_ = new monitor::LivePanel(*link_, host_.get());
    // The main window's way: the frames go into its own layout.
    auto* lay = new QHBoxLayout(host_.get());
    lay->addWidget(panel_->pvStatusFrame());
    lay->addWidget(panel_->curveStatusFrame());
    lay->addWidget(panel_->alarmStateFrame());
    lay->addWidget(panel_->paramFrame(0));
    lay->addWidget(panel_->paramFrame(1));
    lay->addWidget(panel_->alarmSettingFrame());
}

void LivePanelTest::cleanup() {
    host_.reset();
    link_.reset();
}

QStringList LivePanelTest::writesSoFar() {
    link_->writeHolding(kSentinelReg, 1);
    const QString sentinel = QStringLiteral("Set_4X_D1(2,5,%1,1)").arg(kSentinelReg);
    if (!QTest::qWaitFor([&] { return bus_->callTexts().contains(sentinel); }, 3000))
        qWarning("sentinel write never arrived");
    QStringList writes = bus_->callTexts().filter(QStringLiteral("Set_4X_D1"));
    writes.removeAll(sentinel);
    bus_->clearCalls();
    return writes;
}

void LivePanelTest::setValueButtonWritesExactCall() {
    auto* entry = child<QLineEdit>("Text1_0");
    QCOMPARE(entry->text(), QString("0"));
    entry->setText("350");
    QTest::mouseClick(child<QPushButton>("Command12_0"), Qt::LeftButton);
    QCOMPARE(writesSoFar(), QStringList{"Set_4X_D1(2,5,1,350)"});
    QCOMPARE(entry->text(), QString("350"));  // the entry keeps what was typed

    child<QLineEdit>("Text1_1")->setText("-1999");
    panel_->writeSetValue(1);
    QCOMPARE(writesSoFar(), QStringList{"Set_4X_D1(2,5,2,-1999)"});
    // Indexes outside the arrays do nothing.
    panel_->writeSetValue(2);
    panel_->writeAlarmSetting(-1);
    panel_->writeAlarmSetting(6);
    QCOMPARE(writesSoFar(), QStringList{});
}

void LivePanelTest::entryWrites_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("call");  // empty: nothing written
    QTest::newRow("9999") << "Text1_0"
                          << "Command12_0"
                          << "9999"
                          << "Set_4X_D1(2,5,1,9999)";
    QTest::newRow("10000") << "Text1_0"
                           << "Command12_0"
                           << "10000"
                           << "";
    QTest::newRow("-2000") << "Text1_1"
                           << "Command12_1"
                           << "-2000"
                           << "";
    QTest::newRow("12.5") << "Alm11_2"
                          << "Alm111_2"
                          << "12.5"
                          << "Set_4X_D1(2,5,259,12)";
    QTest::newRow("13.5") << "Alm11_2"
                          << "Alm111_2"
                          << "13.5"
                          << "Set_4X_D1(2,5,259,14)";
    QTest::newRow("empty") << "Alm11_0"
                           << "Alm111_0"
                           << ""
                           << "";
    QTest::newRow("letters") << "Alm11_0"
                             << "Alm111_0"
                             << "abc"
                             << "";
    QTest::newRow("number and unit") << "Alm11_5"
                                     << "Alm111_5"
                                     << "30s"
                                     << "";
    QTest::newRow("full-width") << "Alm11_5"
                                << "Alm111_5"
                                << "３０"
                                << "Set_4X_D1(2,5,262,30)";
    QTest::newRow("just above range") << "Alm11_3"
                                      << "Alm111_3"
                                      << "9999.4"
                                      << "";
}

void LivePanelTest::entryWrites() {
    QFETCH(QString, entry);
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(QString, call);
    child<QLineEdit>(entry)->setText(text);
    QSignalSpy said(panel_, &monitor::LivePanel::message);
    QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    const QStringList expected = call.isEmpty() ? QStringList{} : QStringList{call};
    QCOMPARE(writesSoFar(), expected);
    QCOMPARE(child<QLineEdit>(entry)->text(), text);
    if (call.isEmpty()) {
        // The operator learns at once that nothing was sent, and why.
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0][0].toString().endsWith("未发送"), qPrintable(said[0][0].toString()));
    } else {
        // ...and when the instrument has confirmed the value.
        QTRY_COMPARE(said.size(), 1);
        QVERIFY2(said[0][0].toString().endsWith("已写入"), qPrintable(said[0][0].toString()));
    }
}

void LivePanelTest::twoFailuresGiveExactlyTwoCalls() {
    bus_->queueWriteStatus(-8888);
    bus_->queueWriteStatus(-8888);
    QSignalSpy done(link_.get(), &comm::Link::writeFinished);
    child<QLineEdit>("Alm11_1")->setText("5");
    QTest::mouseClick(child<QPushButton>("Alm111_1"), Qt::LeftButton);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(bus_->callTexts(), QStringList({"Set_4X_D1(2,5,258,5)", "Set_4X_D1(2,5,258,5)"}));
    QCOMPARE(done.at(0).at(4).toInt(), 2);
    // A failure answered by success on the repeat: also two calls, and no more.
    bus_->clearCalls();
    bus_->queueWriteStatus(-8888);
    QTest::mouseClick(child<QPushButton>("Alm111_1"), Qt::LeftButton);
    QCOMPARE(writesSoFar(), QStringList({"Set_4X_D1(2,5,258,5)", "Set_4X_D1(2,5,258,5)"}));
}

void LivePanelTest::programCommandWritesPosition_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("call");
    QTest::newRow("stop") << 0 << "Set_4X_D1(2,5,3,0)";
    QTest::newRow("run") << 1 << "Set_4X_D1(2,5,3,1)";
    QTest::newRow("pause") << 2 << "Set_4X_D1(2,5,3,2)";
    QTest::newRow("end") << 3 << "Set_4X_D1(2,5,3,3)";
}

void LivePanelTest::programCommandWritesPosition() {
    QFETCH(int, index);
    QFETCH(QString, call);
    auto* combo = child<QComboBox>("Combo3");
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->currentText(), QString("0:停止 "));
    combo->setCurrentIndex(index);
    QTest::mouseClick(child<QPushButton>("Command14"), Qt::LeftButton);
    QCOMPARE(writesSoFar(), QStringList{call});
    QCOMPARE(combo->currentIndex(), index);  // the list keeps the entry as chosen
}

void LivePanelTest::typedCommandMatchingNoEntrySendsNothing() {
    auto* combo = child<QComboBox>("Combo3");
    QVERIFY(combo->isEditable());
    for (const QString typed : {"4:结束", "3", "9:xyz", ""}) {
        combo->setEditText(typed);
        panel_->writeProgramCommand();
        QCOMPARE(writesSoFar(), QStringList{});
        QCOMPARE(combo->currentText(), typed);
        QCOMPARE(combo->count(), 4);  // typing adds no entry
    }
    // Typing an entry's exact text is choosing it.
    combo->setEditText("2:暂停 ");
    panel_->writeProgramCommand();
    QCOMPARE(writesSoFar(), QStringList{"Set_4X_D1(2,5,3,2)"});
}

void LivePanelTest::showsPolledValues() {
    bus_->setInput(1, 250);
    bus_->setInput(5, 456);
    bus_->setInput(7, 9);
    bus_->setInput(4097, 7);
    bus_->setInput(4102, 3);
    bus_->setHolding(1, 350);
    bus_->setHolding(4099, 5);
    bus_->setHolding(4144, -1);
    bus_->setHolding(257, -5);
    bus_->setDiscreteBytes(0x05, 0);  // control output 1 and alarm 1 on
    link_->setSettings({1, 0, 0, 1});
    link_->open();
    // The discrete inputs are the last block but one of a cycle.
    QTRY_COMPARE(link_->image().DiscreteBits[2], 1);
    panel_->ShowLiveStatus();
    auto text = [&](const char* name) { return child<QLabel>(name)->text(); };
    QCOMPARE(text("D_3W_0"), QString("250"));
    QCOMPARE(text("D_3W_4"), QString("45.6"));
    QCOMPARE(text("D_3W_6"), QString("9"));
    QCOMPARE(text("D_3W_7"), QString("NONE "));
    QCOMPARE(text("D_4W_0"), QString("350"));
    QCOMPARE(text("Pro_S_0"), QString("7"));
    QCOMPARE(text("Pro_S_5"), QString("3"));
    QCOMPARE(text("Parm1_2"), QString("0.5"));
    QCOMPARE(text("Parm1_47"), QString("-1"));
    QCOMPARE(text("Alm1_0"), QString("-5"));
    QCOMPARE(text("D_1W_0"), QString("控制1 ON"));
    QCOMPARE(text("D_1W_1"), QString("控制2 OFF "));
    QCOMPARE(text("D_1W_2"), QString("ALM1报警"));
    auto bg = [&](const char* name) {
        return child<QLabel>(name)->palette().color(QPalette::Window);
    };
    QCOMPARE(bg("D_1W_0"), QColor(255, 192, 255));
    QCOMPARE(bg("D_1W_1"), QColor(192, 255, 255));
    QCOMPARE(panel_->liveValueLabel(4), child<QLabel>("D_3W_4"));

    // The flag going off restores the inactive colour on the next call.
    bus_->setDiscreteBytes(0x04, 0);
    QTRY_COMPARE(link_->image().DiscreteBits[0], 0);
    panel_->ShowLiveStatus();
    QCOMPARE(text("D_1W_0"), QString("控制1 OFF"));
    QCOMPARE(bg("D_1W_0"), monitor::inactiveColour());

    // Once the instrument has answered, its silence keeps the last values (greyed).
    panel_->setStale(true);
    panel_->ShowLiveStatus();
    QCOMPARE(text("D_3W_0"), QString("250"));
    QCOMPARE(text("D_4W_0"), QString("350"));
}

// An instrument that has not answered at all has no values: a dash for each while it is silent,
// on every later tick too, its zeros again once it is not; the ruler's readout in the live labels
// is left alone.
void LivePanelTest::silentBeforeAnyAnswerShowsDashes() {
    const QStringList measured{"D_3W_0", "D_3W_4", "D_3W_7", "D_4W_0"};
    const auto shown = [&] {
        QStringList t;
        for (const QString& n : measured)
            t << child<QLabel>(n)->text();
        return t;
    };
    panel_->ShowLiveStatus();
    const QStringList zeros = shown();
    panel_->setStale(true);
    QCOMPARE(shown(), (QStringList{"—", "—", "—", "—"}));
    panel_->ShowLiveStatus();
    QCOMPARE(shown(), (QStringList{"—", "—", "—", "—"}));
    panel_->setStale(false);
    QCOMPARE(shown(), zeros);
    child<QLabel>("D_3W_0")->setText("ruler");
    panel_->ShowLiveStatus(true);
    panel_->setStale(true);
    QCOMPARE(shown(), (QStringList{"ruler", zeros[1], zeros[2], "—"}));
}

void LivePanelTest::zeroImageAndDesignCaptions() {
    QCOMPARE(child<QLabel>("Pro_S_0")->text(), QString("停止"));
    QCOMPARE(child<QLabel>("Pro_S_8")->text(), QString("停止"));
    QCOMPARE(child<QLabel>("D_3W_0")->palette().color(QPalette::Window), monitor::activeColour());
    QCOMPARE(child<QLabel>("Parm1_0")->palette().color(QPalette::Window),
             monitor::inactiveColour());
    panel_->ShowLiveStatus();  // before the port is open: every zero form
    QCOMPARE(child<QLabel>("Pro_S_0")->text(), QString("停止  "));
    QCOMPARE(child<QLabel>("Pro_S_8")->text(), QString("0"));
    QCOMPARE(child<QLabel>("D_3W_6")->text(), QString("NONE  "));
    QCOMPARE(child<QLabel>("D_1W_4")->text(), QString("传感器正常 "));
    QCOMPARE(child<QLabel>("D_1W_4")->palette().color(QPalette::Window), monitor::inactiveColour());
    QVERIFY(!host_->findChild<QLabel*>("Parm1_5"));
    QCOMPARE(host_->findChildren<QLabel*>(QRegularExpression("^Parm1_\\d+$")).size(), 38);
    QVERIFY(!panel_->liveValueLabel(8));
    QVERIFY(!panel_->paramFrame(2));
    QCOMPARE(qobject_cast<QGroupBox*>(panel_->pvStatusFrame())->title(), QString("PV状态"));
    QCOMPARE(qobject_cast<QGroupBox*>(panel_->curveStatusFrame())->title(), QString("曲线状态"));
    QCOMPARE(qobject_cast<QGroupBox*>(panel_->alarmStateFrame())->title(), QString("当前报警"));
}

void LivePanelTest::accessibleNamesAreSetAndUnique() {
    QSet<QString> seen;
    int controls = 0, readbacks = 0;
    const auto widgets = host_->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QPushButton*>(w);
        const bool readback = qobject_cast<QLabel*>(w) && !w->objectName().isEmpty();
        if (!control && !readback) continue;
        if (qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parent())) continue;
        const QString name = w->accessibleName();
        QVERIFY2(!name.isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(!seen.contains(name), qPrintable(name));
        seen.insert(name);
        if (readback) {
            QVERIFY2(name.endsWith(QStringLiteral(" 读数")), qPrintable(name));
            ++readbacks;
        } else {
            ++controls;
        }
    }
    QCOMPARE(controls, 2 + 2 + 6 + 6 + 2);
    QCOMPARE(readbacks, 8 + 2 + 9 + 6 + 38 + 6);
    QCOMPARE(child<QLabel>("Parm1_17")->accessibleName(), QString("输入2 小数点位置 读数"));
}

void LivePanelTest::tabOrderFollowsRows() {
    host_->show();
    QVERIFY(QTest::qWaitForWindowExposed(host_.get()));
    const QStringList expected = {"Text1_0",   "Command12_0", "Text1_1",  "Command12_1", "Combo3",
                                  "Command14", "Alm11_0",     "Alm111_0", "Alm11_1",     "Alm111_1",
                                  "Alm11_2",   "Alm111_2",    "Alm11_3",  "Alm111_3",    "Alm11_4",
                                  "Alm111_4",  "Alm11_5",     "Alm111_5"};
    child<QLineEdit>("Text1_0")->setFocus();
    QStringList order;
    QWidget* w = child<QLineEdit>("Text1_0");
    for (int i = 0; i < expected.size(); ++i) {
        order << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled() ||
                 w->objectName().isEmpty());
    }
    QCOMPARE(order, expected);
}

void LivePanelTest::screenshot() {
    // A picture for a person to look at: VELMARS_SHOT=/tmp/panel.png keeps it; without the
    // variable it goes to a temporary folder and is only checked to be a picture.
    QTemporaryDir tmp;
    QByteArray file = qgetenv("VELMARS_SHOT");
    if (file.isEmpty()) file = tmp.filePath(QStringLiteral("panel.png")).toLocal8Bit();
    bus_->setInput(1, 253);
    bus_->setInput(5, 456);
    bus_->setInput(4097, 1);
    bus_->setDiscreteBytes(0x15, 0);
    link_->setSettings({1, 0, 0, 1});
    link_->open();
    QTRY_COMPARE(link_->image().DiscreteBits[4], 1);
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
    // Roughly the main window's arrangement: status frames on top, the columns below.
    QWidget window;
    auto* grid = new QGridLayout(&window);
    grid->addWidget(panel_->pvStatusFrame(), 0, 0, 1, 3);
    grid->addWidget(panel_->curveStatusFrame(), 0, 3);
    grid->addWidget(panel_->alarmStateFrame(), 1, 0, 1, 4);
    grid->addWidget(panel_->paramFrame(0), 2, 0);
    grid->addWidget(panel_->paramFrame(1), 2, 1);
    grid->addWidget(panel_->alarmSettingFrame(), 2, 2, Qt::AlignTop);
    panel_->ShowLiveStatus();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QString::fromLocal8Bit(file)));
    for (QWidget* f :
         {panel_->pvStatusFrame(), panel_->curveStatusFrame(), panel_->alarmStateFrame(),
          panel_->paramFrame(0), panel_->paramFrame(1), panel_->alarmSettingFrame()})
        qInfo("%s %dx%d", qPrintable(f->objectName()), f->sizeHint().width(),
              f->sizeHint().height());
}

QTEST_MAIN(LivePanelTest)
#include "test_livepanel.moc"
