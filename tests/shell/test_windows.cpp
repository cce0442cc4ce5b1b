// The start-up window, the program-number dialog and the main window, driven as an operator would.
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "shell/programnumberdialog.h"
#include "shell/splashwindow.h"

class ShellWindows : public QObject {
    Q_OBJECT
  private slots:
    void splashHandsOverAfterItsSequence();
    void programNumberDialogStoresTheRoundedNumber_data();
    void programNumberDialogStoresTheRoundedNumber();
    void programNumberDialogCanOnlyBeLeftThroughItsButtons();
};

void ShellWindows::splashHandsOverAfterItsSequence() {
    shell::SplashWindow splash;
    QSignalSpy done(&splash, &shell::SplashWindow::finished);
    QElapsedTimer t;
    t.start();
    splash.show();
    splash.start();
    QVERIFY(done.wait(3000));
    // Seven 200 ms ticks and one 100 ms tick: about 1.5 s.
    QVERIFY2(t.elapsed() >= 1300 && t.elapsed() < 2500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(done.count(), 1);
    QTest::qWait(300);
    QCOMPARE(done.count(), 1);
    QCOMPARE(splash.ticks(), 0);
}

void ShellWindows::programNumberDialogStoresTheRoundedNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("twelve and a half") << "12.5" << 0 << 12;
    QTest::newRow("thirteen and a half") << "13.5" << 0 << 14;
    QTest::newRow("seven and a letter") << "7a" << 0 << 7;
    QTest::newRow("letters") << "abc" << 5 << 0;
    QTest::newRow("past 16 bits keeps the old value") << "40000" << 5 << 5;
    QTest::newRow("negative") << "-32768" << 5 << -32768;
}

void ShellWindows::programNumberDialogStoresTheRoundedNumber() {
    QFETCH(QString, text);
    QFETCH(int, before);
    QFETCH(int, after);
    shell::ProgramNumber() = static_cast<int16_t>(before);
    shell::ProgramNumberDialog dlg;
    dlg.show();
    auto* edit = dlg.findChild<QLineEdit*>("Text1");
    QVERIFY(edit);
    QCOMPARE(edit->text(), QString("1"));
    edit->setText(text);
    QTest::mouseClick(dlg.findChild<QPushButton*>("Command1"), Qt::LeftButton);
    QCOMPARE(int(shell::ProgramNumber()), after);
    QVERIFY(!dlg.isVisible());
}

void ShellWindows::programNumberDialogCanOnlyBeLeftThroughItsButtons() {
    shell::ProgramNumber() = 3;
    shell::ProgramNumberDialog dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(!dlg.close());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    dlg.findChild<QLineEdit*>("Text1")->setText("99");
    QTest::mouseClick(dlg.findChild<QPushButton*>("Command2"), Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(int(shell::ProgramNumber()), 3);
    QVERIFY(!dlg.blockClose());
}

QTEST_MAIN(ShellWindows)
#include "test_windows.moc"
