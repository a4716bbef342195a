// YUV 4:2:2 to B,G,R and the byte swaps between R,G,B and B,G,R(,X).

#include "engine/x86/avx2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// (c x k) >> 8 with arithmetic shift for colour differences c in -128..127.
__m256i ScaleChroma(__m256i c256, int k)
{
    return _mm256_mulhi_epi16(c256, _mm256_set1_epi16(static_cast<int16_t>(k)));
}

void YuvToBgrRow_avx2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    static const Interleaver3 interleave;
    const __m256i lumaMask = _mm256_set1_epi16(0x00ff);
    const __m256i bias = _mm256_set1_epi16(128);
    // Even columns carry U, odd ones V: U of pixel x is lane x & ~1, V lane (x - 1) | 1.
    const __m256i evenLanes = _mm256_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13,
                                               0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i v = Load256(s + 2 * x);
        const __m256i y = _mm256_and_si256(v, lumaMask);
        const __m256i c = _mm256_sub_epi16(_mm256_srli_epi16(v, 8), bias);
        const __m256i u = _mm256_shuffle_epi8(c, evenLanes);
        // The chroma moved up one lane across the whole register, with the V of the pixel
        // before the step in lane 0; then every even lane takes the odd lane below it.
        const int prevV = x > 0 ? s[2 * x - 1] - 128 : 0;
        const __m256i carried = _mm256_alignr_epi8(c, _mm256_permute2x128_si256(c, c, 0x08), 14);
        const __m256i shifted = _mm256_insert_epi16(carried, static_cast<int16_t>(prevV), 0);
        // shifted lane x = chroma of pixel x - 1; V of x is that for even x, its own for odd x.
        const __m256i vv = _mm256_blend_epi16(shifted, c, 0xaa);
        const __m256i u256 = _mm256_slli_epi16(u, 8);
        const __m256i v256 = _mm256_slli_epi16(vv, 8);
        const __m256i r = _mm256_add_epi16(y, ScaleChroma(v256, 359));
        // (11 x u) >> 5 is (u x 256 x 88) >> 16.
        const __m256i g =
            _mm256_sub_epi16(_mm256_sub_epi16(y, ScaleChroma(v256, 183)), ScaleChroma(u256, 88));
        const __m256i b = _mm256_add_epi16(y, ScaleChroma(u256, 453));
        const __m256i b8 = PackBytes(b, b);
        const __m256i g8 = PackBytes(g, g);
        const __m256i r8 = PackBytes(r, r);
        interleave.Store(d + 3 * x, _mm256_castsi256_si128(b8), _mm256_castsi256_si128(g8),
                         _mm256_castsi256_si128(r8));
    }
    if (x < width) {
        int u = 0;
        int vPrev = x > 0 ? s[2 * x - 1] - 128 : 0;
        for (; x < width; x++) {
            const int luma = s[2 * x];
            const int chroma = s[2 * x + 1] - 128;
            if (x & 1) {
                vPrev = chroma;
            } else {
                u = chroma;
            }
            const int rr = luma + ((359 * vPrev) >> 8);
            const int gg = luma - ((183 * vPrev) >> 8) - ((11 * u) >> 5);
            const int bb = luma + ((453 * u) >> 8);
            d[3 * x] = static_cast<uint8_t>(bb < 0 ? 0 : (bb > 255 ? 255 : bb));
            d[3 * x + 1] = static_cast<uint8_t>(gg < 0 ? 0 : (gg > 255 ? 255 : gg));
            d[3 * x + 2] = static_cast<uint8_t>(rr < 0 ? 0 : (rr > 255 ? 255 : rr));
        }
    }
}

void SwapRgbRow_avx2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    // Bytes 0 and 2 of five pixels swapped; the 16th byte is rewritten by the next step.
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    for (; x + 11 <= width; x += 10) {
        const __m128i a = _mm_shuffle_epi8(Load128(s + 3 * x), swap);
        const __m128i b = _mm_shuffle_epi8(Load128(s + 3 * x + 15), swap);
        Store128(d + 3 * x, a);
        Store128(d + 3 * x + 15, b);
    }
    kKernels_c.swapRgbRow(d + 3 * x, s + 3 * x, width - x);
}

void SwapRgbxRow_avx2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    // Per 128-bit half four B,G,R,X pixels to twelve R,G,B bytes, then the halves joined.
    const __m256i swap =
        _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -128, -128, -128, -128, 2, 1, 0, 6,
                         5, 4, 10, 9, 8, 14, 13, 12, -128, -128, -128, -128);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i v =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(Load256(s + 4 * x), swap), join);
        Store128(d + 3 * x, _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(d + 3 * x + 16),
                         _mm256_extracti128_si256(v, 1));
    }
    kKernels_c.swapRgbxRow(d + 3 * x, s + 4 * x, width - x);
}

} // namespace

void FillPixelFormats_avx2(EngineKernels &k)
{
    k.yuvToBgrRow = YuvToBgrRow_avx2;
    k.swapRgbRow = SwapRgbRow_avx2;
    k.swapRgbxRow = SwapRgbxRow_avx2;
}
