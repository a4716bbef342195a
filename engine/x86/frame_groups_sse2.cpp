// Line conversion: the linear interpolation between two source lines.

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

void LerpRow_sse2(uint8_t *LC_RESTRICT out, const uint8_t *s0, const uint8_t *s1, int n, int f,
                  int d)
{
    if (d > 256) {
        kKernels_c.lerpRow(out, s0, s1, n, f, d);
        return;
    }
    const __m128i m = _mm_set1_epi16(static_cast<int16_t>(LerpMultiplier(f, d)));
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = Load128(s0 + i);
        const __m128i b = Load128(s1 + i);
        const __m128i lo = Lerp16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), m);
        const __m128i hi = Lerp16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), m);
        Store128(out + i, _mm_packus_epi16(lo, hi));
    }
    for (; i < n; i++) {
        out[i] = static_cast<uint8_t>(s0[i] + ((s1[i] - s0[i]) * f) / d);
    }
}

} // namespace

void FillFrameGroups_sse2(EngineKernels &k)
{
    k.lerpRow = LerpRow_sse2;
}
