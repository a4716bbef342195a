#pragma once

// Helpers of the packed kernels. Static, so that a copy built with the AVX2 file's flags never
// stands in for the SSE2 file's copy at link time; for the same reason the files of engine/x86
// call no inline function of the other headers.

#include <emmintrin.h>
#include <stdint.h>

static inline __m128i Load128(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

static inline void Store128(void *p, __m128i v)
{
    _mm_storeu_si128(static_cast<__m128i *>(p), v);
}

static inline int MinInt(int a, int b)
{
    return a < b ? a : b;
}

static inline int MaxInt(int a, int b)
{
    return a > b ? a : b;
}

// floor(a x f / d) for 0 <= a <= 255 and 0 <= f < d <= 256 is (a x m) >> 16 with this m: its
// excess over f x 65536 / d moves the quotient by less than 1 / d.
static inline uint16_t LerpMultiplier(int f, int d)
{
    return static_cast<uint16_t>((f * 65536 + d - 1) / d);
}

// s0 + trunc((s1 - s0) x m / 65536) on eight 16-bit lanes of bytes.
static inline __m128i Lerp16(__m128i s0, __m128i s1, __m128i m)
{
    const __m128i delta = _mm_sub_epi16(s1, s0);
    const __m128i sign = _mm_srai_epi16(delta, 15);
    const __m128i mag = _mm_sub_epi16(_mm_xor_si128(delta, sign), sign);
    const __m128i q = _mm_mulhi_epu16(mag, m);
    return _mm_add_epi16(s0, _mm_sub_epi16(_mm_xor_si128(q, sign), sign));
}

// Motion weights from map values (sums of squares, never negative) already shifted by 3:
// clamp(t x sensitivity / 50 - 100, 0, top). t is first capped where the weight is top anyway,
// so that t x sensitivity stays below 18800; below 43690, n / 50 is (n x 41944) >> 21.
static inline int WeightCap(int sensitivity, int top)
{
    const int saturating = (top + 100) * 50;
    return sensitivity > 0 ? (saturating + sensitivity - 1) / sensitivity : saturating;
}

static inline __m128i MotionWeight16(__m128i t, __m128i cap, __m128i sensitivity, __m128i top)
{
    t = _mm_min_epi16(t, cap);
    const __m128i n = _mm_mullo_epi16(t, sensitivity);
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(n, _mm_set1_epi16(-23592 /* 41944 */)), 5);
    const __m128i w = _mm_sub_epi16(q, _mm_set1_epi16(100));
    return _mm_min_epi16(_mm_max_epi16(w, _mm_setzero_si128()), top);
}

// Eight map values >> 3, as 16-bit lanes (saturating well above any cap).
static inline __m128i ShiftedMap16(const int32_t *m)
{
    return _mm_packs_epi32(_mm_srai_epi32(Load128(m), 3), _mm_srai_epi32(Load128(m + 4), 3));
}

// Pixels 0..3 of 3-byte pixels into the low three bytes of four 32-bit lanes (top bytes 0).
static inline __m128i Spread3To4(__m128i v)
{
    const __m128i m0 = _mm_setr_epi32(0x00ffffff, 0, 0, 0);
    const __m128i m1 = _mm_setr_epi32(0, 0x00ffffff, 0, 0);
    const __m128i m2 = _mm_setr_epi32(0, 0, 0x00ffffff, 0);
    const __m128i m3 = _mm_setr_epi32(0, 0, 0, 0x00ffffff);
    __m128i r = _mm_and_si128(v, m0);
    r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 1), m1));
    r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 2), m2));
    return _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 3), m3));
}

// The inverse: the low three bytes of four 32-bit lanes packed into bytes 0..11.
static inline __m128i Pack4To3(__m128i v)
{
    const __m128i m0 = _mm_setr_epi32(0x00ffffff, 0, 0, 0);
    const __m128i m1 = _mm_setr_epi32(static_cast<int>(0xff000000u), 0x0000ffff, 0, 0);
    const __m128i m2 = _mm_setr_epi32(0, static_cast<int>(0xffff0000u), 0x000000ff, 0);
    const __m128i m3 = _mm_setr_epi32(0, 0, static_cast<int>(0xffffff00u), 0);
    __m128i r = _mm_and_si128(v, m0);
    r = _mm_or_si128(r, _mm_and_si128(_mm_srli_si128(v, 1), m1));
    r = _mm_or_si128(r, _mm_and_si128(_mm_srli_si128(v, 2), m2));
    return _mm_or_si128(r, _mm_and_si128(_mm_srli_si128(v, 3), m3));
}

// Stores bytes 0..11.
static inline void Store96(uint8_t *p, __m128i v)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(p), v);
    const int32_t hi = _mm_cvtsi128_si32(_mm_srli_si128(v, 8));
    __builtin_memcpy(p + 8, &hi, 4);
}

// Sums the two 32-bit halves of each 64-bit lane of a and b: {a0+a1, a2+a3, b0+b1, b2+b3}.
static inline __m128i PairSums32(__m128i a, __m128i b)
{
    const __m128 lo = _mm_castsi128_ps(a);
    const __m128 hi = _mm_castsi128_ps(b);
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(even, odd);
}

// Eight bytes to 16-bit lanes.
static inline __m128i Widen8(const uint8_t *p)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)),
                             _mm_setzero_si128());
}
