// Field match scores: sums of squared differences of two lines.

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// 32-bit lanes take at most this many 16-byte steps (two squares of 255 each a lane per step)
// before they are added into the 64-bit sum.
constexpr int kStepsPerFlush = 1024;

int64_t HorizontalSum(__m128i v)
{
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), v);
    return int64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

// mask: 0x00ff in every 16-bit lane for luminance only, else both bytes of each lane are used.
int64_t SqDiff(const uint8_t *a, const uint8_t *b, int bytes, bool lumaOnly)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i lumaMask = _mm_set1_epi16(0x00ff);
    int64_t total = 0;
    int i = 0;
    while (i + 16 <= bytes) {
        __m128i acc = zero;
        for (int steps = 0; steps < kStepsPerFlush && i + 16 <= bytes; steps++, i += 16) {
            const __m128i va = Load128(a + i);
            const __m128i vb = Load128(b + i);
            if (lumaOnly) {
                const __m128i d =
                    _mm_sub_epi16(_mm_and_si128(va, lumaMask), _mm_and_si128(vb, lumaMask));
                acc = _mm_add_epi32(acc, _mm_madd_epi16(d, d));
            } else {
                const __m128i dlo =
                    _mm_sub_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
                const __m128i dhi =
                    _mm_sub_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
                acc = _mm_add_epi32(acc, _mm_madd_epi16(dlo, dlo));
                acc = _mm_add_epi32(acc, _mm_madd_epi16(dhi, dhi));
            }
        }
        total += HorizontalSum(acc);
    }
    for (; i < bytes; i += lumaOnly ? 2 : 1) {
        const int d = a[i] - b[i];
        total += d * d;
    }
    return total;
}

int64_t SqDiffBytes_sse2(const uint8_t *a, const uint8_t *b, int n)
{
    return SqDiff(a, b, n, false);
}

int64_t SqDiffLuma_sse2(const uint8_t *a, const uint8_t *b, int pixels)
{
    return SqDiff(a, b, pixels * 2, true);
}

} // namespace

void FillPulldown_sse2(EngineKernels &k)
{
    k.sqDiffBytes = SqDiffBytes_sse2;
    k.sqDiffLuma = SqDiffLuma_sse2;
}
