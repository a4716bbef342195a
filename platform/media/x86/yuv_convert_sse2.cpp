// The direct YUV conversions in SSE2: the same fixed-point sums as the C versions, eight or
// sixteen values a step, the last values of a row in C.

#include <algorithm>

#include <emmintrin.h>

#include "platform/media/internal/yuv_convert.h"

namespace lc::media {
namespace {

__m128i Load(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

__m128i Load64(const void *p)
{
    return _mm_loadl_epi64(static_cast<const __m128i *>(p));
}

void Store(void *p, __m128i v)
{
    _mm_storeu_si128(static_cast<__m128i *>(p), v);
}

void Store64(void *p, __m128i v)
{
    _mm_storel_epi64(static_cast<__m128i *>(p), v);
}

// 16-bit multipliers for _mm_madd_epi16: a for the even lane of each pair, b for the odd one.
__m128i Taps(int a, int b)
{
    return _mm_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)));
}

// Eight bytes as 16-bit lanes.
__m128i Widen8(const uint8_t *p)
{
    return _mm_unpacklo_epi8(Load64(p), _mm_setzero_si128());
}

// (acc + bias) >> shift on two vectors of 32-bit sums, packed to 16 bits.
template <int shift> __m128i Narrow(__m128i lo, __m128i hi, __m128i bias)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, bias), shift),
                           _mm_srai_epi32(_mm_add_epi32(hi, bias), shift));
}

// The interpolated colour differences' bias: taps over bytes to 1/64 around 0, rounded.
__m128i ToPackedBias()
{
    constexpr int shift = 14 - kToPackedChromaBits;
    return _mm_set1_epi32(-(128 << 14) + (1 << (shift - 1)));
}

void CenterChroma_sse2(int16_t *LC_RESTRICT dst, const uint8_t *src, int n)
{
    const __m128i half = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        Store(dst + i, _mm_slli_epi16(_mm_sub_epi16(Widen8(src + i), half), kToPackedChromaBits));
    }
    CenterChroma_c(dst + i, src + i, n - i);
}

void Upsample411_sse2(int16_t *LC_RESTRICT dst, const uint8_t *src, int srcWidth, int j0, int j1)
{
    const __m128i t01 = Taps(kUpTaps[0], kUpTaps[1]);
    const __m128i t23 = Taps(kUpTaps[2], kUpTaps[3]);
    const __m128i bias = ToPackedBias();
    constexpr int shift = 14 - kToPackedChromaBits;
    // The first outputs read before the row, and the last after it: in C.
    int j = std::max(j0, std::min(4, j1));
    Upsample411_c(dst, src, srcWidth, j0, j);
    // Sixteen outputs from the eight inputs they lie around, k .. k + 7.
    for (; j + 16 <= j1 && j / 2 + 9 < srcWidth; j += 16) {
        const uint8_t *s = src + j / 2;
        const __m128i m2 = Widen8(s - 2), m1 = Widen8(s - 1), c0 = Widen8(s), p1 = Widen8(s + 1),
                      p2 = Widen8(s + 2);
        const __m128i evenLo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(m2, m1), t01),
                                             _mm_madd_epi16(_mm_unpacklo_epi16(c0, p1), t23));
        const __m128i evenHi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(m2, m1), t01),
                                             _mm_madd_epi16(_mm_unpackhi_epi16(c0, p1), t23));
        const __m128i oddLo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p2, p1), t01),
                                            _mm_madd_epi16(_mm_unpacklo_epi16(c0, m1), t23));
        const __m128i oddHi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p2, p1), t01),
                                            _mm_madd_epi16(_mm_unpackhi_epi16(c0, m1), t23));
        const __m128i even = Narrow<shift>(evenLo, evenHi, bias);
        const __m128i odd = Narrow<shift>(oddLo, oddHi, bias);
        Store(dst + j, _mm_unpacklo_epi16(even, odd));
        Store(dst + j + 8, _mm_unpackhi_epi16(even, odd));
    }
    Upsample411_c(dst, src, srcWidth, j, j1);
}

void UpsampleRows_sse2(int16_t *LC_RESTRICT dst, const uint8_t *r0, const uint8_t *r1,
                       const uint8_t *r2, const uint8_t *r3, int n)
{
    const __m128i t01 = Taps(kUpTaps[0], kUpTaps[1]);
    const __m128i t23 = Taps(kUpTaps[2], kUpTaps[3]);
    const __m128i bias = ToPackedBias();
    constexpr int shift = 14 - kToPackedChromaBits;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i a = Widen8(r0 + i), b = Widen8(r1 + i), c = Widen8(r2 + i),
                      d = Widen8(r3 + i);
        const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), t01),
                                         _mm_madd_epi16(_mm_unpacklo_epi16(c, d), t23));
        const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), t01),
                                         _mm_madd_epi16(_mm_unpackhi_epi16(c, d), t23));
        Store(dst + i, Narrow<shift>(lo, hi, bias));
    }
    UpsampleRows_c(dst + i, r0 + i, r1 + i, r2 + i, r3 + i, n - i);
}

// Four pixels of four bytes (the fourth 0) as twelve bytes at p: each 64-bit half closes up its
// two pixels, then the upper half moves down beside the lower.
void StoreThreeOfFour(uint8_t *p, __m128i v)
{
    const __m128i first = _mm_set1_epi64x(0x0000000000ffffff);
    const __m128i second = _mm_set1_epi64x(0x0000ffffff000000);
    const __m128i six =
        _mm_or_si128(_mm_and_si128(v, first), _mm_and_si128(_mm_srli_epi64(v, 8), second));
    const __m128i lower = _mm_set_epi32(0, 0, 0x0000ffff, -1);
    const __m128i out =
        _mm_or_si128(_mm_and_si128(six, lower), _mm_srli_si128(_mm_andnot_si128(lower, six), 2));
    Store64(p, out);
    const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(out, 8));
    __builtin_memcpy(p + 8, &last, 4);
}

void YuvToRgb24_sse2(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                     int width)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i black = _mm_set1_epi16(16);
    const __m128i round = _mm_set1_epi32(1 << (kToPackedShift - 1));
    const __m128i tR = Taps(kYuvY, kYuvRv);
    const __m128i tG = Taps(kYuvY, kYuvGu);
    const __m128i tGv = Taps(kYuvGv, 0);
    const __m128i tB = Taps(kYuvY, kYuvBu / 2); // on 2u: kYuvBu is even and above 32767
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i yv = _mm_slli_epi16(_mm_sub_epi16(Widen8(y + x), black), kToPackedChromaBits);
        const __m128i u4 = Load64(u + x / 2);
        const __m128i v4 = Load64(v + x / 2);
        const __m128i ud = _mm_unpacklo_epi16(u4, u4);
        const __m128i vd = _mm_unpacklo_epi16(v4, v4);
        const __m128i ud2 = _mm_add_epi16(ud, ud);
        const __m128i r =
            Narrow<kToPackedShift>(_mm_madd_epi16(_mm_unpacklo_epi16(yv, vd), tR),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(yv, vd), tR), round);
        const __m128i gLo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(yv, ud), tG),
                                          _mm_madd_epi16(_mm_unpacklo_epi16(vd, zero), tGv));
        const __m128i gHi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(yv, ud), tG),
                                          _mm_madd_epi16(_mm_unpackhi_epi16(vd, zero), tGv));
        const __m128i g = Narrow<kToPackedShift>(gLo, gHi, round);
        const __m128i b =
            Narrow<kToPackedShift>(_mm_madd_epi16(_mm_unpacklo_epi16(yv, ud2), tB),
                                   _mm_madd_epi16(_mm_unpackhi_epi16(yv, ud2), tB), round);
        const __m128i rg = _mm_unpacklo_epi8(_mm_packus_epi16(r, r), _mm_packus_epi16(g, g));
        const __m128i b0 = _mm_unpacklo_epi8(_mm_packus_epi16(b, b), zero);
        StoreThreeOfFour(dst + 3 * x, _mm_unpacklo_epi16(rg, b0));
        StoreThreeOfFour(dst + 3 * x + 12, _mm_unpackhi_epi16(rg, b0));
    }
    YuvToRgb24_c(dst + 3 * x, y + x, u + x / 2, v + x / 2, width - x);
}

// Eight colour differences in 1/64 as bytes around 128.
__m128i PackedChromaBytes(const int16_t *c)
{
    const __m128i round = _mm_set1_epi16(1 << (kToPackedChromaBits - 1));
    const __m128i half = _mm_set1_epi16(128);
    return _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(Load(c), round), kToPackedChromaBits), half);
}

void YuvToYuyv_sse2(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                    int width)
{
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i uv8 =
            _mm_packus_epi16(PackedChromaBytes(u + x / 2), PackedChromaBytes(v + x / 2));
        const __m128i uv = _mm_unpacklo_epi8(uv8, _mm_srli_si128(uv8, 8));
        const __m128i luma = Load(y + x);
        Store(dst + 2 * x, _mm_unpacklo_epi8(luma, uv));
        Store(dst + 2 * x + 16, _mm_unpackhi_epi8(luma, uv));
    }
    YuvToYuyv_c(dst + 2 * x, y + x, u + x / 2, v + x / 2, width - x);
}

// Pixels 0..3 of twelve bytes as 32-bit lanes R | G << 8 | B << 16.
__m128i SpreadFour(__m128i v)
{
    const __m128i pairs = _mm_unpacklo_epi64(v, _mm_srli_si128(v, 6));
    return _mm_or_si128(
        _mm_and_si128(pairs, _mm_set1_epi64x(0x0000000000ffffff)),
        _mm_and_si128(_mm_slli_epi64(pairs, 8), _mm_set1_epi64x(0x00ffffff00000000)));
}

// Y of four spread pixels (32-bit), and the pair sums' u or v in dwords 0 and 2.
struct FourPixels
{
    __m128i luma;
    __m128i u;
    __m128i v;
};

FourPixels ConvertFour(__m128i px)
{
    const __m128i low = _mm_set1_epi32(0x00ff00ff);
    const __m128i one = _mm_set1_epi32(0x00010000);
    const __m128i rb = _mm_and_si128(px, low);                                    // R, B
    const __m128i g = _mm_and_si128(_mm_srli_epi32(px, 8), _mm_set1_epi32(0xff)); // G, 0
    FourPixels f;
    f.luma =
        _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rb, Taps(kRgbYr, kRgbYb)),
                                     _mm_madd_epi16(_mm_or_si128(g, one), Taps(kRgbYg, 16384))),
                       15);
    // Each pixel pair summed into its first pixel's lane; the rounding in the pair's G lane.
    const __m128i rbSum = _mm_add_epi16(rb, _mm_srli_epi64(rb, 32));
    const __m128i gSum = _mm_or_si128(_mm_add_epi16(g, _mm_srli_epi64(g, 32)), one);
    f.u = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rbSum, Taps(kRgbUr, kRgbUb)),
                                       _mm_madd_epi16(gSum, Taps(kRgbUg, 128))),
                         8);
    f.v = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rbSum, Taps(kRgbVr, kRgbVb)),
                                       _mm_madd_epi16(gSum, Taps(kRgbVg, 128))),
                         8);
    return f;
}

// Dwords 0 and 2 of a, then of b, as four 16-bit values (in the low half).
__m128i EvenDwords16(__m128i a, __m128i b)
{
    const __m128i ab = _mm_unpacklo_epi64(_mm_shuffle_epi32(a, _MM_SHUFFLE(2, 0, 2, 0)),
                                          _mm_shuffle_epi32(b, _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm_packs_epi32(ab, ab);
}

void Rgb24ToYuv_sse2(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                     const uint8_t *src, int width)
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const uint8_t *s = src + 3 * x;
        // Pixels 4..7 start at byte 4 of the second load.
        const FourPixels a = ConvertFour(SpreadFour(Load(s)));
        const FourPixels c = ConvertFour(SpreadFour(_mm_srli_si128(Load(s + 8), 4)));
        const __m128i luma = _mm_packs_epi32(a.luma, c.luma);
        Store64(y + x, _mm_add_epi8(_mm_packus_epi16(luma, luma), _mm_set1_epi8(16)));
        Store64(u + x / 2, EvenDwords16(a.u, c.u));
        Store64(v + x / 2, EvenDwords16(a.v, c.v));
    }
    Rgb24ToYuv_c(y + x, u + x / 2, v + x / 2, src + 3 * x, width - x);
}

void YuyvToYuv_sse2(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                    const uint8_t *src, int width)
{
    const __m128i lumaMask = _mm_set1_epi16(0x00ff);
    const __m128i chromaMask = _mm_set1_epi16(static_cast<int16_t>(0xff00));
    const __m128i half = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i a = Load(src + 2 * x);
        const __m128i b = Load(src + 2 * x + 16);
        Store(y + x, _mm_packus_epi16(_mm_and_si128(a, lumaMask), _mm_and_si128(b, lumaMask)));
        // The colour differences are already x 256 in the high bytes.
        const __m128i ca = _mm_sub_epi16(_mm_and_si128(a, chromaMask), half);
        const __m128i cb = _mm_sub_epi16(_mm_and_si128(b, chromaMask), half);
        Store(u + x / 2, _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(ca, 16), 16),
                                         _mm_srai_epi32(_mm_slli_epi32(cb, 16), 16)));
        Store(v + x / 2, _mm_packs_epi32(_mm_srai_epi32(ca, 16), _mm_srai_epi32(cb, 16)));
    }
    YuyvToYuv_c(y + x, u + x / 2, v + x / 2, src + 2 * x, width - x);
}

void ChromaToBytes_sse2(uint8_t *LC_RESTRICT dst, const int16_t *src, int n)
{
    const __m128i round = _mm_set1_epi16(1 << (kToPlanarChromaBits - 1));
    const __m128i half = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        // Saturating: the largest value plus the rounding would wrap.
        const __m128i a = _mm_srai_epi16(_mm_adds_epi16(Load(src + i), round), kToPlanarChromaBits);
        const __m128i b =
            _mm_srai_epi16(_mm_adds_epi16(Load(src + i + 8), round), kToPlanarChromaBits);
        Store(dst + i, _mm_packus_epi16(_mm_add_epi16(a, half), _mm_add_epi16(b, half)));
    }
    ChromaToBytes_c(dst + i, src + i, n - i);
}

// Four (lo) and four (hi) filtered sums as eight bytes around 128.
__m128i PlanarBytes(__m128i lo, __m128i hi)
{
    constexpr int shift = 14 + kToPlanarChromaBits;
    const __m128i c = Narrow<shift>(lo, hi, _mm_set1_epi32(1 << (shift - 1)));
    const __m128i b = _mm_add_epi16(c, _mm_set1_epi16(128));
    return _mm_packus_epi16(b, b);
}

void Downsample411_sse2(uint8_t *LC_RESTRICT dst, const int16_t *src, int n)
{
    const __m128i t[4] = {Taps(kDownTaps[0], kDownTaps[1]), Taps(kDownTaps[2], kDownTaps[3]),
                          Taps(kDownTaps[4], kDownTaps[5]), Taps(kDownTaps[6], kDownTaps[7])};
    int i = 0;
    // Output i + q takes the tap pairs at 2(i + q) - 3 + 2p: lane q of the loads at 2i - 3 + 2p.
    for (; i + 8 <= n; i += 8) {
        __m128i sum[2];
        for (int h = 0; h < 2; h++) {
            const int16_t *s = src + 2 * (i + 4 * h) - 3;
            sum[h] = _mm_add_epi32(
                _mm_add_epi32(_mm_madd_epi16(Load(s), t[0]), _mm_madd_epi16(Load(s + 2), t[1])),
                _mm_add_epi32(_mm_madd_epi16(Load(s + 4), t[2]),
                              _mm_madd_epi16(Load(s + 6), t[3])));
        }
        Store64(dst + i, PlanarBytes(sum[0], sum[1]));
    }
    Downsample411_c(dst + i, src + 2 * i, n - i);
}

void DownsampleRows_sse2(uint8_t *LC_RESTRICT dst, const int16_t *const *rows, int n)
{
    const __m128i t[4] = {Taps(kDownTaps[0], kDownTaps[1]), Taps(kDownTaps[2], kDownTaps[3]),
                          Taps(kDownTaps[4], kDownTaps[5]), Taps(kDownTaps[6], kDownTaps[7])};
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
        for (int p = 0; p < 4; p++) {
            const __m128i a = Load(rows[2 * p] + i), b = Load(rows[2 * p + 1] + i);
            lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), t[p]));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), t[p]));
        }
        Store64(dst + i, PlanarBytes(lo, hi));
    }
    const int16_t *rest[8];
    for (int r = 0; r < 8; r++) {
        rest[r] = rows[r] + i;
    }
    DownsampleRows_c(dst + i, rest, n - i);
}

void AverageRows_sse2(uint8_t *LC_RESTRICT dst, const int16_t *a, const int16_t *b, int n)
{
    constexpr int shift = kToPlanarChromaBits + 1;
    const __m128i ones = Taps(1, 1);
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    const __m128i half = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i x = Load(a + i), y = Load(b + i);
        // In 32 bits: two values of 1/256 may overflow 16.
        const __m128i c = Narrow<shift>(_mm_madd_epi16(_mm_unpacklo_epi16(x, y), ones),
                                        _mm_madd_epi16(_mm_unpackhi_epi16(x, y), ones), round);
        const __m128i bytes = _mm_add_epi16(c, half);
        Store64(dst + i, _mm_packus_epi16(bytes, bytes));
    }
    AverageRows_c(dst + i, a + i, b + i, n - i);
}

} // namespace

void FillYuvKernels_sse2(YuvRowKernels &k)
{
    k.centerChroma = CenterChroma_sse2;
    k.upsample411 = Upsample411_sse2;
    k.upsampleRows = UpsampleRows_sse2;
    k.yuvToRgb24 = YuvToRgb24_sse2;
    k.yuvToYuyv = YuvToYuyv_sse2;
    k.rgb24ToYuv = Rgb24ToYuv_sse2;
    k.yuyvToYuv = YuyvToYuv_sse2;
    k.chromaToBytes = ChromaToBytes_sse2;
    k.downsample411 = Downsample411_sse2;
    k.downsampleRows = DownsampleRows_sse2;
    k.averageRows = AverageRows_sse2;
}

} // namespace lc::media
