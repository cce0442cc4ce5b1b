// The administration window end to end: the program on the simulated instrument with no user
// store, the first administrator made in the window, an operator added, reset, disabled, enabled
// and unlocked there; the chamber's own event log read back for the audit rows and their values;
// the administrator's run signed twice in the window "试验" and its report read back; a failed
// login raising an alert; the values covered until someone logs in.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "../e2e/access_driver.h"
#include "alert/alerter.h"
#include "auth/accesswindows.h"
#include "auth/adminwindow.h"
#include "auth/sessionkeeper.h"
#include "auth/userstore.h"
#include "chamber/chamber.h"
#include "confighome.h"
#include "events/eventlog.h"
#include "events/eventwindow.h"
#include "overview/overviewwindow.h"
#include "pdftext.h"
#include "runs/runwindow.h"
#include "shell/accesscommand.h"
#include "shell/auditreview.h"
#include "shell/settings.h"
#include "sqlrows.h"
#include "ui/signdialog.h"

using namespace e2e;

namespace {

int rowOf(QTableWidget* t, const QString& user) {
    for (int r = 0; r < t->rowCount(); ++r)
        if (t->item(r, 0) && t->item(r, 0)->text() == user) return r;
    return -1;
}

// The account's cells in the window's list; empty while it is not listed.
QStringList row(QTableWidget* t, const QString& user) {
    const int r = rowOf(t, user);
    if (r < 0) return {};
    return {t->item(r, 1)->text(), t->item(r, 2)->text(), t->item(r, 3)->text()};
}

}  // namespace

class AccessAdmin : public QObject {
    Q_OBJECT
  private slots:
    void administrationEndToEnd();
    void startAndEndRecordedOnlyWithAccessControl_data();
    void startAndEndRecordedOnlyWithAccessControl();
    void chamberAddedLaterKeepsTheCommandLinesSettingsAudited();
    void storeRowsReachEveryChamberInTimeOrder();
};

void AccessAdmin::administrationEndToEnd() {
    QTemporaryDir data;
    testsupport::useDataHome(data.path());
    const QString storePath = shell::userStorePath();
    SimLine line;
    line.holdProcess(300, 600);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    shell::Options options = Program::onDevice(line.device());
    options.connect = true;
    options.db = data.filePath("Rdatabj.db");
    shell::Application app(options);
    QVERIFY(app.startWithoutSplash());
    shell::MainWindow* w = app.mainWindow();
    auth::Doorman& door = *app.doorman();
    auth::SessionKeeper& keeper = *app.sessionKeeper();

    // Access control off: the values show; anyone opens the window, which asks for the first
    // administrator.
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_3W_0"), QString("300"), 5000);
    QVERIFY(keeper.view().opened && !covered(w));
    click(w, "AccessButton");
    QTRY_VERIFY(app.adminWindow() && app.adminWindow()->isVisible());
    QWidget* admin = app.adminWindow();
    QVERIFY(control<QGroupBox>(admin, "FirstAdminBox")->isVisible());
    QVERIFY(!control<QGroupBox>(admin, "AdminBox")->isVisible());
    fill(admin,
         {{"FirstUser", "admin"},
          {"FirstName", "管理员甲"},
          {"FirstPassword", "adminpass1"},
          {"FirstRepeat", "adminpass1"}},
         "FirstAdminButton");

    // On: nobody logged in yet, so the main window shows no values, and polling goes on.
    QTRY_VERIFY_WITH_TIMEOUT(keeper.view().standing.controlled, 20000);
    QTRY_VERIFY(covered(w));
    auto* curtain = w->findChild<QWidget*>("LoginCurtain");
    QCOMPARE(curtain->geometry(), w->centralWidget()->rect());
    line.server().setHoldingRegister(1, 310);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_4W_0"), QString("310"), 5000);
    QVERIFY(covered(w));
    QVERIFY(logIn(door, "admin", "adminpass1"));
    QVERIFY(!covered(w));

    // An operator added, reset, disabled, enabled again; each shows in the list.
    auto* table = control<QTableWidget>(admin, "AdminAccounts");
    QTRY_VERIFY(control<QGroupBox>(admin, "AdminBox")->isVisible());
    QTRY_COMPARE(table->rowCount(), 1);
    click(admin, "ReasonsButton");  // the list of reasons for a change opens from here
    QTRY_VERIFY(admin->findChild<QDialog*>("ReasonListDialog"));
    admin->findChild<QDialog*>("ReasonListDialog")->reject();
    control<QComboBox>(admin, "AddRole")->setCurrentIndex(1);
    fill(admin,
         {{"AddUser", "op"},
          {"AddName", "操作员乙"},
          {"AddPassword", "operpass1"},
          {"AddRepeat", "operpass1"}},
         "AddAccountButton");
    QTRY_COMPARE_WITH_TIMEOUT(row(table, "op"), QStringList({"操作员乙", "操作员", "须修改密码"}),
                              20000);
    table->selectRow(rowOf(table, "op"));
    const auto act = [&](const char* button, const QString& state,
                         std::initializer_list<std::pair<const char*, QString>> entries = {}) {
        fill(admin, entries, button);
        QTRY_COMPARE_WITH_TIMEOUT(row(table, "op").value(2), state, 20000);
        QTRY_VERIFY(control<QWidget>(admin, "AddAccountButton")->isEnabled());
    };
    act("ResetButton", "须修改密码",
        {{"ResetPassword", "operpass2"}, {"ResetRepeat", "operpass2"}});
    act("DisableButton", "已停用");
    act("DisableButton", "须修改密码");  // "启用" now
    // Five wrong passwords elsewhere on the PC lock it; the window unlocks it.
    {
        auth::UserStore other(storePath, "other", auth::HashCost::minimum());
        QCOMPARE(other.open(false), auth::StoreState::Ready);
        for (int i = 0; i < auth::UserStore::kLockAfter; ++i)
            other.authenticate("op", "wrongpass");
    }
    click(admin, "AdminClose");
    QTRY_VERIFY(!app.adminWindow());  // closed for good: opened anew, it reads the store again
    click(w, "AccessButton");
    admin = app.adminWindow();
    table = control<QTableWidget>(admin, "AdminAccounts");
    QTRY_COMPARE_WITH_TIMEOUT(row(table, "op").value(2), QString("已锁定"), 10000);
    table->selectRow(rowOf(table, "op"));
    act("UnlockAccountButton", "须修改密码");
    // The laboratory lets the reviewer approve too (the run below is signed both ways by one).
    control<QCheckBox>(admin, "ReviewerMayApprove")->setChecked(true);
    click(admin, "SaveSettingsButton");
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            auth::UserStore look(storePath, "look");
            return look.open(false) == auth::StoreState::Ready && look.reviewerMayApprove();
        }(),
        20000);
    // An export from the event window is recorded with the file.
    const QString csv = data.filePath("events.csv");
    w->openEventLog();
    auto* events = qobject_cast<shell::EventWindow*>(w->eventWindow());
    QVERIFY(events);
    events->exportTo(csv);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(csv), 10000);
    // A review whose signature is cancelled writes nothing.
    const QString review = data.filePath("review.pdf");
    shell::reviewAuditTrailTo(*events, options.db, storePath, review);
    QPointer<ui::SignDialog> reviewSign = events->findChild<ui::SignDialog*>();
    QVERIFY(reviewSign);
    reviewSign->reject();
    QTRY_VERIFY(!reviewSign);
    QCoreApplication::processEvents();
    QVERIFY(!QFileInfo::exists(review));
    click(events, "EventReturn");
    QTRY_VERIFY(w->isVisible());

    // The administrator's own run, started and ended in the window "试验", reviewed and approved
    // there with the password each time: its report carries both signatures on every page.
    w->openRunWindow();
    runs::RunWindow* runs = w->runWindow();
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStart")->isEnabled(), 5000);
    click(runs, "RunStart");
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStop")->isEnabled(), 5000);
    runFor(2500);  // a few recorded seconds in it
    click(runs, "RunStop");
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStart")->isEnabled(), 5000);
    runs->table()->selectRow(0);
    for (int meaning : {1, 2}) {
        QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunSign")->isEnabled(), 5000);
        click(runs, "RunSign");
        QPointer<ui::SignDialog> sign = runs->findChild<ui::SignDialog*>();
        QVERIFY(sign);
        sign->findChild<QComboBox*>("SignMeaning")->setCurrentIndex(meaning);
        fill(sign, {{"SignUser", "admin"}, {"SignPassword", "adminpass1"}}, "SignButton");
        QTRY_VERIFY_WITH_TIMEOUT(!sign || !sign->isVisible(), 20000);
    }
    const QString pdf = data.filePath("run.pdf");
    runs->generateReport(pdf);
    QTRY_VERIFY_WITH_TIMEOUT(labelText(runs, "RunOutcome").startsWith("报告已生成"), 60000);
    const QString pages = testsupport::pdfText(pdf);
    for (const char* meaning : {"审核", "批准"})
        QVERIFY2(pages.contains(QString("管理员甲（用户 admin） 含义：") + meaning),
                 qPrintable(pages));
    QVERIFY(pages.contains("数据与签名时一致"));
    runs->leave();
    QTRY_VERIFY(w->isVisible());

    // Logged out, the values are covered again; each failed login raises an alert (the five
    // elsewhere too, once the program heard of them).
    alert::Alerter* alerter = app.chamber().alerter();
    const auto loginAlerts = [&] {
        QStringList out;
        for (const alert::ListedAlert& a : alerter->listed())
            if (a.kind == alert::Kind::LoginFailed) out << a.valueText.text(base::Lang::Stored);
        return out;
    };
    // One alert counts them all.
    QCOMPARE(loginAlerts(), QStringList("5 次，最近一次：账户 op"));
    auto* message = w->findChild<QLabel*>("OperatorMessage");
    message->setText("设定SV1 = 35 已写入");
    QVERIFY(app.adminWindow());
    click(w, "LogoutButton");
    QTRY_VERIFY(covered(w));
    // What the last user had open or wrote goes with them.
    QTRY_VERIFY(!app.adminWindow());
    QCOMPARE(message->text(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(door.loginDialog(), 5000);
    fill(door.loginDialog(), {{"LoginUser", "op"}, {"LoginPassword", "notmine1"}}, "LoginButton");
    QTRY_COMPARE_WITH_TIMEOUT(loginAlerts(), QStringList("6 次，最近一次：账户 op"), 20000);

    // The chamber's own log holds each step with its values, who did it first; no password.
    events::EventLog& log = *app.chamber().eventLog();
    events::EventFilter audit;
    audit.kinds = {"audit"};
    audit.newestFirst = false;
    const struct {
        const char* code;
        QStringList args;
        QString text;
    } expected[] = {
        {"user.account.created",
         {"admin", "admin", "管理员甲", "administrator"},
         "admin 创建账户 admin（管理员甲，管理员）"},
        {"user.access.switched", {"admin", "1"}, "admin 开启访问控制"},
        {"user.login", {"admin"}, "admin 登录"},
        {"user.account.created",
         {"admin", "op", "操作员乙", "operator"},
         "admin 创建账户 op（操作员乙，操作员）"},
        {"user.account.reset", {"admin", "op"}, "admin 重置账户 op 的密码"},
        {"user.account.disabled", {"admin", "op"}, "admin 停用账户 op"},
        {"user.account.enabled", {"admin", "op"}, "admin 启用账户 op"},
        {"user.account.locked", {"", "op"}, "账户 op 连续登录失败，已锁定"},
        {"user.account.unlocked", {"admin", "op"}, "admin 解锁账户 op"},
        {"audit.exported", {"admin", "events", csv}, "admin 导出 事件记录 CSV：" + csv},
        {"user.logout", {"admin"}, "admin 注销"},
        {"user.login.failed", {"", "op"}, "登录失败：op"},
    };
    QVector<events::EventEntry> rows;
    const auto inOrder = [&] {
        qsizetype next = 0;
        for (const events::EventEntry& e : std::as_const(rows))
            if (next < qsizetype(std::size(expected)) && e.code == expected[next].code &&
                e.args == expected[next].args && e.text == expected[next].text)
                ++next;
        return next;
    };
    QObject::connect(&log, &events::EventLog::rowsLoaded, this,
                     [&](quint64, const QVector<events::EventEntry>& r) { rows = r; });
    QVERIFY(runUntil(
        [&] {
            log.requestRows(audit);
            runFor(100);
            return inOrder() == qsizetype(std::size(expected));
        },
        20000));
    for (const events::EventEntry& e : std::as_const(rows))
        QVERIFY2(!(e.text + e.args.join(u' ')).contains("pass"), qPrintable(e.text));
    QCOMPARE(events::eventText(rows.first(), base::Lang::Stored), rows.first().text);
    leaveProgram(w);
}

void AccessAdmin::startAndEndRecordedOnlyWithAccessControl_data() {
    QTest::addColumn<bool>("on");
    QTest::newRow("on") << true;
    QTest::newRow("off") << false;
}

void AccessAdmin::startAndEndRecordedOnlyWithAccessControl() {
    QFETCH(bool, on);
    QTemporaryDir data;
    testsupport::useDataHome(data.path());
    if (on) {
        QDir().mkpath(QFileInfo(shell::userStorePath()).path());
        auth::UserStore store(shell::userStorePath(), "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
    }
    shell::Options options;
    options.db = data.filePath("Rdatabj.db");
    // Twice: the store's rows from before the first start (the first administrator made
    // without the program) reach the chamber's log once, ahead of the program's own rows. The
    // first start shows the splash, during which the store is read before the chamber's log is
    // open.
    for (int run = 0; run < 2; ++run) {
        shell::Application app(options);
        QVERIFY(run == 0 ? app.start() : app.startWithoutSplash());
        QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow() && app.mainWindow()->isVisible(), 20000);
        QTRY_VERIFY(app.sessionKeeper()->view().opened);
        QCOMPARE(covered(app.mainWindow()), on);
        app.mainWindow()->exitProgram();
    }
    QCOMPARE(testsupport::sqlRows(options.db,
                                  "SELECT code FROM events WHERE kind = 'audit' ORDER BY id"),
             on ? QStringList({"user.account.created", "user.access.switched", "audit.started",
                               "audit.ended", "audit.started", "audit.ended"})
                : QStringList());
}

// A chamber added while the program runs takes the retention the command line gave, as the
// chambers of the start did, and its log says so with the administrator and the reason.
void AccessAdmin::chamberAddedLaterKeepsTheCommandLinesSettingsAudited() {
    QTemporaryDir data;
    testsupport::useDataHome(data.path());
    qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
    QDir().mkpath(QFileInfo(shell::userStorePath()).path());
    {
        auth::UserStore store(shell::userStorePath(), "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
    }
    shell::Options options;
    options.chambers = {{"TH01", 1, 1}};
    options.keepDays = 30;
    options.user = "admin";
    options.reason = "归档策略";
    shell::Application app(options);
    QVERIFY(app.startWithoutSplash());
    QTRY_VERIFY(app.sessionKeeper()->view().opened);
    const auto settingRows = [](const QString& db) {
        return testsupport::sqlRows(db,
                                    "SELECT user_id, new_value, reason FROM events WHERE "
                                    "code = 'audit.setting' AND args LIKE '%--keep-days%'");
    };
    QTRY_COMPARE_WITH_TIMEOUT(settingRows(app.chambers().front()->databasePath()),
                              QStringList({"admin|30|归档策略"}), 10000);
    base::Audit by;
    by.reason = "扩建";
    // The chamber list is decided with whoever is at the PC: nobody logged in may not add one.
    emit app.overviewWindow()->added({"TH02", 1, 2}, by);
    QCOMPARE(app.chambers().size(), size_t(1));
    std::optional<auth::Outcome> in;
    app.sessionKeeper()->login("admin", "adminpass1", [&](auth::Outcome o) { in = o; });
    QTRY_VERIFY_WITH_TIMEOUT(in.has_value(), 20000);
    QCOMPARE(*in, auth::Outcome::Done);
    emit app.overviewWindow()->added({"TH02", 1, 2}, by);
    QCOMPARE(app.chambers().size(), size_t(2));
    chamber::Chamber& added = *app.chambers().back();
    QTRY_COMPARE_WITH_TIMEOUT(settingRows(added.databasePath()), QStringList({"admin|30|归档策略"}),
                              10000);
    QCOMPARE(shell::settingsFileFor("TH02")->value("archive/keepDays").toInt(), 30);
}

// The user store's rows reach every chamber's log, each at its own time among the log's rows:
// the first administrator made and access control switched off and on while no program ran, and
// a failed login of another program while this one runs.
void AccessAdmin::storeRowsReachEveryChamberInTimeOrder() {
    QTemporaryDir data;
    testsupport::useDataHome(data.path());
    qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
    QDir().mkpath(QFileInfo(shell::userStorePath()).path());
    {
        auth::UserStore store(shell::userStorePath(), "before", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
        QCOMPARE(store.setAccessControl("admin", false), auth::Outcome::Done);
        QCOMPARE(store.setAccessControl("admin", true), auth::Outcome::Done);
    }
    shell::Options options;
    options.chambers = {{"TH01", 1, 1}, {"TH02", 1, 2}};
    shell::Application app(options);
    QVERIFY(app.startWithoutSplash());
    QTRY_VERIFY_WITH_TIMEOUT(app.sessionKeeper()->view().opened, 30000);
    QCOMPARE(app.chambers().size(), size_t(2));
    const auto userRows = [](const QString& db) {
        return testsupport::sqlRows(
            db,
            "SELECT code || ' ' || json_extract(args, '$[1]') FROM events WHERE code LIKE 'user.%' "
            "ORDER BY id");
    };
    QStringList rows = {"user.account.created admin", "user.access.switched 1",
                        "user.access.switched 0", "user.access.switched 1"};
    for (const auto& c : app.chambers())
        QTRY_COMPARE_WITH_TIMEOUT(userRows(c->databasePath()), rows, 30000);
    {
        auth::UserStore other(shell::userStorePath(), "another-program", auth::HashCost::minimum());
        QCOMPARE(other.open(false), auth::StoreState::Ready);
        QCOMPARE(other.authenticate("admin", "wrong-pass-1"), auth::Outcome::Refused);
    }
    // A row of each chamber's own right after it: stored after the failed login, not before.
    for (const auto& c : app.chambers())
        c->eventLog()->log({0, QDateTime(), "recorder", "备注", {}, {}, {}});
    rows << "user.login.failed admin";
    for (const auto& c : app.chambers()) {
        QTRY_COMPARE_WITH_TIMEOUT(userRows(c->databasePath()), rows, 30000);
        // The log's own row may come in a later batch than the copied one.
        QTRY_COMPARE_WITH_TIMEOUT(
            testsupport::sqlRows(c->databasePath(),
                                 "SELECT code FROM events WHERE code = 'user.login.failed' "
                                 "OR text = '备注' ORDER BY id"),
            QStringList({"user.login.failed", ""}), 30000);
        // No row stands after a later one: the ids follow the time.
        QCOMPARE(testsupport::sqlRows(c->databasePath(),
                                      "SELECT count(*) FROM events a JOIN events b ON b.id > a.id "
                                      "AND b.at_ms < a.at_ms"),
                 QStringList({"0"}));
        QVERIFY(testsupport::sqlRows(c->databasePath(), "SELECT count(*) FROM events")
                    .value(0)
                    .toInt() > rows.size());
    }
}

QTEST_MAIN(AccessAdmin)
#include "test_access_admin.moc"
