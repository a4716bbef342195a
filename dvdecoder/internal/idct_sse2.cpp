#include <emmintrin.h>

#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/idct_vectors.h"

namespace {

__m128i Load(const int16_t *p)
{
    return _mm_load_si128(reinterpret_cast<const __m128i *>(p));
}

} // namespace

void IdctSse2(int16_t *block)
{
    __m128i *rows = reinterpret_cast<__m128i *>(block);
    for (int r = 0; r < 8; ++r) {
        const IdctRowVectors &k = kIdctRowVectors[r];
        // Lanes (x0,x2) (x1,x3) (x4,x6) (x5,x7).
        __m128i t = _mm_shufflelo_epi16(_mm_load_si128(rows + r), _MM_SHUFFLE(3, 1, 2, 0));
        t = _mm_shufflehi_epi16(t, _MM_SHUFFLE(3, 1, 2, 0));
        const __m128i a = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi32(t, 0x00), Load(k.e02)),
                                        _mm_madd_epi16(_mm_shuffle_epi32(t, 0xaa), Load(k.e46)));
        const __m128i b = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi32(t, 0x55), Load(k.o13)),
                                        _mm_madd_epi16(_mm_shuffle_epi32(t, 0xff), Load(k.o57)));
        const __m128i rnd = _mm_load_si128(reinterpret_cast<const __m128i *>(k.rounder));
        const __m128i lo = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a, b), rnd), 11);
        const __m128i hi = _mm_srai_epi32(_mm_add_epi32(_mm_sub_epi32(a, b), rnd), 11);
        // y0..y3 from a+b, y4..y7 from a-b in reverse order.
        _mm_store_si128(rows + r, _mm_packs_epi32(lo, _mm_shuffle_epi32(hi, 0x1b)));
    }

    const __m128i tan1 = _mm_set1_epi16(kTan1);
    const __m128i tan2 = _mm_set1_epi16(kTan2);
    const __m128i tan3m1 = _mm_set1_epi16(kTan3m1);
    const __m128i cos4 = _mm_set1_epi16(kCos4);
    const __m128i x0 = rows[0], x1 = rows[1], x2 = rows[2], x3 = rows[3];
    const __m128i x4 = rows[4], x5 = rows[5], x6 = rows[6], x7 = rows[7];
    const __m128i tm35 = _mm_subs_epi16(_mm_adds_epi16(_mm_mulhi_epi16(x3, tan3m1), x3), x5);
    const __m128i tp35 = _mm_adds_epi16(_mm_adds_epi16(_mm_mulhi_epi16(x5, tan3m1), x3), x5);
    const __m128i tp17 = _mm_adds_epi16(_mm_mulhi_epi16(x7, tan1), x1);
    const __m128i tm17 = _mm_subs_epi16(_mm_mulhi_epi16(x1, tan1), x7);
    const __m128i b0 = _mm_adds_epi16(tp17, tp35);
    const __m128i b3 = _mm_subs_epi16(tm17, tm35);
    const __m128i t1 = _mm_subs_epi16(tp17, tp35);
    const __m128i t2 = _mm_adds_epi16(tm17, tm35);
    __m128i b1 = _mm_mulhi_epi16(_mm_adds_epi16(t1, t2), cos4);
    __m128i b2 = _mm_mulhi_epi16(_mm_subs_epi16(t1, t2), cos4);
    b1 = _mm_adds_epi16(b1, b1);
    b2 = _mm_adds_epi16(b2, b2);
    const __m128i tm26 = _mm_subs_epi16(_mm_mulhi_epi16(x2, tan2), x6);
    const __m128i tp26 = _mm_adds_epi16(_mm_mulhi_epi16(x6, tan2), x2);
    const __m128i tp04 = _mm_adds_epi16(x0, x4);
    const __m128i tm04 = _mm_subs_epi16(x0, x4);
    const __m128i a0 = _mm_adds_epi16(tp04, tp26);
    const __m128i a3 = _mm_subs_epi16(tp04, tp26);
    const __m128i a1 = _mm_adds_epi16(tm04, tm26);
    const __m128i a2 = _mm_subs_epi16(tm04, tm26);
    rows[0] = _mm_srai_epi16(_mm_adds_epi16(a0, b0), 6);
    rows[7] = _mm_srai_epi16(_mm_subs_epi16(a0, b0), 6);
    rows[1] = _mm_srai_epi16(_mm_adds_epi16(a1, b1), 6);
    rows[6] = _mm_srai_epi16(_mm_subs_epi16(a1, b1), 6);
    rows[2] = _mm_srai_epi16(_mm_adds_epi16(a2, b2), 6);
    rows[5] = _mm_srai_epi16(_mm_subs_epi16(a2, b2), 6);
    rows[3] = _mm_srai_epi16(_mm_adds_epi16(a3, b3), 6);
    rows[4] = _mm_srai_epi16(_mm_subs_epi16(a3, b3), 6);
}

void IdctBlocksSse2(int16_t *blocks, int count)
{
    for (int i = 0; i < count; ++i) {
        IdctSse2(blocks + 64 * i);
    }
}
