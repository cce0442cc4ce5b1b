// Number text and parsing under a comma-decimal locale: the helpers must not follow it, and
// useDotDecimalNumbers() must switch both the C library and Qt to "." with no group separator.

#include <gtest/gtest.h>

#include <QLocale>
#include <clocale>
#include <cstdio>

#include "base/numberlocale.h"
#include "base/numberrule.h"
#include "base/text.h"
#include "commalocale.h"

TEST(CommaLocale, HelpersAndProgramLocaleUseThePoint) {
    QString why;
    ASSERT_TRUE(testsupport::useCommaDecimalLocale(&why)) << why.toStdString();
    ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    const QString systemPoint = QLocale::system().decimalPoint();
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");  // the C library now writes commas

    // The helpers are immune on their own.
    EXPECT_EQ(base::floatText(45.6f / 10.0f), QStringLiteral("4.56"));
    EXPECT_EQ(base::floatText(-1999.5f), QStringLiteral("-1999.5"));
    EXPECT_EQ(base::floatText(1e8f), QStringLiteral("1E+08"));
    EXPECT_EQ(base::intText(123456), QStringLiteral("123456"));
    EXPECT_DOUBLE_EQ(base::leadingNumber(QStringLiteral("13.5")), 13.5);
    EXPECT_DOUBLE_EQ(*base::wholeNumber(QStringLiteral("13.5")).value, 13.5);
    EXPECT_FALSE(base::wholeNumber(QStringLiteral("13,5")).value);

    base::useDotDecimalNumbers();
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1.5");
    EXPECT_EQ(QLocale().toString(1234.5, 'f', 1), QStringLiteral("1234.5"));
    EXPECT_EQ(QLocale().toString(1234567), QStringLiteral("1234567"));
    bool ok = false;
    EXPECT_DOUBLE_EQ(QLocale().toDouble(QStringLiteral("12.5"), &ok), 12.5);
    EXPECT_TRUE(ok);
    // Regional dates stay available from the system locale.
    EXPECT_EQ(QLocale::system().decimalPoint(), systemPoint);
}
