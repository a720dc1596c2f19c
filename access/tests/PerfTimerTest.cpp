#include "access/performance/PerfTimer.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(PerfTimer, StopsOnceInUnbiasedMilliseconds)
{
    ULONGLONG before = 0;
    ASSERT_TRUE(QueryUnbiasedInterruptTime(&before));
    Velmo::internal::PerfTimer timer(L"CorvaneLoad");
    EXPECT_TRUE(timer.running());
    EXPECT_EQ(L"CorvaneLoad", timer.name());
    EXPECT_GE(timer.startMilliseconds(), static_cast<std::int64_t>(before / 10000));
    EXPECT_EQ(0, timer.stopMilliseconds());
    EXPECT_EQ(0, timer.elapsedMilliseconds());

    // Sleep is not measured on the timer's clock: wait until that clock itself shows 60 ms.
    for (ULONGLONG now = before; (now - before) / 10000 < 60;) {
        Sleep(10);
        ASSERT_TRUE(QueryUnbiasedInterruptTime(&now));
    }
    timer.stop();
    EXPECT_FALSE(timer.running());
    const std::int64_t stopped = timer.stopMilliseconds();
    EXPECT_GE(timer.elapsedMilliseconds(), 50);
    EXPECT_LT(timer.elapsedMilliseconds(), 5000);
    EXPECT_EQ(stopped - timer.startMilliseconds(), timer.elapsedMilliseconds());

    // Later stops change nothing.
    Sleep(30);
    timer.stop();
    EXPECT_EQ(stopped, timer.stopMilliseconds());

    ULONGLONG after = 0;
    ASSERT_TRUE(QueryUnbiasedInterruptTime(&after));
    EXPECT_LE(stopped, static_cast<std::int64_t>(after / 10000));
    EXPECT_GE(Velmo::internal::PerfTimer::nowMilliseconds(), stopped);
}
