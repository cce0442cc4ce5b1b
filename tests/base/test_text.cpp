#include <gtest/gtest.h>

#include "base/text.h"

TEST(FloatText, ShortestFormWithSevenDigits) {
    const std::pair<float, const char*> cases[] = {
        {45.6f, "45.6"},
        {45.0f, "45"},
        {-3.5f, "-3.5"},
        {0.5f, "0.5"},
        {0.0f, "0"},
        {-0.0f, "0"},
        {1.5f, "1.5"},
        {100.0f, "100"},
        {1234567.0f, "1234567"},
        {0.1f, "0.1"},
        {-1999.0f, "-1999"},
        {6553.5f, "6553.5"},
        {3276.7f, "3276.7"},
        {1.0f / 3.0f, "0.3333333"},
        {123.4567891f, "123.4568"},
        {0.001f, "0.001"},
        {1e8f, "1E+08"},
        {65535.0f, "65535"},
        {-32768.0f, "-32768"},
        {45.6f / 10.0f, "4.56"},
    };
    for (auto [v, text] : cases)
        EXPECT_EQ(base::floatText(v).toStdString(), text) << v;
}

TEST(FloatText, EveryRegisterValueAndItsTenthReadsBack) {
    // Every 16-bit register value, plain and divided by ten, must give a text that parses back to
    // it.
    for (int r = -32768; r <= 65535; ++r) {
        const float plain = static_cast<float>(r);
        ASSERT_EQ(base::floatText(plain).toFloat(), plain) << r;
        const float tenth = plain / 10.0f;
        ASSERT_EQ(base::floatText(tenth).toFloat(), tenth) << r;
    }
}

TEST(IntText, PlainDecimal) {
    EXPECT_EQ(base::intText(0), "0");
    EXPECT_EQ(base::intText(-1999), "-1999");
    EXPECT_EQ(base::intText(2147483647), "2147483647");
    EXPECT_EQ(base::intText(-2147483648LL), "-2147483648");
}
