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

// Sixteen pixels' colours, lanes holding pixels 0-7 and 8-15, as in ColoursOf8 and
// StoreBgrx8: 64 bytes of BGRX.
void StoreColours16(uint8_t *dst, __m256i y, __m256i crv, __m256i cbv, int lumaGain)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i kBlue = Pair16x(lumaGain, kCbToBlue);
    const __m256i kRed = Pair16x(lumaGain, kCrToRed);
    const __m256i kGreenY = Pair16x(lumaGain, kCrToGreen);
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
    // The unpacks below work inside each lane.
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

// Sixteen pixels of the work row at x.
void ConvertBgrx16(uint8_t *dst, const uint8_t *work, const uint8_t *cr, const uint8_t *cb)
{
    const __m256i y =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(work)));
    auto upsample = [](const uint8_t *plane) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane));
        const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i *>(plane + 2));
        const __m128i mean = _mm_srai_epi16(_mm_adds_epi16(s, n), 1);
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(s, mean)),
                                       _mm_unpackhi_epi16(s, mean), 1);
    };
    StoreColours16(dst, y, upsample(cr), upsample(cb), kLumaGain);
}

// Luminance of the four 2 x 2 groups of block rows j, j+1 (lane 0) and j+4, j+5 (lane 1), as
// 32-bit lanes (16-bit wrapped sums, sign-extended).
__m256i GroupSums2(const int16_t *luma, int j)
{
    const __m256i s =
        _mm256_add_epi16(Load2x128(reinterpret_cast<const uint8_t *>(luma + 8 * j),
                                   reinterpret_cast<const uint8_t *>(luma + 8 * j + 32)),
                         Load2x128(reinterpret_cast<const uint8_t *>(luma + 8 * j + 8),
                                   reinterpret_cast<const uint8_t *>(luma + 8 * j + 40)));
    const __m256i pairs = _mm256_add_epi16(s, _mm256_srli_epi32(s, 16));
    return _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
}

// Means of the colour-difference samples of row pairs (j, j+1) and (j+2, j+3), four each.
__m128i RowPairMeans(const int16_t *c, int j)
{
    auto mean = [c](int row) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + 8 * row));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + 8 * row + 8));
        return _mm_srai_epi16(_mm_add_epi16(a, b), 1);
    };
    return _mm_unpacklo_epi64(mean(j), mean(j + 2));
}

// Shuffles of ExpandColours: for each column count (8, 11, 12) and 16-byte piece of a line,
// the colour byte of each line byte (0x80: none).
struct ExpandMasks
{
    alignas(16) uint8_t bytes[3][3][16];
};

constexpr ExpandMasks MakeExpandMasks()
{
    constexpr uint8_t kCoded[12] = {0, 0, 1, 1, 2, 2, 3, 3};
    constexpr uint8_t kWide1080[12] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
    constexpr uint8_t kWide720[12] = {0, 0, 0, 1, 1, 2, 2, 2, 3, 3, 3};
    constexpr int kColumns[3] = {8, 11, 12};
    ExpandMasks m{};
    for (int v = 0; v < 3; ++v) {
        const uint8_t *which = v == 0 ? kCoded : v == 1 ? kWide720 : kWide1080;
        for (int i = 0; i < 48; ++i) {
            const int pixel = i / 3;
            m.bytes[v][i / 16][i % 16] =
                pixel < kColumns[v] ? uint8_t(4 * which[pixel] + i % 3) : uint8_t(0x80);
        }
    }
    return m;
}

constexpr ExpandMasks kExpandMasks = MakeExpandMasks();

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

void FastColours_avx2(uint8_t *bgrx, const int16_t *luma, const int16_t *cr, const int16_t *cb)
{
    // Lane 0 takes block rows 0-3, lane 1 rows 4-7.
    const __m256i ya =
        _mm256_srai_epi16(_mm256_packs_epi32(GroupSums2(luma, 0), GroupSums2(luma, 2)), 2);
    const __m256i y = _mm256_add_epi16(
        _mm256_srai_epi16(_mm256_mullo_epi16(ya, _mm256_set1_epi16(kWorkLumaGain)), 5),
        _mm256_set1_epi16(kWorkLumaOffset));
    const __m256i crv = _mm256_inserti128_si256(_mm256_castsi128_si256(RowPairMeans(cr, 0)),
                                                RowPairMeans(cr, 4), 1);
    const __m256i cbv = _mm256_inserti128_si256(_mm256_castsi128_si256(RowPairMeans(cb, 0)),
                                                RowPairMeans(cb, 4), 1);
    StoreColours16(bgrx, y, crv, cbv, kFastLumaGain);
}

void ExpandColours_avx2(uint8_t *dst, ptrdiff_t lineStride, const uint8_t *colours, int columns,
                        int count)
{
    const int v = columns == 8 ? 0 : columns == 11 ? 1 : 2;
    const __m128i m0 = _mm_load_si128(reinterpret_cast<const __m128i *>(kExpandMasks.bytes[v][0]));
    const __m128i m1 = _mm_load_si128(reinterpret_cast<const __m128i *>(kExpandMasks.bytes[v][1]));
    const __m128i m2 = _mm_load_si128(reinterpret_cast<const __m128i *>(kExpandMasks.bytes[v][2]));
    for (int l = 0; l < 4; ++l) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(colours + 16 * l));
        const __m128i c0 = _mm_shuffle_epi8(c, m0);
        const __m128i c1 = _mm_shuffle_epi8(c, m1);
        const __m128i c2 = _mm_shuffle_epi8(c, m2);
        uint8_t *line = dst + ptrdiff_t(2 * l) * lineStride;
        StoreLine(line, c0, c1, c2, 3 * count);
        StoreLine(line + lineStride, c0, c1, c2, 3 * count);
    }
}

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
    FastColours_avx2, ExpandColours_avx2, ConvertRowToBgrx_avx2,
    SharpenRow_avx2,  WidenRow2to3_avx2,  WidenRow3to4_avx2,
    PackBgr_avx2,
};
