// The pixel kernels: exact values where a wrong constant would not show in a PSNR, and every
// packed form against the C form on random rows and blocks, odd sizes, guard bytes around dst.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/pixel_kernels.h"

namespace {

// The packed tables this processor can run.
std::vector<const CindrellKernels *> PackedTables()
{
    std::vector<const CindrellKernels *> t = {&kCindrellKernelsSse2};
    if (CindrellCpuHasAvx2()) {
        t.push_back(&kCindrellKernelsAvx2);
    }
    return t;
}

std::vector<const CindrellKernels *> AllTables()
{
    std::vector<const CindrellKernels *> t = PackedTables();
    t.insert(t.begin(), &kCindrellKernelsC);
    return t;
}

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

TEST(PixelKernelsTest, ColourConversionOfFlatRows)
{
    struct Case
    {
        uint8_t y;
        int16_t cr, cb;
        uint8_t b, g, r;
    };
    const Case cases[] = {
        {128, 0, 0, 148, 148, 148},   // (74 x 128) >> 6
        {100, 64, 0, 115, 63, 217},   // red (7400 + 102 x 64) >> 6, green (7400 - 52 x 64) >> 6
        {100, 0, 64, 244, 90, 115},   // blue (7400 + 129 x 64) >> 6, green (7400 - 25 x 64) >> 6
        {255, 100, 0, 255, 213, 255}, // red 454 clamps
        {255, 200, 0, 255, 132, 255}, // red 613: a 16-bit sum would wrap to black
        {255, 0, 255, 255, 195, 255}, // blue 808, the same
        {0, -200, 127, 255, 112, 0},  // red below 0 clamps; green (10400 - 3175) >> 6
        {0, 0, 0, 0, 0, 0},
        {200, -32768, 32767, 255, 255, 0}, // extreme samples: no wrap anywhere
    };
    for (const CindrellKernels *k : AllTables()) {
        for (const Case &c : cases) {
            const std::vector<uint8_t> work = WorkRow(48, 48, c.y, c.cr, c.cb);
            uint8_t bgrx[48 * 4];
            k->convertRow(bgrx, work.data(), 48, 48);
            for (int x = 0; x < 48; ++x) {
                const uint8_t expected[4] = {c.b, c.g, c.r, 0};
                ASSERT_EQ(0, std::memcmp(bgrx + 4 * x, expected, 4))
                    << k->name << " Y " << int(c.y) << " Cr " << c.cr << " Cb " << c.cb << " x "
                    << x;
            }
        }
    }
}

TEST(PixelKernelsTest, OddPixelsTakeTheMeanOfTwoColourSamples)
{
    std::vector<uint8_t> work = WorkRow(8, 8, 128, 0, 0);
    const int16_t cb[4] = {0, 64, 0, -64};
    std::memcpy(&work[16], cb, sizeof cb);
    // Blue (74 x 128 + 129 Cb) >> 6 for Cb 0, 32, 64 (277, clamped), 32, 0, -32, -64 and the
    // last pair's own sample again.
    const int expected[8] = {148, 212, 255, 212, 148, 83, 19, 19};
    for (const CindrellKernels *k : AllTables()) {
        uint8_t bgrx[32];
        k->convertRow(bgrx, work.data(), 8, 8);
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(bgrx[4 * x], expected[x]) << k->name << " " << x;
        }
    }
}

// The work picture's luminance and the fast decoding's colours for blocks of zeros: the two
// paths' gains and offsets show as exact values.
TEST(PixelKernelsTest, ZeroSamplesGiveTheOffsetGrey)
{
    alignas(16) int16_t zero[64 * 3] = {};
    for (const CindrellKernels *k : AllTables()) {
        uint8_t luma[64];
        k->workLuma(luma, 8, zero);
        EXPECT_EQ(std::vector<uint8_t>(luma, luma + 64), std::vector<uint8_t>(64, 112)) << k->name;
        alignas(16) uint8_t colours[64];
        k->fastColours(colours, zero, zero + 64, zero + 128);
        for (int i = 0; i < 16; ++i) {
            // (75 x 112) >> 6; the full decoding gives (74 x 112) >> 6 = 129.
            const uint8_t expected[4] = {131, 131, 131, 0};
            EXPECT_EQ(0, std::memcmp(colours + 4 * i, expected, 4)) << k->name << " " << i;
        }
    }
}

// Bright saturated colours of the fast decoding clamp instead of wrapping round to black: luma
// samples 127 give Y = (127 x 29 >> 5) + 112 = 227, and 75 x 227 + 129 x 127 = 33408 would wrap
// in 16 bits.
TEST(PixelKernelsTest, FastColoursClampBrightColours)
{
    struct Case
    {
        int16_t luma, cr, cb;
        uint8_t b, g, r;
    };
    const Case cases[] = {
        {127, 0, 127, 255, 216, 255},  // green (17025 - 3175) >> 6
        {127, 127, 0, 255, 162, 255},  // green (17025 - 6604) >> 6, red 33979 >> 6 clamps
        {-128, -128, -128, 0, 149, 0}, // Y = -116 + 112 = -4: green (-300 + 6656 + 3200) >> 6
    };
    for (const CindrellKernels *k : AllTables()) {
        for (const Case &c : cases) {
            alignas(16) int16_t blocks[3][64];
            std::fill(blocks[0], blocks[0] + 64, c.luma);
            std::fill(blocks[1], blocks[1] + 64, c.cr);
            std::fill(blocks[2], blocks[2] + 64, c.cb);
            alignas(16) uint8_t colours[64];
            k->fastColours(colours, blocks[0], blocks[1], blocks[2]);
            const uint8_t expected[4] = {c.b, c.g, c.r, 0};
            EXPECT_EQ(0, std::memcmp(colours + 20, expected, 4))
                << k->name << " " << c.luma << " " << c.cr << " " << c.cb << ": "
                << int(colours[20]) << " " << int(colours[21]) << " " << int(colours[22]);
        }
    }
}

// Alternating pixels 10, 200 (blue) and 30, 90 (green): interior outputs whose values differ
// for any other taps.
std::vector<uint8_t> AlternatingRow(int pixels)
{
    std::vector<uint8_t> row(size_t(pixels) * 4, 0);
    for (int i = 0; i < pixels; ++i) {
        row[4 * i] = i % 2 ? 200 : 10;
        row[4 * i + 1] = i % 2 ? 90 : 30;
    }
    return row;
}

TEST(PixelKernelsTest, InteriorWideningOutputs)
{
    struct Case
    {
        int pixels; // 1280: 2 to 3, else 3 to 4
        int output;
        uint8_t blue, green;
    };
    const Case cases[] = {
        {1280, 30, 42, 40},  // (11 x 200 + 53 x 10) >> 6, (11 x 90 + 53 x 30) >> 6
        {1280, 31, 105, 60}, // (10 + 200 + 1) >> 1
        {1280, 32, 167, 79}, // (53 x 200 + 11 x 10) >> 6
        {960, 40, 33, 37},   // (200 + 7 x 10) >> 3
        {960, 41, 128, 67},  // (3 x 10 + 5 x 200) >> 3
        {960, 42, 128, 67},  // (5 x 200 + 3 x 10) >> 3
        {960, 43, 33, 37},   // (7 x 10 + 200) >> 3
        {1440, 1001, 128, 67},
    };
    for (const CindrellKernels *k : AllTables()) {
        for (const Case &c : cases) {
            const std::vector<uint8_t> in = AlternatingRow(c.pixels);
            const int w = c.pixels == 1280 ? 1920 : c.pixels * 4 / 3;
            std::vector<uint8_t> out(size_t(w) * 4);
            if (c.pixels == 1280) {
                k->widen2to3(out.data(), in.data(), c.pixels);
            } else {
                k->widen3to4(out.data(), in.data(), c.pixels, w);
            }
            EXPECT_EQ(out[4 * c.output], c.blue) << k->name << " " << c.pixels << " " << c.output;
            EXPECT_EQ(out[4 * c.output + 1], c.green)
                << k->name << " " << c.pixels << " " << c.output;
        }
    }
}

std::vector<uint8_t> Ramp(int pixels)
{
    std::vector<uint8_t> row(size_t(pixels) * 4, 0);
    for (int i = 0; i < pixels; ++i) {
        row[4 * i] = uint8_t(i);
        row[4 * i + 1] = uint8_t(255 - i % 256);
        row[4 * i + 2] = uint8_t((i * 7) % 256);
    }
    return row;
}

TEST(PixelKernelsTest, FlatRowsStayFlat)
{
    for (const CindrellKernels *k : AllTables()) {
        for (int pixels : {960, 1280, 1440}) {
            std::vector<uint8_t> flat(size_t(pixels) * 4, 77), sharp(flat.size());
            SharpenRow_c(sharp.data(), flat.data(), pixels);
            k->sharpenRow(sharp.data(), flat.data(), pixels);
            EXPECT_EQ(sharp, flat) << k->name;
            const int out = pixels == 1280 ? 1920 : pixels * 4 / 3;
            std::vector<uint8_t> wide(size_t(out) * 4, 0);
            if (pixels == 1280) {
                k->widen2to3(wide.data(), sharp.data(), pixels);
            } else {
                k->widen3to4(wide.data(), sharp.data(), pixels, out);
            }
            EXPECT_EQ(wide, std::vector<uint8_t>(wide.size(), 77)) << k->name << " " << pixels;
        }
    }
}

TEST(PixelKernelsTest, WideningRowEnds)
{
    for (const CindrellKernels *k : AllTables()) {
        const std::vector<uint8_t> in = Ramp(1280);
        std::vector<uint8_t> out(1920 * 4);
        k->widen2to3(out.data(), in.data(), 1280);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(out[c], in[c]) << k->name; // 11 p[0] + 53 p[0]
            EXPECT_EQ(out[4 + c], (in[c] + in[4 + c] + 1) >> 1) << k->name;
            // The last pair's third output uses the last pixel for the one past the end.
            EXPECT_EQ(out[4 * 1919 + c], in[4 * 1279 + c]) << k->name;
        }
        for (int pixels : {960, 1440}) {
            const std::vector<uint8_t> ramp = Ramp(pixels);
            const int w = pixels * 4 / 3;
            std::vector<uint8_t> wide(size_t(w) * 4);
            k->widen3to4(wide.data(), ramp.data(), pixels, w);
            const int tail[4] = {pixels - 3, pixels - 2, pixels - 1, pixels - 1};
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(
                    0, std::memcmp(&wide[size_t(4 * (w - 4 + i))], &ramp[size_t(4 * tail[i])], 4))
                    << k->name << " " << pixels << " output " << w - 4 + i;
            }
            EXPECT_EQ(0, std::memcmp(wide.data(), ramp.data(), 4)) << k->name; // p[-1] is p[0]
        }
    }
}

TEST(PixelKernelsTest, SharpeningClampsAndKeepsTheEnds)
{
    const uint8_t row[16] = {10, 10, 10, 0, 250, 250, 250, 0, 10, 10, 10, 0, 0, 0, 0, 0};
    for (const CindrellKernels *k : AllTables()) {
        uint8_t out[16];
        k->sharpenRow(out, row, 4);
        EXPECT_EQ(out[0], 10) << k->name;
        EXPECT_EQ(out[4], 255) << k->name; // (4500 - 20) >> 4 clamps
        EXPECT_EQ(out[8], 0) << k->name;   // (180 - 250 - 0) >> 4 is negative
        EXPECT_EQ(out[12], 0) << k->name;
    }
}

// Random bytes from the C runtime's generator.
struct Random
{
    uint32_t state;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return int(state >> 16) & 0x7fff;
    }
    int16_t Sample()
    {
        // Mostly real colour differences, sometimes anything.
        return Next() % 8 == 0 ? int16_t(Next() * 2 - 32768) : int16_t(Next() % 512 - 256);
    }
};

constexpr int kGuard = 48;
constexpr uint8_t kGuardByte = 0xa5;

// dst of `bytes` between guards; returns true when the guards are untouched.
struct Guarded
{
    explicit Guarded(size_t bytes)
        : buffer(bytes + 2 * kGuard, kGuardByte)
        , size(bytes)
    {}
    uint8_t *data() { return buffer.data() + kGuard; }
    bool GuardsIntact() const
    {
        for (int i = 0; i < kGuard; ++i) {
            if (buffer[size_t(i)] != kGuardByte
                || buffer[kGuard + size + size_t(i)] != kGuardByte) {
                return false;
            }
        }
        return true;
    }
    std::vector<uint8_t> Contents() const
    {
        return std::vector<uint8_t>(buffer.begin() + kGuard,
                                    buffer.begin() + kGuard + ptrdiff_t(size));
    }
    std::vector<uint8_t> buffer;
    size_t size;
};

TEST(PixelKernelsTest, PackedRowKernelsEqualC)
{
    Random rng{7};
    for (const CindrellKernels *k : PackedTables()) {
        // Colour conversion: coded widths of every remainder, in pictures of either width.
        for (int coded : {2, 8, 14, 16, 18, 30, 34, 46, 64, 98, 960, 1280, 1440}) {
            for (int width : {coded, coded + 6}) {
                std::vector<uint8_t> work(size_t(width) * 3);
                for (int x = 0; x < width; ++x) {
                    work[size_t(x)] = uint8_t(rng.Next());
                }
                for (int i = 0; i < width; ++i) {
                    const int16_t v = rng.Sample();
                    std::memcpy(&work[size_t(width) + 2 * size_t(i / 2) + size_t(width) * (i % 2)],
                                &v, 2);
                }
                Guarded a(size_t(coded) * 4), b(size_t(coded) * 4);
                ConvertRowToBgrx_c(a.data(), work.data(), width, coded);
                k->convertRow(b.data(), work.data(), width, coded);
                ASSERT_TRUE(b.GuardsIntact()) << k->name << " convert " << coded;
                ASSERT_EQ(a.Contents(), b.Contents()) << k->name << " convert " << coded;
            }
        }
        for (int pixels : {2, 3, 5, 6, 9, 12, 17, 33, 100, 960, 1280, 1440}) {
            std::vector<uint8_t> src(size_t(pixels) * 4);
            for (uint8_t &v : src) {
                v = uint8_t(rng.Next());
            }
            Guarded a(src.size()), b(src.size());
            SharpenRow_c(a.data(), src.data(), pixels);
            k->sharpenRow(b.data(), src.data(), pixels);
            ASSERT_TRUE(b.GuardsIntact()) << k->name << " sharpen " << pixels;
            ASSERT_EQ(a.Contents(), b.Contents()) << k->name << " sharpen " << pixels;

            Guarded pa(size_t(pixels) * 3), pb(size_t(pixels) * 3);
            PackBgr_c(pa.data(), src.data(), pixels);
            k->packBgr(pb.data(), src.data(), pixels);
            ASSERT_TRUE(pb.GuardsIntact()) << k->name << " pack " << pixels;
            ASSERT_EQ(pa.Contents(), pb.Contents()) << k->name << " pack " << pixels;

            if (pixels % 2 == 0 && pixels >= 4) {
                Guarded wa(size_t(pixels) * 3 / 2 * 4), wb(size_t(pixels) * 3 / 2 * 4);
                WidenRow2to3_c(wa.data(), src.data(), pixels);
                k->widen2to3(wb.data(), src.data(), pixels);
                ASSERT_TRUE(wb.GuardsIntact()) << k->name << " 2 to 3 " << pixels;
                ASSERT_EQ(wa.Contents(), wb.Contents()) << k->name << " 2 to 3 " << pixels;
            }
            if (pixels % 3 == 0 && pixels >= 6) {
                const int out = pixels * 4 / 3;
                Guarded wa(size_t(out) * 4), wb(size_t(out) * 4);
                WidenRow3to4_c(wa.data(), src.data(), pixels, out);
                k->widen3to4(wb.data(), src.data(), pixels, out);
                ASSERT_TRUE(wb.GuardsIntact()) << k->name << " 3 to 4 " << pixels;
                ASSERT_EQ(wa.Contents(), wb.Contents()) << k->name << " 3 to 4 " << pixels;
            }
        }
    }
}

TEST(PixelKernelsTest, PackedBlockKernelsEqualC)
{
    Random rng{99};
    for (const CindrellKernels *k : PackedTables()) {
        for (int trial = 0; trial < 2000; ++trial) {
            alignas(16) int16_t blocks[3][64];
            for (auto &block : blocks) {
                for (int16_t &v : block) {
                    v = trial % 4 == 3 ? int16_t(rng.Next() * 2 - 32768) : rng.Sample();
                }
            }
            // Luminance rows at a field stride, bottom-up.
            Guarded a(8 * 32), b(8 * 32);
            WorkLuma_c(a.data() + 7 * 32, -32, blocks[0]);
            k->workLuma(b.data() + 7 * 32, -32, blocks[0]);
            ASSERT_TRUE(b.GuardsIntact()) << k->name;
            ASSERT_EQ(a.Contents(), b.Contents()) << k->name << " luma " << trial;
            // The colour rows start at sample 0 or 4 of the colour blocks.
            const int half = trial % 2 * 4;
            Guarded ca(64), cb(64);
            FastColours_c(ca.data(), blocks[0], blocks[1] + half, blocks[2] + half);
            k->fastColours(cb.data(), blocks[0], blocks[1] + half, blocks[2] + half);
            ASSERT_TRUE(cb.GuardsIntact()) << k->name;
            ASSERT_EQ(ca.Contents(), cb.Contents()) << k->name << " colours " << trial;

            // The colours repeated over a block's columns, as many as asked, into lines of a
            // picture either way up.
            for (auto [columns, count] :
                 {std::pair{8, 8}, {11, 10}, {11, 11}, {12, 10}, {12, 12}}) {
                for (int stride : {40, -40}) {
                    Guarded la(8 * 40), lb(8 * 40);
                    uint8_t *first = stride > 0 ? la.data() : la.data() + 7 * 40;
                    ExpandColours_c(first, stride, ca.data(), columns, count);
                    k->expandColours(stride > 0 ? lb.data() : lb.data() + 7 * 40, stride, ca.data(),
                                     columns, count);
                    ASSERT_TRUE(lb.GuardsIntact()) << k->name;
                    ASSERT_EQ(la.Contents(), lb.Contents())
                        << k->name << " expand " << columns << " " << count;
                }
            }
            // One block, and three (a pair and one) for the forms that take two at a time.
            const int count = trial % 2 ? 1 : 3;
            alignas(16) int16_t ia[3 * 64], ib[3 * 64];
            std::memcpy(ia, blocks, sizeof ia);
            std::memcpy(ib, blocks, sizeof ib);
            IdctBlocksC(ia, count);
            k->idct(ib, count);
            ASSERT_EQ(0, std::memcmp(ia, ib, sizeof ia)) << k->name << " idct " << trial;
        }
    }
}

} // namespace
