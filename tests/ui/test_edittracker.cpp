// ui::EditTracker driven directly by focus events, keys and the window's own changes: which
// sequences hand an entry and a list on as changed, how often, and which leave them held by the
// operator.
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ui/edittracker.h"

class EditTrackerTest : public QObject {
    Q_OBJECT
  private slots:
    void handsOnOnlyWhatTheOperatorChanged_data();
    void handsOnOnlyWhatTheOperatorChanged();
};

// Steps, played on both controls: i / o focus in / out, P / p in from and out to a popup, W / w
// the same with another window, t a key typed, s a value shown by the window, x a value set by
// anything else (assistive technology), a the shown entry picked again (the entry: set to the
// text it holds), S stop.
void EditTrackerTest::handsOnOnlyWhatTheOperatorChanged_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("entryChanges");
    QTest::addColumn<int>("listChanges");
    QTest::addColumn<bool>("held");
    QTest::newRow("passed through") << "ioio" << 0 << 0 << false;
    QTest::newRow("typed, left") << "ito" << 1 << 1 << true;
    QTest::newRow("left twice, written once") << "itoio" << 1 << 1 << true;
    QTest::newRow("typed twice in two visits") << "itoito" << 2 << 2 << true;
    QTest::newRow("readback shown") << "isosos" << 0 << 0 << false;
    QTest::newRow("set by assistive technology") << "ixo" << 1 << 1 << true;
    QTest::newRow("changed while away, then passed") << "xio" << 0 << 0 << true;
    QTest::newRow("popup and window switch are no leaving") << "itpPwWo" << 1 << 1 << true;
    QTest::newRow("picked again, same entry") << "iao" << 0 << 1 << false;
    QTest::newRow("stopped before leaving") << "itSo" << 0 << 0 << true;
}

void EditTrackerTest::handsOnOnlyWhatTheOperatorChanged() {
    QFETCH(QString, steps);
    QFETCH(int, entryChanges);
    QFETCH(int, listChanges);
    QFETCH(bool, held);
    ui::EditTracker tracker;
    QLineEdit entry;
    QComboBox list;
    list.setEditable(true);
    list.addItems({"0:A", "1:B", "2:C"});
    tracker.track(&entry);
    tracker.track(&list);
    QSignalSpy changed(&tracker, &ui::EditTracker::changed);
    const auto focus = [](QWidget* w, QEvent::Type type, Qt::FocusReason reason) {
        QFocusEvent e(type, reason);
        QCoreApplication::sendEvent(w, &e);
    };
    for (QChar step : steps) {
        for (QWidget* w : {static_cast<QWidget*>(&entry), static_cast<QWidget*>(&list)}) {
            const bool isList = w == &list;
            const char c = step.toLatin1();
            const Qt::FocusReason reason = (c == 'p' || c == 'P')   ? Qt::PopupFocusReason
                                           : (c == 'w' || c == 'W') ? Qt::ActiveWindowFocusReason
                                                                    : Qt::TabFocusReason;
            if (c == 'i' || c == 'P' || c == 'W') focus(w, QEvent::FocusIn, reason);
            if (c == 'o' || c == 'p' || c == 'w') focus(w, QEvent::FocusOut, reason);
            if (c == 't') QTest::keyClick(isList ? list.lineEdit() : &entry, Qt::Key_7);
            if (c == 's' && isList) tracker.showEntry(&list, (list.currentIndex() + 1) % 3);
            if (c == 's' && !isList) tracker.showText(&entry, "12");
            if (c == 'x' && isList) list.setCurrentIndex((list.currentIndex() + 1) % 3);
            if (c == 'x' && !isList) entry.setText("34");
            if (c == 'a' && isList) emit list.activated(list.currentIndex());
            if (c == 'a' && !isList) entry.setText(entry.text());
            if (c == 'S') tracker.stop();
        }
    }
    int forEntry = 0, forList = 0;
    for (const QList<QVariant>& args : changed)
        (args.at(0).value<QWidget*>() == &entry ? forEntry : forList)++;
    QCOMPARE(forEntry, entryChanges);
    QCOMPARE(forList, listChanges);
    QCOMPARE(tracker.heldByOperator(&entry), held);
    QCOMPARE(tracker.heldByOperator(&list), held || listChanges > 0);
    QVERIFY(!tracker.editedSinceFocusIn(&entry));
}

QTEST_MAIN(EditTrackerTest)
#include "test_edittracker.moc"
