// Every entry box and editable list of the main window, the configuration window and the program
// window, found by type, fed texts no operator should type: very long, empty, full-width digits,
// Chinese, control characters and numbers past any range. Each box is then left (focus out) and
// every write button pressed. Nothing crashes, and every value that reaches the bus fits one
// 16-bit register.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "chamber/chamber.h"
#include "config/configwindow.h"
#include "fakemodbus.h"
#include "program/programwindow.h"
#include "shell/mainwindow.h"
#include "windowfeed.h"

using testing_support::FakeModbus;

namespace {

QStringList badTexts() {
    QString control;
    for (char16_t c = 1; c < 0x20; ++c)
        control += QChar(c);
    return {
        QString(10000, u'9'),
        QString(10000, u'x'),
        QString(),
        QStringLiteral("   "),
        QStringLiteral("１２３"),
        QStringLiteral("温度"),
        control,
        QStringLiteral("12\t\n\r\x1b"),
        QStringLiteral("1e400"),
        QStringLiteral("-1e400"),
        QStringLiteral("99999999999"),
        QStringLiteral("-99999999999"),
        QStringLiteral("65536"),
        QStringLiteral("-32769"),
        QStringLiteral("nan"),
        QStringLiteral("inf"),
        QStringLiteral("0x7fff"),
        QString(QChar(0xd800)) + QStringLiteral("1"),  // a lone surrogate
    };
}

// Buttons that leave a window, open another or change the port: pressing them is not an entry.
bool isNavigation(const QAbstractButton* b) {
    static const QStringList names = {"Command1", "Command9", "Command10", "Command11",
                                      "Command21"};
    const QString t = b->text();
    return names.contains(b->objectName()) || t.contains(QStringLiteral("返回")) ||
           t.contains(QStringLiteral("退出")) || t.contains(QStringLiteral("曲线设置")) ||
           t.contains(QStringLiteral("CONFIG")) || t.contains(QStringLiteral("程序"));
}

void focusOut(QWidget* w) {
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(w, &in);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}

}  // namespace

class EntryBoxes : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void mainWindow();
    void configurationWindow();
    void programWindow();

  private:
    // Feeds every text to every box of w, leaves each box, presses the write buttons, and checks
    // what reached the bus. Returns the number of boxes found.
    int feed(QWidget* w);
    void checkWrites();

    FakeModbus* bus_ = nullptr;
    QTemporaryDir dir_;
    store::SystemClock clock_;
    std::unique_ptr<chamber::Chamber> chamber_;  // its parts are not made: the link only
    comm::Link* link_ = nullptr;
    QTimer dialogCloser_;
};

void EntryBoxes::init() {
    auto fake = std::make_unique<FakeModbus>();
    bus_ = fake.get();
    chamber::Setup setup;
    setup.dbPath = dir_.filePath(QStringLiteral("Rdatabj.db"));
    setup.bus = std::move(fake);
    setup.clock = &clock_;
    chamber_ = std::make_unique<chamber::Chamber>(std::move(setup));
    link_ = &chamber_->link();
    link_->setSettings({1, 0, 0, 1});
    // A message box an entry might raise is answered, so that a modal loop never stalls the test.
    dialogCloser_.setInterval(20);
    connect(&dialogCloser_, &QTimer::timeout, [] {
        if (QWidget* m = QApplication::activeModalWidget()) m->close();
    });
    dialogCloser_.start();
}

void EntryBoxes::cleanup() {
    dialogCloser_.stop();
    chamber_.reset();
}

int EntryBoxes::feed(QWidget* w) {
    const QList<QLineEdit*> edits = w->findChildren<QLineEdit*>();
    QList<QComboBox*> combos;
    for (QComboBox* c : w->findChildren<QComboBox*>())
        if (c->isEditable()) combos << c;
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* b : w->findChildren<QPushButton*>())
        if (!isNavigation(b)) buttons << b;

    int boxes = 0;
    for (const QString& text : badTexts()) {
        for (QLineEdit* e : edits) {
            // The line edit inside an editable list is fed through the list.
            if (qobject_cast<QComboBox*>(e->parentWidget())) continue;
            QPointer<QLineEdit> guard(e);
            e->setText(text);
            focusOut(e);
            if (!guard) continue;
            ++boxes;
        }
        for (QComboBox* c : combos) {
            c->setEditText(text);
            focusOut(c);
            ++boxes;
        }
        for (QAbstractButton* b : buttons)
            if (b->isEnabled() && b->isVisible()) b->click();
        QCoreApplication::processEvents();
    }
    if (!QTest::qWaitFor([this] { return link_->pendingRequests() == 0; }, 20000))
        qWarning("writes still pending");
    return boxes / int(badTexts().size());
}

void EntryBoxes::checkWrites() {
    QCOMPARE(link_->pendingRequests(), 0);
    int writes = 0;
    for (const testing_support::Call& c : bus_->calls()) {
        if (c.fn != QLatin1String("Set_4X_D1")) continue;
        ++writes;
        QCOMPARE(c.args.size(), size_t(4));
        const int32_t v = c.args[3];
        QVERIFY2(v >= -32768 && v <= 65535, qPrintable(c.text()));
    }
    qInfo("%d writes reached the bus", writes);
}

void EntryBoxes::mainWindow() {
    shell::MainWindow w(*chamber_);
    w.load();
    w.show();
    const int boxes = feed(&w);
    qInfo("%d entry boxes in the main window", boxes);
    QVERIFY(boxes >= 8);  // the two set values, six alarm settings, the command list
    checkWrites();
    QVERIFY(w.isVisible());
}

void EntryBoxes::configurationWindow() {
    config::ConfigWindow w(testing_support::feedOf(*link_, true));
    testing_support::wireToLink(w, *link_);
    w.show();
    const int boxes = feed(&w);
    qInfo("%d entry boxes in the configuration window", boxes);
    QVERIFY(boxes >= 30);
    checkWrites();
}

void EntryBoxes::programWindow() {
    program::ProgramWindow w(testing_support::feedOf(*link_, false));
    testing_support::wireToLink(w, *link_);
    w.show();
    const int boxes = feed(&w);
    qInfo("%d entry boxes in the program window", boxes);
    QVERIFY(boxes >= 25);
    checkWrites();
}

QTEST_MAIN(EntryBoxes)
#include "test_entries.moc"
