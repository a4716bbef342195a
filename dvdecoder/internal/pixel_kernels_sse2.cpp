// Packed forms of the pixel kernels: eight 16-bit lanes, exact 32-bit colour sums by
// multiply-add, the same bytes as the C forms.
#include <cstring>

#include <emmintrin.h>

#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/pixel_kernels.h"
#include "dvdecoder/internal/pixel_kernels_x86.h"

void WorkLuma_sse2(uint8_t *dst, ptrdiff_t stride, const int16_t *block)
{
    const __m128i gain = _mm_set1_epi16(kWorkLumaGain);
    const __m128i round = _mm_set1_epi16(16);
    const __m128i offset = _mm_set1_epi16(kWorkLumaOffset);
    for (int j = 0; j < 8; ++j) {
        __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(block + 8 * j));
        v = _mm_add_epi16(_mm_srai_epi16(_mm_adds_epi16(_mm_mullo_epi16(v, gain), round), 5),
                          offset);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + ptrdiff_t(j) * stride),
                         _mm_packus_epi16(v, v));
    }
}

namespace {

// Luminance of the four 2 x 2 groups of block rows j, j+1, as 32-bit lanes (16-bit wrapped
// sums, sign-extended).
__m128i GroupSums(const int16_t *luma, int j)
{
    const __m128i s =
        _mm_add_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(luma + 8 * j)),
                      _mm_load_si128(reinterpret_cast<const __m128i *>(luma + 8 * j + 8)));
    const __m128i pairs = _mm_add_epi16(s, _mm_srli_epi32(s, 16));
    return _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
}

// Mean of the colour-difference samples of rows j and j+1 (four of them).
__m128i RowPairMean(const int16_t *c, int j)
{
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + 8 * j));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + 8 * j + 8));
    return _mm_srai_epi16(_mm_add_epi16(a, b), 1);
}

} // namespace

void FastColours_sse2(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb)
{
    const __m128i gain = _mm_set1_epi16(kWorkLumaGain);
    const __m128i offset = _mm_set1_epi16(kWorkLumaOffset);
    for (int half = 0; half < 2; ++half) {
        const int j = 4 * half;
        __m128i ya = _mm_srai_epi16(_mm_packs_epi32(GroupSums(luma, j), GroupSums(luma, j + 2)), 2);
        const __m128i y = _mm_add_epi16(_mm_srai_epi16(_mm_mullo_epi16(ya, gain), 5), offset);
        const __m128i crv = _mm_unpacklo_epi64(RowPairMean(cr, j), RowPairMean(cr, j + 2));
        const __m128i cbv = _mm_unpacklo_epi64(RowPairMean(cb, j), RowPairMean(cb, j + 2));
        StoreBgrx8(bgrx + 32 * half, ColoursOf8(y, crv, cbv, kFastLumaGain));
    }
}

void ExpandColours_sse2(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                        int count)
{
    for (int l = 0; l < 4; ++l) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(colours + 16 * l));
        // Repeated colours as whole pixels, four to a register, each then 12 bytes.
        __m128i r0, r1, r2 = _mm_setzero_si128();
        if (columns == 8) {
            r0 = Compact4(_mm_unpacklo_epi32(v, v));
            r1 = Compact4(_mm_unpackhi_epi32(v, v));
        } else {
            r0 = Compact4(_mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 0, 0)));
            r1 = Compact4(columns == 12 ? _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 1, 1))
                                        : _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 2, 1)));
            r2 = Compact4(columns == 12 ? _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 2))
                                        : _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3)));
        }
        const __m128i c0 = _mm_or_si128(r0, _mm_slli_si128(r1, 12));
        const __m128i c1 = _mm_or_si128(_mm_srli_si128(r1, 4), _mm_slli_si128(r2, 8));
        const __m128i c2 = _mm_srli_si128(r2, 8);
        uint8_t *line = dst + ptrdiff_t(2 * l) * lineStride;
        StoreLine(line, c0, c1, c2, 3 * count);
        StoreLine(line + lineStride, c0, c1, c2, 3 * count);
    }
}

void ConvertRowToBgrx_sse2(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth)
{
    const uint8_t *crPlane = work + width;
    const uint8_t *cbPlane = work + 2 * width;
    const __m128i zero = _mm_setzero_si128();
    // The last group takes its last odd pixel's colour from its own pair: done in C.
    int x = 0;
    for (; x + 8 < codedWidth; x += 8) {
        const __m128i y =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(work + x)), zero);
        StoreBgrx8(bgrx + 4 * x, ColoursOf8(y, UpsampleChroma4(crPlane + x),
                                            UpsampleChroma4(cbPlane + x), kLumaGain));
    }
    ConvertRowToBgrx_c(bgrx + 4 * x, work + x, width, codedWidth - x);
}

void SharpenRow_sse2(uint8_t *dst, const uint8_t *src, int pixels)
{
    const int end = 4 * (pixels - 1);
    int i = 4;
    for (; i + 16 <= end; i += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), Sharpen16(src + i));
    }
    SharpenBytes_c(dst, src, i, pixels);
}

void WidenRow2to3_sse2(uint8_t *dst, const uint8_t *src, int pixels)
{
    // Pairs 0 and the last reach past the row ends; their neighbours are the end pixels.
    WidenPairs2to3_c(dst, src, pixels, 0, 2);
    int i = 2;
    for (; i + 2 < pixels; i += 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 6 * i), WidenPair2to3(src + 4 * i));
    }
    WidenPairs2to3_c(dst, src, pixels, i, pixels);
}

void WidenRow3to4_sse2(uint8_t *dst, const uint8_t *src, int pixels, int outWidth)
{
    const int triples = WidenTriples3to4(outWidth);
    WidenTriples3to4_c(dst, src, pixels, 0, 1);
    for (int t = 1; t < triples; ++t) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16 * t), WidenTriple3to4(src + 12 * t));
    }
    WidenTail3to4_c(dst, src, pixels, outWidth);
}

void PackBgr_sse2(uint8_t *dst, const uint8_t *bgrx, int pixels)
{
    int i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m128i a =
            Compact4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bgrx + 4 * i)));
        const __m128i b =
            Compact4(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bgrx + 4 * i + 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 3 * i),
                         _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 3 * i + 16), _mm_srli_si128(b, 4));
    }
    PackBgr_c(dst + 3 * i, bgrx + 4 * i, pixels - i);
}

const CindrellKernels kCindrellKernelsSse2 = {
    "sse2",           IdctBlocksSse2,     WorkLuma_sse2,
    FastColours_sse2, ExpandColours_sse2, ConvertRowToBgrx_sse2,
    SharpenRow_sse2,  WidenRow2to3_sse2,  WidenRow3to4_sse2,
    PackBgr_sse2,
};
