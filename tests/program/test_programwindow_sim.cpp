// The program window against the simulated instrument on a pseudo-terminal: opened on the program
// the instrument holds without writing, then a three-segment program entered field by field, read
// back, run, and photographed with its preview.

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "program/programwindow.h"
#include "sim/server.h"
#include "simlink.h"
#include "windowfeed.h"

using program::ProgramWindow;

class ProgramWindowSimTest : public QObject {
    Q_OBJECT
  private slots:
    void programEnteredReadBackAndRun();
};

void ProgramWindowSimTest::programEnteredReadBackAndRun() {
    sim::SimServer server;
    std::string why;
    if (!server.start(&why))
        QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + QString::fromStdString(why)));
    const auto linkOwner = testing_support::linkToSim(server);
    comm::Link& link = *linkOwner;
    server.setHoldingRegister(8193, 1);     // minutes
    server.setHoldingRegister(8201, -150);  // segment 1 SV1
    server.setHoldingRegister(8203, 25);    // segment 1 time
    link.open();
    QTRY_VERIFY(link.polling());
    QSignalSpy writes(&link, &comm::Link::writeReported);

    auto w = std::make_unique<ProgramWindow>(testing_support::feedOf(link, false));
    testing_support::wireToLink(*w, link);
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    const auto find = [&](const QString& name) { return w->findChild<QWidget*>(name); };
    const auto text = [&](const QString& name) {
        auto* l = w->findChild<QLabel*>(name);
        return l ? l->text() : QString();
    };

    // The editors and the preview show the program the instrument holds; nothing was written.
    QTRY_COMPARE(w->findChild<QLineEdit*>(QStringLiteral("TxtB_0"))->text(),
                 QStringLiteral("-150"));
    QCOMPARE(w->findChild<QLineEdit*>(QStringLiteral("TxtB_2"))->text(), QStringLiteral("25"));
    QCOMPARE(w->findChild<QComboBox*>(QStringLiteral("Combo2"))->currentIndex(), 1);
    QTRY_COMPARE(w->curve().sv1[1], int16_t(-150));
    QCOMPARE(writes.count(), 0);

    // Function settings: seconds, three segments, start from the set values, endless cycling.
    const struct {
        const char* name;
        int index;
    } lists[] = {{"Combo2", 2}, {"Combo4", 2}, {"Combo8", 1}};
    for (const auto& l : lists) {
        auto* c = w->findChild<QComboBox*>(QString::fromLatin1(l.name));
        c->setFocus(Qt::TabFocusReason);
        c->setCurrentIndex(l.index);
        emit c->activated(l.index);  // as the operator picks it
    }
    auto* cycles = w->findChild<QLineEdit*>(QStringLiteral("TextA_2"));
    cycles->setFocus(Qt::TabFocusReason);
    cycles->selectAll();
    QTest::keyClicks(cycles, QStringLiteral("0"));

    // The segments, typed box after box with Tab as an operator would.
    const char* segments[3][3] = {{"100", "50", "3"}, {"300", "80", "3"}, {"200", "60", "4"}};
    auto* box = w->findChild<QLineEdit*>(QStringLiteral("TxtB_0"));
    box->setFocus(Qt::TabFocusReason);
    for (const auto& seg : segments) {
        for (const char* v : seg) {
            qobject_cast<QLineEdit*>(QApplication::focusWidget())->selectAll();
            QTest::keyClicks(QApplication::focusWidget(), QString::fromLatin1(v));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
    }
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("TxtB_12"));
    find(QStringLiteral("Command1"))->setFocus(Qt::TabFocusReason);

    // The readback shows what the instrument now holds.
    QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("Label3_18")), QStringLiteral("4"), 8000);
    QCOMPARE(text(QStringLiteral("Label3_0")), QStringLiteral("S"));
    QCOMPARE(text(QStringLiteral("Label7_1")), QStringLiteral("时间单位：秒"));
    QCOMPARE(text(QStringLiteral("Label3_1")), QStringLiteral("3段"));  // the list's "3:3段 "
    QCOMPARE(text(QStringLiteral("Label3_2")), QStringLiteral("无限"));
    QCOMPARE(text(QStringLiteral("Label3_4")), QStringLiteral("设定值"));
    const char* expected[3][3] = {{"100", "50", "3"}, {"300", "80", "3"}, {"200", "60", "4"}};
    for (int k = 1; k <= 3; ++k)
        for (int f = 0; f < 3; ++f)
            QCOMPARE(text(QStringLiteral("Label3_%1").arg(4 * k + 4 + f)),
                     QString::fromLatin1(expected[k - 1][f]));
    QCOMPARE(server.holdingRegister(8202), 50);
    QCOMPARE(server.holdingRegister(8194), 2);

    // Run it; the segment number advances in the instrument's time.
    link.writeHolding(3, 1);
    QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("Pro_S_0")), QStringLiteral("运行"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(text(QStringLiteral("Pro_S_5")), QStringLiteral("2"), 8000);

    // The preview of the typed program.
    QCOMPARE(w->preview().valueMax, 300);
    QCOMPARE(w->preview().timeStep, 1);
    QCOMPARE(text(QStringLiteral("Label5")), QStringLiteral("300"));
    const QString png =
        QDir(QDir::tempPath()).filePath(QStringLiteral("velmars_program_window.png"));
    QVERIFY(w->grab().save(png));
    qInfo("screenshot: %s", qPrintable(png));

    w->returnToMainWindow();
    link.shutdown();
}

QTEST_MAIN(ProgramWindowSimTest)
#include "test_programwindow_sim.moc"
