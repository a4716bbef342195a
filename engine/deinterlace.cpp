#include "engine/deinterlace.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"

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

namespace {

// Pixels a row is worked in at a time, so that the weight buffers sit on the stack whatever the
// frame width.
constexpr int kChunkPixels = 512;

int MotionPairCount(int h, bool crop)
{
    const LinePairs lines = MotionLinePairs(h, crop);
    return lines.bottom > lines.top ? (lines.bottom - lines.top + 1) / 2 : 0;
}

// Map rows of the line pairs [i0, i1) of the detector's range.
void MotionRows(const EngineKernels &k, const MapView &map, const FrameView &prev,
                const FrameView &cur, const FrameView &next, bool crop, bool yuv, int i0, int i1)
{
    const int top = MotionLinePairs(cur.height, crop).top;
    const auto row = yuv ? k.motionRowYuv : k.motionRowRgb;
    for (int i = i0; i < i1; i++) {
        const int y = top + 2 * i;
        row(map.Row(y / 2), prev.Row(y), cur.Row(y), next.Row(y), prev.Row(y + 1), cur.Row(y + 1),
            next.Row(y + 1), cur.width);
    }
}

// The weights of pixels [x0, x0 + n) of line y: 256 each with `full`.
void RowWeights(const EngineKernels &k, const WeightContext &c, int y, int x0, int n, bool full,
                int16_t *w)
{
    if (full) {
        std::fill(w, w + n, static_cast<int16_t>(kFullWeight));
    } else {
        k.weightRow(c, y, x0, x0 + n, w);
    }
}

void PaintWeights(uint8_t *row, const int16_t *w, int n, int bpp, bool yuv)
{
    for (int x = 0; x < n; x++) {
        PaintGrey(row + x * bpp, std::min<int>(w[x], 255), yuv);
    }
}

struct FieldLines
{
    int first;
    int count;
};

FieldLines FieldLineRange(const DeinterlaceParams &p, int h, int field)
{
    const int top = p.cropLetterbox ? CropTop(h) : 0;
    const int hp = p.cropLetterbox ? h - top : h;
    const int first = field == 1 ? top + 2 : top + 1;
    const int last = field == 1 ? hp - 2 : hp - 3;
    return {first, last >= first ? (last - first) / 2 + 1 : 0};
}

// Lines [i0, i1) of the field's range, in place.
void FieldRows(const EngineKernels &k, const WeightContext &c, const FieldLines &lines, bool full,
               int i0, int i1)
{
    const FrameView &f = c.frame;
    const int bpp = f.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    int16_t w[kChunkPixels];
    int16_t wb[kChunkPixels * 3];
    for (int i = i0; i < i1; i++) {
        const int y = lines.first + 2 * i;
        for (int x0 = 0; x0 < f.width; x0 += kChunkPixels) {
            const int n = std::min(kChunkPixels, f.width - x0);
            const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
            RowWeights(k, c, y, x0, n, full, w);
            if (mask) {
                PaintWeights(f.Row(y) + at, w, n, bpp, c.params.yuv);
            } else {
                k.expandWeights(wb, w, n, bpp);
                k.fieldBlendRow(f.Row(y) + at, f.Row(y - 1) + at, f.Row(y + 1) + at, wb, n * bpp);
            }
        }
    }
}

// Mask display: each processed line is copied onto the line above once every line is done.
void DoubleMaskLines(const FrameView &f, int first, int count)
{
    for (int i = 0; i < count; i++) {
        const int y = first + 2 * i;
        std::memcpy(f.Row(y - 1), f.Row(y), static_cast<size_t>(f.width) * f.bytesPerPixel);
    }
}

struct FromFrameLines
{
    int first;
    int count;
};

FromFrameLines FromFrameLineRange(const DeinterlaceParams &p, int h)
{
    const int top = p.cropLetterbox ? std::max(1, h / 8) : 1;
    const int bottom = p.cropLetterbox ? h - h / 8 : h - 2;
    // Each step writes lines y and y + 1 and reads up to line y + 2.
    int count = 0;
    for (int y = top; y <= bottom && y + 2 < h; y += 2) {
        count++;
    }
    return {top, count};
}

// Steps [i0, i1): lines y and y + 1 of dst from src, both with the weights of line y. A mask is
// painted on both lines of dst, so nothing is doubled afterwards and src stays as it was.
void FromFrameRows(const EngineKernels &k, const FrameView &dst, const WeightContext &c,
                   const FromFrameLines &lines, bool full, int i0, int i1)
{
    const FrameView &src = c.frame;
    const int bpp = src.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    int16_t w[kChunkPixels];
    int16_t wb[kChunkPixels * 3];
    for (int i = i0; i < i1; i++) {
        const int y = lines.first + 2 * i;
        for (int x0 = 0; x0 < src.width; x0 += kChunkPixels) {
            const int n = std::min(kChunkPixels, src.width - x0);
            const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
            RowWeights(k, c, y, x0, n, full, w);
            if (!mask) {
                k.expandWeights(wb, w, n, bpp);
            }
            for (int t = y; t <= y + 1; t++) {
                if (mask) {
                    PaintWeights(dst.Row(t) + at, w, n, bpp, c.params.yuv);
                } else {
                    k.fromFrameBlendRow(dst.Row(t) + at, src.Row(t - 1) + at, src.Row(t) + at,
                                        src.Row(t + 1) + at, wb, n * bpp);
                }
            }
        }
    }
}

void RunField(const EngineKernels &k, const WeightContext &c, int field, bool full, bool threads)
{
    const FieldLines lines = FieldLineRange(c.params, c.frame.height, field);
    if (threads) {
        RunRowBands(lines.count,
                    [&](int, int i0, int i1) { FieldRows(k, c, lines, full, i0, i1); });
    } else {
        FieldRows(k, c, lines, full, 0, lines.count);
    }
    if (MaskDisplay(c.params)) {
        DoubleMaskLines(c.frame, lines.first, lines.count);
    }
}

void RunFromFrame(const EngineKernels &k, const FrameView &dst, const WeightContext &c, bool full,
                  bool threads)
{
    const FromFrameLines lines = FromFrameLineRange(c.params, c.frame.height);
    if (threads) {
        RunRowBands(lines.count,
                    [&](int, int i0, int i1) { FromFrameRows(k, dst, c, lines, full, i0, i1); });
    } else {
        FromFrameRows(k, dst, c, lines, full, 0, lines.count);
    }
}

} // namespace

void MotionMapRgb_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    MotionRows(kKernels_c, map, prev, cur, next, crop, false, 0, MotionPairCount(cur.height, crop));
}

void MotionMapYuv_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    MotionRows(kKernels_c, map, prev, cur, next, crop, true, 0, MotionPairCount(cur.height, crop));
}

void DeinterlaceField_c(const WeightContext &c, int field, bool full)
{
    RunField(kKernels_c, c, field, full, false);
}

void DeinterlaceFromFrame_c(const FrameView &dst, const WeightContext &c, bool full)
{
    RunFromFrame(kKernels_c, dst, c, full, false);
}

void FinishLineMaskRun(int width, int height)
{
    int32_t *to = gFrameStore.lineMask;
    const int32_t *from = gFrameStore.lineMaskSum;
    const size_t row = static_cast<size_t>(width);
    RunRowBands(height / 2, [&](int, int r0, int r1) {
        std::memcpy(to + r0 * row, from + r0 * row, (r1 - r0) * row * sizeof(int32_t));
    });
}

void MotionMapsOfGroup(int count)
{
    const bool yuv = gFrameStore.yuvActive != 0;
    const bool crop = gConversionOptions.cropLetterbox != 0;
    const int h = static_cast<int>(gFrameStore.frameHeight);
    const int pairs = MotionPairCount(h, crop);
    const int top = MotionLinePairs(h, crop).top;
    const int frames = std::min(count + 2, kMaxGroupFrames);
    FrameView views[kMaxGroupFrames];
    MapView maps[kMaxGroupFrames];
    for (int j = 0; j < frames; j++) {
        views[j] = SlotView(j);
        maps[j] = MotionMapView(j);
    }
    const EngineKernels &k = Kernels();
    RunRowBands(pairs, [&](int, int i0, int i1) {
        int32_t *out[kMaxGroupFrames];
        const uint8_t *line0[kMaxGroupFrames];
        const uint8_t *line1[kMaxGroupFrames];
        for (int i = i0; i < i1; i++) {
            const int y = top + 2 * i;
            for (int j = 0; j < frames; j++) {
                line0[j] = views[j].Row(y);
                line1[j] = views[j].Row(y + 1);
            }
            for (int j = 0; j + 2 < frames; j++) {
                out[j] = maps[j + 1].Row(y / 2);
            }
            k.groupMotionRows(out, line0, line1, frames, views[0].width, yuv);
        }
    });
}

void MotionMapRgb(int prev, int cur, int next)
{
    const bool crop = gConversionOptions.cropLetterbox != 0;
    const FrameView c = SlotView(cur);
    const EngineKernels &k = Kernels();
    RunRowBands(MotionPairCount(c.height, crop), [&](int, int i0, int i1) {
        MotionRows(k, MotionMapView(cur), SlotView(prev), c, SlotView(next), crop, false, i0, i1);
    });
}

void MotionMapYuv(int prev, int cur, int next)
{
    const bool crop = gConversionOptions.cropLetterbox != 0;
    const FrameView c = SlotView(cur);
    const EngineKernels &k = Kernels();
    RunRowBands(MotionPairCount(c.height, crop), [&](int, int i0, int i1) {
        MotionRows(k, MotionMapView(cur), SlotView(prev), c, SlotView(next), crop, true, i0, i1);
    });
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
    RunField(Kernels(), c, field, full != 0, true);
    FinishLineMaskRun(c.frame.width, c.frame.height);
}

void DeinterlaceFromFrame(int dst, int src, int full)
{
    const WeightContext c = SlotWeightContext(src);
    RunFromFrame(Kernels(), SlotView(dst), c, full != 0, true);
    FinishLineMaskRun(c.frame.width, c.frame.height);
}

void CopyFieldLines(uint8_t *const *frames, int dst, int src, int parity)
{
    const size_t bytes = RowBytes();
    const int first = parity ? 1 : 0;
    const int lines = static_cast<int>(gFrameStore.sourceHeight) - first;
    RunRowBands(lines > 0 ? (lines + 1) / 2 : 0, [&](int, int i0, int i1) {
        for (int i = i0; i < i1; i++) {
            const size_t y = static_cast<size_t>(first + 2 * i);
            std::memcpy(frames[dst] + y * bytes, frames[src] + y * bytes, bytes);
        }
    });
}

void CopyFrame(uint8_t *dst, const uint8_t *src)
{
    const FrameStore &fs = gFrameStore;
    const size_t lines = gConversionOptions.pulldown2332To25P ? fs.sourceHeight : fs.frameHeight;
    std::memmove(dst, src, lines * RowBytes());
}
