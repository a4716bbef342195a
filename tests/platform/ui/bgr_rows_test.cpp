// The paint surface's row conversion, packed against plain, at every length around its steps.

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ui/internal/bgr_rows.h"

using namespace lc::ui::internal;

namespace {

TEST(BgrRows, PackedRowsEqualThePlainOnes)
{
    std::mt19937 rng(7);
    for (int bpp : {3, 4}) {
        for (int width = 1; width <= 70; width++) {
            // The source exactly as long as the row, so a read past it is caught.
            std::vector<uint8_t> src(size_t(width) * bpp);
            for (uint8_t &b : src) {
                b = static_cast<uint8_t>(rng());
            }
            std::vector<uint32_t> want(width + 8, 0x12345678u), got(width + 8, 0x12345678u);
            BgrRowToRgb32_c(want.data() + 4, src.data(), width, bpp);
            BgrRowToRgb32_sse2(got.data() + 4, src.data(), width, bpp);
            ASSERT_EQ(want, got) << bpp << " bytes, " << width;
        }
    }
    const uint8_t bgr[] = {1, 2, 3};
    uint32_t out = 0;
    BgrRowToRgb32_sse2(&out, bgr, 1, 3);
    EXPECT_EQ(out, 0xff030201u);
}

} // namespace
