#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "engine/picture_effects.h"
#include "platform/sys/random.h"
#include "tests/engine/engine_test_util.h"

namespace {

class PictureEffectsTest : public EngineTest
{
protected:
    // Every byte of line y is y + 1 (so no line is black to start with).
    void LineNumbers(int slot)
    {
        const FrameStore &fs = gFrameStore;
        for (uint32_t y = 0; y < fs.frameHeight; y++) {
            std::memset(fs.inputFrames[slot] + y * RowBytes(), static_cast<int>(y % 250 + 1),
                        RowBytes());
        }
    }
    bool IsBlackLine(int slot, int y)
    {
        const uint8_t *row = gFrameStore.inputFrames[slot] + y * RowBytes();
        for (size_t i = 0; i < RowBytes(); i++) {
            const uint8_t black = (gFrameStore.yuvActive && (i % 2)) ? 128 : 0;
            if (row[i] != black) {
                return false;
            }
        }
        return true;
    }
    std::vector<int> BlackLines(int slot)
    {
        std::vector<int> lines;
        for (uint32_t y = 0; y < gFrameStore.frameHeight; y++) {
            if (IsBlackLine(slot, static_cast<int>(y))) {
                lines.push_back(static_cast<int>(y));
            }
        }
        return lines;
    }
};

std::vector<int> Span(int first, int last)
{
    std::vector<int> v;
    for (int i = first; i <= last; i++) {
        v.push_back(i);
    }
    return v;
}

std::vector<int> Join(std::vector<int> a, const std::vector<int> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(PictureEffectsTest, LetterboxBars)
{
    for (bool yuv : {false, true}) {
        SCOPED_TRACE(yuv);
        UseGeometry(8, 480, yuv);
        LineNumbers(1);
        CropToLetterbox(1);
        EXPECT_EQ(BlackLines(1), Join(Span(0, 59), Span(420, 479)));
        // Lines between keep their content.
        EXPECT_EQ(gFrameStore.inputFrames[1][60 * RowBytes()], 61);

        LineNumbers(1);
        SqueezeToLetterbox(1);
        EXPECT_EQ(BlackLines(1), Join(Span(0, 60), Span(419, 479)));
        // Line 61 is the second squeezed line: source 4/3, line 1 plus a third of the way to 2.
        EXPECT_EQ(gFrameStore.inputFrames[1][61 * RowBytes()], 2 + (1 * 1) / 3);
        // Line 62: acc 8, source line 2 plus two thirds: 3 + (1 x 2) / 3 = 3.
        EXPECT_EQ(gFrameStore.inputFrames[1][62 * RowBytes()], 3);
        // Line 418: acc 1432: line 477 (value 228) and a third of the way to the next.
        EXPECT_EQ(gFrameStore.inputFrames[1][418 * RowBytes()], 228);
    }
}

// Heights with h mod 8 of 5 or more: the last squeezed line falls on the frame's last line and
// would take its lower neighbour from below the frame.
TEST_F(PictureEffectsTest, SqueezeReadsNothingPastTheFrame)
{
    for (int h : {37, 101, 1085}) {
        SCOPED_TRACE(h);
        TestFrame f(5, h, 3);
        for (int y = 0; y < h; y++) {
            std::memset(f.view.Row(y), y / 8 + 10, 15);
        }
        std::vector<uint8_t> scratch(static_cast<size_t>(h) * f.view.pitch); // exact size
        SqueezeToLetterbox_c(f.view, scratch.data());
        const int last = h - h / 8 - 2; // the last line above the lower bar
        EXPECT_EQ(f.At(4, last, 2), (h - 1) / 8 + 10);
    }
}

TEST_F(PictureEffectsTest, FlickerTable)
{
    struct Row
    {
        int level;
        int above; // line 4 after an impulse of 140 on line 5
        int centre;
        int below;
    } rows[] = {
        {0, 0, 140, 0},  {1, 23, 93, 23}, {2, 28, 84, 28}, {3, 35, 70, 35},
        {4, 40, 60, 40}, {5, 40, 60, 40}, {-1, 0, 140, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.level);
        UseGeometry(3, 12, false);
        std::memset(gFrameStore.inputFrames[1], 0, 12 * RowBytes());
        std::memset(gFrameStore.inputFrames[1] + 5 * RowBytes(), 140, RowBytes());
        RemoveFlicker(1, r.level);
        const uint8_t *f = gFrameStore.inputFrames[1];
        EXPECT_EQ(f[4 * RowBytes() + 1], r.above);
        EXPECT_EQ(f[5 * RowBytes() + 1], r.centre);
        EXPECT_EQ(f[6 * RowBytes() + 1], r.below);
    }
    // The first and last line are never filtered.
    UseGeometry(3, 4, false);
    std::memset(gFrameStore.inputFrames[1], 0, 4 * RowBytes());
    std::memset(gFrameStore.inputFrames[1] + 1 * RowBytes(), 140, 2 * RowBytes());
    RemoveFlickerBuffer(gFrameStore.inputFrames[1], 4);
    EXPECT_EQ(gFrameStore.inputFrames[1][0], 0);
    EXPECT_EQ(gFrameStore.inputFrames[1][3 * RowBytes()], 0);
    EXPECT_EQ(gFrameStore.inputFrames[1][1 * RowBytes()], (3 * 140 + 2 * 140) / 7);
}

TEST_F(PictureEffectsTest, GrainIsNearGaussianWithTheChosenSpread)
{
    for (int amount : {1, 4, 30}) {
        SCOPED_TRACE(amount);
        gConversionOptions.grainAmount = amount;
        BuildGrainTable();
        double sum = 0;
        double squares = 0;
        for (int i = 0; i < kNoiseTableSize; i++) {
            sum += gFrameStore.noiseTable[i];
            squares += static_cast<double>(gFrameStore.noiseTable[i]) * gFrameStore.noiseTable[i];
        }
        const double mean = sum / kNoiseTableSize;
        const double spread = std::sqrt(squares / kNoiseTableSize - mean * mean);
        // Four standard errors of the mean.
        EXPECT_NEAR(mean, 0.0, 4.0 * amount / 1024);
        // Truncation toward zero takes up to half a step off the spread.
        EXPECT_GT(spread, amount - 0.5);
        EXPECT_LT(spread, amount + 0.05);
    }
}

struct BoostCase
{
    bool yuv;
    bool bgr;
    int column;
    int amount;
    uint8_t in[3];
    uint8_t out[3];
};

const BoostCase kBoostCases[] = {
    {false, false, 0, 7, {100, 100, 100}, {107, 93, 93}},
    {false, false, 0, 7, {252, 3, 250}, {255, 0, 243}},
    {false, false, 0, 100, {0, 255, 255}, {100, 155, 155}},
    // Bottom-up B,G,R frames: red is the third byte.
    {false, true, 0, 7, {100, 100, 100}, {93, 93, 107}},
    // YUV: V on odd columns only.
    {true, false, 1, 7, {50, 128}, {50, 135}},
    {true, false, 0, 7, {50, 128}, {50, 128}},
    {true, false, 3, 7, {50, 250}, {50, 255}},
};

TEST_F(PictureEffectsTest, RedBoostTable)
{
    gConversionOptions.redBoost = 1;
    for (const BoostCase &c : kBoostCases) {
        SCOPED_TRACE(testing::Message() << c.yuv << c.bgr << " column " << c.column);
        if (c.yuv) {
            UseYuvFrames();
        } else {
            UseRgbFrames();
        }
        gFrameStore.bgrOrder = c.bgr;
        gConversionOptions.redBoostAmount = c.amount;
        uint8_t px[3];
        std::memcpy(px, c.in, 3);
        ApplyGrainAndRedBoost(px, c.column);
        EXPECT_EQ(px[0], c.out[0]);
        EXPECT_EQ(px[1], c.out[1]);
        if (!c.yuv) {
            EXPECT_EQ(px[2], c.out[2]);
        }
    }
}

// Grain picks one of the first 16 table entries for each pixel and adds it, clamped.
TEST_F(PictureEffectsTest, GrainOnPixels)
{
    gConversionOptions.addGrain = 1;
    for (int i = 0; i < 16; i++) {
        gFrameStore.noiseTable[i] = (i % 2) ? 9 : -9;
    }
    gFrameStore.noiseTable[16] = 1000; // never used
    UseRgbFrames();
    for (int trial = 0; trial < 64; trial++) {
        uint8_t px[3] = {5, 100, 250};
        ApplyGrainAndRedBoost(px, trial);
        const bool up = px[1] == 109;
        EXPECT_TRUE(up || px[1] == 91);
        EXPECT_EQ(px[0], up ? 14 : 0);
        EXPECT_EQ(px[2], up ? 255 : 241);
    }
    UseYuvFrames();
    uint8_t yuv[2] = {100, 77};
    ApplyGrainAndRedBoost(yuv, 1);
    EXPECT_TRUE(yuv[0] == 109 || yuv[0] == 91);
    EXPECT_EQ(yuv[1], 77);
}

TEST_F(PictureEffectsTest, EffectsSkipTheBars)
{
    UseGeometry(4, 80, false);
    gConversionOptions.redBoost = 1;
    gConversionOptions.cropLetterbox = 1;
    std::memset(gFrameStore.inputFrames[1], 100, 80 * RowBytes());
    ApplyPictureEffects(1);
    const uint8_t *f = gFrameStore.inputFrames[1];
    EXPECT_EQ(f[9 * RowBytes()], 100);
    EXPECT_EQ(f[10 * RowBytes()], 107);
    EXPECT_EQ(f[69 * RowBytes()], 107);
    EXPECT_EQ(f[70 * RowBytes()], 100);
}

TEST_F(PictureEffectsTest, BlurMixesByMotion)
{
    constexpr int kW = 2;
    constexpr int kH = 10;
    struct Row
    {
        int amount;
        int32_t map; // every map value; the weight of a line sums three of them
        int line4;   // line 4 after blurring lines 0 mod 3 = 90, others 0
    } rows[] = {
        {1, 0, 0},       // no motion: unchanged
        {1, 100000, 22}, // full weight: (0 + 2 x 0 + 90) >> 2
        {2, 100000, 30}, // (0 + 0 + 90) / 3
        {3, 100000, 36}, // (90 + 0 + 0 + 90 + 0) / 5
        {1, 560, 11},    // weight ((1680 >> 3) x 50) / 50 - 100 = 110: 22 x 110 >> 8 = 9
        {0, 100000, 0},  // out of range: nothing, whatever the work frame holds
        {4, 100000, 0},
    };
    rows[4].line4 = (22 * 110) >> 8;
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "amount " << r.amount << " map " << r.map);
        UseGeometry(kW, kH, false);
        gConversionOptions.blurAmount = r.amount;
        std::memset(gFrameStore.blurFrame, 0xcc, kH * RowBytes());
        for (int y = 0; y < kH; y++) {
            std::memset(gFrameStore.inputFrames[1] + y * RowBytes(), (y % 3 == 0) ? 90 : 0,
                        RowBytes());
        }
        for (int i = 0; i < kW * kH; i++) {
            gFrameStore.motionMaps[1][i] = r.map;
        }
        BlurHorizontalLines(1);
        const uint8_t *f = gFrameStore.inputFrames[1];
        EXPECT_EQ(f[4 * RowBytes()], r.line4);
        // Lines 0, 1 and the last two are never blurred.
        EXPECT_EQ(f[0], 90);
        EXPECT_EQ(f[9 * RowBytes()], 90);
    }
}

} // namespace
