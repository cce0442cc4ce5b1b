// Texts kept in Chinese (event rows of old and new databases, status lines) shown under English,
// and the choice of the language.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "base/tr.h"
#include "events/eventrules.h"
#include "shell/application.h"
#include "shell/language.h"

namespace {

struct Shown {
    const char* stored;
    const char* english;
};

// clang-format off
const Shown kShown[] = {
    {"端口已打开：/dev/ttyUSB0", "Port opened: /dev/ttyUSB0"},
    {"端口已打开", "Port opened"},                                 // no device: no colon
    {"仪表停止应答", "Instrument stopped answering"},
    {"传感器正常 → 传感器1开路", "Sensor normal → Sensor 1 open"},  // trailing blank trimmed
    {"曲线状态 停止 → 运行", "Program status Stop → Run"},
    {"报警1设定值 → 120（失败：仪表无应答（超时））",
     "Alarm 1 set value → 120 (failed: Instrument not answering (timeout))"},
    {"SEG3 设定值TIME → 15", "SEG3 Set value TIME → 15"},
    {"记录中：第 42 条", "Recording: record 42"},
    {"记录已停止：磁盘已满，每秒重试；内存中 7 个样本待写入",
     "Recording stopped: Disk full, retrying every second; 7 samples in memory waiting to be written"},
    {"触发：PV1超出范围，PV1 85（范围 20 … 80）",
     "Raised: PV1 out of range, PV1 85 (range 20 … 80)"},
    {"已发送 Webhook → 127.0.0.1：记录停止（已确认）",
     "Sent Webhook → 127.0.0.1: Recording stopped (Acknowledged)"},
    {"/dev/ttyUSB0", "/dev/ttyUSB0"},                             // no text of the program
    {"", ""},
};
// clang-format on

}  // namespace

TEST(I18n, StoredChineseTextsAreShownInEnglishAndUnchangedInChinese) {
    ASSERT_TRUE(shell::installTranslation(QStringLiteral("en")));
    for (const Shown& s : kShown)
        EXPECT_EQ(base::shown(QString::fromUtf8(s.stored)).toStdString(), s.english) << s.stored;
    ASSERT_TRUE(shell::installTranslation(QStringLiteral("zh")));
    for (const Shown& s : kShown)
        EXPECT_EQ(base::shown(QString::fromUtf8(s.stored)).toStdString(), s.stored);
}

// Each event's code and values make the row's Chinese text as stored, and its English where shown:
// the same English the stored text reads as through shown(), but for what shown() could not
// take apart (oldShownDiffers).
TEST(I18n, EventCodesMakeTheirChineseAndEnglishTexts) {
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
        {"link.opened", {"/dev/ttyUSB0"}, "端口已打开：/dev/ttyUSB0", "Port opened: /dev/ttyUSB0"},
        {"link.closed", {}, "端口已关闭", "Port closed"},
        {"link.silent", {}, "仪表停止应答", "Instrument stopped answering"},
        {"write", {"SEG3 设定值TIME", "15"}, "SEG3 设定值TIME → 15", "SEG3 Set value TIME → 15"},
        {"write.failed", {"报警1设定值", "120", "仪表无应答（超时）"},
         "报警1设定值 → 120（失败：仪表无应答（超时））",
         "Alarm 1 set value → 120 (failed: Instrument not answering (timeout))"},
        {"write.failed", {"4X 4107", "5", ""}, "4X 4107 → 5（失败：仪表无应答）",
         "4X 4107 → 5 (failed: Instrument not answering)"},
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
        {"alert.sent", {"Webhook", "127.0.0.1", "记录停止（已确认）"},
         "已发送 Webhook → 127.0.0.1：记录停止（已确认）",
         "Sent Webhook → 127.0.0.1: Recording stopped (Acknowledged)"},
        {"alert.sendFailed", {"1", "2", "邮件", "ops@example.org", "记录停止", "HTTP 500"},
         "发送失败（第 1 次，2 秒后重试）邮件 → ops@example.org：记录停止：HTTP 500",
         "Sending failed (attempt 1, retry in 2 s) Mail → ops@example.org: Recording stopped: HTTP 500",
         true},
        {"forward.skipped", {"5", "2"}, "转发跳过 5 条记录、2 条事件 (服务器恢复前已被覆盖)",
         "Forwarding skipped 5 records and 2 events (overwritten before the server came back)"},
        {"later.unknown", {}, "", ""},  // a code of a later version: its stored text
    };
    // clang-format on
    for (const Coded& c : cases) {
        const record::EventEntry e =
            record::codedEntry(QStringLiteral("link"), QString::fromLatin1(c.code), c.args);
        ASSERT_TRUE(shell::installTranslation(QStringLiteral("zh")));
        EXPECT_EQ(e.text.toStdString(), c.chinese) << c.code;
        EXPECT_EQ(record::eventText(e).toStdString(), c.chinese) << c.code;
        ASSERT_TRUE(shell::installTranslation(QStringLiteral("en")));
        EXPECT_EQ(record::eventText(e).toStdString(), c.english) << c.code;
        if (!c.oldShownDiffers) {
            EXPECT_EQ(base::shown(e.text).toStdString(), c.english) << c.code;
        }
    }
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
