#include "platform/media/internal/yuv_convert.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/sys/cpu.h"

namespace lc::media {
namespace {

constexpr int kHalf = 128; // the colour differences' zero

uint8_t ClampByte(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// An interpolated colour difference, in 1/64, from taps summing to 16384 over bytes.
int16_t ToPackedChroma(int acc)
{
    constexpr int shift = 14 - kToPackedChromaBits;
    return static_cast<int16_t>((acc - (kHalf << 14) + (1 << (shift - 1))) >> shift);
}

// A filtered colour difference, from taps summing to 16384 over values in 1/256.
uint8_t FromPlanarSum(int acc)
{
    constexpr int shift = 14 + kToPlanarChromaBits;
    return ClampByte(kHalf + ((acc + (1 << (shift - 1))) >> shift));
}

} // namespace

void CenterChroma_c(int16_t *LC_RESTRICT dst, const uint8_t *src, int n)
{
    for (int i = 0; i < n; i++) {
        dst[i] = static_cast<int16_t>((src[i] - kHalf) * (1 << kToPackedChromaBits));
    }
}

void Upsample411_c(int16_t *LC_RESTRICT dst, const uint8_t *src, int srcWidth, int j0, int j1)
{
    auto at = [&](int i) { return int(src[std::clamp(i, 0, srcWidth - 1)]); };
    for (int j = j0; j < j1; j++) {
        const int k = j >> 1;
        // Even outputs lie a quarter sample before their nearest input, odd ones a quarter after.
        const int acc = (j & 1) ? kUpTaps[0] * at(k + 2) + kUpTaps[1] * at(k + 1)
                                      + kUpTaps[2] * at(k) + kUpTaps[3] * at(k - 1)
                                : kUpTaps[0] * at(k - 2) + kUpTaps[1] * at(k - 1)
                                      + kUpTaps[2] * at(k) + kUpTaps[3] * at(k + 1);
        dst[j] = ToPackedChroma(acc);
    }
}

void UpsampleRows_c(int16_t *LC_RESTRICT dst, const uint8_t *r0, const uint8_t *r1,
                    const uint8_t *r2, const uint8_t *r3, int n)
{
    for (int i = 0; i < n; i++) {
        dst[i] = ToPackedChroma(kUpTaps[0] * r0[i] + kUpTaps[1] * r1[i] + kUpTaps[2] * r2[i]
                                + kUpTaps[3] * r3[i]);
    }
}

void YuvToRgb24_c(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                  int width)
{
    constexpr int round = 1 << (kToPackedShift - 1);
    for (int x = 0; x < width; x++) {
        const int yv = (y[x] - 16) * (1 << kToPackedChromaBits) * kYuvY + round;
        const int cu = u[x >> 1];
        const int cv = v[x >> 1];
        dst[3 * x] = ClampByte((yv + kYuvRv * cv) >> kToPackedShift);
        dst[3 * x + 1] = ClampByte((yv + kYuvGu * cu + kYuvGv * cv) >> kToPackedShift);
        dst[3 * x + 2] = ClampByte((yv + kYuvBu * cu) >> kToPackedShift);
    }
}

void YuvToYuyv_c(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                 int width)
{
    constexpr int round = 1 << (kToPackedChromaBits - 1);
    for (int x = 0; x < width; x++) {
        const int c = (x & 1) ? v[x >> 1] : u[x >> 1];
        dst[2 * x] = y[x];
        dst[2 * x + 1] = ClampByte(kHalf + ((c + round) >> kToPackedChromaBits));
    }
}

void Rgb24ToYuv_c(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                  const uint8_t *src, int width)
{
    for (int x = 0; x < width; x++) {
        const uint8_t *p = src + 3 * x;
        y[x] = static_cast<uint8_t>(
            16 + ((kRgbYr * p[0] + kRgbYg * p[1] + kRgbYb * p[2] + 16384) >> 15));
    }
    // Pair sums are twice the mean: 1/32768 x 2 to 1/256 is a shift by 8.
    for (int j = 0; 2 * j < width; j++) {
        const uint8_t *p = src + 6 * j;
        const uint8_t *q = 2 * j + 1 < width ? p + 3 : p;
        const int r = p[0] + q[0], g = p[1] + q[1], b = p[2] + q[2];
        u[j] = static_cast<int16_t>((kRgbUr * r + kRgbUg * g + kRgbUb * b + 128) >> 8);
        v[j] = static_cast<int16_t>((kRgbVr * r + kRgbVg * g + kRgbVb * b + 128) >> 8);
    }
}

void YuyvToYuv_c(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                 const uint8_t *src, int width)
{
    for (int x = 0; x < width; x++) {
        y[x] = src[2 * x];
    }
    for (int j = 0; j < width / 2; j++) {
        u[j] = static_cast<int16_t>((src[4 * j + 1] - kHalf) * (1 << kToPlanarChromaBits));
        v[j] = static_cast<int16_t>((src[4 * j + 3] - kHalf) * (1 << kToPlanarChromaBits));
    }
}

void ChromaToBytes_c(uint8_t *LC_RESTRICT dst, const int16_t *src, int n)
{
    constexpr int round = 1 << (kToPlanarChromaBits - 1);
    for (int i = 0; i < n; i++) {
        dst[i] = ClampByte(kHalf + ((src[i] + round) >> kToPlanarChromaBits));
    }
}

void Downsample411_c(uint8_t *LC_RESTRICT dst, const int16_t *src, int n)
{
    for (int i = 0; i < n; i++) {
        const int16_t *s = src + 2 * i - 3;
        int acc = 0;
        for (int t = 0; t < 8; t++) {
            acc += kDownTaps[t] * s[t];
        }
        dst[i] = FromPlanarSum(acc);
    }
}

void DownsampleRows_c(uint8_t *LC_RESTRICT dst, const int16_t *const *rows, int n)
{
    for (int i = 0; i < n; i++) {
        int acc = 0;
        for (int t = 0; t < 8; t++) {
            acc += kDownTaps[t] * rows[t][i];
        }
        dst[i] = FromPlanarSum(acc);
    }
}

void AverageRows_c(uint8_t *LC_RESTRICT dst, const int16_t *a, const int16_t *b, int n)
{
    constexpr int shift = kToPlanarChromaBits + 1;
    for (int i = 0; i < n; i++) {
        dst[i] = ClampByte(kHalf + ((a[i] + b[i] + (1 << (shift - 1))) >> shift));
    }
}

namespace {

constexpr YuvRowKernels kYuvKernels_c = {
    CenterChroma_c, Upsample411_c,   UpsampleRows_c,  YuvToRgb24_c,     YuvToYuyv_c,   Rgb24ToYuv_c,
    YuyvToYuv_c,    ChromaToBytes_c, Downsample411_c, DownsampleRows_c, AverageRows_c,
};

const YuvRowKernels *Sse2Table()
{
    static const YuvRowKernels k = [] {
        YuvRowKernels t = kYuvKernels_c;
        FillYuvKernels_sse2(t);
        return t;
    }();
    return &k;
}

const YuvRowKernels *Avx2Table()
{
    static const YuvRowKernels k = [] {
        YuvRowKernels t = *Sse2Table();
        FillYuvKernels_avx2(t);
        return t;
    }();
    return &k;
}

// Rows of the conversions, per thread: several pictures convert at once.
struct RowBuffers
{
    std::vector<int16_t> wide; // colour-difference rows
};
thread_local RowBuffers tRows;

// Edge values repeated `before` places before and `after` places after n values at row + before.
template <typename T> void RepeatEdges(T *row, int before, int n, int after)
{
    std::fill(row, row + before, row[before]);
    std::fill(row + before + n, row + before + n + after, row[before + n - 1]);
}

} // namespace

const YuvRowKernels *YuvKernelsFor(YuvIsa isa)
{
    switch (isa) {
    case YuvIsa::C:
        return &kYuvKernels_c;
    case YuvIsa::Sse2:
        return Sse2Table();
    case YuvIsa::Avx2:
        return CpuHasAvx2() ? Avx2Table() : nullptr;
    }
    return nullptr;
}

const YuvRowKernels &YuvKernels()
{
    static const YuvRowKernels *k = YuvKernelsFor(CpuHasAvx2() ? YuvIsa::Avx2 : YuvIsa::Sse2);
    return *k;
}

void PlanarToPacked(const YuvRowKernels &k, const PlanarPicture &src, uint8_t *dst,
                    ptrdiff_t dstStride, PackedFormat format)
{
    const int w = src.width;
    const int h = src.height;
    const int pairs = (w + 1) / 2;
    const bool rgb = format == PackedFormat::Rgb24;
    const int chromaWidth = src.sampling == ChromaSampling::S411 ? (w + 3) / 4 : pairs;
    const int chromaRows = src.sampling == ChromaSampling::S420 ? (h + 1) / 2 : h;
    RowBuffers &b = tRows;
    b.wide.resize(2 * size_t(pairs));
    int16_t *const cu[2] = {b.wide.data(), b.wide.data() + pairs};
    for (int y = 0; y < h; y++) {
        for (int c = 0; c < 2; c++) {
            const uint8_t *plane = src.plane[1 + c];
            const ptrdiff_t stride = src.stride[1 + c];
            switch (src.sampling) {
            case ChromaSampling::S411:
                k.upsample411(cu[c], plane + y * stride, chromaWidth, 0, pairs);
                break;
            case ChromaSampling::S422:
                k.centerChroma(cu[c], plane + y * stride, pairs);
                break;
            case ChromaSampling::S420: {
                const int row = y / 2;
                if (rgb) {
                    // Both lines of a chroma row take it as it is.
                    if (!(y & 1)) {
                        k.centerChroma(cu[c], plane + row * stride, pairs);
                    }
                    break;
                }
                // Rows from the nearest outwards, on the side of the line first.
                const int step = (y & 1) ? -1 : 1;
                const uint8_t *r[4];
                for (int t = 0; t < 4; t++) {
                    const int at = std::clamp(row + step * (t - 2), 0, chromaRows - 1);
                    r[t] = plane + at * stride;
                }
                k.upsampleRows(cu[c], r[0], r[1], r[2], r[3], pairs);
                break;
            }
            }
        }
        const uint8_t *luma = src.plane[0] + y * src.stride[0];
        if (rgb) {
            k.yuvToRgb24(dst + y * dstStride, luma, cu[0], cu[1], w);
        } else {
            k.yuvToYuyv(dst + y * dstStride, luma, cu[0], cu[1], w);
        }
    }
}

void PackedToPlanar(const YuvRowKernels &k, const uint8_t *src, ptrdiff_t srcStride,
                    PackedFormat format, const PlanarPicture &dst)
{
    const int w = dst.width;
    const int h = dst.height;
    const int pairs = (w + 1) / 2;
    const bool rgb = format == PackedFormat::Rgb24;
    auto toYuv = rgb ? k.rgb24ToYuv : k.yuyvToYuv;
    // 4:1:1 rows are read 3 before and up to 4 after their values; 4:2:0 keeps eight lines.
    constexpr int before = 3, after = 4;
    const int span = pairs + before + after;
    const int lines = dst.sampling == ChromaSampling::S420 ? 8 : 1;
    RowBuffers &b = tRows;
    b.wide.resize(2 * size_t(lines) * size_t(span));
    // Line l's colour differences (c: 0 Cb, 1 Cr) in the ring of lines.
    auto row = [&](int c, int l) {
        return b.wide.data() + (size_t(c) * size_t(lines) + size_t(l % lines)) * size_t(span)
               + before;
    };
    auto convertLine = [&](int l) {
        toYuv(dst.plane[0] + l * dst.stride[0], row(0, l), row(1, l), src + l * srcStride, w);
    };
    switch (dst.sampling) {
    case ChromaSampling::S422:
    case ChromaSampling::S411:
        for (int y = 0; y < h; y++) {
            convertLine(y);
            for (int c = 0; c < 2; c++) {
                uint8_t *out = dst.plane[1 + c] + y * dst.stride[1 + c];
                if (dst.sampling == ChromaSampling::S422) {
                    k.chromaToBytes(out, row(c, y), pairs);
                } else {
                    RepeatEdges(row(c, y) - before, before, pairs, after);
                    k.downsample411(out, row(c, y), (w + 3) / 4);
                }
            }
        }
        break;
    case ChromaSampling::S420: {
        int done = 0; // lines converted
        for (int i = 0; 2 * i < h; i++) {
            const int last = std::min(rgb ? 2 * i + 4 : 2 * i + 1, h - 1);
            for (; done <= last; done++) {
                convertLine(done);
            }
            for (int c = 0; c < 2; c++) {
                uint8_t *out = dst.plane[1 + c] + i * dst.stride[1 + c];
                if (!rgb) {
                    k.averageRows(out, row(c, 2 * i), row(c, std::min(2 * i + 1, h - 1)), pairs);
                    continue;
                }
                const int16_t *r[8];
                for (int t = 0; t < 8; t++) {
                    r[t] = row(c, std::clamp(2 * i - 3 + t, 0, h - 1));
                }
                k.downsampleRows(out, r, pairs);
            }
        }
        break;
    }
    }
}

} // namespace lc::media
