// Line conversion: the linear interpolation between two source lines.

#include <immintrin.h>

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

__m256i Lerp16x16(__m256i s0, __m256i s1, __m256i m)
{
    const __m256i delta = _mm256_sub_epi16(s1, s0);
    const __m256i sign = _mm256_srai_epi16(delta, 15);
    const __m256i q = _mm256_mulhi_epu16(_mm256_abs_epi16(delta), m);
    return _mm256_add_epi16(s0, _mm256_sub_epi16(_mm256_xor_si256(q, sign), sign));
}

void LerpRow_avx2(uint8_t *LC_RESTRICT out, const uint8_t *s0, const uint8_t *s1, int n, int f,
                  int d)
{
    if (d > 256) {
        kKernels_c.lerpRow(out, s0, s1, n, f, d);
        return;
    }
    const __m256i m = _mm256_set1_epi16(static_cast<int16_t>(LerpMultiplier(f, d)));
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i a0 = _mm256_cvtepu8_epi16(Load128(s0 + i));
        const __m256i a1 = _mm256_cvtepu8_epi16(Load128(s0 + i + 16));
        const __m256i b0 = _mm256_cvtepu8_epi16(Load128(s1 + i));
        const __m256i b1 = _mm256_cvtepu8_epi16(Load128(s1 + i + 16));
        const __m256i r = _mm256_packus_epi16(Lerp16x16(a0, b0, m), Lerp16x16(a1, b1, m));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i),
                            _mm256_permute4x64_epi64(r, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    for (; i < n; i++) {
        out[i] = static_cast<uint8_t>(s0[i] + ((s1[i] - s0[i]) * f) / d);
    }
}

} // namespace

void FillFrameGroups_avx2(EngineKernels &k)
{
    k.lerpRow = LerpRow_avx2;
}
