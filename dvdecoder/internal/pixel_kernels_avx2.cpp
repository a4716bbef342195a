// AVX2 forms where sixteen lanes pay: colour conversion, sharpening, 3-to-4 widening and the
// 24-bit packing; the others are the SSE2 forms.
#include <immintrin.h>

#include "dvdecoder/internal/idct.h"
#include "dvdecoder/internal/pixel_kernels.h"
#include "dvdecoder/internal/pixel_kernels_x86.h"

namespace {

__m256i Pair16x(int lo, int hi)
{
    return _mm256_set1_epi32(int(uint32_t(uint16_t(lo)) | uint32_t(uint16_t(hi)) << 16));
}

__m256i Shift6Pack(__m256i lo, __m256i hi)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(lo, 6), _mm256_srai_epi32(hi, 6));
}

__m256i Load256(const uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__m256i Load2x128(const uint8_t *lo, const uint8_t *hi)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(lo))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(hi)), 1);
}

// Sixteen pixels of the work row at x, as in ColoursOf8 and StoreBgrx8.
void ConvertBgrx16(uint8_t *dst, const uint8_t *work, const uint8_t *cr, const uint8_t *cb)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i y =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(work)));
    auto upsample = [](const uint8_t *plane) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane));
        const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane + 2));
        const __m128i mean = _mm_srai_epi16(_mm_adds_epi16(s, n), 1);
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(s, mean)),
                                       _mm_unpackhi_epi16(s, mean), 1);
    };
    const __m256i crv = upsample(cr);
    const __m256i cbv = upsample(cb);
    const __m256i kBlue = Pair16x(kLumaGain, kCbToBlue);
    const __m256i kRed = Pair16x(kLumaGain, kCrToRed);
    const __m256i kGreenY = Pair16x(kLumaGain, kCrToGreen);
    const __m256i kGreenCb = Pair16x(kCbToGreen, 0);
    const __m256i ycbLo = _mm256_unpacklo_epi16(y, cbv);
    const __m256i ycbHi = _mm256_unpackhi_epi16(y, cbv);
    const __m256i ycrLo = _mm256_unpacklo_epi16(y, crv);
    const __m256i ycrHi = _mm256_unpackhi_epi16(y, crv);
    const __m256i cbLo = _mm256_unpacklo_epi16(cbv, zero);
    const __m256i cbHi = _mm256_unpackhi_epi16(cbv, zero);
    const __m256i b = Shift6Pack(_mm256_madd_epi16(ycbLo, kBlue), _mm256_madd_epi16(ycbHi, kBlue));
    const __m256i r = Shift6Pack(_mm256_madd_epi16(ycrLo, kRed), _mm256_madd_epi16(ycrHi, kRed));
    const __m256i g = Shift6Pack(
        _mm256_add_epi32(_mm256_madd_epi16(ycrLo, kGreenY), _mm256_madd_epi16(cbLo, kGreenCb)),
        _mm256_add_epi32(_mm256_madd_epi16(ycrHi, kGreenY), _mm256_madd_epi16(cbHi, kGreenCb)));
    // Lanes hold pixels 0-7 and 8-15; the unpacks below work inside each.
    const __m256i bg = _mm256_packus_epi16(b, g);
    const __m256i rx = _mm256_packus_epi16(r, zero);
    const __m256i bgi = _mm256_unpacklo_epi8(bg, _mm256_srli_si256(bg, 8));
    const __m256i rxi = _mm256_unpacklo_epi8(rx, zero);
    const __m256i lo = _mm256_unpacklo_epi16(bgi, rxi);
    const __m256i hi = _mm256_unpackhi_epi16(bgi, rxi);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 32),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
}

__m256i SharpenHalf(__m256i c, __m256i l, __m256i r)
{
    const __m256i v =
        _mm256_sub_epi16(_mm256_sub_epi16(_mm256_mullo_epi16(c, _mm256_set1_epi16(18)), l), r);
    return _mm256_srai_epi16(v, 4);
}

__m256i Taps16(int first, int second)
{
    const __m128i t = _mm_set_epi16(short(second), short(second), short(second), short(second),
                                    short(first), short(first), short(first), short(first));
    return _mm256_broadcastsi128_si256(t);
}

} // namespace

void ConvertRowToBgrx_avx2(uint8_t *bgrx, const uint8_t *work, int width, int codedWidth)
{
    // The last group takes its last odd pixel's colour from its own pair: done in C.
    int x = 0;
    for (; x + 16 < codedWidth; x += 16) {
        ConvertBgrx16(bgrx + 4 * x, work + x, work + width + x, work + 2 * width + x);
    }
    ConvertRowToBgrx_c(bgrx + 4 * x, work + x, width, codedWidth - x);
}

void SharpenRow_avx2(uint8_t *dst, const uint8_t *src, int pixels)
{
    const __m256i zero = _mm256_setzero_si256();
    const int end = 4 * (pixels - 1);
    int i = 4;
    for (; i + 32 <= end; i += 32) {
        const __m256i c = Load256(src + i);
        const __m256i l = Load256(src + i - 4);
        const __m256i r = Load256(src + i + 4);
        const __m256i lo = SharpenHalf(_mm256_unpacklo_epi8(c, zero), _mm256_unpacklo_epi8(l, zero),
                                       _mm256_unpacklo_epi8(r, zero));
        const __m256i hi = SharpenHalf(_mm256_unpackhi_epi8(c, zero), _mm256_unpackhi_epi8(l, zero),
                                       _mm256_unpackhi_epi8(r, zero));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), _mm256_packus_epi16(lo, hi));
    }
    SharpenBytes_c(dst, src, i, pixels);
}

void WidenRow2to3_avx2(uint8_t *dst, const uint8_t *src, int pixels)
{
    const __m256i zero = _mm256_setzero_si256();
    // Pairs 0 and the last reach past the row ends; their neighbours are the end pixels.
    WidenPairs2to3_c(dst, src, pixels, 0, 2);
    int i = 2;
    // Two pairs a step, one in each lane; each lane's spare pixel is overwritten by the next.
    for (; i + 4 < pixels; i += 4) {
        const uint8_t *p = src + 4 * i;
        const __m256i x = Load2x128(p - 4, p + 4);
        const __m256i xs = Load2x128(p, p + 8);
        const __m256i am = _mm256_srli_epi16(
            _mm256_add_epi16(
                _mm256_add_epi16(
                    _mm256_mullo_epi16(_mm256_unpacklo_epi8(x, zero), Taps16(11, 32)),
                    _mm256_mullo_epi16(_mm256_unpacklo_epi8(xs, zero), Taps16(53, 32))),
                Taps16(0, 32)),
            6);
        const __m256i cc = _mm256_srli_epi16(
            _mm256_add_epi16(
                _mm256_mullo_epi16(_mm256_unpackhi_epi8(x, zero), _mm256_set1_epi16(53)),
                _mm256_mullo_epi16(_mm256_unpackhi_epi8(xs, zero), _mm256_set1_epi16(11))),
            6);
        const __m256i out = _mm256_packus_epi16(am, cc);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 6 * i), _mm256_castsi256_si128(out));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 6 * i + 12),
                         _mm256_extracti128_si256(out, 1));
    }
    for (; i + 2 < pixels; i += 2) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 6 * i), WidenPair2to3(src + 4 * i));
    }
    WidenPairs2to3_c(dst, src, pixels, i, pixels);
}

void WidenRow3to4_avx2(uint8_t *dst, const uint8_t *src, int pixels, int outWidth)
{
    const __m256i zero = _mm256_setzero_si256();
    const int triples = WidenTriples3to4(outWidth);
    WidenTriples3to4_c(dst, src, pixels, 0, 1);
    int t = 1;
    // Two triples a step, one in each lane.
    for (; t + 2 <= triples; t += 2) {
        const uint8_t *p = src + 12 * t;
        const __m256i x = Load2x128(p - 4, p + 8);
        const __m256i y = Load2x128(p, p + 12);
        const __m256i lo = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(x, zero), Taps16(1, 3)),
                             _mm256_mullo_epi16(_mm256_unpacklo_epi8(y, zero), Taps16(7, 5))),
            3);
        const __m256i hi = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(x, zero), Taps16(5, 7)),
                             _mm256_mullo_epi16(_mm256_unpackhi_epi8(y, zero), Taps16(3, 1))),
            3);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + 16 * t), _mm256_packus_epi16(lo, hi));
    }
    for (; t < triples; ++t) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16 * t), WidenTriple3to4(src + 12 * t));
    }
    WidenTail3to4_c(dst, src, pixels, outWidth);
}

void PackBgr_avx2(uint8_t *dst, const uint8_t *bgrx, int pixels)
{
    const __m256i drop = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                          1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m256i v =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(Load256(bgrx + 4 * i), drop), join);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 3 * i), _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 3 * i + 16),
                         _mm256_extracti128_si256(v, 1));
    }
    PackBgr_c(dst + 3 * i, bgrx + 4 * i, pixels - i);
}

const CindrellKernels kCindrellKernelsAvx2 = {
    "avx2",           IdctBlocksAvx2,     WorkLuma_sse2,
    FastColours_sse2, ExpandColours_sse2, ConvertRowToBgrx_avx2,
    SharpenRow_avx2,  WidenRow2to3_avx2,  WidenRow3to4_avx2,
    PackBgr_avx2,
};
