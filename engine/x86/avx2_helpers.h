#pragma once

// Helpers of the AVX2 kernels; static for the reason given in sse2_helpers.h.

#include <immintrin.h>

#include "engine/x86/sse2_helpers.h"

static inline __m256i Load256(const void *p)
{
    return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}

static inline void Store256(void *p, __m256i v)
{
    _mm256_storeu_si256(static_cast<__m256i *>(p), v);
}

// Sixteen bytes to 16-bit lanes.
static inline __m256i Widen16(const uint8_t *p)
{
    return _mm256_cvtepu8_epi16(Load128(p));
}

// Two vectors of sixteen 16-bit lanes to 32 bytes in order.
static inline __m256i PackBytes(__m256i lo, __m256i hi)
{
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), _MM_SHUFFLE(3, 1, 2, 0));
}

// Sixteen 32-bit values to sixteen 16-bit lanes in order (signed saturation).
static inline __m256i Pack32To16(__m256i lo, __m256i hi)
{
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), _MM_SHUFFLE(3, 1, 2, 0));
}

// Sixteen map values >> 3 as 16-bit lanes.
static inline __m256i ShiftedMap16x16(const int32_t *m)
{
    return Pack32To16(_mm256_srai_epi32(Load256(m), 3), _mm256_srai_epi32(Load256(m + 8), 3));
}

static inline __m256i MotionWeight16x16(__m256i t, __m256i cap, __m256i sensitivity, __m256i top)
{
    t = _mm256_min_epi16(t, cap);
    const __m256i n = _mm256_mullo_epi16(t, sensitivity);
    const __m256i q =
        _mm256_srli_epi16(_mm256_mulhi_epu16(n, _mm256_set1_epi16(-23592 /* 41944 */)), 5);
    const __m256i w = _mm256_sub_epi16(q, _mm256_set1_epi16(100));
    return _mm256_min_epi16(_mm256_max_epi16(w, _mm256_setzero_si256()), top);
}

// The same at the neutral sensitivity 50, where t x 50 / 50 is t: clamp(t - 100, 0, top).
static inline __m256i NeutralWeight16x16(__m256i t, __m256i top)
{
    return _mm256_min_epi16(_mm256_subs_epu16(t, _mm256_set1_epi16(100)), top);
}

// Two-byte (YUV 4:2:2) pixels, sixteen to a vector: byte 0 of each pixel in one vector of
// 16-bit lanes and byte 1 in another, both in pixel order, so that a weight per pixel meets them
// lane by lane without any shuffle.
struct PixelBytes
{
    __m256i lo; // luminance
    __m256i hi; // colour difference
};

static inline PixelBytes SplitPixels(__m256i v)
{
    return {_mm256_and_si256(v, _mm256_set1_epi16(0x00ff)), _mm256_srli_epi16(v, 8)};
}

static inline PixelBytes LoadPixels(const uint8_t *p)
{
    return SplitPixels(Load256(p));
}

static inline __m256i JoinPixels(__m256i lo, __m256i hi)
{
    return _mm256_or_si256(lo, _mm256_slli_epi16(hi, 8));
}

// floor((a + b) / 2) of each byte.
static inline __m256i AverageDown8(__m256i a, __m256i b)
{
    return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                           _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

// (a x w + b x (256 - w)) >> 8 on 16-bit lanes; a, b <= 255 and w <= 256 keep it in 16 bits.
static inline __m256i Mix16x16(__m256i a, __m256i b, __m256i w)
{
    const __m256i wb = _mm256_sub_epi16(_mm256_set1_epi16(256), w);
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(a, w), _mm256_mullo_epi16(b, wb)),
                             8);
}

// The weights of sixteen pixels, in order, doubled and spread over their bytes, sixteen bytes a
// vector: two vectors for two-byte pixels, three for three-byte pixels (byte j has pixel j / 3:
// each 128-bit half takes the four weight pairs its eight bytes need, then spreads them).
static inline int SpreadWeights2(__m256i w, int bpp, __m256i *out)
{
    const __m256i w2 = _mm256_add_epi16(w, w);
    if (bpp == 2) {
        const __m256i p = _mm256_permute4x64_epi64(w2, _MM_SHUFFLE(3, 1, 2, 0));
        out[0] = _mm256_unpacklo_epi16(p, p);
        out[1] = _mm256_unpackhi_epi16(p, p);
        return 2;
    }
    const __m256i a = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5, 0, 1, 0, 1,
                                       0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5);
    const __m256i b = _mm256_setr_epi8(0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5, 4, 5, 6, 7, 0, 1, 2, 3,
                                       2, 3, 2, 3, 4, 5, 4, 5, 4, 5, 6, 7);
    const __m256i c = _mm256_setr_epi8(2, 3, 2, 3, 4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7, 2, 3, 2, 3,
                                       4, 5, 4, 5, 4, 5, 6, 7, 6, 7, 6, 7);
    // Per 128-bit half the pattern of its eight bytes: (a, b), (c, a), (b, c).
    const __m256i ab = _mm256_permute2x128_si256(a, b, 0x20);
    const __m256i ca = _mm256_permute2x128_si256(c, a, 0x20);
    const __m256i bc = _mm256_permute2x128_si256(b, c, 0x20);
    out[0] = _mm256_shuffle_epi8(
        _mm256_permutevar8x32_epi32(w2, _mm256_setr_epi32(0, 1, 2, 3, 1, 2, 3, 4)), ab);
    out[1] = _mm256_shuffle_epi8(
        _mm256_permutevar8x32_epi32(w2, _mm256_setr_epi32(2, 3, 4, 5, 4, 5, 6, 7)), ca);
    out[2] = _mm256_shuffle_epi8(
        _mm256_permutevar8x32_epi32(w2, _mm256_setr_epi32(5, 6, 7, 7, 6, 7, 7, 7)), bc);
    return 3;
}

// Where the weights of 32 three-byte pixels go for a mix of their 96 bytes split by parity,
// as PixelBytes splits them: vector 2c + q holds in 16-bit lane i the weight of byte
// 32c + 2i + q. Chunk c takes its weights from a vector of sixteen of them starting at pixel
// 8c; each 128-bit half gathers the four weight pairs it needs, then spreads them.
struct SplitSpread3Table
{
    int32_t pairs[6][8];
    int8_t bytes[6][32];
};

static constexpr SplitSpread3Table MakeSplitSpread3Table()
{
    SplitSpread3Table t{};
    for (int v = 0; v < 6; v++) {
        const int chunk = v / 2;
        const int parity = v % 2;
        for (int h = 0; h < 2; h++) {
            const int firstByte = 32 * chunk + 16 * h + parity;
            const int pair0 = (firstByte / 3 - 8 * chunk) / 2;
            for (int q = 0; q < 4; q++) {
                t.pairs[v][4 * h + q] = pair0 + q < 8 ? pair0 + q : 7;
            }
            for (int i = 0; i < 8; i++) {
                const int pixel = (firstByte + 2 * i) / 3 - 8 * chunk;
                const int at = 4 * (pixel / 2 - pair0) + 2 * (pixel % 2);
                t.bytes[v][16 * h + 2 * i] = static_cast<int8_t>(at);
                t.bytes[v][16 * h + 2 * i + 1] = static_cast<int8_t>(at + 1);
            }
        }
    }
    return t;
}

// Every byte's weight within the four pairs its half gathers.
static constexpr bool SplitSpread3Fits(const SplitSpread3Table &t)
{
    for (const auto &bytes : t.bytes) {
        for (int8_t b : bytes) {
            if (b < 0 || b > 15) {
                return false;
            }
        }
    }
    return true;
}

static_assert(SplitSpread3Fits(MakeSplitSpread3Table()));

// The weights of pixels 0..15 (lo) and 16..31 (hi), doubled, to the six vectors above.
static inline void SpreadWeightsSplit3(__m256i lo, __m256i hi, __m256i *out)
{
    static constexpr SplitSpread3Table kTable = MakeSplitSpread3Table();
    const __m256i lo2 = _mm256_add_epi16(lo, lo);
    const __m256i hi2 = _mm256_add_epi16(hi, hi);
    const __m256i from[3] = {lo2, _mm256_permute2x128_si256(lo2, hi2, 0x21), hi2};
    for (int v = 0; v < 6; v++) {
        out[v] = _mm256_shuffle_epi8(
            _mm256_permutevar8x32_epi32(from[v / 2], Load256(kTable.pairs[v])),
            Load256(kTable.bytes[v]));
    }
}

// p + ((v - p) x w) >> 8 with w2 = 2w: (v - p) << 7 fits 16 bits, and mulhi takes the floor.
static inline __m256i MixTowards(__m256i v, __m256i p, __m256i w2)
{
    return _mm256_add_epi16(p,
                            _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(v, p), 7), w2));
}

// p + ((v - p) x w) >> 8 of 32 bytes, each byte pair's weights (doubled, as MixTowards takes
// them) in the lane of the pair: the even bytes' in we, the odd bytes' in wo.
static inline __m256i MixBytesTowards(__m256i v, __m256i p, __m256i we, __m256i wo)
{
    const PixelBytes vs = SplitPixels(v);
    const PixelBytes ps = SplitPixels(p);
    return JoinPixels(MixTowards(vs.lo, ps.lo, we), MixTowards(vs.hi, ps.hi, wo));
}

// The same on complements (255 - n): ~(p + ((v - p) x w) >> 8) from ~v and ~p, as
// ~p - ((~p - ~v) x w) >> 8.
static inline __m256i MixComplementsTowards(__m256i nv, __m256i np, __m256i we, __m256i wo)
{
    const PixelBytes vs = SplitPixels(nv);
    const PixelBytes ps = SplitPixels(np);
    const __m256i lo = _mm256_sub_epi16(
        ps.lo, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(ps.lo, vs.lo), 7), we));
    const __m256i hi = _mm256_sub_epi16(
        ps.hi, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(ps.hi, vs.hi), 7), wo));
    return JoinPixels(lo, hi);
}

static inline __m256i Complement(__m256i v)
{
    return _mm256_xor_si256(v, _mm256_set1_epi8(-1));
}

// ~((m1 + 2 p0 + p1) >> 2) of 32 bytes from their complements: the blur is
// floor((floor((m1 + p1) / 2) + p0) / 2), and on complements a floor average is the byte
// average, which rounds up.
static inline __m256i ComplementBlur121(__m256i nm1, __m256i np0, __m256i np1)
{
    return _mm256_avg_epu8(_mm256_avg_epu8(nm1, np1), np0);
}

// Vectors of sixteen 16-bit lanes to bytes at p: 32 or 48 of them.
static inline void StoreBytes(uint8_t *p, const __m256i *v, int vectors)
{
    Store256(p, PackBytes(v[0], v[1]));
    if (vectors == 3) {
        Store128(p + 32, _mm256_castsi256_si128(PackBytes(v[2], v[2])));
    }
}

// Sixteen 16-bit values to two vectors of eight 32-bit values, zero-extended.
static inline void Store16As32(int32_t *p, __m256i v)
{
    Store256(p, _mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)));
    Store256(p + 8, _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
}

// A pshufb mask that takes the bytes `plane` (0..2) of 3-byte pixels into chunk `chunk` (0..2)
// of 48 interleaved bytes: byte t of the chunk is byte j = 16 chunk + t of the row, which is
// plane j % 3 of pixel j / 3.
static inline __m128i InterleaveMask(int chunk, int plane)
{
    alignas(16) int8_t m[16];
    for (int t = 0; t < 16; t++) {
        const int j = 16 * chunk + t;
        m[t] = static_cast<int8_t>(j % 3 == plane ? j / 3 : -128);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i *>(m));
}

namespace {

// Three planes of sixteen bytes to 48 interleaved bytes (plane 0 first).
struct Interleaver3
{
    __m128i m[3][3];
    Interleaver3()
    {
        for (int c = 0; c < 3; c++) {
            for (int p = 0; p < 3; p++) {
                m[c][p] = InterleaveMask(c, p);
            }
        }
    }
    void Store(uint8_t *out, __m128i p0, __m128i p1, __m128i p2) const
    {
        for (int c = 0; c < 3; c++) {
            const __m128i v = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(p0, m[c][0]), _mm_shuffle_epi8(p1, m[c][1])),
                _mm_shuffle_epi8(p2, m[c][2]));
            Store128(out + 16 * c, v);
        }
    }
};

} // namespace
