// The main window as the operator meets it: defaults, port open and close, function keys and their
// guards, the close box, navigation and Exit. The instrument is a scripted fake behind the real
// link.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

#include "chart/chartpanel.h"
#include "fakemodbus.h"
#include "programrig.h"
#include "shell/application.h"
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
    void functionKeysFollowTheirGuards();
    void closeBoxIsRefusedWithoutSideEffects();
    void navigationHidesAndReturns();
    void exitClosesPortAndLeaves();

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
    QVERIFY(app_->handshake().RecordingEnabled);
    QVERIFY(w->statusBar()->findChild<QLabel*>("LinkStatus")->text().startsWith("端口关闭"));
}

void MainWindowTest::openWithDefaultsPollsAddressOne() {
    QTest::mouseClick(child<QPushButton>("Command9"), Qt::LeftButton);
    QTRY_VERIFY(bus_->callTexts().contains("Get_3X_DX(1,1,1,8)"));
    QCOMPARE(bus_->callTexts().first(), QString("OpenPort_Modbus(1,1,0)"));
    QTRY_COMPARE(app_->link().image().LiveValues[0], 250.0f);
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
    QCOMPARE(app_->link().settings(), (comm::PortSettings{1, 1, 0, 4}));
    // No reads after the close has been handled.
    QTest::qWait(150);
    const size_t n = bus_->callCount();
    QTest::qWait(300);
    QCOMPARE(bus_->callCount(), n);
}

void MainWindowTest::functionKeysFollowTheirGuards() {
    auto* w = app_->mainWindow();
    auto* chart = w->chartPanel();
    auto* focus = child<QComboBox>("Combo1");
    focus->setFocus();
    QCOMPARE(chart->zoomLevel(), 1);
    QTest::keyClick(focus, Qt::Key_F2);  // already at the closest zoom
    QCOMPARE(chart->zoomLevel(), 1);
    for (int level = 2; level <= 4; ++level) {
        QTest::keyClick(focus, Qt::Key_F1);
        QCOMPARE(chart->zoomLevel(), level);
    }
    QTest::keyClick(focus, Qt::Key_F1);  // already at the widest zoom
    QCOMPARE(chart->zoomLevel(), 4);
    QTest::keyClick(focus, Qt::Key_F2);
    QCOMPARE(chart->zoomLevel(), 3);
    QTest::keyClick(focus, Qt::Key_F6);  // live view: nothing newer to page to
    QCOMPARE(chart->historyPage(), 0);
    QTest::keyClick(focus, Qt::Key_F3);  // inert buttons: their keys work and change nothing
    QTest::keyClick(focus, Qt::Key_F5);
    QCOMPARE(chart->zoomLevel(), 3);
    QVERIFY(w->isVisible());
}

void MainWindowTest::closeBoxIsRefusedWithoutSideEffects() {
    auto* w = app_->mainWindow();
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(app_->handshake().RecordingEnabled);
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

    // Esc right after a sub-window closed (the operator pressing it twice) does not even ask.
    QTest::mouseClick(child<QPushButton>("Command21"), Qt::LeftButton);
    QTest::keyClick(w->configWindow(), Qt::Key_Escape);
    QTRY_VERIFY(w->isVisible());
    QTest::keyClick(child<QComboBox>("Combo2"), Qt::Key_Escape);
    QVERIFY(!w->exitQuestion());
    QTest::qWait(600);

    // Esc asks; Esc in the question chooses "取消" and nothing stops.
    QTest::keyClick(child<QComboBox>("Combo2"), Qt::Key_Escape);
    QTRY_VERIFY(w->exitQuestion() && w->exitQuestion()->isVisible());
    QTest::keyClick(w->exitQuestion(), Qt::Key_Escape);
    QTRY_VERIFY(!w->exitQuestion());
    QVERIFY(!exited_);
    QVERIFY(app_->handshake().RecordingEnabled);

    // "退出" asks too; its "退出" leaves, closing the port.
    QTest::mouseClick(child<QPushButton>("Command1"), Qt::LeftButton);
    QTRY_VERIFY(w->exitQuestion());
    QTest::mouseClick(w->exitQuestion()->findChild<QPushButton*>("ExitQuestionQuit"),
                      Qt::LeftButton);
    QVERIFY(exited_);
    QVERIFY(!w->isVisible());
    QVERIFY(!app_->handshake().RecordingEnabled);
    QTRY_VERIFY(bus_->callTexts().contains("ClosePort_Modbus(1)"));
}

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
