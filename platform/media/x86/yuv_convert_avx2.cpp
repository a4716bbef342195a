// The direct YUV conversions in AVX2, where twice the width pays: the RGB rows both ways, the
// chroma rows to RGB and the 8-tap filters. The same fixed-point sums as the C versions; what is
// left of a row after the last whole step goes to the SSE2 versions.

#include <algorithm>

#include <immintrin.h>

#include "platform/media/internal/yuv_convert.h"

namespace lc::media {
namespace {

// The SSE2 table, for what is left of a row after the last whole AVX2 step; set before the
// AVX2 table is first used.
YuvRowKernels gSse2;

__m128i Load128(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

__m256i Load256(const void *p)
{
    return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}

void Store256(void *p, __m256i v)
{
    _mm256_storeu_si256(static_cast<__m256i *>(p), v);
}

// 16-bit multipliers for _mm256_madd_epi16: a for the even lane of each pair, b for the odd one.
__m256i Taps(int a, int b)
{
    return _mm256_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) | static_cast<uint16_t>(a)));
}

// (acc + bias) >> shift on two vectors of 32-bit sums, packed to 16 bits within each lane.
template <int shift> __m256i Narrow(__m256i lo, __m256i hi, __m256i bias)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo, bias), shift),
                              _mm256_srai_epi32(_mm256_add_epi32(hi, bias), shift));
}

// Byte shuffles, the same in both lanes.
struct Shuffle
{
    alignas(32) int8_t b[32];
    __m256i Get() const { return _mm256_load_si256(reinterpret_cast<const __m256i *>(b)); }
};

// Channel ch of sixteen 3-byte pixels from the 16-byte chunk c of their 48 bytes.
constexpr Shuffle Gather(int ch, int c)
{
    Shuffle s{};
    for (int i = 0; i < 32; i++) {
        const int at = 3 * (i % 16) + ch - 16 * c;
        s.b[i] = static_cast<int8_t>(at >= 0 && at < 16 ? at : -128);
    }
    return s;
}

constexpr Shuffle kGather[3][3] = {{Gather(0, 0), Gather(0, 1), Gather(0, 2)},
                                   {Gather(1, 0), Gather(1, 1), Gather(1, 2)},
                                   {Gather(2, 0), Gather(2, 1), Gather(2, 2)}};

__m256i ToPackedBias()
{
    constexpr int shift = 14 - kToPackedChromaBits;
    return _mm256_set1_epi32(-(128 << 14) + (1 << (shift - 1)));
}

void CenterChroma_avx2(int16_t *LC_RESTRICT dst, const uint8_t *src, int n)
{
    const __m256i half = _mm256_set1_epi16(128);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i c = _mm256_cvtepu8_epi16(Load128(src + i));
        Store256(dst + i, _mm256_slli_epi16(_mm256_sub_epi16(c, half), kToPackedChromaBits));
    }
    gSse2.centerChroma(dst + i, src + i, n - i);
}

void Upsample411_avx2(int16_t *LC_RESTRICT dst, const uint8_t *src, int srcWidth, int j0, int j1)
{
    const __m256i t01 = Taps(kUpTaps[0], kUpTaps[1]);
    const __m256i t23 = Taps(kUpTaps[2], kUpTaps[3]);
    const __m256i bias = ToPackedBias();
    constexpr int shift = 14 - kToPackedChromaBits;
    auto widen = [](const uint8_t *p) { return _mm256_cvtepu8_epi16(Load128(p)); };
    // The first outputs read before the row: in C.
    int j = std::max(j0, std::min(4, j1));
    Upsample411_c(dst, src, srcWidth, j0, j);
    // Thirty-two outputs from the sixteen inputs they lie around.
    for (; j + 32 <= j1 && j / 2 + 17 < srcWidth; j += 32) {
        const uint8_t *s = src + j / 2;
        const __m256i m2 = widen(s - 2), m1 = widen(s - 1), c0 = widen(s), p1 = widen(s + 1),
                      p2 = widen(s + 2);
        auto sum = [&](__m256i a, __m256i b, __m256i c, __m256i d, bool high) {
            const __m256i ab = high ? _mm256_unpackhi_epi16(a, b) : _mm256_unpacklo_epi16(a, b);
            const __m256i cd = high ? _mm256_unpackhi_epi16(c, d) : _mm256_unpacklo_epi16(c, d);
            return _mm256_add_epi32(_mm256_madd_epi16(ab, t01), _mm256_madd_epi16(cd, t23));
        };
        const __m256i even =
            Narrow<shift>(sum(m2, m1, c0, p1, false), sum(m2, m1, c0, p1, true), bias);
        const __m256i odd =
            Narrow<shift>(sum(p2, p1, c0, m1, false), sum(p2, p1, c0, m1, true), bias);
        const __m256i lo = _mm256_unpacklo_epi16(even, odd); // outputs 0..7 | 16..23
        const __m256i hi = _mm256_unpackhi_epi16(even, odd); // 8..15 | 24..31
        Store256(dst + j, _mm256_permute2x128_si256(lo, hi, 0x20));
        Store256(dst + j + 16, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    gSse2.upsample411(dst, src, srcWidth, j, j1);
}

// Output bytes 16c..16c+15 of sixteen 3-byte pixels, from channel ch's bytes held in the order
// the pixels' classes give them: pixel 4j + k (j, k < 4) at byte 4k + j.
constexpr Shuffle Interleave(int c, int ch)
{
    Shuffle s{};
    for (int i = 0; i < 32; i++) {
        const int o = 16 * c + i % 16;
        const int p = o / 3;
        s.b[i] = static_cast<int8_t>(o % 3 == ch ? 4 * (p % 4) + p / 4 : -128);
    }
    return s;
}

constexpr Shuffle kInterleave[3][3] = {{Interleave(0, 0), Interleave(0, 1), Interleave(0, 2)},
                                       {Interleave(1, 0), Interleave(1, 1), Interleave(1, 2)},
                                       {Interleave(2, 0), Interleave(2, 1), Interleave(2, 2)}};

// Thirty-two pixels a step, worked as four classes (pixel 4j + k, class k): each 32-bit lane of
// the Y, u and v rows already holds the 16-bit values the multiply-adds take, one of a class at
// a time, so no value is unpacked before the sums; the classes meet again in the last shuffles.
void YuvToRgb24_avx2(uint8_t *LC_RESTRICT dst, const uint8_t *y, const int16_t *u, const int16_t *v,
                     int width)
{
    const __m256i lowByte = _mm256_set1_epi16(0xff);
    const __m256i black = _mm256_set1_epi16(16);
    const __m256i round = _mm256_set1_epi32(1 << (kToPackedShift - 1));
    // The low and the high 16 bits of each lane: classes 0 and 1, or 2 and 3.
    const __m256i tY[2] = {Taps(kYuvY, 0), Taps(0, kYuvY)};
    const __m256i tRv[2] = {Taps(kYuvRv, 0), Taps(0, kYuvRv)};
    const __m256i tGu[2] = {Taps(kYuvGu, 0), Taps(0, kYuvGu)};
    const __m256i tGv[2] = {Taps(kYuvGv, 0), Taps(0, kYuvGv)};
    const __m256i tBu[2] = {Taps(kYuvBu / 2, 0), Taps(0, kYuvBu / 2)}; // on 2u: kYuvBu > 32767
    int x = 0;
    for (;;) {
        if (x + 32 > width) {
            // A last step moved back over values already made (the same again) leaves no rest.
            if (x == width || width < 32 || (width & 1)) {
                break;
            }
            x = width - 32;
        }
        const __m256i yb = Load256(y + x);
        // (Y - 16) in 1/64 of even and odd pixels: lanes hold pixels 4j, 4j + 2 and 4j + 1, 4j + 3.
        const __m256i yv[2] = {
            _mm256_slli_epi16(_mm256_sub_epi16(_mm256_and_si256(yb, lowByte), black),
                              kToPackedChromaBits),
            _mm256_slli_epi16(_mm256_sub_epi16(_mm256_srli_epi16(yb, 8), black),
                              kToPackedChromaBits)};
        // Lanes hold the pairs 2j and 2j + 1: pixels 4j, 4j + 1 and 4j + 2, 4j + 3.
        const __m256i ud = Load256(u + x / 2);
        const __m256i vd = Load256(v + x / 2);
        const __m256i ud2 = _mm256_add_epi16(ud, ud);
        __m256i out[3]; // R, G, B bytes, pixel 4j + k at byte 4k + j of each half
        __m256i sums[3][4];
        for (int h = 0; h < 2; h++) {
            const __m256i r = _mm256_add_epi32(_mm256_madd_epi16(vd, tRv[h]), round);
            const __m256i g = _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(ud, tGu[h]), _mm256_madd_epi16(vd, tGv[h])),
                round);
            const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(ud2, tBu[h]), round);
            for (int odd = 0; odd < 2; odd++) {
                const int k = 2 * h + odd;
                const __m256i luma = _mm256_madd_epi16(yv[odd], tY[h]);
                sums[0][k] = _mm256_srai_epi32(_mm256_add_epi32(luma, r), kToPackedShift);
                sums[1][k] = _mm256_srai_epi32(_mm256_add_epi32(luma, g), kToPackedShift);
                sums[2][k] = _mm256_srai_epi32(_mm256_add_epi32(luma, b), kToPackedShift);
            }
        }
        for (int ch = 0; ch < 3; ch++) {
            out[ch] = _mm256_packus_epi16(_mm256_packs_epi32(sums[ch][0], sums[ch][1]),
                                          _mm256_packs_epi32(sums[ch][2], sums[ch][3]));
        }
        uint8_t *o = dst + 3 * x;
        for (int c = 0; c < 3; c++) {
            const __m256i chunk = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(out[0], kInterleave[c][0].Get()),
                                _mm256_shuffle_epi8(out[1], kInterleave[c][1].Get())),
                _mm256_shuffle_epi8(out[2], kInterleave[c][2].Get()));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 16 * c), _mm256_castsi256_si128(chunk));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 48 + 16 * c),
                             _mm256_extracti128_si256(chunk, 1));
        }
        x += 32;
    }
    gSse2.yuvToRgb24(dst + 3 * x, y + x, u + x / 2, v + x / 2, width - x);
}

void Rgb24ToYuv_avx2(uint8_t *LC_RESTRICT y, int16_t *LC_RESTRICT u, int16_t *LC_RESTRICT v,
                     const uint8_t *src, int width)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i tYrg = Taps(kRgbYr, kRgbYg), tYb = Taps(kRgbYb, 16384);
    const __m256i tUrg = Taps(kRgbUr, kRgbUg), tUb = Taps(kRgbUb, 128);
    const __m256i tVrg = Taps(kRgbVr, kRgbVg), tVb = Taps(kRgbVb, 128);
    int x = 0;
    // Thirty-two pixels: sixteen in each lane.
    for (;;) {
        if (x + 32 > width) {
            // A last step moved back over values already made (the same again) leaves no rest.
            if (x == width || width < 32 || (width & 1)) {
                break;
            }
            x = width - 32;
        }
        const uint8_t *s = src + 3 * x;
        const __m256i c[3] = {_mm256_set_m128i(Load128(s + 48), Load128(s)),
                              _mm256_set_m128i(Load128(s + 64), Load128(s + 16)),
                              _mm256_set_m128i(Load128(s + 80), Load128(s + 32))};
        __m256i ch[3];
        for (int k = 0; k < 3; k++) {
            ch[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(c[0], kGather[k][0].Get()),
                                                    _mm256_shuffle_epi8(c[1], kGather[k][1].Get())),
                                    _mm256_shuffle_epi8(c[2], kGather[k][2].Get()));
        }
        // Y: R, G and B widened to 16 bits, pixels 0..7 | 16..23 (lo) and 8..15 | 24..31 (hi).
        __m256i luma[2];
        for (int h = 0; h < 2; h++) {
            const __m256i r =
                h ? _mm256_unpackhi_epi8(ch[0], zero) : _mm256_unpacklo_epi8(ch[0], zero);
            const __m256i g =
                h ? _mm256_unpackhi_epi8(ch[1], zero) : _mm256_unpacklo_epi8(ch[1], zero);
            const __m256i b =
                h ? _mm256_unpackhi_epi8(ch[2], zero) : _mm256_unpacklo_epi8(ch[2], zero);
            const __m256i lo =
                _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(r, g), tYrg),
                                 _mm256_madd_epi16(_mm256_unpacklo_epi16(b, one), tYb));
            const __m256i hi =
                _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(r, g), tYrg),
                                 _mm256_madd_epi16(_mm256_unpackhi_epi16(b, one), tYb));
            luma[h] = _mm256_packs_epi32(_mm256_srai_epi32(lo, 15), _mm256_srai_epi32(hi, 15));
        }
        Store256(y + x,
                 _mm256_add_epi8(_mm256_packus_epi16(luma[0], luma[1]), _mm256_set1_epi8(16)));
        // Pair sums of each channel, pairs 0..7 | 8..15; the rounding rides with B.
        const __m256i ones = _mm256_set1_epi8(1);
        const __m256i sr = _mm256_maddubs_epi16(ch[0], ones);
        const __m256i sg = _mm256_maddubs_epi16(ch[1], ones);
        const __m256i sb = _mm256_maddubs_epi16(ch[2], ones);
        const __m256i rgLo = _mm256_unpacklo_epi16(sr, sg), rgHi = _mm256_unpackhi_epi16(sr, sg);
        const __m256i bLo = _mm256_unpacklo_epi16(sb, one), bHi = _mm256_unpackhi_epi16(sb, one);
        auto chroma = [&](__m256i trg, __m256i tb) {
            const __m256i lo =
                _mm256_add_epi32(_mm256_madd_epi16(rgLo, trg), _mm256_madd_epi16(bLo, tb));
            const __m256i hi =
                _mm256_add_epi32(_mm256_madd_epi16(rgHi, trg), _mm256_madd_epi16(bHi, tb));
            return _mm256_packs_epi32(_mm256_srai_epi32(lo, 8), _mm256_srai_epi32(hi, 8));
        };
        Store256(u + x / 2, chroma(tUrg, tUb));
        Store256(v + x / 2, chroma(tVrg, tVb));
        x += 32;
    }
    gSse2.rgb24ToYuv(y + x, u + x / 2, v + x / 2, src + 3 * x, width - x);
}

// Sixteen filtered sums as bytes around 128: lo holds outputs 0..3 | 4..7, hi 8..11 | 12..15.
__m128i PlanarBytes(__m256i lo, __m256i hi)
{
    constexpr int shift = 14 + kToPlanarChromaBits;
    const __m256i c = Narrow<shift>(lo, hi, _mm256_set1_epi32(1 << (shift - 1)));
    const __m256i b = _mm256_packus_epi16(_mm256_add_epi16(c, _mm256_set1_epi16(128)), c);
    // Dwords: 0..3 and 8..11 in lane 0, 4..7 and 12..15 in lane 1.
    return _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0)));
}

void Downsample411_avx2(uint8_t *LC_RESTRICT dst, const int16_t *src, int n)
{
    const __m256i t[4] = {Taps(kDownTaps[0], kDownTaps[1]), Taps(kDownTaps[2], kDownTaps[3]),
                          Taps(kDownTaps[4], kDownTaps[5]), Taps(kDownTaps[6], kDownTaps[7])};
    int i = 0;
    // Output i + q takes the tap pairs at 2(i + q) - 3 + 2p: dword q of the loads at 2i - 3 + 2p.
    for (;; i += 16) {
        if (i + 16 > n) {
            // A last step moved back over values already made (the same again) leaves no rest.
            if (i == n || n < 16) {
                break;
            }
            i = n - 16;
        }
        __m256i sum[2];
        for (int h = 0; h < 2; h++) {
            const int16_t *s = src + 2 * (i + 8 * h) - 3;
            sum[h] = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(Load256(s), t[0]),
                                                       _mm256_madd_epi16(Load256(s + 2), t[1])),
                                      _mm256_add_epi32(_mm256_madd_epi16(Load256(s + 4), t[2]),
                                                       _mm256_madd_epi16(Load256(s + 6), t[3])));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), PlanarBytes(sum[0], sum[1]));
    }
    gSse2.downsample411(dst + i, src + 2 * i, n - i);
}

void DownsampleRows_avx2(uint8_t *LC_RESTRICT dst, const int16_t *const *rows, int n)
{
    const __m256i t[4] = {Taps(kDownTaps[0], kDownTaps[1]), Taps(kDownTaps[2], kDownTaps[3]),
                          Taps(kDownTaps[4], kDownTaps[5]), Taps(kDownTaps[6], kDownTaps[7])};
    int i = 0;
    for (;; i += 16) {
        if (i + 16 > n) {
            if (i == n || n < 16) {
                break;
            }
            i = n - 16;
        }
        __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
        for (int p = 0; p < 4; p++) {
            const __m256i a = Load256(rows[2 * p] + i), b = Load256(rows[2 * p + 1] + i);
            lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), t[p]));
            hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), t[p]));
        }
        // lo: outputs 0..3 | 8..11, hi: 4..7 | 12..15; packed in order, then as bytes.
        constexpr int shift = 14 + kToPlanarChromaBits;
        const __m256i c = Narrow<shift>(lo, hi, _mm256_set1_epi32(1 << (shift - 1)));
        const __m256i bytes = _mm256_packus_epi16(_mm256_add_epi16(c, _mm256_set1_epi16(128)), c);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i),
                         _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
    }
    const int16_t *rest[8];
    for (int r = 0; r < 8; r++) {
        rest[r] = rows[r] + i;
    }
    gSse2.downsampleRows(dst + i, rest, n - i);
}

} // namespace

void FillYuvKernels_avx2(YuvRowKernels &k)
{
    gSse2 = k;
    k.centerChroma = CenterChroma_avx2;
    k.upsample411 = Upsample411_avx2;
    k.yuvToRgb24 = YuvToRgb24_avx2;
    k.rgb24ToYuv = Rgb24ToYuv_avx2;
    k.downsample411 = Downsample411_avx2;
    k.downsampleRows = DownsampleRows_avx2;
}

} // namespace lc::media
