// The group operations run line by line give the bytes of their steps run one after another over
// whole frames: one thread and eight, odd sizes, padded rows, HD frames, the options that change
// which lines a step touches.

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/internal/group_pipelines.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"
#include "engine/pulldown.h"
#include "platform/sys/random.h"
#include "platform/sys/worker_pool.h"
#include "tests/engine/engine_test_util.h"

namespace {

struct Shape
{
    int width;
    int height;
    int padPixels; // row pitch beyond the width
    bool yuv;
};

struct Case
{
    const char *name;
    std::function<void(ConversionOptions &)> options;
    std::function<int64_t()> run;
};

lc::WorkerPool *gPool = nullptr;

class GroupPipelinesTest : public EngineTest
{
protected:
    void Fill(const Shape &s)
    {
        UseGeometry(s.width, s.height, s.yuv);
        gFrameStore.rowPitch = static_cast<uint32_t>(s.width + s.padPixels);
        std::mt19937 rng(7);
        const size_t bytes = RowBytes() * s.height;
        for (int f = 0; f < kInputFrameCount; f++) {
            for (size_t i = 0; i < bytes; i++) {
                // Moving bars over noise: every weight from 0 to 256 comes up.
                const bool bar = ((i % RowBytes() / 5 + f * 4 + i / RowBytes() / 3) % 5) == 0;
                gFrameStore.inputFrames[f][i] =
                    static_cast<uint8_t>(bar ? 220 + rng() % 36 : rng() % 256 / (1 + f % 3));
            }
        }
        // History frame 5 holds the last frame of the group before.
        for (uint8_t *f : gFrameStore.historyFrames) {
            for (size_t i = 0; i < RowBytes() * kLines; i++) {
                f[i] = static_cast<uint8_t>(rng());
            }
        }
        // Map rows the detector does not visit keep what they held.
        for (int m = 0; m < kSlotCount; m++) {
            for (size_t i = 0; i < MapValues(); i++) {
                gFrameStore.motionMaps[m][i] = static_cast<int32_t>(rng() % 30000);
            }
        }
        ResetCadenceCounter();
        std::memset(gFrameStore.lineMask, 0, MapValues() * 4);
        std::memset(gFrameStore.lineMaskSum, 0, MapValues() * 4);
        // Only the first 16 grain values are ever drawn.
        lc::CrtSrand(3);
        BuildGrainTable_c(gFrameStore.noiseTable, 16, gConversionOptions.grainAmount);
        lc::CrtSrand(3);
    }

    static size_t MapValues()
    {
        return static_cast<size_t>(gFrameStore.frameWidth) * (gFrameStore.frameHeight / 2 + 1);
    }

    // Lines of the frames a run may write: the NTSC side of a PAL group is taller than the small
    // frames.
    static constexpr int kLines = 486;

    std::vector<uint8_t> Snapshot(int height, int64_t result)
    {
        std::vector<uint8_t> s;
        auto add = [&](const void *p, size_t n) {
            const uint8_t *b = static_cast<const uint8_t *>(p);
            s.insert(s.end(), b, b + n);
        };
        const size_t bytes = RowBytes() * std::max(height, kLines);
        for (uint8_t *f : gFrameStore.inputFrames) {
            add(f, bytes);
        }
        // History frames 0..4 hold a group's line conversions, which the group weaves and
        // nothing reads after it (the line-by-line weave makes them on the way, without the
        // frames); history 5 carries a frame into the next group.
        add(gFrameStore.historyFrames[5], bytes);
        for (int32_t *m : gFrameStore.motionMaps) {
            add(m, MapValues() * 4);
        }
        add(gFrameStore.lineMask, MapValues() * 4);
        const uint32_t state = lc::CrtRandState();
        add(&state, sizeof state);
        add(&result, sizeof result);
        return s;
    }

    std::vector<uint8_t> Run(const Case &c, const Shape &s)
    {
        ResetConversionOptions(gConversionOptions);
        c.options(gConversionOptions);
        Fill(s);
        return Snapshot(s.height, c.run());
    }
};

int64_t Pulldown(int pattern)
{
    int outList[4] = {};
    RemovePulldownGroup(gFrameStore.inputFrames, outList, pattern);
    return outList[0] * 1000 + outList[1] * 100 + outList[2] * 10 + outList[3];
}

// Groups of a PAL-family source, the cadence `frameCountBeforeDrop` frames before a dropped field.
int64_t Pal(int first, int groups, int frameCountBeforeDrop)
{
    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.sourceIsNtsc = 0;
    gPalToNtscCadence.frameCount = gPalToNtscCadence.dropThreshold + 1 - frameCountBeforeDrop;
    int64_t result = 0;
    for (int i = 0; i < groups; i++) {
        const int n =
            ConvertFrameGroup(gFrameStore.inputFrames, static_cast<int>(gFrameStore.frameWidth),
                              static_cast<int>(gFrameStore.frameHeight), i == 0 ? first : 0);
        result = result * 10 + n;
    }
    return result * 10 + gPalToNtscCadence.phase;
}

const Case kCases[] = {
    {"PalDeinterlace", [](ConversionOptions &o) { o.deinterlace = 1; },
     [] { return Pal(0, 1, 100); }},
    // The first group at full weight, then a dropped field and the phase after it.
    {"PalDropAndPhase1",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.upperFieldFirst = 1;
     },
     [] { return Pal(1, 3, 0); }},
    {"PalEverything",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.blurLinesOnMotion = 1;
         o.blurAmount = 3;
         o.flickerRemoval = 4;
         o.unsqueezeLetterbox = 1;
         o.addGrain = 1;
         o.redBoost = 1;
         o.motionSensitivity = 250;
     },
     [] { return Pal(0, 2, 6); }},
    {"Pal486CropBlurFlicker",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.cropLetterbox = 1;
         o.blurLinesOnMotion = 1;
         o.blurAmount = 2;
         o.flickerRemoval = 1;
         o.redBoost = 1;
     },
     [] {
         gEngineSettings.ntscOutputHeight = 486;
         const int64_t r = Pal(0, 2, 0);
         gEngineSettings.ntscOutputHeight = 480;
         return r;
     }},
    {"PalFlickerOnly", [](ConversionOptions &o) { o.flickerRemoval = 3; },
     [] { return Pal(0, 1, 100); }},
    {"PulldownPattern2", [](ConversionOptions &) {}, [] { return Pulldown(2); }},
    {"PulldownPattern1Blur3",
     [](ConversionOptions &o) {
         o.blurLinesOnMotion = 1;
         o.blurAmount = 3;
         o.motionSensitivity = 300;
     },
     [] { return Pulldown(1); }},
    {"PulldownBlur1Crop",
     [](ConversionOptions &o) {
         o.blurLinesOnMotion = 1;
         o.cropLetterbox = 1;
     },
     [] { return Pulldown(2); }},
    // A PAL-family source: the letterbox and the effects follow the blur, frame by frame.
    {"PulldownBlur2EffectsSqueeze",
     [](ConversionOptions &o) {
         o.blurLinesOnMotion = 1;
         o.blurAmount = 2;
         o.unsqueezeLetterbox = 1;
         o.addGrain = 1;
         o.redBoost = 1;
     },
     [] {
         gEngineSettings.sourceIsNtsc = 0;
         gEngineSettings.sourceIsPal = 1;
         return Pulldown(2);
     }},
    // Two groups in a row: the second starts from the maps and frames the first left.
    {"PulldownTwice",
     [](ConversionOptions &o) {
         o.blurLinesOnMotion = 1;
         o.motionSensitivity = 120;
     },
     [] { return Pulldown(2) * 10000 + Pulldown(1); }},
};

TEST_F(GroupPipelinesTest, LineByLineGivesTheBytesOfWholeFrameSteps)
{
    lc::WorkerPool pool(8);
    gPool = &pool;
    // Frames this small are cut into row bands as the largest are.
    gMinBandBytes = 0;
    // Frames of 576 lines and HD frames narrow enough weave the NTSC frames straight from the
    // line conversions; shorter ones and the widest go through the history frames.
    for (const Shape &s :
         {Shape{45, 70, 0, false}, Shape{45, 70, 3, true}, Shape{720, 96, 0, true},
          Shape{2200, 24, 5, false}, Shape{130, 9, 1, true}, Shape{70, 576, 3, false},
          Shape{48, 576, 0, true}, Shape{1000, 30, 2, true}}) {
        for (const Case &c : kCases) {
            SCOPED_TRACE(testing::Message() << c.name << " " << s.width << "x" << s.height << "+"
                                            << s.padPixels << (s.yuv ? " yuv" : " rgb"));
            gGroupsByLines = false;
            ASSERT_TRUE(UseKernels(KernelIsa::C));
            gEngineHooks.parallelFor = nullptr;
            gEngineHooks.workerThreads = nullptr;
            const std::vector<uint8_t> want = Run(c, s);
            gGroupsByLines = true;
            // The instruction sets agree with one another elsewhere; here the C kernels and the
            // best, on one thread and on eight.
            const KernelIsa best = KernelsFor(KernelIsa::Avx2) ? KernelIsa::Avx2 : KernelIsa::Sse2;
            for (auto [isa, threads] :
                 {std::pair{KernelIsa::C, 1}, std::pair{best, 1}, std::pair{best, 8}}) {
                ASSERT_TRUE(UseKernels(isa));
                pool.Resize(threads);
                gEngineHooks.parallelFor = [](int count, const std::function<void(int)> &task) {
                    gPool->Run(count, task);
                };
                gEngineHooks.workerThreads = [] { return gPool->Threads(); };
                EXPECT_TRUE(Run(c, s) == want) << KernelIsaName(isa) << ", " << threads;
            }
        }
    }
    gEngineHooks.parallelFor = nullptr;
    gEngineHooks.workerThreads = nullptr;
    gPool = nullptr;
    gGroupsByLines = true;
    gMinBandBytes = kMinBandBytes;
    UseKernels(KernelsFor(KernelIsa::Avx2) ? KernelIsa::Avx2 : KernelIsa::Sse2);
}

} // namespace
