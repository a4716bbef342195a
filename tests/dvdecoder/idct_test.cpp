// The inverse DCT: flat blocks, and the vector form against the reference on random blocks.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "dvdecoder/internal/idct.h"

namespace {

// The stored DC is 4 x the 9-bit DC. An even DC gives a flat block; an odd one lands on the
// column pass's rounding boundary, where the row rounders of rows 1 and 2 tip some samples by 1.
TEST(IdctTest, DcOnlyBlockIsFlat)
{
    for (int dc : {0, 2, -2, 100, -256, 254, 1, -1, 255, -255}) {
        alignas(16) int16_t block[64] = {};
        block[0] = int16_t(4 * dc);
        IdctSse2(block);
        const int lo = *std::min_element(block, block + 64);
        const int hi = *std::max_element(block, block + 64);
        EXPECT_EQ(hi - lo, dc % 2 == 0 ? 0 : 1) << dc;
        EXPECT_NEAR(block[0], dc / 2.0, 1.0) << dc;
    }
}

TEST(IdctTest, VectorFormEqualsReference)
{
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 214013u + 2531011u;
        return int(state >> 16) & 0x7fff;
    };
    for (int trial = 0; trial < 3000; ++trial) {
        alignas(16) int16_t a[64];
        // Small typical coefficients, full-range garbage, and extremes.
        for (int i = 0; i < 64; ++i) {
            const int kind = trial % 3;
            int v = kind == 0 ? (next() % 512) - 256 : kind == 1 ? (next() * 2) - 32768 : 0;
            if (kind == 2) {
                v = (next() & 1) ? 32767 : -32768;
            }
            a[i] = int16_t(v);
        }
        alignas(16) int16_t b[64];
        std::memcpy(b, a, sizeof a);
        IdctC(a);
        IdctSse2(b);
        ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "trial " << trial;
    }
}

} // namespace
