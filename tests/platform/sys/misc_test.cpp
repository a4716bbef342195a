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

// Work split across threads draws the same numbers only if a jump lands where the calls would.
TEST(CrtRand, AdvanceLandsWhereTheCallsWould)
{
    for (uint64_t steps : {0ull, 1ull, 2ull, 7ull, 1000ull, 414720ull}) {
        for (unsigned seed : {1u, 0u, 0xdeadbeefu}) {
            CrtSrand(seed);
            for (uint64_t i = 0; i < steps; i++) {
                CrtRand();
            }
            EXPECT_EQ(CrtRandAdvance(seed, steps), CrtRandState()) << steps << " from " << seed;
        }
    }
    // A period of 2^32 brings the state back.
    EXPECT_EQ(CrtRandAdvance(12345u, uint64_t(1) << 32), 12345u);
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
