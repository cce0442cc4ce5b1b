// Every window under English, against the simulated instrument: the main window with the port
// open and an alert listed, the exit question, each tab of the configuration window after a write
// and a refused entry, the program window, the program number dialog, the event window with rows
// of every kind, the alert settings, the output dialog and the start-up window. No visible widget
// shows or names anything in Chinese (data values excepted), and no caption is cut off: labels,
// buttons and lists are at least as wide as their text. A PNG of each window at its default size
// goes to english-windows/ in the test's build folder, to look at.
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include "alert/alertbar.h"
#include "alert/alerter.h"
#include "chart/chartpanel.h"
#include "chart/outputdialog.h"
#include "link/image.h"
#include "record/eventlog.h"
#include "record/eventrules.h"
#include "shell/application.h"
#include "shell/eventwindow.h"
#include "shell/language.h"
#include "shell/mainwindow.h"
#include "shell/programnumberdialog.h"
#include "shell/splashwindow.h"
#include "ui/subwindow.h"

namespace {

bool hasCjk(const QString& s) {
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

// Values that are data, not the program's texts: they may be in Chinese wherever they show.
const QString kComment = QStringLiteral("夜班已检查");           // typed by the operator
const QString kOldRow = QStringLiteral("旧版本记录的说明文字");  // a row an older run wrote

class Walker {
  public:
    QStringList faults;

    // Every visible widget of the window (the hidden tabs are walked when they are shown).
    void walk(QWidget* window, const QString& name) {
        if (!window->isVisible()) {
            faults << name + QStringLiteral(": not shown");
            return;
        }
        say(name, QStringLiteral("title"), window->windowTitle());
        QList<QWidget*> widgets{window};
        widgets += window->findChildren<QWidget*>();
        for (QWidget* w : widgets)
            if (w->isVisible()) widget(name, w);
    }

    // A text that is found outside the widget tree (a status line read after a write).
    void say(const QString& window, const QString& where, const QString& text) {
        QString rest = text;
        for (const QString& d : {kComment, kOldRow})
            rest.remove(d);
        if (hasCjk(rest)) faults << QStringLiteral("%1 %2: \"%3\"").arg(window, where, text);
    }

  private:
    void widget(const QString& window, QWidget* w) {
        const QString at = window + u' ' + w->metaObject()->className() + u'#' + w->objectName();
        say(at, QStringLiteral("tooltip"), w->toolTip());
        say(at, QStringLiteral("status tip"), w->statusTip());
        say(at, QStringLiteral("accessible name"), w->accessibleName());
        say(at, QStringLiteral("accessible description"), w->accessibleDescription());
        if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w)) {
            say(at, QStringLiteral("name read out"), iface->text(QAccessible::Name));
            say(at, QStringLiteral("description read out"), iface->text(QAccessible::Description));
        }
        for (QAction* a : w->actions()) {
            say(at, QStringLiteral("action"), a->text());
            say(at, QStringLiteral("action tooltip"), a->toolTip());
        }
        if (auto* l = qobject_cast<QLabel*>(w)) {
            say(at, QStringLiteral("text"), l->text());
            if (!l->wordWrap() && !l->text().isEmpty() && l->pixmap().isNull())
                fits(at, l->text(), w->width(), l->sizeHint().width());
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            say(at, QStringLiteral("text"), b->text());
            if (!b->text().isEmpty()) fits(at, b->text(), w->width(), b->sizeHint().width());
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            say(at, QStringLiteral("title"), g->title());
            if (!g->title().isEmpty())
                fits(
                    at, g->title(), w->width(),
                    g->fontMetrics().horizontalAdvance(g->title()) + 2 * g->fontMetrics().height());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < c->count(); ++i)
                say(at, QStringLiteral("item %1").arg(i), c->itemText(i));
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.editable = c->isEditable();
            const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &opt,
                                                           QStyle::SC_ComboBoxEditField, c);
            fits(at, c->currentText(), field.width(),
                 c->fontMetrics().horizontalAdvance(c->currentText()));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            say(at, QStringLiteral("text"), e->text());
            say(at, QStringLiteral("placeholder"), e->placeholderText());
            if (e->text().isEmpty() && !e->placeholderText().isEmpty())
                fits(at, e->placeholderText(), e->width() - 8,
                     e->fontMetrics().horizontalAdvance(e->placeholderText()));
        } else if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) {
            say(at, QStringLiteral("text"), s->text());
            say(at, QStringLiteral("special value"), s->specialValueText());
        } else if (auto* t = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < t->count(); ++i) {
                say(at, QStringLiteral("tab %1").arg(i), t->tabText(i));
                say(at, QStringLiteral("tab tooltip %1").arg(i), t->tabToolTip(i));
            }
        } else if (auto* v = qobject_cast<QTableWidget*>(w)) {
            for (int c = 0; c < v->columnCount(); ++c)
                say(at, QStringLiteral("header %1").arg(c),
                    v->model()->headerData(c, Qt::Horizontal).toString());
            for (int r = 0; r < v->rowCount(); ++r)
                for (int c = 0; c < v->columnCount(); ++c)
                    if (v->item(r, c))
                        say(at, QStringLiteral("cell %1,%2").arg(r).arg(c), v->item(r, c)->text());
        } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
            say(at, QStringLiteral("text"), p->toPlainText());
        } else if (auto* x = qobject_cast<QTextEdit*>(w)) {
            say(at, QStringLiteral("text"), x->toPlainText());
        } else if (auto* bar = qobject_cast<QStatusBar*>(w)) {
            say(at, QStringLiteral("message"), bar->currentMessage());
        }
    }

    // A caption narrower than its text is cut off.
    void fits(const QString& at, const QString& text, int width, int needed) {
        if (width + 1 < needed)
            faults << QStringLiteral("%1 cut off: \"%2\" needs %3 px, has %4")
                          .arg(at, text)
                          .arg(needed)
                          .arg(width);
    }
};

QString shotDir() {
    const QString dir = QDir::current().filePath(QStringLiteral("english-windows"));
    QDir().mkpath(dir);
    return dir;
}

// Shows the window at its default size, lets the layout settle and keeps a picture of it.
void settle(QWidget* w, const QString& name) {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTest::qWait(100);
    QVERIFY(w->grab().save(shotDir() + u'/' + name + QStringLiteral(".png")));
}

bool report(const Walker& walker) {
    for (const QString& f : walker.faults)
        qWarning("%s", qPrintable(f));
    return walker.faults.isEmpty();
}

}  // namespace

class EnglishWindows : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void everyWindowSpeaksEnglish();
    void walkFindsChineseAndCutOffCaptions();
    void cleanupTestCase();
};

void EnglishWindows::initTestCase() {
    QVERIFY(shell::installTranslation(QStringLiteral("en")));
    shell::useProgramFont();
}

void EnglishWindows::cleanupTestCase() {
    shell::installTranslation(QStringLiteral("zh"));
}

void EnglishWindows::everyWindowSpeaksEnglish() {
    QTemporaryDir dir;
    shell::Options o;
    o.simulate = true;
    o.db = dir.filePath(QStringLiteral("Rdatabj.db"));
    o.forward = QStringLiteral("postgresql://nobody@127.0.0.1:1/velmars");
    o.station = QStringLiteral("三号试验箱");  // the station's name is data
    shell::Application app(o);
    QVERIFY2(app.startWithoutSplash(), qPrintable(app.error()));
    shell::MainWindow* main = app.mainWindow();
    Walker walker;

    // The main window, polling, with an alert listed and acknowledged with a comment.
    main->openPort();
    QTRY_VERIFY_WITH_TIMEOUT(app.link().polling() && app.link().stats().exchanges > 2, 10000);
    alert::RuleConfig rules = app.alerter()->rules();
    rules.bands[0] = alert::Band{2, 0.4, true, 900, 950};
    rules.rule(alert::Kind::Band1).delaySec = 0;
    app.alerter()->setRules(rules);
    QTRY_VERIFY_WITH_TIMEOUT(!app.alerter()->listed().empty(), 5000);
    QVERIFY(app.alerter()->acknowledge(app.alerter()->listed().front().id, kComment));
    // The outcomes of a write and of a refused entry in the status bar.
    auto* message = main->findChild<QLabel*>(QStringLiteral("OperatorMessage"));
    main->findChild<QLineEdit*>(QStringLiteral("Alm11_1"))->setText(QStringLiteral("6"));
    main->findChild<QPushButton*>(QStringLiteral("Alm111_1"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(u'6'), 5000);
    walker.say(QStringLiteral("main"), QStringLiteral("write outcome"), message->text());
    main->findChild<QLineEdit*>(QStringLiteral("Alm11_2"))->setText(QStringLiteral("x"));
    main->findChild<QPushButton*>(QStringLiteral("Alm111_2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(u'x'), 5000);
    settle(main, QStringLiteral("main"));
    walker.walk(main, QStringLiteral("main"));

    main->requestExit();
    QWidget* question = main->exitQuestion();
    QVERIFY(question);
    settle(question, QStringLiteral("exit-question"));
    walker.walk(question, QStringLiteral("exit question"));
    question->findChild<QPushButton*>(QStringLiteral("ExitQuestionCancel"))->click();

    // The configuration window, each tab, after a value written and an entry refused.
    main->showConfigWindow();
    auto* config = qobject_cast<ui::SubWindow*>(main->configWindow());
    QVERIFY(config);
    settle(config, QStringLiteral("config"));
    auto* tabs = config->findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    auto* status = config->findChild<QLabel*>(QStringLiteral("WriteStatus"));
    auto enter = [&](const char* box, const char* typed) {
        auto* e = config->findChild<QLineEdit*>(QString::fromLatin1(box));
        for (QWidget* p = e; p; p = p->parentWidget())
            if (tabs->indexOf(p) >= 0) tabs->setCurrentIndex(tabs->indexOf(p));
        e->setFocus(Qt::MouseFocusReason);
        QVERIFY(QTest::qWaitFor([e] { return e->hasFocus(); }));
        e->selectAll();
        QTest::keyClicks(e, typed);
        tabs->tabBar()->setFocus(Qt::TabFocusReason);
    };
    QTRY_COMPARE_WITH_TIMEOUT(config->findChild<QLineEdit*>("T_3RW_10")->text().isEmpty(), false,
                              5000);
    enter("T_3RW_10", "1300");
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("1300")), 5000);
    walker.say(QStringLiteral("config"), QStringLiteral("write outcome"), status->text());
    enter("T_3RW_10", "abc");
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("abc")), 5000);
    walker.say(QStringLiteral("config"), QStringLiteral("refusal"), status->text());
    for (int t = 0; t < tabs->count(); ++t) {
        tabs->setCurrentIndex(t);
        QTest::qWait(50);
        const QString name = QStringLiteral("config-tab%1").arg(t);
        QVERIFY(config->grab().save(shotDir() + u'/' + name + QStringLiteral(".png")));
        walker.walk(config, name);
    }
    config->returnToMainWindow();
    QTRY_VERIFY(!main->configWindow());

    // The program window.
    main->showProgramWindow();
    QWidget* program = main->programWindow();
    QVERIFY(program);
    settle(program, QStringLiteral("program"));
    QTest::qWait(1200);  // a readback of the program's values
    walker.walk(program, QStringLiteral("program"));
    qobject_cast<ui::SubWindow*>(program)->returnToMainWindow();
    QTRY_VERIFY(!main->programWindow());

    // The program number dialog.
    {
        shell::ProgramNumberDialog dialog;
        settle(&dialog, QStringLiteral("program-number"));
        walker.walk(&dialog, QStringLiteral("program number"));
    }

    // The event window, with rows of every kind: those the run made (the port, the write, the
    // recorder, the alert), an alarm and the program as the image rules write them, and a row of
    // an older run whose text is data.
    record::EventLog& log = *app.eventLog();
    comm::InstrumentImage before, after;
    after.DiscreteBits[2] = 1;
    after.DiscreteBits[4] = 1;
    after.InputRegsHigh[0] = 1;
    after.InputRegsHigh[5] = 3;
    for (const record::EventEntry& e : record::imageEntries(before, after))
        log.log(e);
    log.log(record::linkEntry(comm::LinkEvent::Silent, {}));
    log.log(record::EventEntry{
        0, QDateTime::currentDateTime(), record::eventkind::kRecorder, kOldRow, {}, {}, {}});
    main->openEventLog();
    auto* events = qobject_cast<shell::EventWindow*>(main->eventWindow());
    QVERIFY(events);
    auto* table = events->findChild<QTableWidget*>(QStringLiteral("EventTable"));
    QSet<QString> kinds;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            kinds.clear();
            for (int r = 0; r < table->rowCount(); ++r)
                kinds << table->item(r, 1)->text();
            return kinds.size() == int(record::eventKinds().size());
        }(),
        5000);
    settle(events, QStringLiteral("events"));
    walker.walk(events, QStringLiteral("events"));
    QVERIFY2(kinds.contains(QStringLiteral("Write")) && kinds.contains(QStringLiteral("Alert")),
             qPrintable(QStringList(kinds.values()).join(u',')));
    events->findChild<QPushButton*>(QStringLiteral("EventReturn"))->click();

    // The alert settings, the output dialog and the start-up window.
    auto* bar = main->findChild<alert::AlertBar*>();
    QVERIFY(bar);
    bar->openSettings();
    QWidget* alertSettings = bar->settingsWindow();
    QVERIFY(alertSettings);
    settle(alertSettings, QStringLiteral("alert-settings"));
    walker.walk(alertSettings, QStringLiteral("alert settings"));
    alertSettings->close();

    main->chartPanel()->showOutputDialog();
    QWidget* output = main->chartPanel()->outputDialog();
    QVERIFY(output);
    settle(output, QStringLiteral("output"));
    walker.walk(output, QStringLiteral("output"));
    output->close();

    shell::SplashWindow splash;
    settle(&splash, QStringLiteral("splash"));
    walker.walk(&splash, QStringLiteral("splash"));

    QVERIFY(report(walker));
    main->exitProgram();
}

void EnglishWindows::walkFindsChineseAndCutOffCaptions() {
    // What the walk must catch: a caption left in Chinese, a Chinese list entry, a name read out
    // in Chinese, a button too narrow for its text; and what it lets through: data values.
    QWidget w;
    w.setObjectName(QStringLiteral("Probe"));
    w.setWindowTitle(QStringLiteral("Probe"));
    auto* label = new QLabel(QStringLiteral("温度"), &w);
    label->move(0, 0);
    auto* list = new QComboBox(&w);
    list->setObjectName(QStringLiteral("List"));
    list->addItems({QStringLiteral("0:Stop"), QStringLiteral("1:运行")});
    list->move(0, 30);
    auto* box = new QLineEdit(kComment, &w);
    box->setAccessibleName(QStringLiteral("Comment"));
    box->move(0, 60);
    auto* named = new QLineEdit(&w);
    named->setAccessibleName(QStringLiteral("报警1设定值"));
    named->move(0, 90);
    auto* button = new QPushButton(QStringLiteral("Download program"), &w);
    button->setObjectName(QStringLiteral("Narrow"));
    button->setGeometry(0, 120, 30, 25);
    w.resize(300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Walker walker;
    walker.walk(&w, QStringLiteral("probe"));
    const QString all = walker.faults.join(u'\n');
    QVERIFY2(all.contains(QStringLiteral("QLabel# text: \"温度\"")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("List item 1")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("accessible name: \"报警1设定值\"")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Narrow cut off")), qPrintable(all));
    QVERIFY2(!all.contains(kComment), qPrintable(all));
}

int main(int argc, char** argv) {
    // The program keeps its settings (language, alerts, forwarding) in a folder of this run.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    EnglishWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_english_windows.moc"
