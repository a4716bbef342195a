#include <cstring>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/pulldown.h"
#include "tests/engine/engine_test_util.h"

namespace {

// Every option on at the largest size the maps hold (1920 x 1200 fills them exactly), so the
// sanitizer sees any kernel that steps past a map or a frame.
class LargestFramesTest : public EngineTest
{
};

TEST_F(LargestFramesTest, GroupsWithEveryOption)
{
    ConversionOptions &o = gConversionOptions;
    o.deinterlace = o.lineDetectorOn = o.blurLinesOnMotion = o.cropLetterbox = 1;
    o.redBoost = o.addGrain = 1;
    o.flickerRemoval = 3;
    for (bool yuv : {false, true}) {
        SCOPED_TRACE(yuv);
        if (yuv) {
            UseYuvFrames();
        } else {
            UseRgbFrames();
        }
        gEngineSettings.sourceIsPal = 1;
        gEngineSettings.sourceIsNtsc = 0;
        ASSERT_EQ(ValidateFrameSize(1200, 1920, 1920 * (yuv ? 2 : 3)), 1);
        for (int s = 0; s < kSlotCount; s++) {
            std::memset(gFrameStore.inputFrames[s], 40 * s, 1200 * RowBytes());
        }
        EXPECT_EQ(ConvertFrameGroup(gFrameStore.inputFrames, 1920, 1200, 0), 6);
        gEngineSettings.sourceIsPal = 0;
        gEngineSettings.sourceIsNtsc = 1;
        EXPECT_EQ(ConvertFrameGroup(gFrameStore.inputFrames, 1920, 1200, 0), 1);
        o.cropLetterbox = 0;
        o.unsqueezeLetterbox = 1;
        EXPECT_EQ(ConvertFrameGroup(gFrameStore.inputFrames, 1920, 1200, 0), 1);
        o.cropLetterbox = 1;
        o.unsqueezeLetterbox = 0;
        int outList[4];
        RemovePulldownGroup(gFrameStore.inputFrames, outList, 1);
        o.pulldown32To25P = 1;
        EXPECT_EQ(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1), 4);
        o.pulldown32To25P = 0;
    }
}

} // namespace
