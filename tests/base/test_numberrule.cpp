#include <gtest/gtest.h>

#include <cmath>

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
