// Frames/s and MB/s of each kernel and each group operation of the frame processing core, one
// thread, at 720x576 and 1920x1080, RGB and YUV, moving and static content.
#include <cstdint>
#include <cstring>
#include <random>

#include <benchmark/benchmark.h>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/picture_effects.h"
#include "engine/pixel_formats.h"
#include "engine/pulldown.h"

namespace {

struct Geometry
{
    int width;
    int height;
    bool yuv;
    bool moving;
};

// Benchmark arguments: size (0 SD, 1 HD), format (0 RGB, 1 YUV), content (0 static, 1 moving).
Geometry GeometryOf(const benchmark::State &state)
{
    const bool hd = state.range(0) != 0;
    return {hd ? 1920 : 720, hd ? 1080 : 576, state.range(1) != 0, state.range(2) != 0};
}

// Allocates the store once and fills the seven input slots: the same picture for static
// content, a picture shifted by 3 pixels a slot plus noise for moving content.
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
}

void Count(benchmark::State &state, const Geometry &g, int framesPerIteration)
{
    const int64_t frames = static_cast<int64_t>(state.iterations()) * framesPerIteration;
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(frames * g.width * g.height * (g.yuv ? 2 : 3));
}

void BM_MotionMap(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        MotionMap(0, 1, 2);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_DeinterlaceField(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    MotionMap(0, 1, 2);
    for (auto _ : state) {
        DeinterlaceField(2, 1, 0);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_DeinterlaceFieldLineDetector(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gConversionOptions.lineDetectorOn = 1;
    MotionMap(0, 1, 2);
    for (auto _ : state) {
        DeinterlaceField(2, 1, 0);
        benchmark::ClobberMemory();
    }
    gConversionOptions.lineDetectorOn = 0;
    Count(state, g, 1);
}

void BM_DeinterlaceFromFrame(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    MotionMap(1, 2, 3);
    for (auto _ : state) {
        DeinterlaceFromFrame(4, 2, 0);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_BlurHorizontalLines(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    MotionMap(0, 1, 2);
    for (auto _ : state) {
        BlurHorizontalLines(1);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_RemoveFlicker(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        RemoveFlicker(1, 2);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_SqueezeToLetterbox(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        SqueezeToLetterbox(1);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_GrainAndRedBoost(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gConversionOptions.addGrain = 1;
    gConversionOptions.redBoost = 1;
    BuildGrainTable();
    for (auto _ : state) {
        ApplyPictureEffects(1);
        benchmark::ClobberMemory();
    }
    gConversionOptions.addGrain = 0;
    gConversionOptions.redBoost = 0;
    Count(state, g, 1);
}

void BM_FieldMatchScore32(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FieldMatchScore32(gFrameStore.inputFrames, 1, 1, 2));
    }
    Count(state, g, 1);
}

void BM_YuvToBottomUpBgr(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        Yuv422ToRgb(gFrameStore.inputFrames[1], g.height, g.width);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void BM_CopyFlipSwapRgb(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    for (auto _ : state) {
        CopyFlipSwapRgb(gFrameStore.inputFrames[2], gFrameStore.inputFrames[1], g.height, g.width,
                        3);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

// Whole groups: five source frames in.
void BM_RemovePulldownGroup(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gConversionOptions.blurLinesOnMotion = 1;
    int outList[4];
    for (auto _ : state) {
        RemovePulldownGroup(gFrameStore.inputFrames, outList, g.width > 900 ? 1 : 2);
        benchmark::ClobberMemory();
    }
    gConversionOptions.blurLinesOnMotion = 0;
    Count(state, g, 5);
}

void BM_DetectPulldownPhase32(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gConversionOptions.pulldown32To25P = 1;
    int outList[4];
    for (auto _ : state) {
        benchmark::DoNotOptimize(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1));
    }
    gConversionOptions.pulldown32To25P = 0;
    Count(state, g, 5);
}

void BM_DetectPulldownPhase2332(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gConversionOptions.pulldown2332To25P = 1;
    int outList[4];
    for (auto _ : state) {
        benchmark::DoNotOptimize(DetectPulldownPhase(gFrameStore.inputFrames, outList, 1));
    }
    gConversionOptions.pulldown2332To25P = 0;
    Count(state, g, 5);
}

void BM_ConvertFrameGroupPal(benchmark::State &state)
{
    const Geometry g = GeometryOf(state);
    Prepare(g);
    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.sourceIsNtsc = 0;
    gConversionOptions.deinterlace = 1;
    ResetCadenceCounter();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ConvertFrameGroup(gFrameStore.inputFrames, g.width, g.height, 0));
    }
    gConversionOptions.deinterlace = 0;
    Count(state, g, 5);
}

void BM_ConvertLines480To576(benchmark::State &state)
{
    Geometry g = GeometryOf(state);
    g.height = 480;
    Prepare(g);
    StoreHistoryFrame(0, gFrameStore.inputFrames[1]);
    for (auto _ : state) {
        ConvertLines480To576(gFrameStore.inputFrames[2], 0);
        benchmark::ClobberMemory();
    }
    Count(state, g, 1);
}

void AllShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving"});
    for (int hd : {0, 1}) {
        for (int yuv : {0, 1}) {
            for (int moving : {0, 1}) {
                b->Args({hd, yuv, moving});
            }
        }
    }
}

// The 480-to-576 conversion exists for standard definition only.
void SdShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving"});
    for (int yuv : {0, 1}) {
        b->Args({0, yuv, 1});
    }
}

void RgbShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving"});
    for (int hd : {0, 1}) {
        b->Args({hd, 0, 1});
    }
}

void YuvShapes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"hd", "yuv", "moving"});
    for (int hd : {0, 1}) {
        b->Args({hd, 1, 1});
    }
}

} // namespace

BENCHMARK(BM_MotionMap)->Apply(AllShapes);
BENCHMARK(BM_DeinterlaceField)->Apply(AllShapes);
BENCHMARK(BM_DeinterlaceFieldLineDetector)->Apply(AllShapes);
BENCHMARK(BM_DeinterlaceFromFrame)->Apply(AllShapes);
BENCHMARK(BM_BlurHorizontalLines)->Apply(AllShapes);
BENCHMARK(BM_RemoveFlicker)->Apply(AllShapes);
BENCHMARK(BM_SqueezeToLetterbox)->Apply(AllShapes);
BENCHMARK(BM_GrainAndRedBoost)->Apply(AllShapes);
BENCHMARK(BM_FieldMatchScore32)->Apply(AllShapes);
BENCHMARK(BM_YuvToBottomUpBgr)->Apply(YuvShapes);
BENCHMARK(BM_CopyFlipSwapRgb)->Apply(RgbShapes);
BENCHMARK(BM_RemovePulldownGroup)->Apply(AllShapes);
BENCHMARK(BM_DetectPulldownPhase32)->Apply(AllShapes);
BENCHMARK(BM_DetectPulldownPhase2332)->Apply(AllShapes);
BENCHMARK(BM_ConvertFrameGroupPal)->Apply(AllShapes);
BENCHMARK(BM_ConvertLines480To576)->Apply(SdShapes);

BENCHMARK_MAIN();
