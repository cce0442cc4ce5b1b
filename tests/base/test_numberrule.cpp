#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "base/numberrule.h"

using base::leadingNumber;

struct LeadingCase {
    const char* text;
    double value;
};

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
    const LeadingCase cases[] = {
        {"1,000", 1},     {"12.5", 12.5}, {"13.5", 13.5},   {"0.25", 0.25}, {"1e3", 1000},
        {" -3.5x", -3.5}, {"", 0},        {"abc", 0},       {"3abc", 3},    {"  7 5 ", 75},
        {"+4", 4},        {".5", 0.5},    {"5.", 5},        {"1.2.3", 1.2}, {"1e", 1},
        {"1e+", 1},       {"2E-1", 0.2},  {"-", 0},         {"-.", 0},      {"\t12\n", 12},
        {"１２", 0},      {"9999", 9999}, {"-1999", -1999}, {"1 e 2", 100}, {"12.5abc", 12.5},
        {"e5", 0},        {"--3", 0},     {"3-4", 3},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(LeadingNumber, HugeValuesDoNotCrash) {
    EXPECT_TRUE(std::isinf(leadingNumber(QStringLiteral("1e999"))));
    EXPECT_EQ(leadingNumber(QStringLiteral("1e-999")), 0.0);
    EXPECT_TRUE(std::isinf(leadingNumber(QString(400, u'9'))));
    EXPECT_EQ(leadingNumber(QStringLiteral("1e99999999999999999999")),
              std::numeric_limits<double>::infinity());
}

TEST(WholeNumber, AcceptsOnlyANumberAsAWhole) {
    struct Case {
        const char* text;
        bool allowPoint;
        std::optional<double> value;
        const char* reason;
    };
    const Case cases[] = {
        {"", true, {}, "空"},
        {"  ", true, {}, "空"},
        {"abc", true, {}, "不是数字"},
        {"0x10", true, {}, "不是数字"},
        {"1,000", true, {}, "不是数字"},
        {"12abc", true, {}, "不是数字"},
        {"1 000", true, {}, "不是数字"},
        {"1e3", true, {}, "不是数字"},
        {"-", true, {}, "不是数字"},
        {".", true, {}, "不是数字"},
        {"1.2.3", true, {}, "不是数字"},
        {"--5", true, {}, "不是数字"},
        {"-5", true, -5, ""},
        {"+7", true, 7, ""},
        {"12.5", true, 12.5, ""},
        {"12.5", false, {}, "不是整数"},
        {" 7 ", false, 7, ""},
        {"\t-0\n", false, 0, ""},
        {".5", true, 0.5, ""},
        {"１２.５", true, 12.5, ""},
        {"１２３４", false, 1234, ""},
        {"－５", false, -5, ""},
        {"＋１２．５", true, 12.5, ""},
        {"\u3000８\u3000", false, 8, ""},
    };
    for (const auto& c : cases) {
        const base::NumberReading r = base::wholeNumber(QString::fromUtf8(c.text), c.allowPoint);
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(r.reason.toStdString(), c.reason) << c.text;
    }
    EXPECT_TRUE(std::isinf(*base::wholeNumber(QString(400, u'9')).value));
    EXPECT_EQ(*base::wholeNumber(QStringLiteral("0.") + QString(400, u'0') + u'1').value, 0.0);
}

TEST(WholeNumber, RegisterValuesAndRefusalLines) {
    EXPECT_EQ(base::registerValue(QStringLiteral("12.5")).value, 12);  // half to even
    EXPECT_EQ(base::registerValue(QStringLiteral("65535")).value, 65535);
    EXPECT_EQ(base::registerValue(QStringLiteral("65536")).reason,
              QStringLiteral("超出寄存器范围"));
    EXPECT_EQ(base::registerValue(QString(400, u'9')).reason, QStringLiteral("超出寄存器范围"));
    EXPECT_EQ(base::registerValue(QStringLiteral("-2000"), true, -1999, 9999).reason,
              QStringLiteral("超出范围 -1999~9999"));
    EXPECT_EQ(base::refusedText(QStringLiteral("设定SV1"), QStringLiteral("abc"),
                                QStringLiteral("不是数字")),
              QStringLiteral("设定SV1：“abc” 不是数字，未发送"));
    EXPECT_EQ(base::refusedText(QStringLiteral("程序循环次数"), QString(), QStringLiteral("空")),
              QStringLiteral("程序循环次数：空，未发送"));
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, double> cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4},
                                               {0.5, 0}, {1.5, 2}, {12.5, 12}, {13.5, 14},
                                               {2.4, 2}, {2.6, 3}, {-0.4, 0},  {125.0, 125}};
    for (auto [in, out] : cases)
        EXPECT_EQ(base::roundHalfEven(in), out) << in;
}

TEST(Rounding, ReportsValuesThatDoNotFit) {
    EXPECT_EQ(base::roundToInt16(32767.4), 32767);
    EXPECT_EQ(base::roundToInt16(-32768.5), -32768);  // half to even stays in range
    EXPECT_FALSE(base::roundToInt16(32767.5));        // rounds to 32768
    EXPECT_FALSE(base::roundToInt16(40000));
    EXPECT_EQ(base::roundToInt32(2147483647.0), 2147483647);
    EXPECT_FALSE(base::roundToInt32(2147483648.0));
    EXPECT_FALSE(base::roundToInt32(-2147483649.0));
    EXPECT_FALSE(base::roundToInt32(std::nan("")));
    EXPECT_FALSE(base::roundToInt32(leadingNumber(QStringLiteral("1e400"))));
}

TEST(Rounding, RegisterRange) {
    EXPECT_TRUE(base::fitsRegister(-32768));
    EXPECT_TRUE(base::fitsRegister(65535));
    EXPECT_FALSE(base::fitsRegister(65536));
    EXPECT_FALSE(base::fitsRegister(-32769));
}
