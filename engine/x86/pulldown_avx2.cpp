// Field match scores: sums of squared differences of two lines.

#include <immintrin.h>

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// 32-bit lanes take at most this many 32-byte steps before they are added into the 64-bit sum.
constexpr int kStepsPerFlush = 1024;

int64_t HorizontalSum(__m256i v)
{
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), v);
    int64_t s = 0;
    for (int32_t l : lanes) {
        s += l;
    }
    return s;
}

int64_t SqDiff(const uint8_t *a, const uint8_t *b, int bytes, bool lumaOnly)
{
    const __m256i lumaMask = _mm256_set1_epi16(0x00ff);
    int64_t total = 0;
    int i = 0;
    while (i + 32 <= bytes) {
        __m256i acc = _mm256_setzero_si256();
        for (int steps = 0; steps < kStepsPerFlush && i + 32 <= bytes; steps++, i += 32) {
            const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + i));
            const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + i));
            if (lumaOnly) {
                const __m256i d = _mm256_sub_epi16(_mm256_and_si256(va, lumaMask),
                                                   _mm256_and_si256(vb, lumaMask));
                acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, d));
            } else {
                // |a - b| as bytes, then widened: the square is the same.
                const __m256i ad =
                    _mm256_or_si256(_mm256_subs_epu8(va, vb), _mm256_subs_epu8(vb, va));
                const __m256i zero = _mm256_setzero_si256();
                const __m256i lo = _mm256_unpacklo_epi8(ad, zero);
                const __m256i hi = _mm256_unpackhi_epi8(ad, zero);
                acc = _mm256_add_epi32(acc, _mm256_madd_epi16(lo, lo));
                acc = _mm256_add_epi32(acc, _mm256_madd_epi16(hi, hi));
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

int64_t SqDiffBytes_avx2(const uint8_t *a, const uint8_t *b, int n)
{
    return SqDiff(a, b, n, false);
}

int64_t SqDiffLuma_avx2(const uint8_t *a, const uint8_t *b, int pixels)
{
    return SqDiff(a, b, pixels * 2, true);
}

} // namespace

void FillPulldown_avx2(EngineKernels &k)
{
    k.sqDiffBytes = SqDiffBytes_avx2;
    k.sqDiffLuma = SqDiffLuma_avx2;
}
