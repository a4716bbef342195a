#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/sys/large_buffer.h"
#include "platform/sys/thread.h"

using namespace lc;

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

// Zero at both ends and every few kilobytes, and every byte writable.
void ExpectZeroedAndWritable(uint8_t *p, size_t bytes)
{
    for (size_t i = 0; i < bytes; i += 4093) {
        ASSERT_EQ(p[i], 0) << "byte " << i;
    }
    ASSERT_EQ(p[bytes - 1], 0);
    std::memset(p, 0x5a, bytes);
    EXPECT_EQ(p[bytes - 1], 0x5a);
}

} // namespace

// Small and large, on and off the huge-page size: zeroed, whole, aligned where mapped, and given
// back (a second round takes the same sizes again, zeroed once more).
TEST(LargeBuffer, ZeroedWholeAndTakenAgain)
{
    const size_t sizes[] = {1, 4096, kHugePage - 1, kHugePage, kHugePage + 1, 13'000'000};
    for (int round = 0; round < 2; round++) {
        std::vector<void *> taken;
        for (size_t bytes : sizes) {
            SCOPED_TRACE(bytes);
            auto *p = static_cast<uint8_t *>(AllocateLargeZeroed(1, bytes));
            ASSERT_NE(p, nullptr);
            if (LargeBuffersAreMapped() && bytes >= kHugePage) {
                EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePage, 0u);
            }
            ExpectZeroedAndWritable(p, bytes);
            taken.push_back(p);
        }
        for (void *p : taken) {
            FreeLargeZeroed(p);
        }
    }
    FreeLargeZeroed(nullptr);
}

TEST(LargeBuffer, CountTimesSizeOverflowIsRefused)
{
    EXPECT_EQ(AllocateLargeZeroed(SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(AllocateLargeZeroed(size_t(1) << 40, size_t(1) << 40), nullptr);
}

// Threads take and free their own buffers at once without losing track of any.
TEST(LargeBuffer, ThreadsTakeAndFreeTogether)
{
    constexpr int kThreads = 4;
    Thread threads[kThreads];
    int failures[kThreads] = {};
    for (int t = 0; t < kThreads; t++) {
        ASSERT_TRUE(threads[t].Start([t, &failures] {
            for (int i = 0; i < 8; i++) {
                auto *p = static_cast<uint8_t *>(AllocateLargeZeroed(3, kHugePage));
                if (!p || p[0] != 0 || p[3 * kHugePage - 1] != 0) {
                    failures[t]++;
                    continue;
                }
                p[0] = p[3 * kHugePage - 1] = uint8_t(t + 1);
                FreeLargeZeroed(p);
            }
        }));
    }
    for (Thread &t : threads) {
        t.Join();
    }
    for (int t = 0; t < kThreads; t++) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    }
}
