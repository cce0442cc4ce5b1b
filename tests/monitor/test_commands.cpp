// The entry-write rule and the program-command list rule.
#include <gtest/gtest.h>

#include "monitor/commands.h"

using monitor::entryValue;

TEST(EntryValue, WholeNumbersInRangeRoundedHalfToEven) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
        const char* reason;  // the word the status bar gives when nothing is sent
    };
    const Case cases[] = {
        {"9999", 9999, ""},
        {"10000", std::nullopt, "超出范围 -1999~9999"},
        {"-1999", -1999, ""},
        {"-2000", std::nullopt, "超出范围 -1999~9999"},
        {"12.5", 12, ""},  // halves to even
        {"13.5", 14, ""},
        {"-0.5", 0, ""},
        {" 350 ", 350, ""},
        {"３５０", 350, ""},  // full-width digits, as a Chinese input method types them
        {"", std::nullopt, "空"},
        {"abc", std::nullopt, "不是数字"},
        {"0x10", std::nullopt, "不是数字"},
        {"1,000", std::nullopt, "不是数字"},
        {"350abc", std::nullopt, "不是数字"},
        {"3 5 0", std::nullopt, "不是数字"},
        {"1e3", std::nullopt, "不是数字"},
        // The range applies to the number as typed, decimals included.
        {"9998.5", 9998, ""},
        {"9999.4", std::nullopt, "超出范围 -1999~9999"},
        {"-1998.5", -1998, ""},
    };
    for (const auto& c : cases) {
        const base::RegisterReading r = entryValue(QString::fromUtf8(c.text));
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.reason, QString::fromUtf8(c.reason)) << c.text;
    }
}

TEST(ProgramCommand, PositionOfTheMatchingEntry) {
    const QStringList entries = monitor::programCommandEntries();
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries, QStringList({"0:停止 ", "1:运行 ", "2:暂停 ", "4:结束 "}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(monitor::programCommand(entries, entries[i]), i);
    // Typed texts that name no entry send nothing, even when they look like a code.
    for (const char* typed : {"4:结束", "4", "3", "", "abc", " 0:停止 "})
        EXPECT_EQ(monitor::programCommand(entries, QString::fromUtf8(typed)), std::nullopt)
            << typed;
}
