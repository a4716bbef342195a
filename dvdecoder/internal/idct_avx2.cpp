// The inverse DCT of idct_sse2.cpp on two blocks at once, one in each 128-bit lane.
#include <immintrin.h>

#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/idct_vectors.h"

namespace {

__m256i Both(const int16_t *p)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(p)));
}

void IdctPair(int16_t *a, int16_t *b)
{
    __m256i rows[8];
    for (int r = 0; r < 8; ++r) {
        const IdctRowVectors &k = kIdctRowVectors[r];
        const __m256i x = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(a + 8 * r))),
            _mm_load_si128(reinterpret_cast<const __m128i *>(b + 8 * r)), 1);
        // Lanes (x0,x2) (x1,x3) (x4,x6) (x5,x7).
        __m256i t = _mm256_shufflelo_epi16(x, _MM_SHUFFLE(3, 1, 2, 0));
        t = _mm256_shufflehi_epi16(t, _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i even =
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(t, 0x00), Both(k.e02)),
                             _mm256_madd_epi16(_mm256_shuffle_epi32(t, 0xaa), Both(k.e46)));
        const __m256i odd =
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi32(t, 0x55), Both(k.o13)),
                             _mm256_madd_epi16(_mm256_shuffle_epi32(t, 0xff), Both(k.o57)));
        const __m256i rnd = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i *>(k.rounder)));
        const __m256i lo =
            _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(even, odd), rnd), 11);
        const __m256i hi =
            _mm256_srai_epi32(_mm256_add_epi32(_mm256_sub_epi32(even, odd), rnd), 11);
        rows[r] = _mm256_packs_epi32(lo, _mm256_shuffle_epi32(hi, 0x1b));
    }

    const __m256i tan1 = _mm256_set1_epi16(kTan1);
    const __m256i tan2 = _mm256_set1_epi16(kTan2);
    const __m256i tan3m1 = _mm256_set1_epi16(kTan3m1);
    const __m256i cos4 = _mm256_set1_epi16(kCos4);
    const __m256i x0 = rows[0], x1 = rows[1], x2 = rows[2], x3 = rows[3];
    const __m256i x4 = rows[4], x5 = rows[5], x6 = rows[6], x7 = rows[7];
    const __m256i tm35 =
        _mm256_subs_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(x3, tan3m1), x3), x5);
    const __m256i tp35 =
        _mm256_adds_epi16(_mm256_adds_epi16(_mm256_mulhi_epi16(x5, tan3m1), x3), x5);
    const __m256i tp17 = _mm256_adds_epi16(_mm256_mulhi_epi16(x7, tan1), x1);
    const __m256i tm17 = _mm256_subs_epi16(_mm256_mulhi_epi16(x1, tan1), x7);
    const __m256i b0 = _mm256_adds_epi16(tp17, tp35);
    const __m256i b3 = _mm256_subs_epi16(tm17, tm35);
    const __m256i t1 = _mm256_subs_epi16(tp17, tp35);
    const __m256i t2 = _mm256_adds_epi16(tm17, tm35);
    __m256i b1 = _mm256_mulhi_epi16(_mm256_adds_epi16(t1, t2), cos4);
    __m256i b2 = _mm256_mulhi_epi16(_mm256_subs_epi16(t1, t2), cos4);
    b1 = _mm256_adds_epi16(b1, b1);
    b2 = _mm256_adds_epi16(b2, b2);
    const __m256i tm26 = _mm256_subs_epi16(_mm256_mulhi_epi16(x2, tan2), x6);
    const __m256i tp26 = _mm256_adds_epi16(_mm256_mulhi_epi16(x6, tan2), x2);
    const __m256i tp04 = _mm256_adds_epi16(x0, x4);
    const __m256i tm04 = _mm256_subs_epi16(x0, x4);
    const __m256i a0 = _mm256_adds_epi16(tp04, tp26);
    const __m256i a3 = _mm256_subs_epi16(tp04, tp26);
    const __m256i a1 = _mm256_adds_epi16(tm04, tm26);
    const __m256i a2 = _mm256_subs_epi16(tm04, tm26);
    const __m256i out[8] = {
        _mm256_srai_epi16(_mm256_adds_epi16(a0, b0), 6),
        _mm256_srai_epi16(_mm256_adds_epi16(a1, b1), 6),
        _mm256_srai_epi16(_mm256_adds_epi16(a2, b2), 6),
        _mm256_srai_epi16(_mm256_adds_epi16(a3, b3), 6),
        _mm256_srai_epi16(_mm256_subs_epi16(a3, b3), 6),
        _mm256_srai_epi16(_mm256_subs_epi16(a2, b2), 6),
        _mm256_srai_epi16(_mm256_subs_epi16(a1, b1), 6),
        _mm256_srai_epi16(_mm256_subs_epi16(a0, b0), 6),
    };
    for (int r = 0; r < 8; ++r) {
        _mm_store_si128(reinterpret_cast<__m128i *>(a + 8 * r), _mm256_castsi256_si128(out[r]));
        _mm_store_si128(reinterpret_cast<__m128i *>(b + 8 * r),
                        _mm256_extracti128_si256(out[r], 1));
    }
}

} // namespace

void IdctBlocksAvx2(int16_t *blocks, int count)
{
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        IdctPair(blocks + 64 * i, blocks + 64 * (i + 1));
    }
    for (; i < count; ++i) {
        IdctSse2(blocks + 64 * i);
    }
}
