#include <gtest/gtest.h>

#include "base/oledate.h"

TEST(OleDate, KnownDates) {
    EXPECT_EQ(base::oleDate(QDate(1899, 12, 30)), 0);
    EXPECT_EQ(base::oleDate(QDate(1900, 1, 1)), 2);
    EXPECT_EQ(base::oleDate(QDate(2001, 7, 19)), 37091);
    EXPECT_EQ(base::dateFromOle(37091), QDate(2001, 7, 19));
    EXPECT_FALSE(base::dateFromOle(1e300).isValid());
}

TEST(OleDate, TimeOfDay) {
    EXPECT_DOUBLE_EQ(base::oleTime(QTime(0, 0, 5)), 5.0 / 86400.0);
    EXPECT_DOUBLE_EQ(base::oleTime(QTime(12, 0, 0)), 0.5);
    EXPECT_EQ(base::timeFromOle(5.0 / 86400.0), QTime(0, 0, 5));
    EXPECT_EQ(base::timeFromOle(0.99999999), QTime(0, 0, 0));  // rounds to midnight of the next day
    EXPECT_EQ(base::oleTimeText(base::oleTime(QTime(18, 42, 0))), "18:42:00");
    EXPECT_EQ(base::oleDateText(37091), "2001/07/19");
}

TEST(OleDate, RoundTripsEverySecondOfADay) {
    for (int s = 0; s < 86400; ++s) {
        const QTime t = QTime(0, 0).addSecs(s);
        ASSERT_EQ(base::timeFromOle(base::oleTime(t)), t);
    }
}
