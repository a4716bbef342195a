#include "engine/picture_effects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
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

size_t LineBytes(const FrameView &f)
{
    return static_cast<size_t>(f.width) * f.bytesPerPixel;
}

} // namespace

EffectParams CurrentEffectParams()
{
    const ConversionOptions &o = gConversionOptions;
    EffectParams p;
    p.addGrain = o.addGrain != 0;
    p.redBoost = o.redBoost != 0;
    p.redBoostAmount = o.redBoostAmount;
    p.noiseTable = gFrameStore.noiseTable;
    p.yuv = gFrameStore.yuvActive != 0;
    p.redIndex = gFrameStore.bgrOrder ? 2 : 0;
    return p;
}

void PaintBlackLines(const FrameView &f, int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, f.height - 1);
    for (int y = first; y <= last; y++) {
        uint8_t *row = f.Row(y);
        if (f.bytesPerPixel == 2) {
            for (int x = 0; x < f.width; x++) {
                row[2 * x] = 0;
                row[2 * x + 1] = 128;
            }
        } else {
            std::memset(row, 0, LineBytes(f));
        }
    }
}

void CropToLetterbox_c(const FrameView &f)
{
    const int b = f.height / 8;
    PaintBlackLines(f, 0, b - 1);
    PaintBlackLines(f, f.height - b, f.height - 1);
}

void SqueezeToLetterbox_c(const FrameView &f, uint8_t *scratch)
{
    const int h = f.height;
    const int b = h / 8;
    std::memcpy(scratch, f.base, static_cast<size_t>(h) * f.pitch);
    const size_t bytes = LineBytes(f);
    // Three quarters of the height: source line acc / 3 for each output line, acc += 4.
    int acc = 0;
    for (int y = b; y <= h - b - 1; y++, acc += 4) {
        const int l = std::min(acc / 3, h - 1);
        const int l1 = std::min(l + 1, h - 1);
        const int frac = acc % 3;
        const uint8_t *s0 = scratch + static_cast<ptrdiff_t>(l) * f.pitch;
        const uint8_t *s1 = scratch + static_cast<ptrdiff_t>(l1) * f.pitch;
        uint8_t *out = f.Row(y);
        for (size_t i = 0; i < bytes; i++) {
            out[i] = static_cast<uint8_t>(s0[i] + ((s1[i] - s0[i]) * frac) / 3);
        }
    }
    PaintBlackLines(f, 0, b);
    PaintBlackLines(f, h - b - 1, h - 1);
}

void BlurHorizontalLines_c(const FrameView &f, const MapView &motion, int blurAmount,
                           int motionSensitivity, uint8_t *blur, uint8_t *mix)
{
    const int h = f.height;
    if (h - 2 <= 2 || blurAmount < 1 || blurAmount > 3) {
        return;
    }
    const size_t bytes = LineBytes(f);
    const int bpp = f.bytesPerPixel;
    // 1: vertical low-pass of every byte.
    for (int y = 2; y <= h - 3; y++) {
        const uint8_t *m2 = f.Row(y - 2);
        const uint8_t *m1 = f.Row(y - 1);
        const uint8_t *p0 = f.Row(y);
        const uint8_t *p1 = f.Row(y + 1);
        const uint8_t *p2 = f.Row(y + 2);
        uint8_t *out = blur + static_cast<ptrdiff_t>(y) * f.pitch;
        for (size_t i = 0; i < bytes; i++) {
            int v;
            if (blurAmount == 1) {
                v = (m1[i] + 2 * p0[i] + p1[i]) >> 2;
            } else if (blurAmount == 2) {
                v = (m1[i] + p0[i] + p1[i]) / 3;
            } else {
                v = (m2[i] + m1[i] + p0[i] + p1[i] + p2[i]) / 5;
            }
            out[i] = static_cast<uint8_t>(v);
        }
    }
    // 2: mix by the motion weight of the line and its neighbours; 256 is a full blur.
    for (int y = 2; y <= h - 3; y++) {
        const int32_t *ma = motion.Row(y >> 1);
        const int32_t *mb = motion.Row((y + 1) >> 1);
        const int32_t *mc = motion.Row((y - 1) >> 1);
        const uint8_t *orig = f.Row(y);
        const uint8_t *bl = blur + static_cast<ptrdiff_t>(y) * f.pitch;
        uint8_t *out = mix + static_cast<ptrdiff_t>(y) * f.pitch;
        for (int x = 0; x < f.width; x++) {
            const int s = ma[x] + mb[x] + mc[x];
            int w = ((s >> 3) * motionSensitivity) / 50 - 100;
            w = std::clamp(w, 0, 256);
            for (int b = 0; b < bpp; b++) {
                const int i = x * bpp + b;
                out[i] = static_cast<uint8_t>((bl[i] * w + orig[i] * (256 - w)) >> 8);
            }
        }
    }
    // 3: back into the frame.
    for (int y = 2; y <= h - 3; y++) {
        std::memcpy(f.Row(y), mix + static_cast<ptrdiff_t>(y) * f.pitch, bytes);
    }
}

void RemoveFlicker_c(const FrameView &f, int level, uint8_t *work)
{
    level = std::clamp(level, 0, 4);
    if (level == 0) {
        return;
    }
    const int *t = kFlickerTable[level];
    const size_t bytes = LineBytes(f);
    for (int y = 1; y <= f.height - 2; y++) {
        const uint8_t *a = f.Row(y - 1);
        const uint8_t *c = f.Row(y);
        const uint8_t *b = f.Row(y + 1);
        uint8_t *out = work + static_cast<ptrdiff_t>(y) * f.pitch;
        for (size_t i = 0; i < bytes; i++) {
            out[i] = static_cast<uint8_t>((t[0] * a[i] + t[1] * c[i] + t[2] * b[i]) / t[3]);
        }
    }
    for (int y = 1; y <= f.height - 2; y++) {
        std::memcpy(f.Row(y), work + static_cast<ptrdiff_t>(y) * f.pitch, bytes);
    }
}

void BuildGrainTable_c(int32_t *table, int count, int grainAmount)
{
    // A sum of ten 15-bit values has mean 163835 and standard deviation about 1 / k / r.
    const float r = std::sqrt(30.0f);
    const float k = r * 6.1037017e-6f;
    for (int i = 0; i < count; i++) {
        int sum = 0;
        for (int j = 0; j < 10; j++) {
            sum += lc::CrtRand();
        }
        table[i] = static_cast<int32_t>((k * static_cast<float>(sum) - r)
                                        * static_cast<float>(grainAmount));
    }
}

void ApplyGrainAndRedBoost_c(uint8_t *pixel, int column, const EffectParams &p)
{
    int n = 0;
    if (p.addGrain) {
        n = p.noiseTable[lc::CrtRand() >> 11];
    }
    if (p.yuv) {
        if (p.redBoost && (column & 1)) {
            pixel[1] = ClampByte(pixel[1] + p.redBoostAmount);
        }
        if (n != 0) {
            pixel[0] = ClampByte(pixel[0] + n);
        }
        return;
    }
    if (p.redBoost) {
        for (int b = 0; b < 3; b++) {
            const int boost = b == p.redIndex ? p.redBoostAmount : -p.redBoostAmount;
            pixel[b] = ClampByte(pixel[b] + boost + n);
        }
    } else if (n != 0) {
        for (int b = 0; b < 3; b++) {
            pixel[b] = ClampByte(pixel[b] + n);
        }
    }
}

void ApplyPictureEffects_c(const FrameView &f, int firstLine, int endLine, const EffectParams &p)
{
    for (int y = firstLine; y < endLine; y++) {
        uint8_t *row = f.Row(y);
        for (int x = 0; x < f.width; x++) {
            ApplyGrainAndRedBoost_c(row + x * f.bytesPerPixel, x, p);
        }
    }
}

namespace {

// Whole rows, so the bars cover the row pitch.
FrameView WholeRows(int slot)
{
    FrameView f = SlotView(slot);
    f.width = static_cast<int>(gFrameStore.rowPitch);
    return f;
}

} // namespace

void CropToLetterbox(int slot)
{
    CropToLetterbox_c(WholeRows(slot));
}

void SqueezeToLetterbox(int slot)
{
    SqueezeToLetterbox_c(WholeRows(slot), gFrameStore.rgbOutFrame);
}

void BlurHorizontalLines(int slot)
{
    BlurHorizontalLines_c(SlotView(slot), MotionMapView(slot), gConversionOptions.blurAmount,
                          gConversionOptions.motionSensitivity, gFrameStore.blurFrame,
                          gFrameStore.mixFrame);
}

void BlurGroupLines(uint8_t *const *slots, const int *outList)
{
    FrameStore &fs = gFrameStore;
    fs.frameWidth = fs.sourceWidth;
    fs.frameHeight = fs.sourceHeight;
    for (int k = 0; k < 4; k++) {
        fs.rgbSlots[k + 1] = slots[outList[k]];
        fs.yuvSlots[k + 1] = slots[outList[k]];
    }
}

void RemoveFlicker(int slot, int level)
{
    RemoveFlicker_c(SlotView(slot), level, gFrameStore.blurFrame);
}

void RemoveFlickerBuffer(uint8_t *frame, int level)
{
    const FrameStore &fs = gFrameStore;
    RemoveFlicker_c(
        BufferView(frame, static_cast<int>(fs.rowPitch), static_cast<int>(fs.frameHeight)), level,
        fs.blurFrame);
}

void BuildGrainTable()
{
    BuildGrainTable_c(gFrameStore.noiseTable, kNoiseTableSize, gConversionOptions.grainAmount);
}

void ApplyGrainAndRedBoost(uint8_t *pixel, int column)
{
    ApplyGrainAndRedBoost_c(pixel, column, CurrentEffectParams());
}

void ApplyPictureEffects(int slot)
{
    const FrameView f = SlotView(slot);
    const int b = f.height / 8;
    const bool bars = gConversionOptions.cropLetterbox || gConversionOptions.unsqueezeLetterbox;
    ApplyPictureEffects_c(f, bars ? b : 0, bars ? f.height - b : f.height, CurrentEffectParams());
}
