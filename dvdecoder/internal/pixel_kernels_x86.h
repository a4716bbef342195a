#pragma once

// Lane helpers shared by the SSE2 and AVX2 kernel files. Internal linkage: each file compiles
// its own copy with its own instruction set.
#include <cstdint>
#include <cstring>

#include <emmintrin.h>

#include "dvdecoder/internal/pixel_kernels.h"

namespace {

// Blue, green and red of eight pixels as 16-bit lanes, not yet clamped to bytes.
struct Bgr8
{
    __m128i b, g, r;
};

inline __m128i Pair16(int lo, int hi)
{
    return _mm_set1_epi32(int(uint32_t(uint16_t(lo)) | uint32_t(uint16_t(hi)) << 16));
}

inline __m128i Shift6Pack(__m128i lo, __m128i hi)
{
    return _mm_packs_epi32(_mm_srai_epi32(lo, 6), _mm_srai_epi32(hi, 6));
}

// Exact 32-bit sums by multiply-add, shifted and saturated: the C forms' clamp in lanes.
inline Bgr8 ColoursOf8(__m128i y, __m128i cr, __m128i cb, int lumaGain)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i kBlue = Pair16(lumaGain, kCbToBlue);
    const __m128i kRed = Pair16(lumaGain, kCrToRed);
    const __m128i kGreenY = Pair16(lumaGain, kCrToGreen);
    const __m128i kGreenCb = Pair16(kCbToGreen, 0);
    const __m128i ycbLo = _mm_unpacklo_epi16(y, cb);
    const __m128i ycbHi = _mm_unpackhi_epi16(y, cb);
    const __m128i ycrLo = _mm_unpacklo_epi16(y, cr);
    const __m128i ycrHi = _mm_unpackhi_epi16(y, cr);
    const __m128i cbLo = _mm_unpacklo_epi16(cb, zero);
    const __m128i cbHi = _mm_unpackhi_epi16(cb, zero);
    Bgr8 c;
    c.b = Shift6Pack(_mm_madd_epi16(ycbLo, kBlue), _mm_madd_epi16(ycbHi, kBlue));
    c.r = Shift6Pack(_mm_madd_epi16(ycrLo, kRed), _mm_madd_epi16(ycrHi, kRed));
    c.g = Shift6Pack(_mm_add_epi32(_mm_madd_epi16(ycrLo, kGreenY), _mm_madd_epi16(cbLo, kGreenCb)),
                     _mm_add_epi32(_mm_madd_epi16(ycrHi, kGreenY), _mm_madd_epi16(cbHi, kGreenCb)));
    return c;
}

// Eight pixels clamped to bytes and stored as BGRX (32 bytes).
inline void StoreBgrx8(uint8_t *dst, const Bgr8 &c)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bg = _mm_packus_epi16(c.b, c.g);
    const __m128i rx = _mm_packus_epi16(c.r, zero);
    const __m128i bgi = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));
    const __m128i rxi = _mm_unpacklo_epi8(rx, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm_unpacklo_epi16(bgi, rxi));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), _mm_unpackhi_epi16(bgi, rxi));
}

// Four colour-difference samples at plane (one per pixel pair) to eight pixels: the odd pixel
// takes the mean of its pair's sample and the next (saturating add).
inline __m128i UpsampleChroma4(const uint8_t *plane)
{
    const __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(plane));
    const __m128i n = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(plane + 2));
    return _mm_unpacklo_epi16(s, _mm_srai_epi16(_mm_adds_epi16(s, n), 1));
}

inline __m128i SharpenHalf(__m128i c, __m128i l, __m128i r)
{
    const __m128i v = _mm_sub_epi16(_mm_sub_epi16(_mm_mullo_epi16(c, _mm_set1_epi16(18)), l), r);
    return _mm_srai_epi16(v, 4);
}

// Sixteen sharpened bytes at p (neighbours 4 bytes, one pixel, either side).
inline __m128i Sharpen16(const uint8_t *p)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - 4));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 4));
    const __m128i lo = SharpenHalf(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(l, zero),
                                   _mm_unpacklo_epi8(r, zero));
    const __m128i hi = SharpenHalf(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(l, zero),
                                   _mm_unpackhi_epi8(r, zero));
    return _mm_packus_epi16(lo, hi);
}

inline __m128i Taps(int first, int second)
{
    return _mm_set_epi16(short(second), short(second), short(second), short(second), short(first),
                         short(first), short(first), short(first));
}

// The three outputs of the input pair at p (pixels p[0], p[1]; p[-1] and p[2..3] are read) and
// one spare pixel the next pair overwrites.
inline __m128i WidenPair2to3(const uint8_t *p)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - 4));
    const __m128i xs = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i am = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), Taps(11, 32)),
                                    _mm_mullo_epi16(_mm_unpacklo_epi8(xs, zero), Taps(53, 32))),
                      Taps(0, 32)),
        6);
    const __m128i cc = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), _mm_set1_epi16(53)),
                      _mm_mullo_epi16(_mm_unpackhi_epi8(xs, zero), _mm_set1_epi16(11))),
        6);
    return _mm_packus_epi16(am, cc);
}

// The four outputs of the input triple at p (p[-1] .. p[3] are read).
inline __m128i WidenTriple3to4(const uint8_t *p)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p - 4));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i lo =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), Taps(1, 3)),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(y, zero), Taps(7, 5))),
                       3);
    const __m128i hi =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), Taps(5, 7)),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(y, zero), Taps(3, 1))),
                       3);
    return _mm_packus_epi16(lo, hi);
}

// Four BGRX pixels to 12 BGR bytes at the bottom of the register, the rest zero.
inline __m128i Compact4(__m128i v)
{
    const __m128i low3 = _mm_set1_epi64x(0x0000000000ffffffLL);
    const __m128i next3 = _mm_set1_epi64x(0x0000ffffff000000LL);
    const __m128i six = _mm_set_epi32(0, 0, 0x0000ffff, -1);
    const __m128i t =
        _mm_or_si128(_mm_and_si128(v, low3), _mm_and_si128(_mm_srli_epi64(v, 8), next3));
    return _mm_or_si128(_mm_and_si128(t, six), _mm_andnot_si128(six, _mm_srli_si128(t, 2)));
}

// The low n (0 to 8) bytes of v at dst.
inline void StoreLowBytes(uint8_t *dst, uint64_t v, int n)
{
    if (n >= 4) {
        const uint32_t w = uint32_t(v);
        std::memcpy(dst, &w, 4);
        dst += 4;
        v >>= 32;
        n -= 4;
    }
    if (n >= 2) {
        const uint16_t h = uint16_t(v);
        std::memcpy(dst, &h, 2);
        dst += 2;
        v >>= 16;
        n -= 2;
    }
    if (n >= 1) {
        *dst = uint8_t(v);
    }
}

// Exactly `bytes` (24 to 36) of the 48 in c0, c1, c2.
inline void StoreLine(uint8_t *dst, __m128i c0, __m128i c1, __m128i c2, int bytes)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), c0);
    if (bytes >= 32) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16), c1);
        StoreLowBytes(dst + 32, uint64_t(uint32_t(_mm_cvtsi128_si32(c2))), bytes - 32);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 16), c1);
        StoreLowBytes(dst + 24, uint64_t(_mm_cvtsi128_si64(_mm_srli_si128(c1, 8))), bytes - 24);
    }
}

} // namespace
