#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/deinterlace.h"
#include "engine/picture_effects.h"

#define LC_RESTRICT __restrict__

// The row primitives under the frame kernels, one table per instruction set. The `_c` table is
// the reference every packed table is tested against; the active table is chosen once, on first
// use, from what the processor has. Every entry gives the same bytes as its `_c` version.

// Frames a group's motion maps are made from at once: the seven slots.
constexpr int kMaxGroupFrames = 7;

enum class KernelIsa {
    C,
    Sse2,
    Avx2,
};

// What the weights of a run of pixels on one line are made from.
struct WeightRowInput
{
    const int32_t *motion = nullptr; // the pixels' motion-map values
    // Line detector (params.lineDetectorOn) only. The seven-sample box sums (lineBoxRow) of the
    // kept-field lines y - 3, y - 1 and y + 1; nullptr where the pixels have line value 0.
    const int16_t *boxA = nullptr;
    const int16_t *boxB = nullptr;
    const int16_t *boxC = nullptr;
    const int32_t *prev = nullptr;  // the previous run's line values of the pixels (0 .. 255)
    const int32_t *above = nullptr; // and of the map rows around them; nullptr: the row alone
    const int32_t *below = nullptr;
    int32_t *sum = nullptr; // this run's line values, written
    DeinterlaceParams params;
};

struct EngineKernels
{
    // out[i] = s0[i] + trunc((s1[i] - s0[i]) x f / d) for i < n; 0 <= f < d <= 256.
    void (*lerpRow)(uint8_t *LC_RESTRICT out, const uint8_t *s0, const uint8_t *s1, int n, int f,
                    int d);
    // Sum of (a[i] - b[i])^2 over n bytes.
    int64_t (*sqDiffBytes)(const uint8_t *a, const uint8_t *b, int n);
    // The same over the luminance (even) bytes of `pixels` YUV 4:2:2 pixels.
    int64_t (*sqDiffLuma)(const uint8_t *a, const uint8_t *b, int pixels);
    // One motion-map row from lines 0 and 1 of the previous, current and next frames: per pixel
    // the twelve squares of RGB, or three times the four luminance squares of YUV.
    void (*motionRowRgb)(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                         const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                         int width);
    void (*motionRowYuv)(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                         const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                         int width);
    // The motion-map rows of a group from one line pair (line0, line1) of `frames` consecutive
    // frames: out[i] is the row of frame i + 1 against frames i and i + 2, i < frames - 2 (at
    // most kMaxGroupFrames frames). Each difference of neighbouring frames is squared once.
    void (*groupMotionRows)(int32_t *const *out, const uint8_t *const *line0,
                            const uint8_t *const *line1, int frames, int width, bool yuv);
    // Box sums of the line detector: out[i] = the samples (YUV: luminance; RGB: the sum of the
    // three bytes) of pixels x0 + i - 3 .. x0 + i + 3 of `row`, i < n; the caller keeps pixels
    // x0 - 3 .. x0 + n + 2 inside the row.
    void (*lineBoxRow)(int16_t *LC_RESTRICT out, const uint8_t *row, int x0, int n, bool yuv);
    // The weights DeinterlaceWeight_c gives n pixels of a line, from what `in` holds; each line
    // value is stored in in.sum.
    void (*weightRow)(int16_t *LC_RESTRICT w, const WeightRowInput &in, int n);
    // Blur weights: clamp(((a[x] + b[x] + c[x]) >> 3) x sensitivity / 50 - 100, 0, 256); maps
    // hold sums of squares (0 .. 780300).
    void (*blurWeightRow)(int16_t *LC_RESTRICT w, const int32_t *a, const int32_t *b,
                          const int32_t *c, int width, int sensitivity);
    // Per-byte weights: each pixel's weight repeated over its bpp (2 or 3) bytes.
    void (*expandWeights)(int16_t *LC_RESTRICT wb, const int16_t *w, int width, int bpp);
    // row[i] = (((above[i] + below[i]) >> 1) x wb[i] + row[i] x (256 - wb[i])) >> 8.
    void (*fieldBlendRow)(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                          const int16_t *wb, int n);
    // out[i] = ((((up + 2 mid + dn) >> 2) x wb + mid x (256 - wb)) >> 8 per byte.
    void (*fromFrameBlendRow)(uint8_t *LC_RESTRICT out, const uint8_t *up, const uint8_t *mid,
                              const uint8_t *dn, const int16_t *wb, int n);
    // A field line of `pixels` pixels of bpp (2 or 3) bytes rebuilt in place: fieldBlendRow with
    // the weights of weightRow from `in`, each pixel's on all its bytes; line values stored as
    // weightRow does.
    void (*fieldLine)(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                      const WeightRowInput &in, int pixels, int bpp);
    // fromFrameBlendRow of lines out[0] and out[1] from src[0..3] (lines y - 1 .. y + 2 of the
    // source), both with the weights of weightRow from `in`.
    void (*fromFrameLines)(uint8_t *const *out, const uint8_t *const *src, const WeightRowInput &in,
                           int pixels, int bpp);
    // The blur of amount 1..3 of the row between m1 and p1 (m2, p2 for amount 3), mixed with the
    // unblurred row by wb.
    void (*blurMixRow)(uint8_t *LC_RESTRICT out, const uint8_t *m2, const uint8_t *m1,
                       const uint8_t *p0, const uint8_t *p1, const uint8_t *p2, const int16_t *wb,
                       int n, int amount);
    // A line of the blur on motion over `pixels` pixels of bpp (2 or 3) bytes: blurWeightRow's
    // weights from map rows a, b, c, each pixel's on all its bytes, and blurMixRow of `amount`
    // over rows[0..4], the lines y - 2 .. y + 2 (0 and 4 read for amount 3 only).
    void (*blurLine)(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
                     const int32_t *b, const int32_t *c, int pixels, int bpp, int amount,
                     int sensitivity);
    // (above x a + centre x c + below x b) / divisor of the flicker level 1..4.
    void (*flickerRow)(uint8_t *LC_RESTRICT out, const uint8_t *a, const uint8_t *c,
                       const uint8_t *b, int n, int level);
    // Grain and red boost over the `width` pixels of a row; `state` is the C runtime generator's,
    // one call per pixel with grain on. Returns the state after the row.
    uint32_t (*effectsRow)(uint8_t *row, int width, const EffectParams &p, uint32_t state);
    // YUV 4:2:2 -> B,G,R of one row (each pixel with the latest U and V, both 0 at the start).
    void (*yuvToBgrRow)(uint8_t *LC_RESTRICT dst, const uint8_t *src, int width);
    // 3-byte pixels with bytes 0 and 2 swapped.
    void (*swapRgbRow)(uint8_t *LC_RESTRICT dst, const uint8_t *src, int width);
    // 4-byte B,G,R,X pixels -> 3-byte R,G,B.
    void (*swapRgbxRow)(uint8_t *LC_RESTRICT dst, const uint8_t *src, int width);
};

// The table for an instruction set, or nullptr when this processor lacks it.
const EngineKernels *KernelsFor(KernelIsa isa);
// The active table: the best the processor has, unless a test or benchmark chose another.
const EngineKernels &Kernels();
// Tests and benchmarks: returns false (and changes nothing) when the processor lacks `isa`.
bool UseKernels(KernelIsa isa);
const char *KernelIsaName(KernelIsa isa);

// The reference row primitives.
extern const EngineKernels kKernels_c;

// `in` moved on by i pixels.
WeightRowInput AdvanceWeightInput(const WeightRowInput &in, int i);
