// The key tester's poll timing: the intervals' minimum, median and maximum,
// and how long to wait before the next poll.
#include <gtest/gtest.h>

#include "keytest/PollTiming.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

TEST(PollTiming, GivesMinimumMedianAndMaximum)
{
    PollTiming timing;
    EXPECT_EQ(timing.Intervals(), 0u);
    for (int ms : {0, 10, 20, 35, 45, 55})
        timing.Poll(ms / 1000.0);
    EXPECT_EQ(timing.Intervals(), 5u);
    EXPECT_NEAR(timing.MinMs(), 10, 1e-9);
    EXPECT_NEAR(timing.MedianMs(), 10, 0.1);
    EXPECT_NEAR(timing.MaxMs(), 15, 1e-9);

    // An interval past the histogram's range is still the exact maximum.
    timing.Poll(30.055);
    EXPECT_NEAR(timing.MaxMs(), 30000, 1e-6);
    EXPECT_NEAR(timing.MedianMs(), 10, 0.1);
    for (int i = 1; i <= 20; ++i)
        timing.Poll(30.055 + i * 15.6 / 1000.0);
    EXPECT_NEAR(timing.MedianMs(), 15.6, 0.1);
}

TEST(PollTiming, WaitsNoLongerThanTheTimeLeft)
{
    EXPECT_EQ(WaitBeforeNextPoll(10, 5.0, 0), 10u);       // no limit
    EXPECT_EQ(WaitBeforeNextPoll(10000, 0.0, 0.3), 300u); // a long interval ends on time
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.295, 0.3), 5u);
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.2999, 0.3), 1u);   // never 0 while time is left
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.3, 0.3), 0u);
    EXPECT_EQ(WaitBeforeNextPoll(10, 7.0, 0.3), 0u);
}

// The median is the middle interval, not the least, the mean or the
// greatest; with an even count, the lower of the two middle ones.
TEST(PollTiming, TheMedianIsTheMiddleInterval)
{
    const struct {
        std::vector<double> intervalsMs;
        double median;
    } cases[] = {
        {{10}, 10},
        {{10, 30, 31}, 30},
        {{31, 10, 30}, 30},
        {{10, 20, 30, 40}, 20},
        {{5, 5, 40, 40, 40}, 40},
        {{2.5, 12.3, 12.3, 99}, 12.3},
        {{1, 1, 1, 15000, 15000, 15000, 15000}, 15000},
    };
    for (const auto &c : cases) {
        PollTiming timing;
        double at = 0;
        timing.Poll(at);
        for (double ms : c.intervalsMs)
            timing.Poll(at += ms / 1000.0);
        EXPECT_NEAR(timing.MedianMs(), c.median, 0.051) << ::testing::PrintToString(c.intervalsMs);
    }
}

struct WaitCase {
    std::uint32_t intervalMs;
    double lastPoll, now, limit;
    std::uint32_t wait;
};

// The next poll comes a whole interval after the last, however early a
// wait ended, and never after the time is up.
TEST(PollTiming, WaitsOutTheRestOfTheInterval)
{
    const WaitCase cases[] = {
        {10, 1.000, 1.000, 0, 10}, {10, 1.000, 1.004, 0, 6},  {10, 1.000, 1.0095, 0, 1}, {10, 1.000, 1.010, 0, 0},
        {10, 1.000, 1.030, 0, 0},  {10, 1.000, 1.004, 1.005, 1}, {10, 1.000, 1.002, 1.005, 3},
        {10, 1.000, 1.005, 1.005, 0}, {10000, 0.0, 0.1, 0.3, 200},
    };
    for (const WaitCase &c : cases)
        EXPECT_EQ(MsUntilNextPoll(c.intervalMs, c.lastPoll, c.now, c.limit), c.wait)
            << c.intervalMs << " ms, last " << c.lastPoll << ", now " << c.now << ", limit " << c.limit;
}

} // namespace
