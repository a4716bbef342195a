#include "engine/deinterlace.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "engine/internal/group_rows.h"
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

MotionPairs MotionPairRange(int h, bool crop)
{
    // From line 2 (crop: above the bar) while below the mirrored limit, never past the last line.
    const int top = crop ? CropTop(h) : 2;
    const int bottom = std::min(crop ? h - top : h - 2, h - 1);
    return {top, bottom > top ? (bottom - top + 1) / 2 : 0};
}

RunLines FieldLineRange(const DeinterlaceParams &p, int h, int field)
{
    const int top = p.cropLetterbox ? CropTop(h) : 0;
    const int hp = p.cropLetterbox ? h - top : h;
    const int first = field == 1 ? top + 2 : top + 1;
    const int last = field == 1 ? hp - 2 : hp - 3;
    return {first, last >= first ? (last - first) / 2 + 1 : 0};
}

RunLines FromFrameLineRange(const DeinterlaceParams &p, int h)
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

WeightRowInput MotionWeightInput(const MapView &map, const DeinterlaceParams &p, int y, int x0)
{
    WeightRowInput in;
    in.motion = map.Row(y / 2) + x0;
    in.params = p;
    return in;
}

void MotionWeights(const EngineKernels &k, const MapView &map, const DeinterlaceParams &p, int y,
                   int x0, int n, bool full, int16_t *w)
{
    if (full) {
        std::fill(w, w + n, static_cast<int16_t>(kFullWeight));
        return;
    }
    k.weightRow(w, MotionWeightInput(map, p, y, x0), n);
}

namespace {

// Map rows of the line pairs [i0, i1) of the detector's range.
void MotionRows(const EngineKernels &k, const MapView &map, const FrameView &prev,
                const FrameView &cur, const FrameView &next, bool crop, bool yuv, int i0, int i1)
{
    const int top = MotionPairRange(cur.height, crop).top;
    const auto row = yuv ? k.motionRowYuv : k.motionRowRgb;
    for (int i = i0; i < i1; i++) {
        const int y = top + 2 * i;
        row(map.Row(y / 2), prev.Row(y), cur.Row(y), next.Row(y), prev.Row(y + 1), cur.Row(y + 1),
            next.Row(y + 1), cur.width);
    }
}

// The line-detector box sums of the kept-field lines of a run over one chunk of columns: a run
// steps two lines at a time and samples lines y - 3, y - 1 and y + 1, so each line is summed once.
// Columns without line values get equal sums on every line, which give line value 0.
class BoxLines
{
public:
    // Columns [x0 + lo, x0 + hi) of the chunk's n have line values.
    BoxLines(const EngineKernels &k, const FrameView &f, int x0, int n, bool yuv)
        : k_(k)
        , f_(f)
        , lo_(std::clamp(4 - x0, 0, n))
        , hi_(std::clamp(f.width - 4 - x0, lo_, n))
        , x_(x0 + lo_)
        , yuv_(yuv)
    {
        for (auto &row : rows_) {
            std::fill(row, row + lo_, int16_t{0});
            std::fill(row + hi_, row + n, int16_t{0});
        }
    }

    bool Any() const { return hi_ > lo_; }

    const int16_t *Line(int y)
    {
        for (int i = 0; i < 3; i++) {
            if (line_[i] == y) {
                return rows_[i];
            }
        }
        // Replace the line furthest from y: the run has left it behind.
        int far = 0;
        for (int i = 1; i < 3; i++) {
            if (AbsInt(line_[i] - y) > AbsInt(line_[far] - y)) {
                far = i;
            }
        }
        k_.lineBoxRow(rows_[far] + lo_, f_.Row(y), x_, hi_ - lo_, yuv_);
        line_[far] = y;
        return rows_[far];
    }

private:
    const EngineKernels &k_;
    const FrameView &f_;
    int lo_;
    int hi_;
    int x_;
    bool yuv_;
    int line_[3] = {-1000, -1000, -1000};
    int16_t rows_[3][kChunkPixels];
};

// What the weights of pixels [x0, x0 + n) of line y are made from: those of DeinterlaceWeight_c,
// line values stored.
WeightRowInput RowWeightInput(const WeightContext &c, BoxLines &boxes, int y, int x0)
{
    const DeinterlaceParams &p = c.params;
    const int h = c.frame.height;
    const int width = c.frame.width;
    const int r = y / 2;
    WeightRowInput in;
    in.motion = c.motion.Row(r) + x0;
    in.params = p;
    if (p.lineDetectorOn) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(r) * width + x0;
        in.prev = c.lineMask + at;
        in.sum = c.lineMaskSum + at;
        // The neighbourhood is three rows only when all lie inside the map.
        if (r - 1 >= 0 && r + 1 < h / 2) {
            in.above = in.prev - width;
            in.below = in.prev + width;
        }
        // Lines 3 .. h - 2 have line values (in columns 4 .. width - 5); the others 0.
        if (y >= 3 && y <= h - 2 && boxes.Any()) {
            in.boxA = boxes.Line(y - 3);
            in.boxB = boxes.Line(y - 1);
            in.boxC = boxes.Line(y + 1);
        }
    }
    return in;
}

// The weights of the n pixels of `in`: 256 each with `full`.
void RowWeights(const EngineKernels &k, const WeightRowInput &in, int n, bool full, int16_t *w)
{
    if (full) {
        std::fill(w, w + n, static_cast<int16_t>(kFullWeight));
        return;
    }
    k.weightRow(w, in, n);
}

// Lines without a mask or full weights are made in one pass, their weights never stored.
bool OnePass(const WeightContext &c, bool full)
{
    return !full && !MaskDisplay(c.params);
}

void PaintWeights(uint8_t *row, const int16_t *w, int n, int bpp, bool yuv)
{
    for (int x = 0; x < n; x++) {
        PaintGrey(row + x * bpp, std::min<int>(w[x], 255), yuv);
    }
}

// Line values outside a run: DeinterlaceWeight on its own writes them with nothing to copy them.
// Values [0, gStrayLineValuesEnd) of lineMaskSum may differ from lineMask; beyond, every run has
// left the two equal (both start zeroed), so a run that writes no line values copies nothing.
size_t gStrayLineValuesEnd = 0;
// Runs write most of their line values straight into lineMask: values [0, gLineSumBehindEnd) of
// lineMaskSum may then lag behind lineMask, which holds what every reader wants. They are
// brought level before anything writes lineMaskSum outside a run.
size_t gLineSumBehindEnd = 0;

// A band's line values of the rows between its first and last, until they go into lineMask.
using LineValueRing = int32_t[2][kChunkPixels];

// The line values of a run with the line detector: each row the run writes becomes the row of
// lineMask once no line of the run reads the old row any more (the lines of the rows on either
// side are done). A band writes its own rows but its first and last, which the bands next to it
// read, through a ring of two rows; those two go into lineMaskSum and are copied when every band
// is done. With values written outside a run still to copy, every row goes through lineMaskSum,
// and the whole map is copied at the end.
class LineValueCopy
{
public:
    LineValueCopy(const WeightContext &c, const RunLines &lines, bool active)
        : c_(c)
        , lines_(lines)
        , active_(active)
        , ring_(active && gStrayLineValuesEnd == 0)
    {}

    bool Active() const { return active_; }
    bool ThroughRing() const { return ring_; }

    // Where line i of a band [i0, i1) writes its line values, columns from x0.
    int32_t *Values(LineValueRing &ring, int i0, int i1, int i, int x0) const
    {
        if (ring_ && i != i0 && i != i1 - 1) {
            return ring[i % 2];
        }
        return c_.lineMaskSum + static_cast<ptrdiff_t>(Row(i)) * c_.frame.width + x0;
    }

    // After line i of a band starting at line i0: the row of line i - 1, unless it is the band's
    // first, is no longer read (columns [x0, x0 + n)).
    void LineDone(const LineValueRing &ring, int i0, int i, int x0, int n) const
    {
        if (active_ && i - 1 > i0) {
            const ptrdiff_t at = static_cast<ptrdiff_t>(Row(i - 1)) * c_.frame.width + x0;
            std::memcpy(c_.lineMask + at, ring_ ? ring[(i - 1) % 2] : c_.lineMaskSum + at,
                        static_cast<size_t>(n) * sizeof(int32_t));
        }
    }

    void BandDone(int band, int i0, int i1) { bands_[band] = {i0, i1}; }

    // The rows the bands left in lineMaskSum: their first and last, or every row the bands did
    // not copy.
    void Finish() const
    {
        if (!active_) {
            return;
        }
        if (ring_) {
            for (const auto [i0, i1] : bands_) {
                if (i1 > i0) {
                    CopyRows(Row(i0), Row(i0) + 1);
                    CopyRows(std::max(Row(i1 - 1), Row(i0) + 1), Row(i1 - 1) + 1);
                }
            }
            return;
        }
        const int rows = c_.frame.height / 2;
        int next = 0; // the first row not known to be copied
        for (const auto [i0, i1] : bands_) {
            if (i1 - i0 < 3) {
                continue;
            }
            CopyRows(next, Row(i0 + 1));
            next = Row(i1 - 1);
        }
        CopyRows(next, rows);
    }

private:
    int Row(int i) const { return (lines_.first + 2 * i) / 2; }

    void CopyRows(int r0, int r1) const
    {
        const size_t width = static_cast<size_t>(c_.frame.width);
        if (r1 > r0) {
            std::memcpy(c_.lineMask + r0 * width, c_.lineMaskSum + r0 * width,
                        (r1 - r0) * width * sizeof(int32_t));
        }
    }

    const WeightContext &c_;
    RunLines lines_;
    bool active_;
    bool ring_;
    struct Band
    {
        int i0 = 0;
        int i1 = 0;
    } bands_[kMaxRowBands];
};

// Lines [i0, i1) of the field's range, in place.
void FieldRows(const EngineKernels &k, const WeightContext &c, const RunLines &lines, bool full,
               const LineValueCopy &copy, int i0, int i1)
{
    const FrameView &f = c.frame;
    const int bpp = f.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    int16_t w[kChunkPixels];
    int16_t wb[kChunkPixels * 3];
    LineValueRing ring;
    for (int x0 = 0; x0 < f.width; x0 += kChunkPixels) {
        const int n = std::min(kChunkPixels, f.width - x0);
        const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
        BoxLines boxes(k, f, x0, n, c.params.yuv);
        for (int i = i0; i < i1; i++) {
            const int y = lines.first + 2 * i;
            WeightRowInput in = RowWeightInput(c, boxes, y, x0);
            if (in.sum) {
                in.sum = copy.Values(ring, i0, i1, i, x0);
            }
            if (OnePass(c, full)) {
                k.fieldLine(f.Row(y) + at, f.Row(y - 1) + at, f.Row(y + 1) + at, in, n, bpp);
                copy.LineDone(ring, i0, i, x0, n);
                continue;
            }
            RowWeights(k, in, n, full, w);
            if (mask) {
                PaintWeights(f.Row(y) + at, w, n, bpp, c.params.yuv);
            } else {
                k.expandWeights(wb, w, n, bpp);
                k.fieldBlendRow(f.Row(y) + at, f.Row(y - 1) + at, f.Row(y + 1) + at, wb, n * bpp);
            }
            copy.LineDone(ring, i0, i, x0, n);
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

// Steps [i0, i1): lines y and y + 1 of dst from src, both with the weights of line y. A mask is
// painted on both lines of dst, so nothing is doubled afterwards and src stays as it was.
void FromFrameRows(const EngineKernels &k, const FrameView &dst, const WeightContext &c,
                   const RunLines &lines, bool full, const LineValueCopy &copy, int i0, int i1)
{
    const FrameView &src = c.frame;
    const int bpp = src.bytesPerPixel;
    const bool mask = MaskDisplay(c.params);
    int16_t w[kChunkPixels];
    int16_t wb[kChunkPixels * 3];
    LineValueRing ring;
    for (int x0 = 0; x0 < src.width; x0 += kChunkPixels) {
        const int n = std::min(kChunkPixels, src.width - x0);
        const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
        BoxLines boxes(k, src, x0, n, c.params.yuv);
        for (int i = i0; i < i1; i++) {
            const int y = lines.first + 2 * i;
            WeightRowInput in = RowWeightInput(c, boxes, y, x0);
            if (in.sum) {
                in.sum = copy.Values(ring, i0, i1, i, x0);
            }
            if (OnePass(c, full)) {
                uint8_t *out[2] = {dst.Row(y) + at, dst.Row(y + 1) + at};
                const uint8_t *lines4[4] = {src.Row(y - 1) + at, src.Row(y) + at,
                                            src.Row(y + 1) + at, src.Row(y + 2) + at};
                k.fromFrameLines(out, lines4, in, n, bpp);
                copy.LineDone(ring, i0, i, x0, n);
                continue;
            }
            RowWeights(k, in, n, full, w);
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
            copy.LineDone(ring, i0, i, x0, n);
        }
    }
}

// Runs rows(band, i0, i1) over the run's lines and brings lineMask up to date: copied as the
// bands go when the run writes line values, else only where values were written outside a run.
template <typename Rows>
void RunLinesAndCopy(const WeightContext &c, const RunLines &lines, bool full, bool threads,
                     const Rows &rows)
{
    LineValueCopy copy(c, lines, c.params.lineDetectorOn && !full);
    if (threads) {
        // A line reads up to four frame lines and a map row, and writes up to two lines.
        RunRowBands(lines.count, 7 * RowBytes(), [&](int band, int i0, int i1) {
            rows(copy, i0, i1);
            copy.BandDone(band, i0, i1);
        });
    } else {
        rows(copy, 0, lines.count);
        copy.BandDone(0, 0, lines.count);
    }
    copy.Finish();
    const size_t values = static_cast<size_t>(c.frame.height / 2) * c.frame.width;
    if (!copy.Active()) {
        SettleLineValues(c.frame.width, c.frame.height);
    } else if (copy.ThroughRing()) {
        gLineSumBehindEnd = std::max(gLineSumBehindEnd, values);
    } else if (gStrayLineValuesEnd <= values) {
        gStrayLineValuesEnd = 0;
    }
}

void RunField(const EngineKernels &k, const WeightContext &c, int field, bool full, bool threads)
{
    const RunLines lines = FieldLineRange(c.params, c.frame.height, field);
    RunLinesAndCopy(c, lines, full, threads, [&](const LineValueCopy &copy, int i0, int i1) {
        FieldRows(k, c, lines, full, copy, i0, i1);
    });
    if (MaskDisplay(c.params)) {
        DoubleMaskLines(c.frame, lines.first, lines.count);
    }
}

void RunFromFrame(const EngineKernels &k, const FrameView &dst, const WeightContext &c, bool full,
                  bool threads)
{
    const RunLines lines = FromFrameLineRange(c.params, c.frame.height);
    RunLinesAndCopy(c, lines, full, threads, [&](const LineValueCopy &copy, int i0, int i1) {
        FromFrameRows(k, dst, c, lines, full, copy, i0, i1);
    });
}

} // namespace

void MotionMapRgb_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    MotionRows(kKernels_c, map, prev, cur, next, crop, false, 0,
               MotionPairRange(cur.height, crop).count);
}

void MotionMapYuv_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop)
{
    MotionRows(kKernels_c, map, prev, cur, next, crop, true, 0,
               MotionPairRange(cur.height, crop).count);
}

void DeinterlaceField_c(const WeightContext &c, int field, bool full)
{
    RunField(kKernels_c, c, field, full, false);
}

void DeinterlaceFromFrame_c(const FrameView &dst, const WeightContext &c, bool full)
{
    RunFromFrame(kKernels_c, dst, c, full, false);
}

void MotionMapsOfGroup(int count)
{
    const bool yuv = gFrameStore.yuvActive != 0;
    const bool crop = gConversionOptions.cropLetterbox != 0;
    const int h = static_cast<int>(gFrameStore.frameHeight);
    const MotionPairs range = MotionPairRange(h, crop);
    const int pairs = range.count;
    const int top = range.top;
    const int frames = std::min(count + 2, kMaxGroupFrames);
    FrameView views[kMaxGroupFrames];
    MapView maps[kMaxGroupFrames];
    for (int j = 0; j < frames; j++) {
        views[j] = SlotView(j);
        maps[j] = MotionMapView(j);
    }
    const EngineKernels &k = Kernels();
    RunRowBands(pairs, 2 * frames * RowBytes() + (frames - 2) * 4 * views[0].width,
                [&](int, int i0, int i1) {
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
    RunRowBands(MotionPairRange(c.height, crop).count, 8 * RowBytes(), [&](int, int i0, int i1) {
        MotionRows(k, MotionMapView(cur), SlotView(prev), c, SlotView(next), crop, false, i0, i1);
    });
}

void MotionMapYuv(int prev, int cur, int next)
{
    const bool crop = gConversionOptions.cropLetterbox != 0;
    const FrameView c = SlotView(cur);
    const EngineKernels &k = Kernels();
    RunRowBands(MotionPairRange(c.height, crop).count, 8 * RowBytes(), [&](int, int i0, int i1) {
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

void SettleLineValues(int width, int height)
{
    const size_t values = static_cast<size_t>(height / 2) * width;
    if (gStrayLineValuesEnd > 0) {
        std::memcpy(gFrameStore.lineMask, gFrameStore.lineMaskSum, values * sizeof(int32_t));
    }
    if (gStrayLineValuesEnd <= values) {
        gStrayLineValuesEnd = 0;
    }
}

int DeinterlaceWeight(int y, int x, int slot)
{
    const WeightContext c = SlotWeightContext(slot);
    if (c.params.lineDetectorOn) {
        // lineMaskSum level with lineMask before a value goes into it.
        if (gLineSumBehindEnd > 0) {
            std::memcpy(c.lineMaskSum, c.lineMask, gLineSumBehindEnd * sizeof(int32_t));
            gLineSumBehindEnd = 0;
        }
        const size_t at = static_cast<size_t>(y / 2) * c.frame.width + x;
        gStrayLineValuesEnd = std::max(gStrayLineValuesEnd, at + 1);
    }
    return DeinterlaceWeight_c(c, y, x);
}

void DeinterlaceField(int field, int slot, int full)
{
    RunField(Kernels(), SlotWeightContext(slot), field, full != 0, true);
}

void DeinterlaceFromFrame(int dst, int src, int full)
{
    RunFromFrame(Kernels(), SlotView(dst), SlotWeightContext(src), full != 0, true);
}

void CopyFieldLines(uint8_t *const *frames, int dst, int src, int parity)
{
    const size_t bytes = RowBytes();
    const int first = parity ? 1 : 0;
    const int lines = static_cast<int>(gFrameStore.sourceHeight) - first;
    RunRowBands(lines > 0 ? (lines + 1) / 2 : 0, 2 * bytes, [&](int, int i0, int i1) {
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
