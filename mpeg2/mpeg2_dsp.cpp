#include "mpeg2/internal/mpeg2_dsp.h"

#include <atomic>

#include "mpeg2/mpeg_idct.h"
#include "platform/sys/cpu.h"

namespace {

inline uint8_t Clamp255(int v)
{
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// The averaging forms fold both roundings of a second prediction into one step.
template <bool Average, bool Xh, bool Yh>
void PredictKernel(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride,
                   int w, int h)
{
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int a = src[x];
            int p = dst[x];
            int v;
            if (Xh && Yh) {
                int s = a + src[x + 1] + src[x + srcStride] + src[x + srcStride + 1];
                v = Average ? (s + 4 * p + 6) >> 3 : (s + 2) >> 2;
            } else if (Xh || Yh) {
                int b = Xh ? src[x + 1] : src[x + srcStride];
                v = Average ? (a + b + 2 * p + 3) >> 2 : (a + b + 1) >> 1;
            } else {
                v = Average ? (p + a + 1) >> 1 : a;
            }
            dst[x] = uint8_t(v);
        }
        src += srcStride;
        dst += dstStride;
    }
}

void AddBlockC(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    for (int y = 0; y < 8; ++y, dst += stride, block += 8) {
        for (int x = 0; x < 8; ++x) {
            dst[x] = Clamp255(dst[x] + block[x]);
        }
    }
}

void PutIntraBlockC(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    for (int y = 0; y < 8; ++y, dst += stride, block += 8) {
        for (int x = 0; x < 8; ++x) {
            dst[x] = Clamp255(block[x] + 128);
        }
    }
}

void AddBlockDcC(uint8_t *dst, ptrdiff_t stride, int v)
{
    for (int y = 0; y < 8; ++y, dst += stride) {
        for (int x = 0; x < 8; ++x) {
            dst[x] = Clamp255(dst[x] + v);
        }
    }
}

void BlendRowsC(uint8_t *out, const uint8_t *a, const uint8_t *b, int n, int wa, int wb, int shift)
{
    const int round = 1 << (shift - 1);
    for (int x = 0; x < n; ++x) {
        out[x] = uint8_t((wa * a[x] + wb * b[x] + round) >> shift);
    }
}

void UpsampleRowC(const uint8_t *c, uint8_t *out, int w)
{
    UpsampleRowFrom(c, out, w, 0);
}

inline void StoreBgr(uint8_t *px, int y, int cb, int cr, const YuvToRgbFactors &k)
{
    // 4096 rounds the >> 13.
    const int l = (y - k.lumaOffset) * k.lumaScale + 4096;
    const int u = cb - 128;
    const int v = cr - 128;
    px[0] = Clamp255((l + u * k.cbToBlue) >> 13);
    px[1] = Clamp255((l + v * k.crToGreen + u * k.cbToGreen) >> 13);
    px[2] = Clamp255((l + v * k.crToRed) >> 13);
}

void YuvToRgbRowC(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr, int width,
                  const YuvToRgbFactors &k)
{
    for (int x = 0; x < width; x++) {
        StoreBgr(bgr + 3 * x, y[x], cb[x], cr[x], k);
    }
}

void Yuv422ToRgbRowC(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                     int width, int chromaWidth, const YuvToRgbFactors &k)
{
    Yuv422ToRgbRowFrom(y, cb, cr, bgr, width, chromaWidth, k, 0);
}

std::atomic<const Mpeg2Dsp *> gActive{nullptr};
std::atomic<int> gActiveIsa{-1};

} // namespace

void UpsampleRowFrom(const uint8_t *c, uint8_t *out, int w, int from)
{
    // The last 8 samples of a line are doubled: the interpolation would read past the line.
    const int interpolated = w > 8 ? w - 8 : 0;
    int i = from;
    for (; i < interpolated; i++) {
        out[2 * i] = c[i];
        out[2 * i + 1] = uint8_t((c[i] + c[i + 1] + 1) >> 1);
    }
    for (; i < w; i++) {
        out[2 * i] = c[i];
        out[2 * i + 1] = c[i];
    }
}

void Yuv422ToRgbRowFrom(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                        int width, int chromaWidth, const YuvToRgbFactors &k, int from)
{
    // Chroma as upsampleRow widens it: odd pixels take the mean of their sample and the next,
    // but for the last 8 samples of the line.
    auto at = [chromaWidth](const uint8_t *c, int x) {
        const int i = x / 2;
        return x % 2 == 0 || i >= chromaWidth - 8 ? int(c[i]) : (c[i] + c[i + 1] + 1) >> 1;
    };
    for (int x = from; x < width; x++) {
        StoreBgr(bgr + 3 * x, y[x], at(cb, x), at(cr, x), k);
    }
}

const Mpeg2Dsp kMpeg2DspC = {
    IdctBlock,
    {PredictKernel<false, false, false>, PredictKernel<false, false, true>,
     PredictKernel<false, true, false>, PredictKernel<false, true, true>,
     PredictKernel<true, false, false>, PredictKernel<true, false, true>,
     PredictKernel<true, true, false>, PredictKernel<true, true, true>},
    AddBlockC,
    PutIntraBlockC,
    AddBlockDcC,
    BlendRowsC,
    UpsampleRowC,
    YuvToRgbRowC,
    Yuv422ToRgbRowC,
};

bool Mpeg2IsaSupported(Mpeg2Isa isa)
{
    switch (isa) {
    case Mpeg2Isa::C:
    case Mpeg2Isa::Sse2: // every x86-64 processor
        return true;
    case Mpeg2Isa::Avx2:
        return lc::CpuHasAvx2();
    }
    return false;
}

const char *Mpeg2IsaName(Mpeg2Isa isa)
{
    switch (isa) {
    case Mpeg2Isa::C:
        return "C";
    case Mpeg2Isa::Sse2:
        return "SSE2";
    case Mpeg2Isa::Avx2:
        return "AVX2";
    }
    return "?";
}

const Mpeg2Dsp &Mpeg2DspFor(Mpeg2Isa isa)
{
    if (!Mpeg2IsaSupported(isa)) {
        return kMpeg2DspC;
    }
    switch (isa) {
    case Mpeg2Isa::C:
        return kMpeg2DspC;
    case Mpeg2Isa::Sse2:
        return kMpeg2DspSse2;
    case Mpeg2Isa::Avx2:
        return kMpeg2DspAvx2;
    }
    return kMpeg2DspC;
}

void SelectMpeg2Isa(Mpeg2Isa isa)
{
    if (!Mpeg2IsaSupported(isa)) {
        isa = Mpeg2Isa::C;
    }
    gActiveIsa.store(int(isa));
    gActive.store(&Mpeg2DspFor(isa));
}

Mpeg2Isa ActiveMpeg2Isa()
{
    ActiveMpeg2Dsp();
    return Mpeg2Isa(gActiveIsa.load());
}

Mpeg2Isa BestMpeg2Isa()
{
    return Mpeg2IsaSupported(Mpeg2Isa::Avx2) ? Mpeg2Isa::Avx2 : Mpeg2Isa::Sse2;
}

const Mpeg2Dsp &ActiveMpeg2Dsp()
{
    const Mpeg2Dsp *dsp = gActive.load(std::memory_order_acquire);
    if (!dsp) {
        SelectMpeg2Isa(BestMpeg2Isa());
        dsp = gActive.load();
    }
    return *dsp;
}
