// Texts kept in Chinese (event rows of old and new databases, status lines) shown under English,
// and the choice of the language.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "base/tr.h"
#include "comm/lineerror.h"
#include "comm/ports.h"
#include "events/eventlog.h"
#include "events/eventrules.h"
#include "forward/status.h"
#include "shell/application.h"
#include "shell/language.h"

// Each event row shown under English and unchanged under Chinese: a row with a code made from its
// code and values (its stored text made the same way), an older row (no code) or one of a code
// this version does not know from its stored text through shown(). Rows with a code read in
// English as shown() reads their stored text, but for what shown() could not take apart
// (oldShownDiffers).
TEST(I18n, EventRowsInChineseAndEnglish) {
    shell::addEventTexts();
    struct Coded {
        const char* code;
        QStringList args;
        const char* chinese;
        const char* english;
        bool oldShownDiffers = false;
    };
    // clang-format off
    const Coded cases[] = {
        {"", {}, "端口已打开", "Port opened"},                       // no device: no colon
        {"", {}, "/dev/ttyUSB0", "/dev/ttyUSB0"},                  // no text of the program
        {"", {}, "", ""},
        {"later.unknown", {}, "未来的事件", "未来的事件"},
        {"link.opened", {"/dev/ttyUSB0"}, "端口已打开：/dev/ttyUSB0", "Port opened: /dev/ttyUSB0"},
        {"link.closed", {}, "端口已关闭", "Port closed"},
        {"link.silent", {}, "仪表停止应答", "Instrument stopped answering"},
        {"write", {"SEG3 设定值TIME", "15"}, "SEG3 设定值TIME → 15", "SEG3 Set value TIME → 15"},
        {"write.failed", {"报警1设定值", "120", "仪表无应答（超时）"},
         "报警1设定值 → 120（失败：仪表无应答（超时））",
         "Alarm 1 set value → 120 (failed: Instrument not answering (timeout))"},
        {"write.failed", {"4X 4107", "5", ""}, "4X 4107 → 5（失败：仪表无应答）",
         "4X 4107 → 5 (failed: Instrument not answering)"},
        // A reason kept as values after its words reads from the values.
        {"write.failed", {"设定SV1", "5", "-", "badAddress", "0", "", "system", ""},
         "设定SV1 → 5（失败：模块地址 0 无效）", "Set SV1 → 5 (failed: Invalid module address 0)", true},
        {"link.openFailed", {"-", "openFailed", "3", "tcp://h:1", "refused", ""},
         "端口无法打开：端口 3（tcp://h:1）无法打开：连接被拒绝",
         "Port cannot be opened: Port 3 (tcp://h:1) cannot be opened: Connection refused", true},
        {"alarm.state", {"4", "0", "1"}, "传感器正常 → 传感器1开路", "Sensor normal → Sensor 1 open"},
        {"program.state", {"0", "0", "1"}, "曲线状态 停止 → 运行", "Program status Stop → Run"},
        {"program.state", {"8", "2", "3"}, "循环次数 2 → 3", "Cycle count 2 → 3"},
        {"recorder.recording", {}, "开始记录", "Recording started"},
        {"recorder.failed", {"磁盘已满"}, "记录已停止：磁盘已满，每秒重试",
         "Recording stopped: Disk full, retrying every second"},
        {"recorder.dayDropped", {"2026-01-02", "86400", "age", "30"},
         "存档：已删除 2026-01-02 及以前的样本（86400 条）和事件（保留 30 天）",
         "Archive: deleted the samples up to 2026-01-02 (86400) and events (keeping 30 days)"},
        {"run.started", {"批次 7"}, "试验开始：批次 7", "Test run started: 批次 7"},
        {"alert.fired", {"band1", "PV1 85（范围 20 … 80）"}, "触发：PV1超出范围，PV1 85（范围 20 … 80）",
         "Raised: PV1 out of range, PV1 85 (range 20 … 80)"},
        // Values after the words: read from the values, the words kept for older readers.
        {"alert.fired", {"forwarding", "滞后 12 分钟", "12"}, "触发：转发滞后，滞后 12 分钟",
         "Raised: Forwarding lags, 12 min behind"},
        {"alert.fired", {"alarm1", "报警"}, "触发：仪表报警1，报警", "Raised: Instrument Alarm 1, Alarm"},
        // A refusal as rows of older versions hold it, and with its values (a host beside the
        // process, which the words alone cannot be taken apart at).
        {"recorder.refused", {"数据库 /d/x.db 正由另一个程序记录（进程 12）"},
         "未记录：数据库 /d/x.db 正由另一个程序记录（进程 12）",
         "Not recording: Database /d/x.db is being recorded by another program (process 12)"},
        {"recorder.refused",
         {"数据库 /d/%1 批.db 正由另一个程序记录（进程 12，主机 lab-7）", "/d/%1 批.db", "12", "lab-7"},
         "未记录：数据库 /d/%1 批.db 正由另一个程序记录（进程 12，主机 lab-7）",
         "Not recording: Database /d/%1 批.db is being recorded by another program (process 12, "
         "host lab-7)", true},
        {"alert.sent", {"Webhook", "127.0.0.1", "记录停止（已确认）"},
         "已发送 Webhook → 127.0.0.1：记录停止（已确认）",
         "Sent Webhook → 127.0.0.1: Recording stopped (Acknowledged)"},
        {"alert.sendFailed", {"1", "2", "邮件", "ops@example.org", "记录停止", "HTTP 500"},
         "发送失败（第 1 次，2 秒后重试）邮件 → ops@example.org：记录停止：HTTP 500",
         "Sending failed (attempt 1, retry in 2 s) Mail → ops@example.org: Recording stopped: HTTP 500",
         true},
        // The raised kinds' values from their numbers too.
        {"alert.fired", {"chain_broken", "事件记录第 12 行", "events", "12"},
         "触发：完整性校验失败，事件记录第 12 行", "Raised: Integrity check failed, event log row 12", true},
        {"alert.fired", {"login_failed", "账户 op", "op"}, "触发：登录失败，账户 op",
         "Raised: Failed login, account op", true},
        // A signature's row (the meaning kept as the file keeps it).
        {"report.signed", {"run:3", "审核", "qa", "李 质量", "ab12"},
         "run:3 已签名：审核（李 质量，qa）", "run:3 signed: Reviewed (李 质量, qa)", true},
        {"forward.skipped", {"5", "2"}, "转发跳过 5 条记录、2 条事件 (服务器恢复前已被覆盖)",
         "Forwarding skipped 5 records and 2 events (overwritten before the server came back)"},
    };
    // clang-format on
    // The status lines and the line's errors, made from their values where shown.
    using R = store::RecorderStatus;
    using L = events::EventLogStatus;
    using F = forward::Status;
    using E = comm::LineError;
    using Text = std::function<QString(base::Lang)>;
    const auto recorder = [](R r) {
        return [r](base::Lang l) { return recorderStatusText(r, l); };
    };
    const auto log = [](L s) { return [s](base::Lang l) { return eventLogStatusText(s, l); }; };
    const auto forward = [](F s) { return [s](base::Lang l) { return statusText(s, l); }; };
    const auto line = [](E e) { return [e](base::Lang l) { return e.text(l); }; };
    const std::tuple<Text, const char*, const char*> statuses[] = {
        {recorder({R::State::Recording, 42, 0, {}}), "记录中：第 42 条", "Recording: record 42"},
        {recorder({R::State::Failed, 0, 7, "磁盘已满"}),
         "记录已停止：磁盘已满，每秒重试；内存中 7 个样本待写入",
         "Recording stopped: Disk full, retrying every second; 7 samples in memory waiting to be "
         "written"},
        {log({L::State::Stopped, store::Fault::ReadOnly}),
         "事件记录已停止：数据库文件只读，每秒重试",
         "Event log stopped: The database file is read-only, retrying every second"},
        {log({L::State::Lost, store::Fault::None, 12}), "事件记录：12 条因数据库不可用而丢失",
         "Event log: 12 lost as the database was unavailable"},
        {log({}), "", ""},
        {forward({forward::State::Waiting, 42, {}}), "转发: 等待服务器 (42 条待发)",
         "Forwarding: waiting for the server (42 to send)"},
        {forward({forward::State::Failed, 0, "服务器拒绝写入 (%1)", "%2"}),
         "转发: 错误: 服务器拒绝写入 (%2)", "Forwarding: error: The server refused the write (%2)"},
        {line({E::Kind::OpenFailed, 3, "/dev/%1", E::Cause::System, "No such file"}),
         "端口 3（/dev/%1）无法打开：No such file",
         "Port 3 (/dev/%1) cannot be opened: No such file"},
        {line({E::Kind::NoDevice, 19}), "端口 19 无法打开：无对应设备",
         "Port 19 cannot be opened: no device for it"},
        {line({E::Kind::Exception, 2}), "异常应答，代码 2", "Exception response, code 2"},
        {line({E::Kind::ConnectionLost, 0, {}, E::Cause::Refused}), "连接已断开（连接被拒绝）",
         "Connection lost (Connection refused)"},
        {line({E::Kind::DeviceGone, 0, {}, E::Cause::System, "I/O error"}),
         "设备已断开（I/O error）", "Device disconnected (I/O error)"},
        {line({E::Kind::DeviceGone, 0, "/dev/ttyUSB0", E::Cause::System, "I/O error"}),
         "设备已断开（/dev/ttyUSB0）", "Device disconnected (/dev/ttyUSB0)"},
        {line({E::Kind::Stopped}), "通讯已停止", "Communication stopped"},
        {[](base::Lang l) { return comm::deviceCaption(QStringLiteral("rtu+tcp://h:4001"), l); },
         "网关 h:4001（RTU 透传，波特率与校验位不适用）",
         "Gateway h:4001 (RTU pass-through; baud rate and parity do not apply)"},
        {[](base::Lang l) {
             return base::Phrase{QStringLiteral("有 %1 个名为“%2”的试验，无法确定是哪一个"),
                                 {QStringLiteral("2"), QStringLiteral("%1 批")}}
                 .text(l);
         },
         "有 2 个名为“%1 批”的试验，无法确定是哪一个",
         "2 test runs are named “%1 批”; which one is meant cannot be told"},
    };
    ASSERT_TRUE(shell::installTranslation(QStringLiteral("en")));
    for (const auto& [text, chinese, english] : statuses) {
        EXPECT_EQ(text(base::Lang::Stored).toStdString(), chinese);
        EXPECT_EQ(text(base::Lang::Shown).toStdString(), english);
    }
    // A line error's values survive the event log's round trip, and unknown ones read as none.
    const E open{E::Kind::OpenFailed, 3, "tcp://h:1", E::Cause::HostSilent, {}};
    EXPECT_EQ(E::fromValues(open.values()), open);
    EXPECT_TRUE(E::fromValues({"later.kind", "1"}).isEmpty());
    for (const Coded& c : cases) {
        events::EventEntry e =
            events::codedEntry(QStringLiteral("link"), QString::fromLatin1(c.code), c.args);
        if (e.text.isEmpty()) e.text = QString::fromUtf8(c.chinese);  // as stored
        ASSERT_TRUE(shell::installTranslation(QStringLiteral("zh")));
        EXPECT_EQ(e.text.toStdString(), c.chinese) << c.code;
        EXPECT_EQ(events::eventText(e).toStdString(), c.chinese) << c.code;
        EXPECT_EQ(base::shown(e.text).toStdString(), c.chinese) << c.code;
        ASSERT_TRUE(shell::installTranslation(QStringLiteral("en")));
        EXPECT_EQ(events::eventText(e).toStdString(), c.english) << c.code;
        if (!c.oldShownDiffers) {
            EXPECT_EQ(base::shown(e.text).toStdString(), c.english) << c.code;
        }
    }
}

// Threads that show stored texts and then end leave the program's memory as it was. (Each thread
// kept a cache of its own, which the MinGW runtime destroyed after freeing the thread's storage:
// the heap broke on Windows a while after such a thread ended, e.g. the web server's after it
// read the event log.)
TEST(I18n, ThreadsThatShowStoredTextsAndEnd) {
    ASSERT_TRUE(shell::installTranslation(QStringLiteral("en")));
    const QString stored = QStringLiteral("端口 3 无法打开");
    const QString expected = base::shown(stored);
    ASSERT_NE(expected, stored);
    std::atomic<int> wrong{0};
    for (int round = 0; round < 20; ++round) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] { wrong += base::shown(stored) != expected; });
        for (std::thread& t : threads)
            t.join();
        // Blocks taken after the threads' ends are the ones they gave back.
        std::vector<QByteArray> blocks;
        for (int k = 0; k < 200; ++k)
            blocks.emplace_back(32 + k, 'x');
    }
    EXPECT_EQ(wrong, 0);
}

TEST(I18n, LanguageComesFromOptionThenSettingThenDesktop) {
    using shell::chooseLanguage;
    const QString zh = QStringLiteral("zh"), en = QStringLiteral("en");
    EXPECT_EQ(shell::languages(), (QStringList{zh, en}));
    EXPECT_EQ(chooseLanguage(zh, en, {QStringLiteral("en-GB")}), zh);
    EXPECT_EQ(chooseLanguage(std::nullopt, en, {QStringLiteral("zh-CN")}), en);
    EXPECT_EQ(chooseLanguage(std::nullopt, QString(), {QStringLiteral("en-US")}), en);
    // A desktop language without a translation falls through to the next, then to Chinese.
    EXPECT_EQ(
        chooseLanguage(std::nullopt, QString(), {QStringLiteral("de-DE"), QStringLiteral("en-GB")}),
        en);
    EXPECT_EQ(chooseLanguage(std::nullopt, QStringLiteral("fr"), {QStringLiteral("de")}), zh);
    EXPECT_EQ(chooseLanguage(std::nullopt, QString(), {}), zh);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
