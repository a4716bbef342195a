// Line conversion: the linear interpolation between two source lines.

#include <immintrin.h>

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// s0 + trunc((s1 - s0) x m / 65536) on sixteen 16-bit lanes of bytes.
__m256i Lerp16x16(__m256i s0, __m256i s1, __m256i m)
{
    const __m256i delta = _mm256_sub_epi16(s1, s0);
    return _mm256_add_epi16(
        s0, _mm256_sign_epi16(_mm256_mulhi_epu16(_mm256_abs_epi16(delta), m), delta));
}

// Thirty-two bytes at i: the even bytes and the odd ones each in sixteen 16-bit lanes, then put
// back in place.
void Lerp32(uint8_t *out, const uint8_t *s0, const uint8_t *s1, int i, __m256i m)
{
    const __m256i low = _mm256_set1_epi16(0x00ff);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s0 + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s1 + i));
    const __m256i even = Lerp16x16(_mm256_and_si256(a, low), _mm256_and_si256(b, low), m);
    const __m256i odd = Lerp16x16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8), m);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                        _mm256_or_si256(even, _mm256_slli_epi16(odd, 8)));
}

void LerpRow_avx2(uint8_t *LC_RESTRICT out, const uint8_t *s0, const uint8_t *s1, int n, int f,
                  int d)
{
    if (d > 256 || n < 32) {
        kKernels_c.lerpRow(out, s0, s1, n, f, d);
        return;
    }
    if (f == 0) {
        __builtin_memcpy(out, s0, static_cast<size_t>(n));
        return;
    }
    const __m256i m = _mm256_set1_epi16(static_cast<int16_t>(LerpMultiplier(f, d)));
    // The last step ends at n, over bytes an earlier step may have made: the same values.
    for (int i = 0;; i += 32) {
        i = i + 32 > n ? n - 32 : i;
        Lerp32(out, s0, s1, i, m);
        if (i + 32 >= n) {
            break;
        }
    }
}

} // namespace

void FillFrameGroups_avx2(EngineKernels &k)
{
    k.lerpRow = LerpRow_avx2;
}
