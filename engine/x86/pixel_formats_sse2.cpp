// YUV 4:2:2 to B,G,R and the byte swaps between R,G,B and B,G,R(,X).

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// (c x k) >> 8 with arithmetic shift for colour differences c in -128..127: the product of
// c x 256 and k, shifted by 16.
__m128i ScaleChroma(__m128i c256, int k)
{
    return _mm_mulhi_epi16(c256, _mm_set1_epi16(static_cast<int16_t>(k)));
}

void YuvToBgrRow_sse2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    const __m128i lumaMask = _mm_set1_epi16(0x00ff);
    const __m128i bias = _mm_set1_epi16(128);
    // The V of the pixel before the step (0 at the start of a row).
    __m128i carryV = _mm_setzero_si128();
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i v = Load128(s + 2 * x);
        const __m128i y = _mm_and_si128(v, lumaMask);
        const __m128i c = _mm_sub_epi16(_mm_srli_epi16(v, 8), bias);
        // Even columns carry U, odd ones V; each pixel takes the latest of both.
        const __m128i u = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, _MM_SHUFFLE(2, 2, 0, 0)),
                                              _MM_SHUFFLE(2, 2, 0, 0));
        const __m128i odd = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, _MM_SHUFFLE(3, 3, 1, 1)),
                                                _MM_SHUFFLE(3, 3, 1, 1));
        const __m128i vv = _mm_or_si128(_mm_slli_si128(odd, 2), carryV);
        carryV = _mm_srli_si128(c, 14);
        const __m128i u256 = _mm_slli_epi16(u, 8);
        const __m128i v256 = _mm_slli_epi16(vv, 8);
        // (11 x u) >> 5 is (u x 256 x 88) >> 16.
        const __m128i r = _mm_add_epi16(y, ScaleChroma(v256, 359));
        const __m128i g =
            _mm_sub_epi16(_mm_sub_epi16(y, ScaleChroma(v256, 183)), ScaleChroma(u256, 88));
        const __m128i b = _mm_add_epi16(y, ScaleChroma(u256, 453));
        const __m128i b8 = _mm_packus_epi16(b, b);
        const __m128i g8 = _mm_packus_epi16(g, g);
        const __m128i r8 = _mm_packus_epi16(r, r);
        const __m128i bg = _mm_unpacklo_epi8(b8, g8);
        const __m128i r0 = _mm_unpacklo_epi8(r8, _mm_setzero_si128());
        uint8_t *out = d + 3 * x;
        Store96(out, Pack4To3(_mm_unpacklo_epi16(bg, r0)));
        Store96(out + 12, Pack4To3(_mm_unpackhi_epi16(bg, r0)));
    }
    if (x < width) {
        // The rest of the row, starting from the V carried in.
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
            const int r = luma + ((359 * vPrev) >> 8);
            const int g = luma - ((183 * vPrev) >> 8) - ((11 * u) >> 5);
            const int b = luma + ((453 * u) >> 8);
            d[3 * x] = static_cast<uint8_t>(b < 0 ? 0 : (b > 255 ? 255 : b));
            d[3 * x + 1] = static_cast<uint8_t>(g < 0 ? 0 : (g > 255 ? 255 : g));
            d[3 * x + 2] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
        }
    }
}

// Bytes 0 and 2 of five 3-byte pixels swapped (byte 15 is not a whole pixel).
__m128i Swap3(__m128i v)
{
    const __m128i keep = _mm_setr_epi8(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0);
    const __m128i first = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0);
    const __m128i third = _mm_setr_epi8(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0);
    return _mm_or_si128(
        _mm_or_si128(_mm_and_si128(v, keep), _mm_and_si128(_mm_srli_si128(v, 2), first)),
        _mm_and_si128(_mm_slli_si128(v, 2), third));
}

void SwapRgbRow_sse2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    int x = 0;
    // 16 bytes read and written from pixel x; the 16th is rewritten by the next step, and the
    // last step stops a whole pixel short of the row's end.
    for (; x + 6 <= width; x += 5) {
        Store128(d + 3 * x, Swap3(Load128(s + 3 * x)));
    }
    kKernels_c.swapRgbRow(d + 3 * x, s + 3 * x, width - x);
}

void SwapRgbxRow_sse2(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    const __m128i mid = _mm_set1_epi32(0x0000ff00);
    const __m128i low = _mm_set1_epi32(0x000000ff);
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i v = Load128(s + 4 * x);
        const __m128i swapped = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(v, mid), _mm_and_si128(_mm_srli_epi32(v, 16), low)),
            _mm_slli_epi32(_mm_and_si128(v, low), 16));
        Store96(d + 3 * x, Pack4To3(swapped));
    }
    kKernels_c.swapRgbxRow(d + 3 * x, s + 4 * x, width - x);
}

} // namespace

void FillPixelFormats_sse2(EngineKernels &k)
{
    k.yuvToBgrRow = YuvToBgrRow_sse2;
    k.swapRgbRow = SwapRgbRow_sse2;
    k.swapRgbxRow = SwapRgbxRow_sse2;
}
