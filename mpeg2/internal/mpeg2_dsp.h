#pragma once

#include <cstddef>
#include <cstdint>

#include "mpeg2/yuv_to_rgb_scale.h"

// The hot kernels of MPEG-2 picture decoding and of the output stage's colour conversion. Each
// exists as a C version, the reference, and as packed SSE2 and AVX2 versions that give the same
// bytes; the table for the processor is chosen once, at the first use.

enum class Mpeg2Isa {
    C,
    Sse2,
    Avx2,
};

// A prediction of w x h samples (w 8 or 16) from src, which is read w (+1 with a horizontal
// half-sample) by h (+1 with a vertical half-sample) samples.
using Mpeg2PredictFn = void (*)(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src,
                                ptrdiff_t srcStride, int w, int h);

struct Mpeg2Dsp
{
    // 8 x 8 integer inverse DCT in place; outputs -256..255.
    void (*idct)(int16_t *block);
    // [average x 4 + xh x 2 + yh]: average folds a second prediction into the first.
    Mpeg2PredictFn predict[8];
    // 8 x 8: dst = clamp(dst + block) and dst = clamp(block + 128).
    void (*addBlock)(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
    void (*putIntraBlock)(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
    // 8 x 8 of one value v (-256..255): dst = clamp(dst + v).
    void (*addBlockDc)(uint8_t *dst, ptrdiff_t stride, int v);
    // One line of n samples: out = (wa x a + wb x b + 2^(shift-1)) >> shift; wa + wb = 2^shift.
    void (*blendRows)(uint8_t *out, const uint8_t *a, const uint8_t *b, int n, int wa, int wb,
                      int shift);
    // One chroma line of w samples to 2w: out[2i] = c[i], out[2i+1] = (c[i] + c[i+1] + 1) >> 1,
    // the last 8 samples doubled.
    void (*upsampleRow)(const uint8_t *c, uint8_t *out, int w);
    // One line of width pixels to B, G, R bytes.
    void (*yuvToRgbRow)(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                        int width, const YuvToRgbFactors &k);
    // The same from half-width chroma lines of chromaWidth samples, widened on the way as
    // upsampleRow widens them; width <= 2 x chromaWidth.
    void (*yuv422ToRgbRow)(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                           int width, int chromaWidth, const YuvToRgbFactors &k);
};

// The C upsampling of one line from sample `from` on (the packed versions' tail).
void UpsampleRowFrom(const uint8_t *c, uint8_t *out, int w, int from);
// The C colour conversion of a line with half-width chroma from pixel `from` on.
void Yuv422ToRgbRowFrom(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                        int width, int chromaWidth, const YuvToRgbFactors &k, int from);

bool Mpeg2IsaSupported(Mpeg2Isa isa);
const char *Mpeg2IsaName(Mpeg2Isa isa);
// The table of one instruction set (C for one the processor lacks).
const Mpeg2Dsp &Mpeg2DspFor(Mpeg2Isa isa);

// The best instruction set of this processor.
Mpeg2Isa BestMpeg2Isa();
// The table in use: the best the processor has, unless a test or benchmark chose another.
const Mpeg2Dsp &ActiveMpeg2Dsp();
Mpeg2Isa ActiveMpeg2Isa();
// Tests and benchmarks: decode with another instruction set (one the processor lacks gives C).
void SelectMpeg2Isa(Mpeg2Isa isa);

// The tables of each file.
extern const Mpeg2Dsp kMpeg2DspC;
extern const Mpeg2Dsp kMpeg2DspSse2;
extern const Mpeg2Dsp kMpeg2DspAvx2;
