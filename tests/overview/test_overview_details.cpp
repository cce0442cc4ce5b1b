// Two chambers on one simulated line, as an operator on a laptop meets them: the overview's focus
// and Tab order after a start with --connect, the alert list's room, the chamber dialog's
// proposals and keys, the windows a chamber's window opens naming it, and both windows fitting a
// 1366 × 768 screen with a taskbar, in either language.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>

#include "chamber/chamber.h"
#include "overview/overviewwindow.h"
#include "overviewrig.h"
#include "runs/runcontrol.h"
#include "runs/runwindow.h"
#include "shell/application.h"
#include "shell/language.h"
#include "shell/mainwindow.h"
#include "sim/server.h"
#include "store/databaselock.h"

namespace {

// What a screen 1366 × 768 leaves a window beside a taskbar.
const QSize kSmallScreen(1366, 728);

// Chambers TH01 and TH02 at addresses 1 and 2 of one simulated line on port 1, at 19200 baud.
shell::Options twoOnOneLine(sim::SimServer& sim) {
    shell::Options o;
    if (!sim.start()) return o;
    o.ports[1] = QString::fromStdString(sim.device());
    o.chambers = {{"TH01", 1, 1, 19200}, {"TH02", 1, 2, 19200}};
    o.connect = true;
    return o;
}

sim::ServerOptions twoAddresses() {
    sim::ServerOptions o;
    o.addresses = {1, 2};
    return o;
}

// The widgets Tab reaches from `from`, in turn, until it comes back.
QList<QWidget*> tabChain(QWidget* from) {
    QList<QWidget*> chain;
    QWidget* w = from;
    do {
        chain << w;
        w = w->nextInFocusChain();
        while (w != from && !(w->focusPolicy() & Qt::TabFocus && w->isVisible() && w->isEnabled()))
            w = w->nextInFocusChain();
    } while (w != from && chain.size() < 200);
    return chain;
}

}  // namespace

class OverviewDetailsTest : public QObject {
    Q_OBJECT
  private slots:
    void focusAndTabOrderAfterConnect();
    void chamberDialogProposesAndKeepsEnterQuiet();
    void windowsOfAChamberNameIt();
    void windowsFitASmallScreen_data();
    void windowsFitASmallScreen();
    void aSecondProgramsTileSaysWhy_data();
    void aSecondProgramsTileSaysWhy();
};

void OverviewDetailsTest::focusAndTabOrderAfterConnect() {
    sim::SimServer sim(twoAddresses());
    auto app = std::make_unique<shell::Application>(twoOnOneLine(sim));
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    QVERIFY(QTest::qWaitForWindowActive(ov));
    // Something sensible has the focus: the chosen chamber's tile.
    QCOMPARE(QApplication::focusWidget(), ov->tiles()[0]);
    // Tab walks as the eye reads: the tiles, the alert list and its controls, then the buttons
    // from left to right, "访问控制" before "退出" as they stand.
    // ("确认" takes part once there is an alert to acknowledge.)
    ov->findChild<QPushButton*>("OverviewAlertAcknowledge")->setEnabled(true);
    QStringList names;
    for (QWidget* w : tabChain(ov->tiles()[0]))
        names << w->objectName();
    QCOMPARE(names,
             QStringList({"ChamberTile_TH01", "ChamberTile_TH02", "OverviewAlertList",
                          "OverviewAlertComment", "OverviewAlertAcknowledge", "OverviewOpen",
                          "OverviewAdd", "OverviewEdit", "OverviewDelete", "OverviewLineOpen",
                          "OverviewLineClose", "OverviewAbout", "OverviewAccess", "OverviewExit"}));
    // The alert list has room for five alerts under its header.
    auto* alerts = ov->findChild<QTableWidget*>("OverviewAlertList");
    QVERIFY(alerts->viewport()->height() >= 5 * alerts->verticalHeader()->defaultSectionSize());
    app.reset();
}

void OverviewDetailsTest::chamberDialogProposesAndKeepsEnterQuiet() {
    sim::SimServer sim(twoAddresses());
    const shell::Options o = twoOnOneLine(sim);
    auto app = std::make_unique<shell::Application>(o);
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();

    // "添加" proposes the next free address on the line the chambers share, at its baud, and
    // names the device behind the port number.
    ov->addChamber();
    auto* dialog = qobject_cast<QDialog*>(ov->dialog());
    QVERIFY(dialog);
    auto* port = dialog->findChild<QSpinBox*>("ChamberPort");
    auto* address = dialog->findChild<QSpinBox*>("ChamberAddress");
    auto* baud = dialog->findChild<QComboBox*>("ChamberBaud");
    auto* device = dialog->findChild<QLabel*>("ChamberPortDevice");
    QCOMPARE(port->value(), 1);
    QCOMPARE(address->value(), 3);
    QCOMPARE(baud->currentText(), "19200");
    // A gateway is named by its host and port.
    QVERIFY2(device->text().contains(o.ports[1].section(QStringLiteral("://"), -1)),
             qPrintable(device->text()));
    // A port of its own: 9600, and no device behind port 9 (on Windows, a port number is its COM
    // port's name).
    port->setValue(9);
    QCOMPARE(baud->currentText(), "9600");
#ifdef _WIN32
    QCOMPARE(device->text(), "\\\\.\\COM9");
#else
    QCOMPARE(device->text(), "（无设备）");
#endif
    port->setValue(1);
    QCOMPARE(baud->currentText(), "19200");
    // Enter in the address box presses nothing: the dialog stays, nothing is added.
    dialog->findChild<QLineEdit*>("ChamberName")->setText("TH03");
    address->setFocus();
    QTest::keyClick(address, Qt::Key_Return);
    QTest::keyClick(address, Qt::Key_Enter);
    QVERIFY(ov->dialog() && dialog->isVisible());
    QCOMPARE(ov->tiles().size(), 2);
    dialog->findChild<QPushButton*>("ChamberDialogCancel")->click();
    QTRY_VERIFY(!ov->dialog());

    // "修改": the name cannot be changed, and does not look as if it could.
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->editChamber();
    dialog = qobject_cast<QDialog*>(ov->dialog());
    auto* name = dialog->findChild<QLineEdit*>("ChamberName");
    QVERIFY(name->isReadOnly());
    QCOMPARE(name->palette().color(QPalette::Base), name->palette().color(QPalette::Window));
    dialog->findChild<QPushButton*>("ChamberDialogCancel")->click();
    QTRY_VERIFY(!ov->dialog());

    // Deleting a chamber with a run going says so.
    runs::RunControl* runs = app->chambers()[1]->runs();
    QVERIFY(runs);
    runs::Run form;
    form.name = QStringLiteral("老化 7");
    runs->startRun(form);
    QTRY_VERIFY_WITH_TIMEOUT(runs->openRun().has_value(), 20000);
    ov->deleteChamber();
    auto* question = qobject_cast<QMessageBox*>(ov->dialog());
    QVERIFY(question);
    QVERIFY2(question->text().contains("试验“老化 7”正在进行"), qPrintable(question->text()));
    question->reject();
    QTRY_VERIFY(!ov->dialog());
    QCOMPARE(ov->tiles().size(), 2);
    app.reset();
}

void OverviewDetailsTest::windowsOfAChamberNameIt() {
    sim::SimServer sim(twoAddresses());
    auto app = std::make_unique<shell::Application>(twoOnOneLine(sim));
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    QTest::mouseClick(ov->tiles()[1], Qt::LeftButton);
    ov->openChamber();
    shell::MainWindow* mw = app->mainWindow();
    QVERIFY(mw && mw->isVisible());
    QVERIFY2(mw->windowTitle().endsWith(" — TH02"), qPrintable(mw->windowTitle()));
    const struct {
        const char* button;  // what opens it
        std::function<QWidget*()> window;
    } opened[] = {
        {"EventLogButton", [&] { return mw->eventWindow(); }},
        {"RunButton", [&] { return static_cast<QWidget*>(mw->runWindow()); }},
        {"AlertSettingsButton", [&] { return mw->findChild<QWidget*>("AlertSettingsWindow"); }},
    };
    for (const auto& o : opened) {
        auto* b = mw->findChild<QAbstractButton*>(o.button);
        QVERIFY2(b, o.button);
        b->click();
        QWidget* w = o.window();
        QVERIFY2(w, o.button);
        QVERIFY2(w->windowTitle().endsWith(" — TH02"), qPrintable(w->windowTitle()));
    }
    app.reset();
}

void OverviewDetailsTest::windowsFitASmallScreen_data() {
    QTest::addColumn<QString>("lang");
    QTest::newRow("zh") << "zh";
    QTest::newRow("en") << "en";
}

// Neither the overview nor a chamber's window asks for more than the screen leaves.
void OverviewDetailsTest::windowsFitASmallScreen() {
    QFETCH(QString, lang);
    QVERIFY(shell::installTranslation(lang));
    sim::SimServer sim(twoAddresses());
    auto app = std::make_unique<shell::Application>(twoOnOneLine(sim));
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    const auto fits = [](QWidget* w) {
        const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
        return least.width() <= kSmallScreen.width() && least.height() <= kSmallScreen.height() &&
               w->width() <= kSmallScreen.width() && w->height() <= kSmallScreen.height();
    };
    QVERIFY2(fits(ov), qPrintable(QStringLiteral("%1 × %2, at least %3 × %4")
                                      .arg(ov->width())
                                      .arg(ov->height())
                                      .arg(ov->minimumSizeHint().width())
                                      .arg(ov->minimumSizeHint().height())));
    ov->grab().save(QStringLiteral("/tmp/velmars-overview-%1.png").arg(lang));
    ov->openChamber();
    shell::MainWindow* mw = app->mainWindow();
    QVERIFY(mw);
    const QSize least = mw->minimumSizeHint();
    QVERIFY2(least.width() <= kSmallScreen.width() && least.height() <= kSmallScreen.height(),
             qPrintable(QStringLiteral("%1 × %2").arg(least.width()).arg(least.height())));
    mw->resize(kSmallScreen);
    QCoreApplication::processEvents();
    QCOMPARE(mw->size(), kSmallScreen);
    mw->grab().save(QStringLiteral("/tmp/velmars-main-%1.png").arg(lang));
    app.reset();
    QVERIFY(shell::installTranslation("zh"));
}

void OverviewDetailsTest::aSecondProgramsTileSaysWhy_data() {
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QSize>("screen");
    // What 1366 × 768 and 1280 × 800 screens leave beside a taskbar.
    for (const char* lang : {"zh", "en"}) {
        QTest::addRow("%s 1366", lang) << lang << kSmallScreen;
        QTest::addRow("%s 1280", lang) << lang << QSize(1280, 760);
    }
}

// TH01's database is recorded by another program: its tile says why this one does not record,
// within the tile, and its tooltip names the file and the process.
void OverviewDetailsTest::aSecondProgramsTileSaysWhy() {
    QFETCH(QString, lang);
    QFETCH(QSize, screen);
    QVERIFY(shell::installTranslation(lang));
    const QString db = shell::Application::defaultDatabasePath("TH01");
    store::DatabaseLock other(db);
    QCOMPARE(other.tryLock(), store::DatabaseLock::Outcome::Held);
    sim::SimServer sim(twoAddresses());
    auto app = std::make_unique<shell::Application>(twoOnOneLine(sim));
    QVERIFY(app->startWithoutSplash());
    overview::OverviewWindow* ov = app->overviewWindow();
    ov->resize(screen);
    QVERIFY(QTest::qWaitForWindowExposed(ov));
    const QString why =
        store::lockRefusal(QDir::toNativeSeparators(QFileInfo(db).absoluteFilePath()),
                           QString::number(QCoreApplication::applicationPid()), QString())
            .text(base::Lang::Shown);
    QWidget* tile = ov->tiles()[0];
    QTRY_VERIFY2(tile->accessibleDescription().contains(why),
                 qPrintable(tile->accessibleDescription()));
    QVERIFY2(QTextDocumentFragment::fromHtml(tile->toolTip()).toPlainText().contains(why),
             qPrintable(tile->toolTip()));
    // Every line the tile shows fits inside it.
    QVERIFY2(
        tile->sizeHint().width() <= tile->width() && tile->sizeHint().height() <= tile->height(),
        qPrintable(QStringLiteral("needs %1 × %2 in %3 × %4")
                       .arg(tile->sizeHint().width())
                       .arg(tile->sizeHint().height())
                       .arg(tile->width())
                       .arg(tile->height())));
    ov->grab().save(QStringLiteral("/tmp/velmars-refused-%1-%2.png").arg(lang).arg(screen.width()));
    app.reset();
    QVERIFY(shell::installTranslation("zh"));
}

int main(int argc, char** argv) {
    return overviewtest::run<OverviewDetailsTest>(argc, argv);
}

#include "test_overview_details.moc"
