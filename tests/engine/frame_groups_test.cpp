#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "tests/engine/engine_test_util.h"

namespace {

class FrameGroupsTest : public EngineTest
{
protected:
    void StartPal(int width, int height, bool yuv = false)
    {
        UseGeometry(width, height, yuv);
        gEngineSettings.sourceIsPal = 1;
        gEngineSettings.sourceIsNtsc = 0;
        ResetCadenceCounter();
    }

    // Every byte of a tagged frame carries the tag: the line converters keep flat frames exactly.
    static void Tag(uint8_t *frame, int tag, int lines)
    {
        const size_t row = RowBytes();
        for (int y = 0; y < lines; y++) {
            uint8_t *r = frame + y * row;
            for (size_t i = 0; i < row; i += 3) {
                r[i] = static_cast<uint8_t>(tag);
                r[i + 1] = static_cast<uint8_t>(tag >> 8);
                r[i + 2] = static_cast<uint8_t>(tag >> 16);
            }
        }
    }
    static int TagOf(const uint8_t *p) { return p[0] | (p[1] << 8) | (p[2] << 16); }

    // Runs group g of a movie of tagged frames (frame k has tag k) and returns the source frame
    // of each output field: first field, second field, per frame.
    std::vector<int> RunTaggedGroup(int g)
    {
        const int height = static_cast<int>(gFrameStore.sourceHeight);
        for (int s = 0; s < kSlotCount; s++) {
            Tag(gFrameStore.inputFrames[s], g == 0 && s == 0 ? 0 : g * 5 + s - 1, height);
        }
        const int n = ConvertFrameGroup(gFrameStore.inputFrames,
                                        static_cast<int>(gFrameStore.sourceWidth), height, g == 0);
        std::vector<int> fields;
        const bool upperFirst = gConversionOptions.upperFieldFirst != 0;
        for (int i = 1; i <= n; i++) {
            const uint8_t *f = gFrameStore.inputFrames[i];
            const int even = TagOf(f);
            const int odd = TagOf(f + RowBytes());
            fields.push_back(upperFirst ? even : odd);
            fields.push_back(upperFirst ? odd : even);
        }
        return fields;
    }
};

// The weave table by state, as (first field, second field) history frames per output frame;
// history 5 is the previous group's frame 4.
const int kPhase0[6][2] = {{0, 0}, {0, 1}, {1, 2}, {2, 2}, {3, 3}, {4, 4}};
const int kPhase0Drop[5][2] = {{0, 0}, {1, 1}, {2, 2}, {2, 3}, {3, 4}};
const int kPhase1[6][2] = {{5, 0}, {0, 1}, {1, 1}, {2, 2}, {3, 3}, {3, 4}};
const int kPhase1Drop[6][2] = {{5, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 3}, {4, 4}};

std::vector<int> Expected(const int (*table)[2], int frames, int g)
{
    std::vector<int> fields;
    for (int i = 0; i < frames; i++) {
        for (int h : table[i]) {
            fields.push_back(h == 5 ? g * 5 - 1 : g * 5 + h);
        }
    }
    return fields;
}

TEST_F(FrameGroupsTest, TaggedFramesFollowTheWeaveTable)
{
    for (int upperFirst : {0, 1}) {
        SCOPED_TRACE(upperFirst);
        StartPal(2, 576);
        gConversionOptions.upperFieldFirst = upperFirst;
        std::vector<int> all;
        for (int g = 0; g < 5000; g++) {
            const std::vector<int> fields = RunTaggedGroup(g);
            // Groups 1..42 and 44..126 (1-based) weave in phase 0 or 1 without a drop; group 43
            // drops a frame and moves to phase 1; group 127 drops a field back to phase 0.
            if (g < 42) {
                ASSERT_EQ(fields, Expected(kPhase0, 6, g)) << "group " << g + 1;
            } else if (g == 42) {
                ASSERT_EQ(fields, Expected(kPhase0Drop, 5, g));
            } else if (g < 126) {
                ASSERT_EQ(fields, Expected(kPhase1, 6, g)) << "group " << g + 1;
            } else if (g == 126) {
                ASSERT_EQ(fields, Expected(kPhase1Drop, 6, g));
            } else if (g < 130) {
                ASSERT_EQ(fields, Expected(kPhase0, 6, g)) << "group " << g + 1;
            }
            all.insert(all.end(), fields.begin(), fields.end());
        }
        // 25,000 PAL frames (1000 s) give 29,970 NTSC frames, and field n shows the PAL frame of
        // its own time, n / 59.94 s, within a frame.
        ASSERT_EQ(all.size(), 2u * 29970);
        int worst = 0;
        for (size_t n = 0; n < all.size(); n++) {
            if (n > 0) {
                ASSERT_LE(all[n - 1], all[n]) << "field " << n << " goes back in time";
            }
            const double palFrame = static_cast<double>(n) * 25.0 * 1001.0 / 60000.0;
            worst = std::max(worst, static_cast<int>(std::fabs(all[n] - palFrame)));
        }
        EXPECT_LE(worst, 1);
    }
}

TEST_F(FrameGroupsTest, TwoThousandGroupsGiveExactFrameCount)
{
    StartPal(1, 576);
    int frames = 0;
    for (int g = 0; g < 2000; g++) {
        frames += ConvertFrameGroup(gFrameStore.inputFrames, 1, 576, g == 0);
    }
    EXPECT_EQ(frames, 11988);
}

// HD PAL-family frames (900 pixels wide, or more than 576 lines) are not line-converted: the frames
// are woven from copies of the source frames in either format, over every line of the frame.
TEST_F(FrameGroupsTest, HdFramesWeaveOverTheirOwnHeight)
{
    struct Size
    {
        int width, height;
    };
    for (const Size &size : {Size{1000, 40}, Size{720, 578}}) {
        for (bool yuv : {false, true}) {
            SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " yuv " << yuv);
            const int h = size.height;
            StartPal(size.width, h, yuv);
            gEngineSettings.ntscOutputHeight = 480;
            const size_t row = RowBytes();
            for (int s = 0; s < kSlotCount; s++) {
                std::memset(gFrameStore.inputFrames[s], 10 * s, size_t(h) * row);
            }
            EXPECT_EQ(OutputFrameHeight(), h);
            EXPECT_EQ(ConvertFrameGroup(gFrameStore.inputFrames, size.width, h, 1), 6);
            // Output 2 weaves history 0 (first field, odd lines) and 1: source slots 1 and 2.
            const uint8_t *f = gFrameStore.inputFrames[2];
            for (int y = 0; y < h; y++) {
                ASSERT_EQ(f[y * row + row - 1], (y % 2) ? 10 : 20) << "line " << y;
            }
            // Output 6 is history 4, a copy of source slot 5, down to the last line.
            EXPECT_EQ(gFrameStore.inputFrames[6][size_t(h - 1) * row], 50);
        }
    }
    // Standard definition, however wide below 900 pixels, goes to the NTSC height.
    StartPal(854, 576, false);
    gEngineSettings.ntscOutputHeight = 480;
    EXPECT_EQ(OutputFrameHeight(), 480);
    EXPECT_EQ(NtscSideHeight(), 480);
}

// A 576-line ramp with sentinel lines below it: no output line may come from below the source.
class LineConvertTest : public FrameGroupsTest
{
protected:
    static constexpr uint8_t kSentinel = 255;

    static void Ramp(uint8_t *frame, int lines, int totalLines)
    {
        const size_t row = RowBytes();
        for (int y = 0; y < totalLines; y++) {
            std::memset(frame + y * row, y < lines ? y * 200 / (lines - 1) : kSentinel, row);
        }
    }
    static int LineValue(const uint8_t *frame, int y) { return frame[y * RowBytes()]; }
};

TEST_F(LineConvertTest, PalToNtscLines)
{
    struct Row
    {
        int ntscHeight;
        int squeeze;
        int crop;
        int line;  // output line
        int value; // its value, from the 576-line ramp y x 200 / 575
    } rows[] = {
        // 6/5 per line: line 1 is 1 1/5 lines down.
        {480, 0, 0, 0, 0},
        {480, 0, 0, 1, 0},
        {480, 0, 0, 5, 2},
        {480, 0, 0, 479, 199},
        {486, 0, 0, 485, 199},
        {486, 0, 0, 27, 11},
        // Squeezed: 8/5 per line from line 60 (63); bars above and below.
        {480, 1, 0, 60, 0},
        {480, 1, 0, 61, 0},
        {480, 1, 0, 418, 198},
        {480, 1, 0, 419, 0},
        {480, 1, 0, 420, 0},
        {486, 1, 0, 63, 0},
        {486, 1, 0, 422, 0},
        {486, 1, 0, 421, 198},
        {480, 0, 1, 60, 0},
        {480, 0, 1, 61, 25},
        {480, 0, 1, 418, 174},
        {480, 0, 1, 419, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.ntscHeight << " squeeze " << r.squeeze << " crop "
                                        << r.crop << " line " << r.line);
        StartPal(3, 576);
        gEngineSettings.ntscOutputHeight = r.ntscHeight;
        Ramp(gFrameStore.inputFrames[1], 576, 600);
        std::memset(gFrameStore.historyFrames[0], 77, 600 * RowBytes());
        ConvertLines576To480(1, 0, r.squeeze, r.crop);
        EXPECT_EQ(LineValue(gFrameStore.historyFrames[0], r.line), r.value);
        // Nothing beyond the NTSC height is written.
        EXPECT_EQ(LineValue(gFrameStore.historyFrames[0], r.ntscHeight), 77);
    }
}

TEST_F(LineConvertTest, NtscToPalLinesUseTheSourceHeight)
{
    struct Row
    {
        int sourceHeight;
        int ntscOption; // the "Output 486 Lines" height, which must not matter
        int unsqueeze;
        int line;
        int value; // from the ramp y x 200 / (sourceHeight - 1)
    } rows[] = {
        {480, 480, 0, 0, 0},     {480, 480, 0, 575, 200}, {480, 486, 0, 575, 200},
        {486, 480, 0, 575, 200}, {486, 486, 0, 575, 200}, {480, 480, 0, 6, 2},
        {486, 480, 0, 32, 11},   {480, 480, 1, 72, 0},    {480, 480, 1, 73, 0},
        {480, 480, 1, 502, 199}, {480, 480, 1, 503, 0},   {486, 480, 1, 502, 199},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.sourceHeight << " option " << r.ntscOption
                                        << " unsqueeze " << r.unsqueeze << " line " << r.line);
        UseRgbFrames();
        gEngineSettings.sourceIsPal = 0;
        gEngineSettings.ntscOutputHeight = r.ntscOption;
        gConversionOptions.unsqueezeLetterbox = r.unsqueeze;
        FrameStore &fs = gFrameStore;
        fs.sourceWidth = fs.rowPitch = 2;
        fs.sourceHeight = static_cast<uint32_t>(r.sourceHeight);
        Ramp(fs.inputFrames[3], r.sourceHeight, 600);
        StoreHistoryFrame(2, fs.inputFrames[3]);
        // StoreHistoryFrame copies the source's lines only.
        EXPECT_EQ(LineValue(fs.historyFrames[2], r.sourceHeight - 1), 200);
        ConvertLines480To576(fs.inputFrames[4], 2);
        EXPECT_EQ(LineValue(fs.inputFrames[4], r.line), r.value);
        EXPECT_EQ(fs.frameHeight, 576u);
        EXPECT_EQ(fs.frameWidth, fs.sourceWidth); // the frame's own width, not 720
    }
}

// The kernel on an exact-size source: the sanitizer sees any read below the last line.
TEST_F(LineConvertTest, KernelStaysInsideTheSource)
{
    struct Row
    {
        int sourceLines;
        int outLines;
        int step;
        int divisor;
    } rows[] = {{480, 576, 5, 6},  {486, 576, 27, 32}, {576, 480, 6, 5}, {576, 486, 32, 27},
                {480, 432, 10, 9}, {486, 432, 9, 8},   {576, 360, 8, 5}, {7, 20, 1, 3}};
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.sourceLines << " -> " << r.outLines);
        TestFrame src(3, r.sourceLines, 2);
        for (int y = 0; y < r.sourceLines; y++) {
            std::memset(src.view.Row(y), y % 2 ? 200 : 100, 6);
        }
        TestFrame dst(3, r.outLines, 2);
        ConvertLines_c(dst.view, src.view, 0, r.outLines, r.step, r.divisor);
        for (int y = 0; y < r.outLines; y++) {
            ASSERT_GE(dst.At(2, y, 1), 100);
            ASSERT_LE(dst.At(2, y, 1), 200);
        }
        // Downward steps truncate toward zero: 200 -> 100 a third of the way is 167.
        if (r.step == 1) {
            EXPECT_EQ(dst.At(0, 4, 0), 200 + ((100 - 200) * 1) / 3);
        }
    }
}

TEST_F(FrameGroupsTest, YuvBarsAreBlackWithNeutralColour)
{
    StartPal(4, 576, true);
    std::memset(gFrameStore.inputFrames[1], 90, 576 * RowBytes());
    ConvertLines576To480(1, 0, 1, 0);
    const uint8_t *h = gFrameStore.historyFrames[0];
    EXPECT_EQ(h[0], 0);
    EXPECT_EQ(h[1], 128);
    EXPECT_EQ(h[60 * RowBytes() + 1], 128);
    EXPECT_EQ(h[61 * RowBytes() + 1], 90);
    EXPECT_EQ(h[419 * RowBytes()], 0);
}

TEST_F(FrameGroupsTest, NtscFrameKeepsItsUnprocessedCopy)
{
    UseRgbFrames();
    gEngineSettings.sourceIsPal = 0;
    gEngineSettings.sourceIsNtsc = 1;
    gConversionOptions.deinterlace = 1;
    FrameStore &fs = gFrameStore;
    fs.sourceWidth = fs.rowPitch = 4;
    fs.sourceHeight = 8;
    for (int y = 0; y < 8; y++) {
        std::memset(fs.inputFrames[1] + y * RowBytes(), (y % 2) ? 200 : 0, RowBytes());
    }
    std::vector<uint8_t> original(fs.inputFrames[1], fs.inputFrames[1] + 8 * RowBytes());
    EXPECT_EQ(ConvertFrameGroup(fs.inputFrames, 4, 8, 1), 1);
    EXPECT_EQ(0, std::memcmp(fs.inputFrames[0], original.data(), original.size()));
    // The first frame is deinterlaced at full weight: odd lines 1..5 become 0.
    EXPECT_EQ(fs.inputFrames[1][3 * RowBytes()], 0);
    EXPECT_EQ(fs.inputFrames[1][7 * RowBytes()], 200);
}

} // namespace
