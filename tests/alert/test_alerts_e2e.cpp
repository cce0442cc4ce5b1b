// Alerts end to end, against real servers the test starts on 127.0.0.1 (an aiosmtpd mail server
// and an HTTP server for the webhook) and the simulated instrument: alarm 1 comes and goes and is
// acknowledged from the alert bar, then the mail server goes down, the instrument falls silent,
// and the queued silence mail arrives once the server is back, exactly once.
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>
#include <algorithm>

#include "alert/alertbar.h"
#include "alert/alerter.h"
#include "e2e_support.h"
#include "sinks.h"

using namespace e2e;
using alerttest::Sink;

namespace {

// A column of the alert rows, in order: their texts unless another is named.
QStringList alertRows(const QString& dbPath, const QString& column = QStringLiteral("text")) {
    QStringList out;
    {
        auto db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("e2e-alerts"));
        db.setDatabaseName(dbPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000;QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT %1 FROM events WHERE kind = 'alert' ORDER BY id")
                           .arg(column)))
                while (q.next())
                    out << q.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-alerts"));
    return out;
}

bool anyContains(const QStringList& rows, const QString& part) {
    for (const QString& r : rows)
        if (r.contains(part)) return true;
    return false;
}

}  // namespace

class AlertsScenario : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        // The settings file of this test, not the user's.
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toUtf8());
    }
    void alarmSilenceAndAnOutageReachMailAndWebhook();
    void aSecondProgramOnTheSameFileListsItsAlertsAndLeavesTheSendingToTheFirst();

  private:
    QTemporaryDir dir_;
};

void AlertsScenario::alarmSilenceAndAnOutageReachMailAndWebhook() {
    Sink smtp(QStringLiteral("smtp"), dir_.filePath(QStringLiteral("mail.jsonl")));
    Sink hook(QStringLiteral("http"), dir_.filePath(QStringLiteral("hook.jsonl")));
    QVERIFY2(smtp.start(), "no SMTP server (python3-aiosmtpd)");
    QVERIFY(hook.start());

    SimLine line;
    line.holdProcess(300, 600);
    QString why;
    if (!line.start(&why)) QFAIL(qPrintable(QStringLiteral("no pseudo-terminal: ") + why));
    auto& sim = line.server();

    shell::Options options = Program::onDevice(line.device());
    options.notifyMail = QStringLiteral("smtp://127.0.0.1:%1").arg(smtp.port());
    options.notifyFrom = QStringLiteral("chamber@example.org");
    options.notifyTo = QStringList{"ops@example.org", "night@example.org"};
    options.notifyWebhook = QStringLiteral("http://127.0.0.1:%1/hook").arg(hook.port());
    options.notifySilentAfter = 2;
    Program program(options);
    auto* w = program.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QVERIFY(program.app().chamber().alerter());
    click(w, "Command9");
    QVERIFY(runUntil([&] { return labelText(w, "D_3W_0") == "300"; }, 3000));

    // Alarm 1 (high limit 200 under PV 300): a mail to both recipients and a webhook call.
    sim.setHoldingRegister(4129, 1);
    sim.setHoldingRegister(257, 200);
    QVERIFY(runUntil([&] { return !smtp.with("subject", "报警：仪表报警1").isEmpty(); }, 10000));
    const QJsonObject mail = smtp.with("subject", "报警：仪表报警1").first();
    QCOMPARE(mail.value("from").toString(), QStringLiteral("chamber@example.org"));
    QCOMPARE(mail.value("to").toArray().size(), 2);
    const QString body = mail.value("body").toString();
    for (const char* part : {"站点：", "试验箱地址：1", "报警：仪表报警1", "数值：报警", "时间：",
                             "处理：请到现场查看"})
        QVERIFY2(body.contains(QString::fromUtf8(part)), qPrintable(body));
    QVERIFY(runUntil([&] { return !hook.with("state", "fired").isEmpty(); }, 5000));
    const QJsonObject fired = hook.with("state", "fired").first();
    QCOMPARE(fired.value("kind").toString(), QStringLiteral("alarm1"));
    QVERIFY(fired.value("alert").toString().startsWith("alarm1-"));
    QVERIFY(!fired.value("station").toString().isEmpty());
    QVERIFY(!fired.value("time").toString().isEmpty());

    // The alert bar lists it; the alarm clears in the instrument and the alert stays listed.
    auto* list = control<QTableWidget>(w, "AlertList");
    QVERIFY(list);
    QCOMPARE(list->rowCount(), 1);
    QCOMPARE(list->item(0, 1)->text(), QStringLiteral("仪表报警1"));
    sim.setHoldingRegister(257, 1000);
    QVERIFY(runUntil([&] { return !hook.with("state", "cleared").isEmpty(); }, 15000));
    QVERIFY(runUntil([&] { return !smtp.with("subject", "恢复正常：仪表报警1").isEmpty(); }, 5000));
    // Not acknowledged yet: the recovery mail asks for it.
    QVERIFY(smtp.with("subject", "恢复正常：仪表报警1")
                .first()
                .value("body")
                .toString()
                .contains("请在报警栏确认"));
    QCOMPARE(list->rowCount(), 1);
    QVERIFY(list->item(0, 3)->text().contains("已恢复"));

    // Acknowledged with a comment from the bar: the webhook hears it, the list empties.
    click(w, "AlertAcknowledge");  // without a comment nothing is acknowledged
    QCOMPARE(list->rowCount(), 1);
    // Typed through an input method in practice: QTest types Latin-1 only.
    auto* comment = control<QLineEdit>(w, "AlertComment");
    comment->setFocus(Qt::MouseFocusReason);
    comment->setText(QStringLiteral("张三：加湿器已加水"));
    click(w, "AlertAcknowledge");
    QCOMPARE(list->rowCount(), 0);
    QVERIFY(runUntil([&] { return !hook.with("state", "acknowledged").isEmpty(); }, 5000));
    QCOMPARE(hook.with("state", "acknowledged").first().value("comment").toString(),
             QStringLiteral("张三：加湿器已加水"));

    // "报警通知": "发送测试" reaches both servers at once; "确定" keeps the settings, the password
    // under its own key in a file for its owner's eyes only.
    click(w, "AlertSettingsButton");
    auto* bar = control<alert::AlertBar>(w, "AlertBar");
    QVERIFY(bar && bar->settingsWindow());
    QWidget* settings = bar->settingsWindow();
    QVERIFY(QTest::qWaitForWindowExposed(settings));
    // The fixed limits have captions and take input only while "固定上下限" is ticked.
    for (const QString n : {"1", "2"}) {
        auto* fixed = control<QCheckBox>(settings, "AlertBandFixed" + n);
        auto* low = control<QDoubleSpinBox>(settings, "AlertBandLow" + n);
        auto* high = control<QDoubleSpinBox>(settings, "AlertBandHigh" + n);
        QVERIFY(fixed && low && high && !fixed->isChecked());
        QStringList captions;
        for (QLabel* l : settings->findChildren<QLabel*>())
            if (l->buddy() == low || l->buddy() == high) captions << l->text();
        QCOMPARE(captions, (QStringList{"下限", "上限"}));
        for (const bool ticked : {false, true, false}) {
            if (fixed->isChecked() != ticked) fixed->click();
            QCOMPARE(low->isEnabled(), ticked);
            QCOMPARE(high->isEnabled(), ticked);
        }
    }
    typeInto(control<QLineEdit>(settings, "NotifyPassword"), "geheim");
    typeInto(control<QLineEdit>(settings, "NotifyEscalateTo"), "not an address");
    click(settings, "AlertSettingsOk");
    QVERIFY(labelText(settings, "NotifyTestResult").contains("邮件地址无效"));
    typeInto(control<QLineEdit>(settings, "NotifyEscalateTo"), "boss@example.org");
    click(settings, "NotifyTest");
    QVERIFY(runUntil([&] { return labelText(settings, "NotifyTestResult").contains("测试成功"); },
                     10000));
    QCOMPARE(smtp.with("subject", "测试通知").size(), 1);
    QCOMPARE(hook.with("state", "test").size(), 1);
    click(settings, "AlertSettingsOk");
    QVERIFY(runUntil([&] { return !bar->settingsWindow() || !settings->isVisible(); }, 2000));
    const QString ini = dir_.filePath(QStringLiteral("config/velmars/velmars.ini"));
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(QFile::exists(ini));
    QVERIFY(!(QFile::permissions(ini) & others));
    {
        QSettings kept(ini, QSettings::IniFormat);
        QCOMPARE(kept.value("notify/password").toString(), QStringLiteral("geheim"));
        QCOMPARE(kept.value("notify/escalateTo").toString(), QStringLiteral("boss@example.org"));
        QCOMPARE(kept.value("alerts/silent/delay").toInt(), 2);
        QVERIFY(!kept.value("notify/mail").toString().contains("geheim"));
    }

    // The mail server goes down and the instrument falls silent: the silence mail waits in the
    // queue, its failed attempts in the event log; the window goes on without waiting.
    smtp.stop();
    LoopGapProbe probe;
    probe.start();
    sim.setSilent(true);
    QVERIFY(runUntil([&] { return !hook.with("kind", "silent").isEmpty(); }, 10000));
    QVERIFY(runUntil(
        [&] { return anyContains(alertRows(program.app().chamber().databasePath()), "发送失败"); },
        10000));
    runFor(3000);
    probe.stop();
    QVERIFY2(probe.longestBusyMs() < 200, qPrintable(QString::number(probe.longestBusyMs())));
    QVERIFY(smtp.with("subject", "仪表无应答").isEmpty());

    QVERIFY(smtp.start());
    QVERIFY(runUntil([&] { return !smtp.with("subject", "报警：仪表无应答").isEmpty(); }, 30000));
    const QString silenceBody =
        smtp.with("subject", "报警：仪表无应答").first().value("body").toString();
    QVERIFY2(silenceBody.contains("处理：请检查仪表电源"), qPrintable(silenceBody));
    runFor(4000);
    QCOMPARE(smtp.with("subject", "报警：仪表无应答").size(), 1);
    QCOMPARE(smtp.with("subject", "报警：仪表报警1").size(), 1);

    // The event log keeps the alert, its return to normal, its acknowledgement and the sending.
    const QStringList rows = alertRows(program.app().chamber().databasePath());
    for (const char* part :
         {"触发：仪表报警1", "恢复正常：仪表报警1", "已确认：仪表报警1，说明：张三：加湿器已加水",
          "触发：仪表无应答", "已发送 邮件"})
        QVERIFY2(anyContains(rows, QString::fromUtf8(part)), part);
    QVERIFY(!anyContains(rows, "geheim"));
    // The silence's value is kept as its number beside its words.
    const QRegularExpression silentArgs(QStringLiteral(R"(^\["silent","(\d+) 秒无应答","\1"\]$)"));
    const QStringList args = alertRows(program.app().chamber().databasePath(), "args");
    QVERIFY2(std::any_of(args.begin(), args.end(),
                         [&](const QString& a) { return silentArgs.match(a).hasMatch(); }),
             qPrintable(args.join(u'\n')));
    // Every row reads in the program's language: no English word of the webhook documents.
    for (const QString& row : rows)
        QVERIFY2(!row.contains(
                     QRegularExpression("\\b(fired|cleared|acknowledged|repeated|escalated)\\b")),
                 qPrintable(row));

    // Acknowledged while the instrument is still silent: its recovery mail asks for nothing more.
    comment->setText(QStringLiteral("李四：通讯线已插好"));
    click(w, "AlertAcknowledge");
    QCOMPARE(list->rowCount(), 1);  // listed until it is back to normal
    sim.setSilent(false);
    QVERIFY(
        runUntil([&] { return !smtp.with("subject", "恢复正常：仪表无应答").isEmpty(); }, 20000));
    const QString backBody =
        smtp.with("subject", "恢复正常：仪表无应答").first().value("body").toString();
    QVERIFY2(backBody.contains("报警已确认") && !backBody.contains("请在报警栏确认"),
             qPrintable(backBody));
}

void AlertsScenario::aSecondProgramOnTheSameFileListsItsAlertsAndLeavesTheSendingToTheFirst() {
    Sink smtp(QStringLiteral("smtp"), dir_.filePath(QStringLiteral("viewer-mail.jsonl")));
    QVERIFY(smtp.start());
    SimLine line;
    line.holdProcess(300, 600);
    QVERIFY(line.start());
    const QString db = dir_.filePath(QStringLiteral("shared.db"));
    shell::Options recording;
    recording.db = db;
    Program first(recording);
    QVERIFY(first.app().chamber().alerter());

    // The second program on the file: read-only, its own link to the instrument.
    shell::Options viewing = Program::onDevice(line.device());
    viewing.db = db;
    viewing.notifyMail = QStringLiteral("smtp://127.0.0.1:%1").arg(smtp.port());
    viewing.notifyFrom = QStringLiteral("chamber@example.org");
    viewing.notifyTo = QStringList{"ops@example.org"};
    Program second(viewing);
    auto* w = second.main();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    click(w, "Command9");
    line.server().setHoldingRegister(4129, 1);
    line.server().setHoldingRegister(257, 200);
    auto* list = control<QTableWidget>(w, "AlertList");
    QVERIFY(list);
    QVERIFY(runUntil([&] { return list->rowCount() == 1; }, 10000));
    QCOMPARE(list->item(0, 1)->text(), QStringLiteral("仪表报警1"));
    // No "记录停止" for the recorder it does not run, no mail, no row in the other's file (whose
    // own program, recording with its port closed, may well log its instrument's silence).
    runFor(3000);
    QCOMPARE(list->rowCount(), 1);
    QVERIFY(smtp.taken().isEmpty());
    QVERIFY(!anyContains(alertRows(db), QStringLiteral("仪表报警1")));
}

QTEST_MAIN(AlertsScenario)
#include "test_alerts_e2e.moc"
