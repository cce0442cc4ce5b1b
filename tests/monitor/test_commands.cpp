// The entry-write rule and the program-command list rule.
#include <gtest/gtest.h>

#include "monitor/commands.h"

using monitor::entryValue;

TEST(EntryValue, RangeRoundingAndText) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"9999", 9999},
        {"10000", std::nullopt},
        {"-1999", -1999},
        {"-2000", std::nullopt},
        {"12.5", 12},  // halves to even
        {"13.5", 14},
        {"2.5", 2},
        {"-0.5", 0},
        {"", 0},  // no number reads as 0
        {"abc", 0},
        {" 3 5 0 ", 350},  // blanks are ignored anywhere
        {"350abc", 350},
        {"1e3", 1000},
        {"1e5", std::nullopt},
        {"1e999", std::nullopt},  // too large for a double
        {"-1e999", std::nullopt},
        // The range applies to the number as typed, decimals included.
        {"9999.0", 9999},
        {"9998.5", 9998},
        {"9999.4", std::nullopt},
        {"-1999.4", std::nullopt},
        {"-1998.5", -1998},
    };
    for (const auto& c : cases)
        EXPECT_EQ(entryValue(QString::fromUtf8(c.text)), c.value) << c.text;
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
