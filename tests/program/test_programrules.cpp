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
        {0, 5, "5"},         {0, -1, "-1"},        {1, 3, "3"},
        {2, 0, "无限"},      {2, 3, "3"},          {2, -5, "-5"},
        {3, 0, "来电继续"},  {3, 2, "第一段运行"}, {3, 4, "进入暂停 "},
        {3, 7, "7"},         {4, 0, "测量值"},     {4, 1, "设定值"},
        {4, 2, "2"},         {5, 0, "输出为零"},   {5, 1, "最后SV控制"},
        {5, 65535, "65535"}, {8, 0, "0"},          {38, -32768, "-32768"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readbackText(c.index, c.value), QString::fromUtf8(c.text))
            << c.index << " " << c.value;
}

TEST(ProgramRules, ListCodesArePositions) {
    EXPECT_EQ(listCode(combo4Entries(), QStringLiteral("3:3段 ")), 2);
    EXPECT_EQ(listCode(combo4Entries(), QStringLiteral("8:8段 ")), 7);
    EXPECT_EQ(listCode(combo2Entries(), QStringLiteral("0:小时 ")), 0);
    // The number before the colon is not read: typed or trimmed texts match nothing.
    EXPECT_FALSE(listCode(combo4Entries(), QStringLiteral("3")));
    EXPECT_FALSE(listCode(combo4Entries(), QStringLiteral("3:3段")));
    EXPECT_FALSE(listCode(combo8Entries(), QString()));
}

TEST(ProgramRules, EntryValues) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"1234", 1234},
        {"____", 0},
        {"", 0},
        {"12__", 12},
        {"_1__", 0},
        {"1_3_", 1},
        {"-5", -5},
        {"0", 0},
        {"2.5", 2},
        {"3.5", 4},
        {" 7 ", 7},
        {"abc", 0},
        {"65535", 65535},
        {"65536", std::nullopt},
        {"-32769", std::nullopt},
        {"1e12", std::nullopt},
        {"1e400", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(entryValue(QString::fromUtf8(c.text)), c.value) << c.text;
}
