// The desktop program attached to a running service: the overview and a chamber's window show
// the service's chambers, SV1 typed in the window reaches the simulated instrument through the
// service, and the status bar says when the service has gone and when it is back.
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <optional>

#include "auth/userstore.h"
#include "chart/chartpanel.h"
#include "chart/outputdialog.h"
#include "config/configwindow.h"
#include "events/eventwindow.h"
#include "overview/overviewwindow.h"
#include "program/programwindow.h"
#include "runs/runwindow.h"
#include "service/channelclient.h"
#include "servicerig.h"
#include "shell/application.h"
#include "shell/attached.h"
#include "sqlrows.h"
#include "ui/bandeditor.h"

using servicetest::ServiceRig;

namespace {

template <class T>
T* control(QWidget* w, const char* name) {
    return w ? w->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

// SV1 of the chamber as the service publishes it, in the instrument's decimals.
// Answers the reason dialog open now: the reason typed and OK, or cancelled when it is empty.
void answerReason(const QString& reason) {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d || d->objectName() != QLatin1String("ReasonDialog")) {
        QTimer::singleShot(20, [reason] { answerReason(reason); });
        return;
    }
    if (reason.isEmpty()) return d->reject();
    d->findChild<QComboBox*>(QStringLiteral("Reason"))->setEditText(reason);
    d->findChild<QPushButton*>(QStringLiteral("ReasonOk"))->click();
}

int setValue1(const service::ChannelClient& c, const QString& chamber) {
    const QJsonObject loop = c.state(chamber).value("loops").toArray().at(0).toObject();
    return qRound(loop.value("sv").toDouble() * std::pow(10, loop.value("decimals").toInt()));
}

// A holding register of the service's one chamber as the instrument holds it now, read through
// the channel; none when the read did not succeed.
std::optional<int> instrumentRegister(service::ChannelClient& c, int reg) {
    std::optional<int> got;
    bool ended = false;
    const quint64 id = c.readHolding(QString(), reg, 1);
    const QMetaObject::Connection read = QObject::connect(
        &c, &service::ChannelClient::holdingRead,
        [&](quint64 i, const QString& outcome, int32_t first, const QVector<int32_t>& values) {
            if (i != id) return;
            ended = true;
            if (outcome == u"done" && first == reg && values.size() == 1) got = values[0];
        });
    const bool answered = QTest::qWaitFor([&] { return ended; }, 60000);
    QObject::disconnect(read);
    return answered ? got : std::nullopt;
}

// Types text into an entry of a window and leaves it for away, as the operator does.
void enter(QWidget* window, QLineEdit* entry, const QString& text, QWidget* away) {
    // The reason dialog of the last value may have taken the activation with it.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    entry->setFocus(Qt::MouseFocusReason);
    QVERIFY(QTest::qWaitFor([entry] { return entry->hasFocus(); }));
    entry->selectAll();
    QTest::keyClicks(entry, text);
    away->setFocus(Qt::TabFocusReason);
}

// Whether a row of the table shows text in its column.
bool shows(const QTableWidget* table, int column, const QString& text) {
    for (int r = 0; r < table->rowCount(); ++r)
        if (const QTableWidgetItem* item = table->item(r, column); item && item->text() == text)
            return true;
    return false;
}

bool showsPart(const QTableWidget* table, int column, const QString& part) {
    for (int r = 0; r < table->rowCount(); ++r)
        if (const QTableWidgetItem* item = table->item(r, column);
            item && item->text().contains(part))
            return true;
    return false;
}

// The file as it is on the disk: its bytes' digest and the time it was last written.
QString fileMark(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QFileInfo info(path);
    return QString::fromLatin1(
               QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()) +
           u' ' + QString::number(info.lastModified().toMSecsSinceEpoch());
}

// A service of one simulated chamber under access control with the administrator "qa", and the
// program attached to it with its chamber's window; false when a step did not come.
struct AdminAttached {
    static constexpr char kPassword[] = "correct horse 1";
    ServiceRig rig;
    QProcess service;
    std::unique_ptr<shell::AttachedProgram> program;
    shell::AttachedChamberWindow* window = nullptr;

    bool start(bool logIn) {
        if (!rig.ready() || !rig.createAdmin(QStringLiteral("qa"), kPassword) ||
            !rig.start(service, {"--simulate"}))
            return false;
        program = std::make_unique<shell::AttachedProgram>(rig.data());
        program->start();
        if (!QTest::qWaitFor([this] { return program->chamberWindow(QString()) != nullptr; },
                             60000))
            return false;
        window = program->chamberWindow(QString());
        if (!logIn) return true;
        program->client().login(QStringLiteral("qa"), QString::fromLatin1(kPassword));
        return QTest::qWaitFor([this] { return program->client().user() == u"qa"; }, 60000);
    }
};

}  // namespace

class ServiceAttach : public QObject {
    Q_OBJECT
  private slots:
    void theWindowsShowTheServicesChambersAndWriteThroughIt();
    void underAccessControlAWriteNeedsALoginOnTheService();
    void theOverviewAcknowledgesAnAlertThroughTheService();
    void theProgramAttachesInsteadOfOpeningTheLines();
    void theConfigurationWindowWritesThroughTheService();
    void theChartsFilesGoAsTheServiceDecidesAndTheEventLogOnlyReadsItsFile();
    void aRunStartedInTheAttachedRunWindowIsTheServices();
};

void ServiceAttach::theWindowsShowTheServicesChambersAndWriteThroughIt() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    QProcess service;
    QVERIFY(rig.start(service, {"--simulate", "--chamber", "a=1,1", "--chamber", "b=1,2"}));

    shell::AttachedProgram program(rig.data());
    QSignalSpy shown(&program, &shell::AttachedProgram::windowsShown);
    program.start();
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 60000);

    // The overview: a tile per chamber of the service, its own list's buttons hidden.
    overview::OverviewWindow* overview = program.overviewWindow();
    QVERIFY(overview && overview->isVisible());
    QCOMPARE(overview->tiles().size(), 2);
    QVERIFY(!control<QPushButton>(overview, "OverviewAdd")->isVisible());
    QLabel* overviewStatus = control<QLabel>(overview, "serviceStatus");
    QVERIFY(overviewStatus && overviewStatus->isVisible());
    QCOMPARE(overviewStatus->text(), QStringLiteral("已连接到服务：试验箱由服务记录"));
    // The tiles show what the service recorded, not a chamber waiting for its file.
    QTRY_VERIFY_WITH_TIMEOUT(overview->tiles()[0]->tone() != overview::Tone::Silent, 60000);

    // Chamber a's window: the live panel with the registers the service read.
    emit overview->tiles()[0]->activated();
    shell::AttachedChamberWindow* w = program.chamberWindow(QStringLiteral("a"));
    QVERIFY(w && w->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(w->imageShown(), 60000);
    QLabel* pv1 = control<QLabel>(w, "D_3W_0");
    QVERIFY(pv1);
    QTRY_VERIFY_WITH_TIMEOUT(!pv1->text().isEmpty() && pv1->text() != u"0", 60000);
    QCOMPARE(control<QLabel>(w, "serviceStatus")->text(),
             QStringLiteral("已连接到服务：试验箱由服务记录"));
    // Its chart: the history the service recorded, read from the service's file, and the curve
    // growing with each record the service stores.
    chart::ChartPanel* chart = w->chartPanel();
    QVERIFY(chart);
    QTRY_VERIFY_WITH_TIMEOUT(chart->model().newestRecord() > 0, 60000);
    const int newest = chart->model().newestRecord();
    QTRY_VERIFY_WITH_TIMEOUT(chart->model().newestRecord() > newest, 60000);

    // SV1 typed and sent: written by the service to the instrument, reported in the window.
    service::ChannelClient watcher(rig.data());
    watcher.start();
    QTRY_VERIFY_WITH_TIMEOUT(watcher.attached(), 60000);
    const int before = setValue1(watcher, QStringLiteral("a"));
    const int typed = before == 420 ? 430 : 420;
    QLineEdit* entry = control<QLineEdit>(w, "Text1_0");
    QVERIFY(entry);
    entry->setText(QString::number(typed));
    control<QPushButton>(w, "Command12_0")->click();
    QTRY_COMPARE_WITH_TIMEOUT(setValue1(watcher, QStringLiteral("a")), typed, 60000);
    QLabel* message = control<QLabel>(w, "operatorMessage");
    QTRY_VERIFY_WITH_TIMEOUT(!message->text().isEmpty(), 60000);
    // The other chamber on the line kept its own.
    QVERIFY(setValue1(watcher, QStringLiteral("b")) != typed || before == typed);

    // The service stops: both windows say so; it comes back: they are attached again.
    QVERIFY(ServiceRig::stop(service));
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(w, "serviceStatus")->text(),
                              QStringLiteral("服务已停止，等待其恢复"), 60000);
    QCOMPARE(overviewStatus->text(), QStringLiteral("服务已停止，等待其恢复"));
    QProcess again;
    QVERIFY(rig.start(again, {"--simulate"}));
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(w, "serviceStatus")->text(),
                              QStringLiteral("已连接到服务：试验箱由服务记录"), 60000);
    QVERIFY(ServiceRig::stop(again));
}

void ServiceAttach::underAccessControlAWriteNeedsALoginOnTheService() {
    // The one chamber of a service without a list: its window at once.
    AdminAttached a;
    QVERIFY(a.start(false));
    shell::AttachedChamberWindow* w = a.window;
    QVERIFY(!a.program->overviewWindow());
    QTRY_VERIFY_WITH_TIMEOUT(w->imageShown(), 60000);
    service::ChannelClient watcher(a.rig.data());
    watcher.start();
    QTRY_VERIFY_WITH_TIMEOUT(watcher.attached(), 60000);
    const int before = setValue1(watcher, QString());
    const int typed = before == 420 ? 430 : 420;

    // Nobody logged in: the service refuses, and the window says why.
    QLabel* user = control<QLabel>(w, "serviceUser");
    QCOMPARE(user->text(), QStringLiteral("未登录"));
    QLabel* message = control<QLabel>(w, "operatorMessage");
    control<QLineEdit>(w, "Text1_0")->setText(QString::number(typed));
    control<QPushButton>(w, "Command12_0")->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(QStringLiteral("服务拒绝：无此权限")), 60000);

    // A wrong password is answered in the dialog; the right one logs in on the channel.
    control<QPushButton>(w, "serviceLogin")->click();
    QDialog* login = w->findChild<QDialog*>(QStringLiteral("LoginDialog"));
    QVERIFY(login && login->isVisible());
    control<QLineEdit>(login, "LoginUser")->setText(QStringLiteral("qa"));
    control<QLineEdit>(login, "LoginPassword")->setText(QStringLiteral("wrong one"));
    control<QPushButton>(login, "LoginButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(login, "LoginMessage")->text(),
                              QStringLiteral("用户名或密码错误"), 60000);
    control<QLineEdit>(login, "LoginPassword")->setText(QStringLiteral("correct horse 1"));
    control<QPushButton>(login, "LoginButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(user->text(), QStringLiteral("qa"), 60000);
    QCOMPARE(setValue1(watcher, QString()), before);

    // The same write, now as qa: it asks for the reason first (cancelled: nothing is sent), and
    // the service then sends it to the instrument.
    for (const QString& reason : {QString(), QStringLiteral("校准")}) {
        QTimer::singleShot(0, [reason] { answerReason(reason); });
        control<QPushButton>(w, "Command12_0")->click();
    }
    QVERIFY(message->text().contains(QStringLiteral("未填写变更原因")));
    QTRY_COMPARE_WITH_TIMEOUT(setValue1(watcher, QString()), typed, 60000);

    // Logged out: refused again.
    control<QPushButton>(w, "serviceLogin")->click();
    QCOMPARE(user->text(), QStringLiteral("未登录"));
    message->clear();
    control<QLineEdit>(w, "Text1_0")->setText(QString::number(before));
    control<QPushButton>(w, "Command12_0")->click();
    QTRY_VERIFY_WITH_TIMEOUT(message->text().contains(QStringLiteral("服务拒绝：无此权限")), 60000);
    QVERIFY(ServiceRig::stop(a.service));
}

void ServiceAttach::theOverviewAcknowledgesAnAlertThroughTheService() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    QVERIFY(rig.createAdmin(QStringLiteral("qa"), "correct horse 1"));
    QProcess service;
    QVERIFY(rig.start(service, {"--simulate", "--chamber", "a=1,1", "--chamber", "b=1,2"}));

    // A wrong password on the channel raises the alert of a failed login, as at the desktop.
    service::ChannelClient intruder(rig.data());
    QSignalSpy answered(&intruder, &service::ChannelClient::loggedIn);
    intruder.start();
    QTRY_VERIFY_WITH_TIMEOUT(intruder.attached(), 60000);
    intruder.login(QStringLiteral("qa"), QStringLiteral("guess"));
    QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 60000);
    QCOMPARE(answered.first().at(0).toString(), QStringLiteral("refused"));

    shell::AttachedProgram program(rig.data());
    program.start();
    QTRY_VERIFY_WITH_TIMEOUT(program.overviewWindow(), 60000);
    overview::OverviewWindow* overview = program.overviewWindow();
    auto* alerts = control<QTableWidget>(overview, "OverviewAlertList");
    QTRY_COMPARE_WITH_TIMEOUT(alerts->rowCount(), 1, 60000);
    QCOMPARE(alerts->item(0, 0)->text(), QStringLiteral("a"));
    QLabel* message = control<QLabel>(overview, "OverviewAlertMessage");

    // Nobody logged in: the service refuses the acknowledgement.
    control<QLineEdit>(overview, "OverviewAlertComment")->setText(QStringLiteral("seen"));
    control<QPushButton>(overview, "OverviewAlertAcknowledge")->click();
    QTRY_COMPARE_WITH_TIMEOUT(message->text(), QStringLiteral("服务拒绝：无此权限"), 60000);
    // The chamber's own window lists it in its alert bar, and the service refuses there alike.
    program.showChamberWindow(QStringLiteral("a"));
    shell::AttachedChamberWindow* window = program.chamberWindow(QStringLiteral("a"));
    QVERIFY(window);
    auto* bar = control<QTableWidget>(window, "AlertList");
    QTRY_COMPARE_WITH_TIMEOUT(bar->rowCount(), 1, 60000);
    QCOMPARE(bar->item(0, 1)->text(), QStringLiteral("登录失败"));
    control<QLineEdit>(window, "AlertComment")->setText(QStringLiteral("seen"));
    control<QPushButton>(window, "AlertAcknowledge")->click();
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(window, "AlertMessage")->text(),
                              QStringLiteral("服务拒绝：无此权限"), 60000);

    // Logged in from the overview, the acknowledgement goes through.
    control<QPushButton>(overview, "serviceLogin")->click();
    QDialog* login = overview->findChild<QDialog*>(QStringLiteral("LoginDialog"));
    QVERIFY(login);
    control<QLineEdit>(login, "LoginUser")->setText(QStringLiteral("qa"));
    control<QLineEdit>(login, "LoginPassword")->setText(QStringLiteral("correct horse 1"));
    control<QPushButton>(login, "LoginButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(overview, "serviceUser")->text(),
                              QStringLiteral("qa"), 60000);
    control<QPushButton>(overview, "OverviewAlertAcknowledge")->click();
    QTRY_COMPARE_WITH_TIMEOUT(message->text(), QStringLiteral("已确认：登录失败"), 60000);
    // The service's chamber holds it acknowledged (or no longer lists it).
    const auto waiting = [&intruder] {
        int n = 0;
        for (const QJsonValue& v : intruder.state(QStringLiteral("a")).value("alerts").toArray())
            n += v.toObject().value("acknowledged").toBool() ? 0 : 1;
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(waiting(), 0, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(bar->rowCount() == 0 || bar->item(0, 3)->text().contains("已确认"),
                             60000);
    QVERIFY(ServiceRig::stop(service));
}

void ServiceAttach::theProgramAttachesInsteadOfOpeningTheLines() {
    ServiceRig rig;
    QVERIFY(rig.ready());
    QProcess service;
    QVERIFY(rig.start(service, {"--simulate"}));
    // Asked to run a simulated instrument of its own, the program leaves the chambers to the
    // service of its folder: it says so, opens nothing and leaves cleanly.
    QProcess desktop;
    desktop.start(ServiceRig::bin(QStringLiteral("velmars")),
                  {"--data", rig.data(), "--simulate", "--quit-after", "2"});
    QVERIFY(desktop.waitForFinished(60000));
    QCOMPARE(desktop.exitCode(), 0);
    QVERIFY2(desktop.readAllStandardError().contains("runs the chambers"),
             "the program did not attach");
    QVERIFY(ServiceRig::stop(service));
}

void ServiceAttach::theConfigurationWindowWritesThroughTheService() {
    AdminAttached a;
    QVERIFY(a.start(true));
    const QByteArray password = AdminAttached::kPassword;
    shell::AttachedChamberWindow* w = a.window;
    QTRY_VERIFY_WITH_TIMEOUT(w->imageShown(), 60000);
    service::ChannelClient watcher(a.rig.data());
    watcher.start();
    QTRY_VERIFY_WITH_TIMEOUT(watcher.attached(), 60000);
    watcher.login(QStringLiteral("qa"), QString::fromLatin1(password));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.user(), QStringLiteral("qa"), 60000);

    // The window's own button opens the configuration window in its place; its editors start
    // from the instrument's values, read through the service.
    control<QPushButton>(w, "Command21")->click();
    QWidget* config = w->configWindow();
    QVERIFY(config && config->isVisible() && !w->isVisible());
    config->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(config));
    const std::optional<int> before = instrumentRegister(watcher, 4107);  // input 1 upper limit
    QVERIFY(before.has_value());
    auto* upper = control<QLineEdit>(config, "T_3RW_10");
    QTRY_COMPARE_WITH_TIMEOUT(upper->text(), QString::number(*before), 60000);

    // A value entered, with its reason: the service writes it to the instrument.
    const int typed = *before == 4321 ? 4322 : 4321;
    QTimer::singleShot(0, [] { answerReason(QStringLiteral("校准")); });
    QWidget* tabBar = control<QTabWidget>(config, "SSTab1")->tabBar();
    enter(config, upper, QString::number(typed), tabBar);
    QTRY_COMPARE_WITH_TIMEOUT(instrumentRegister(watcher, 4107), std::optional<int>(typed), 60000);
    QLabel* status = control<QLabel>(config, "WriteStatus");
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("已写入")), 60000);

    // Left, the chamber's window is back; its program button opens the program window, whose
    // editors fill from the program the instrument holds, and whose segments are written there.
    QTest::keyClick(config, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(w->isVisible() && !w->configWindow(), 60000);
    control<QPushButton>(w, "Command11")->click();
    QWidget* programWindow = w->programWindow();
    QVERIFY(programWindow && programWindow->isVisible() && !w->isVisible());
    const std::optional<int> segment = instrumentRegister(watcher, 8201);  // segment 1 SV1
    QVERIFY(segment.has_value());
    auto* sv1 = control<QLineEdit>(programWindow, "TxtB_0");
    QTRY_COMPARE_WITH_TIMEOUT(sv1->text(), QString::number(*segment), 60000);
    const int segmentTyped = *segment == -150 ? -140 : -150;
    QTimer::singleShot(0, [] { answerReason(QStringLiteral("校准")); });
    enter(programWindow, sv1, QString::number(segmentTyped),
          control<QWidget>(programWindow, "Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(instrumentRegister(watcher, 8201), std::optional<int>(segmentTyped),
                              60000);
    QTest::keyClick(programWindow, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(w->isVisible() && !w->programWindow(), 60000);

    // qa made an operator elsewhere: the service decides with the role the store gives now, and
    // refuses the next configuration value, which the instrument never gets.
    auth::UserStore other(QDir(a.rig.data()).filePath(auth::kUserStoreFileName), "other",
                          auth::HashCost::minimum());
    QCOMPARE(other.open(false), auth::StoreState::Ready);
    QCOMPARE(other.createAccount("qa", "qb", "QB", auth::Role::Administrator, "correct horse 2"),
             auth::Outcome::Done);
    QCOMPARE(other.changeAccount("qb", "qa", "qa", auth::Role::Operator), auth::Outcome::Done);
    QString outcome;
    for (int i = 0; i < 300 && outcome != u"refused"; ++i) {
        if (i > 0) QTest::qWait(100);
        QSignalSpy finished(&watcher, &service::ChannelClient::commandFinished);
        const quint64 id = watcher.command(QStringLiteral("writeConfiguration"), QString(),
                                           {{QStringLiteral("register"), 4107},
                                            {QStringLiteral("value"), typed},
                                            {QStringLiteral("reason"), QStringLiteral("check")}});
        QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000));
        QCOMPARE(finished.first().at(0).toULongLong(), id);
        outcome = finished.first().at(1).toString();
    }
    QCOMPARE(outcome, QStringLiteral("refused"));
    control<QPushButton>(w, "Command21")->click();
    config = w->configWindow();
    QVERIFY(config && config->isVisible());
    upper = control<QLineEdit>(config, "T_3RW_10");
    status = control<QLabel>(config, "WriteStatus");
    QTRY_COMPARE_WITH_TIMEOUT(upper->text(), QString::number(typed), 60000);
    QTimer::singleShot(0, [] { answerReason(QStringLiteral("校准")); });
    enter(config, upper, QStringLiteral("1111"), control<QTabWidget>(config, "SSTab1")->tabBar());
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QStringLiteral("服务拒绝：无此权限")), 60000);
    QCOMPARE(instrumentRegister(watcher, 4107), std::optional<int>(typed));

    // Left, the chamber's window is back.
    QTest::keyClick(config, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(w->isVisible() && !w->configWindow(), 60000);
    QVERIFY(ServiceRig::stop(a.service));
}

void ServiceAttach::theChartsFilesGoAsTheServiceDecidesAndTheEventLogOnlyReadsItsFile() {
    AdminAttached a;
    QVERIFY(a.start(false));
    const QByteArray password = AdminAttached::kPassword;
    shell::AttachedChamberWindow* w = a.window;
    const QString db = a.program->client().state(QString()).value("database").toString();
    QVERIFY(!db.isEmpty() && w->chartPanel());
    shell::addEventTexts();  // the audit rows in words, as the program's start adds them

    // The event log beside the chamber's window, read from the service's file.
    control<QPushButton>(w, "EventLogButton")->click();
    shell::EventWindow* events = w->eventWindow();
    QVERIFY(events && events->isVisible());
    QLabel* eventStatus = control<QLabel>(events, "EventStatus");
    QTRY_VERIFY_WITH_TIMEOUT(eventStatus->text().startsWith(QStringLiteral("共显示")), 60000);

    // The chart's file: refused by the service to nobody logged in (no file, the refusal in its
    // audit trail), written for qa once the service allowed it, and kept there under qa's name.
    w->chartPanel()->showOutputDialog();
    chart::OutputDialog* output = w->chartPanel()->outputDialog();
    QVERIFY(output);
    struct Case {
        const char* user;
        const char* file;
        bool written;
        const char* row;
    };
    for (const Case& c : {Case{"", "refused.png", false, "audit.export.refused|"},
                          Case{"qa", "allowed.png", true, "audit.exported|qa"}}) {
        const QString user = QString::fromLatin1(c.user);
        if (!user.isEmpty()) {
            a.program->client().login(user, QString::fromLatin1(password));
            QTRY_COMPARE_WITH_TIMEOUT(a.program->client().user(), user, 60000);
        }
        const QString path = a.rig.path(QString::fromLatin1(c.file));
        QCOMPARE(output->savePng(path), c.written);
        QCOMPARE(QFileInfo::exists(path), c.written);
        QCOMPARE(output->statusText().contains(QStringLiteral("服务拒绝：无此权限")), !c.written);
        QTRY_COMPARE_WITH_TIMEOUT(
            testsupport::sqlRows(db, QStringLiteral("SELECT code, user_id FROM events WHERE code "
                                                    "LIKE 'audit.export%' AND args LIKE '%%1%'")
                                         .arg(QString::fromLatin1(c.file))),
            QStringList{QString::fromLatin1(c.row)}, 60000);
    }

    // Opened again, the event window shows what the service logged since.
    control<QPushButton>(w, "EventLogButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        showsPart(events->table(), 2, a.rig.path(QStringLiteral("allowed.png"))), 60000);
    QVERIFY(showsPart(events->table(), 2, a.rig.path(QStringLiteral("refused.png"))));

    // The service gone, the window reads the file again and leaves it as it was.
    QVERIFY(ServiceRig::stop(a.service));
    const QString before = fileMark(db);
    QVERIFY(!before.isEmpty());
    events->reload();
    QTRY_VERIFY_WITH_TIMEOUT(eventStatus->text().startsWith(QStringLiteral("共显示")), 60000);
    QVERIFY(showsPart(events->table(), 2, a.rig.path(QStringLiteral("allowed.png"))));
    QTest::qWait(500);
    QCOMPARE(fileMark(db), before);
}

void ServiceAttach::aRunStartedInTheAttachedRunWindowIsTheServices() {
    AdminAttached a;
    QVERIFY(a.start(true));
    shell::AttachedChamberWindow* w = a.window;
    const QString db = a.program->client().state(QString()).value("database").toString();
    service::ChannelClient watcher(a.rig.data());
    watcher.start();
    QTRY_VERIFY_WITH_TIMEOUT(watcher.attached(), 60000);
    const auto openRun = [&watcher] {
        return watcher.state(QString()).value("run").toObject().value("name").toString();
    };

    control<QPushButton>(w, "RunButton")->click();
    runs::RunWindow* runs = w->runWindow();
    QVERIFY(runs && runs->isVisible());
    auto* start = control<QPushButton>(runs, "RunStart");
    auto* stop = control<QPushButton>(runs, "RunStop");
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), 60000);
    QVERIFY(!stop->isEnabled());

    // Started here with a reason (none given: nothing is started): open in the service's
    // chamber, and listed from its file as open.
    const QString name = QStringLiteral("试验 attached");
    control<QLineEdit>(runs, "RunName")->setText(name);
    control<QLineEdit>(runs, "RunStation")->setText(QStringLiteral("工位7"));
    const QList<ui::BandEditor*> bands = runs->findChildren<ui::BandEditor*>();
    QCOMPARE(bands.size(), 2);
    bands[0]->setBand(instrument::ToleranceBand{true, 2.0, 10, 20, 0.4});
    QTimer::singleShot(0, [] { answerReason(QString()); });
    start->click();
    QVERIFY(control<QLabel>(runs, "RunState")->text().contains(QStringLiteral("未填写变更原因")));
    QTimer::singleShot(0, [] { answerReason(QStringLiteral("换样")); });
    start->click();
    QTRY_COMPARE_WITH_TIMEOUT(openRun(), name, 60000);
    QTRY_VERIFY_WITH_TIMEOUT(shows(runs->table(), 0, name) && stop->isEnabled(), 60000);
    QVERIFY(shows(runs->table(), 3, QStringLiteral("进行中")));
    QVERIFY(!start->isEnabled());

    // Ended here: no run open there any more, and the list shows it ended. The service's log
    // keeps who started and ended it, and why.
    QTimer::singleShot(0, [] { answerReason(QStringLiteral("结束")); });
    stop->click();
    QTRY_COMPARE_WITH_TIMEOUT(openRun(), QString(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(
        !shows(runs->table(), 3, QStringLiteral("进行中")) && start->isEnabled(), 60000);
    QCOMPARE(runs->table()->rowCount(), 1);
    // The whole form went: its station and its bands too.
    QCOMPARE(testsupport::sqlRows(db, QStringLiteral("SELECT station, band1_fixed, band1_low, "
                                                     "band1_high FROM runs")),
             QStringList{QStringLiteral("工位7|1|10|20")});
    QTRY_COMPARE_WITH_TIMEOUT(
        testsupport::sqlRows(db, QStringLiteral("SELECT code, user_id, reason FROM events WHERE "
                                                "code LIKE 'run.%' ORDER BY id")),
        QStringList({QStringLiteral("run.started|qa|换样"), QStringLiteral("run.ended|qa|结束")}),
        60000);
    QVERIFY(ServiceRig::stop(a.service));
}

QTEST_MAIN(ServiceAttach)
#include "test_service_attach.moc"
