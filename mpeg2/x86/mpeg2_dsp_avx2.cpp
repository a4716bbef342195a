// AVX2 versions of the MPEG-2 kernels where 256 bits pay; each gives the bytes of its C version.
// Only intrinsics and plain code here: an inline function of a library header built in this
// file could be taken by the linker for the other files too.
#include <immintrin.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/x86/mpeg2_dsp_x86.h"

namespace {

inline __m256i Pair(int16_t a, int16_t b)
{
    return _mm256_set1_epi32(int32_t(uint16_t(a)) | int32_t(uint32_t(uint16_t(b)) << 16));
}

inline __m256i Load256(const void *p)
{
    return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}

inline void Store256(void *p, __m256i v)
{
    _mm256_storeu_si256(static_cast<__m256i *>(p), v);
}

struct Ops
{
    using V = __m256i;
    static V Pair(int16_t a, int16_t b) { return ::Pair(a, b); }
    static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Add(V a, V b) { return _mm256_add_epi32(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
    static V Set32(int v) { return _mm256_set1_epi32(v); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    static V MulLo16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static V MulHiU16(V a, V b) { return _mm256_mulhi_epu16(a, b); }
    template <int N> static V Srai(V v) { return _mm256_srai_epi32(v, N); }
    template <int N> static V Slli(V v) { return _mm256_slli_epi32(v, N); }
    template <int N> static V Srli(V v) { return _mm256_srli_epi32(v, N); }
};

// One pass over eight lines: c[k] holds coefficient k of each line; lines 0..3 go to the low
// half of every 256-bit register, 4..7 to the high half.
template <bool Column> inline void IdctFullPass(const __m128i c[8], __m256i out[8])
{
    auto pairs = [](__m128i a, __m128i b) {
        return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
    };
    IdctPass<Ops, Column>(pairs(c[1], c[7]), pairs(c[5], c[3]), pairs(c[2], c[6]),
                          pairs(c[0], c[4]), out);
}

// Outputs n and n + 1 of eight lines as 16-bit values (saturated), one 128-bit half each.
inline __m256i PackTwo(__m256i a, __m256i b)
{
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xd8);
}

inline __m256i Low16(__m256i v)
{
    return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16);
}

void IdctAvx2(int16_t *block)
{
    __m128i r[8];
    for (int i = 0; i < 8; ++i) {
        r[i] = Load(block + 8 * i);
    }
    Transpose8x8(r);
    __m256i o[8];
    IdctFullPass<false>(r, o);
    for (int n = 0; n < 8; n += 2) {
        // The low 16 bits, as the C version's conversion to int16_t keeps them.
        const __m256i v = PackTwo(Low16(o[n]), Low16(o[n + 1]));
        r[n] = _mm256_castsi256_si128(v);
        r[n + 1] = _mm256_extracti128_si256(v, 1);
    }
    Transpose8x8(r);
    IdctFullPass<true>(r, o);
    const __m256i low = _mm256_set1_epi16(-256);
    const __m256i high = _mm256_set1_epi16(255);
    for (int n = 0; n < 8; n += 2) {
        const __m256i v = PackTwo(o[n], o[n + 1]);
        Store256(block + 8 * n, _mm256_min_epi16(_mm256_max_epi16(v, low), high));
    }
}

// --- prediction: sixteen-sample rows in 16-bit lanes ---

inline __m256i Widen16(const uint8_t *p)
{
    return _mm256_cvtepu8_epi16(Load(p));
}

inline __m128i Narrow16(__m256i v)
{
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08));
}

// The kernels with 16-bit arithmetic; the others are byte averages, as fast in SSE2.
template <bool Average, bool Xh, bool Yh>
void PredictAvx2(uint8_t *dst, ptrdiff_t dstStride, const uint8_t *src, ptrdiff_t srcStride, int w,
                 int h)
{
    if (w != 16) {
        PredictSse2<Average, Xh, Yh>(dst, dstStride, src, srcStride, w, h);
        return;
    }
    if (Xh && Yh) {
        // Each row's horizontal pair sums serve two output rows.
        __m256i top = _mm256_add_epi16(Widen16(src), Widen16(src + 1));
        for (int y = 0; y < h; ++y, src += srcStride, dst += dstStride) {
            const uint8_t *next = src + srcStride;
            const __m256i bottom = _mm256_add_epi16(Widen16(next), Widen16(next + 1));
            __m256i s = _mm256_add_epi16(top, bottom);
            if (Average) {
                s = _mm256_add_epi16(s, _mm256_slli_epi16(Widen16(dst), 2));
                s = _mm256_srli_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(6)), 3);
            } else {
                s = _mm256_srli_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(2)), 2);
            }
            Store(dst, Narrow16(s));
            top = bottom;
        }
        return;
    }
    // Average with one half-sample flag: (a + b + 2p + 3) >> 2.
    for (int y = 0; y < h; ++y, src += srcStride, dst += dstStride) {
        __m256i s = _mm256_add_epi16(Widen16(src), Widen16(Xh ? src + 1 : src + srcStride));
        s = _mm256_add_epi16(s, _mm256_slli_epi16(Widen16(dst), 1));
        Store(dst, Narrow16(_mm256_srli_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(3)), 2)));
    }
}

// --- chroma upsampling ---

void BlendRowsAvx2(uint8_t *out, const uint8_t *a, const uint8_t *b, int n, int wa, int wb,
                   int shift)
{
    // Byte pairs (a, b) times (wa, wb), summed into 16 bits: at most 8 x 255, no saturation.
    const __m256i weights = _mm256_set1_epi16(int16_t(wa | wb << 8));
    const __m256i round = _mm256_set1_epi16(int16_t(1 << (shift - 1)));
    const __m128i count = _mm_cvtsi32_si128(shift);
    int x = 0;
    for (; x + 32 <= n; x += 32) {
        const __m256i va = Load256(a + x);
        const __m256i vb = Load256(b + x);
        auto half = [&](__m256i pairs) {
            return _mm256_srl_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(pairs, weights), round),
                                    count);
        };
        const __m256i lo = half(_mm256_unpacklo_epi8(va, vb));
        const __m256i hi = half(_mm256_unpackhi_epi8(va, vb));
        Store256(out + x, _mm256_packus_epi16(lo, hi));
    }
    if (x < n) {
        kMpeg2DspC.blendRows(out + x, a + x, b + x, n - x, wa, wb, shift);
    }
}

void UpsampleRowAvx2(const uint8_t *c, uint8_t *out, int w)
{
    const int interpolated = w > 8 ? w - 8 : 0;
    int i = 0;
    // c[i + 32] is read: it lies below interpolated, inside the line.
    for (; i + 32 <= interpolated; i += 32) {
        const __m256i v = Load256(c + i);
        const __m256i mid = _mm256_avg_epu8(v, Load256(c + i + 1));
        const __m256i lo = _mm256_unpacklo_epi8(v, mid); // samples 0..7 and 16..23
        const __m256i hi = _mm256_unpackhi_epi8(v, mid); // 8..15 and 24..31
        Store256(out + 2 * i, _mm256_permute2x128_si256(lo, hi, 0x20));
        Store256(out + 2 * i + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    UpsampleRowFrom(c, out, w, i);
}

// --- colour conversion, sixteen pixels a step ---

// The factors as the lanes take them, and the shuffles that lay B, G, R out as bytes.
struct ColourLanes
{
    explicit ColourLanes(const YuvToRgbFactors &k)
        : offset(_mm256_set1_epi16(k.lumaOffset))
        , kl(Pair(k.lumaScale, 4096))
        , kb(Pair(k.cbToBlue, 0))
        , kg(Pair(k.cbToGreen, k.crToGreen))
        , kr(Pair(0, k.crToRed))
    {}
    __m256i offset;
    __m256i half = _mm256_set1_epi16(128);
    __m256i one = _mm256_set1_epi16(1);
    __m256i kl, kb, kg, kr;
    // Within each 128-bit half: B0..B7 G0..G7 and R0..R7 (twice) to 24 bytes of B, G, R.
    __m256i bgToFirst = _mm256_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5, 0,
                                         8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
    __m256i rToFirst = _mm256_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1,
                                        -1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    __m256i bgToSecond =
        _mm256_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, 13, -1, 6,
                         14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    __m256i rToSecond =
        _mm256_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1, -1, 5, -1, -1,
                         6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
};

// B, G, R of 16 pixels as 16-bit lanes, in the order of their luma (less the offset) and chroma
// lanes.
struct Channels16
{
    __m256i b, g, r;
};

inline Channels16 ConvertLanes(const ColourLanes &c, __m256i yy, __m256i cb, __m256i cr)
{
    // Lanes 0..3 of each half in l0, 4..7 in l1; the packs put them back in order.
    const __m256i l0 = _mm256_madd_epi16(_mm256_unpacklo_epi16(yy, c.one), c.kl);
    const __m256i l1 = _mm256_madd_epi16(_mm256_unpackhi_epi16(yy, c.one), c.kl);
    const __m256i uu = _mm256_sub_epi16(cb, c.half);
    const __m256i vv = _mm256_sub_epi16(cr, c.half);
    const __m256i uv0 = _mm256_unpacklo_epi16(uu, vv);
    const __m256i uv1 = _mm256_unpackhi_epi16(uu, vv);
    auto channel = [&](__m256i kc) {
        const __m256i c0 = _mm256_srai_epi32(_mm256_add_epi32(l0, _mm256_madd_epi16(uv0, kc)), 13);
        const __m256i c1 = _mm256_srai_epi32(_mm256_add_epi32(l1, _mm256_madd_epi16(uv1, kc)), 13);
        return _mm256_packs_epi32(c0, c1);
    };
    return {channel(c.kb), channel(c.kg), channel(c.kr)};
}

// Sixteen pixels from their luma, Cb and Cr bytes to 48 bytes of B, G, R.
inline void Convert16(const ColourLanes &c, __m128i y, __m128i cb, __m128i cr, uint8_t *o)
{
    const __m256i yy = _mm256_sub_epi16(_mm256_cvtepu8_epi16(y), c.offset);
    const Channels16 p = ConvertLanes(c, yy, _mm256_cvtepu8_epi16(cb), _mm256_cvtepu8_epi16(cr));
    const __m256i bg = _mm256_packus_epi16(p.b, p.g);
    const __m256i rr = _mm256_packus_epi16(p.r, p.r);
    const __m256i first =
        _mm256_or_si256(_mm256_shuffle_epi8(bg, c.bgToFirst), _mm256_shuffle_epi8(rr, c.rToFirst));
    const __m256i second = _mm256_or_si256(_mm256_shuffle_epi8(bg, c.bgToSecond),
                                           _mm256_shuffle_epi8(rr, c.rToSecond));
    // 48 bytes: first (16) and second (8) of pixels 0..7, then of 8..15. Plain stores: the
    // frame is read again soon (the writers, the preview), and streaming it past the cache
    // costs more than it saves.
    const __m128i first1 = _mm256_extracti128_si256(first, 1);
    const __m128i second1 = _mm256_extracti128_si256(second, 1);
    Store(o, _mm256_castsi256_si128(first));
    Store(o + 16, _mm_unpacklo_epi64(_mm256_castsi256_si128(second), first1));
    Store(o + 32,
          _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(first1), _mm_castsi128_pd(second1), 1)));
}

void YuvToRgbRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                     int width, const YuvToRgbFactors &k)
{
    const ColourLanes c(k);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        Convert16(c, Load(y + x), Load(cb + x), Load(cr + x), bgr + 3 * x);
    }
    if (x < width) {
        kMpeg2DspC.yuvToRgbRow(y + x, cb + x, cr + x, bgr + 3 * x, width - x, k);
    }
}

// Byte shuffles that lay 16 pixels of B, G, R out as 48 bytes, in three chunks of 16: for chunk
// k and channel ch, the bytes of that channel in the chunk, -1 elsewhere; the same in both
// 128-bit halves. In each channel's bytes the even pixels come first, then the odd ones: pixel j
// is at byte j / 2, or 8 + j / 2 when j is odd.
struct SplitLayoutTable
{
    alignas(32) int8_t m[3][3][32];
};
constexpr SplitLayoutTable MakeSplitLayout()
{
    SplitLayoutTable table{};
    for (int chunk = 0; chunk < 3; chunk++) {
        for (int q = 0; q < 32; q++) {
            const int t = 16 * chunk + q % 16;
            const int j = t / 3;
            for (int ch = 0; ch < 3; ch++) {
                table.m[chunk][ch][q] = int8_t(t % 3 != ch ? -1 : j % 2 == 0 ? j / 2 : 8 + j / 2);
            }
        }
    }
    return table;
}
constexpr SplitLayoutTable kSplitLayout = MakeSplitLayout();

// 32 pixels from x (even) with their 16 chroma samples from x / 2: odd pixels take the mean of
// their sample and the next, but for the last 8 samples of the line, which they repeat. Luma
// and chroma go through the arithmetic split by parity, even pixels apart from odd ones, which
// needs fewer shuffles than widening them in pixel order.
inline void Convert32Widened(const ColourLanes &c, const uint8_t *y, const uint8_t *cb,
                             const uint8_t *cr, uint8_t *bgr, int x, int chromaWidth)
{
    const int i = x / 2;
    const __m128i u = Load(cb + i);
    const __m128i v = Load(cr + i);
    __m128i um, vm;
    if (i + 24 <= chromaWidth) {
        // Every sample interpolates, and the next ones lie inside the line.
        um = _mm_avg_epu8(u, Load(cb + i + 1));
        vm = _mm_avg_epu8(v, Load(cr + i + 1));
    } else {
        const bool inside = i + 17 <= chromaWidth;
        const __m128i un = inside ? Load(cb + i + 1) : _mm_srli_si128(u, 1);
        const __m128i vn = inside ? Load(cr + i + 1) : _mm_srli_si128(v, 1);
        const __m128i lane = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        // Lanes from `interpolated` on repeat their sample (0..16 lanes interpolate).
        int interpolated = chromaWidth - 8 - i;
        interpolated = interpolated < 0 ? 0 : interpolated > 16 ? 16 : interpolated;
        const __m128i repeat = _mm_cmpgt_epi8(lane, _mm_set1_epi8(int8_t(interpolated - 1)));
        um = _mm_blendv_epi8(_mm_avg_epu8(u, un), u, repeat);
        vm = _mm_blendv_epi8(_mm_avg_epu8(v, vn), v, repeat);
    }
    // Each 128-bit half holds 16 pixels: even pixels in the 16-bit lanes of one register, odd
    // ones in the other, in the same order as the chroma samples widened to 16 bits.
    const __m256i luma = Load256(y + x);
    const __m256i lowByte = _mm256_set1_epi16(0x00ff);
    const __m256i yEven = _mm256_sub_epi16(_mm256_and_si256(luma, lowByte), c.offset);
    const __m256i yOdd = _mm256_sub_epi16(_mm256_srli_epi16(luma, 8), c.offset);
    const Channels16 even =
        ConvertLanes(c, yEven, _mm256_cvtepu8_epi16(u), _mm256_cvtepu8_epi16(v));
    const Channels16 odd =
        ConvertLanes(c, yOdd, _mm256_cvtepu8_epi16(um), _mm256_cvtepu8_epi16(vm));
    const __m256i b = _mm256_packus_epi16(even.b, odd.b);
    const __m256i g = _mm256_packus_epi16(even.g, odd.g);
    const __m256i r = _mm256_packus_epi16(even.r, odd.r);
    __m256i chunk[3];
    for (int k = 0; k < 3; k++) {
        const auto &m = kSplitLayout.m[k];
        chunk[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, Load256(m[0])),
                                                   _mm256_shuffle_epi8(g, Load256(m[1]))),
                                   _mm256_shuffle_epi8(r, Load256(m[2])));
    }
    // Low halves: pixels x .. x + 15, high halves: the next 16.
    uint8_t *o = bgr + 3 * x;
    Store256(o, _mm256_permute2x128_si256(chunk[0], chunk[1], 0x20));
    Store256(o + 32, _mm256_permute2x128_si256(chunk[2], chunk[0], 0x30));
    Store256(o + 64, _mm256_permute2x128_si256(chunk[1], chunk[2], 0x31));
}

void Yuv422ToRgbRowAvx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr, uint8_t *bgr,
                        int width, int chromaWidth, const YuvToRgbFactors &k)
{
    if (width < 32) {
        Yuv422ToRgbRowFrom(y, cb, cr, bgr, width, chromaWidth, k, 0);
        return;
    }
    const ColourLanes c(k);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        Convert32Widened(c, y, cb, cr, bgr, x, chromaWidth);
    }
    if (x < width) {
        // The last 32 pixels from an even one again; an odd width's last pixel on its own.
        x = (width - 32) & ~1;
        Convert32Widened(c, y, cb, cr, bgr, x, chromaWidth);
        Yuv422ToRgbRowFrom(y, cb, cr, bgr, width, chromaWidth, k, x + 32);
    }
}

} // namespace

const Mpeg2Dsp kMpeg2DspAvx2 = {
    IdctAvx2,
    {PredictSse2<false, false, false>, PredictSse2<false, false, true>,
     PredictSse2<false, true, false>, PredictAvx2<false, true, true>,
     PredictSse2<true, false, false>, PredictAvx2<true, false, true>,
     PredictAvx2<true, true, false>, PredictAvx2<true, true, true>},
    AddBlockSse2,
    PutIntraBlockSse2,
    AddBlockDcSse2,
    BlendRowsAvx2,
    UpsampleRowAvx2,
    YuvToRgbRowAvx2,
    Yuv422ToRgbRowAvx2,
};
