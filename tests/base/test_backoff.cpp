#include <gtest/gtest.h>

#include "base/backoff.h"

namespace {

// The two schedules in use: mail and webhook deliveries (2 s up to 5 min) and forwarding to the
// server (1 s up to 30 s).
TEST(Backoff, DoublesFromTheFirstPauseUpToTheCap) {
    constexpr base::Backoff alerts{2000, 300000}, forward{1000, 30000};
    struct Case {
        base::Backoff schedule;
        int failures;
        qint64 ms;
    } const cases[] = {
        {forward, -1, 0},
        {forward, 0, 0},
        {forward, 1, 1000},
        {forward, 2, 2000},
        {forward, 5, 16000},
        {forward, 6, 30000},
        {forward, 1000000, 30000},
        {alerts, 1, 2000},
        {alerts, 2, 4000},
        {alerts, 8, 256000},
        {alerts, 9, 300000},
        {alerts, 100, 300000},
        {alerts, INT32_MAX, 300000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.schedule.delayMs(c.failures), c.ms)
            << c.schedule.firstMs << " after " << c.failures;
}

}  // namespace
