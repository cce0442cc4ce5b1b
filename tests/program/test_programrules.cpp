#include <gtest/gtest.h>

#include "program/programrules.h"

using namespace program;

TEST(ProgramRules, ReadbackTexts) {
    struct Case {
        int index;
        int32_t value;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "H"},         {0, 1, "M"},          {0, 2, "S"},
        {0, 5, "5"},         {0, -1, "-1"},        {1, 2, "3段"},
        {2, 0, "无限"},      {2, 3, "3"},          {2, -5, "-5"},
        {3, 0, "来电继续"},  {3, 2, "第一段运行"}, {3, 4, "进入暂停 "},
        {3, 7, "7"},         {4, 0, "测量值"},     {4, 1, "设定值"},
        {4, 2, "2"},         {5, 0, "输出为零"},   {5, 1, "最后SV控制"},
        {5, 65535, "65535"}, {8, 0, "0"},          {38, -32768, "-32768"},
        {1, 0, "1段"},       {1, 7, "8段"},        {1, 8, "8"},
        {1, -1, "-1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readbackText(c.index, c.value), QString::fromUtf8(c.text))
            << c.index << " " << c.value;
}

TEST(ProgramRules, ListCodesArePositions) {
    EXPECT_EQ(listCode(segmentCountEntries(), QStringLiteral("3:3段 ")), 2);
    EXPECT_EQ(listCode(segmentCountEntries(), QStringLiteral("8:8段 ")), 7);
    EXPECT_EQ(listCode(timeUnitEntries(), QStringLiteral("0:小时 ")), 0);
    // The number before the colon is not read: typed or trimmed texts match nothing.
    EXPECT_FALSE(listCode(segmentCountEntries(), QStringLiteral("3")));
    EXPECT_FALSE(listCode(segmentCountEntries(), QStringLiteral("3:3段")));
    EXPECT_FALSE(listCode(startValueEntries(), QString()));
}

TEST(ProgramRules, EntryValues) {
    // i = 0 is an SV entry (-1999..9999), 2 a time entry (0..9999), -1 the cycle-count box.
    struct Case {
        int entry;
        const char* text;
        std::optional<int32_t> value;
        const char* reason;
    };
    const Case cases[] = {
        {0, "-5", -5, ""},
        {0, "9999", 9999, ""},
        {0, "-1999", -1999, ""},
        {0, "-2000", {}, "超出范围 -1999~9999"},
        {0, "12.5", {}, "不是整数"},
        {0, "", {}, "空"},
        {0, "－５", -5, ""},
        {2, "0", 0, ""},
        {2, "-1", {}, "超出范围 0~9999"},
        {2, "10000", {}, "超出范围 0~9999"},
        {-1, "2.5", 2, ""},
        {-1, "65535", 65535, ""},
        {-1, "65536", {}, "超出寄存器范围"},
        {-1, "", {}, "空"},
        {-1, "abc", {}, "不是数字"},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        const base::RegisterReading r =
            c.entry < 0 ? entryValue(text) : segmentValue(c.entry, text);
        EXPECT_EQ(r.value, c.value) << c.entry << " " << c.text;
        EXPECT_EQ(r.reason.toStdString(), c.reason) << c.entry << " " << c.text;
    }
}
