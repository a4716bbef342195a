#include <gtest/gtest.h>

#include <thread>

#include "platform/media/gworld.h"

TEST(GWorld, DepthsGiveTheirFormatsAndExactRows)
{
    struct Case
    {
        int16_t depth;
        OSErr result;
        OSType format;
        int rowBytes;
    } cases[] = {
        {16, noErr, kYUVSPixelFormat, 35 * 2},
        {24, noErr, k24RGBPixelFormat, 35 * 3},
        {32, noErr, k32ARGBPixelFormat, 35 * 4},
        {8, cDepthErr, 0, 0},
        {1, cDepthErr, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.depth);
        const Rect r{10, 20, 22, 55}; // 12 rows of 35 pixels, not at the origin
        GWorldPtr g = reinterpret_cast<GWorldPtr>(1);
        EXPECT_EQ(NewGWorld(&g, c.depth, &r, nullptr, nullptr, 0), c.result);
        EXPECT_EQ(GetMoviesError(), c.result);
        if (c.result != noErr) {
            EXPECT_EQ(g, nullptr);
            continue;
        }
        PixMapHandle pm = GetGWorldPixMap(g);
        ASSERT_NE(pm, nullptr);
        EXPECT_TRUE(LockPixels(pm));
        EXPECT_EQ((**pm).pixelFormat, c.format);
        EXPECT_EQ((**pm).pixelSize, c.depth);
        EXPECT_EQ((**pm).rowBytes & kPixMapRowBytesFlag, kPixMapRowBytesFlag);
        EXPECT_EQ(GetPixRowBytes(pm), c.rowBytes);
        EXPECT_EQ((**pm).bounds.left, 20);
        EXPECT_EQ((**pm).bounds.bottom, 22);
        EXPECT_EQ(PixMapBytesPerPixel(**pm), c.depth / 8);
        char *base = GetPixBaseAddr(pm);
        ASSERT_NE(base, nullptr);
        base[c.rowBytes * 12 - 1] = 1; // the whole picture is there
        DisposeGWorld(g);
    }
}

TEST(GWorld, BadArgumentsAreErrors)
{
    GWorldPtr g = nullptr;
    const Rect empty{0, 0, 0, 10};
    const Rect inverted{0, 10, 10, 0};
    const Rect tooWide{0, 0, 1, 6000}; // 18000 bytes a row do not fit the row-bytes field
    EXPECT_EQ(NewGWorld(&g, 24, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&g, 24, &inverted, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&g, 24, &tooWide, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&g, 24, nullptr, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(nullptr, 24, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(GetGWorldPixMap(nullptr), nullptr);
    EXPECT_FALSE(LockPixels(nullptr));
    EXPECT_EQ(GetPixBaseAddr(nullptr), nullptr);
    EXPECT_EQ(GetPixRowBytes(nullptr), 0);
    DisposeGWorld(nullptr);
}

TEST(GWorld, CallerBaseAddressIsNotFreedAndFormatMustMatchDepth)
{
    const Rect r{0, 0, 4, 4};
    GWorldPtr g = nullptr;
    ASSERT_EQ(NewGWorld(&g, 16, &r, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(g);
    static char frame[4 * 4 * 2];
    (**pm).baseAddr = frame; // the passes point slots at their own frames
    EXPECT_EQ(GetPixBaseAddr(pm), frame);
    (**pm).pixelFormat = k24RGBPixelFormat;
    EXPECT_EQ(PixMapBytesPerPixel(**pm), 0);
    DisposeGWorld(g); // frees only its own pixels (the sanitizer checks)
}

TEST(GWorld, CurrentPortIsPerThreadAndForgottenOnDispose)
{
    const Rect r{0, 0, 2, 2};
    GWorldPtr a = nullptr;
    ASSERT_EQ(NewGWorld(&a, 24, &r, nullptr, nullptr, 0), noErr);
    CGrafPtr port = nullptr;
    GDHandle device = reinterpret_cast<GDHandle>(1);
    SetGWorld(a, nullptr);
    GetGWorld(&port, &device);
    EXPECT_EQ(port, a);
    EXPECT_EQ(device, nullptr);
    std::thread([] {
        CGrafPtr other = reinterpret_cast<CGrafPtr>(1);
        GetGWorld(&other, nullptr);
        EXPECT_EQ(other, nullptr);
    }).join();
    DisposeGWorld(a);
    GetGWorld(&port, nullptr);
    EXPECT_EQ(port, nullptr);
}
