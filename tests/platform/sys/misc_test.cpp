#include <gtest/gtest.h>

#include <atomic>

#include "platform/sys/clock.h"
#include "platform/sys/random.h"
#include "platform/sys/thread.h"

using namespace lc;

TEST(CrtRand, MatchesTheRuntimeSequence)
{
    // First values of the Windows C runtime's rand() with the default seed of 1.
    CrtSrand(1);
    const int want[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int w : want) {
        EXPECT_EQ(CrtRand(), w);
    }
    CrtSrand(1);
    EXPECT_EQ(CrtRand(), 41);
}

TEST(CrtRand, EachThreadStartsAtOne)
{
    CrtRand();
    int first = -1;
    Thread t;
    ASSERT_TRUE(t.Start([&] { first = CrtRand(); }));
    t.Join();
    EXPECT_EQ(first, 41);
}

TEST(Thread, RunsWithLargeStack)
{
    std::atomic<int> ran{0};
    Thread t;
    ASSERT_TRUE(t.Start(
        [&] {
            volatile char big[6 << 20]; // needs the 8 MB stack
            big[0] = 1;
            big[sizeof big - 1] = 1;
            ran = big[0] + big[sizeof big - 1];
        },
        size_t(8) << 20));
    t.Join();
    EXPECT_EQ(ran.load(), 2);
    EXPECT_GE(ProcessorCount(), 1);
}

TEST(FakeClock, SleepAdvancesWithoutWaiting)
{
    FakeClock fake;
    fake.Install();
    uint32_t t0 = NowMs();
    SleepMs(500);
    SleepMs(500);
    EXPECT_EQ(NowMs() - t0, 1000u);
    EXPECT_EQ(FakeClock::SleepCalls(), 2u);
    fake.Uninstall();
    uint32_t r0 = NowMs();
    SleepMs(2);
    EXPECT_GE(NowMs() - r0, 1u);
}
