// The configuration window over a Link with a scripted bus: what each control writes, the editors
// start from the instrument, readback, tab order and tab switching for keyboard use, and numbers
// under a comma-decimal locale. The walks and the leaving are in tests/shell/test_window_walks.
#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <memory>

#include <clocale>

#include "comm/link.h"
#include "commalocale.h"
#include "config/configwindow.h"
#include "config/paramtable.h"
#include "fakemodbus.h"
#include "windowfeed.h"

using testing_support::FakeModbus;

namespace {

struct Rig {
    FakeModbus* bus = nullptr;
    std::unique_ptr<comm::Link> link;
    std::unique_ptr<config::ConfigWindow> window;

    Rig() {
        auto fake = std::make_unique<FakeModbus>();
        bus = fake.get();
        link = std::make_unique<comm::Link>(std::move(fake));
        link->setSettings({1, 0, 0, 1});
    }
    ~Rig() {
        window.reset();
        link.reset();
    }
    config::ConfigWindow& open() {
        window = std::make_unique<config::ConfigWindow>(testing_support::feedOf(*link, true));
        testing_support::wireToLink(*window, *link);
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) qWarning("window not active");
        return *window;
    }
    template <class T>
    T* child(const QString& name) const {
        return window->findChild<T*>(name);
    }
    QTabWidget* tabs() const { return child<QTabWidget>("SSTab1"); }
    // Gives a control the focus, on its own tab.
    bool focus(QWidget* w) const {
        for (int i = 0; i < tabs()->count(); ++i)
            if (tabs()->widget(i)->isAncestorOf(w)) tabs()->setCurrentIndex(i);
        w->setFocus(Qt::MouseFocusReason);
        return QTest::qWaitFor([w] { return w->hasFocus(); }, 2000);
    }
    // Enters a control, optionally replaces its text by typing, and moves the focus on to the tab
    // bar (which writes nothing itself).
    bool leave(const QString& name, const QString& text = {}, bool type = false) const {
        QWidget* w = child<QWidget>(name);
        if (!w || !focus(w)) return false;
        if (type) {
            auto* e = qobject_cast<QLineEdit*>(w);
            if (auto* c = qobject_cast<QComboBox*>(w)) e = c->lineEdit();
            e->selectAll();
            QTest::keyClick(w, Qt::Key_Delete);
            // Key by key, as an input method delivers them (full-width forms included).
            for (QChar ch : text)
                QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
        tabs()->tabBar()->setFocus(Qt::TabFocusReason);
        return !w->hasFocus();
    }
    QString status() const { return child<QLabel>("WriteStatus")->text(); }
    // The instrument holds these; the link polls it.
    bool fillInstrument() {
        bus->setHolding(4099, 15);    // filter 1.5 s
        bus->setHolding(4105, 4);     // sensor code 4
        bus->setHolding(4107, 5000);  // input 1 upper limit
        bus->setHolding(4134, 2);     // 19200 baud
        bus->setHolding(4135, 1);     // parity code 1
        link->open();
        return QTest::qWaitFor([this] { return link->image().ParamValues[10] == 5000.0f; }, 3000);
    }
    QStringList writes() const {
        QStringList out;
        for (const QString& t : bus->callTexts())
            if (t.startsWith("Set_4X_D1")) out << t;
        return out;
    }
};

}  // namespace

class ConfigWindow : public QObject {
    Q_OBJECT
  private slots:
    void textBoxesWriteTheTypedNumber_data();
    void textBoxesWriteTheTypedNumber();
    void listsWriteTheCodeOfTheShownEntry();
    void writesWithoutAValueSendNothing();
    void numbersIgnoreACommaDecimalLocale();
    void opensOnInputOneWithNineTabs();
    void editorsStartFromTheInstrument();
    void tabOrderFollowsTheRows();
    void ctrlTabSwitchesTabs();
};

void ConfigWindow::textBoxesWriteTheTypedNumber_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("call");
    QTest::newRow("filter 12.5 s") << "T_3RW_2"
                                   << "12.5"
                                   << "Set_4X_D1(1,1,4099,125)";
    QTest::newRow("filter half to even") << "T_3RW_2"
                                         << "0.25"
                                         << "Set_4X_D1(1,1,4099,2)";
    QTest::newRow("filter 100 s") << "T_3RW_2"
                                  << "100"
                                  << "Set_4X_D1(1,1,4099,1000)";
    QTest::newRow("full-width digits") << "T_3RW_10"
                                       << "１２３４"
                                       << "Set_4X_D1(1,1,4107,1234)";
    QTest::newRow("negative limit") << "T_3RW_10"
                                    << "-1999"
                                    << "Set_4X_D1(1,1,4107,-1999)";
    QTest::newRow("no range check") << "T_3RW_10"
                                    << "12000"
                                    << "Set_4X_D1(1,1,4107,12000)";
    QTest::newRow("slave address") << "T_3RW_36"
                                   << "3"
                                   << "Set_4X_D1(1,1,4133,3)";
    QTest::newRow("last box") << "T_3RW_47"
                              << "-5"
                              << "Set_4X_D1(1,1,4144,-5)";
}

void ConfigWindow::textBoxesWriteTheTypedNumber() {
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QString, call);
    Rig r;
    r.open();
    QVERIFY(r.leave(box, text, true));
    QTRY_COMPARE(r.writes(), QStringList{call});
    QTRY_VERIFY(r.status().endsWith(" 已写入"));
}

void ConfigWindow::listsWriteTheCodeOfTheShownEntry() {
    Rig r;
    r.open();
    // Picked with the arrow keys.
    auto* baud = r.child<QComboBox>("Combo8");
    QVERIFY(r.focus(baud));
    QTest::keyClick(baud, Qt::Key_Down);
    QTest::keyClick(baud, Qt::Key_Down);
    QCOMPARE(baud->currentText(), QString("2:19200BPS "));
    QVERIFY(r.leave("Combo27"));  // entered and left untouched: nothing
    QTRY_COMPARE(r.writes(), QStringList{"Set_4X_D1(1,1,4134,2)"});
    QTRY_COMPARE(r.status(), QString("通讯波特率 = 2:19200BPS 已写入"));
    // Typed exactly as an entry.
    QVERIFY(r.leave("Combo10", "3:X.XXX ", true));
    QTRY_COMPARE(r.writes().size(), 2);
    QCOMPARE(r.writes().last(), QString("Set_4X_D1(1,1,4106,3)"));
}

void ConfigWindow::writesWithoutAValueSendNothing() {
    Rig r;
    r.open();
    QVERIFY(r.focus(r.child<QWidget>("T_3RW_11")));  // typed into, then emptied
    QTest::keyClick(r.child<QWidget>("T_3RW_11"), Qt::Key_5);
    QTest::keyClick(r.child<QWidget>("T_3RW_11"), Qt::Key_Backspace);
    QVERIFY(r.leave("T_3RW_11"));
    QCOMPARE(r.status(), QString("输入1 输入下限：空，未发送"));
    QVERIFY(r.leave("T_3RW_12", "   ", true));    // blanks only
    QVERIFY(r.leave("T_3RW_18", "70000", true));  // no register holds it
    QCOMPARE(r.status(), QString("输入2 输入上限：“70000” 超出寄存器范围，未发送"));
    QVERIFY(r.leave("T_3RW_19", "0x10", true));
    QCOMPARE(r.status(), QString("输入2 输入下限：“0x10” 不是数字，未发送"));
    QVERIFY(r.leave("T_3RW_20", "1,000", true));
    QVERIFY(r.leave("Combo3", "4:0MA10x", true));  // no entry has this text
    QVERIFY(r.leave("Combo9", "", true));
    // A write after them, so that anything they had asked for would have arrived first.
    QVERIFY(r.leave("T_3RW_19", "5", true));
    QTRY_COMPARE(r.writes(), QStringList{"Set_4X_D1(1,1,4116,5)"});
}

void ConfigWindow::numbersIgnoreACommaDecimalLocale() {
    QString why;
    QVERIFY2(testsupport::useCommaDecimalLocale(&why), qPrintable(why));
    Rig r;
    QVERIFY(r.fillInstrument());
    r.open();
    QTRY_COMPARE(r.child<QLabel>("D_4W_2")->text(), QString("1.5"));
    QCOMPARE(r.child<QLineEdit>("T_3RW_2")->text(), QString("1.5"));
    QVERIFY(r.leave("T_3RW_2", "13.5", true));
    QTRY_COMPARE(r.writes(), QStringList{"Set_4X_D1(1,1,4099,135)"});
    QTRY_COMPARE(r.status(), QString("数字滤波 = 13.5 已写入"));
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
}

void ConfigWindow::opensOnInputOneWithNineTabs() {
    Rig r;
    auto& w = r.open();
    QCOMPARE(w.windowTitle(), QString("Velmar 配置 "));
    QStringList captions;
    for (int i = 0; i < r.tabs()->count(); ++i)
        captions << r.tabs()->tabText(i);
    QCOMPARE(captions, (QStringList{"INST", "输入1", "输入2", "输出1", "输出2", "报警", "通讯",
                                    "变送1", "变送2"}));
    QCOMPARE(r.tabs()->tabText(r.tabs()->currentIndex()), QString("输入1"));
    auto* timer = r.child<QTimer>("Timer1");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    auto* sensor = r.child<QComboBox>("Combo3");
    QVERIFY(sensor->isEditable());
    QCOMPARE(sensor->insertPolicy(), QComboBox::NoInsert);
}

void ConfigWindow::editorsStartFromTheInstrument() {
    Rig r;
    r.bus->setHolding(4129, -1);  // no alarm-mode code
    r.bus->setHolding(4134, 5);   // no baud code
    QVERIFY(r.fillInstrument());
    r.bus->setHolding(4134, 5);
    QTRY_COMPARE(r.link->image().ParamValues[37], 5.0f);

    r.open();
    QTRY_COMPARE(r.child<QLabel>("D_4W_10")->text(), QString("5000"));
    QCOMPARE(r.child<QLabel>("D_4W_2")->text(), QString("1.5"));
    QCOMPARE(r.child<QLabel>("D_4W_8")->text(), QString("0MA10)"));
    // The readbacks and editors carry their row's hint for screen readers.
    auto description = [&](const char* name) {
        return QAccessible::queryAccessibleInterface(r.child<QWidget>(name))
            ->text(QAccessible::Description);
    };
    QCOMPARE(description("D_4W_10"), QString("-1999~ 9999。默认值：5000"));
    QCOMPARE(description("Combo8"), QString("0-4800，1-9600，2-19200 。Default=1"));
    QCOMPARE(r.child<QLabel>("D_4W_41")->text(), QString("不变送"));  // register 0
    QCOMPARE(r.child<QLabel>("D_4W_32")->text(), QString());          // -1: left as it was
    QCOMPARE(r.child<QLabel>("D_4W_37")->text(), QString());
    // The editors show the same values: the list the entry of the code read.
    QCOMPARE(r.child<QLineEdit>("T_3RW_10")->text(), QString("5000"));
    QCOMPARE(r.child<QLineEdit>("T_3RW_2")->text(), QString("1.5"));
    QCOMPARE(r.child<QComboBox>("Combo3")->currentIndex(), 4);
    QVERIFY(r.child<QComboBox>("Combo3")->currentText().contains("0MA10"));

    // What the operator typed stays; a code that falls off its list keeps the last text shown.
    QVERIFY(r.focus(r.child<QWidget>("T_3RW_10")));
    QTest::keyClicks(r.child<QWidget>("T_3RW_10"), "77");
    r.bus->setHolding(4134, 2);
    QTRY_COMPARE(r.child<QLabel>("D_4W_37")->text(), QString("19200"));
    QTRY_COMPARE(r.child<QComboBox>("Combo8")->currentIndex(), 2);
    r.bus->setHolding(4134, 5);
    QTRY_COMPARE(r.link->image().ParamValues[37], 5.0f);
    QTest::qWait(1200);
    QCOMPARE(r.child<QLabel>("D_4W_37")->text(), QString("19200"));
    QCOMPARE(r.child<QComboBox>("Combo8")->currentIndex(), 2);
    QVERIFY(r.child<QLineEdit>("T_3RW_10")->text().endsWith("77"));
    QCOMPARE(r.writes(), QStringList{});
}

void ConfigWindow::tabOrderFollowsTheRows() {
    Rig r;
    r.open();
    QTabBar* bar = r.tabs()->tabBar();
    QTRY_VERIFY(bar->hasFocus());
    QStringList order;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* f = QApplication::focusWidget();
        order << (f == bar ? QString("SSTab1") : f ? f->objectName() : QString("none"));
    }
    QCOMPARE(order, (QStringList{"Combo3", "Combo10", "T_3RW_10", "T_3RW_11", "T_3RW_12",
                                 "Command11", "SSTab1"}));
    QCOMPARE(r.tabs()->currentIndex(), 1);
    // Backwards from the button.
    r.child<QWidget>("Command11")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QString("T_3RW_12"));
}

void ConfigWindow::ctrlTabSwitchesTabs() {
    Rig r;
    r.open();
    QVERIFY(r.focus(r.child<QWidget>("T_3RW_10")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(r.tabs()->currentIndex(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(r.tabs()->currentIndex(), 1);
    QVERIFY(r.focus(r.child<QWidget>("Command11")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(r.tabs()->currentIndex(), 2);
    QVERIFY(r.focus(r.child<QWidget>("Combo1")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(r.tabs()->currentIndex(), 3);
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(r.tabs()->currentIndex(), 0);  // wraps round
}

QTEST_MAIN(ConfigWindow)
#include "test_configwindow.moc"
