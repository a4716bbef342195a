#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/engine_hooks.h"
#include "engine/frame_store.h"
#include "engine/internal/row_bands.h"
#include "platform/sys/worker_pool.h"
#include "tests/engine/engine_test_util.h"

namespace {

class DeinterlaceTest : public EngineTest
{
protected:
    void FillSlot(int slot, uint8_t v)
    {
        std::memset(gFrameStore.inputFrames[slot], v, gFrameStore.frameHeight * RowBytes());
    }
    int32_t &Map(int slot, int y, int x)
    {
        return gFrameStore.motionMaps[slot][(y / 2) * gFrameStore.frameWidth + x];
    }
};

TEST_F(DeinterlaceTest, MotionWeightTable)
{
    struct Row
    {
        int sensitivity;
        int32_t mapValue;
        int weight;
    } rows[] = {
        {50, 0, 0},      {50, 807, 0},       {50, 808, 1},    {50, 1600, 100}, {50, 2839, 254},
        {50, 2840, 255}, {50, 1 << 24, 255}, {0, 1 << 24, 0}, {100, 808, 102}, {1000, 48, 20},
    };
    UseGeometry(16, 8, false);
    for (const Row &r : rows) {
        gConversionOptions.motionSensitivity = r.sensitivity;
        Map(1, 4, 5) = r.mapValue;
        EXPECT_EQ(DeinterlaceWeight(4, 5, 1), r.weight) << r.sensitivity << " " << r.mapValue;
        EXPECT_EQ(DeinterlaceWeight(5, 5, 1), r.weight) << "the map row serves a line pair";
    }
}

TEST_F(DeinterlaceTest, MaskSelection)
{
    UseGeometry(16, 8, true);
    Map(1, 4, 8) = 1600; // motion weight 100
    struct Row
    {
        int showMotion;
        int showLine;
        int detector;
        int weight;
    } rows[] = {
        {0, 0, 0, 100},
        {1, 0, 0, 100},
        {0, 1, 0, 0},
        {1, 1, 0, 100},
        // With the detector on over a flat frame the line value is 0.
        {0, 1, 1, 0},
        {0, 0, 1, 100},
        {1, 0, 1, 100},
    };
    for (const Row &r : rows) {
        gConversionOptions.showMotionMask = r.showMotion;
        gConversionOptions.showLineMask = r.showLine;
        gConversionOptions.lineDetectorOn = r.detector;
        EXPECT_EQ(DeinterlaceWeight(4, 8, 1), r.weight) << r.showMotion << r.showLine << r.detector;
    }
}

// Horizontal stripes in the kept field: lines 0 mod 4 white. The detector sees them two lines
// above and below an odd line and holds the interpolation back.
TEST_F(DeinterlaceTest, LineDetectorValuesAndEdges)
{
    constexpr int kW = 24;
    constexpr int kH = 16;
    UseGeometry(kW, kH, true);
    gConversionOptions.lineDetectorOn = 1;
    uint8_t *f = gFrameStore.inputFrames[1];
    for (int y = 0; y < kH; y++) {
        for (int x = 0; x < kW; x++) {
            f[(y * kW + x) * 2] = (y % 4 == 0) ? 255 : 0;
            f[(y * kW + x) * 2 + 1] = 128;
        }
    }
    for (int y = 0; y < kH; y++) {
        for (int x = 0; x < kW; x++) {
            Map(1, y, x) = 2840; // motion weight 255
        }
    }
    // Lines 5: rows 2 (black), 4 (white), 6 (black): |sum| 7 x 255 / 7 = 255, doubled, clamped.
    for (int x = 0; x < kW; x++) {
        DeinterlaceWeight(5, x, 1);
        const int32_t v = gFrameStore.lineMaskSum[2 * kW + x];
        const bool inside = x >= 4 && x <= kW - 5;
        EXPECT_EQ(v, inside ? 255 : 0) << "column " << x;
    }
    // The first three lines get line value 0.
    DeinterlaceWeight(2, 10, 1);
    EXPECT_EQ(gFrameStore.lineMaskSum[1 * kW + 10], 0);

    // The previous run's values (lineMask) scale the hold-back: s = 60 + 60 + 60, L = 180 x 255
    // / 256 = 179, weight = (256 - 179) x 255 >> 8 = 76.
    for (int r = 0; r < kH / 2; r++) {
        gFrameStore.lineMask[r * kW + 10] = 60;
    }
    EXPECT_EQ(DeinterlaceWeight(5, 10, 1), 76);
    gConversionOptions.showLineMask = 1;
    EXPECT_EQ(DeinterlaceWeight(5, 10, 1), 179);
}

// A line value that DeinterlaceWeight writes on its own reaches lineMask at the end of the next
// run, which copies the whole of lineMaskSum into lineMask; the values the runs before it left
// stay as they are.
TEST_F(DeinterlaceTest, LineValueOutsideARunReachesTheNextRun)
{
    constexpr int kW = 24;
    constexpr int kH = 16;
    UseGeometry(kW, kH, true);
    uint8_t *f = gFrameStore.inputFrames[1];
    for (int y = 0; y < kH; y++) {
        for (int x = 0; x < kW; x++) {
            f[(y * kW + x) * 2] = static_cast<uint8_t>((y % 4 == 0) ? 250 - 9 * x : 3 * x);
            f[(y * kW + x) * 2 + 1] = 128;
        }
    }
    // A run without the detector takes in any value written on its own before this test.
    DeinterlaceField(2, 1, 0);
    std::memset(gFrameStore.lineMask, 0, kMapBytes);
    std::memset(gFrameStore.lineMaskSum, 0, kMapBytes);
    gConversionOptions.lineDetectorOn = 1;
    DeinterlaceField(2, 1, 0);
    const std::vector<int32_t> before(gFrameStore.lineMask, gFrameStore.lineMask + kH / 2 * kW);
    ASSERT_GT(*std::max_element(before.begin(), before.end()), 0);
    // Line 6 (row 3) of a frame whose kept field is flat there: line value 0.
    for (int x = 0; x < kW; x++) {
        for (int y : {3, 5, 7}) {
            f[(y * kW + x) * 2] = 90;
        }
    }
    DeinterlaceWeight(6, 10, 1);
    gConversionOptions.lineDetectorOn = 0;
    DeinterlaceField(2, 1, 0);
    std::vector<int32_t> want = before;
    want[3 * kW + 10] = 0;
    ASSERT_NE(before[3 * kW + 10], 0);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), gFrameStore.lineMask));
}

// The neighbourhood stays inside the half-height map: at the last map row only that row counts,
// whatever lies beyond it.
TEST_F(DeinterlaceTest, LineNeighbourhoodStaysInsideTheMap)
{
    constexpr int kW = 16;
    constexpr int kH = 8;
    UseGeometry(kW, kH, true);
    gConversionOptions.lineDetectorOn = 1;
    gConversionOptions.showLineMask = 1;
    uint8_t *f = gFrameStore.inputFrames[1];
    for (int y = 0; y < kH; y++) {
        for (int x = 0; x < kW; x++) {
            f[(y * kW + x) * 2] = (y == 5) ? 255 : 0; // line 5 bright: y = 6 sees rows 3, 5, 7
            f[(y * kW + x) * 2 + 1] = 128;
        }
    }
    gFrameStore.lineMask[2 * kW + 8] = 100; // row 2, inside
    gFrameStore.lineMask[3 * kW + 8] = 50;  // row 3, the last row of the map
    gFrameStore.lineMask[4 * kW + 8] = 255; // beyond the map: stale
    // v = 255, s = row 3 alone = 50: L = 50 x 255 / 256 = 49.
    EXPECT_EQ(DeinterlaceWeight(6, 8, 1), 49);
}

TEST_F(DeinterlaceTest, MotionMapsOnBothScales)
{
    for (bool yuv : {false, true}) {
        SCOPED_TRACE(yuv);
        UseGeometry(8, 10, yuv);
        FillSlot(0, 0);
        FillSlot(1, 10);
        FillSlot(2, 0);
        if (yuv) {
            // Colour differences do not count in YUV.
            for (int i = 1; i < 8 * 10 * 2; i += 2) {
                gFrameStore.inputFrames[1][i] = 200;
            }
        }
        std::memset(gFrameStore.motionMaps[1], 0x7f, kMapBytes / 64);
        MotionMap(0, 1, 2);
        // Lines 2..7 in pairs: rows 1..3; rows 0 and 4 are not visited.
        EXPECT_EQ(Map(1, 0, 3), 0x7f7f7f7f);
        for (int y = 2; y < 8; y += 2) {
            EXPECT_EQ(Map(1, y, 3), 1200);
        }
        EXPECT_EQ(Map(1, 8, 3), 0x7f7f7f7f);
    }
}

TEST_F(DeinterlaceTest, FullWeightFieldIsTheAverageOfItsNeighbours)
{
    constexpr int kW = 4;
    constexpr int kH = 12;
    for (int field : {1, 2}) {
        SCOPED_TRACE(field);
        UseGeometry(kW, kH, false);
        uint8_t *f = gFrameStore.inputFrames[1];
        for (int y = 0; y < kH; y++) {
            std::memset(f + y * kW * 3, y * 20, kW * 3);
        }
        DeinterlaceField(field, 1, 1);
        for (int y = 0; y < kH; y++) {
            const bool rebuilt =
                (field == 1) ? (y % 2 == 0 && y >= 2 && y <= kH - 2) : (y % 2 == 1 && y <= kH - 3);
            const int expected = rebuilt ? ((y - 1) * 20 + (y + 1) * 20) / 2 : y * 20;
            EXPECT_EQ(f[y * kW * 3 + 5], expected) << "line " << y;
        }
    }
}

// With the crop on a 1080-line frame the range starts two lines above the bar, rounded to an
// even line, so each field stays on its own lines.
TEST_F(DeinterlaceTest, CropRangeKeepsFieldParity)
{
    constexpr int kW = 2;
    constexpr int kH = 1080;
    gConversionOptions.cropLetterbox = 1;
    for (int field : {1, 2}) {
        SCOPED_TRACE(field);
        UseGeometry(kW, kH, false);
        uint8_t *f = gFrameStore.inputFrames[1];
        for (int y = 0; y < kH; y++) {
            std::memset(f + y * kW * 3, (y % 2) ? 200 : 100, kW * 3);
        }
        std::vector<uint8_t> before(f, f + kH * kW * 3);
        DeinterlaceField(field, 1, 1);
        int firstChanged = -1;
        int lastChanged = -1;
        for (int y = 0; y < kH; y++) {
            if (std::memcmp(f + y * kW * 3, &before[y * kW * 3], kW * 3) != 0) {
                EXPECT_EQ(y % 2, field == 1 ? 0 : 1) << "line " << y << " is in the other field";
                if (firstChanged < 0) {
                    firstChanged = y;
                }
                lastChanged = y;
            }
        }
        EXPECT_EQ(firstChanged, field == 1 ? 134 : 133);
        EXPECT_EQ(lastChanged, field == 1 ? 946 : 945);
    }
}

TEST_F(DeinterlaceTest, MotionMaskPaintsBothFieldsGrey)
{
    constexpr int kW = 6;
    constexpr int kH = 10;
    UseGeometry(kW, kH, false);
    gConversionOptions.showMotionMask = 1;
    FillSlot(1, 77);
    for (int y = 0; y < kH; y++) {
        for (int x = 0; x < kW; x++) {
            Map(1, y, x) = (y / 2 + 1) * 808; // weights 1, 102, 203, 255, 255
        }
    }
    DeinterlaceField(2, 1, 0);
    const uint8_t *f = gFrameStore.inputFrames[1];
    // Odd lines 1..7 are painted and each copied onto the line above.
    const int expected[kH] = {1, 1, 102, 102, 203, 203, 255, 255, 77, 77};
    for (int y = 0; y < kH; y++) {
        EXPECT_EQ(f[y * kW * 3 + 4], expected[y]) << "line " << y;
    }
}

TEST_F(DeinterlaceTest, FilteredCopyFromAnotherSlot)
{
    constexpr int kW = 3;
    constexpr int kH = 8;
    UseGeometry(kW, kH, false);
    uint8_t *src = gFrameStore.inputFrames[2];
    for (int y = 0; y < kH; y++) {
        std::memset(src + y * kW * 3, (y % 2) ? 200 : 40, kW * 3);
    }
    FillSlot(1, 9);
    // No motion: a plain copy of lines 1..6; lines 0 and 7 keep their old content.
    DeinterlaceFromFrame(1, 2, 0);
    const uint8_t *dst = gFrameStore.inputFrames[1];
    for (int y = 0; y < kH; y++) {
        const int expected = (y == 0 || y == kH - 1) ? 9 : src[y * kW * 3];
        EXPECT_EQ(dst[y * kW * 3 + 2], expected) << "line " << y;
    }
    // Full weight: (a + 2b + c) >> 2.
    DeinterlaceFromFrame(1, 2, 1);
    EXPECT_EQ(dst[1 * kW * 3], (40 + 400 + 40) >> 2);
    EXPECT_EQ(dst[2 * kW * 3], (200 + 80 + 200) >> 2);
}

// The per-pixel rules, one pixel at a time: DeinterlaceWeight_c for each pixel of the run's lines,
// the blend, then the run's line values copied for the next run.
void BlendByThePixelRules(const WeightContext &c, const FrameView &dst, bool field, int first,
                          int last)
{
    const FrameView &f = c.frame;
    const int bpp = f.bytesPerPixel;
    for (int y = first; y <= last; y += 2) {
        for (int x = 0; x < f.width; x++) {
            const int w = DeinterlaceWeight_c(c, y, x);
            for (int t = y; t <= (field ? y : y + 1); t++) {
                for (int b = 0; b < bpp; b++) {
                    const int at = x * bpp + b;
                    const int own = f.Row(t)[at];
                    const int filtered = field
                                             ? (f.Row(t - 1)[at] + f.Row(t + 1)[at]) >> 1
                                             : (f.Row(t - 1)[at] + 2 * own + f.Row(t + 1)[at]) >> 2;
                    dst.Row(t)[at] = static_cast<uint8_t>((filtered * w + own * (256 - w)) >> 8);
                }
            }
        }
    }
    std::copy_n(c.lineMaskSum, (f.height / 2) * f.width, c.lineMask);
}

// Runs with the line detector, one after another so that each sees the line values of the run
// before, cut into row bands on several threads: what the pixel rules give, byte for byte.
TEST_F(DeinterlaceTest, RunsWithTheLineDetectorFollowThePixelRules)
{
    struct Case
    {
        int width;
        int height;
        bool yuv;
        bool crop;
    };
    lc::WorkerPool pool(8);
    static lc::WorkerPool *runPool;
    runPool = &pool;
    // Frames this small are cut into row bands as the largest are.
    gMinBandBytes = 0;
    for (const Case &k : {Case{45, 70, false, false}, Case{45, 70, true, true},
                          Case{720, 96, true, false}, Case{100, 160, false, true}}) {
        for (int threads : {1, 8}) {
            SCOPED_TRACE(testing::Message() << k.width << "x" << k.height << (k.yuv ? " yuv" : "")
                                            << (k.crop ? " crop " : " ") << threads);
            pool.Resize(threads);
            gEngineHooks.parallelFor = [](int count, const std::function<void(int)> &task) {
                runPool->Run(count, task);
            };
            gEngineHooks.workerThreads = [] { return runPool->Threads(); };
            UseGeometry(k.width, k.height, k.yuv);
            gConversionOptions.lineDetectorOn = 1;
            gConversionOptions.motionSensitivity = 90;
            gConversionOptions.cropLetterbox = k.crop;
            // Fine horizontal detail and motion everywhere; line values left by an earlier run.
            std::mt19937 rng(5);
            const size_t frameBytes = RowBytes() * k.height;
            for (int s = 0; s < kSlotCount; s++) {
                for (size_t i = 0; i < frameBytes; i++) {
                    const size_t y = i / RowBytes();
                    gFrameStore.inputFrames[s][i] =
                        static_cast<uint8_t>((y % 3 == 0 ? 200 : 30) + rng() % 40);
                }
            }
            MotionMapsOfGroup(5);
            const size_t values = static_cast<size_t>(k.height / 2) * k.width;
            for (size_t i = 0; i < values; i++) {
                gFrameStore.lineMask[i] = gFrameStore.lineMaskSum[i] =
                    static_cast<int32_t>(rng() % 120);
            }
            const size_t mapBytes = values * sizeof(int32_t);
            std::vector<uint8_t> start(frameBytes * kSlotCount + 2 * mapBytes);
            // After a run every reader takes the line values from lineMask; lineMaskSum is kept
            // only as the runs start from.
            auto save = [&](std::vector<uint8_t> &to, bool sums) {
                for (int s = 0; s < kSlotCount; s++) {
                    std::memcpy(to.data() + s * frameBytes, gFrameStore.inputFrames[s], frameBytes);
                }
                std::memcpy(to.data() + kSlotCount * frameBytes, gFrameStore.lineMask, mapBytes);
                if (sums) {
                    std::memcpy(to.data() + kSlotCount * frameBytes + mapBytes,
                                gFrameStore.lineMaskSum, mapBytes);
                }
            };
            auto restore = [&](const std::vector<uint8_t> &from) {
                for (int s = 0; s < kSlotCount; s++) {
                    std::memcpy(gFrameStore.inputFrames[s], from.data() + s * frameBytes,
                                frameBytes);
                }
                std::memcpy(gFrameStore.lineMask, from.data() + kSlotCount * frameBytes, mapBytes);
                std::memcpy(gFrameStore.lineMaskSum,
                            from.data() + kSlotCount * frameBytes + mapBytes, mapBytes);
            };
            save(start, true);
            DeinterlaceField(2, 1, 0);
            DeinterlaceFromFrame(4, 2, 0);
            DeinterlaceField(1, 3, 0);
            std::vector<uint8_t> got(start.size());
            save(got, false);

            restore(start);
            const int h = k.height;
            const int top = k.crop ? std::max(0, h / 8 - 2) & ~1 : 0;
            const int bottom = k.crop ? h - top : h;
            BlendByThePixelRules(SlotWeightContext(1), SlotView(1), true, top + 1, bottom - 3);
            const int fromTop = k.crop ? std::max(1, h / 8) : 1;
            int fromLast = fromTop;
            for (int y = fromTop; y <= (k.crop ? h - h / 8 : h - 2) && y + 2 < h; y += 2) {
                fromLast = y;
            }
            BlendByThePixelRules(SlotWeightContext(2), SlotView(4), false, fromTop, fromLast);
            BlendByThePixelRules(SlotWeightContext(3), SlotView(3), true, top + 2, bottom - 2);
            std::vector<uint8_t> want(start.size());
            save(want, false);
            EXPECT_TRUE(got == want);
        }
    }
    gEngineHooks.parallelFor = nullptr;
    gEngineHooks.workerThreads = nullptr;
    gMinBandBytes = kMinBandBytes;
}

TEST_F(DeinterlaceTest, FieldAndFrameCopies)
{
    UseGeometry(2, 6, false);
    FillSlot(0, 1);
    FillSlot(1, 2);
    CopyFieldLines(gFrameStore.inputFrames, 0, 1, 1);
    const uint8_t *f = gFrameStore.inputFrames[0];
    for (int y = 0; y < 6; y++) {
        EXPECT_EQ(f[y * 6], (y % 2) ? 2 : 1);
    }
    // CopyFrame covers frameHeight lines, or sourceHeight with 2:3:3:2 removal.
    FillSlot(0, 0);
    FillSlot(1, 5);
    gFrameStore.frameHeight = 2;
    CopyFrame(gFrameStore.inputFrames[0], gFrameStore.inputFrames[1]);
    EXPECT_EQ(f[1 * 6], 5);
    EXPECT_EQ(f[2 * 6], 0);
    gConversionOptions.pulldown2332To25P = 1;
    CopyFrame(gFrameStore.inputFrames[0], gFrameStore.inputFrames[1]);
    EXPECT_EQ(f[5 * 6], 5);
    EXPECT_EQ(AbsInt(-7), 7);
}

} // namespace
