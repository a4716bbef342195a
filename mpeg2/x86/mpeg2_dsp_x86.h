#pragma once

#include <emmintrin.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/mpeg_idct.h"

// What the AVX2 table takes from the SSE2 file, where 256 bits do not pay.
void AddBlockSse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
void PutIntraBlockSse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block);
void AddBlockDcSse2(uint8_t *dst, ptrdiff_t stride, int v);
template <bool Average, bool Xh, bool Yh>
void PredictSse2(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int w,
                 int h);
extern template void PredictSse2<false, false, false>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                      ptrdiff_t, int, int);
extern template void PredictSse2<false, false, true>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                     ptrdiff_t, int, int);
extern template void PredictSse2<false, true, false>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                     ptrdiff_t, int, int);
extern template void PredictSse2<false, true, true>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                    ptrdiff_t, int, int);
extern template void PredictSse2<true, false, false>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                     ptrdiff_t, int, int);
extern template void PredictSse2<true, false, true>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                    ptrdiff_t, int, int);
extern template void PredictSse2<true, true, false>(uint8_t *, ptrdiff_t, const uint8_t *,
                                                    ptrdiff_t, int, int);
extern template void PredictSse2<true, true, true>(uint8_t *, ptrdiff_t, const uint8_t *, ptrdiff_t,
                                                   int, int);

// Helpers both files compile, each with its own instruction set: internal linkage, so that the
// linker never hands the SSE2 file a copy built for AVX2.
namespace {

inline __m128i Load(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

inline void Store(void *p, __m128i v)
{
    _mm_storeu_si128(static_cast<__m128i *>(p), v);
}

inline __m128i Load8(const void *p)
{
    return _mm_loadl_epi64(static_cast<const __m128i *>(p));
}

inline void Store8(void *p, __m128i v)
{
    _mm_storel_epi64(static_cast<__m128i *>(p), v);
}

inline void Transpose8x8(__m128i r[8])
{
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i t1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i t3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]);
    const __m128i t5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]);
    const __m128i t7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i u0 = _mm_unpacklo_epi32(t0, t2);
    const __m128i u1 = _mm_unpackhi_epi32(t0, t2);
    const __m128i u2 = _mm_unpacklo_epi32(t1, t3);
    const __m128i u3 = _mm_unpackhi_epi32(t1, t3);
    const __m128i u4 = _mm_unpacklo_epi32(t4, t6);
    const __m128i u5 = _mm_unpackhi_epi32(t4, t6);
    const __m128i u6 = _mm_unpacklo_epi32(t5, t7);
    const __m128i u7 = _mm_unpackhi_epi32(t5, t7);
    r[0] = _mm_unpacklo_epi64(u0, u4);
    r[1] = _mm_unpackhi_epi64(u0, u4);
    r[2] = _mm_unpacklo_epi64(u1, u5);
    r[3] = _mm_unpackhi_epi64(u1, u5);
    r[4] = _mm_unpacklo_epi64(u2, u6);
    r[5] = _mm_unpackhi_epi64(u2, u6);
    r[6] = _mm_unpacklo_epi64(u3, u7);
    r[7] = _mm_unpackhi_epi64(u3, u7);
}

// One pass of the inverse DCT, on 32-bit lanes of the file's vector type: Ops gives V with
// Pair (two 16-bit factors for Madd), Madd, Add, Sub, Set32, Or, MulLo16, MulHiU16 and the
// shifts Srai, Slli, Srli by a constant. The pairs hold coefficients (1, 7), (5, 3), (2, 6) and
// (0, 4) of each line. Row: DC x 2048 + 128, results >> 8. Column: DC x 256 + 8192, products
// + 4 >> 3, results >> 14. out[n] is output n of each line.
template <class Ops, bool Column>
inline void IdctPass(typename Ops::V p17, typename Ops::V p53, typename Ops::V p26,
                     typename Ops::V p04, typename Ops::V out[8])
{
    using V = typename Ops::V;
    // (181 v + 128) >> 8 for any 32-bit v, as the C version computes it in 64 bits: with
    // v = a x 65536 + b, that is (181 a) << 8 plus (181 b + 128) >> 8.
    auto half = [](V v) {
        const V k = Ops::Pair(181, 0);
        const V a = Ops::Madd(Ops::template Srai<16>(v), k);
        const V b = Ops::Or(Ops::MulLo16(v, k), Ops::template Slli<16>(Ops::MulHiU16(v, k)));
        return Ops::Add(Ops::template Slli<8>(a),
                        Ops::template Srli<8>(Ops::Add(b, Ops::Set32(128))));
    };
    auto product = [](V p, int16_t a, int16_t b) {
        const V v = Ops::Madd(p, Ops::Pair(a, b));
        return Column ? Ops::template Srai<3>(Ops::Add(v, Ops::Set32(4))) : v;
    };
    const int16_t dc = Column ? 256 : 2048;
    const V dcRound = Ops::Set32(Column ? 8192 : 128);
    // First stage.
    V x4 = product(p17, kIdctW1, kIdctW7);
    V x5 = product(p17, kIdctW7, -kIdctW1);
    V x6 = product(p53, kIdctW5, kIdctW3);
    V x7 = product(p53, kIdctW3, -kIdctW5);
    // Second stage.
    V x8 = Ops::Add(Ops::Madd(p04, Ops::Pair(dc, dc)), dcRound);
    V x0 = Ops::Add(Ops::Madd(p04, Ops::Pair(dc, int16_t(-dc))), dcRound);
    V x2 = product(p26, kIdctW6, -kIdctW2);
    V x3 = product(p26, kIdctW2, kIdctW6);
    V x1 = Ops::Add(x4, x6);
    x4 = Ops::Sub(x4, x6);
    x6 = Ops::Add(x5, x7);
    x5 = Ops::Sub(x5, x7);
    // Third stage.
    x7 = Ops::Add(x8, x3);
    x8 = Ops::Sub(x8, x3);
    x3 = Ops::Add(x0, x2);
    x0 = Ops::Sub(x0, x2);
    x2 = half(Ops::Add(x4, x5));
    x4 = half(Ops::Sub(x4, x5));
    // Fourth stage.
    constexpr int shift = Column ? 14 : 8;
    out[0] = Ops::template Srai<shift>(Ops::Add(x7, x1));
    out[1] = Ops::template Srai<shift>(Ops::Add(x3, x2));
    out[2] = Ops::template Srai<shift>(Ops::Add(x0, x4));
    out[3] = Ops::template Srai<shift>(Ops::Add(x8, x6));
    out[4] = Ops::template Srai<shift>(Ops::Sub(x8, x6));
    out[5] = Ops::template Srai<shift>(Ops::Sub(x0, x4));
    out[6] = Ops::template Srai<shift>(Ops::Sub(x3, x2));
    out[7] = Ops::template Srai<shift>(Ops::Sub(x7, x1));
}

} // namespace
