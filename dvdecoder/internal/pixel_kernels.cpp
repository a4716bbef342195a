#include "dvdecoder/internal/pixel_kernels.h"

#include <algorithm>
#include <cstring>

#include "dvdecoder/internal/idct.h"

namespace {

int16_t Wrap16(int32_t v)
{
    return int16_t(uint16_t(uint32_t(v)));
}
int16_t Sat16(int32_t v)
{
    return int16_t(std::clamp(v, -32768, 32767));
}
uint8_t Clamp255(int v)
{
    return uint8_t(std::clamp(v, 0, 255));
}

int16_t Sample(const uint8_t *plane, int pair)
{
    int16_t v;
    std::memcpy(&v, plane + 2 * pair, sizeof v);
    return v;
}

// One pixel's colour from luminance term and colour differences, each sum exact and clamped:
// bright saturated colours stay bright instead of wrapping round to black.
void StoreColour(uint8_t *px, int luma, int cr, int cb)
{
    px[0] = Clamp255((luma + kCbToBlue * cb) >> 6);
    px[1] = Clamp255((luma + kCbToGreen * cb + kCrToGreen * cr) >> 6);
    px[2] = Clamp255((luma + kCrToRed * cr) >> 6);
    px[3] = 0;
}

} // namespace

void WorkLuma_c(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 8; ++i) {
            // 16-bit lanes: the product wraps, the rounding add saturates.
            const int16_t scaled = Sat16(int32_t(Wrap16(block[8 * j + i] * kWorkLumaGain)) + 16);
            dst[ptrdiff_t(j) * stride + i] = Clamp255((scaled >> 5) + kWorkLumaOffset);
        }
    }
}

void FastColours_c(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb)
{
    for (int j = 0; j < 8; j += 2) {
        for (int c = 0; c < 4; ++c) {
            const int16_t *v = luma + 8 * j + 2 * c;
            // Sums of samples wrap in 16 bits, as the lanes do.
            const int16_t ya = int16_t(Wrap16(v[0] + v[1] + v[8] + v[9]) >> 2);
            const int y = Wrap16((Wrap16(ya * kWorkLumaGain) >> 5) + kWorkLumaOffset);
            const int crv = Wrap16(cr[8 * j + c] + cr[8 * j + 8 + c]) >> 1;
            const int cbv = Wrap16(cb[8 * j + c] + cb[8 * j + 8 + c]) >> 1;
            StoreColour(bgrx + 4 * ((j / 2) * 4 + c), kFastLumaGain * y, crv, cbv);
        }
    }
}

void ExpandColours_c(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                     int count)
{
    // Colour of each column: two columns each at the coded width, 3 each widened by 3/2, and
    // 3, 2, 3, 3 widened by 4/3.
    static constexpr uint8_t kCoded[12] = {0, 0, 1, 1, 2, 2, 3, 3};
    static constexpr uint8_t kWide1080[12] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
    static constexpr uint8_t kWide720[12] = {0, 0, 0, 1, 1, 2, 2, 2, 3, 3, 3};
    const uint8_t *which = columns == 8 ? kCoded : columns == 12 ? kWide1080 : kWide720;
    for (int l = 0; l < 8; ++l) {
        uint8_t *line = dst + ptrdiff_t(l) * lineStride;
        for (int col = 0; col < count; ++col) {
            std::memcpy(line + 3 * col, colours + 16 * (l / 2) + 4 * which[col], 3);
        }
    }
}

void ConvertRowToBgrx_c(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth)
{
    const uint8_t *crPlane = work + width;
    const uint8_t *cbPlane = work + 2 * width;
    const int pairs = codedWidth / 2;
    for (int x = 0; x < codedWidth; ++x) {
        const int pair = x / 2;
        int16_t cr = Sample(crPlane, pair);
        int16_t cb = Sample(cbPlane, pair);
        if (x % 2 == 1) {
            // Odd pixels take the mean of their pair and the next; the row's last pair repeats.
            const int next = std::min(pair + 1, pairs - 1);
            cr = int16_t(Sat16(cr + Sample(crPlane, next)) >> 1);
            cb = int16_t(Sat16(cb + Sample(cbPlane, next)) >> 1);
        }
        StoreColour(bgrx + 4 * x, kLumaGain * work[x], cr, cb);
    }
}

void SharpenBytes_c(uint8_t *dst, const uint8_t *src, int from, int pixels)
{
    for (int i = from; i < 4 * (pixels - 1); ++i) {
        dst[i] = Clamp255((18 * src[i] - src[i - 4] - src[i + 4]) >> 4);
    }
    std::memcpy(dst, src, 4);
    std::memcpy(dst + 4 * (pixels - 1), src + 4 * (pixels - 1), 4);
}

void SharpenRow_c(uint8_t *dst, const uint8_t *src, int pixels)
{
    SharpenBytes_c(dst, src, 4, pixels);
}

void WidenPairs2to3_c(uint8_t *dst, const uint8_t *src, int pixels, int from, int to)
{
    auto at = [&](int i, int c) { return int(src[4 * std::clamp(i, 0, pixels - 1) + c]); };
    for (int i = from; i < to; i += 2) {
        uint8_t *out = dst + 4 * (i / 2 * 3);
        for (int c = 0; c < 4; ++c) {
            out[c] = uint8_t((11 * at(i - 1, c) + 53 * at(i, c)) >> 6);
            out[4 + c] = uint8_t((at(i, c) + at(i + 1, c) + 1) >> 1);
            out[8 + c] = uint8_t((53 * at(i + 1, c) + 11 * at(i + 2, c)) >> 6);
        }
    }
}

void WidenRow2to3_c(uint8_t *dst, const uint8_t *src, int pixels)
{
    WidenPairs2to3_c(dst, src, pixels, 0, pixels);
}

void WidenTriples3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int from, int to)
{
    auto at = [&](int i, int c) { return int(src[4 * std::clamp(i, 0, pixels - 1) + c]); };
    for (int t = from; t < to; ++t) {
        const int i = 3 * t;
        uint8_t *out = dst + 16 * t;
        for (int c = 0; c < 4; ++c) {
            out[c] = uint8_t((at(i - 1, c) + 7 * at(i, c)) >> 3);
            out[4 + c] = uint8_t((3 * at(i, c) + 5 * at(i + 1, c)) >> 3);
            out[8 + c] = uint8_t((5 * at(i + 1, c) + 3 * at(i + 2, c)) >> 3);
            out[12 + c] = uint8_t((7 * at(i + 2, c) + at(i + 3, c)) >> 3);
        }
    }
}

int WidenTriples3to4(int outWidth)
{
    // Four outputs per triple while fewer than outWidth - 4 exist.
    return (outWidth - 4 + 3) / 4;
}

void WidenTail3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth)
{
    // The last four outputs: the last three inputs and the last once more.
    uint8_t *tail = dst + 4 * (outWidth - 4);
    std::memcpy(tail, src + 4 * (pixels - 3), 12);
    std::memcpy(tail + 12, src + 4 * (pixels - 1), 4);
}

void WidenRow3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth)
{
    WidenTriples3to4_c(dst, src, pixels, 0, WidenTriples3to4(outWidth));
    WidenTail3to4_c(dst, src, pixels, outWidth);
}

void PackBgr_c(uint8_t *dst, const uint8_t *bgrx, int pixels)
{
    for (int i = 0; i < pixels; ++i) {
        std::memcpy(dst + 3 * i, bgrx + 4 * i, 3);
    }
}

const CindrellKernels kCindrellKernelsC = {
    "c",           IdctBlocksC,     WorkLuma_c,
    FastColours_c, ExpandColours_c, ConvertRowToBgrx_c,
    SharpenRow_c,  WidenRow2to3_c,  WidenRow3to4_c,
    PackBgr_c,
};

bool CindrellCpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

const CindrellKernels &CindrellKernelsBest()
{
    static const CindrellKernels &best =
        CindrellCpuHasAvx2() ? kCindrellKernelsAvx2 : kCindrellKernelsSse2;
    return best;
}
