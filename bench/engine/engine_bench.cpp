// Frames/s and bytes/s of each kernel and each group operation of the frame processing core, at
// 720x576 and 1920x1080, RGB and YUV, moving and static content, on 1 or 8 threads; beside each,
// this machine's single-core copy bandwidth measured in the same run and the ratio of the two
// (kernel time / copy time: 1 runs at copy speed). Bytes are those of the frames taken in; the
// figures are medians of the iterations.
//
// The copy is a memcpy of the same bytes the kernel takes in (its input frames), from those very
// frames, on this thread. Kernel and copy alternate, one iteration each, so both see the same load,
// and before each of them every core's level-2 cache is filled with other data, so both start with
// their frames in the shared cache: a standard-definition frame would otherwise sit in this core's
// cache for the copy but not for a kernel that also reads maps and neighbours.
//
//   engine_bench [--engine_isa=c|sse2|avx2] [benchmark flags]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/internal/kernels.h"
#include "engine/picture_effects.h"
#include "engine/pixel_formats.h"
#include "engine/pulldown.h"
#include "platform/sys/worker_pool.h"

namespace {

struct Geometry
{
    int width;
    int height;
    bool yuv;
    bool moving;
};

// Benchmark arguments: size (0 SD, 1 HD), format (0 RGB, 1 YUV), content (0 static, 1 moving),
// threads.
Geometry GeometryOf(const benchmark::State &state)
{
    const bool hd = state.range(0) != 0;
    return {hd ? 1920 : 720, hd ? 1080 : 576, state.range(1) != 0, state.range(2) != 0};
}

// Bigger than a core's level-2 cache (2 MiB on the machines this runs on) with room to spare.
constexpr size_t kEvictBytes = size_t(4) << 20;

// Fills the level-2 cache of every core the kernels run on with other data: once on this thread,
// and once per worker through the pool.
void EvictCaches()
{
    static std::vector<uint8_t> junk(kEvictBytes * 9);
    static uint8_t round = 0;
    round++;
    std::memset(junk.data(), round, kEvictBytes);
    const int workers = gEngineHooks.workerThreads ? gEngineHooks.workerThreads() : 1;
    if (workers > 1) {
        gEngineHooks.parallelFor(std::min(workers, 8), [](int i) {
            std::memset(junk.data() + kEvictBytes * (i + 1), round, kEvictBytes);
        });
    }
    benchmark::ClobberMemory();
}

// memcpy of `frames` frames of `frameBytes` from the input frames 1.. into history frames.
void CopyFrames(size_t frameBytes, int frames)
{
    for (int f = 0; f < frames; f++) {
        std::memcpy(gFrameStore.historyFrames[f % kHistoryFrameCount],
                    gFrameStore.inputFrames[1 + f % 5], frameBytes);
    }
    benchmark::ClobberMemory();
}

double Median(std::vector<double> v)
{
    if (v.empty()) {
        return 0;
    }
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

// Allocates the store once and fills the seven input slots: the same picture for static
// content, a picture shifted by 3 pixels a slot plus noise for moving content; then the motion
// maps of slots 1..5.
void Prepare(const Geometry &g)
{
    static bool allocated = AllocateFrameStore() != 0;
    (void)allocated;
    if (g.yuv) {
        UseYuvFrames();
    } else {
        UseRgbFrames();
    }
    gEngineSettings.sourceIsNtsc = 1;
    gEngineSettings.sourceIsPal = 0;
    FrameStore &fs = gFrameStore;
    fs.sourceWidth = fs.frameWidth = fs.rowPitch = static_cast<uint32_t>(g.width);
    fs.sourceHeight = fs.frameHeight = static_cast<uint32_t>(g.height);
    const size_t row = RowBytes();
    std::mt19937 rng(1);
    for (int s = 0; s < kSlotCount; s++) {
        uint8_t *f = fs.inputFrames[s];
        const int shift = g.moving ? 3 * s : 0;
        for (int y = 0; y < g.height; y++) {
            for (size_t i = 0; i < row; i++) {
                const int x = static_cast<int>(i) / static_cast<int>(fs.bytesPerPixel) + shift;
                const int noise = g.moving ? static_cast<int>(rng() % 16) : 0;
                f[y * row + i] = static_cast<uint8_t>(((x / 8 + y / 8) % 2) * 160 + 40 + noise);
            }
        }
    }
    SetSlotFrames(fs.inputFrames, kSlotCount);
    for (int i = 0; i < 5; i++) {
        MotionMap(i, i + 1, i + 2);
    }
    ResetCadenceCounter();
    if (gConversionOptions.addGrain) {
        BuildGrainTable();
    }
}

// Prepares the shape, runs `setup` once and `body` per iteration, and counts the frames each
// iteration takes in (five for a group operation). Options start from their defaults.
template <typename Setup, typename Body>
void Measure(benchmark::State &state, int framesPerIteration, Setup setup, Body body)
{
    Geometry g = GeometryOf(state);
    lc::SetSharedWorkerThreads(static_cast<int>(state.range(3)));
    ResetConversionOptions(gConversionOptions);
    setup(g);
    Prepare(g);
    const size_t frameBytes = size_t(g.width) * g.height * (g.yuv ? 2 : 3);
    std::vector<double> kernelSeconds;
    std::vector<double> copySeconds;
    for (auto _ : state) {
        EvictCaches();
        const auto t0 = std::chrono::steady_clock::now();
        body(g);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        EvictCaches();
        const auto t2 = std::chrono::steady_clock::now();
        CopyFrames(frameBytes, framesPerIteration);
        const auto t3 = std::chrono::steady_clock::now();
        kernelSeconds.push_back(Seconds(t0, t1));
        copySeconds.push_back(Seconds(t2, t3));
        state.SetIterationTime(Seconds(t0, t1));
    }
    // Medians: an iteration the other programs on the machine delayed counts for no more than
    // one that ran undisturbed.
    const double kernel = Median(kernelSeconds);
    const double copy = Median(copySeconds);
    const double bytes = double(framesPerIteration) * double(frameBytes);
    state.counters["frames_per_second"] = framesPerIteration / kernel;
    state.counters["kernel_per_second"] = benchmark::Counter(
        bytes / kernel, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["copy_per_second"] = benchmark::Counter(
        bytes / copy, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["copy_ratio"] = kernel / copy;
}

void NoSetup(Geometry &) {}

void BM_MotionMap(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { MotionMap(0, 1, 2); });
}

void BM_DeinterlaceField(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { DeinterlaceField(2, 1, 0); });
}

void BM_DeinterlaceFieldLineDetector(benchmark::State &state)
{
    Measure(
        state, 1, [](Geometry &) { gConversionOptions.lineDetectorOn = 1; },
        [](const Geometry &) { DeinterlaceField(2, 1, 0); });
}

void BM_DeinterlaceFromFrame(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { DeinterlaceFromFrame(4, 2, 0); });
}

void BM_BlurHorizontalLines(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { BlurHorizontalLines(1); });
}

void BM_RemoveFlicker(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { RemoveFlicker(1, 2); });
}

void BM_SqueezeToLetterbox(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { SqueezeToLetterbox(1); });
}

void BM_CropToLetterbox(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { CropToLetterbox(1); });
}

void BM_GrainAndRedBoost(benchmark::State &state)
{
    Measure(
        state, 1,
        [](Geometry &) {
            gConversionOptions.addGrain = 1;
            gConversionOptions.redBoost = 1;
        },
        [](const Geometry &) { ApplyPictureEffects(1); });
}

void BM_FieldMatchScore32(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) {
        benchmark::DoNotOptimize(FieldMatchScore32(gFrameStore.inputFrames, 1, 1, 2));
    });
}

void BM_YuvToBottomUpBgr(benchmark::State &state)
{
    Measure(state, 1, NoSetup,
            [](const Geometry &g) { Yuv422ToRgb(gFrameStore.inputFrames[1], g.height, g.width); });
}

void BM_CopyFlipSwapRgb(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &g) {
        CopyFlipSwapRgb(gFrameStore.inputFrames[2], gFrameStore.inputFrames[1], g.height, g.width,
                        3);
    });
}

void BM_FrameToBottomUpBgr(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) {
        FrameToBottomUpBgr(gFrameStore.rgbOutFrame, gFrameStore.inputFrames[1]);
    });
}

// Whole groups: five source frames in.
void BM_RemovePulldownGroup(benchmark::State &state)
{
    Measure(
        state, 5, [](Geometry &) { gConversionOptions.blurLinesOnMotion = 1; },
        [](const Geometry &g) {
            int outList[4];
            RemovePulldownGroup(gFrameStore.inputFrames, outList, g.width > 900 ? 1 : 2);
        });
}

void BM_DetectPulldownPhase32(benchmark::State &state)
{
    Measure(
        state, 5, [](Geometry &) { gConversionOptions.pulldown32To25P = 1; },
        [](const Geometry &) {
            int outList[4];
            benchmark::DoNotOptimize(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1));
        });
}

void BM_DetectPulldownPhase2332(benchmark::State &state)
{
    Measure(
        state, 5, [](Geometry &) { gConversionOptions.pulldown2332To25P = 1; },
        [](const Geometry &) {
            int outList[4];
            benchmark::DoNotOptimize(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1));
        });
}

void BM_ConvertFrameGroupPal(benchmark::State &state)
{
    Measure(
        state, 5, [](Geometry &) { gConversionOptions.deinterlace = 1; },
        [](const Geometry &g) {
            gEngineSettings.sourceIsPal = 1;
            gEngineSettings.sourceIsNtsc = 0;
            benchmark::DoNotOptimize(
                ConvertFrameGroup(gFrameStore.inputFrames, g.width, g.height, 0));
        });
}

void BM_ConvertLines480To576(benchmark::State &state)
{
    Measure(
        state, 1, [](Geometry &g) { g.height = 480; },
        [](const Geometry &) {
            StoreHistoryFrame(0, gFrameStore.inputFrames[1]);
            ConvertLines480To576(gFrameStore.inputFrames[2], 0);
        });
}

void BM_ConvertLines576To480(benchmark::State &state)
{
    Measure(state, 1, NoSetup, [](const Geometry &) { ConvertLines576To480(1, 0, 0, 0); });
}

// Kernels on one thread (their speed against one core's copy), and moving HD on 8; group
// operations on 1 and 8.
void AllShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving", "threads"});
    for (int hd : {0, 1}) {
        for (int yuv : {0, 1}) {
            for (int moving : {0, 1}) {
                b->Args({hd, yuv, moving, 1});
            }
        }
    }
    for (int yuv : {0, 1}) {
        b->Args({1, yuv, 1, 8});
    }
}

void GroupShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving", "threads"});
    for (int threads : {1, 8}) {
        for (int hd : {0, 1}) {
            for (int yuv : {0, 1}) {
                b->Args({hd, yuv, 1, threads});
            }
        }
    }
}

// The line conversions exist for standard definition only.
void SdShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving", "threads"});
    for (int threads : {1, 8}) {
        for (int yuv : {0, 1}) {
            b->Args({0, yuv, 1, threads});
        }
    }
}

void RgbShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving", "threads"});
    for (int hd : {0, 1}) {
        b->Args({hd, 0, 1, 1});
    }
}

void YuvShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving", "threads"});
    for (int hd : {0, 1}) {
        b->Args({hd, 1, 1, 1});
    }
}

} // namespace

BENCHMARK(BM_MotionMap)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_DeinterlaceField)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_DeinterlaceFieldLineDetector)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_DeinterlaceFromFrame)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_BlurHorizontalLines)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_RemoveFlicker)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_SqueezeToLetterbox)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_CropToLetterbox)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_GrainAndRedBoost)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_FieldMatchScore32)->Apply(AllShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_YuvToBottomUpBgr)->Apply(YuvShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_CopyFlipSwapRgb)->Apply(RgbShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_FrameToBottomUpBgr)->Apply(RgbShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_RemovePulldownGroup)->Apply(GroupShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_DetectPulldownPhase32)->Apply(GroupShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_DetectPulldownPhase2332)->Apply(GroupShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_ConvertFrameGroupPal)->Apply(GroupShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_ConvertLines480To576)->Apply(SdShapes)->UseManualTime()->MinTime(0.1);
BENCHMARK(BM_ConvertLines576To480)->Apply(SdShapes)->UseManualTime()->MinTime(0.1);

int main(int argc, char **argv)
{
    // The kernels' row bands run on the shared pool, as the passes install it.
    gEngineHooks.parallelFor = [](int count, const std::function<void(int)> &task) {
        lc::SharedWorkerPool().Run(count, task);
    };
    gEngineHooks.workerThreads = [] { return lc::SharedWorkerPool().Threads(); };
    KernelIsa isa = KernelsFor(KernelIsa::Avx2) ? KernelIsa::Avx2 : KernelIsa::Sse2;
    int kept = 1;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a.rfind("--engine_isa=", 0) == 0) {
            const std::string name = a.substr(13);
            isa = name == "c" ? KernelIsa::C : name == "sse2" ? KernelIsa::Sse2 : KernelIsa::Avx2;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (!UseKernels(isa)) {
        std::fprintf(stderr, "engine_bench: this processor lacks %s\n", KernelIsaName(isa));
        return 1;
    }
    std::printf("kernels: %s\n", KernelIsaName(isa));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
