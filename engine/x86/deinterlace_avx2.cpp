// Motion detector, line detector and deinterlacing blends.

#include <initializer_list>

#include "engine/x86/avx2_helpers.h"
#include "engine/x86/x86_kernels.h"

namespace {

// Steps of `step` pixels over [0, width): the last moved back to end at width, over pixels an
// earlier step made (each pixel's value depends on its own bytes only, so they come out the
// same). Returns where the C version takes over: width, or 0 for rows shorter than a step.
template <typename Step> int Steps(int width, int step, const Step &run)
{
    if (width < step) {
        return 0;
    }
    for (int x = 0;; x += step) {
        x = x + step > width ? width - step : x;
        run(x);
        if (x + step >= width) {
            return width;
        }
    }
}

void MotionRowYuv_avx2(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                       const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                       int width)
{
    const __m256i luma = _mm256_set1_epi16(0x00ff);
    const int done = Steps(width, 16, [&](int x) {
        const int i = 2 * x;
        const __m256i vp0 = _mm256_and_si256(Load256(p0 + i), luma);
        const __m256i vc0 = _mm256_and_si256(Load256(c0 + i), luma);
        const __m256i vn0 = _mm256_and_si256(Load256(n0 + i), luma);
        const __m256i vp1 = _mm256_and_si256(Load256(p1 + i), luma);
        const __m256i vc1 = _mm256_and_si256(Load256(c1 + i), luma);
        const __m256i vn1 = _mm256_and_si256(Load256(n1 + i), luma);
        const __m256i a = _mm256_sub_epi16(vc1, vn1);
        const __m256i b = _mm256_sub_epi16(vp1, vc1);
        const __m256i c = _mm256_sub_epi16(vc0, vn0);
        const __m256i d = _mm256_sub_epi16(vp0, vc0);
        // Interleaved pairs: each 32-bit lane one pixel's a^2 + b^2 (pixels 0-3 | 8-11 low,
        // 4-7 | 12-15 high).
        const __m256i abl = _mm256_unpacklo_epi16(a, b);
        const __m256i abh = _mm256_unpackhi_epi16(a, b);
        const __m256i cdl = _mm256_unpacklo_epi16(c, d);
        const __m256i cdh = _mm256_unpackhi_epi16(c, d);
        __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(abl, abl), _mm256_madd_epi16(cdl, cdl));
        __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(abh, abh), _mm256_madd_epi16(cdh, cdh));
        // Times 3 puts the luminance sum on the scale of the three RGB bytes.
        lo = _mm256_add_epi32(lo, _mm256_slli_epi32(lo, 1));
        hi = _mm256_add_epi32(hi, _mm256_slli_epi32(hi, 1));
        Store256(out + x, _mm256_permute2x128_si256(lo, hi, 0x20));
        Store256(out + x + 8, _mm256_permute2x128_si256(lo, hi, 0x31));
    });
    kKernels_c.motionRowYuv(out + done, p0 + 2 * done, c0 + 2 * done, n0 + 2 * done, p1 + 2 * done,
                            c1 + 2 * done, n1 + 2 * done, width - done);
}

// Eight 3-byte pixels at p (reading their 24 bytes only) as 16-bit lanes in pixel order, four
// pixels a 128-bit half: rg holds each pixel's {r, g}, b its {b, 0}. The squares of a difference
// then sum into each pixel's own 32-bit lane by madd alone, without a horizontal add.
void Pixels3x8(const uint8_t *p, __m256i &rg, __m256i &b)
{
    // Pixels 0..3 are bytes 0..11 of the low half (loaded from p), pixels 4..7 bytes 4..15 of
    // the high one (from p + 8). Constants stay inside the functions: a global one would run
    // AVX2 code at start-up on any processor.
    const __m256i kRg =
        _mm256_setr_epi8(0, -128, 1, -128, 3, -128, 4, -128, 6, -128, 7, -128, 9, -128, 10, -128, 4,
                         -128, 5, -128, 7, -128, 8, -128, 10, -128, 11, -128, 13, -128, 14, -128);
    const __m256i kB = _mm256_setr_epi8(2, -128, -128, -128, 5, -128, -128, -128, 8, -128, -128,
                                        -128, 11, -128, -128, -128, 6, -128, -128, -128, 9, -128,
                                        -128, -128, 12, -128, -128, -128, 15, -128, -128, -128);
    // Two broadcast loads and a blend keep the shuffle port for the two byte shuffles.
    const __m256i v = _mm256_blend_epi32(_mm256_broadcastsi128_si256(Load128(p)),
                                         _mm256_broadcastsi128_si256(Load128(p + 8)), 0xf0);
    rg = _mm256_shuffle_epi8(v, kRg);
    b = _mm256_shuffle_epi8(v, kB);
}

// Eight 3-byte pixels of two lines (reading 24 bytes of each) as Pixels3x8 gives them, but with
// the two lines' b in one vector, {b0, b1} a pixel: one madd squares and sums both.
void LinePixels3x8(const uint8_t *p0, const uint8_t *p1, __m256i &rg0, __m256i &rg1, __m256i &b01)
{
    __m256i b0, b1;
    Pixels3x8(p0, rg0, b0);
    Pixels3x8(p1, rg1, b1);
    b01 = _mm256_or_si256(b0, _mm256_slli_epi32(b1, 16));
}

// The sums of squares of a pixel's byte differences, each pixel in its 32-bit lane.
__m256i SquareSums(__m256i rg, __m256i b)
{
    return _mm256_add_epi32(_mm256_madd_epi16(rg, rg), _mm256_madd_epi16(b, b));
}

void MotionRowRgb_avx2(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                       const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                       int width)
{
    const uint8_t *const rows[6] = {p0, c0, n0, p1, c1, n1};
    const int done = Steps(width, 8, [&](int x) {
        __m256i rg[6], b[6];
        for (int r = 0; r < 6; r++) {
            Pixels3x8(rows[r] + 3 * x, rg[r], b[r]);
        }
        // Previous - current and current - next, on both lines.
        __m256i sum = _mm256_setzero_si256();
        for (int r : {0, 1, 3, 4}) {
            sum = _mm256_add_epi32(sum, SquareSums(_mm256_sub_epi16(rg[r], rg[r + 1]),
                                                   _mm256_sub_epi16(b[r], b[r + 1])));
        }
        Store256(out + x, sum);
    });
    kKernels_c.motionRowRgb(out + done, p0 + 3 * done, c0 + 3 * done, n0 + 3 * done, p1 + 3 * done,
                            c1 + 3 * done, n1 + 3 * done, width - done);
}

void GroupMotionRows_avx2(int32_t *const *out, const uint8_t *const *line0,
                          const uint8_t *const *line1, int frames, int width, bool yuv)
{
    int done = 0;
    if (yuv) {
        const __m256i luma = _mm256_set1_epi16(0x00ff);
        done = Steps(width, 16, [&](int x) {
            __m256i prev0 = _mm256_setzero_si256();
            __m256i prev1 = _mm256_setzero_si256();
            __m256i dLo = _mm256_setzero_si256();
            __m256i dHi = _mm256_setzero_si256();
            for (int j = 0; j < frames; j++) {
                const __m256i c0 = _mm256_and_si256(Load256(line0[j] + 2 * x), luma);
                const __m256i c1 = _mm256_and_si256(Load256(line1[j] + 2 * x), luma);
                if (j > 0) {
                    // Squares of the difference to the frame before, both lines, per pixel
                    // (pixels 0-3 | 8-11 low, 4-7 | 12-15 high).
                    const __m256i a = _mm256_sub_epi16(prev0, c0);
                    const __m256i b = _mm256_sub_epi16(prev1, c1);
                    const __m256i abl = _mm256_unpacklo_epi16(a, b);
                    const __m256i abh = _mm256_unpackhi_epi16(a, b);
                    const __m256i lo = _mm256_madd_epi16(abl, abl);
                    const __m256i hi = _mm256_madd_epi16(abh, abh);
                    if (j > 1) {
                        __m256i sLo = _mm256_add_epi32(dLo, lo);
                        __m256i sHi = _mm256_add_epi32(dHi, hi);
                        // Times 3 puts the luminance sum on the scale of the three RGB bytes.
                        sLo = _mm256_add_epi32(sLo, _mm256_slli_epi32(sLo, 1));
                        sHi = _mm256_add_epi32(sHi, _mm256_slli_epi32(sHi, 1));
                        Store256(out[j - 2] + x, _mm256_permute2x128_si256(sLo, sHi, 0x20));
                        Store256(out[j - 2] + x + 8, _mm256_permute2x128_si256(sLo, sHi, 0x31));
                    }
                    dLo = lo;
                    dHi = hi;
                }
                prev0 = c0;
                prev1 = c1;
            }
        });
    } else {
        done = Steps(width, 8, [&](int x) {
            __m256i prg0 = _mm256_setzero_si256(), prg1 = _mm256_setzero_si256();
            __m256i pb = _mm256_setzero_si256();
            __m256i d = _mm256_setzero_si256();
            for (int j = 0; j < frames; j++) {
                __m256i crg0, crg1, cb;
                LinePixels3x8(line0[j] + 3 * x, line1[j] + 3 * x, crg0, crg1, cb);
                if (j > 0) {
                    // Squares of the difference to the frame before, both lines, per pixel.
                    const __m256i drg0 = _mm256_sub_epi16(prg0, crg0);
                    const __m256i drg1 = _mm256_sub_epi16(prg1, crg1);
                    const __m256i db = _mm256_sub_epi16(pb, cb);
                    const __m256i cur = _mm256_add_epi32(
                        _mm256_add_epi32(_mm256_madd_epi16(drg0, drg0), _mm256_madd_epi16(drg1, drg1)),
                        _mm256_madd_epi16(db, db));
                    if (j > 1) {
                        Store256(out[j - 2] + x, _mm256_add_epi32(d, cur));
                    }
                    d = cur;
                }
                prg0 = crg0;
                prg1 = crg1;
                pb = cb;
            }
        });
    }
    GroupMotionTail(out, line0, line1, frames, width, yuv, done);
}

// The RGB line-detector samples of pixels [x, x + n): the sums of their three bytes.
void RgbSamples(int16_t *s, const uint8_t *row, int x, int n)
{
    // R, G of four pixels, and B, per 128-bit half.
    const __m256i kRedGreen =
        _mm256_setr_epi8(0, -128, 3, -128, 6, -128, 9, -128, 1, -128, 4, -128, 7, -128, 10, -128, 0,
                         -128, 3, -128, 6, -128, 9, -128, 1, -128, 4, -128, 7, -128, 10, -128);
    const __m256i kBlue = _mm256_setr_epi8(
        2, -128, 5, -128, 8, -128, 11, -128, -128, -128, -128, -128, -128, -128, -128, -128, 2,
        -128, 5, -128, 8, -128, 11, -128, -128, -128, -128, -128, -128, -128, -128, -128);
    int i = 0;
    // Eight pixels a step, reading 28 bytes: stay inside the row.
    for (; i + 10 <= n; i += 8) {
        const uint8_t *p = row + 3 * (x + i);
        const __m256i v =
            _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(p)), Load128(p + 12), 1);
        const __m256i rg = _mm256_shuffle_epi8(v, kRedGreen);
        const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(rg, _mm256_shuffle_epi8(v, kBlue)),
                                             _mm256_srli_si256(rg, 8));
        // The low 64 bits of each half are the sums of pixels 0..3 and 4..7.
        const __m256i packed = _mm256_permute4x64_epi64(sum, _MM_SHUFFLE(2, 0, 2, 0));
        Store128(s + i, _mm256_castsi256_si128(packed));
    }
    for (; i < n; i++) {
        const uint8_t *p = row + 3 * (x + i);
        s[i] = static_cast<int16_t>(p[0] + p[1] + p[2]);
    }
}

// Outputs of the RGB box sums per block, so that the samples sit on the stack.
constexpr int kBoxBlock = 256;

void LineBoxRow_avx2(int16_t *LC_RESTRICT out, const uint8_t *row, int x0, int n, bool yuv)
{
    int i = 0;
    if (yuv) {
        // Sixteen sums a step from seven overlapping loads; the last reads the luminance of
        // pixel x0 + i + 18 at most.
        if (n < 16) {
            kKernels_c.lineBoxRow(out, row, x0, n, yuv);
            return;
        }
        const __m256i luma = _mm256_set1_epi16(0x00ff);
        // The last step ends at n, over sums an earlier step may have made: the same values.
        for (;; i += 16) {
            i = MinInt(i, n - 16);
            const uint8_t *p = row + 2 * (x0 + i - 3);
            __m256i sum = _mm256_and_si256(Load256(p), luma);
            for (int j = 1; j < 7; j++) {
                sum = _mm256_add_epi16(sum, _mm256_and_si256(Load256(p + 2 * j), luma));
            }
            Store256(out + i, sum);
            if (i + 16 >= n) {
                return;
            }
        }
    }
    alignas(32) int16_t samples[kBoxBlock + 8];
    for (; i < n; i += kBoxBlock) {
        const int m = MinInt(kBoxBlock, n - i);
        RgbSamples(samples, row, x0 + i - 3, m + 6);
        int j = 0;
        for (; j + 16 <= m; j += 16) {
            __m256i sum = Load256(samples + j);
            for (int t = 1; t < 7; t++) {
                sum = _mm256_add_epi16(sum, Load256(samples + j + t));
            }
            Store256(out + i + j, sum);
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

struct WeightLanes
{
    __m256i cap, sens, top, lineCap, lineMul;
};

// Sixteen weights a step, handed to emit(i, weights of pixels i .. i + 15); the options told apart
// at compile time.
template <bool kNeutral, bool kDetector, bool kBoxes, bool kThree, typename Emit>
void WeightLoop(const WeightRowInput &in, int n, const WeightLanes &k, bool motionOnly,
                bool lineOnly, const Emit &emit)
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
    for (int i = 0;; i += 16) {
        i = MinInt(i, n - 16);
        const __m256i t = ShiftedMap16x16(motion + i);
        const __m256i m =
            kNeutral ? NeutralWeight16x16(t, k.top) : MotionWeight16x16(t, k.cap, k.sens, k.top);
        __m256i out = m;
        if (kDetector) {
            __m256i v = _mm256_setzero_si256();
            if (kBoxes) {
                const __m256i b = Load256(boxB + i);
                const __m256i d1 = _mm256_abs_epi16(_mm256_sub_epi16(Load256(boxA + i), b));
                const __m256i d2 = _mm256_abs_epi16(_mm256_sub_epi16(b, Load256(boxC + i)));
                const __m256i g = _mm256_mulhi_epu16(
                    _mm256_min_epi16(_mm256_max_epi16(d1, d2), k.lineCap), k.lineMul);
                v = _mm256_min_epi16(_mm256_add_epi16(g, g), k.top);
            }
            Store16As32(sum + i, v);
            __m256i s0 = Load256(prev + i);
            __m256i s1 = Load256(prev + i + 8);
            if (kThree) {
                s0 = _mm256_add_epi32(s0, _mm256_add_epi32(Load256(above + i), Load256(below + i)));
                s1 = _mm256_add_epi32(
                    s1, _mm256_add_epi32(Load256(above + i + 8), Load256(below + i + 8)));
            }
            // Line values are 0..255, so (s x v) fits 16 unsigned bits.
            const __m256i s = _mm256_min_epi16(Pack32To16(s0, s1), k.top);
            const __m256i line = _mm256_srli_epi16(_mm256_mullo_epi16(s, v), 8);
            if (lineOnly) {
                out = line;
            } else if (!motionOnly) {
                out = _mm256_srli_epi16(
                    _mm256_mullo_epi16(_mm256_sub_epi16(_mm256_set1_epi16(256), line), m), 8);
            }
        } else if (lineOnly) {
            out = _mm256_setzero_si256();
        }
        emit(i, out);
        if (i + 16 >= n) {
            break;
        }
    }
}

// The weight loop for what `in` holds.
template <bool kNeutral, typename Emit>
void WeightLoops(const WeightRowInput &in, int n, const WeightLanes &k, bool motionOnly,
                 bool lineOnly, const Emit &emit)
{
    if (!in.params.lineDetectorOn) {
        WeightLoop<kNeutral, false, false, false>(in, n, k, motionOnly, lineOnly, emit);
    } else if (!in.boxA) {
        if (in.above) {
            WeightLoop<kNeutral, true, false, true>(in, n, k, motionOnly, lineOnly, emit);
        } else {
            WeightLoop<kNeutral, true, false, false>(in, n, k, motionOnly, lineOnly, emit);
        }
    } else if (in.above) {
        WeightLoop<kNeutral, true, true, true>(in, n, k, motionOnly, lineOnly, emit);
    } else {
        WeightLoop<kNeutral, true, true, false>(in, n, k, motionOnly, lineOnly, emit);
    }
}

// Runs the weight loop for the options of `in` (n >= 16, a sensitivity in range).
template <typename Emit> void Weights(const WeightRowInput &in, int n, const Emit &emit)
{
    const DeinterlaceParams &p = in.params;
    WeightLanes k;
    k.cap = _mm256_set1_epi16(static_cast<int16_t>(WeightCap(p.motionSensitivity, 255)));
    k.sens = _mm256_set1_epi16(static_cast<int16_t>(p.motionSensitivity));
    k.top = _mm256_set1_epi16(255);
    // Line values: capped where 2 x (d / div) reaches 255 anyway; below the cap d / 7 and
    // d / 21 are (d x 9363) >> 16 and (d x 3121) >> 16.
    k.lineCap = _mm256_set1_epi16(p.yuv ? 128 * 7 : 128 * 21);
    k.lineMul = _mm256_set1_epi16(p.yuv ? 9363 : 3121);
    const bool motionOnly = p.showMotionMask && !p.showLineMask;
    const bool lineOnly = p.showLineMask && !p.showMotionMask;
    if (p.motionSensitivity == 50) {
        WeightLoops<true>(in, n, k, motionOnly, lineOnly, emit);
    } else {
        WeightLoops<false>(in, n, k, motionOnly, lineOnly, emit);
    }
}

// The motion weights alone (line detector off) over n >= 16 pixels: whole blocks of 32 pixels
// from pixel 0 to block32(i, weights of pixels i .. i + 15, of i + 16 .. i + 31), the rest to
// block16(i, weights) sixteen a step, the last step ending at n.
template <bool kNeutral, typename Block32, typename Block16>
void MotionWeightBlocks(const int32_t *motion, int n, const WeightLanes &k,
                        const Block32 &block32, const Block16 &block16)
{
    auto at = [&](int i) {
        const __m256i t = ShiftedMap16x16(motion + i);
        return kNeutral ? NeutralWeight16x16(t, k.top) : MotionWeight16x16(t, k.cap, k.sens, k.top);
    };
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        block32(i, at(i), at(i + 16));
    }
    for (; i < n; i += 16) {
        i = MinInt(i, n - 16);
        block16(i, at(i));
        if (i + 16 >= n) {
            break;
        }
    }
}

// The weights of what `in` holds as Weights hands them, in blocks of 32 pixels where only the
// motion weighs.
template <typename Block32, typename Block16>
void Weights32(const WeightRowInput &in, int n, const Block32 &block32, const Block16 &block16)
{
    const DeinterlaceParams &p = in.params;
    if (p.lineDetectorOn || (p.showLineMask && !p.showMotionMask)) {
        Weights(in, n, block16);
        return;
    }
    WeightLanes k;
    k.cap = _mm256_set1_epi16(static_cast<int16_t>(WeightCap(p.motionSensitivity, 255)));
    k.sens = _mm256_set1_epi16(static_cast<int16_t>(p.motionSensitivity));
    k.top = _mm256_set1_epi16(255);
    if (p.motionSensitivity == 50) {
        MotionWeightBlocks<true>(in.motion, n, k, block32, block16);
    } else {
        MotionWeightBlocks<false>(in.motion, n, k, block32, block16);
    }
}

bool PackedWeights(const WeightRowInput &in, int n)
{
    return in.params.motionSensitivity >= 0 && in.params.motionSensitivity <= 1000 && n >= 16;
}

void WeightRow_avx2(int16_t *LC_RESTRICT w, const WeightRowInput &in, int n)
{
    if (!PackedWeights(in, n)) {
        kKernels_c.weightRow(w, in, n);
        return;
    }
    Weights(in, n, [w](int i, __m256i out) { Store256(w + i, out); });
}

void FieldLine_avx2(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                    const WeightRowInput &in, int pixels, int bpp)
{
    if (!PackedWeights(in, pixels) || (bpp != 2 && bpp != 3)) {
        kKernels_c.fieldLine(row, above, below, in, pixels, bpp);
        return;
    }
    // The last step may cover pixels already rebuilt: it blends the line as it was.
    alignas(32) uint8_t last[48];
    __builtin_memcpy(last, row + bpp * (pixels - 16), 16 * bpp);
    if (bpp == 2) {
        Weights(in, pixels, [&](int i, __m256i w) {
            const __m256i w2 = _mm256_add_epi16(w, w);
            const int at = 2 * i;
            const PixelBytes avg =
                SplitPixels(AverageDown8(Load256(above + at), Load256(below + at)));
            const PixelBytes own = LoadPixels(i + 16 == pixels ? last : row + at);
            Store256(row + at,
                     JoinPixels(MixTowards(avg.lo, own.lo, w2), MixTowards(avg.hi, own.hi, w2)));
        });
        return;
    }
    // Whole blocks of 32 pixels split each 32 bytes by parity into 16-bit lanes: no byte is
    // widened by a shuffle.
    auto block32 = [&](int i, __m256i w0, __m256i w1) {
        __m256i wb[6];
        SpreadWeightsSplit3(w0, w1, wb);
        for (int k = 0; k < 3; k++) {
            const int j = 3 * i + 32 * k;
            const __m256i avg = AverageDown8(Load256(above + j), Load256(below + j));
            Store256(row + j, MixBytesTowards(avg, Load256(row + j), wb[2 * k], wb[2 * k + 1]));
        }
    };
    Weights32(in, pixels, block32, [&](int i, __m256i w) {
        __m256i wb[3];
        const int vectors = SpreadWeights2(w, bpp, wb);
        const int at = bpp * i;
        const uint8_t *own = i + 16 == pixels ? last : row + at;
        __m256i part[3];
        for (int k = 0; k < vectors; k++) {
            const __m256i avg = _mm256_srli_epi16(
                _mm256_add_epi16(Widen16(above + at + 16 * k), Widen16(below + at + 16 * k)), 1);
            part[k] = MixTowards(avg, Widen16(own + 16 * k), wb[k]);
        }
        StoreBytes(row + at, part, vectors);
    });
}

void FromFrameLines_avx2(uint8_t *const *out, const uint8_t *const *src, const WeightRowInput &in,
                         int pixels, int bpp)
{
    if (!PackedWeights(in, pixels) || (bpp != 2 && bpp != 3)) {
        kKernels_c.fromFrameLines(out, src, in, pixels, bpp);
        return;
    }
    if (bpp == 2) {
        Weights(in, pixels, [&](int i, __m256i w) {
            const __m256i w2 = _mm256_add_epi16(w, w);
            const int at = 2 * i;
            // On complements, where the filter is two byte averages (see ComplementBlur121).
            __m256i rows[4];
            for (int r = 0; r < 4; r++) {
                rows[r] = Complement(Load256(src[r] + at));
            }
            for (int t = 0; t < 2; t++) {
                const __m256i v = ComplementBlur121(rows[t], rows[t + 1], rows[t + 2]);
                Store256(out[t] + at, Complement(MixComplementsTowards(v, rows[t + 1], w2, w2)));
            }
        });
        return;
    }
    auto block32 = [&](int i, __m256i w0, __m256i w1) {
        __m256i wb[6];
        SpreadWeightsSplit3(w0, w1, wb);
        for (int k = 0; k < 3; k++) {
            const int j = 3 * i + 32 * k;
            __m256i rows[4];
            for (int r = 0; r < 4; r++) {
                rows[r] = Complement(Load256(src[r] + j));
            }
            for (int t = 0; t < 2; t++) {
                const __m256i v = ComplementBlur121(rows[t], rows[t + 1], rows[t + 2]);
                Store256(out[t] + j, Complement(MixComplementsTowards(v, rows[t + 1], wb[2 * k],
                                                                      wb[2 * k + 1])));
            }
        }
    };
    Weights32(in, pixels, block32, [&](int i, __m256i w) {
        __m256i wb[3];
        const int vectors = SpreadWeights2(w, bpp, wb);
        const int at = bpp * i;
        for (int t = 0; t < 2; t++) {
            __m256i part[3];
            for (int k = 0; k < vectors; k++) {
                const int j = at + 16 * k;
                const __m256i m = Widen16(src[t + 1] + j);
                const __m256i lp = _mm256_srli_epi16(
                    _mm256_add_epi16(_mm256_add_epi16(Widen16(src[t] + j), Widen16(src[t + 2] + j)),
                                     _mm256_add_epi16(m, m)),
                    2);
                part[k] = MixTowards(lp, m, wb[k]);
            }
            StoreBytes(out[t] + at, part, vectors);
        }
    });
}

void ExpandWeights_avx2(int16_t *LC_RESTRICT wb, const int16_t *w, int width, int bpp)
{
    int x = 0;
    if (bpp == 2) {
        for (; x + 8 <= width; x += 8) {
            const __m128i v = Load128(w + x);
            Store128(wb + 2 * x, _mm_unpacklo_epi16(v, v));
            Store128(wb + 2 * x + 8, _mm_unpackhi_epi16(v, v));
        }
        kKernels_c.expandWeights(wb + 2 * x, w + x, width - x, bpp);
        return;
    }
    if (bpp != 3) {
        kKernels_c.expandWeights(wb, w, width, bpp);
        return;
    }
    // Each of eight 16-bit weights three times: 24 lanes in three 128-bit parts.
    const __m128i kTriple0 = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 4, 5, 4, 5);
    const __m128i kTriple1 = _mm_setr_epi8(4, 5, 6, 7, 6, 7, 6, 7, 8, 9, 8, 9, 8, 9, 10, 11);
    const __m128i kTriple2 =
        _mm_setr_epi8(10, 11, 10, 11, 12, 13, 12, 13, 12, 13, 14, 15, 14, 15, 14, 15);
    for (; x + 8 <= width; x += 8) {
        const __m128i v = Load128(w + x);
        int16_t *out = wb + 3 * x;
        Store128(out, _mm_shuffle_epi8(v, kTriple0));
        Store128(out + 8, _mm_shuffle_epi8(v, kTriple1));
        Store128(out + 16, _mm_shuffle_epi8(v, kTriple2));
    }
    kKernels_c.expandWeights(wb + 3 * x, w + x, width - x, bpp);
}

void FieldBlendRow_avx2(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                        const int16_t *wb, int n)
{
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i half[2];
        for (int k = 0; k < 2; k++) {
            const int j = i + 16 * k;
            const __m256i avg =
                _mm256_srli_epi16(_mm256_add_epi16(Widen16(above + j), Widen16(below + j)), 1);
            half[k] = Mix16x16(avg, Widen16(row + j), Load256(wb + j));
        }
        Store256(row + i, PackBytes(half[0], half[1]));
    }
    kKernels_c.fieldBlendRow(row + i, above + i, below + i, wb + i, n - i);
}

void FromFrameBlendRow_avx2(uint8_t *LC_RESTRICT out, const uint8_t *up, const uint8_t *mid,
                            const uint8_t *dn, const int16_t *wb, int n)
{
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i half[2];
        for (int k = 0; k < 2; k++) {
            const int j = i + 16 * k;
            const __m256i m = Widen16(mid + j);
            const __m256i lp = _mm256_srli_epi16(
                _mm256_add_epi16(_mm256_add_epi16(Widen16(up + j), Widen16(dn + j)),
                                 _mm256_add_epi16(m, m)),
                2);
            half[k] = Mix16x16(lp, m, Load256(wb + j));
        }
        Store256(out + i, PackBytes(half[0], half[1]));
    }
    kKernels_c.fromFrameBlendRow(out + i, up + i, mid + i, dn + i, wb + i, n - i);
}

} // namespace

void FillDeinterlace_avx2(EngineKernels &k)
{
    k.motionRowRgb = MotionRowRgb_avx2;
    k.motionRowYuv = MotionRowYuv_avx2;
    k.groupMotionRows = GroupMotionRows_avx2;
    k.lineBoxRow = LineBoxRow_avx2;
    k.weightRow = WeightRow_avx2;
    k.fieldLine = FieldLine_avx2;
    k.fromFrameLines = FromFrameLines_avx2;
    k.expandWeights = ExpandWeights_avx2;
    k.fieldBlendRow = FieldBlendRow_avx2;
    k.fromFrameBlendRow = FromFrameBlendRow_avx2;
}
