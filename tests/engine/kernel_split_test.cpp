// The frame operations and group pipelines with every instruction set and 1 or 8 threads give
// the bytes of the C kernels on one thread: frames, history, motion and line maps, the output
// frame, the results and the grain generator's state.

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"
#include "engine/picture_effects.h"
#include "engine/pixel_formats.h"
#include "engine/pulldown.h"
#include "platform/sys/random.h"
#include "platform/sys/worker_pool.h"
#include "tests/engine/engine_test_util.h"

namespace {

struct Shape
{
    int width;
    int height;
    bool yuv;
};

struct Scenario
{
    const char *name;
    std::function<void(ConversionOptions &)> options;
    std::function<int64_t()> run; // returns whatever result the operation has
};

// What a run leaves behind, byte for byte.
struct Snapshot
{
    std::vector<uint8_t> bytes;
    std::vector<int64_t> values;
};

lc::WorkerPool *gPool = nullptr;

void PoolParallelFor(int count, const std::function<void(int)> &task)
{
    gPool->Run(count, task);
}

int PoolThreads()
{
    return gPool->Threads();
}

class KernelSplitTest : public EngineTest, public ::testing::WithParamInterface<Shape>
{
protected:
    // The input frames of a shape, made once: moving bars and noise, so that the weights
    // cover their whole range.
    const std::vector<uint8_t> &Frames(const Shape &s)
    {
        static std::vector<uint8_t> frames;
        static Shape made{0, 0, false};
        if (made.width != s.width || made.height != s.height || made.yuv != s.yuv) {
            const size_t row = RowBytes();
            const size_t bytes = row * 576;
            frames.resize(bytes * kInputFrameCount);
            std::mt19937 rng(99);
            for (int f = 0; f < kInputFrameCount; f++) {
                for (size_t i = 0; i < bytes; i++) {
                    const bool bar = ((i % row / 7 + f * 3 + i / row / 5) % 4) == 0;
                    frames[f * bytes + i] =
                        static_cast<uint8_t>(bar ? 230 + rng() % 26 : rng() % 256 / (1 + f % 3));
                }
            }
            made = s;
        }
        return frames;
    }

    void Fill(const Shape &s)
    {
        UseGeometry(s.width, s.height, s.yuv);
        const size_t bytes = RowBytes() * 576;
        const std::vector<uint8_t> &frames = Frames(s);
        for (int f = 0; f < kInputFrameCount; f++) {
            std::memcpy(gFrameStore.inputFrames[f], frames.data() + f * bytes, bytes);
        }
        for (int h = 0; h < kHistoryFrameCount; h++) {
            std::memset(gFrameStore.historyFrames[h], 0, bytes);
        }
        for (int m = 0; m < kSlotCount; m++) {
            std::memset(gFrameStore.motionMaps[m], 0, MapBytes());
        }
        std::memset(gFrameStore.lineMask, 0, MapBytes());
        std::memset(gFrameStore.lineMaskSum, 0, MapBytes());
        ResetCadenceCounter();
        gPulldownDetector = PulldownDetector{};
        lc::CrtSrand(77);
    }

    // Map values of 300 rows (the 576-line frames' 288, with room).
    static size_t MapBytes() { return static_cast<size_t>(gFrameStore.sourceWidth) * 300 * 4; }

    // Calls visit(pointer, bytes) for every buffer a run may change.
    template <typename Visit> static void VisitBuffers(const Visit &visit)
    {
        const FrameStore &fs = gFrameStore;
        const size_t frame = RowBytes() * 576;
        for (uint8_t *f : fs.inputFrames) {
            visit(f, frame);
        }
        for (uint8_t *f : fs.historyFrames) {
            visit(f, frame);
        }
        for (int32_t *m : fs.motionMaps) {
            visit(m, MapBytes());
        }
        visit(fs.lineMask, MapBytes());
        visit(fs.rgbOutFrame, static_cast<size_t>(fs.sourceWidth) * 3 * 576);
    }

    static std::vector<int64_t> Values(int64_t result)
    {
        std::vector<int64_t> v = {result, lc::CrtRandState(), gPalToNtscCadence.frameCount,
                                  gPalToNtscCadence.phase, gPulldownDetector.phase};
        for (int64_t score : gPulldownDetector.scores) {
            v.push_back(score);
        }
        return v;
    }

    int64_t RunScenario(const Scenario &sc, const Shape &shape)
    {
        ResetConversionOptions(gConversionOptions);
        sc.options(gConversionOptions);
        Fill(shape);
        // Only the first 16 grain values are ever drawn.
        BuildGrainTable_c(gFrameStore.noiseTable, 16, gConversionOptions.grainAmount);
        return sc.run();
    }

    Snapshot Reference(const Scenario &sc, const Shape &shape)
    {
        Snapshot s;
        const int64_t result = RunScenario(sc, shape);
        VisitBuffers([&](const void *p, size_t n) {
            const uint8_t *b = static_cast<const uint8_t *>(p);
            s.bytes.insert(s.bytes.end(), b, b + n);
        });
        s.values = Values(result);
        return s;
    }

    bool Matches(const Scenario &sc, const Shape &shape, const Snapshot &want)
    {
        const int64_t result = RunScenario(sc, shape);
        size_t at = 0;
        bool same = true;
        VisitBuffers([&](const void *p, size_t n) {
            same = same && std::memcmp(p, want.bytes.data() + at, n) == 0;
            at += n;
        });
        return same && Values(result) == want.values;
    }
};

int Convert(int first)
{
    return ConvertFrameGroup(gFrameStore.inputFrames, static_cast<int>(gFrameStore.sourceWidth),
                             static_cast<int>(gFrameStore.sourceHeight), first);
}

void Pal()
{
    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.sourceIsNtsc = 0;
}

const Scenario kScenarios[] = {
    {"MotionMaps", [](ConversionOptions &) {},
     [] {
         MotionMapsOfGroup(5);
         MotionMap(0, 1, 2);
         return int64_t(0);
     }},
    {"MotionMapsCrop", [](ConversionOptions &o) { o.cropLetterbox = 1; },
     [] {
         MotionMapsOfGroup(5);
         return int64_t(0);
     }},
    // Three runs in a row, so that each line detector sees the values of the run before.
    {"FieldsWithLineDetector",
     [](ConversionOptions &o) {
         o.lineDetectorOn = 1;
         o.motionSensitivity = 90;
     },
     [] {
         MotionMapsOfGroup(5);
         DeinterlaceField(2, 1, 0);
         DeinterlaceField(1, 3, 0);
         DeinterlaceFromFrame(4, 2, 0);
         DeinterlaceField(2, 5, 1);
         return int64_t(0);
     }},
    {"MasksAndCrop",
     [](ConversionOptions &o) {
         o.showMotionMask = 1;
         o.lineDetectorOn = 1;
         o.cropLetterbox = 1;
     },
     [] {
         MotionMapsOfGroup(5);
         DeinterlaceField(1, 2, 0);
         DeinterlaceFromFrame(5, 4, 0);
         return int64_t(0);
     }},
    {"LineMaskOnly",
     [](ConversionOptions &o) {
         o.showLineMask = 1;
         o.lineDetectorOn = 1;
     },
     [] {
         MotionMapsOfGroup(5);
         DeinterlaceField(2, 2, 0);
         DeinterlaceField(2, 3, 0);
         return int64_t(0);
     }},
    {"BlurFlickerSqueeze",
     [](ConversionOptions &o) {
         o.blurAmount = 3;
         o.motionSensitivity = 400;
     },
     [] {
         MotionMapsOfGroup(5);
         BlurHorizontalLines(1);
         gConversionOptions.blurAmount = 2;
         BlurHorizontalLines(2);
         gConversionOptions.blurAmount = 1;
         BlurHorizontalLines(3);
         RemoveFlicker(4, 4);
         RemoveFlicker(5, 1);
         RemoveFlickerBuffer(gFrameStore.inputFrames[6], 3);
         SqueezeToLetterbox(1);
         CropToLetterbox(2);
         return int64_t(0);
     }},
    {"GrainAndRedBoost",
     [](ConversionOptions &o) {
         o.addGrain = 1;
         o.grainAmount = 30;
         o.redBoost = 1;
         o.redBoostAmount = 40;
     },
     [] {
         ApplyPictureEffects(1);
         gConversionOptions.cropLetterbox = 1;
         ApplyPictureEffects(2);
         return int64_t(0);
     }},
    {"PalGroupEverything",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.lineDetectorOn = 1;
         o.blurLinesOnMotion = 1;
         o.flickerRemoval = 2;
         o.addGrain = 1;
         o.redBoost = 1;
         o.unsqueezeLetterbox = 1;
     },
     [] {
         Pal();
         int64_t n = Convert(1);
         n = n * 10 + Convert(0);
         return n;
     }},
    {"PalGroupCrop486",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.cropLetterbox = 1;
         o.upperFieldFirst = 1;
     },
     [] {
         Pal();
         gEngineSettings.ntscOutputHeight = 486;
         return int64_t(Convert(0));
     }},
    {"NtscFrame",
     [](ConversionOptions &o) {
         o.deinterlace = 1;
         o.blurLinesOnMotion = 1;
         o.unsqueezeLetterbox = 1;
         o.addGrain = 1;
     },
     [] { return int64_t(Convert(0)); }},
    {"RemovePulldownEverything",
     [](ConversionOptions &o) {
         o.lineDetectorOn = 1;
         o.blurLinesOnMotion = 1;
         o.blurAmount = 2;
         o.cropLetterbox = 1;
         o.addGrain = 1;
         o.redBoost = 1;
     },
     [] {
         gEngineSettings.sourceIsNtsc = 0;
         int outList[4] = {};
         RemovePulldownGroup(gFrameStore.inputFrames, outList, 2);
         BlurGroupLines(gFrameStore.inputFrames, outList);
         RemovePulldownGroup(gFrameStore.inputFrames, outList, 1);
         return int64_t(outList[0] * 1000 + outList[1] * 100 + outList[2] * 10 + outList[3]);
     }},
    {"Pulldown32", [](ConversionOptions &o) { o.pulldown32To25P = 1; },
     [] {
         int outList[4] = {};
         const int n = DetectPulldownPhase(gFrameStore.inputFrames, outList, 1);
         return int64_t(n * 10000 + outList[0] * 1000 + outList[1] * 100 + outList[3]);
     }},
    {"Pulldown2332", [](ConversionOptions &o) { o.pulldown2332To25P = 1; },
     [] {
         int outList[4] = {};
         return int64_t(DetectPulldownPhase(gFrameStore.inputFrames, outList, 0) * 10 + outList[2]);
     }},
    {"LinesTo576",
     [](ConversionOptions &o) {
         o.flickerRemoval = 3;
         o.addGrain = 1;
         o.redBoost = 1;
         o.unsqueezeLetterbox = 1;
     },
     [] {
         StoreHistoryFrame(0, gFrameStore.inputFrames[1]);
         ConvertLines480To576(gFrameStore.inputFrames[2], 0);
         return int64_t(0);
     }},
    {"PixelFormats", [](ConversionOptions &) {},
     [] {
         const FrameStore &fs = gFrameStore;
         const int w = static_cast<int>(fs.sourceWidth);
         const int h = static_cast<int>(fs.sourceHeight);
         OutputYuv422ToRgb(fs.inputFrames[1]);
         CopyFlipSwapRgb(fs.inputFrames[2], fs.inputFrames[3], h, w, 3);
         CopyFlipSwapRgb(fs.inputFrames[4], fs.inputFrames[5], h / 2, w, 4);
         FrameToBottomUpBgr(fs.historyFrames[0], fs.inputFrames[6]);
         Yuv422RowsToBottomUpBgr(fs.historyFrames[1], fs.inputFrames[7], ptrdiff_t(w) * 2, h, w);
         return int64_t(0);
     }},
};

TEST_P(KernelSplitTest, EveryInstructionSetAndThreadCountGivesTheSameBytes)
{
    const Shape shape = GetParam();
    lc::WorkerPool pool(8);
    gPool = &pool;
    // Frames this small are cut into row bands as the largest are.
    gMinBandBytes = 0;
    {
        for (const Scenario &sc : kScenarios) {
            SCOPED_TRACE(sc.name);
            ASSERT_TRUE(UseKernels(KernelIsa::C));
            gEngineHooks.parallelFor = nullptr;
            const Snapshot want = Reference(sc, shape);
            for (KernelIsa isa : {KernelIsa::C, KernelIsa::Sse2, KernelIsa::Avx2}) {
                if (!UseKernels(isa)) {
                    continue;
                }
                for (int threads : {1, 8}) {
                    pool.Resize(threads);
                    gEngineHooks.parallelFor = PoolParallelFor;
                    gEngineHooks.workerThreads = PoolThreads;
                    EXPECT_TRUE(Matches(sc, shape, want))
                        << KernelIsaName(isa) << ", " << threads << " threads";
                }
            }
        }
    }
    gEngineHooks.parallelFor = nullptr;
    gEngineHooks.workerThreads = nullptr;
    gPool = nullptr;
    gMinBandBytes = kMinBandBytes;
    UseKernels(KernelsFor(KernelIsa::Avx2) ? KernelIsa::Avx2 : KernelIsa::Sse2);
}

// Small odd frames (a few row bands), standard definition, a wide frame.
INSTANTIATE_TEST_SUITE_P(Shapes, KernelSplitTest,
                         ::testing::Values(Shape{45, 70, false}, Shape{45, 70, true},
                                           Shape{720, 576, false}, Shape{720, 576, true},
                                           Shape{1000, 64, false}, Shape{1000, 64, true}),
                         [](const auto &param) {
                             return std::to_string(param.param.width) + "x"
                                    + std::to_string(param.param.height)
                                    + (param.param.yuv ? "Yuv" : "Rgb");
                         });

} // namespace
