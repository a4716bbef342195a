#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/engine_hooks.h"
#include "engine/frame_store.h"
#include "engine/pixel_formats.h"
#include "tests/engine/engine_test_util.h"

namespace {

class PixelFormatsTest : public EngineTest
{
};

constexpr int kW = 64;
constexpr int kH = 48;

uint8_t Clamp(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The integer conversion written out per pixel, for comparison with the row kernel.
void ReferenceYuvToBgr(const uint8_t *yuv, int rows, int width, std::vector<uint8_t> &bgr)
{
    bgr.assign(static_cast<size_t>(rows) * width * 3, 0);
    for (int y = 0; y < rows; y++) {
        int u = 0;
        int v = 0;
        for (int x = 0; x < width; x++) {
            const uint8_t *p = yuv + (static_cast<size_t>(y) * width + x) * 2;
            (x % 2 ? v : u) = p[1] - 128;
            uint8_t *o = &bgr[(static_cast<size_t>(rows - 1 - y) * width + x) * 3];
            o[0] = Clamp(p[0] + (453 * u) / 256 - ((453 * u) % 256 < 0 ? 1 : 0));
            o[1] = Clamp(p[0] - ((183 * v) >> 8) - ((11 * u) >> 5));
            o[2] = Clamp(p[0] + ((359 * v) >> 8));
        }
    }
}

struct Preview
{
    int width = -1;
    int height = -1;
    std::vector<uint8_t> pixels;
};
Preview gPreview;

void CapturePreview(int width, int height, const uint8_t *bits)
{
    gPreview.width = width;
    gPreview.height = height;
    gPreview.pixels.assign(bits, bits + static_cast<size_t>(width) * height * 3);
}

TEST_F(PixelFormatsTest, BottomUpImagesMatchFfmpegLayouts)
{
    LC_NEED_FIXTURES(dir);
    const auto rgb = ReadBytes(dir + "/picture_rgb24.rgb");
    const auto bgr = ReadBytes(dir + "/picture_bgr24_flipped.rgb");
    const auto bgra = ReadBytes(dir + "/picture_bgra_flipped.rgb");
    ASSERT_EQ(rgb.size(), size_t{kW * kH * 3});
    ASSERT_EQ(bgr.size(), rgb.size());
    ASSERT_EQ(bgra.size(), size_t{kW * kH * 4});

    std::vector<uint8_t> out(rgb.size() + 16, 0xee);
    EXPECT_EQ(CopyFlipSwapRgb(out.data(), bgr.data(), kH, kW, 3), 0);
    EXPECT_EQ(0, std::memcmp(out.data(), rgb.data(), rgb.size()));
    std::fill(out.begin(), out.end(), 0xee);
    EXPECT_EQ(CopyFlipSwapRgb(out.data(), bgra.data(), kH, kW, 4), 0);
    EXPECT_EQ(0, std::memcmp(out.data(), rgb.data(), rgb.size()));
    EXPECT_EQ(out[rgb.size()], 0xee) << "wrote past the frame";

    // The other way: top-down R,G,B frames to bottom-up B,G,R.
    UseRgbFrames();
    std::fill(out.begin(), out.end(), 0xee);
    EXPECT_EQ(FrameRowsToBottomUpBgr(out.data(), rgb.data(), kH, kW), 0);
    EXPECT_EQ(0, std::memcmp(out.data(), bgr.data(), bgr.size()));

    // At the output size: a PAL-family source gives the NTSC output height.
    std::fill(out.begin(), out.end(), 0xee);
    gFrameStore.sourceWidth = kW;
    gFrameStore.sourceHeight = kH;
    gFrameStore.rowPitch = kW;
    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.ntscOutputHeight = kH;
    EXPECT_EQ(FrameToBottomUpBgr(out.data(), rgb.data()), 0);
    EXPECT_EQ(0, std::memcmp(out.data(), bgr.data(), bgr.size()));
    EXPECT_EQ(out[bgr.size()], 0xee);
}

TEST_F(PixelFormatsTest, CopyFlipSwapWithNoRowsDoesNothing)
{
    uint8_t out[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t in[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(CopyFlipSwapRgb(out, in, 0, 2, 3), 0);
    EXPECT_EQ(out[0], 1);
}

TEST_F(PixelFormatsTest, YuvToRgbFollowsTheIntegerFormula)
{
    LC_NEED_FIXTURES(dir);
    for (const char *name : {"/picture_yuyv422.yuv", "/ramps_yuyv422.yuv"}) {
        SCOPED_TRACE(name);
        const auto yuv = ReadBytes(dir + name);
        ASSERT_EQ(yuv.size(), size_t{kW * kH * 2});
        UseYuvFrames();
        gEngineHooks.showFrameInPreview = CapturePreview;
        Yuv422ToRgb(yuv.data(), kH, kW);
        std::vector<uint8_t> expected;
        ReferenceYuvToBgr(yuv.data(), kH, kW, expected);
        ASSERT_EQ(gPreview.width, kW);
        ASSERT_EQ(gPreview.height, kH);
        EXPECT_EQ(gPreview.pixels, expected);
    }
}

TEST_F(PixelFormatsTest, YuvToRgbIsCloseToFfmpegFullRange)
{
    LC_NEED_FIXTURES(dir);
    const auto yuv = ReadBytes(dir + "/ramps_yuyv422.yuv");
    const auto ffmpegBgr = ReadBytes(dir + "/ramps_bgr24_flipped.rgb");
    ASSERT_EQ(ffmpegBgr.size(), size_t{kW * kH * 3});
    UseYuvFrames();
    Yuv422ToRgb(yuv.data(), kH, kW);
    const uint8_t *ours = gFrameStore.rgbOutFrame;
    int worst = 0;
    for (int y = 0; y < kH; y++) {
        // Column 0 has no V yet (the row starts at V = 0), so it is not a full-range pixel.
        for (int x = 1; x < kW; x++) {
            for (int c = 0; c < 3; c++) {
                const size_t i = (static_cast<size_t>(y) * kW + x) * 3 + c;
                worst = std::max(worst, std::abs(ours[i] - ffmpegBgr[i]));
            }
        }
    }
    EXPECT_LE(worst, 2);
}

TEST_F(PixelFormatsTest, YuvPixelCases)
{
    struct Case
    {
        uint8_t in[4];  // two pixels: Y0 U Y1 V
        uint8_t out[6]; // bottom-up B,G,R of both
    } cases[] = {
        {{16, 128, 16, 128}, {16, 16, 16, 16, 16, 16}},
        // V = 255: red clamps; the first pixel still has V = 0.
        {{235, 128, 235, 255}, {235, 235, 235, 235, 145, 255}},
        // U = 0 at the first pixel: blue drops by 226, green rises by 44.
        {{128, 0, 128, 128}, {0, 172, 128, 0, 172, 128}},
    };
    UseYuvFrames();
    for (const Case &c : cases) {
        Yuv422ToRgb(c.in, 1, 2);
        EXPECT_EQ(std::vector<uint8_t>(gFrameStore.rgbOutFrame, gFrameStore.rgbOutFrame + 6),
                  std::vector<uint8_t>(c.out, c.out + 6));
    }
}

TEST_F(PixelFormatsTest, OutputConversionUsesOutputSizeAndShowsEmptyFrames)
{
    gEngineHooks.showFrameInPreview = CapturePreview;
    UseRgbFrames();
    gEngineSettings.sourceIsPal = 0;
    gFrameStore.sourceWidth = 4;
    gFrameStore.sourceHeight = 480;
    std::vector<uint8_t> frame(4 * 576 * 3);
    for (size_t i = 0; i < frame.size(); i++) {
        frame[i] = static_cast<uint8_t>(i);
    }
    OutputYuv422ToRgb(frame.data());
    EXPECT_EQ(gPreview.width, 4);
    EXPECT_EQ(gPreview.height, 576); // NTSC family: the 576-line PAL output
    // Bottom output row is the first frame row, bytes reversed.
    const uint8_t *bottom = gFrameStore.rgbOutFrame + 575 * 12;
    EXPECT_EQ(bottom[0], 2);
    EXPECT_EQ(bottom[2], 0);

    gPreview = Preview{};
    Yuv422ToRgb(frame.data(), 0, 4);
    EXPECT_EQ(gPreview.height, 0);
    EXPECT_EQ(gPreview.width, 4);
}

} // namespace
