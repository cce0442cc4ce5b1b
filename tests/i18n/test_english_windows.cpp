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
#include "comm/image.h"
#include "confighome.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "events/eventwindow.h"
#include "overview/overviewwindow.h"
#include "shell/application.h"
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
const QString kStation = QStringLiteral("三号试验箱");           // named by the operator

class Walker {
  public:
    QStringList faults;

    // Shows the window at its default size, keeps a picture of it in english-windows/ and walks
    // every visible widget (the hidden tabs are walked when they are shown).
    void look(QWidget* window, const QString& name) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::qWait(100);
        QDir().mkpath(QStringLiteral("english-windows"));
        QVERIFY(window->grab().save(QStringLiteral("english-windows/%1.png").arg(name)));
        say(name, QStringLiteral("title"), window->windowTitle());
        QList<QWidget*> widgets{window};
        widgets += window->findChildren<QWidget*>();
        for (QWidget* w : widgets)
            if (w->isVisible())
                widget(name + u' ' + w->metaObject()->className() + u'#' + w->objectName(), w);
    }

    // A text found outside the widget tree too (a status line read after a write).
    void say(const QString& at, const QString& what, const QString& text) {
        QString rest = text;
        for (const QString& d : {kComment, kOldRow, kStation})
            rest.remove(d);
        if (hasCjk(rest)) faults << QStringLiteral("%1 %2: \"%3\"").arg(at, what, text);
    }

  private:
    void widget(const QString& at, QWidget* w) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        QList<std::pair<const char*, QString>> texts{
            {"tooltip", w->toolTip()},
            {"accessible name", w->accessibleName()},
            {"accessible description", w->accessibleDescription()},
            {"name read out", iface ? iface->text(QAccessible::Name) : QString()},
            {"description read out", iface ? iface->text(QAccessible::Description) : QString()}};
        for (QAction* a : w->actions())
            texts += {std::pair("action", a->text()), std::pair("action tooltip", a->toolTip())};
        const QFontMetrics fm = w->fontMetrics();
        if (auto* l = qobject_cast<QLabel*>(w)) {
            texts.append(std::pair("text", l->text()));
            if (!l->wordWrap() && !l->text().isEmpty() && l->pixmap().isNull())
                fits(at, l->text(), w->width(), l->sizeHint().width());
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            texts.append(std::pair("text", b->text()));
            if (!b->text().isEmpty()) fits(at, b->text(), w->width(), b->sizeHint().width());
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            texts.append(std::pair("title", g->title()));
            fits(at, g->title(), w->width(), fm.horizontalAdvance(g->title()) + 2 * fm.height());
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < c->count(); ++i)
                texts.append(std::pair("item", c->itemText(i)));
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.editable = c->isEditable();
            fits(at, c->currentText(),
                 c->style()
                     ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c)
                     .width(),
                 fm.horizontalAdvance(c->currentText()));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            texts += {std::pair("text", e->text()), std::pair("placeholder", e->placeholderText())};
            if (e->text().isEmpty())
                fits(at, e->placeholderText(), e->width() - 8,
                     fm.horizontalAdvance(e->placeholderText()));
        } else if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) {
            texts.append(std::pair("text", s->text()));
        } else if (auto* t = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < t->count(); ++i)
                texts +=
                    {std::pair("tab", t->tabText(i)), std::pair("tab tooltip", t->tabToolTip(i))};
        } else if (auto* v = qobject_cast<QTableWidget*>(w)) {
            // Every column but a stretched last one holds its cells whole.
            const int whole =
                v->columnCount() - (v->horizontalHeader()->stretchLastSection() ? 1 : 0);
            const int margin = 2 * (v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
            for (int c = 0; c < v->columnCount(); ++c) {
                texts.append(
                    std::pair("header", v->model()->headerData(c, Qt::Horizontal).toString()));
                for (int r = 0; r < v->rowCount(); ++r) {
                    const QString cell = v->item(r, c) ? v->item(r, c)->text() : QString();
                    texts.append(std::pair("cell", cell));
                    if (c < whole)
                        fits(at, cell, v->columnWidth(c), fm.horizontalAdvance(cell) + margin);
                }
            }
        } else if (auto* bar = qobject_cast<QStatusBar*>(w)) {
            texts.append(std::pair("message", bar->currentMessage()));
        }
        for (const auto& [what, text] : texts)
            say(at, QString::fromLatin1(what), text);
    }

    // A caption narrower than its text is cut off.
    void fits(const QString& at, const QString& text, int width, int needed) {
        if (!text.isEmpty() && width + 1 < needed)
            faults << QStringLiteral("%1 cut off: \"%2\" needs %3 px, has %4")
                          .arg(at, text)
                          .arg(needed)
                          .arg(width);
    }
};

bool reportFaults(const Walker& walker) {
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
    o.station = kStation;
    o.ports.insert(3, QStringLiteral("/dev/velmars-none"));
    shell::Application app(o);
    QVERIFY2(app.startWithoutSplash(), qPrintable(app.error()));
    shell::MainWindow* main = app.mainWindow();
    Walker walker;

    // The main window, polling, with an alert listed and acknowledged with a comment.
    main->openPort();
    QTRY_VERIFY_WITH_TIMEOUT(
        app.chamber().link().polling() && app.chamber().link().stats().exchanges > 2, 10000);
    alert::Alerter& alerter = *app.chamber().alerter();
    alert::RuleConfig rules = alerter.rules();
    rules.bands[0] = instrument::ToleranceBand{true, 2, 900, 950, 0.4};
    rules.rule(alert::Kind::Band1).delaySec = 0;
    alerter.setRules(rules);
    QTRY_VERIFY_WITH_TIMEOUT(!alerter.listed().empty(), 5000);
    QVERIFY(alerter.acknowledge(alerter.listed().front().id, kComment));
    // The outcomes of a write and of a refused entry in the status bar.
    auto* message = main->findChild<QLabel*>(QStringLiteral("OperatorMessage"));
    main->findChild<QLineEdit*>(QStringLiteral("Alm11_1"))->setText(QStringLiteral("6"));
    main->findChild<QPushButton*>(QStringLiteral("Alm111_1"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(u'6'), 5000);
    walker.say(QStringLiteral("main"), QStringLiteral("write outcome"), message->text());
    main->findChild<QLineEdit*>(QStringLiteral("Alm11_2"))->setText(QStringLiteral("x"));
    main->findChild<QPushButton*>(QStringLiteral("Alm111_2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(u'x'), 5000);
    walker.look(main, QStringLiteral("main"));

    main->requestExit();
    QWidget* question = main->exitQuestion();
    QVERIFY(question);
    walker.look(question, QStringLiteral("exit-question"));
    question->findChild<QPushButton*>(QStringLiteral("ExitQuestionCancel"))->click();

    // The configuration window, each tab, after a value written and an entry refused.
    main->showConfigWindow();
    auto* config = qobject_cast<ui::SubWindow*>(main->configWindow());
    QVERIFY(config);
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
        walker.look(config, QStringLiteral("config-tab%1").arg(t));
    }
    config->returnToMainWindow();
    QTRY_VERIFY(!main->configWindow());

    // The program window.
    main->showProgramWindow();
    QWidget* program = main->programWindow();
    QVERIFY(program);
    QTest::qWait(1200);  // a readback of the program's values
    walker.look(program, QStringLiteral("program"));
    qobject_cast<ui::SubWindow*>(program)->returnToMainWindow();
    QTRY_VERIFY(!main->programWindow());

    // The program number dialog.
    {
        shell::ProgramNumberDialog dialog;
        walker.look(&dialog, QStringLiteral("program-number"));
    }

    // The event window, with rows of every kind: those the run made (the port, the write, the
    // recorder, the alert), an alarm and the program as the image rules write them, and a row of
    // an older run whose text is data.
    events::EventLog& log = *app.chamber().eventLog();
    comm::InstrumentImage before, after;
    after.DiscreteBits[2] = 1;
    after.DiscreteBits[4] = 1;
    after.InputRegsHigh[0] = 1;
    after.InputRegsHigh[5] = 3;
    for (const events::EventEntry& e : events::imageEntries(before, after))
        log.log(e);
    log.log(events::linkEntry(comm::LinkEvent::Silent, {}));
    log.log(events::EventEntry{0,
                               QDateTime::currentDateTime(),
                               events::eventkind::kRun,
                               QStringLiteral("试验开始：%1").arg(kOldRow),
                               {},
                               {},
                               {}});
    log.log(events::EventEntry{
        0, QDateTime::currentDateTime(), events::eventkind::kRecorder, kOldRow, {}, {}, {}});
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
            return kinds.size() == int(events::eventKinds().size());
        }(),
        5000);
    walker.look(events, QStringLiteral("events"));
    QVERIFY2(kinds.contains(QStringLiteral("Write")) && kinds.contains(QStringLiteral("Alarm")) &&
                 kinds.contains(QStringLiteral("Test run")) &&
                 !kinds.contains(QStringLiteral("Alert")),
             qPrintable(QStringList(kinds.values()).join(u',')));
    events->findChild<QPushButton*>(QStringLiteral("EventReturn"))->click();

    // The test run window.
    main->openRunWindow();
    QWidget* runs = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("RunWindow")) runs = w;
    QVERIFY(runs);
    walker.look(runs, QStringLiteral("runs"));
    runs->close();

    // The alert settings, the output dialog and the start-up window.
    auto* bar = main->findChild<alert::AlertBar*>();
    QVERIFY(bar);
    bar->openSettings();
    QWidget* alertSettings = bar->settingsWindow();
    QVERIFY(alertSettings);
    walker.look(alertSettings, QStringLiteral("alert-settings"));
    alertSettings->close();

    main->chartPanel()->showOutputDialog();
    QWidget* output = main->chartPanel()->outputDialog();
    QVERIFY(output);
    walker.look(output, QStringLiteral("output"));
    output->close();

    shell::SplashWindow splash;
    walker.look(&splash, QStringLiteral("splash"));

    // The line's own error in the status bar: a port whose device is not there.
    main->closePort();
    main->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(2);
    main->openPort();
    auto* line = main->findChild<QLabel*>(QStringLiteral("LinkStatus"));
    QTRY_VERIFY_WITH_TIMEOUT(line->text().contains(QStringLiteral("/dev/velmars-none")), 5000);
    walker.say(QStringLiteral("main"), QStringLiteral("port error"), line->text());

    // The overview over this run's chamber, and its chamber dialog.
    overview::OverviewWindow ov;
    ov.setChambers({{{QStringLiteral("Kammer-1"), 1, 1}, &app.chamber()}});
    walker.look(&ov, QStringLiteral("overview"));
    ov.addChamber();
    QVERIFY(ov.dialog());
    walker.look(ov.dialog(), QStringLiteral("chamber-dialog"));
    ov.dialog()->close();

    QVERIFY(reportFaults(walker));
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
    Walker walker;
    walker.look(&w, QStringLiteral("probe"));
    const QString all = walker.faults.join(u'\n');
    QVERIFY2(all.contains(QStringLiteral("QLabel# text: \"温度\"")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("List item: \"1:运行\"")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("accessible name: \"报警1设定值\"")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("Narrow cut off")), qPrintable(all));
    QVERIFY2(!all.contains(kComment), qPrintable(all));
}

int main(int argc, char** argv) {
    // The program keeps its settings (language, alerts, forwarding) in a folder of this run.
    QTemporaryDir config;
    testsupport::useConfigHome(config.path());
    QApplication app(argc, argv);
    EnglishWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_english_windows.moc"
