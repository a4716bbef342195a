// Motion detector, line detector and deinterlacing blends.

#include "engine/x86/sse2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// Squared differences of eight 16-bit lanes, a and b interleaved so that each 32-bit result is
// one pixel's a^2 + b^2.
__m128i SquarePairsLo(__m128i a, __m128i b)
{
    const __m128i ab = _mm_unpacklo_epi16(a, b);
    return _mm_madd_epi16(ab, ab);
}

__m128i SquarePairsHi(__m128i a, __m128i b)
{
    const __m128i ab = _mm_unpackhi_epi16(a, b);
    return _mm_madd_epi16(ab, ab);
}

void MotionRowYuv_sse2(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                       const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                       int width)
{
    const __m128i luma = _mm_set1_epi16(0x00ff);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const int i = 2 * x;
        const __m128i vp0 = _mm_and_si128(Load128(p0 + i), luma);
        const __m128i vc0 = _mm_and_si128(Load128(c0 + i), luma);
        const __m128i vn0 = _mm_and_si128(Load128(n0 + i), luma);
        const __m128i vp1 = _mm_and_si128(Load128(p1 + i), luma);
        const __m128i vc1 = _mm_and_si128(Load128(c1 + i), luma);
        const __m128i vn1 = _mm_and_si128(Load128(n1 + i), luma);
        const __m128i a = _mm_sub_epi16(vc1, vn1);
        const __m128i b = _mm_sub_epi16(vp1, vc1);
        const __m128i c = _mm_sub_epi16(vc0, vn0);
        const __m128i d = _mm_sub_epi16(vp0, vc0);
        __m128i lo = _mm_add_epi32(SquarePairsLo(a, b), SquarePairsLo(c, d));
        __m128i hi = _mm_add_epi32(SquarePairsHi(a, b), SquarePairsHi(c, d));
        // Times 3 puts the luminance sum on the scale of the three RGB bytes.
        lo = _mm_add_epi32(lo, _mm_slli_epi32(lo, 1));
        hi = _mm_add_epi32(hi, _mm_slli_epi32(hi, 1));
        Store128(out + x, lo);
        Store128(out + x + 4, hi);
    }
    kKernels_c.motionRowYuv(out + x, p0 + 2 * x, c0 + 2 * x, n0 + 2 * x, p1 + 2 * x, c1 + 2 * x,
                            n1 + 2 * x, width - x);
}

// Four 3-byte pixels at p, as 16-bit lanes {r, g, b, 0} of pixels 0, 1 (lo) and 2, 3 (hi).
void Pixels3(const uint8_t *p, __m128i &lo, __m128i &hi)
{
    const __m128i v = Spread3To4(Load128(p));
    lo = _mm_unpacklo_epi8(v, _mm_setzero_si128());
    hi = _mm_unpackhi_epi8(v, _mm_setzero_si128());
}

void MotionRowRgb_sse2(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                       const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                       int width)
{
    int x = 0;
    // Each step reads 16 bytes from pixel x: 12 are its four pixels.
    for (; x + 6 <= width; x += 4) {
        const int i = 3 * x;
        __m128i pl0, ph0, cl0, ch0, nl0, nh0, pl1, ph1, cl1, ch1, nl1, nh1;
        Pixels3(p0 + i, pl0, ph0);
        Pixels3(c0 + i, cl0, ch0);
        Pixels3(n0 + i, nl0, nh0);
        Pixels3(p1 + i, pl1, ph1);
        Pixels3(c1 + i, cl1, ch1);
        Pixels3(n1 + i, nl1, nh1);
        // Per 32-bit lane {r^2 + g^2, b^2} of each pixel, summed over the four differences.
        __m128i lo = _mm_setzero_si128();
        __m128i hi = _mm_setzero_si128();
        const __m128i dl[4] = {_mm_sub_epi16(pl0, cl0), _mm_sub_epi16(cl0, nl0),
                               _mm_sub_epi16(pl1, cl1), _mm_sub_epi16(cl1, nl1)};
        const __m128i dh[4] = {_mm_sub_epi16(ph0, ch0), _mm_sub_epi16(ch0, nh0),
                               _mm_sub_epi16(ph1, ch1), _mm_sub_epi16(ch1, nh1)};
        for (int k = 0; k < 4; k++) {
            lo = _mm_add_epi32(lo, _mm_madd_epi16(dl[k], dl[k]));
            hi = _mm_add_epi32(hi, _mm_madd_epi16(dh[k], dh[k]));
        }
        Store128(out + x, PairSums32(lo, hi));
    }
    kKernels_c.motionRowRgb(out + x, p0 + 3 * x, c0 + 3 * x, n0 + 3 * x, p1 + 3 * x, c1 + 3 * x,
                            n1 + 3 * x, width - x);
}

} // namespace

void GroupMotionTail(int32_t *const *out, const uint8_t *const *line0, const uint8_t *const *line1,
                     int frames, int width, bool yuv, int x)
{
    const int bpp = yuv ? 2 : 3;
    int32_t *o[kMaxGroupFrames];
    const uint8_t *l0[kMaxGroupFrames];
    const uint8_t *l1[kMaxGroupFrames];
    for (int j = 0; j < frames; j++) {
        l0[j] = line0[j] + x * bpp;
        l1[j] = line1[j] + x * bpp;
        if (j + 2 < frames) {
            o[j] = out[j] + x;
        }
    }
    kKernels_c.groupMotionRows(o, l0, l1, frames, width - x, yuv);
}

namespace {

void GroupMotionRows_sse2(int32_t *const *out, const uint8_t *const *line0,
                          const uint8_t *const *line1, int frames, int width, bool yuv)
{
    int x = 0;
    if (yuv) {
        const __m128i luma = _mm_set1_epi16(0x00ff);
        for (; x + 8 <= width; x += 8) {
            __m128i prev0 = _mm_setzero_si128();
            __m128i prev1 = _mm_setzero_si128();
            __m128i dLo = _mm_setzero_si128();
            __m128i dHi = _mm_setzero_si128();
            for (int j = 0; j < frames; j++) {
                const __m128i c0 = _mm_and_si128(Load128(line0[j] + 2 * x), luma);
                const __m128i c1 = _mm_and_si128(Load128(line1[j] + 2 * x), luma);
                if (j > 0) {
                    // Squares of the difference to the frame before, both lines, per pixel.
                    const __m128i a = _mm_sub_epi16(prev0, c0);
                    const __m128i b = _mm_sub_epi16(prev1, c1);
                    const __m128i lo = SquarePairsLo(a, b);
                    const __m128i hi = SquarePairsHi(a, b);
                    if (j > 1) {
                        // Times 3 puts the luminance sum on the scale of the three RGB bytes.
                        const __m128i sLo = _mm_add_epi32(dLo, lo);
                        const __m128i sHi = _mm_add_epi32(dHi, hi);
                        Store128(out[j - 2] + x, _mm_add_epi32(sLo, _mm_slli_epi32(sLo, 1)));
                        Store128(out[j - 2] + x + 4, _mm_add_epi32(sHi, _mm_slli_epi32(sHi, 1)));
                    }
                    dLo = lo;
                    dHi = hi;
                }
                prev0 = c0;
                prev1 = c1;
            }
        }
    } else {
        for (; x + 6 <= width; x += 4) {
            __m128i p0l = _mm_setzero_si128(), p0h = _mm_setzero_si128();
            __m128i p1l = _mm_setzero_si128(), p1h = _mm_setzero_si128();
            __m128i d = _mm_setzero_si128();
            for (int j = 0; j < frames; j++) {
                __m128i c0l, c0h, c1l, c1h;
                Pixels3(line0[j] + 3 * x, c0l, c0h);
                Pixels3(line1[j] + 3 * x, c1l, c1h);
                if (j > 0) {
                    const __m128i a = _mm_sub_epi16(p0l, c0l);
                    const __m128i b = _mm_sub_epi16(p1l, c1l);
                    const __m128i e = _mm_sub_epi16(p0h, c0h);
                    const __m128i f = _mm_sub_epi16(p1h, c1h);
                    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(a, a), _mm_madd_epi16(b, b));
                    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(e, e), _mm_madd_epi16(f, f));
                    const __m128i cur = PairSums32(lo, hi);
                    if (j > 1) {
                        Store128(out[j - 2] + x, _mm_add_epi32(d, cur));
                    }
                    d = cur;
                }
                p0l = c0l;
                p0h = c0h;
                p1l = c1l;
                p1h = c1h;
            }
        }
    }
    GroupMotionTail(out, line0, line1, frames, width, yuv, x);
}

// The RGB line-detector samples of pixels [x, x + n): the sums of their three bytes.
void RgbSamples(int16_t *s, const uint8_t *row, int x, int n)
{
    const __m128i ones = _mm_set1_epi16(1);
    int i = 0;
    // The second load reads 28 bytes past pixel i: stay inside the row.
    for (; i + 10 <= n; i += 8) {
        __m128i a, b, c, d;
        Pixels3(row + 3 * (x + i), a, b);
        Pixels3(row + 3 * (x + i + 4), c, d);
        const __m128i lo = PairSums32(_mm_madd_epi16(a, ones), _mm_madd_epi16(b, ones));
        const __m128i hi = PairSums32(_mm_madd_epi16(c, ones), _mm_madd_epi16(d, ones));
        Store128(s + i, _mm_packs_epi32(lo, hi));
    }
    for (; i < n; i++) {
        const uint8_t *p = row + 3 * (x + i);
        s[i] = static_cast<int16_t>(p[0] + p[1] + p[2]);
    }
}

// Outputs of the RGB box sums per block, so that the samples sit on the stack.
constexpr int kBoxBlock = 256;

void LineBoxRow_sse2(int16_t *LC_RESTRICT out, const uint8_t *row, int x0, int n, bool yuv)
{
    int i = 0;
    if (yuv) {
        // Eight sums a step from seven overlapping loads; the last reads the luminance of pixel
        // x0 + i + 10 at most.
        if (n < 8) {
            kKernels_c.lineBoxRow(out, row, x0, n, yuv);
            return;
        }
        const __m128i luma = _mm_set1_epi16(0x00ff);
        // The last step ends at n, over sums an earlier step may have made: the same values.
        for (;; i += 8) {
            i = MinInt(i, n - 8);
            const uint8_t *p = row + 2 * (x0 + i - 3);
            __m128i sum = _mm_and_si128(Load128(p), luma);
            for (int j = 1; j < 7; j++) {
                sum = _mm_add_epi16(sum, _mm_and_si128(Load128(p + 2 * j), luma));
            }
            Store128(out + i, sum);
            if (i + 8 >= n) {
                return;
            }
        }
    }
    alignas(16) int16_t samples[kBoxBlock + 8];
    for (; i < n; i += kBoxBlock) {
        const int m = MinInt(kBoxBlock, n - i);
        RgbSamples(samples, row, x0 + i - 3, m + 6);
        int j = 0;
        for (; j + 8 <= m; j += 8) {
            __m128i sum = Load128(samples + j);
            for (int t = 1; t < 7; t++) {
                sum = _mm_add_epi16(sum, Load128(samples + j + t));
            }
            Store128(out + i + j, sum);
        }
        for (; j < m; j++) {
            int sum = 0;
            for (int t = 0; t < 7; t++) {
                sum += samples[j + t];
            }
            out[i + j] = static_cast<int16_t>(sum);
        }
    }
}

__m128i Abs16(__m128i v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

struct WeightLanes
{
    __m128i cap, sens, top, lineCap, lineMul;
};

// Eight weights a step; the options told apart at compile time.
template <bool kDetector, bool kBoxes, bool kThree>
void WeightLoop(int16_t *LC_RESTRICT w, const WeightRowInput &in, int n, const WeightLanes &k,
                bool motionOnly, bool lineOnly)
{
    const int32_t *motion = in.motion;
    const int16_t *boxA = in.boxA;
    const int16_t *boxB = in.boxB;
    const int16_t *boxC = in.boxC;
    const int32_t *prev = in.prev;
    const int32_t *above = in.above;
    const int32_t *below = in.below;
    int32_t *sum = in.sum;
    // The last step ends at n, over pixels an earlier step may have done: they come out the same.
    for (int i = 0;; i += 8) {
        i = MinInt(i, n - 8);
        const __m128i m = MotionWeight16(ShiftedMap16(motion + i), k.cap, k.sens, k.top);
        __m128i out = m;
        if (kDetector) {
            __m128i v = _mm_setzero_si128();
            if (kBoxes) {
                const __m128i b = Load128(boxB + i);
                const __m128i d1 = Abs16(_mm_sub_epi16(Load128(boxA + i), b));
                const __m128i d2 = Abs16(_mm_sub_epi16(b, Load128(boxC + i)));
                const __m128i g =
                    _mm_mulhi_epu16(_mm_min_epi16(_mm_max_epi16(d1, d2), k.lineCap), k.lineMul);
                v = _mm_min_epi16(_mm_add_epi16(g, g), k.top);
            }
            Store128(sum + i, _mm_unpacklo_epi16(v, _mm_setzero_si128()));
            Store128(sum + i + 4, _mm_unpackhi_epi16(v, _mm_setzero_si128()));
            __m128i s0 = Load128(prev + i);
            __m128i s1 = Load128(prev + i + 4);
            if (kThree) {
                s0 = _mm_add_epi32(s0, _mm_add_epi32(Load128(above + i), Load128(below + i)));
                s1 = _mm_add_epi32(s1,
                                   _mm_add_epi32(Load128(above + i + 4), Load128(below + i + 4)));
            }
            // Line values are 0..255, so (s x v) fits 16 unsigned bits.
            const __m128i s = _mm_min_epi16(_mm_packs_epi32(s0, s1), k.top);
            const __m128i line = _mm_srli_epi16(_mm_mullo_epi16(s, v), 8);
            if (lineOnly) {
                out = line;
            } else if (!motionOnly) {
                out =
                    _mm_srli_epi16(_mm_mullo_epi16(_mm_sub_epi16(_mm_set1_epi16(256), line), m), 8);
            }
        } else if (lineOnly) {
            out = _mm_setzero_si128();
        }
        Store128(w + i, out);
        if (i + 8 >= n) {
            break;
        }
    }
}

void WeightRow_sse2(int16_t *LC_RESTRICT w, const WeightRowInput &in, int n)
{
    const DeinterlaceParams &p = in.params;
    if (p.motionSensitivity < 0 || p.motionSensitivity > 1000 || n < 8) {
        kKernels_c.weightRow(w, in, n);
        return;
    }
    WeightLanes k;
    k.cap = _mm_set1_epi16(static_cast<int16_t>(WeightCap(p.motionSensitivity, 255)));
    k.sens = _mm_set1_epi16(static_cast<int16_t>(p.motionSensitivity));
    k.top = _mm_set1_epi16(255);
    // Line values: capped where 2 x (d / div) reaches 255 anyway; below the cap d / 7 and
    // d / 21 are (d x 9363) >> 16 and (d x 3121) >> 16.
    k.lineCap = _mm_set1_epi16(p.yuv ? 128 * 7 : 128 * 21);
    k.lineMul = _mm_set1_epi16(p.yuv ? 9363 : 3121);
    const bool motionOnly = p.showMotionMask && !p.showLineMask;
    const bool lineOnly = p.showLineMask && !p.showMotionMask;
    if (!p.lineDetectorOn) {
        WeightLoop<false, false, false>(w, in, n, k, motionOnly, lineOnly);
    } else if (!in.boxA) {
        if (in.above) {
            WeightLoop<true, false, true>(w, in, n, k, motionOnly, lineOnly);
        } else {
            WeightLoop<true, false, false>(w, in, n, k, motionOnly, lineOnly);
        }
    } else if (in.above) {
        WeightLoop<true, true, true>(w, in, n, k, motionOnly, lineOnly);
    } else {
        WeightLoop<true, true, false>(w, in, n, k, motionOnly, lineOnly);
    }
}

void ExpandWeights_sse2(int16_t *LC_RESTRICT wb, const int16_t *w, int width, int bpp)
{
    if (bpp != 2) {
        kKernels_c.expandWeights(wb, w, width, bpp);
        return;
    }
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i v = Load128(w + x);
        Store128(wb + 2 * x, _mm_unpacklo_epi16(v, v));
        Store128(wb + 2 * x + 8, _mm_unpackhi_epi16(v, v));
    }
    for (; x < width; x++) {
        wb[2 * x] = wb[2 * x + 1] = w[x];
    }
}

// (a x w + b x (256 - w)) >> 8 on 16-bit lanes; a, b <= 255 and w <= 256 keep it in 16 bits.
__m128i Mix16(__m128i a, __m128i b, __m128i w)
{
    const __m128i wb = _mm_sub_epi16(_mm_set1_epi16(256), w);
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a, w), _mm_mullo_epi16(b, wb)), 8);
}

void FieldBlendRow_sse2(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                        const int16_t *wb, int n)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = Load128(above + i);
        const __m128i b = Load128(below + i);
        const __m128i p = Load128(row + i);
        const __m128i avgLo = _mm_srli_epi16(
            _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)), 1);
        const __m128i avgHi = _mm_srli_epi16(
            _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)), 1);
        const __m128i lo = Mix16(avgLo, _mm_unpacklo_epi8(p, zero), Load128(wb + i));
        const __m128i hi = Mix16(avgHi, _mm_unpackhi_epi8(p, zero), Load128(wb + i + 8));
        Store128(row + i, _mm_packus_epi16(lo, hi));
    }
    kKernels_c.fieldBlendRow(row + i, above + i, below + i, wb + i, n - i);
}

void FromFrameBlendRow_sse2(uint8_t *LC_RESTRICT out, const uint8_t *up, const uint8_t *mid,
                            const uint8_t *dn, const int16_t *wb, int n)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i u = Load128(up + i);
        const __m128i m = Load128(mid + i);
        const __m128i d = Load128(dn + i);
        const __m128i mLo = _mm_unpacklo_epi8(m, zero);
        const __m128i mHi = _mm_unpackhi_epi8(m, zero);
        const __m128i lpLo = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(d, zero)),
                          _mm_add_epi16(mLo, mLo)),
            2);
        const __m128i lpHi = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(d, zero)),
                          _mm_add_epi16(mHi, mHi)),
            2);
        const __m128i lo = Mix16(lpLo, mLo, Load128(wb + i));
        const __m128i hi = Mix16(lpHi, mHi, Load128(wb + i + 8));
        Store128(out + i, _mm_packus_epi16(lo, hi));
    }
    kKernels_c.fromFrameBlendRow(out + i, up + i, mid + i, dn + i, wb + i, n - i);
}

// The lines from the rows above, a chunk of weights at a time.
constexpr int kLineChunk = 512;

void FieldLine_sse2(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                    const WeightRowInput &in, int pixels, int bpp)
{
    alignas(16) int16_t w[kLineChunk];
    alignas(16) int16_t wb[3 * kLineChunk];
    for (int x0 = 0; x0 < pixels; x0 += kLineChunk) {
        const int n = MinInt(kLineChunk, pixels - x0);
        const int at = bpp * x0;
        WeightRow_sse2(w, AdvanceWeightInput(in, x0), n);
        ExpandWeights_sse2(wb, w, n, bpp);
        FieldBlendRow_sse2(row + at, above + at, below + at, wb, bpp * n);
    }
}

void FromFrameLines_sse2(uint8_t *const *out, const uint8_t *const *src, const WeightRowInput &in,
                         int pixels, int bpp)
{
    alignas(16) int16_t w[kLineChunk];
    alignas(16) int16_t wb[3 * kLineChunk];
    for (int x0 = 0; x0 < pixels; x0 += kLineChunk) {
        const int n = MinInt(kLineChunk, pixels - x0);
        const int at = bpp * x0;
        WeightRow_sse2(w, AdvanceWeightInput(in, x0), n);
        ExpandWeights_sse2(wb, w, n, bpp);
        for (int t = 0; t < 2; t++) {
            FromFrameBlendRow_sse2(out[t] + at, src[t] + at, src[t + 1] + at, src[t + 2] + at, wb,
                                   bpp * n);
        }
    }
}

} // namespace

void FillDeinterlace_sse2(EngineKernels &k)
{
    k.motionRowRgb = MotionRowRgb_sse2;
    k.motionRowYuv = MotionRowYuv_sse2;
    k.groupMotionRows = GroupMotionRows_sse2;
    k.lineBoxRow = LineBoxRow_sse2;
    k.weightRow = WeightRow_sse2;
    k.fieldLine = FieldLine_sse2;
    k.fromFrameLines = FromFrameLines_sse2;
    k.expandWeights = ExpandWeights_sse2;
    k.fieldBlendRow = FieldBlendRow_sse2;
    k.fromFrameBlendRow = FromFrameBlendRow_sse2;
}
