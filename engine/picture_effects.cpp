#include "engine/picture_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "engine/internal/group_rows.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"
#include "platform/sys/random.h"

namespace {

uint8_t ClampByte(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

size_t LineBytes(const FrameView &f)
{
    return static_cast<size_t>(f.width) * f.bytesPerPixel;
}

constexpr int kChunkBytes = kChunkPixels * 3;

// Runs rows(r0, r1) over [0, count), split across the installed threads when `threads`; each row
// reads and writes rowBytes.
template <typename Rows> void RunRows(int count, size_t rowBytes, bool threads, const Rows &rows)
{
    if (threads) {
        RunRowBands(count, rowBytes, [&](int, int r0, int r1) { rows(r0, r1); });
    } else {
        rows(0, count);
    }
}

// The most lines a vertical filter reads on either side of the line it makes.
constexpr int kMaxReach = 2;

// A vertical filter in place over lines [first, first + count): filter(out, y, x0, n) makes
// columns [x0, x0 + n) of line y from the unfiltered lines within `reach` of it. A band writes
// each line back `reach` lines later, once no line of the band reads it; its first and last
// `reach` lines, which the bands next to it read, go to the work frame and back into the frame
// when every band is done.
template <typename Filter>
void FilterInPlace(const FrameView &f, int first, int count, int reach, uint8_t *work, bool threads,
                   const Filter &filter)
{
    const int bpp = f.bytesPerPixel;
    struct Band
    {
        int a = 0;
        int b = 0;
    } bands[kMaxRowBands];
    auto band = [&](int index, int r0, int r1) {
        const int a = first + r0;
        const int b = first + r1;
        bands[index] = {a, b};
        uint8_t ring[kMaxReach + 1][kChunkBytes];
        for (int x0 = 0; x0 < f.width; x0 += kChunkPixels) {
            const int n = std::min(kChunkPixels, f.width - x0);
            const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
            const size_t bytes = static_cast<size_t>(n) * bpp;
            for (int y = a; y < b; y++) {
                const bool edge = y < a + reach || y >= b - reach;
                uint8_t *out = edge ? work + static_cast<ptrdiff_t>(y) * f.pitch + at
                                    : ring[(y - a) % (reach + 1)];
                filter(out, y, x0, n);
                // Line y - reach is read by no later line of the band.
                const int done = y - reach;
                if (done >= a + reach && done < b - reach) {
                    std::memcpy(f.Row(done) + at, ring[(done - a) % (reach + 1)], bytes);
                }
            }
        }
    };
    if (threads) {
        // A line reads up to five lines and writes one.
        RunRowBands(count, 6 * LineBytes(f), band);
    } else if (count > 0) {
        band(0, 0, count);
    }
    const size_t bytes = LineBytes(f);
    for (const Band &bd : bands) {
        for (int y = bd.a; y < bd.b; y++) {
            if (y < bd.a + reach || y >= bd.b - reach) {
                std::memcpy(f.Row(y), work + static_cast<ptrdiff_t>(y) * f.pitch, bytes);
            }
        }
    }
}

void SqueezeRows(const EngineKernels &k, const FrameView &f, uint8_t *scratch, bool threads)
{
    const int h = f.height;
    const int b = h / 8;
    std::memcpy(scratch, f.base, static_cast<size_t>(h) * f.pitch);
    const int bytes = static_cast<int>(LineBytes(f));
    // Three quarters of the height: source line acc / 3 for each output line, acc += 4.
    RunRows(h - 2 * b, 3 * LineBytes(f), threads, [&](int r0, int r1) {
        for (int i = r0; i < r1; i++) {
            const int acc = 4 * i;
            const int l = std::min(acc / 3, h - 1);
            const int l1 = std::min(l + 1, h - 1);
            k.lerpRow(f.Row(b + i), scratch + static_cast<ptrdiff_t>(l) * f.pitch,
                      scratch + static_cast<ptrdiff_t>(l1) * f.pitch, bytes, acc % 3, 3);
        }
    });
    PaintBlackLines(f, 0, b);
    PaintBlackLines(f, h - b - 1, h - 1);
}

// Lines 2 .. h - 3: the vertical low-pass mixed in by the motion weight (256 a full blur).
void BlurRows(const EngineKernels &k, const FrameView &f, const MapView &motion, int amount,
              int sensitivity, uint8_t *mix, bool threads)
{
    const int h = f.height;
    if (h - 2 <= 2 || amount < 1 || amount > 3) {
        return;
    }
    // Amounts 1 and 2 read one line either side; the outer lines are not touched.
    FilterInPlace(f, 2, h - 4, amount == 3 ? 2 : 1, mix, threads,
                  [&](uint8_t *out, int y, int x0, int n) {
                      BlurLine(k, f, motion, amount, sensitivity, y, x0, n, out);
                  });
}

// Lines 1 .. h - 2 through the flicker filter.
void FlickerRows(const EngineKernels &k, const FrameView &f, int level, uint8_t *work, bool threads)
{
    level = std::clamp(level, 0, 4);
    if (level == 0 || f.height < 3) {
        return;
    }
    FilterInPlace(f, 1, f.height - 2, 1, work, threads, [&](uint8_t *out, int y, int x0, int n) {
        FlickerLine(k, f, level, y, x0, n, out);
    });
}

// Grain draws one number per pixel in row order: each band starts the generator where the rows
// before it leave it, and this thread's generator ends where the last row leaves it.
void EffectRows(const EngineKernels &k, const FrameView &f, int firstLine, int endLine,
                const EffectParams &p, bool threads)
{
    if (endLine <= firstLine) {
        return;
    }
    const uint32_t start = lc::CrtRandState();
    const uint64_t perRow = p.addGrain ? static_cast<uint64_t>(std::max(f.width, 0)) : 0;
    RunRows(endLine - firstLine, 2 * LineBytes(f), threads, [&](int r0, int r1) {
        uint32_t state = lc::CrtRandAdvance(start, perRow * r0);
        for (int y = firstLine + r0; y < firstLine + r1; y++) {
            state = k.effectsRow(f.Row(y), f.width, p, state);
        }
    });
    lc::CrtSrand(lc::CrtRandAdvance(start, perRow * (endLine - firstLine)));
}

} // namespace

void BlurLine(const EngineKernels &k, const FrameView &f, const MapView &motion, int amount,
              int sensitivity, int y, int x0, int n, uint8_t *out)
{
    const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * f.bytesPerPixel;
    // Amounts 1 and 2 read one line either side.
    const uint8_t *rows[5] = {};
    for (int t = amount == 3 ? -2 : -1; t <= (amount == 3 ? 2 : 1); t++) {
        rows[t + 2] = f.Row(y + t) + at;
    }
    k.blurLine(out, rows, motion.Row(y >> 1) + x0, motion.Row((y + 1) >> 1) + x0,
               motion.Row((y - 1) >> 1) + x0, n, f.bytesPerPixel, amount, sensitivity);
}

void FlickerLine(const EngineKernels &k, const FrameView &f, int level, int y, int x0, int n,
                 uint8_t *out)
{
    const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * f.bytesPerPixel;
    k.flickerRow(out, f.Row(y - 1) + at, f.Row(y) + at, f.Row(y + 1) + at, n * f.bytesPerPixel,
                 level);
}

EffectParams CurrentEffectParams()
{
    const ConversionOptions &o = gConversionOptions;
    EffectParams p;
    p.addGrain = o.addGrain != 0;
    p.redBoost = o.redBoost != 0;
    p.redBoostAmount = o.redBoostAmount;
    p.noiseTable = gFrameStore.noiseTable;
    p.yuv = gFrameStore.yuvActive != 0;
    p.redIndex = gFrameStore.bgrOrder ? 2 : 0;
    return p;
}

void PaintBlackLines(const FrameView &f, int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, f.height - 1);
    for (int y = first; y <= last; y++) {
        uint8_t *row = f.Row(y);
        if (f.bytesPerPixel == 2) {
            for (int x = 0; x < f.width; x++) {
                row[2 * x] = 0;
                row[2 * x + 1] = 128;
            }
        } else {
            std::memset(row, 0, LineBytes(f));
        }
    }
}

void CropToLetterbox_c(const FrameView &f)
{
    const int b = f.height / 8;
    PaintBlackLines(f, 0, b - 1);
    PaintBlackLines(f, f.height - b, f.height - 1);
}

void SqueezeToLetterbox_c(const FrameView &f, uint8_t *scratch)
{
    SqueezeRows(kKernels_c, f, scratch, false);
}

void BlurHorizontalLines_c(const FrameView &f, const MapView &motion, int blurAmount,
                           int motionSensitivity, uint8_t *mix)
{
    BlurRows(kKernels_c, f, motion, blurAmount, motionSensitivity, mix, false);
}

void RemoveFlicker_c(const FrameView &f, int level, uint8_t *work)
{
    FlickerRows(kKernels_c, f, level, work, false);
}

void BuildGrainTable_c(int32_t *table, int count, int grainAmount)
{
    // A sum of ten 15-bit values has mean 163835 and standard deviation about 1 / k / r.
    const float r = std::sqrt(30.0f);
    const float k = r * 6.1037017e-6f;
    for (int i = 0; i < count; i++) {
        int sum = 0;
        for (int j = 0; j < 10; j++) {
            sum += lc::CrtRand();
        }
        table[i] = static_cast<int32_t>((k * static_cast<float>(sum) - r)
                                        * static_cast<float>(grainAmount));
    }
}

void ApplyGrainAndRedBoost_c(uint8_t *pixel, int column, const EffectParams &p)
{
    uint32_t state = lc::CrtRandState();
    GrainAndRedBoostPixel(pixel, column, p, state);
    lc::CrtSrand(state);
}

void GrainAndRedBoostPixel(uint8_t *pixel, int column, const EffectParams &p, uint32_t &state)
{
    int n = 0;
    if (p.addGrain) {
        n = p.noiseTable[lc::CrtRandNext(state) >> 11];
    }
    if (p.yuv) {
        if (p.redBoost && (column & 1)) {
            pixel[1] = ClampByte(pixel[1] + p.redBoostAmount);
        }
        if (n != 0) {
            pixel[0] = ClampByte(pixel[0] + n);
        }
        return;
    }
    if (p.redBoost) {
        for (int b = 0; b < 3; b++) {
            const int boost = b == p.redIndex ? p.redBoostAmount : -p.redBoostAmount;
            pixel[b] = ClampByte(pixel[b] + boost + n);
        }
    } else if (n != 0) {
        for (int b = 0; b < 3; b++) {
            pixel[b] = ClampByte(pixel[b] + n);
        }
    }
}

void ApplyPictureEffects_c(const FrameView &f, int firstLine, int endLine, const EffectParams &p)
{
    EffectRows(kKernels_c, f, firstLine, endLine, p, false);
}

void ApplyPictureEffectsRows(const FrameView &f, int firstLine, int endLine, const EffectParams &p)
{
    EffectRows(Kernels(), f, firstLine, endLine, p, true);
}

namespace {

// Whole rows, so the bars cover the row pitch.
FrameView WholeRows(int slot)
{
    FrameView f = SlotView(slot);
    f.width = static_cast<int>(gFrameStore.rowPitch);
    return f;
}

} // namespace

void CropToLetterbox(int slot)
{
    CropToLetterbox_c(WholeRows(slot));
}

void SqueezeToLetterbox(int slot)
{
    SqueezeRows(Kernels(), WholeRows(slot), gFrameStore.rgbOutFrame, true);
}

void BlurHorizontalLines(int slot)
{
    BlurHorizontalLinesOf(SlotView(slot), MotionMapView(slot));
}

void BlurHorizontalLinesOf(const FrameView &f, const MapView &motion)
{
    BlurRows(Kernels(), f, motion, gConversionOptions.blurAmount,
             gConversionOptions.motionSensitivity, gFrameStore.mixFrame, true);
}

void BlurGroupLines(uint8_t *const *slots, const int *outList)
{
    FrameStore &fs = gFrameStore;
    fs.frameWidth = fs.sourceWidth;
    fs.frameHeight = fs.sourceHeight;
    for (int k = 0; k < 4; k++) {
        fs.rgbSlots[k + 1] = slots[outList[k]];
        fs.yuvSlots[k + 1] = slots[outList[k]];
    }
}

void RemoveFlicker(int slot, int level)
{
    FlickerRows(Kernels(), SlotView(slot), level, gFrameStore.blurFrame, true);
}

void RemoveFlickerBuffer(uint8_t *frame, int level)
{
    const FrameStore &fs = gFrameStore;
    FlickerRows(Kernels(),
                BufferView(frame, static_cast<int>(fs.rowPitch), static_cast<int>(fs.frameHeight)),
                level, fs.blurFrame, true);
}

void BuildGrainTable()
{
    BuildGrainTable_c(gFrameStore.noiseTable, kNoiseTableSize, gConversionOptions.grainAmount);
}

void ApplyGrainAndRedBoost(uint8_t *pixel, int column)
{
    ApplyGrainAndRedBoost_c(pixel, column, CurrentEffectParams());
}

void ApplyPictureEffects(int slot)
{
    const FrameView f = SlotView(slot);
    const int b = f.height / 8;
    const bool bars = gConversionOptions.cropLetterbox || gConversionOptions.unsqueezeLetterbox;
    ApplyPictureEffectsRows(f, bars ? b : 0, bars ? f.height - b : f.height, CurrentEffectParams());
}
