// Row kernels of the Stretch threads: colour conversion with its 16-bit wrap, sharpening and
// widening at the row ends.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "dvdecoder/internal/stretch.h"

namespace {

// A work row of `width` pixels: luminance bytes, then Cr and Cb samples per pixel pair.
std::vector<uint8_t> WorkRow(int width, int coded, uint8_t y, int16_t cr, int16_t cb)
{
    std::vector<uint8_t> row(size_t(width) * 3, 0);
    std::memset(row.data(), y, size_t(coded));
    for (int x = 0; x < coded; x += 2) {
        std::memcpy(&row[size_t(width + x)], &cr, 2);
        std::memcpy(&row[size_t(2 * width + x)], &cb, 2);
    }
    return row;
}

TEST(StretchTest, ColourConversionOfFlatRows)
{
    struct Case
    {
        uint8_t y;
        int16_t cr, cb;
        uint8_t b, g, r;
    };
    const Case cases[] = {
        {128, 0, 0, 148, 148, 148},
        {255, 100, 0, 255, 213, 255}, // red 454 clamps
        {255, 200, 0, 255, 132, 0},   // 16-bit sum 39270 wraps negative: red 0
        {0, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        const std::vector<uint8_t> work = WorkRow(16, 16, c.y, c.cr, c.cb);
        uint8_t bgr[48];
        ConvertRowToBgr_c(bgr, work.data(), 16, 16);
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(bgr[3 * x + 0], c.b) << int(c.y);
            EXPECT_EQ(bgr[3 * x + 1], c.g) << int(c.y);
            EXPECT_EQ(bgr[3 * x + 2], c.r) << int(c.y);
        }
    }
}

TEST(StretchTest, OddPixelsTakeTheMeanOfTwoColourSamples)
{
    std::vector<uint8_t> work = WorkRow(8, 8, 128, 0, 0);
    const int16_t cb[4] = {0, 64, 0, -64};
    std::memcpy(&work[16], cb, sizeof cb);
    uint8_t bgr[24];
    ConvertRowToBgr_c(bgr, work.data(), 8, 8);
    auto blue = [](int cbv) { return std::min(255, std::max(0, (74 * 128 + 129 * cbv) >> 6)); };
    const int expected[8] = {blue(0), blue(32),  blue(64),  blue(32),
                             blue(0), blue(-32), blue(-64), blue(-64)};
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(bgr[3 * x], expected[x]) << x;
    }
}

std::vector<uint8_t> Ramp(int pixels)
{
    std::vector<uint8_t> row(size_t(pixels) * 3);
    for (int i = 0; i < pixels; ++i) {
        row[3 * i] = uint8_t(i);
        row[3 * i + 1] = uint8_t(255 - i % 256);
        row[3 * i + 2] = uint8_t((i * 7) % 256);
    }
    return row;
}

TEST(StretchTest, FlatRowsStayFlat)
{
    for (int pixels : {960, 1280, 1440}) {
        std::vector<uint8_t> flat(size_t(pixels) * 3, 77), sharp(flat.size());
        SharpenRow_c(sharp.data(), flat.data(), pixels);
        EXPECT_EQ(sharp, flat);
        const int out = pixels == 1280 ? 1920 : pixels * 4 / 3;
        std::vector<uint8_t> wide(size_t(out) * 3, 0);
        if (pixels == 1280) {
            WidenRow2to3_c(wide.data(), sharp.data(), pixels);
        } else {
            WidenRow3to4_c(wide.data(), sharp.data(), pixels, out);
        }
        EXPECT_EQ(wide, std::vector<uint8_t>(wide.size(), 77)) << pixels;
    }
}

TEST(StretchTest, WideningRowEnds)
{
    const std::vector<uint8_t> in = Ramp(1280);
    std::vector<uint8_t> out(1920 * 3);
    WidenRow2to3_c(out.data(), in.data(), 1280);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(out[c], in[c]);
        EXPECT_EQ(out[3 + c], (in[c] + in[3 + c] + 1) >> 1);
        // The last pair's third output uses the last pixel for the one past the end.
        EXPECT_EQ(out[3 * 1919 + c], (53 * in[3 * 1279 + c] + 11 * in[3 * 1279 + c]) >> 6);
    }
    for (int pixels : {960, 1440}) {
        const std::vector<uint8_t> ramp = Ramp(pixels);
        const int w = pixels * 4 / 3;
        std::vector<uint8_t> wide(size_t(w) * 3);
        WidenRow3to4_c(wide.data(), ramp.data(), pixels, w);
        const int tail[4] = {pixels - 3, pixels - 2, pixels - 1, pixels - 1};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(0, std::memcmp(&wide[size_t(3 * (w - 4 + i))], &ramp[size_t(3 * tail[i])], 3))
                << pixels << " output " << w - 4 + i;
        }
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(wide[c], ramp[c]); // p[-1] is p[0]
        }
    }
}

TEST(StretchTest, SharpeningClampsAndKeepsTheEnds)
{
    std::vector<uint8_t> row = {10, 10, 10, 250, 250, 250, 10, 10, 10, 0, 0, 0};
    std::vector<uint8_t> out(row.size());
    SharpenRow_c(out.data(), row.data(), 4);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[3], 255); // (4500 - 20) >> 4 clamps
    EXPECT_EQ(out[6], 0);   // (180 - 250 - 0) >> 4 is negative
    EXPECT_EQ(out[9], 0);
}

} // namespace
