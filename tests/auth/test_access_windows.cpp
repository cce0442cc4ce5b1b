// The login and the roles in the windows, end to end: accounts in a real user store, the program
// on the simulated instrument, and the instrument's write log as the proof that a refused control
// sends nothing.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <mutex>

#include "../e2e/access_driver.h"
#include "alert/alertbar.h"
#include "auth/accesswindows.h"
#include "auth/guard.h"
#include "auth/sessionkeeper.h"
#include "auth/userstore.h"
#include "confighome.h"
#include "events/eventwindow.h"
#include "overview/overviewwindow.h"
#include "runs/runwindow.h"
#include "shell/accesscommand.h"
#include "shell/mainwindow.h"
#include "sqlrows.h"
#include "store/exportfile.h"

using namespace e2e;

namespace {

// The instrument's write log, filled on the server's thread.
struct WriteLog {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::size_t size() {
        std::lock_guard lock(mutex);
        return lines.size();
    }
    // The simulator's options that fill this log.
    sim::ServerOptions options() {
        sim::ServerOptions o;
        o.writeLog = [this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        };
        return o;
    }
};

// The writing controls of the main window, with the role they need.
struct Guarded {
    const char* name;
    const char* deniedToOperator;  // the tooltip an operator sees; null: allowed
    bool windowSaysOn = true;      // enabled by its window (the failed logins raise alerts)
};
constexpr Guarded kMainControls[] = {
    {"Text1_0", nullptr},
    {"Command12_0", nullptr},
    {"Text1_1", nullptr},
    {"Command12_1", nullptr},
    {"Alm11_0", nullptr},
    {"Alm111_0", nullptr},
    {"Alm111_5", nullptr},
    {"Command14", nullptr},
    {"AlertAcknowledge", nullptr, true},
    {"AlertComment", nullptr},
    {"AlertSettingsButton", "需要管理员权限"},
    {"Combo1", "需要主管权限"},
    {"Combo2", "需要主管权限"},
    {"Option1_0", "需要主管权限"},
    {"Option2_2", "需要主管权限"},
    {"Command10", "需要主管权限"},
};

}  // namespace

class AccessWindows : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void auditTrailOfWrites();
    void rolesLoginAndIdleLock();
    void accessControlOffShowsNothing();
    void unusableStoreAllowsNobody_data();
    void unusableStoreAllowsNobody();
    void guardKeepsWhatTheWindowAsks();

  private:
    QString dataHome(QTemporaryDir& dir);
};

void AccessWindows::initTestCase() {
    QVERIFY(auth::cryptoReady());
}

QString AccessWindows::dataHome(QTemporaryDir& dir) {
    testsupport::useDataHome(dir.path());
    return shell::userStorePath();
}

namespace {

// The options with the sample database in the test's data folder.
shell::Options inFolder(const QTemporaryDir& data, shell::Options options) {
    options.db = data.filePath("Rdatabj.db");
    return options;
}

QWidget* modal() {
    return QApplication::activeModalWidget();
}

}  // namespace

void AccessWindows::rolesLoginAndIdleLock() {
    QTemporaryDir data;
    const QString storePath = dataHome(data);
    {
        QDir().mkpath(QFileInfo(storePath).path());
        auth::UserStore store(storePath, "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
        QCOMPARE(store.createAccount("admin", "op", "操作员乙", auth::Role::Operator, "operpass1"),
                 auth::Outcome::Done);
        QCOMPARE(store.createAccount("admin", "view", "查看员丙", auth::Role::Viewer, "viewpass1"),
                 auth::Outcome::Done);
        QCOMPARE(
            store.createAccount("admin", "aged", "老用户丁", auth::Role::Operator, "agedpass1"),
            auth::Outcome::Done);
    }
    {
        // aged changed its password long ago (more than the 90 days a password lives).
        auto sql = QSqlDatabase::addDatabase("QSQLITE", "age");
        sql.setDatabaseName(storePath);
        QVERIFY(sql.open());
        QVERIFY(
            QSqlQuery(sql).exec("UPDATE access_users SET must_change = 0, password_set_ms = 0 "
                                "WHERE user_id = 'aged'"));
        sql.close();
        sql = {};
        QSqlDatabase::removeDatabase("age");
    }

    WriteLog writes;
    SimLine line(writes.options());
    line.holdProcess(300, 600);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));

    std::atomic<qint64> mono{1000};
    shell::Options options = Program::onDevice(line.device());
    options.connect = true;
    shell::Application app(inFolder(data, options));
    app.setMonotonicClock([&mono] { return mono.load(); });
    QVERIFY(app.startWithoutSplash());
    shell::MainWindow* w = app.mainWindow();
    auth::Doorman& door = *app.doorman();
    const auto enabled = [w](const char* name) {
        auto* c = control<QWidget>(w, QLatin1String(name));
        return c && c->isEnabled();
    };
    const auto tip = [w](const char* name) {
        auto* c = control<QWidget>(w, QLatin1String(name));
        return c ? c->toolTip() : QString();
    };

    // Polling goes on with nobody logged in; the login comes up, every writing control is off.
    QTRY_VERIFY_WITH_TIMEOUT(door.loginDialog(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_3W_0"), QString("300"), 5000);
    QCOMPARE(labelText(w, "UserStatus"), QString("未登录"));
    // Recording by itself, the program says its records are in the PC account's hands.
    QVERIFY(control<QWidget>(w, "RecordsUnprotected")->isVisibleTo(w));
    for (const Guarded& g : kMainControls) {
        QVERIFY2(!enabled(g.name), g.name);
        QCOMPARE(tip(g.name), QString("请先登录"));
    }
    const QString svTip = tip("Command12_0");

    // A wrong password, an unknown user and a locked account: one message, nobody logged in; the
    // fifth failure in a row locks the account, and then even its right password is refused, in
    // the same words (the answer does not tell that the account exists).
    const QString wrong = "用户名或密码错误", locked = wrong;
    const struct {
        const char* user;
        const char* password;
        int times;
        QString message;
    } attempts[] = {{"op", "wrongpass", 1, wrong},
                    {"ghost", "wrongpass", 1, wrong},
                    {"admin", "wrongpass", 4, wrong},
                    {"admin", "wrongpass", 1, locked},
                    {"admin", "adminpass1", 1, locked}};
    for (const auto& a : attempts) {
        for (int i = 0; i < a.times; ++i) {
            auto* message = control<QLabel>(door.loginDialog(), "LoginMessage");
            message->clear();
            fill(door.loginDialog(), {{"LoginUser", a.user}, {"LoginPassword", a.password}},
                 "LoginButton");
            QTRY_COMPARE_WITH_TIMEOUT(message->text(), a.message, 10000);
            QVERIFY(!app.sessionKeeper()->view().role);
        }
    }

    // The viewer (first a change of the password the administrator set): nothing that writes.
    QVERIFY(logIn(door, "view", "viewpass1", "viewpass2"));
    QTRY_COMPARE(labelText(w, "UserStatus"), QString("用户：查看员丙（view，查看员）"));
    for (const Guarded& g : kMainControls) {
        QVERIFY2(!enabled(g.name), g.name);
        QCOMPARE(tip(g.name),
                 g.deniedToOperator ? QString(g.deniedToOperator) : QString("需要操作员权限"));
    }
    // Neither a click nor Enter on a refused control reaches the instrument.
    control<QLineEdit>(w, "Text1_0")->setText("350");
    click(w, "Command12_0");
    QTest::keyClick(control<QLineEdit>(w, "Text1_0"), Qt::Key_Return);
    control<QAbstractButton>(w, "Command12_0")->click();
    e2e::runFor(300);
    QCOMPARE(writes.size(), std::size_t(0));

    // The operator: set values allowed, with their own tooltips back; configuration refused.
    click(w, "LogoutButton");
    QVERIFY(logIn(door, "op", "operpass1", "operpass2"));
    QTRY_VERIFY(enabled("Command12_0"));
    for (const Guarded& g : kMainControls) {
        QCOMPARE(enabled(g.name), g.deniedToOperator == nullptr && g.windowSaysOn);
        if (g.deniedToOperator)
            QCOMPARE(tip(g.name), QString(g.deniedToOperator));
        else
            QVERIFY(!tip(g.name).startsWith(QString("需要")));
    }
    QVERIFY(tip("Command12_0") != svTip);
    typeInto(control<QLineEdit>(w, "Text1_0"), "350");
    answerReason("校准");
    // The window's write goes as the chamber's command, decided there for the one at the PC.
    QSignalSpy commands(app.chambers().front().get(), &chamber::Chamber::commandFinished);
    click(w, "Command12_0");
    QTRY_COMPARE_WITH_TIMEOUT(line.server().holdingRegister(1), 350, 5000);
    QCOMPARE(writes.size(), std::size_t(1));
    QTRY_COMPARE(commands.size(), 1);
    QCOMPARE(commands.at(0).at(1).value<chamber::Outcome>(), chamber::Outcome::Done);
    // Acknowledging an alert (a failed login's) and a run's start and end are the operator's:
    // each row names them, and the event window shows them with their full names.
    control<QLineEdit>(w, "AlertComment")->setText("已知");
    click(w, "AlertAcknowledge");
    w->openRunWindow();
    QWidget* runs = w->runWindow();
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStart")->isEnabled(), 5000);
    click(runs, "RunStart");
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStop")->isEnabled(), 5000);
    click(runs, "RunStop");
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(runs, "RunStart")->isEnabled(), 5000);
    click(runs, "RunReturn");
    w->openEventLog();
    auto* events = qobject_cast<shell::EventWindow*>(w->eventWindow());
    QVERIFY(events);
    const auto userOf = [events](const QString& code) {
        for (int r = 0; r < events->table()->rowCount(); ++r)
            if (events->table()->item(r, 2)->text().contains(code))
                return events->table()->item(r, 3)->text();
        return QString("missing");
    };
    QTRY_COMPARE_WITH_TIMEOUT(userOf("已确认"), QString("操作员乙（op）"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(userOf("试验开始"), QString("操作员乙（op）"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(userOf("试验结束"), QString("操作员乙（op）"), 5000);
    auto* kinds = control<QComboBox>(events, "EventKind");
    QCOMPARE(kinds->itemText(kinds->count() - 1), QString("审计"));
    events->leave();
    QTRY_VERIFY(w->isVisible());

    click(w, "Command21");
    QWidget* config = w->configWindow();
    QVERIFY(config);
    auto* configEntry = config->findChild<QLineEdit*>();
    QVERIFY(configEntry);
    QVERIFY(!configEntry->isEnabled());
    QCOMPARE(configEntry->toolTip(), QString("需要主管权限"));
    click(config, "Command11");  // back to the main window
    QTRY_VERIFY(w->isVisible());

    // Idle for the store's 15 minutes: locked; the values go on, the controls take nothing.
    mono += 15 * 60'000;
    QTRY_VERIFY_WITH_TIMEOUT(door.unlockDialog(), 5000);
    QCOMPARE(modal(), door.unlockDialog());
    QVERIFY(!enabled("Command12_0"));
    QCOMPARE(tip("Command12_0"), QString("会话已锁定，请输入密码解锁"));
    line.server().setHoldingRegister(2, 620);  // SV2 changed at the instrument's keys
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_4W_1"), QString("620"), 5000);
    click(w, "Command12_0");
    QTest::keyClick(control<QLineEdit>(w, "Text1_0"), Qt::Key_Return);
    e2e::runFor(300);
    QCOMPARE(writes.size(), std::size_t(1));
    QCOMPARE(app.sessionKeeper()->view().state, auth::Session::State::Locked);

    // Unlocked with the same user's password only.
    fill(door.unlockDialog(), {{"UnlockPassword", "wrongpass"}}, "UnlockButton");
    QTRY_COMPARE_WITH_TIMEOUT(labelText(door.unlockDialog(), "UnlockMessage"),
                              QString("用户名或密码错误"), 10000);
    fill(door.unlockDialog(), {{"UnlockPassword", "operpass2"}}, "UnlockButton");
    QTRY_VERIFY_WITH_TIMEOUT(!door.unlockDialog(), 10000);
    QTRY_VERIFY(enabled("Command12_0"));
    QCOMPARE(app.sessionKeeper()->view().userId, QString("op"));

    // An expired password is changed at the login before anything else.
    click(w, "LogoutButton");
    QVERIFY(logIn(door, "aged", "agedpass1", "agedpass2"));
    QTRY_COMPARE(labelText(w, "UserStatus"), QString("用户：老用户丁（aged，操作员）"));
    click(w, "LogoutButton");
    QVERIFY(logIn(door, "op", "operpass2"));

    // Locked again while the configuration window hides the main window: the unlock comes
    // over it.
    click(w, "Command21");
    config = w->configWindow();  // made anew
    QVERIFY(config);
    QTRY_VERIFY(config->isVisible() && !w->isVisible());
    mono += 15 * 60'000 + 1;
    QTRY_VERIFY_WITH_TIMEOUT(door.unlockDialog(), 5000);
    QVERIFY(door.unlockDialog()->isVisible());
    // "注销" there: the configuration window's values are covered too, until the next login.
    click(door.unlockDialog(), "UnlockLogout");
    QTRY_VERIFY(config->findChild<QWidget*>("LoginCurtain"));
    QVERIFY(logIn(door, "op", "operpass2"));
    QTRY_VERIFY(!config->findChild<QWidget*>("LoginCurtain"));
    click(config, "Command11");
    QTRY_VERIFY(w->isVisible());
    leaveProgram(w);
}

void AccessWindows::accessControlOffShowsNothing() {
    QTemporaryDir data;
    const QString storePath = dataHome(data);
    // The port stays closed: the windows' controls are all this needs.
    shell::Application app(inFolder(data, {}));
    QVERIFY(app.startWithoutSplash());
    QTRY_VERIFY(app.sessionKeeper()->view().opened);
    e2e::runFor(200);
    QVERIFY(!app.doorman()->loginDialog());
    QVERIFY(!app.mainWindow()->findChild<QWidget*>("UserBar"));
    QVERIFY(control<QWidget>(app.mainWindow(), "Command12_0")->isEnabled());
    QVERIFY(!QFileInfo::exists(storePath));  // looking for the store made none
    leaveProgram(app.mainWindow());
}

void AccessWindows::unusableStoreAllowsNobody_data() {
    QTest::addColumn<bool>("chambers");
    QTest::addColumn<QString>("writer");
    QTest::newRow("main window") << false << "Command12_0";
    QTest::newRow("overview alert") << true << "OverviewAlertAcknowledge";
    QTest::newRow("overview chambers") << true << "OverviewAdd";
}

void AccessWindows::unusableStoreAllowsNobody() {
    QFETCH(bool, chambers);
    QFETCH(QString, writer);
    QTemporaryDir data;
    const QString storePath = dataHome(data);
    qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());  // the chambers' list
    QDir().mkpath(QFileInfo(storePath).path());
    {
        QFile foreign(storePath);
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write(QByteArray(4096, 'x'));
    }
    // The port stays closed: the windows' controls are all this needs.
    shell::Options options;
    if (chambers)
        options.chambers = {{"a", 1, 1}};
    else
        options = inFolder(data, options);
    shell::Application app(options);
    QVERIFY(app.startWithoutSplash());
    QWidget* w = chambers ? static_cast<QWidget*>(app.overviewWindow()) : app.mainWindow();
    auto* control = e2e::control<QWidget>(w, writer);
    QVERIFY(control);
    QTRY_COMPARE(control->toolTip(), QString("用户库无法使用，任何人都不能修改"));
    QVERIFY(!control->isEnabled());
    QCOMPARE(labelText(w, "UserStatus"), app.sessionKeeper()->view().storeText);
    QVERIFY(!app.sessionKeeper()->view().storeText.isEmpty());
    QVERIFY(!app.doorman()->loginDialog());  // nobody could log in with it
    QCOMPARE(QFileInfo(storePath).size(), 4096);
}

void AccessWindows::guardKeepsWhatTheWindowAsks() {
    auth::Guard guard;
    QWidget window;
    auto* button = new QPushButton(&window);
    button->setToolTip("own");
    auth::guard(button, auth::Action::SetValue);
    const auto as = [](std::optional<auth::Role> role, bool locked = false) {
        return auth::Standing{true, true, role, locked};
    };
    // The window's own enabling while held is kept for later, not obeyed; then given back.
    guard.setStanding(as(auth::Role::Viewer));
    QVERIFY(!button->isEnabled());
    button->setEnabled(true);
    QVERIFY(!button->isEnabled());
    guard.setStanding(as(auth::Role::Operator));
    QVERIFY(button->isEnabled());
    QCOMPARE(button->toolTip(), QString("own"));
    guard.setStanding(as(auth::Role::Operator, true));
    button->setEnabled(false);  // the window's state changed meanwhile: stays off when unlocked
    guard.setStanding(as(auth::Role::Operator));
    QVERIFY(!button->isEnabled());
    // Off: the guard lets the window alone.
    guard.setStanding(auth::Standing{});
    button->setEnabled(true);
    QVERIFY(button->isEnabled());
}

// A write's row in the audit trail: who, the value before and after, why, the time with the PC's
// offset; a cancelled reason and a viewer's call of the write path send nothing, the refusal is
// recorded.
void AccessWindows::auditTrailOfWrites() {
    QTemporaryDir data;
    const QString storePath = dataHome(data);
    qputenv("XDG_CONFIG_HOME", data.filePath("config").toUtf8());
    {
        QDir().mkpath(QFileInfo(storePath).path());
        auth::UserStore store(storePath, "setup", auth::HashCost::minimum());
        QCOMPARE(store.open(true), auth::StoreState::Ready);
        QCOMPARE(store.createFirstAdmin("admin", "管理员甲", "adminpass1"), auth::Outcome::Done);
        for (const auto& [id, role] :
             {std::pair{"op", auth::Role::Operator}, std::pair{"view", auth::Role::Viewer}})
            QCOMPARE(store.createAccount("admin", id, id, role, "firstpass1"), auth::Outcome::Done);
        QCOMPARE(store.setReasons("admin", {"校准", "工艺变更", " ", "校准"}), auth::Outcome::Done);
        QCOMPARE(store.reasons(), QStringList({"校准", "工艺变更"}));
    }
    WriteLog writes;
    SimLine line(writes.options());
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    line.server().setHoldingRegister(1, 420);
    shell::Options options = Program::onDevice(line.device());
    options.connect = true;
    shell::Application app(inFolder(data, options));
    QVERIFY(app.startWithoutSplash());
    shell::MainWindow* w = app.mainWindow();
    auth::Doorman& door = *app.doorman();
    QVERIFY(logIn(door, "op", "firstpass1", "operpass2"));
    QTRY_VERIFY_WITH_TIMEOUT(control<QWidget>(w, "Command12_0")->isEnabled(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(labelText(w, "D_4W_0"), QString("420"), 5000);

    // The reason offered from the list, given, and the write goes.
    typeInto(control<QLineEdit>(w, "Text1_0"), "555");
    auto reasonsOffered = std::make_shared<QStringList>();
    QTimer::singleShot(0, [reasonsOffered] {
        runUntil([] { return modal() && modal()->findChild<QComboBox*>("Reason"); }, 5000);
        auto* box = modal()->findChild<QComboBox*>("Reason");
        for (int i = 0; i < box->count(); ++i)
            *reasonsOffered << box->itemText(i);
        QVERIFY(!control<QPushButton>(modal(), "ReasonOk")->isEnabled());  // blank: no OK
    });
    answerReason("工艺变更");
    click(w, "Command12_0");
    QTRY_COMPARE_WITH_TIMEOUT(line.server().holdingRegister(1), 555, 5000);
    QCOMPARE(*reasonsOffered, QStringList({"校准", "工艺变更"}));

    // Cancelled: nothing sent, the status line says why.
    typeInto(control<QLineEdit>(w, "Text1_0"), "600");
    answerReason({});
    click(w, "Command12_0");
    QCOMPARE(labelText(w, "OperatorMessage"), QString("设定SV1：“600” 未填写变更原因，未发送"));

    // A viewer's call of the write path, past the disabled button: refused and recorded.
    click(w, "LogoutButton");
    QVERIFY(logIn(door, "view", "firstpass1", "viewpass2"));
    QTRY_VERIFY(!control<QWidget>(w, "Command12_0")->isEnabled());
    QMetaObject::invokeMethod(control<QAbstractButton>(w, "Command12_0"), "clicked");
    QCOMPARE(labelText(w, "OperatorMessage"), QString("设定SV1：“600” 需要操作员权限，未发送"));
    // The same for a setting: the alert settings' window reached past its button refuses "确定".
    QMetaObject::invokeMethod(control<QAbstractButton>(w, "AlertSettingsButton"), "clicked");
    QWidget* alerts = control<alert::AlertBar>(w, "AlertBar")->settingsWindow();
    QVERIFY(alerts);
    click(alerts, "AlertSettingsOk");
    QCOMPARE(labelText(alerts, "NotifyTestResult"), QString("需要管理员权限"));
    QVERIFY(alerts->isVisible());

    e2e::runFor(300);
    QCOMPARE(writes.size(), std::size_t(1));
    QCOMPARE(line.server().holdingRegister(1), 555);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "audit");
    db.setDatabaseName(data.filePath("Rdatabj.db"));
    QVERIFY(db.open());
    const int offset = QDateTime::currentDateTime().offsetFromUtc() / 60;
    QStringList rows;
    QVERIFY(runUntil(
        [&] {
            rows.clear();
            QSqlQuery q(db);
            q.exec(
                "SELECT code, user_id, old_value, new_value, reason, utc_offset FROM events "
                "WHERE kind = 'write' ORDER BY id");
            while (q.next())
                rows << QStringList{q.value(0).toString(), q.value(1).toString(),
                                    q.value(2).toString(), q.value(3).toString(),
                                    q.value(4).toString(), q.value(5).toString()}
                            .join(u'|');
            return rows.size() == 2;
        },
        5000));
    QCOMPARE(rows, QStringList({QString("write|op|420|555|工艺变更|%1").arg(offset),
                                QString("write.refused|view|555|600||%1").arg(offset)}));
    QSqlQuery refused(db);
    QVERIFY(refused.exec("SELECT user_id, args FROM events WHERE code = 'alert.settings.refused'"));
    QVERIFY(refused.next());
    QCOMPARE(refused.value(0).toString() + refused.value(1).toString(),
             QString("view[\"需要管理员权限\"]"));
    refused = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("audit");

    // The event window: the audit columns, the time with its offset, a filter of the users seen.
    w->openEventLog();
    auto* events = qobject_cast<shell::EventWindow*>(w->eventWindow());
    QVERIFY(events);
    QTableWidget* table = events->table();
    QTRY_COMPARE_WITH_TIMEOUT(table->columnCount(), 7, 5000);
    auto* users = control<QComboBox>(events, "EventUser");
    QVERIFY(pick(users, "op"));
    QVERIFY(pick(control<QComboBox>(events, "EventKind"), "写入"));  // not op's logins
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, 5000);
    QStringList shown;
    for (int c = 2; c < 7; ++c)
        shown << table->item(0, c)->text();
    QCOMPARE(shown, QStringList({"设定SV1 → 555（地址 1）", "op", "420", "555", "工艺变更"}));
    QVERIFY(table->item(0, 0)->text().contains(QRegularExpression(" [+-]\\d\\d:\\d\\d$")));
    QVERIFY(users->findText("view") > 0);
    // Its export: the audit columns after the older ones.
    const QString csv = data.filePath("events.csv");
    events->exportTo(csv);
    QTRY_VERIFY_WITH_TIMEOUT(control<QLabel>(events, "EventStatus")->text().startsWith("已导出"),
                             5000);
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
    QCOMPARE(lines.value(0),
             QString("\uFEFF时间,类型,内容,寄存器,数值,状态,用户,原值,新值,变更原因,"
                     "时间（含时区）"));
    QVERIFY(lines.value(1).contains(",1,555,0,op,420,555,工艺变更,"));
    QCOMPARE(lines.value(1).section(u',', -1), table->item(0, 0)->text());

    // The export's row names the user logged in, in its user column too; an export that ends
    // after its window closed is recorded all the same.
    const QString dbFile = data.filePath("Rdatabj.db");
    const auto exports = [&] {
        return testsupport::sqlRows(
            dbFile, "SELECT user_id, args FROM events WHERE code = 'audit.exported' ORDER BY id");
    };
    QTRY_COMPARE_WITH_TIMEOUT(exports().size(), 1, 5000);
    QCOMPARE(exports().value(0), QString("view|[\"view\",\"events\",\"%1\"]").arg(csv));
    const QString late = data.filePath("late.csv");
    events->exportTo(late);
    delete events;
    QTRY_COMPARE_WITH_TIMEOUT(exports().size(), 2, 5000);
    QVERIFY(exports().value(1).contains(late));

    // Logged out: no record leaves, and the program is not left (which would stop recording).
    click(w, "LogoutButton");
    w->openEventLog();
    QWidget* again = w->eventWindow();
    QVERIFY(again);
    QTRY_VERIFY(!control<QWidget>(again, "EventExport")->isEnabled());
    QCOMPARE(control<QWidget>(again, "EventExport")->toolTip(), QString("请先登录"));
    w->requestExit();
    QVERIFY(!w->exitQuestion());
    QCOMPARE(labelText(w, "OperatorMessage"), QString("请先登录"));

    // Asked for all the same (past the disabled button), the chamber refuses it: no file, and
    // the refusal is in the audit trail.
    auto* loggedOut = qobject_cast<shell::EventWindow*>(again);
    const QString notWritten = data.filePath("refused.csv");
    loggedOut->exportTo(notWritten);
    QCOMPARE(labelText(again, "EventStatus"), QString("未导出：请先登录"));
    QTRY_COMPARE_WITH_TIMEOUT(
        testsupport::sqlRows(dbFile,
                             "SELECT user_id, args FROM events "
                             "WHERE code = 'audit.export.refused'"),
        QStringList{QString("|[\"\",\"events\",\"%1\",\"请先登录\"]").arg(notWritten)}, 5000);
    QVERIFY(!QFile::exists(notWritten));

    // A file asked for by op and written only after op logged out and view logged in is op's.
    QVERIFY(logIn(door, "op", "operpass2"));
    const QString slow = data.filePath("slow.csv");
    store::ExportDone finish;
    QCOMPARE(loggedOut->exporter()("events", slow,
                                   [&finish](const store::ExportDone& done) { finish = done; }),
             QString());
    click(w, "LogoutButton");
    QVERIFY(logIn(door, "view", "viewpass2"));
    QTRY_COMPARE(app.sessionKeeper()->view().userId, QString("view"));
    {
        QFile out(slow);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("slow\r\n");
    }
    finish(true);
    QTRY_COMPARE_WITH_TIMEOUT(exports().size(), 3, 5000);
    QCOMPARE(exports().value(2), QString("op|[\"op\",\"events\",\"%1\"]").arg(slow));
}

QTEST_MAIN(AccessWindows)
#include "test_access_windows.moc"
