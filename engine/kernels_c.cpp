// The reference row primitives: plain C, one element at a time.

#include <algorithm>
#include <cstdlib>

#include "engine/internal/kernels.h"
#include "platform/sys/random.h"

namespace {

uint8_t ClampByte(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Rows of the flicker table: above, centre, below, divisor.
constexpr int kFlickerTable[5][4] = {
    {0, 1, 0, 1}, {1, 4, 1, 6}, {1, 3, 1, 5}, {1, 2, 1, 4}, {2, 3, 2, 7},
};

void LerpRow_c(uint8_t *LC_RESTRICT out, const uint8_t *s0, const uint8_t *s1, int n, int f, int d)
{
    for (int i = 0; i < n; i++) {
        out[i] = static_cast<uint8_t>(s0[i] + ((s1[i] - s0[i]) * f) / d);
    }
}

int64_t SqDiffBytes_c(const uint8_t *a, const uint8_t *b, int n)
{
    int64_t sum = 0;
    for (int i = 0; i < n; i++) {
        const int d = a[i] - b[i];
        sum += d * d;
    }
    return sum;
}

int64_t SqDiffLuma_c(const uint8_t *a, const uint8_t *b, int pixels)
{
    int64_t sum = 0;
    for (int x = 0; x < pixels; x++) {
        const int d = a[2 * x] - b[2 * x];
        sum += d * d;
    }
    return sum;
}

void MotionRowRgb_c(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                    const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                    int width)
{
    for (int x = 0; x < width; x++) {
        int32_t sum = 0;
        for (int b = 3 * x; b < 3 * x + 3; b++) {
            const int d0 = p0[b] - c0[b];
            const int d1 = c0[b] - n0[b];
            const int d2 = p1[b] - c1[b];
            const int d3 = c1[b] - n1[b];
            sum += d0 * d0 + d1 * d1 + d2 * d2 + d3 * d3;
        }
        out[x] = sum;
    }
}

void MotionRowYuv_c(int32_t *LC_RESTRICT out, const uint8_t *p0, const uint8_t *c0,
                    const uint8_t *n0, const uint8_t *p1, const uint8_t *c1, const uint8_t *n1,
                    int width)
{
    for (int x = 0; x < width; x++) {
        const int i = x * 2;
        const int a = c1[i] - n1[i];
        const int b = p1[i] - c1[i];
        const int c = c0[i] - n0[i];
        const int d = p0[i] - c0[i];
        // Times 3 puts the luminance sum on the scale of the three RGB bytes.
        out[x] = (a * a + b * b + c * c + d * d) * 3;
    }
}

void GroupMotionRows_c(int32_t *const *out, const uint8_t *const *line0,
                       const uint8_t *const *line1, int frames, int width, bool yuv)
{
    const auto row = yuv ? MotionRowYuv_c : MotionRowRgb_c;
    for (int i = 0; i + 2 < frames; i++) {
        row(out[i], line0[i], line0[i + 1], line0[i + 2], line1[i], line1[i + 1], line1[i + 2],
            width);
    }
}

int LineSample(const uint8_t *row, int x, bool yuv)
{
    return yuv ? row[2 * x] : row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
}

void LineBoxRow_c(int16_t *LC_RESTRICT out, const uint8_t *row, int x0, int n, bool yuv)
{
    for (int i = 0; i < n; i++) {
        int sum = 0;
        for (int x = x0 + i - 3; x <= x0 + i + 3; x++) {
            sum += LineSample(row, x, yuv);
        }
        out[i] = static_cast<int16_t>(sum);
    }
}

void WeightRow_c(int16_t *LC_RESTRICT w, const WeightRowInput &in, int n)
{
    const DeinterlaceParams &p = in.params;
    for (int i = 0; i < n; i++) {
        int line = 0;
        if (p.lineDetectorOn) {
            // The differences of the box sums are the sums of the differences.
            int v = 0;
            if (in.boxA) {
                const int div = p.yuv ? 7 : 21;
                const int d1 = in.boxA[i] - in.boxB[i];
                const int d2 = in.boxB[i] - in.boxC[i];
                v = std::clamp(2 * std::max(std::abs(d1) / div, std::abs(d2) / div), 0, 255);
            }
            in.sum[i] = v;
            int s = in.prev[i];
            if (in.above) {
                s += in.above[i] + in.below[i];
            }
            line = (std::min(s, 255) * v) / 256;
        }
        const int motion =
            std::clamp(((in.motion[i] >> 3) * p.motionSensitivity) / 50 - 100, 0, 255);
        int out;
        if (p.showMotionMask && !p.showLineMask) {
            out = motion;
        } else if (p.showLineMask && !p.showMotionMask) {
            out = line;
        } else {
            out = p.lineDetectorOn ? ((256 - line) * motion) >> 8 : motion;
        }
        w[i] = static_cast<int16_t>(out);
    }
}

void BlurWeightRow_c(int16_t *LC_RESTRICT w, const int32_t *a, const int32_t *b, const int32_t *c,
                     int width, int sensitivity)
{
    for (int x = 0; x < width; x++) {
        const int s = a[x] + b[x] + c[x];
        w[x] = static_cast<int16_t>(std::clamp(((s >> 3) * sensitivity) / 50 - 100, 0, 256));
    }
}

void ExpandWeights_c(int16_t *LC_RESTRICT wb, const int16_t *w, int width, int bpp)
{
    for (int x = 0; x < width; x++) {
        for (int b = 0; b < bpp; b++) {
            wb[x * bpp + b] = w[x];
        }
    }
}

void FieldBlendRow_c(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                     const int16_t *wb, int n)
{
    for (int i = 0; i < n; i++) {
        const int avg = (above[i] + below[i]) >> 1;
        row[i] = static_cast<uint8_t>((avg * wb[i] + row[i] * (256 - wb[i])) >> 8);
    }
}

void FromFrameBlendRow_c(uint8_t *LC_RESTRICT out, const uint8_t *up, const uint8_t *mid,
                         const uint8_t *dn, const int16_t *wb, int n)
{
    for (int i = 0; i < n; i++) {
        const int lp = (up[i] + 2 * mid[i] + dn[i]) >> 2;
        out[i] = static_cast<uint8_t>((lp * wb[i] + mid[i] * (256 - wb[i])) >> 8);
    }
}

// The pixels the composed lines below take at a time, so that their weights sit on the stack.
constexpr int kLineChunk = 512;

void FieldLine_c(uint8_t *LC_RESTRICT row, const uint8_t *above, const uint8_t *below,
                 const WeightRowInput &in, int pixels, int bpp)
{
    int16_t w[kLineChunk];
    int16_t wb[3 * kLineChunk];
    for (int x0 = 0; x0 < pixels; x0 += kLineChunk) {
        const int n = std::min(kLineChunk, pixels - x0);
        const int at = bpp * x0;
        WeightRow_c(w, AdvanceWeightInput(in, x0), n);
        ExpandWeights_c(wb, w, n, bpp);
        FieldBlendRow_c(row + at, above + at, below + at, wb, bpp * n);
    }
}

void FromFrameLines_c(uint8_t *const *out, const uint8_t *const *src, const WeightRowInput &in,
                      int pixels, int bpp)
{
    int16_t w[kLineChunk];
    int16_t wb[3 * kLineChunk];
    for (int x0 = 0; x0 < pixels; x0 += kLineChunk) {
        const int n = std::min(kLineChunk, pixels - x0);
        const int at = bpp * x0;
        WeightRow_c(w, AdvanceWeightInput(in, x0), n);
        ExpandWeights_c(wb, w, n, bpp);
        for (int t = 0; t < 2; t++) {
            FromFrameBlendRow_c(out[t] + at, src[t] + at, src[t + 1] + at, src[t + 2] + at, wb,
                                bpp * n);
        }
    }
}

void BlurMixRow_c(uint8_t *LC_RESTRICT out, const uint8_t *m2, const uint8_t *m1, const uint8_t *p0,
                  const uint8_t *p1, const uint8_t *p2, const int16_t *wb, int n, int amount)
{
    for (int i = 0; i < n; i++) {
        int v;
        if (amount == 1) {
            v = (m1[i] + 2 * p0[i] + p1[i]) >> 2;
        } else if (amount == 2) {
            v = (m1[i] + p0[i] + p1[i]) / 3;
        } else {
            v = (m2[i] + m1[i] + p0[i] + p1[i] + p2[i]) / 5;
        }
        out[i] = static_cast<uint8_t>((v * wb[i] + p0[i] * (256 - wb[i])) >> 8);
    }
}

void BlurLine_c(uint8_t *LC_RESTRICT out, const uint8_t *const *rows, const int32_t *a,
                const int32_t *b, const int32_t *c, int pixels, int bpp, int amount,
                int sensitivity)
{
    for (int x = 0; x < pixels; x++) {
        int16_t w;
        BlurWeightRow_c(&w, a + x, b + x, c + x, 1, sensitivity);
        const int16_t wb[3] = {w, w, w};
        const int i = bpp * x;
        BlurMixRow_c(out + i, amount == 3 ? rows[0] + i : nullptr, rows[1] + i, rows[2] + i,
                     rows[3] + i, amount == 3 ? rows[4] + i : nullptr, wb, bpp, amount);
    }
}

void FlickerRow_c(uint8_t *LC_RESTRICT out, const uint8_t *a, const uint8_t *c, const uint8_t *b,
                  int n, int level)
{
    const int *t = kFlickerTable[level];
    for (int i = 0; i < n; i++) {
        out[i] = static_cast<uint8_t>((t[0] * a[i] + t[1] * c[i] + t[2] * b[i]) / t[3]);
    }
}

uint32_t EffectsRow_c(uint8_t *row, int width, const EffectParams &p, uint32_t state)
{
    const int bpp = p.yuv ? 2 : 3;
    for (int x = 0; x < width; x++) {
        GrainAndRedBoostPixel(row + x * bpp, x, p, state);
    }
    return state;
}

void YuvToBgrRow_c(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    // Each pixel uses the latest U and V, so an even column has the V of the pair before.
    int u = 0;
    int v = 0;
    for (int x = 0; x < width; x++) {
        const int luma = s[2 * x];
        const int chroma = s[2 * x + 1] - 128;
        if (x & 1) {
            v = chroma;
        } else {
            u = chroma;
        }
        const int r = luma + ((359 * v) >> 8);
        const int g = luma - ((183 * v) >> 8) - ((11 * u) >> 5);
        const int b = luma + ((453 * u) >> 8);
        d[3 * x] = ClampByte(b);
        d[3 * x + 1] = ClampByte(g);
        d[3 * x + 2] = ClampByte(r);
    }
}

void SwapRgbRow_c(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    for (int x = 0; x < width; x++) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
    }
}

void SwapRgbxRow_c(uint8_t *LC_RESTRICT d, const uint8_t *s, int width)
{
    for (int x = 0; x < width; x++) {
        d[3 * x] = s[4 * x + 2];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x];
    }
}

} // namespace

WeightRowInput AdvanceWeightInput(const WeightRowInput &in, int i)
{
    WeightRowInput r = in;
    r.motion += i;
    if (in.boxA) {
        r.boxA += i;
        r.boxB += i;
        r.boxC += i;
    }
    if (in.params.lineDetectorOn) {
        r.prev += i;
        r.sum += i;
        if (in.above) {
            r.above += i;
            r.below += i;
        }
    }
    return r;
}

const EngineKernels kKernels_c = {
    .lerpRow = LerpRow_c,
    .sqDiffBytes = SqDiffBytes_c,
    .sqDiffLuma = SqDiffLuma_c,
    .motionRowRgb = MotionRowRgb_c,
    .motionRowYuv = MotionRowYuv_c,
    .groupMotionRows = GroupMotionRows_c,
    .lineBoxRow = LineBoxRow_c,
    .weightRow = WeightRow_c,
    .blurWeightRow = BlurWeightRow_c,
    .expandWeights = ExpandWeights_c,
    .fieldBlendRow = FieldBlendRow_c,
    .fromFrameBlendRow = FromFrameBlendRow_c,
    .fieldLine = FieldLine_c,
    .fromFrameLines = FromFrameLines_c,
    .blurMixRow = BlurMixRow_c,
    .blurLine = BlurLine_c,
    .flickerRow = FlickerRow_c,
    .effectsRow = EffectsRow_c,
    .yuvToBgrRow = YuvToBgrRow_c,
    .swapRgbRow = SwapRgbRow_c,
    .swapRgbxRow = SwapRgbxRow_c,
};
