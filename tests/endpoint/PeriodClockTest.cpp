#include "testdrivers/endpoint/PeriodClock.h"

#include <gtest/gtest.h>

using namespace PomaroTestEndpoint;

TEST(PeriodSchedule, DueTimesDoNotDrift)
{
    // 441 frames at 44100 Hz on a 10 MHz counter, and 147 frames at 44100 Hz
    // (33333.33 ticks) on a 3 MHz counter: index n is due n periods after the start.
    PeriodSchedule a(1000, 100000, 10000000);
    EXPECT_EQ(a.due(0), 1000);
    EXPECT_EQ(a.due(1), 101000);
    EXPECT_EQ(a.due(100000), 1000 + 100000LL * 100000);
    PeriodSchedule b(0, 33333, 3000000);
    EXPECT_EQ(b.due(3), 29999 + 1) << "9999.9 ticks a period, rounded once, not three times";
    EXPECT_EQ(b.due(3000), 29999700);
}

TEST(PeriodSchedule, WaitRoundsUpToWholeMilliseconds)
{
    PeriodSchedule s(0, 100000, 10000000); // 10 ms periods, 10 000 ticks a millisecond
    EXPECT_EQ(s.waitMs(0, 1), 10u);
    EXPECT_EQ(s.waitMs(1, 1), 10u);
    EXPECT_EQ(s.waitMs(90001, 1), 1u);
    EXPECT_EQ(s.waitMs(100000, 1), 0u);
    EXPECT_EQ(s.waitMs(250000, 2), 0u) << "overdue: no wait";
}

TEST(LateTracker, APeriodIsLateWhenNoBufferAnsweredThePreviousEvent)
{
    LateTracker t;
    t.onTick(1, false); // first event: the pre-roll came before it, nothing to answer yet
    EXPECT_EQ(t.counts().late, 0u);
    t.onTick(2, false); // answered
    t.onTick(2, false); // no release since the last event
    EXPECT_EQ(t.counts().late, 1u);
    t.onTick(4, false); // the client caught up with two buffers
    t.onTick(4, true);  // the endpoint itself woke late: not the client's fault
    EXPECT_EQ(t.counts().periods, 5u);
    EXPECT_EQ(t.counts().late, 1u);
    EXPECT_EQ(t.counts().endpointLate, 1u);
}

TEST(LateTracker, ASilentClientIsLateEveryPeriodButTheFirst)
{
    LateTracker t;
    for (int i = 0; i < 10; ++i)
        t.onTick(0, false);
    EXPECT_EQ(t.counts().late, 9u);
}
