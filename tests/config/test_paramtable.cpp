// The parameter table, the readback rules and the values the writers send, without a window.
#include <gtest/gtest.h>

#include <QSet>
#include <cmath>
#include <limits>

#include "config/paramtable.h"

using namespace config;

namespace {

const Param& at(int k) {
    const Param* p = paramAt(k);
    if (!p) throw std::runtime_error("no parameter " + std::to_string(k));
    return *p;
}

}  // namespace

TEST(ParamTable, HoldsTheThirtyEightParametersOnce) {
    const auto& table = parameterTable();
    ASSERT_EQ(table.size(), 38u);
    QSet<int> ks;
    QSet<QString> editors, names;
    int lists = 0;
    for (const Param& p : table) {
        ks.insert(p.k);
        editors.insert(editorName(p));
        names.insert(accessibleName(p));
        EXPECT_EQ(p.reg(), 4097 + p.k);
        EXPECT_FALSE(p.hint.isEmpty()) << p.k;
        if (p.kind == Kind::List) {
            ++lists;
            ASSERT_NE(p.options, nullptr);
            ASSERT_EQ(p.options->entries.size(), p.options->readback.size()) << p.k;
            // Entry n stands for code n and begins with that number and a colon.
            for (qsizetype n = 0; n < p.options->entries.size(); ++n)
                EXPECT_TRUE(p.options->entries.at(n).startsWith(QString::number(n) + ':'))
                    << p.k << " " << n;
        }
    }
    EXPECT_EQ(lists, 19);
    EXPECT_EQ(editors.size(), 38);
    EXPECT_EQ(names.size(), 38);
    // Registers polled but neither shown nor written.
    for (int k : {4, 5, 6, 7, 13, 14, 15, 21, 22, 23})
        EXPECT_FALSE(ks.contains(k)) << k;
    EXPECT_EQ(editorName(at(10)), "T_3RW_10");
    EXPECT_EQ(editorName(at(37)), "Combo8");
}

TEST(Readback, ListCodesShowTheirOwnTexts) {
    struct Case {
        int k;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "禁止"},         {0, 1, "使能"},    {1, 1, "使能"},
        {3, 2, "绝对温度"},     {8, 4, "0MA10)"},  {8, 12, "温湿度专用SHT10"},
        {16, 10, "正负20毫伏"}, {9, 2, "88.88"},   {9, 3, "8.888"},
        {17, 0, "8888"},        {27, 1, "闭合"},   {31, 0, "断开"},
        {32, 5, "偏差带"},      {33, 3, "上偏差"}, {34, 1, "通道二报警"},
        {35, 0, "通道一报警"},  {37, 2, "19200"},  {38, 1, "奇校验"},
        {40, 1, "0MA10"},       {44, 0, "4MA20"},  {41, 0, "不变送"},
        {45, 2, "通道二变送"},
    };
    for (const Case& c : cases) {
        const auto text = readbackText(at(c.k), c.value);
        ASSERT_TRUE(text.has_value()) << c.k << " " << c.value;
        EXPECT_EQ(*text, QString::fromUtf8(c.text)) << c.k << " " << c.value;
    }
}

TEST(Readback, ValuesOutsideAListLeaveTheLabelAlone) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        int k;
        float value;
    };
    const Case cases[] = {{37, 5}, {32, 6}, {32, -1},    {0, 0.5f}, {0, nan},
                          {8, 13}, {41, 3}, {9, -32768}, {3, 65535}};
    for (const Case& c : cases)
        EXPECT_FALSE(readbackText(at(c.k), c.value).has_value()) << c.k << " " << c.value;
    // The code past the end of every list matches nothing.
    for (const Param& p : parameterTable()) {
        if (p.kind != Kind::List) continue;
        EXPECT_FALSE(readbackText(p, static_cast<float>(p.options->readback.size())).has_value())
            << p.k;
    }
}

TEST(Readback, NumbersAndTheFilterInTenths) {
    struct Case {
        int k;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {10, 5000, "5000"},     {10, -1999, "-1999"}, {12, 0, "0"},  {36, 247, "247"},
        {47, -32768, "-32768"}, {2, 15, "1.5"},       {2, 0, "0"},   {2, 10, "1"},
        {2, 5, "0.5"},          {2, 1000, "100"},     {2, 1, "0.1"}, {2, -32768, "-3276.8"},
        {2, 32767, "3276.7"},
    };
    for (const Case& c : cases) {
        const auto text = readbackText(at(c.k), c.value);
        ASSERT_TRUE(text.has_value()) << c.k;
        EXPECT_EQ(*text, QString::fromUtf8(c.text)) << c.k << " " << c.value;
    }
}

TEST(Writers, ListSendsThePositionOfTheShownEntry) {
    EXPECT_EQ(listCode(at(37), "2:19200BPS "), 2);
    EXPECT_EQ(listCode(at(32), "0:禁止 "), 0);
    EXPECT_EQ(listCode(at(8), "0:0V5"), 0);  // no trailing blank in this entry
    EXPECT_EQ(listCode(at(8), "12:温湿度专用SHT10"), 12);
    EXPECT_EQ(listCode(at(9), "3:X.XXX "), 3);
    // Typed text that is no entry: nothing to send.
    for (const char* typed : {"2:19200BPS", "2", "", "19200", "abc", "2:19200bps "})
        EXPECT_FALSE(listCode(at(37), QString::fromUtf8(typed)).has_value()) << typed;
    // An entry of another list is no entry of this one.
    EXPECT_FALSE(listCode(at(37), "1:允许 ").has_value());
    EXPECT_FALSE(listCode(at(10), "0:禁止 ").has_value());  // a text box has no list
}

TEST(Writers, TextBoxValue) {
    struct Case {
        int k;
        const char* text;
        std::optional<int32_t> sent;
    };
    const Case cases[] = {
        {2, "12.5", 125},
        {2, "0.25", 2},
        {2, "100", 1000},
        {10, "-1999", -1999},
        {10, "12000", 12000},
        {10, "2.5", 2},
        {10, "3.5", 4},
        {10, " 12 ", 12},
        {10, "１２３４", 1234},
        {10, "65535", 65535},
        {10, "-32768", -32768},
        // Nothing typed, or not a number as a whole: nothing sent.
        {10, "", std::nullopt},
        {10, "  \t ", std::nullopt},
        {10, "1,000", std::nullopt},
        {10, "7a", std::nullopt},
        {10, "1e3", std::nullopt},
        // Beyond one register: nothing sent, rather than a truncated number.
        {10, "65536", std::nullopt},
        {10, "-32769", std::nullopt},
        {2, "6553.6", std::nullopt},
        {10, "99999999999", std::nullopt},
        {2, "3276.8", 32768},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textValue(c.k, QString::fromUtf8(c.text)).value, c.sent)
            << c.k << " '" << c.text << "'";
}
