#include <cstdlib>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "tests/engine/engine_test_util.h"

namespace {

class FrameStoreTest : public EngineTest
{
};

// The allocator the store uses unless a test installs another.
const FrameBufferAllocator kDefaultAllocator = gFrameBufferAllocator;

int gAllocCalls = 0;
int gFailAt = 0; // 1-based call that fails; 0 never

void *CountingAlloc(size_t count, size_t size)
{
    gAllocCalls++;
    if (gAllocCalls == gFailAt) {
        return nullptr;
    }
    return std::calloc(count, size);
}

bool AllPointersNull()
{
    const FrameStore &fs = gFrameStore;
    for (auto *p : fs.historyFrames) {
        if (p) {
            return false;
        }
    }
    for (auto *p : fs.inputFrames) {
        if (p) {
            return false;
        }
    }
    for (auto *p : fs.motionMaps) {
        if (p) {
            return false;
        }
    }
    return !fs.noiseTable && !fs.blurFrame && !fs.mixFrame && !fs.rgbOutFrame && !fs.lineMask
           && !fs.lineMaskSum;
}

TEST_F(FrameStoreTest, SecondAllocationTakesNothing)
{
    gAllocCalls = 0;
    gFailAt = 0;
    gFrameBufferAllocator = CountingAlloc;
    EXPECT_EQ(AllocateFrameStore(), 1);
    EXPECT_EQ(gAllocCalls, 0);
    gFrameBufferAllocator = kDefaultAllocator;
}

// A failure at any point frees what was taken (LeakSanitizer checks at exit) and a later call
// starts again.
TEST_F(FrameStoreTest, FailedAllocationLeaksNothingAndCanBeRetried)
{
    for (int failAt : {1, 6, 7, 15, 16, 22, 23, 26, 28}) {
        SCOPED_TRACE(failAt);
        ReleaseFrameStore();
        Messages().clear();
        gAllocCalls = 0;
        gFailAt = failAt;
        gFrameBufferAllocator = CountingAlloc;
        EXPECT_EQ(AllocateFrameStore(), 0);
        EXPECT_EQ(gAllocCalls, failAt);
        EXPECT_EQ(gFrameStore.allocated, 0);
        EXPECT_TRUE(AllPointersNull());
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_TRUE(Messages()[0].error);
        EXPECT_EQ(Messages()[0].text, "Cannot allocate enough memory to store frames");

        gFailAt = 0;
        gAllocCalls = 0;
        EXPECT_EQ(AllocateFrameStore(), 1);
        EXPECT_EQ(gAllocCalls, 28);
        EXPECT_EQ(gFrameStore.allocated, 1);
    }
    gFrameBufferAllocator = kDefaultAllocator;
}

// The store's own buffers (mapped on huge pages outside the sanitizers) are zeroed, as long as
// asked for, and go back to the system and come again.
TEST_F(FrameStoreTest, DefaultBuffersAreZeroedWholeAndTakenAgain)
{
    gFrameBufferAllocator = kDefaultAllocator;
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        ReleaseFrameStore();
        ASSERT_EQ(AllocateFrameStore(), 1);
        FrameStore &fs = gFrameStore;
        for (int32_t *m : fs.motionMaps) {
            for (size_t i = 0; i < kMapValues; i += 997) {
                ASSERT_EQ(m[i], 0);
            }
            EXPECT_EQ(m[kMapValues - 1], 0);
            m[0] = m[kMapValues - 1] = 7;
        }
        for (uint8_t *f : {fs.inputFrames[0], fs.inputFrames[kInputFrameCount - 1],
                           fs.historyFrames[kHistoryFrameCount - 1], fs.rgbOutFrame}) {
            EXPECT_EQ(f[0], 0);
            EXPECT_EQ(f[kFrameBufferBytes - 1], 0);
            f[0] = f[kFrameBufferBytes - 1] = 7;
        }
        EXPECT_EQ(fs.noiseTable[kNoiseTableSize - 1], 0);
    }
}

TEST_F(FrameStoreTest, PixelFormatSwitches)
{
    UseYuvFrames();
    EXPECT_EQ(gFrameStore.yuvActive, 1);
    EXPECT_EQ(gFrameStore.bytesPerPixel, 2u);
    UseRgbFrames();
    EXPECT_EQ(gFrameStore.yuvActive, 0);
    EXPECT_EQ(gFrameStore.bytesPerPixel, 3u);
}

struct SizeCase
{
    bool pal;
    bool yuv;
    int height;
    int width;
    int rowBytes; // 0: width x bytes per pixel
    int result;
    int kind; // 0 none, 1 warning, 2 error
    const char *text;
};

const SizeCase kSizeCases[] = {
    {true, false, 576, 720, 0, 1, 0, ""},
    {true, false, 560, 720, 0, 0, 2, "Error: PAL Movie height < 576"},
    {true, false, 576, 704, 0, 1, 1, "Warning: Movie not 720 x 576 (PAL)"},
    // HD: 900 pixels wide or more than 576 lines; it keeps every line.
    {true, false, 577, 720, 0, 1, 0, ""},
    {true, false, 608, 720, 0, 1, 0, ""},
    {true, false, 1080, 1920, 0, 1, 0, ""},
    {true, false, 100, 900, 0, 1, 0, ""},
    {true, false, 576, 1024, 0, 1, 0, ""},
    {true, false, 540, 960, 0, 1, 0, ""},
    {true, false, 500, 899, 0, 0, 2, "Error: PAL Movie height < 576"},
    {false, false, 480, 720, 0, 1, 0, ""},
    {false, false, 486, 720, 0, 1, 0, ""},
    {false, true, 486, 720, 0, 1, 0, ""},
    {false, false, 480, 704, 0, 1, 1, "Warning: Movie not 720 x 480 or 720 x 486 (NTSC)"},
    {false, false, 470, 720, 0, 0, 2, "Error: NTSC Movie height < 480"},
    {false, false, 100, 900, 0, 1, 0, ""},
    {false, false, 470, 899, 0, 0, 2, "Error: NTSC Movie height < 480"},
    {false, false, 1080, 1440, 0, 1, 0, ""},
    // The buffers' limits.
    {false, false, 1200, 1920, 0, 1, 0, ""},
    {false, false, 480, 720, 2157, 0, 2, "Error: Movie row bytes < width"},
    {true, true, 576, 720, 1438, 0, 2, "Error: Movie row bytes < width"},
    {true, false, 1601, 1920, 0, 0, 2, "Error: Movie frame > 9216000 bytes"},
    {true, false, 1080, 1920, 8536 * 3, 0, 2, "Error: Movie frame > 9216000 bytes"},
    {false, false, 480, 720, 5400 * 3, 0, 2, "Error: Movie frame > 9216000 bytes"},
    {true, false, 1201, 1920, 0, 0, 2, "Error: Movie too large for the motion maps (1920 x 1200)"},
    {true, true, 1600, 1920, 0, 0, 2, "Error: Movie too large for the motion maps (1920 x 1200)"},
    {true, false, 5, 460801, 0, 0, 2, "Error: Movie too large for the motion maps (1920 x 1200)"},
    {true, false, 0, 1920, 0, 0, 2, "Error: Movie has no picture"},
    {false, false, 480, -720, 0, 0, 2, "Error: Movie has no picture"},
};

TEST_F(FrameStoreTest, ValidateFrameSizeTable)
{
    for (const SizeCase &c : kSizeCases) {
        SCOPED_TRACE(testing::Message() << (c.pal ? "PAL " : "NTSC ") << c.width << "x" << c.height
                                        << " row " << c.rowBytes << (c.yuv ? " yuv" : " rgb"));
        Messages().clear();
        gEngineSettings.sourceIsPal = c.pal;
        gEngineSettings.sourceIsNtsc = !c.pal;
        if (c.yuv) {
            UseYuvFrames();
        } else {
            UseRgbFrames();
        }
        const int rowBytes = c.rowBytes ? c.rowBytes : c.width * (c.yuv ? 2 : 3);
        EXPECT_EQ(ValidateFrameSize(c.height, c.width, rowBytes), c.result);
        if (c.kind == 0) {
            EXPECT_TRUE(Messages().empty());
        } else {
            ASSERT_EQ(Messages().size(), 1u);
            EXPECT_EQ(Messages()[0].error, c.kind == 2);
            EXPECT_EQ(Messages()[0].text, c.text);
        }
    }
}

TEST_F(FrameStoreTest, ValidateFrameSizeSetsGeometryAndResets)
{
    UseYuvFrames();
    gPalToNtscCadence.frameCount = 300;
    gPalToNtscCadence.phase = 1;
    gConversionOptions.addGrain = 1;
    gFrameStore.noiseTable[0] = 12345;
    EXPECT_EQ(ValidateFrameSize(480, 720, 1440), 1);
    EXPECT_EQ(gFrameStore.rowPitch, 720u);
    EXPECT_EQ(gFrameStore.sourceWidth, 720u);
    EXPECT_EQ(gFrameStore.sourceHeight, 480u);
    EXPECT_EQ(gPalToNtscCadence.frameCount, 0);
    EXPECT_EQ(gPalToNtscCadence.phase, 0);
    EXPECT_EQ(gPalToNtscCadence.dropThreshold, 250);
    EXPECT_NE(gFrameStore.noiseTable[0], 12345);
}

TEST_F(FrameStoreTest, OutputHeightBySourceFamilyAndSize)
{
    struct Row
    {
        bool pal;
        int ntscHeight;
        uint32_t width;
        uint32_t height;
        int expected;
    } rows[] = {
        {true, 480, 720, 576, 480},    {true, 486, 720, 576, 486},     {false, 480, 720, 480, 576},
        {true, 480, 1920, 1080, 1080}, {false, 480, 1920, 1080, 1080}, {true, 480, 1280, 720, 720},
    };
    for (const Row &r : rows) {
        gEngineSettings.sourceIsPal = r.pal;
        gEngineSettings.sourceIsNtsc = !r.pal;
        gEngineSettings.ntscOutputHeight = r.ntscHeight;
        gFrameStore.sourceWidth = r.width;
        gFrameStore.sourceHeight = r.height;
        EXPECT_EQ(OutputFrameHeight(), r.expected) << r.width << "x" << r.height;
    }
}

} // namespace
