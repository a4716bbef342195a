#include "engine/deinterlace.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"

namespace {

// Map values are sums of squares; the weight uses them shifted down by this.
constexpr int kMotionShift = 3;
constexpr int kFullWeight = 256;

int Clamp(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// The first line the detector and the field rebuild visit with the letterbox crop: two lines
// above the bar, rounded down to an even line so that field 1 stays on the even lines.
int CropTop(int h)
{
    return std::max(0, h / 8 - 2) & ~1;
}

int LineSample(const uint8_t *row, int x, int bpp, bool yuv)
{
    const uint8_t *p = row + x * bpp;
    return yuv ? p[0] : p[0] + p[1] + p[2];
}

void PaintGrey(uint8_t *p, int w, bool yuv)
{
    if (yuv) {
        p[0] = static_cast<uint8_t>(w);
        p[1] = 128;
    } else {
        p[0] = p[1] = p[2] = static_cast<uint8_t>(w);
    }
}

bool MaskDisplay(const DeinterlaceParams &p)
{
    return p.showMotionMask || p.showLineMask;
}

// The line pairs the motion detector visits: from line 2 (crop: above the bar) while below the
// mirrored limit, never past the last line.
struct LinePairs
{
    int top;
    int bottom;
};

LinePairs MotionLinePairs(int h, bool crop)
{
    const int top = crop ? CropTop(h) : 2;
    const int bottom = std::min(crop ? h - top : h - 2, h - 1);
    return {top, bottom};
}

} // namespace

int AbsInt(int v)
{
    return v < 0 ? -v : v;
}

DeinterlaceParams CurrentDeinterlaceParams()
{
    const ConversionOptions &o = gConversionOptions;
    DeinterlaceParams p;
    p.motionSensitivity = o.motionSensitivity;
    p.lineDetectorOn = o.lineDetectorOn != 0;
    p.showMotionMask = o.showMotionMask != 0;
    p.showLineMask = o.showLineMask != 0;
    p.cropLetterbox = o.cropLetterbox != 0;
    p.yuv = gFrameStore.yuvActive != 0;
    return p;
}

WeightContext SlotWeightContext(int slot)
{
    WeightContext c;
    c.frame = SlotView(slot);
    c.motion = MotionMapView(slot);
    c.lineMask = gFrameStore.lineMask;
    c.lineMaskSum = gFrameStore.lineMaskSum;
    c.params = CurrentDeinterlaceParams();
    return c;
}

int DeinterlaceWeight_c(const WeightContext &c, int y, int x)
{
    const DeinterlaceParams &p = c.params;
    const int h = c.frame.height;
    const int w = c.frame.width;
    const int r = y / 2;

    // Line value: fine horizontal detail in the kept field around the pixel.
    int line = 0;
    if (p.lineDetectorOn) {
        int d1 = 0;
        int d2 = 0;
        if (y >= 3 && y <= h - 2 && x >= 4 && x <= w - 5) {
            const int bpp = c.frame.bytesPerPixel;
            const uint8_t *ra = c.frame.Row(y - 3);
            const uint8_t *rb = c.frame.Row(y - 1);
            const uint8_t *rc = c.frame.Row(y + 1);
            for (int i = x - 3; i <= x + 3; i++) {
                const int a = LineSample(ra, i, bpp, p.yuv);
                const int b = LineSample(rb, i, bpp, p.yuv);
                const int cc = LineSample(rc, i, bpp, p.yuv);
                d1 += a - b;
                d2 += b - cc;
            }
        }
        const int div = p.yuv ? 7 : 21;
        const int g = std::max(AbsInt(d1) / div, AbsInt(d2) / div);
        const int v = Clamp(2 * g, 0, 255);
        c.lineMaskSum[static_cast<ptrdiff_t>(r) * w + x] = v;
        // Neighbourhood of the previous run; the three rows only when all lie inside the map.
        int s = c.lineMask[static_cast<ptrdiff_t>(r) * w + x];
        if (r - 1 >= 0 && r + 1 < h / 2) {
            s += c.lineMask[static_cast<ptrdiff_t>(r - 1) * w + x]
                 + c.lineMask[static_cast<ptrdiff_t>(r + 1) * w + x];
        }
        s = std::min(s, 255);
        line = (s * v) / 256;
    }

    const int motion =
        Clamp(((c.motion.Row(r)[x] >> kMotionShift) * p.motionSensitivity) / 50 - 100, 0, 255);

    if (p.showMotionMask && !p.showLineMask) {
        return motion;
    }
    if (p.showLineMask && !p.showMotionMask) {
        return p.lineDetectorOn ? line : 0;
    }
    return p.lineDetectorOn ? ((256 - line) * motion) >> 8 : motion;
}

void MotionMapRgb_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    const LinePairs lines = MotionLinePairs(cur.height, crop);
    for (int y = lines.top; y < lines.bottom; y += 2) {
        int32_t *out = map.Row(y / 2);
        for (int x = 0; x < cur.width; x++) {
            int32_t sum = 0;
            for (int t = y; t <= y + 1; t++) {
                const uint8_t *pp = prev.Row(t) + x * 3;
                const uint8_t *pc = cur.Row(t) + x * 3;
                const uint8_t *pn = next.Row(t) + x * 3;
                for (int b = 0; b < 3; b++) {
                    const int d0 = pp[b] - pc[b];
                    const int d1 = pc[b] - pn[b];
                    sum += d0 * d0 + d1 * d1;
                }
            }
            out[x] = sum;
        }
    }
}

void MotionMapYuv_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    const LinePairs lines = MotionLinePairs(cur.height, crop);
    for (int y = lines.top; y < lines.bottom; y += 2) {
        int32_t *out = map.Row(y / 2);
        const uint8_t *p0 = prev.Row(y);
        const uint8_t *p1 = prev.Row(y + 1);
        const uint8_t *c0 = cur.Row(y);
        const uint8_t *c1 = cur.Row(y + 1);
        const uint8_t *n0 = next.Row(y);
        const uint8_t *n1 = next.Row(y + 1);
        for (int x = 0; x < cur.width; x++) {
            const int i = x * 2;
            const int a = c1[i] - n1[i];
            const int b = p1[i] - c1[i];
            const int c = c0[i] - n0[i];
            const int d = p0[i] - c0[i];
            // Times 3 puts the luminance sum on the scale of the three RGB bytes.
            out[x] = (a * a + b * b + c * c + d * d) * 3;
        }
    }
}

void DeinterlaceField_c(const WeightContext &c, int field, bool full)
{
    const FrameView &f = c.frame;
    const int h = f.height;
    const int bpp = f.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    const int top = c.params.cropLetterbox ? CropTop(h) : 0;
    const int hp = c.params.cropLetterbox ? h - top : h;
    const int first = field == 1 ? top + 2 : top + 1;
    const int last = field == 1 ? hp - 2 : hp - 3;
    for (int y = first; y <= last; y += 2) {
        uint8_t *row = f.Row(y);
        const uint8_t *above = f.Row(y - 1);
        const uint8_t *below = f.Row(y + 1);
        for (int x = 0; x < f.width; x++) {
            int w = full ? kFullWeight : DeinterlaceWeight_c(c, y, x);
            uint8_t *p = row + x * bpp;
            if (mask) {
                PaintGrey(p, std::min(w, 255), c.params.yuv);
            } else if (w != 0) {
                for (int b = 0; b < bpp; b++) {
                    const int i = x * bpp + b;
                    const int avg = (above[i] + below[i]) >> 1;
                    p[b] = static_cast<uint8_t>((avg * w + p[b] * (256 - w)) >> 8);
                }
            }
        }
    }
    if (mask) {
        for (int y = first; y <= last; y += 2) {
            std::memcpy(f.Row(y - 1), f.Row(y), static_cast<size_t>(f.width) * bpp);
        }
    }
}

void DeinterlaceFromFrame_c(const FrameView &dst, const WeightContext &c, bool full)
{
    const FrameView &src = c.frame;
    const int h = src.height;
    const int bpp = src.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    const int top = c.params.cropLetterbox ? std::max(1, h / 8) : 1;
    const int bottom = c.params.cropLetterbox ? h - h / 8 : h - 2;
    // Each step writes lines y and y + 1 and reads up to line y + 2.
    for (int y = top; y <= bottom && y + 2 < h; y += 2) {
        for (int x = 0; x < src.width; x++) {
            const int w = full ? kFullWeight : DeinterlaceWeight_c(c, y, x);
            for (int t = y; t <= y + 1; t++) {
                uint8_t *out = dst.Row(t) + x * bpp;
                if (mask) {
                    PaintGrey(out, std::min(w, 255), c.params.yuv);
                    continue;
                }
                const uint8_t *up = src.Row(t - 1) + x * bpp;
                const uint8_t *mid = src.Row(t) + x * bpp;
                const uint8_t *dn = src.Row(t + 1) + x * bpp;
                for (int b = 0; b < bpp; b++) {
                    const int lp = (up[b] + 2 * mid[b] + dn[b]) >> 2;
                    out[b] = static_cast<uint8_t>((lp * w + mid[b] * (256 - w)) >> 8);
                }
            }
        }
    }
}

void FinishLineMaskRun(int width, int height)
{
    std::memcpy(gFrameStore.lineMask, gFrameStore.lineMaskSum,
                static_cast<size_t>(height / 2) * width * sizeof(int32_t));
}

void MotionMapRgb(int prev, int cur, int next)
{
    MotionMapRgb_c(MotionMapView(cur), SlotView(prev), SlotView(cur), SlotView(next),
                   gConversionOptions.cropLetterbox != 0);
}

void MotionMapYuv(int prev, int cur, int next)
{
    MotionMapYuv_c(MotionMapView(cur), SlotView(prev), SlotView(cur), SlotView(next),
                   gConversionOptions.cropLetterbox != 0);
}

void MotionMap(int prev, int cur, int next)
{
    if (gFrameStore.yuvActive) {
        MotionMapYuv(prev, cur, next);
    } else {
        MotionMapRgb(prev, cur, next);
    }
}

int DeinterlaceWeight(int y, int x, int slot)
{
    return DeinterlaceWeight_c(SlotWeightContext(slot), y, x);
}

void DeinterlaceField(int field, int slot, int full)
{
    const WeightContext c = SlotWeightContext(slot);
    DeinterlaceField_c(c, field, full != 0);
    FinishLineMaskRun(c.frame.width, c.frame.height);
}

void DeinterlaceFromFrame(int dst, int src, int full)
{
    const WeightContext c = SlotWeightContext(src);
    DeinterlaceFromFrame_c(SlotView(dst), c, full != 0);
    FinishLineMaskRun(c.frame.width, c.frame.height);
}

void CopyFieldLines(uint8_t *const *frames, int dst, int src, int parity)
{
    const size_t bytes = RowBytes();
    for (uint32_t y = parity ? 1 : 0; y < gFrameStore.sourceHeight; y += 2) {
        std::memcpy(frames[dst] + y * bytes, frames[src] + y * bytes, bytes);
    }
}

void CopyFrame(uint8_t *dst, const uint8_t *src)
{
    const FrameStore &fs = gFrameStore;
    const size_t lines = gConversionOptions.pulldown2332To25P ? fs.sourceHeight : fs.frameHeight;
    std::memmove(dst, src, lines * RowBytes());
}
