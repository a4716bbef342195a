#include "platform/ui/internal/bgr_rows.h"

#include <cstring>

#include <emmintrin.h>

namespace lc::ui::internal {

void BgrRowToRgb32_c(uint32_t *__restrict__ dst, const uint8_t *src, int width, int bytesPerPixel)
{
    for (int x = 0; x < width; x++) {
        const uint8_t *p = src + x * bytesPerPixel;
        dst[x] = 0xff000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
}

void BgrRowToRgb32_sse2(uint32_t *__restrict__ dst, const uint8_t *src, int width,
                        int bytesPerPixel)
{
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int x = 0;
    if (bytesPerPixel == 4) {
        for (; x + 4 <= width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 4 * x));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_or_si128(v, opaque));
        }
    } else if (bytesPerPixel == 3) {
        // Four pixels from a 16-byte read: each moved up by its index into its own 32-bit lane.
        const __m128i m0 = _mm_setr_epi32(0x00ffffff, 0, 0, 0);
        const __m128i m1 = _mm_setr_epi32(0, 0x00ffffff, 0, 0);
        const __m128i m2 = _mm_setr_epi32(0, 0, 0x00ffffff, 0);
        const __m128i m3 = _mm_setr_epi32(0, 0, 0, 0x00ffffff);
        for (; x + 6 <= width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 3 * x));
            __m128i r = _mm_or_si128(_mm_and_si128(v, m0), _mm_and_si128(_mm_slli_si128(v, 1), m1));
            r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 2), m2));
            r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 3), m3));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + x), _mm_or_si128(r, opaque));
        }
    }
    BgrRowToRgb32_c(dst + x, src + x * bytesPerPixel, width - x, bytesPerPixel);
}

} // namespace lc::ui::internal
