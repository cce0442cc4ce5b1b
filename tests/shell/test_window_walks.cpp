// The three windows the operator writes from (main, configuration, program), with the port open
// on a scripted instrument: walking through every control with Tab writes nothing, one edit among
// untouched controls writes once, and the two sub-windows are left only through Esc or their
// button.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "config/configwindow.h"
#include "fakemodbus.h"
#include "programrig.h"
#include "shell/mainwindow.h"

using testing_support::FakeModbus;

namespace {

enum class Window { Main, Configuration, Program };

struct Case {
    Window window;
    const char* start;       // where the walk starts (nullptr: where the window puts the focus)
    int pages, tabsPerPage;  // pages are switched with Ctrl+Tab
    const char* edited;      // the one control edited, typed key by key as an input method does
    const char* text;
    const char* untouched[2];  // entered and left without a change
    const char* button;        // the button that sends the value, when leaving does not
    const char* call;          // what reaches the instrument
    const char* buttonCall;    // what leaving through the return button from "42" typed sends
    int readbackMs;            // a readback tick must keep the operator's value
};

// clang-format off
const Case kCases[] = {
    {Window::Main, "Combo1", 1, 120, "Text1_0", "３０５", {"Alm11_0", "Text1_1"}, "Command12_0",
     "Set_4X_D1(1,1,1,305)", nullptr, 300},
    {Window::Configuration, nullptr, 9, 8, "T_3RW_10", "4000", {"Combo3", "T_3RW_11"}, nullptr,
     "Set_4X_D1(1,1,4107,4000)", "Set_4X_D1(1,1,4107,42)", 1200},
    {Window::Program, "Command1", 1, 34, "TxtB_1", "-70", {"TxtB_0", "Combo4"}, nullptr,
     "Set_4X_D1(1,1,8202,-70)", "Set_4X_D1(1,1,8202,42)", 700},
};
// clang-format on

}  // namespace

class WindowWalks : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup() { rig_.reset(); }
    void walkingThroughEveryControlWritesNothing_data() { rows(0); }
    void walkingThroughEveryControlWritesNothing();
    void oneEditAmongUntouchedControlsWritesOnce_data() { rows(0); }
    void oneEditAmongUntouchedControlsWritesOnce();
    void leftOnlyThroughEscOrItsButton_data() { rows(1); }
    void leftOnlyThroughEscOrItsButton();

  private:
    static void rows(int first) {
        QTest::addColumn<int>("row");
        const char* names[] = {"main", "configuration", "program"};
        for (int i = first; i < 3; ++i)
            QTest::newRow(names[i]) << i;
    }
    // Opens the port, then the case's window once it shows what the instrument holds.
    QWidget* open(const Case& c);
    QStringList writes() const { return rig_->bus->callTexts().filter("Set_4X_D1"); }
    static void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), k, m);
    }
    static bool enter(QWidget* w) {
        w->setFocus(Qt::TabFocusReason);
        return QTest::qWaitFor([w] { return w->hasFocus(); });
    }

    std::unique_ptr<testing_support::ProgramRig> rig_;
};

void WindowWalks::init() {
    rig_ = std::make_unique<testing_support::ProgramRig>([](FakeModbus& bus) {
        bus.setHolding(4107, 5000);  // input 1 upper limit
        bus.setHolding(4134, 2);     // 19200 baud
        bus.setHolding(8193, 1);     // program time unit
        bus.setHolding(8202, 60);    // segment 1 SV2
    });
}

QWidget* WindowWalks::open(const Case& c) {
    shell::MainWindow* main = rig_->app->mainWindow();
    main->openPort();
    if (!QTest::qWaitFor(
            [&] { return rig_->app->chamber().link().image().ParamValues[10] == 5000.0f; }))
        return nullptr;
    if (c.window == Window::Configuration) main->showConfigWindow();
    if (c.window == Window::Program) main->showProgramWindow();
    QWidget* w = c.window == Window::Configuration ? main->configWindow()
                 : c.window == Window::Program     ? main->programWindow()
                                                   : main;
    // A sub-window's editor shows what the instrument holds.
    const QString shown = c.window == Window::Configuration ? "5000" : "60";
    auto* edited = w->findChild<QLineEdit*>(c.edited);
    if (w != main && !QTest::qWaitFor([&] { return edited->text() == shown; })) return nullptr;
    w->activateWindow();
    return QTest::qWaitForWindowActive(w) ? w : nullptr;
}

void WindowWalks::walkingThroughEveryControlWritesNothing() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    QWidget* w = open(c);
    QVERIFY(w);
    QVERIFY(c.start ? enter(w->findChild<QWidget*>(c.start))
                    : QTest::qWaitFor([w] { return w->findChild<QTabBar*>()->hasFocus(); }));
    // Every control of every page with Tab, pages switched with Ctrl+Tab from inside the rows,
    // then the same backwards with Shift+Tab and Ctrl+Shift+Tab.
    QSet<QString> visited;
    for (int p = 0; p < c.pages; ++p) {
        for (int i = 0; i < c.tabsPerPage; ++i) {
            key(Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        key(Qt::Key_Tab, Qt::ControlModifier);
    }
    for (int p = 0; p < c.pages; ++p) {
        for (int i = 0; i < c.tabsPerPage; ++i)
            key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    }
    // Tab stops at every entry, list and push button (an option group once, on its choice; an
    // entry that passes its focus on, as a date and time entry's field does, at what takes it).
    for (QWidget* control : w->findChildren<QWidget*>()) {
        const bool stop = qobject_cast<QComboBox*>(control) ||
                          qobject_cast<QPushButton*>(control) ||
                          (qobject_cast<QLineEdit*>(control) &&
                           !qobject_cast<QComboBox*>(control->parentWidget()));
        QWidget* taker = control->focusProxy() ? control->focusProxy() : control;
        if (stop && control->isEnabled() && !control->isHidden() &&
            (control->focusPolicy() & Qt::TabFocus))
            QVERIFY2(visited.contains(taker->objectName()), qPrintable(control->objectName()));
    }
    // Leaving a sub-window writes nothing either.
    if (c.window != Window::Main) key(Qt::Key_Escape);
    QTest::qWait(300);
    QCOMPARE(writes(), QStringList{});
}

void WindowWalks::oneEditAmongUntouchedControlsWritesOnce() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    QWidget* w = open(c);
    QVERIFY(w);
    auto* edited = w->findChild<QLineEdit*>(c.edited);
    QVERIFY(enter(w->findChild<QWidget*>(c.untouched[0])));
    QVERIFY(enter(edited));
    edited->selectAll();
    for (QChar ch : QString::fromUtf8(c.text))
        QTest::sendKeyEvent(QTest::Click, edited, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    const QString shown = edited->text();
    for (QWidget* next : {w->findChild<QWidget*>(c.untouched[1]), static_cast<QWidget*>(edited),
                          w->findChild<QWidget*>(c.untouched[0])})
        QVERIFY(enter(next));
    if (c.button) {  // the main window's entries write on their button only
        QTest::qWait(100);
        QCOMPARE(writes(), QStringList{});
        QTest::keyClick(w->findChild<QWidget*>(c.button), Qt::Key_Space);
    }
    QTRY_COMPARE(writes(), QStringList{c.call});
    QTest::qWait(c.readbackMs);
    QCOMPARE(edited->text(), shown);
    QCOMPARE(writes().size(), 1);
}

void WindowWalks::leftOnlyThroughEscOrItsButton() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    auto* w = static_cast<ui::SubWindow*>(open(c));
    QVERIFY(w);
    QSignalSpy returned(w, &ui::SubWindow::returned);
    QVERIFY(!w->close() && w->isVisible() && w->blockClose());
    // Esc from a box the operator typed into: the value is not written, the window goes, once.
    auto* edited = w->findChild<QLineEdit*>(c.edited);
    QVERIFY(enter(edited));
    QTest::keyClicks(edited, "42");
    QTest::keyClick(edited, Qt::Key_Escape);
    QCOMPARE(returned.count(), 1);
    w->returnToMainWindow();  // a second press changes nothing
    QCOMPARE(returned.count(), 1);
    QVERIFY(!w->blockClose() && !w->isVisible());
    QVERIFY(!w->findChild<QTimer*>("Timer1")->isActive());
    QTRY_VERIFY(rig_->app->mainWindow()->isVisible());
    QTest::qWait(100);
    QCOMPARE(writes(), QStringList{});

    // The button, clicked from a box the operator typed into: the click moved the focus out of
    // the box first, so its value was written.
    w = static_cast<ui::SubWindow*>(open(c));
    QVERIFY(w);
    QSignalSpy returnedAgain(w, &ui::SubWindow::returned);
    edited = w->findChild<QLineEdit*>(c.edited);
    QVERIFY(enter(edited));
    edited->selectAll();
    QTest::keyClicks(edited, "42");
    auto* back = w->findChild<QAbstractButton*>("Command11");
    QCOMPARE(back->text(), QString(" Esc 返回"));
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(returnedAgain.count(), 1);
    QTRY_COMPARE(writes(), QStringList{c.buttonCall});
}

QTEST_MAIN(WindowWalks)
#include "test_window_walks.moc"
