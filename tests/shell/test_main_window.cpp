// The main window as the operator meets it: defaults, port open and close, the chart's tools on
// their keys and buttons, the close box, navigation and Exit. The instrument is a scripted fake
// behind the real link.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include "alert/alerter.h"
#include "chart/chartpanel.h"
#include "chart/outputdialog.h"
#include "fakemodbus.h"
#include "programrig.h"
#include "shell/application.h"
#include "shell/language.h"
#include "shell/mainwindow.h"

using testing_support::FakeModbus;

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void defaultsAfterLoad();
    void openWithDefaultsPollsAddressOne();
    void portTextWithLettersOpensItsNumber();
    void closeWithoutOpenAndConfigButton();
    void functionKeysAreTheirButtons();
    void closeBoxIsRefusedWithoutSideEffects();
    void navigationHidesAndReturns();
    void exitClosesPortAndLeaves();
    void keyboardAloneReachesAndPressesButtons();
    void fitsSmallScreens_data();
    void fitsSmallScreens();

  private:
    template <class T>
    T* child(const char* name) {
        auto* w = app_->mainWindow()->findChild<T*>(QLatin1String(name));
        if (!w) qWarning("missing control %s", name);
        return w;
    }
    std::unique_ptr<testing_support::ProgramRig> rig_;
    shell::Application* app_ = nullptr;
    FakeModbus* bus_ = nullptr;
    bool exited_ = false;
};

void MainWindowTest::init() {
    rig_ = std::make_unique<testing_support::ProgramRig>(
        [](FakeModbus& bus) { bus.setInput(1, 250); });
    app_ = rig_->app.get();
    bus_ = rig_->bus;
    exited_ = false;
    connect(app_, &shell::Application::exited, this, [this] { exited_ = true; });
    QVERIFY(app_->mainWindow());
}

void MainWindowTest::cleanup() {
    rig_.reset();
}

void MainWindowTest::defaultsAfterLoad() {
    auto* w = app_->mainWindow();
    QCOMPARE(w->windowTitle(), QString("双回路控制器（温湿度控制） VelmarS "));
    QCOMPARE(child<QComboBox>("Combo1")->currentText(), QString("1"));
    QCOMPARE(child<QComboBox>("Combo1")->count(), 20);
    QCOMPARE(child<QComboBox>("Combo2")->currentText(), QString("1"));
    QCOMPARE(child<QComboBox>("Combo2")->count(), 16);
    QVERIFY(child<QRadioButton>("Option1_1")->isChecked());
    QVERIFY(child<QRadioButton>("Option2_0")->isChecked());
    QCOMPARE(child<QComboBox>("Combo3")->currentText(), QString("0:停止 "));
    QVERIFY(child<QPushButton>("Command21")->isEnabled());
    QVERIFY(w->blockClose());
    QVERIFY(w->chartPanel()->listening());
    QVERIFY(w->statusBar()->findChild<QLabel*>("LinkStatus")->text().startsWith("端口关闭"));
}

void MainWindowTest::openWithDefaultsPollsAddressOne() {
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("Get_3X_DX(1,1,1,8)"));
    QCOMPARE(bus_->callTexts().first(), QString("OpenPort_Modbus(1,1,0)"));
    QTRY_COMPARE(app_->chamber().link().image().LiveValues[0], 250.0f);
    QTRY_VERIFY(app_->mainWindow()->findChild<QLabel*>("LinkStatus")->text().startsWith("端口 1"));
}

void MainWindowTest::portTextWithLettersOpensItsNumber() {
    child<QComboBox>("Combo1")->setEditText("3abc");
    child<QRadioButton>("Option1_2")->setChecked(true);
    child<QRadioButton>("Option2_2")->setChecked(true);
    child<QComboBox>("Combo2")->setEditText("7");
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("Get_3X_DX(3,7,1,8)"));
    QCOMPARE(bus_->callTexts().first(), QString("OpenPort_Modbus(3,2,2)"));
    // Opening again re-opens without a close.
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QTRY_COMPARE(bus_->callTexts().count("OpenPort_Modbus(3,2,2)"), 2);
    QVERIFY(!bus_->callTexts().join(' ').contains("ClosePort"));
}

void MainWindowTest::closeWithoutOpenAndConfigButton() {
    QTest::mouseClick(child<QPushButton>("Command10"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("ClosePort_Modbus(0)"));
    QVERIFY(!child<QPushButton>("Command21")->isEnabled());
    child<QComboBox>("Combo2")->setEditText("4");
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QVERIFY(child<QPushButton>("Command21")->isEnabled());
    QTest::mouseClick(child<QPushButton>("Command10"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("ClosePort_Modbus(1)"));
    QVERIFY(!child<QPushButton>("Command21")->isEnabled());
    QCOMPARE(app_->chamber().link().settings(), (comm::PortSettings{1, 1, 0, 4}));
    // No reads after the close has been handled.
    QTest::qWait(150);
    const size_t n = bus_->callCount();
    QTest::qWait(300);
    QCOMPARE(bus_->callCount(), n);
}

// The chart's tools, taken by their keys (pressed in an entry box) and their buttons in turn: a
// key does what its button does while the button is enabled, and nothing while it is not. A
// fresh store has no page to go back to.
void MainWindowTest::functionKeysAreTheirButtons() {
    auto* w = app_->mainWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    auto* chart = w->chartPanel();
    const chart::ChartModel& m = chart->model();
    auto* entry = child<QLineEdit>("Text1_0");
    entry->setFocus();
    const QString entryText = entry->text();
    struct Row {
        Qt::Key key;
        const char* button;
        bool enabled;
        int zoom, page;
        const char* rulerCaption;
    };
    const Row rows[] = {
        {Qt::Key_F2, "Command3", false, 1, 0, "F4 标尺"},  // already the closest zoom
        {Qt::Key_F1, "Command4", true, 2, 0, "F4 标尺"},
        {Qt::Key_F1, "Command4", true, 3, 0, "F4 标尺"},
        {Qt::Key_F1, "Command4", true, 4, 0, "F4 标尺"},
        {Qt::Key_F1, "Command4", false, 4, 0, "F4 标尺"},  // already the widest
        {Qt::Key_F2, "Command3", true, 3, 0, "F4 标尺"},
        {Qt::Key_F6, "Command7", false, 3, 0, "F4 标尺"},  // live: nothing newer
        {Qt::Key_F7, "Command8", true, 3, 1, "F4 标尺"},   // refused: no older page stored
        {Qt::Key_F7, "Command8", false, 3, 1, "F4 标尺"},
        {Qt::Key_F6, "Command7", true, 3, 0, "F4 标尺"},
        {Qt::Key_F5, "Command6", false, 3, 0, "F4 标尺"},  // "F5 选择" has no function
        {Qt::Key_F4, "Command5", true, 3, 0, "F4 复原"},
        {Qt::Key_F4, "Command5", true, 3, 0, "F4 标尺"},
    };
    bool byKey = false;
    for (const Row& r : rows) {
        byKey = !byKey;
        const QString what = QKeySequence(r.key).toString() + " " + r.button;
        QAction* tool = nullptr;
        for (QAction* a : chart->actions())
            if (a->shortcut() == QKeySequence(r.key)) tool = a;
        QVERIFY2(tool, qPrintable(what));
        auto* button = child<QPushButton>(r.button);
        QCOMPARE(button->text(), tool->text());
        QCOMPARE(button->isEnabled(), r.enabled);
        QCOMPARE(tool->isEnabled(), r.enabled);
        if (byKey)
            QTest::keyClick(entry, r.key);
        else
            QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY2(m.zoomLevel() == r.zoom && m.historyPage() == r.page, qPrintable(what));
        QCOMPARE(child<QPushButton>("Command5")->text(), QString(r.rulerCaption));
    }
    QCOMPARE(entry->text(), entryText);  // the keys never reached the box
    // "F3 打印" opens the output dialog from any control, as its button does.
    QTest::keyClick(child<QComboBox>("Combo1"), Qt::Key_F3);
    QTRY_VERIFY(chart->outputDialog() && chart->outputDialog()->isVisible());
    QVERIFY(w->isVisible());
}

void MainWindowTest::closeBoxIsRefusedWithoutSideEffects() {
    auto* w = app_->mainWindow();
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(w->chartPanel()->listening());
    QVERIFY(!exited_);
}

void MainWindowTest::navigationHidesAndReturns() {
    auto* w = app_->mainWindow();
    QTest::mouseClick(child<QPushButton>("Command21"), Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QVERIFY(w->configWindow());
    QVERIFY(w->configWindow()->isVisible());
    QTest::keyClick(w->configWindow(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTRY_VERIFY(!w->configWindow());

    QTest::mouseClick(child<QPushButton>("Command11"), Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QVERIFY(w->programWindow());
    QTest::keyClick(w->programWindow(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTRY_VERIFY(!w->programWindow());
}

void MainWindowTest::exitClosesPortAndLeaves() {
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("Get_3X_DX(1,1,1,8)"));
    auto* w = app_->mainWindow();

    // The Esc that closes a sub-window is that window's, and the same Esc held down does not ask
    // either once the main window is back.
    QTest::mouseClick(child<QPushButton>("Command21"), Qt::LeftButton);
    QTest::keyClick(w->configWindow(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::simulateEvent(child<QComboBox>("Combo2"), true, Qt::Key_Escape, Qt::NoModifier, {},
                         true);
    QTest::qWait(50);
    QVERIFY(!w->exitQuestion());

    // Esc asks; Esc in the question chooses "取消" and nothing stops.
    QTest::keyClick(child<QComboBox>("Combo2"), Qt::Key_Escape);
    QTRY_VERIFY(w->exitQuestion() && w->exitQuestion()->isVisible());
    QTest::keyClick(w->exitQuestion(), Qt::Key_Escape);
    QTRY_VERIFY(!w->exitQuestion());
    QVERIFY(!exited_);
    QVERIFY(w->chartPanel()->listening());

    // "退出" asks too; its "退出" leaves, closing the port.
    QTest::mouseClick(child<QPushButton>("Command1"), Qt::LeftButton);
    QTRY_VERIFY(w->exitQuestion());
    QTest::mouseClick(w->exitQuestion()->findChild<QPushButton*>("ExitQuestionQuit"),
                      Qt::LeftButton);
    QVERIFY(exited_);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->chartPanel()->listening());
    QTRY_VERIFY(bus_->callTexts().contains("ClosePort_Modbus(1)"));
}

// Without a mouse: Enter and the keypad's Enter press the focused button (and only that one:
// Enter in an entry box sends nothing), and Tab leaves the alert list for the comment box and
// "确认", which Enter then presses.
void MainWindowTest::keyboardAloneReachesAndPressesButtons() {
    auto* w = app_->mainWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    auto press = [](QWidget* target, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());
        QTest::keyClick(target, key, mods);
    };
    alert::RuleConfig rules = app_->chamber().alerter()->rules();
    rules.rule(alert::Kind::Silent).delaySec = 0;  // listed as soon as the port is open
    app_->chamber().alerter()->setRules(rules);

    press(child<QPushButton>("Command9"), Qt::Key_Return);
    QTRY_VERIFY(bus_->callTexts().contains("Get_3X_DX(1,1,1,8)"));
    auto* list = w->findChild<QTableWidget*>("AlertList");
    QVERIFY(list);
    QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 1, 5000);
    auto* comment = w->findChild<QLineEdit*>("AlertComment");
    auto* ack = w->findChild<QPushButton*>("AlertAcknowledge");
    press(list, Qt::Key_Tab);
    QVERIFY(comment->hasFocus());
    QTest::keyClick(comment, Qt::Key_Tab, Qt::ShiftModifier);
    QVERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Tab);
    QTest::keyClicks(comment, "checked");
    QTest::keyClick(comment, Qt::Key_Tab);
    QVERIFY(ack->hasFocus());
    QTest::keyClick(ack, Qt::Key_Return);
    QTRY_VERIFY(app_->chamber().alerter()->listed().front().acknowledged);

    // A write would go out before the close that follows it.
    press(child<QLineEdit>("Text1_0"), Qt::Key_Return);
    press(child<QLineEdit>("Alm11_0"), Qt::Key_Enter, Qt::KeypadModifier);
    press(child<QPushButton>("Command10"), Qt::Key_Enter, Qt::KeypadModifier);
    QTRY_VERIFY(bus_->callTexts().contains("ClosePort_Modbus(1)"));
    QVERIFY(!bus_->callTexts().join(' ').contains("Set_4X"));
}

void MainWindowTest::fitsSmallScreens_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("zh") << QStringLiteral("zh");
    QTest::newRow("en") << QStringLiteral("en");
}

// In either language, in the program's font and with its alert bar: the window fits a 1366 × 768
// screen less a taskbar, and at 1280 × 720 every control the operator works with is on screen
// whole; a larger window gives the chart the room.
void MainWindowTest::fitsSmallScreens() {
    QFETCH(QString, language);
    rig_.reset();
    const auto restore = qScopeGuard([] { shell::installTranslation(QStringLiteral("zh")); });
    QVERIFY(shell::installTranslation(language));
    shell::useProgramFont();
    init();
    auto* w = app_->mainWindow();
    QVERIFY(w->findChild<QWidget*>("AlertBar"));
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // The status bar with the longest lines it shows.
    auto* line = child<QLabel>("LinkStatus");
    line->setText(line->text().repeated(4));
    const QSize least = w->minimumSizeHint();
    QVERIFY2(least.width() <= 1366 && least.height() <= 728,
             qPrintable(QStringLiteral("%1 x %2").arg(least.width()).arg(least.height())));

    w->resize(1280, 720);
    QTRY_COMPARE(w->size(), QSize(1280, 720));
    for (const char* name :
         {"Command10", "Command12_1", "Command14", "Alm11_5", "Alm111_5", "Command8", "SpanLive",
          "Command21", "Command11", "EventLogButton", "RunButton", "Command1", "AlertComment",
          "AlertAcknowledge", "AlertSilence", "AlertSettingsButton"}) {
        auto* c = child<QWidget>(name);
        QVERIFY(c);
        QVERIFY2(c->isVisible() && w->rect().contains(QRect(c->mapTo(w, QPoint()), c->size())) &&
                     c->visibleRegion().boundingRect() == c->rect(),
                 name);
    }
    const QSize chartAt720 = w->chartPanel()->size();
    w->resize(1920, 1040);
    QTRY_COMPARE(w->size(), QSize(1920, 1040));
    QVERIFY(w->chartPanel()->width() > chartAt720.width() + 500);
    QVERIFY(w->chartPanel()->height() > chartAt720.height() + 250);
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
