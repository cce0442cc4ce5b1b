// ui::EditTracker driven directly by focus events, keys and the window's own changes: which
// sequences hand a control on as changed, how often, and which leave it held by the operator.
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ui/edittracker.h"

namespace {

void focus(QWidget* w, QEvent::Type type, Qt::FocusReason reason = Qt::TabFocusReason) {
    QFocusEvent e(type, reason);
    QCoreApplication::sendEvent(w, &e);
}

// Plays one step on an entry and a list: i focus in, o focus out, p / P focus out to and back in
// from a popup, w / W the same with another window, t a key typed, s a value shown by the window, x
// a value set by anything else (assistive technology), a an entry picked by the operator (even the
// one shown), S stop.
void play(ui::EditTracker& tracker, QLineEdit& entry, QComboBox& list, const QString& steps) {
    for (QChar step : steps) {
        for (QWidget* w : {static_cast<QWidget*>(&entry), static_cast<QWidget*>(&list)}) {
            switch (step.unicode()) {
                case 'i':
                    focus(w, QEvent::FocusIn);
                    break;
                case 'o':
                    focus(w, QEvent::FocusOut);
                    break;
                case 'p':
                    focus(w, QEvent::FocusOut, Qt::PopupFocusReason);
                    break;
                case 'P':
                    focus(w, QEvent::FocusIn, Qt::PopupFocusReason);
                    break;
                case 'w':
                    focus(w, QEvent::FocusOut, Qt::ActiveWindowFocusReason);
                    break;
                case 'W':
                    focus(w, QEvent::FocusIn, Qt::ActiveWindowFocusReason);
                    break;
                case 't':
                    QTest::keyClick(w == &entry ? &entry : list.lineEdit(), Qt::Key_7);
                    break;
                case 's':
                    if (w == &entry)
                        tracker.showText(&entry, QStringLiteral("12"));
                    else
                        tracker.showEntry(&list, (list.currentIndex() + 1) % list.count());
                    break;
                case 'x':
                    if (w == &entry)
                        entry.setText(QStringLiteral("34"));
                    else
                        list.setCurrentIndex((list.currentIndex() + 1) % list.count());
                    break;
                case 'a':
                    if (w == &list) emit list.activated(list.currentIndex());
                    if (w == &entry) entry.setText(entry.text());  // no change: not an edit
                    break;
                case 'S':
                    if (w == &entry) tracker.stop();
                    break;
            }
        }
    }
}

}  // namespace

class EditTrackerTest : public QObject {
    Q_OBJECT
  private slots:
    void handsOnOnlyWhatTheOperatorChanged_data();
    void handsOnOnlyWhatTheOperatorChanged();
};

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
    list.addItems({QStringLiteral("0:A"), QStringLiteral("1:B"), QStringLiteral("2:C")});
    tracker.track(&entry);
    tracker.track(&list);
    QSignalSpy changed(&tracker, &ui::EditTracker::changed);
    play(tracker, entry, list, steps);
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
