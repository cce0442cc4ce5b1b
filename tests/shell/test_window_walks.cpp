// The three windows the operator writes from (main, configuration, program), with the port open
// on a scripted instrument: walking through every control with Tab writes nothing, one edit among
// untouched controls writes once, and the two sub-windows are left only through Esc or their
// button.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "config/configwindow.h"
#include "fakemodbus.h"
#include "program/programwindow.h"
#include "programrig.h"
#include "shell/application.h"
#include "shell/mainwindow.h"

using testing_support::FakeModbus;

namespace {

enum class Window { Main, Configuration, Program };

struct Case {
    Window window;
    const char* start;         // where the walk starts
    int pages, tabsPerPage;    // pages are switched with Ctrl+Tab
    const char* edited;        // the one control edited
    const char* text;          // typed key by key, as an input method delivers it
    const char* untouched[2];  // entered and left without a change
    const char* button;        // the button that sends the value, when leaving does not
    const char* call;          // what reaches the instrument
    int readbackMs;            // a readback tick must keep the operator's value
};

const Case kCases[] = {
    {Window::Main,
     "Combo1",
     1,
     120,
     "Text1_0",
     "３０５",
     {"Alm11_0", "Text1_1"},
     "Command12_0",
     "Set_4X_D1(1,1,1,305)",
     300},
    {Window::Configuration,
     nullptr,
     9,
     8,
     "T_3RW_10",
     "4000",
     {"Combo3", "T_3RW_11"},
     nullptr,
     "Set_4X_D1(1,1,4107,4000)",
     1200},
    {Window::Program,
     "Command1",
     1,
     34,
     "TxtB_1",
     "-70",
     {"TxtB_0", "Combo4"},
     nullptr,
     "Set_4X_D1(1,1,8202,-70)",
     700},
};

}  // namespace

class WindowWalks : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void walkingThroughEveryControlWritesNothing_data() { rows(true); }
    void walkingThroughEveryControlWritesNothing();
    void oneEditAmongUntouchedControlsWritesOnce_data() { rows(true); }
    void oneEditAmongUntouchedControlsWritesOnce();
    void leftOnlyThroughEscOrItsButton_data() { rows(false); }
    void leftOnlyThroughEscOrItsButton();

  private:
    void rows(bool withMain) {
        QTest::addColumn<int>("row");
        const char* names[] = {"main", "configuration", "program"};
        for (int i = withMain ? 0 : 1; i < 3; ++i)
            QTest::newRow(names[i]) << i;
    }
    // Opens the port, then the case's window, once it shows what the instrument holds.
    QWidget* open(const Case& c);
    template <class T = QWidget>
    T* child(QWidget* w, const char* name) {
        auto* found = w->findChild<T*>(QLatin1String(name));
        if (!found) qWarning("missing control %s", name);
        return found;
    }
    QStringList writes() const { return bus_->callTexts().filter(QStringLiteral("Set_4X_D1")); }
    void tab(Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const bool back = modifiers & Qt::ShiftModifier;
        QTest::keyClick(QApplication::focusWidget(), back ? Qt::Key_Backtab : Qt::Key_Tab,
                        modifiers);
    }

    std::unique_ptr<testing_support::ProgramRig> rig_;
    shell::Application* app_ = nullptr;
    FakeModbus* bus_ = nullptr;
};

void WindowWalks::init() {
    rig_ = std::make_unique<testing_support::ProgramRig>([](FakeModbus& bus) {
        bus.setInput(1, 250);
        bus.setHolding(4099, 15);    // filter 1.5 s
        bus.setHolding(4107, 5000);  // input 1 upper limit
        bus.setHolding(4134, 2);     // 19200 baud
        bus.setHolding(8193, 1);     // program time unit
        bus.setHolding(8201, 250);   // segment 1 SV1
        bus.setHolding(8202, 60);    // segment 1 SV2
    });
    app_ = rig_->app.get();
    bus_ = rig_->bus;
    QVERIFY(app_->mainWindow());
}

void WindowWalks::cleanup() {
    rig_.reset();
}

QWidget* WindowWalks::open(const Case& c) {
    shell::MainWindow* main = app_->mainWindow();
    main->openPort();
    if (!QTest::qWaitFor([&] { return app_->link().image().ParamValues[10] == 5000.0f; }, 3000))
        return nullptr;
    QWidget* w = main;
    if (c.window == Window::Configuration) {
        main->showConfigWindow();
        w = main->configWindow();
        if (!QTest::qWaitFor([&] { return child<QLineEdit>(w, "T_3RW_10")->text() == "5000"; }))
            return nullptr;
    } else if (c.window == Window::Program) {
        main->showProgramWindow();
        w = main->programWindow();
        if (!QTest::qWaitFor([&] { return child<QLineEdit>(w, "TxtB_1")->text() == "60"; }))
            return nullptr;
    }
    w->activateWindow();
    return QTest::qWaitForWindowActive(w) ? w : nullptr;
}

void WindowWalks::walkingThroughEveryControlWritesNothing() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    QWidget* w = open(c);
    QVERIFY(w);
    if (c.start)
        child(w, c.start)->setFocus(Qt::TabFocusReason);
    else  // the configuration window starts on its tab bar
        QTRY_VERIFY(w->findChild<QTabBar*>()->hasFocus());
    // Every control of every page with Tab, pages switched with Ctrl+Tab from inside the rows,
    // then the same backwards with Shift+Tab and Ctrl+Shift+Tab.
    QSet<QString> visited;
    for (int p = 0; p < c.pages; ++p) {
        for (int i = 0; i < c.tabsPerPage; ++i) {
            tab();
            visited << QApplication::focusWidget()->objectName();
        }
        tab(Qt::ControlModifier);
    }
    for (int p = 0; p < c.pages; ++p) {
        for (int i = 0; i < c.tabsPerPage; ++i)
            tab(Qt::ShiftModifier);
        tab(Qt::ControlModifier | Qt::ShiftModifier);
    }
    // Tab stops at every entry, list and button (an option group once, on its chosen option).
    for (QWidget* control : w->findChildren<QWidget*>()) {
        const bool entry =
            qobject_cast<QLineEdit*>(control) && !qobject_cast<QComboBox*>(control->parentWidget());
        const bool stop =
            entry || qobject_cast<QComboBox*>(control) || qobject_cast<QPushButton*>(control);
        if (stop && control->isEnabled() && !control->isHidden() &&
            (control->focusPolicy() & Qt::TabFocus))
            QVERIFY2(visited.contains(control->objectName()), qPrintable(control->objectName()));
    }
    // Leaving a sub-window writes nothing either.
    if (c.window != Window::Main) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::qWait(300);
    QCOMPARE(writes(), QStringList{});
}

void WindowWalks::oneEditAmongUntouchedControlsWritesOnce() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    QWidget* w = open(c);
    QVERIFY(w);
    auto pass = [&](const char* name) {
        child(w, name)->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(child(w, name)->hasFocus());
    };
    pass(c.untouched[0]);
    auto* edited = child<QLineEdit>(w, c.edited);
    pass(c.edited);
    edited->selectAll();
    for (QChar ch : QString::fromUtf8(c.text))
        QTest::sendKeyEvent(QTest::Click, edited, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    const QString shown = edited->text();
    pass(c.untouched[1]);
    pass(c.edited);
    pass(c.untouched[0]);
    if (c.button) {  // the main window's entries write on their button only
        QTest::qWait(100);
        QCOMPARE(writes(), QStringList{});
        QTest::keyClick(child(w, c.button), Qt::Key_Space);
    }
    QTRY_COMPARE(writes(), QStringList{QString::fromLatin1(c.call)});
    QTest::qWait(c.readbackMs);
    QCOMPARE(edited->text(), shown);
    QCOMPARE(writes().size(), 1);
}

void WindowWalks::leftOnlyThroughEscOrItsButton() {
    QFETCH(int, row);
    const Case& c = kCases[row];
    QWidget* w = open(c);
    QVERIFY(w);
    auto* sub = static_cast<ui::SubWindow*>(w);
    QSignalSpy returned(sub, &ui::SubWindow::returned);
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(sub->blockClose());
    QCOMPARE(returned.count(), 0);
    // Esc from a box the operator typed into: the value is not written, the window goes.
    auto* edited = child<QLineEdit>(w, c.edited);
    edited->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(edited, "42");
    QTest::keyClick(edited, Qt::Key_Escape);
    QCOMPARE(returned.count(), 1);
    QVERIFY(!sub->blockClose());
    QVERIFY(!w->isVisible());
    QVERIFY(!w->findChild<QTimer*>("Timer1")->isActive());
    sub->returnToMainWindow();  // a second press changes nothing
    QCOMPARE(returned.count(), 1);
    QTRY_VERIFY(app_->mainWindow()->isVisible());
    QTest::qWait(100);
    QCOMPARE(writes(), QStringList{});

    // The button itself, from a box the operator typed into: the click moved the focus out of
    // the box first, so its value was written.
    w = open(c);
    QVERIFY(w);
    QSignalSpy returnedAgain(w, SIGNAL(returned()));
    edited = child<QLineEdit>(w, c.edited);
    edited->setFocus(Qt::TabFocusReason);
    edited->selectAll();
    QTest::keyClicks(edited, "42");
    QTest::mouseClick(child<QAbstractButton>(w, "Command11"), Qt::LeftButton);
    QCOMPARE(returnedAgain.count(), 1);
    QTRY_COMPARE(writes(), QStringList{QString::fromLatin1(c.call).replace(
                               QRegularExpression(",-?\\d+\\)$"), ",42)")});
}

QTEST_MAIN(WindowWalks)
#include "test_window_walks.moc"
