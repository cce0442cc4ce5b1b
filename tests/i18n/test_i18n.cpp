// Texts kept in Chinese (event rows of old and new databases, status lines) shown under English,
// and the choice of the language.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "base/tr.h"
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
