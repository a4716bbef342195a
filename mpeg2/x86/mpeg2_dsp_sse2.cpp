// SSE2 versions of the MPEG-2 kernels; each gives the bytes of its C version.
#include <emmintrin.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/x86/mpeg2_dsp_x86.h"

namespace {

// 16-bit pairs (a, b) for _mm_madd_epi16: lane 2i is a, lane 2i + 1 is b.
inline __m128i Pair(int16_t a, int16_t b)
{
    return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

struct Ops
{
    using V = __m128i;
    static V Pair(int16_t a, int16_t b) { return ::Pair(a, b); }
    static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V Add(V a, V b) { return _mm_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm_sub_epi32(a, b); }
    static V Set32(int v) { return _mm_set1_epi32(v); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    static V MulLo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V MulHiU16(V a, V b) { return _mm_mulhi_epu16(a, b); }
    template <int N> static V Srai(V v) { return _mm_srai_epi32(v, N); }
    template <int N> static V Slli(V v) { return _mm_slli_epi32(v, N); }
    template <int N> static V Srli(V v) { return _mm_srli_epi32(v, N); }
};

// Lines 0..3 (High: 4..7) of a pass; c[k] holds coefficient k of eight lines.
template <bool Column, bool High> inline void IdctHalfPass(const __m128i c[8], __m128i out[8])
{
    auto pairs = [](__m128i a, __m128i b) {
        return High ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
    };
    IdctPass<Ops, Column>(pairs(c[1], c[7]), pairs(c[5], c[3]), pairs(c[2], c[6]),
                          pairs(c[0], c[4]), out);
}

// The low 16 bits of each 32-bit lane, as the C version's conversion to int16_t keeps them.
inline __m128i Wrap16(__m128i lo, __m128i hi)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 16), 16),
                           _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16));
}

void IdctSse2(int16_t *block)
{
    __m128i r[8];
    for (int i = 0; i < 8; ++i) {
        r[i] = Load(block + 8 * i);
    }
    // Rows: transposed, so that each register holds one coefficient of eight rows.
    Transpose8x8(r);
    __m128i lo[8], hi[8];
    IdctHalfPass<false, false>(r, lo);
    IdctHalfPass<false, true>(r, hi);
    for (int n = 0; n < 8; ++n) {
        r[n] = Wrap16(lo[n], hi[n]);
    }
    // Columns: back to one row per register.
    Transpose8x8(r);
    IdctHalfPass<true, false>(r, lo);
    IdctHalfPass<true, true>(r, hi);
    const __m128i low = _mm_set1_epi16(-256);
    const __m128i high = _mm_set1_epi16(255);
    for (int n = 0; n < 8; ++n) {
        const __m128i v = _mm_packs_epi32(lo[n], hi[n]);
        Store(block + 8 * n, _mm_min_epi16(_mm_max_epi16(v, low), high));
    }
}

// --- prediction ---

inline __m128i Widen(__m128i v)
{
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}

// Eight samples of one kernel in 16-bit lanes; p is the prediction in place.
template <bool Average, bool Xh, bool Yh>
inline __m128i Predict8(__m128i a, __m128i b, __m128i c, __m128i d, __m128i p)
{
    if (!Xh && !Yh) {
        return Average ? _mm_avg_epu8(p, a) : a;
    }
    if (!(Xh && Yh)) {
        const __m128i ab = _mm_avg_epu8(a, b);
        if (!Average) {
            return ab;
        }
        // (a + b + 2p + 3) >> 2
        __m128i s = _mm_add_epi16(_mm_add_epi16(Widen(a), Widen(b)), _mm_slli_epi16(Widen(p), 1));
        s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(3)), 2);
        return _mm_packus_epi16(s, s);
    }
    __m128i s = _mm_add_epi16(_mm_add_epi16(Widen(a), Widen(b)), _mm_add_epi16(Widen(c), Widen(d)));
    if (Average) {
        // (a + b + c + d + 4p + 6) >> 3
        s = _mm_add_epi16(s, _mm_slli_epi16(Widen(p), 2));
        s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(6)), 3);
    } else {
        s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(2)), 2);
    }
    return _mm_packus_epi16(s, s);
}

// Loads exactly the samples the C version reads: 8 per row (9 with a horizontal half-sample,
// taken as a second load one sample on).
template <bool Average, bool Xh, bool Yh>
void Predict8Wide(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int h,
                  int columns)
{
    for (int x = 0; x < columns; x += 8) {
        const uint8_t *s = src + x;
        uint8_t *o = dst + x;
        for (int y = 0; y < h; ++y, s += srcStride, o += dstStride) {
            const __m128i a = Load8(s);
            const __m128i b = Xh ? Load8(s + 1) : Yh ? Load8(s + srcStride) : a;
            const __m128i c = Xh && Yh ? Load8(s + srcStride) : a;
            const __m128i d = Xh && Yh ? Load8(s + srcStride + 1) : a;
            const __m128i p = Average ? Load8(o) : a;
            Store8(o, Predict8<Average, Xh, Yh>(a, b, c, d, p));
        }
    }
}

// --- chroma upsampling ---

void BlendRowsSse2(uint8_t *out, const uint8_t *a, const uint8_t *b, int n, int wa, int wb,
                   int shift)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i ka = _mm_set1_epi16(int16_t(wa));
    const __m128i kb = _mm_set1_epi16(int16_t(wb));
    const __m128i round = _mm_set1_epi16(int16_t(1 << (shift - 1)));
    const __m128i count = _mm_cvtsi32_si128(shift);
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i va = Load(a + x);
        const __m128i vb = Load(b + x);
        auto half = [&](__m128i pa, __m128i pb) {
            const __m128i s = _mm_add_epi16(
                _mm_add_epi16(_mm_mullo_epi16(pa, ka), _mm_mullo_epi16(pb, kb)), round);
            return _mm_srl_epi16(s, count);
        };
        const __m128i lo = half(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
        const __m128i hi = half(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
        Store(out + x, _mm_packus_epi16(lo, hi));
    }
    if (x < n) {
        kMpeg2DspC.blendRows(out + x, a + x, b + x, n - x, wa, wb, shift);
    }
}

void UpsampleRowSse2(const uint8_t *c, uint8_t *out, int w)
{
    const int interpolated = w > 8 ? w - 8 : 0;
    int i = 0;
    // c[i + 16] is read: it lies below interpolated, inside the line.
    for (; i + 16 <= interpolated; i += 16) {
        const __m128i v = Load(c + i);
        const __m128i mid = _mm_avg_epu8(v, Load(c + i + 1));
        Store(out + 2 * i, _mm_unpacklo_epi8(v, mid));
        Store(out + 2 * i + 16, _mm_unpackhi_epi8(v, mid));
    }
    UpsampleRowFrom(c, out, w, i);
}

// --- colour conversion ---

// Eight pixels: B, G, R each as 16-bit lanes.
struct Bgr16
{
    __m128i b, g, r;
};

inline Bgr16 YuvToRgb8(__m128i y, __m128i u, __m128i v, const YuvToRgbFactors &k)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i yy = _mm_sub_epi16(_mm_unpacklo_epi8(y, zero), _mm_set1_epi16(k.lumaOffset));
    const __m128i uu = _mm_sub_epi16(_mm_unpacklo_epi8(u, zero), _mm_set1_epi16(128));
    const __m128i vv = _mm_sub_epi16(_mm_unpacklo_epi8(v, zero), _mm_set1_epi16(128));
    const __m128i one = _mm_set1_epi16(1);
    const __m128i kl = Pair(k.lumaScale, 4096);
    const __m128i kb = Pair(k.cbToBlue, 0);
    const __m128i kg = Pair(k.cbToGreen, k.crToGreen);
    const __m128i kr = Pair(0, k.crToRed);
    auto channel = [](__m128i l, __m128i uv, __m128i kc) {
        return _mm_srai_epi32(_mm_add_epi32(l, _mm_madd_epi16(uv, kc)), 13);
    };
    const __m128i l0 = _mm_madd_epi16(_mm_unpacklo_epi16(yy, one), kl);
    const __m128i l1 = _mm_madd_epi16(_mm_unpackhi_epi16(yy, one), kl);
    const __m128i uv0 = _mm_unpacklo_epi16(uu, vv);
    const __m128i uv1 = _mm_unpackhi_epi16(uu, vv);
    return {_mm_packs_epi32(channel(l0, uv0, kb), channel(l1, uv1, kb)),
            _mm_packs_epi32(channel(l0, uv0, kg), channel(l1, uv1, kg)),
            _mm_packs_epi32(channel(l0, uv0, kr), channel(l1, uv1, kr))};
}

// Four pixels of B, G, R, 0 in 32-bit lanes to 12 bytes (the top 4 bytes zero).
inline __m128i Pack24(__m128i q)
{
    const __m128i even = _mm_set_epi32(0, 0x00ffffff, 0, 0x00ffffff);
    const __m128i odd = _mm_set_epi32(0x00ffffff, 0, 0x00ffffff, 0);
    const __m128i c =
        _mm_or_si128(_mm_and_si128(q, even), _mm_srli_epi64(_mm_and_si128(q, odd), 8));
    return _mm_or_si128(_mm_move_epi64(c),
                        _mm_slli_si128(_mm_unpackhi_epi64(c, _mm_setzero_si128()), 6));
}

// Eight pixels from the low 8 bytes of their luma, Cb and Cr to 24 bytes of B, G, R.
inline void Convert8(__m128i y, __m128i cb, __m128i cr, uint8_t *o, const YuvToRgbFactors &k)
{
    const __m128i zero = _mm_setzero_si128();
    const Bgr16 p = YuvToRgb8(y, cb, cr, k);
    const __m128i bg = _mm_packus_epi16(p.b, p.g); // B0..B7 G0..G7
    const __m128i rr = _mm_packus_epi16(p.r, p.r);
    const __m128i bgInterleaved = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));
    const __m128i r0 = _mm_unpacklo_epi8(rr, zero);
    const __m128i q0 = Pack24(_mm_unpacklo_epi16(bgInterleaved, r0));
    const __m128i q1 = Pack24(_mm_unpackhi_epi16(bgInterleaved, r0));
    Store(o, _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
    Store8(o + 16, _mm_srli_si128(q1, 4));
}

void YuvToRgbRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                     int width, const YuvToRgbFactors &k)
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        Convert8(Load8(y + x), Load8(cb + x), Load8(cr + x), bgr + 3 * x, k);
    }
    if (x < width) {
        kMpeg2DspC.yuvToRgbRow(y + x, cb + x, cr + x, bgr + 3 * x, width - x, k);
    }
}

// The chroma bytes of 16 pixels from x (even), widened from the 8 samples at x / 2: odd pixels
// take the mean of their sample and the next, but for the last 8 samples of the line.
inline __m128i Widened16(const uint8_t *c, int x, int chromaWidth)
{
    const int i = x / 2;
    const __m128i v = Load8(c + i);
    if (i + 16 <= chromaWidth) {
        return _mm_unpacklo_epi8(v, _mm_avg_epu8(v, Load8(c + i + 1)));
    }
    const __m128i next = i + 9 <= chromaWidth ? Load8(c + i + 1) : _mm_srli_si128(v, 1);
    const __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // Lanes from `interpolated` on repeat their sample (0..8 lanes interpolate).
    int interpolated = chromaWidth - 8 - i;
    interpolated = interpolated < 0 ? 0 : interpolated > 8 ? 8 : interpolated;
    const __m128i repeat = _mm_cmpgt_epi8(lane, _mm_set1_epi8(int8_t(interpolated - 1)));
    const __m128i mean = _mm_avg_epu8(v, next);
    return _mm_unpacklo_epi8(
        v, _mm_or_si128(_mm_and_si128(repeat, v), _mm_andnot_si128(repeat, mean)));
}

void Yuv422ToRgbRowSse2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                        int width, int chromaWidth, const YuvToRgbFactors &k)
{
    auto convert16 = [&](int x) {
        const __m128i u = Widened16(cb, x, chromaWidth);
        const __m128i v = Widened16(cr, x, chromaWidth);
        Convert8(Load8(y + x), u, v, bgr + 3 * x, k);
        Convert8(Load8(y + x + 8), _mm_srli_si128(u, 8), _mm_srli_si128(v, 8), bgr + 3 * x + 24, k);
    };
    if (width < 16) {
        Yuv422ToRgbRowFrom(y, cb, cr, bgr, width, chromaWidth, k, 0);
        return;
    }
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        convert16(x);
    }
    if (x < width) {
        // The last 16 pixels from an even one again; an odd width's last pixel on its own.
        x = (width - 16) & ~1;
        convert16(x);
        Yuv422ToRgbRowFrom(y, cb, cr, bgr, width, chromaWidth, k, x + 16);
    }
}

} // namespace

// Sixteen-sample rows: the no-arithmetic kernels take a whole row at once.
template <bool Average, bool Xh, bool Yh>
void PredictSse2(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int w,
                 int h)
{
    constexpr bool bytewise = (!Xh && !Yh) || (!Average && !(Xh && Yh));
    if (bytewise && w == 16) {
        for (int y = 0; y < h; ++y, src += srcStride, dst += dstStride) {
            const __m128i a = Load(src);
            __m128i v = a;
            if (Xh || Yh) {
                v = _mm_avg_epu8(a, Load(Xh ? src + 1 : src + srcStride));
            } else if (Average) {
                v = _mm_avg_epu8(Load(dst), a);
            }
            Store(dst, v);
        }
        return;
    }
    Predict8Wide<Average, Xh, Yh>(dst, dstStride, src, srcStride, h, w);
}

// --- block addition ---

void AddBlockSse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; y += 2, dst += 2 * stride, block += 16) {
        const __m128i p0 = _mm_unpacklo_epi8(Load8(dst), zero);
        const __m128i p1 = _mm_unpacklo_epi8(Load8(dst + stride), zero);
        const __m128i v =
            _mm_packus_epi16(_mm_adds_epi16(p0, Load(block)), _mm_adds_epi16(p1, Load(block + 8)));
        Store8(dst, v);
        Store8(dst + stride, _mm_srli_si128(v, 8));
    }
}

void PutIntraBlockSse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    const __m128i bias = _mm_set1_epi16(128);
    for (int y = 0; y < 8; y += 2, dst += 2 * stride, block += 16) {
        const __m128i v = _mm_packus_epi16(_mm_adds_epi16(Load(block), bias),
                                           _mm_adds_epi16(Load(block + 8), bias));
        Store8(dst, v);
        Store8(dst + stride, _mm_srli_si128(v, 8));
    }
}

void AddBlockDcSse2(uint8_t *dst, ptrdiff_t stride, int v)
{
    const bool up = v >= 0;
    const int m = up ? v : -v;
    const __m128i k = _mm_set1_epi8(char(m > 255 ? 255 : m));
    for (int y = 0; y < 8; ++y, dst += stride) {
        const __m128i p = Load8(dst);
        Store8(dst, up ? _mm_adds_epu8(p, k) : _mm_subs_epu8(p, k));
    }
}

template void PredictSse2<false, false, false>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t,
                                               int, int);
template void PredictSse2<false, false, true>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                              int);
template void PredictSse2<false, true, false>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                              int);
template void PredictSse2<false, true, true>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                             int);
template void PredictSse2<true, false, false>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                              int);
template void PredictSse2<true, false, true>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                             int);
template void PredictSse2<true, true, false>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                             int);
template void PredictSse2<true, true, true>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t, int,
                                            int);

const Mpeg2Dsp kMpeg2DspSse2 = {
    IdctSse2,
    {PredictSse2<false, false, false>, PredictSse2<false, false, true>,
     PredictSse2<false, true, false>, PredictSse2<false, true, true>,
     PredictSse2<true, false, false>, PredictSse2<true, false, true>,
     PredictSse2<true, true, false>, PredictSse2<true, true, true>},
    AddBlockSse2,
    PutIntraBlockSse2,
    AddBlockDcSse2,
    BlendRowsSse2,
    UpsampleRowSse2,
    YuvToRgbRowSse2,
    Yuv422ToRgbRowSse2,
};
