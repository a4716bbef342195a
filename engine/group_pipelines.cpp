#include "engine/internal/group_pipelines.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/internal/group_rows.h"
#include "engine/internal/kernels.h"
#include "engine/picture_effects.h"
#include "platform/sys/random.h"

namespace {

// A line past every frame: where a step with nothing left to do stands.
constexpr int kEnd = INT_MAX / 2;
constexpr int kChunkBytes = kChunkPixels * 3;

// The items of one step, in order; item i works on line first + step x i.
struct Stage
{
    int first = 0;
    int count = 0;
    int step = 2;
    int next = 0;

    // The line of the next item (kEnd when none is left).
    int Line() const { return next < count ? first + step * next : kEnd; }
    bool Done() const { return next >= count; }

    // Runs items while ready(line) holds.
    template <typename Ready, typename Run> void Advance(const Ready &ready, const Run &run)
    {
        while (next < count && ready(Line())) {
            run(Line());
            next++;
        }
    }
};

// The lines of the frames that the motion maps read in their next round, asked for a few cache
// lines at a time from the steps between: those steps work on lines already in the cache, so the
// fetches from the shared cache overlap their arithmetic instead of stalling the maps.
struct LinesAhead
{
    const FrameView *frames = nullptr;
    int frameCount = 0;
    size_t from = 0; // bytes of each row: [from, to), from on a cache line
    size_t to = 0;
    int line = 0;
    int end = 0;
    int frame = 0;
    size_t at = 0;
    int perCall = 0;

    LinesAhead(const FrameView *f, int count, size_t byteFrom, size_t byteTo)
        : frames(f), frameCount(count), from(byteFrom & ~size_t(63)), to(byteTo)
    {}

    // Lines [first, last) of every frame, spread over about `calls` calls of Issue.
    void Range(int first, int last, int calls)
    {
        line = first;
        end = last;
        frame = 0;
        at = from;
        const size_t total = static_cast<size_t>(std::max(last - first, 0)) * frameCount
                             * ((to - from + 63) / 64);
        // More at once fills the core's miss buffers and stalls the step that asks.
        constexpr int kMaxPerCall = 24;
        perCall = static_cast<int>(
            std::min<size_t>((total + calls - 1) / static_cast<size_t>(std::max(calls, 1)),
                             kMaxPerCall));
    }

    void Issue()
    {
        size_t left = static_cast<size_t>(perCall) * 64;
        while (left > 0 && line < end) {
            const uint8_t *row = frames[frame].Row(line);
            const size_t stop = std::min(to, at + left);
            for (size_t a = at; a < stop; a += 64) {
                __builtin_prefetch(row + a, 0, 3);
            }
            left -= std::min(left, (stop - at + 63) / 64 * 64);
            at = stop;
            if (at >= to) {
                at = from;
                if (++frame == frameCount) {
                    frame = 0;
                    line++;
                }
            }
        }
    }
};

// Columns [x0, x0 + n) of a group; the last stripe also owns the row bytes past the width.
struct Stripe
{
    int x0;
    int n;
    bool last;
};

// Runs body(stripe) over stripes of [0, width), at most kChunkPixels wide and starting on
// multiples of 64 pixels, so that no two threads write one cache line: one stripe per thread, as
// far as the width allows.
template <typename Body> void RunColumnStripes(int width, const Body &body)
{
    constexpr int kUnit = 64;
    constexpr int kUnitsPerChunk = kChunkPixels / kUnit;
    const int units = (width + kUnit - 1) / kUnit;
    const EngineHooks &hooks = gEngineHooks;
    const int threads = hooks.parallelFor && hooks.workerThreads ? hooks.workerThreads() : 1;
    // Stripes of at least 512 pixels: narrower ones cost more in each line's steps and in
    // shorter runs of memory than the threads win, so a standard-definition group (720 pixels)
    // runs on one thread.
    constexpr int kMinUnits = 8;
    const int stripes = std::max(
        {std::min(threads, units / kMinUnits), (units + kUnitsPerChunk - 1) / kUnitsPerChunk, 1});
    auto run = [&](int i) {
        const int x0 = static_cast<int>(int64_t(i) * units / stripes) * kUnit;
        const int x1 = std::min(width, static_cast<int>(int64_t(i + 1) * units / stripes) * kUnit);
        body(Stripe{x0, x1 - x0, i == stripes - 1});
    };
    if (stripes == 1 || threads <= 1) {
        for (int i = 0; i < stripes; i++) {
            run(i);
        }
        return;
    }
    // One pointer captured, so the task fits in std::function without an allocation.
    const auto *r = &run;
    hooks.parallelFor(stripes, [r](int i) { (*r)(i); });
}

// The lines a step works on at a time before the steps after it catch up: a hundred or so
// kilobytes of every frame and map the group touches, which the caches hold.
int PairsPerRound(int n, int bpp, int frames, int maps)
{
    constexpr int kRoundBytes = 128 * 1024;
    const int lineBytes = std::max(1, n * (bpp * frames + 2 * maps));
    return std::clamp(kRoundBytes / lineBytes / 2, 2, 32);
}

// A vertical filter in place, a line at a time: each line goes to a ring and back into the frame
// `reach` lines later, when the filter no longer reads it for the lines after it.
struct InPlaceLines
{
    FrameView frame;
    Stage lines;
    int reach = 1;
    uint8_t ring[3][kChunkBytes];

    // Makes line y with make(out) and writes back the line `reach` above it.
    template <typename Make> void Line(int y, int x0, int n, const Make &make)
    {
        make(ring[y % 3]);
        if (y - reach >= lines.first) {
            Commit(y - reach, x0, n);
        }
        // The lines still in the ring once every line is made.
        if (lines.next + 1 == lines.count) {
            const int end = lines.first + lines.count;
            for (int t = std::max(lines.first, end - reach); t < end; t++) {
                Commit(t, x0, n);
            }
        }
    }

    // Lines before this are in their final state and no longer read by the filter.
    int Behind() const { return lines.Done() ? kEnd : lines.Line() - reach; }

    void Commit(int y, int x0, int n)
    {
        const int bpp = frame.bytesPerPixel;
        std::memcpy(frame.Row(y) + static_cast<ptrdiff_t>(x0) * bpp, ring[y % 3],
                    static_cast<size_t>(n) * bpp);
    }
};

// The map rows of slots 1..5 from lines y and y + 1 of slots 0..6, columns [x0, x0 + n).
void MapLinePair(const EngineKernels &k, const FrameView *f, const MapView *m, int y, int x0, int n,
                 bool yuv)
{
    const size_t at = static_cast<size_t>(x0) * f[0].bytesPerPixel;
    int32_t *out[kSlotCount];
    const uint8_t *line0[kSlotCount];
    const uint8_t *line1[kSlotCount];
    for (int j = 0; j < kSlotCount; j++) {
        line0[j] = f[j].Row(y) + at;
        line1[j] = f[j].Row(y + 1) + at;
    }
    for (int j = 0; j + 2 < kSlotCount; j++) {
        out[j] = m[j + 1].Row(y / 2) + x0;
    }
    k.groupMotionRows(out, line0, line1, kSlotCount, n, yuv);
}

// What every group pipeline works on: the seven slots at the working size and their maps.
struct GroupFrames
{
    const EngineKernels *k;
    FrameView frames[kSlotCount];
    MapView maps[kSlotCount];
    DeinterlaceParams params;
    size_t rowBytes;
    bool blur;
    int blurAmount;
    int sensitivity;
};

GroupFrames SlotFrames(uint8_t *const *slots, const DeinterlaceParams &p)
{
    const FrameStore &fs = gFrameStore;
    const ConversionOptions &o = gConversionOptions;
    GroupFrames g;
    g.k = &Kernels();
    for (int j = 0; j < kSlotCount; j++) {
        g.frames[j] =
            BufferView(slots[j], static_cast<int>(fs.frameWidth), static_cast<int>(fs.frameHeight));
        g.maps[j] = MotionMapView(j);
    }
    g.params = p;
    g.rowBytes = RowBytes();
    g.blur = o.blurLinesOnMotion != 0;
    g.blurAmount = o.blurAmount;
    g.sensitivity = o.motionSensitivity;
    return g;
}

// What a pulldown group's rebuild works on.
struct PulldownGroup : GroupFrames
{
    int pattern;
};

// A field line in place (weight 256 with `full`), and the filtered copy of two frame lines, over
// columns [x0, x0 + n).
void FieldLine(const EngineKernels &k, const FrameView &f, const MapView &map,
               const DeinterlaceParams &p, bool full, int y, int x0, int n)
{
    const int bpp = f.bytesPerPixel;
    const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
    if (!full) {
        k.fieldLine(f.Row(y) + at, f.Row(y - 1) + at, f.Row(y + 1) + at,
                    MotionWeightInput(map, p, y, x0), n, bpp);
        return;
    }
    int16_t w[kChunkPixels];
    int16_t wb[kChunkPixels * 3];
    MotionWeights(k, map, p, y, x0, n, full, w);
    k.expandWeights(wb, w, n, bpp);
    k.fieldBlendRow(f.Row(y) + at, f.Row(y - 1) + at, f.Row(y + 1) + at, wb, n * bpp);
}

void FromFrameLines(const EngineKernels &k, const FrameView &dst, const FrameView &src,
                    const MapView &map, const DeinterlaceParams &p, int y, int x0, int n)
{
    const int bpp = src.bytesPerPixel;
    const ptrdiff_t at = static_cast<ptrdiff_t>(x0) * bpp;
    uint8_t *out[2] = {dst.Row(y) + at, dst.Row(y + 1) + at};
    const uint8_t *lines[4] = {src.Row(y - 1) + at, src.Row(y) + at, src.Row(y + 1) + at,
                               src.Row(y + 2) + at};
    k.fromFrameLines(out, lines, MotionWeightInput(map, p, y, x0), n, bpp);
}

// The steps of RemovePulldownGroup over one stripe, in the order and with the line lags that
// give each step the lines it would see after the steps before it had run over whole frames:
//   maps:   the motion maps of slots 1..5 from the line pairs of slots 0..6
//   copy:   slot 4 takes the lines of one parity of slot 5
//   from5:  slot 5 from slot 4, filtered (writes lines y, y + 1; reads slot 4's y - 1 .. y + 2)
//   fieldA: one field of slot 1
//   from4:  slot 4 from slot 2, filtered, once from5 has read slot 4's lines
//   fieldB: the other field of slot 3
//   blur:   slots 1, 4, 3, 5, each with its own map, once their lines are final
void RebuildPulldownStripe(const PulldownGroup &g, const Stripe &s)
{
    const EngineKernels &k = *g.k;
    const int x0 = s.x0;
    const int n = s.n;
    const FrameView *f = g.frames;
    const MapView *m = g.maps;
    const DeinterlaceParams &p = g.params;
    const int h = f[0].height;
    const int bpp = f[0].bytesPerPixel;
    const bool second = g.pattern == 2;
    const int copyParity = second ? 1 : 0;
    const size_t copyFrom = static_cast<size_t>(x0) * bpp;
    const size_t copyTo = s.last ? g.rowBytes : static_cast<size_t>(x0 + n) * bpp;

    const MotionPairs pairs = MotionPairRange(h, p.cropLetterbox);
    Stage maps{pairs.top, pairs.count};
    Stage copy{copyParity, h > copyParity ? (h - copyParity + 1) / 2 : 0};
    const RunLines fromRange = FromFrameLineRange(p, h);
    Stage from5{fromRange.first, fromRange.count};
    Stage from4 = from5;
    const RunLines aRange = FieldLineRange(p, h, second ? 1 : 2);
    const RunLines bRange = FieldLineRange(p, h, second ? 2 : 1);
    Stage fieldA{aRange.first, aRange.count};
    Stage fieldB{bRange.first, bRange.count};

    // The blur of the output frames: slots 1, 4, 3, 5 with their own maps, each once the step
    // that makes its lines is past them.
    const int blurSlots[4] = {1, 4, 3, 5};
    const Stage *makers[4] = {&fieldA, &from4, &fieldB, &from5};
    InPlaceLines blurs[4];
    const bool blur = g.blur && h - 2 > 2 && g.blurAmount >= 1 && g.blurAmount <= 3;
    for (int j = 0; j < 4; j++) {
        blurs[j].frame = f[blurSlots[j]];
        blurs[j].lines = Stage{2, blur ? h - 4 : 0, 1};
        blurs[j].reach = g.blurAmount == 3 ? 2 : 1;
    }

    const int perRound = PairsPerRound(n, bpp, kSlotCount, 5);
    const bool yuv = p.yuv;
    LinesAhead ahead(f, kSlotCount, copyFrom, copyTo);
    while (!maps.Done() || !copy.Done() || !from5.Done() || !fieldA.Done() || !from4.Done()
           || !fieldB.Done() || std::any_of(blurs, blurs + 4, [](const InPlaceLines &b) {
                  return !b.lines.Done();
              })) {
        // A few line pairs of maps, then every other step as far as they let it go: lines below
        // `read` have been read by the maps, lines below `copied` copied.
        const int stop = maps.next + perRound;
        maps.Advance([&](int) { return maps.next < stop; },
                     [&](int y) { MapLinePair(k, f, m, y, x0, n, yuv); });
        const int read = maps.Line();
        if (!maps.Done()) {
            // Per line, the copy, the four rebuilds (each every other line) and four blurs.
            const int last = std::min(read + 2 * perRound, maps.first + 2 * maps.count);
            ahead.Range(read, last, (last - read) * (g.blur ? 13 : 5) / 2);
        }
        copy.Advance([&](int y) { return read > y; },
                     [&](int y) {
                         ahead.Issue();
                         std::memcpy(f[4].Row(y) + copyFrom, f[5].Row(y) + copyFrom,
                                     copyTo - copyFrom);
                     });
        const int copied = copy.Line();
        from5.Advance([&](int y) { return copied > y + 2 && read > y + 1; },
                      [&](int y) {
                          ahead.Issue();
                          FromFrameLines(k, f[5], f[4], m[4], p, y, x0, n);
                      });
        fieldA.Advance([&](int y) { return read > y + 1; },
                       [&](int y) {
                           ahead.Issue();
                           FieldLine(k, f[1], m[1], p, false, y, x0, n);
                       });
        // Slot 4 is rewritten once from5 has read every line it writes.
        from4.Advance([&](int y) { return from5.Line() > y + 2 && copied > y + 1 && read > y + 1; },
                      [&](int y) {
                          ahead.Issue();
                          FromFrameLines(k, f[4], f[2], m[2], p, y, x0, n);
                      });
        fieldB.Advance([&](int y) { return read > y + 1; },
                       [&](int y) {
                           ahead.Issue();
                           FieldLine(k, f[3], m[3], p, false, y, x0, n);
                       });
        for (int j = 0; j < 4; j++) {
            InPlaceLines &b = blurs[j];
            const MapView &map = m[blurSlots[j]];
            const int made = makers[j]->Line();
            b.lines.Advance([&](int y) { return made > y + 2 && copied > y + 2 && read > y + 2; },
                            [&](int y) {
                                ahead.Issue();
                                b.Line(y, x0, n, [&](uint8_t *out) {
                                    BlurLine(k, b.frame, map, g.blurAmount, g.sensitivity, y, x0, n,
                                             out);
                                });
                            });
        }
    }
}

// What a PAL group's conversion works on.
struct PalGroup : GroupFrames
{
    uint8_t *history[kHistoryFrameCount];
    bool deinterlace;
    bool full;
    int flickerLevel;
    // Line conversion: HD frames are copied; otherwise output line k of `conversion` lines from
    // `first` reads source lines (k - first) x step / divisor and the one below.
    bool hd;
    int sourceLines;
    int ntscLines;
    int first;
    int count;
    int step;
    int divisor;
    int barTop; // with bars, lines 0 .. barTop and barEnd .. ntscLines - 1 are black
    int barEnd;
    bool bars;
    bool effects;
    EffectParams effectParams;
    uint32_t grainStart; // the generator's state before the first frame's effects
    uint64_t grainPerLine;
    int effectWidth;
    // Weave.
    const PalWeaveStep *weave;
    int weaveCount;
    bool keepLast;
    bool upperFieldFirst;
    int weaveLines;
    // The output frames are woven straight from each line conversion, without history frames
    // 0..4 (which nothing reads after the group): output line y then reads source lines y and
    // below only, which holds unless the picture is squeezed or has fewer lines than the output.
    bool direct;
};

// The steps of ConvertFrameGroup for a PAL-family source over one stripe, each behind the steps
// before it by the lines they still read or write:
//   maps:      the motion maps of slots 1..5
//   field:     the odd lines of slots 1..5
//   blur:      slots 1..5 in place
//   flicker:   slots 1..5 in place
//   convert:   slots 1..5 to NTSC lines in history frames 0..4, with the effects and the bars
//   weave:     slots 1..6 from the history frames, once nothing reads their lines any more;
//              history frame 5 takes frame 4's lines after them
void ConvertPalStripe(const PalGroup &g, const Stripe &s)
{
    const EngineKernels &k = *g.k;
    const int x0 = s.x0;
    const int n = s.n;
    const FrameView *f = g.frames;
    const DeinterlaceParams &p = g.params;
    const int h = f[0].height;
    const int bpp = f[0].bytesPerPixel;
    const size_t copyFrom = static_cast<size_t>(x0) * bpp;
    const size_t copyTo = s.last ? g.rowBytes : static_cast<size_t>(x0 + n) * bpp;
    const int rowPixels = static_cast<int>((copyTo - copyFrom) / bpp);

    const MotionPairs pairs = MotionPairRange(h, p.cropLetterbox);
    Stage maps{pairs.top, g.deinterlace ? pairs.count : 0};
    const RunLines fieldRange = FieldLineRange(p, h, 2);
    Stage fields[6];
    InPlaceLines blurs[6];
    InPlaceLines flickers[6];
    Stage convert[5];
    const bool blur = g.blur && h - 2 > 2 && g.blurAmount >= 1 && g.blurAmount <= 3;
    const bool flicker = g.flickerLevel > 0 && h >= 3;
    for (int sl = 1; sl <= 5; sl++) {
        fields[sl] = Stage{fieldRange.first, g.deinterlace ? fieldRange.count : 0};
        blurs[sl].frame = f[sl];
        blurs[sl].lines = Stage{2, blur ? h - 4 : 0, 1};
        blurs[sl].reach = g.blurAmount == 3 ? 2 : 1;
        flickers[sl].frame = f[sl];
        flickers[sl].lines = Stage{1, flicker ? h - 2 : 0, 1};
        flickers[sl].reach = 1;
        convert[sl - 1] = Stage{0, g.direct ? 0 : g.hd ? g.sourceLines : g.ntscLines, 1};
    }
    Stage weave{0, g.weaveLines, 1};

    // The source lines output line y of the conversion reads, the second at most the last.
    auto sourceLine = [&](int y) {
        const int acc = (y - g.first) * g.step;
        return std::clamp(acc / g.divisor, 0, g.sourceLines - 1);
    };
    auto converted = [&](int y) { return y >= g.first && y < g.first + g.count; };
    auto isBar = [&](int y) { return g.bars && (y <= g.barTop || y >= g.barEnd); };
    // Lines of slot `sl` before this are final.
    auto final = [&](int sl) {
        return std::min({fields[sl].Line(), blurs[sl].Behind(), flickers[sl].Behind()});
    };
    // Lines of slot `sl` before this are read by no step any more.
    auto behind = [&](int sl) {
        const int read = maps.Line();
        if (sl == 6) {
            return read;
        }
        const Stage &c = convert[sl - 1];
        int consumed = kEnd;
        if (!c.Done()) {
            consumed = g.hd ? c.Line() : sourceLine(std::max(c.Line(), g.first));
        }
        return std::min({read, fields[sl].Done() ? kEnd : fields[sl].Line() - 1, blurs[sl].Behind(),
                         flickers[sl].Behind(), consumed});
    };

    // Direct weave: output line y of every frame from the conversions of line y of frames
    // 0..4, made once each. A conversion is a source line itself where it takes no arithmetic
    // (HD frames, f = 0 without effects), else it is made in `made`.
    const size_t spanBytes = copyTo - copyFrom;
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(g.rowBytes);
    uint8_t made[5][kChunkBytes];
    uint8_t black[kChunkBytes];
    uint8_t oldLast[kChunkBytes];
    if (g.direct && g.bars) {
        PaintBlackLines(BufferView(black, rowPixels, 1), 0, 0);
    }
    auto sourceRow = [&](int sl, int line) { return f[sl].base + line * pitch + copyFrom; };
    auto DirectLineReady = [&](int y) {
        const int need = g.hd ? y : std::min(sourceLine(y) + 1, g.sourceLines - 1);
        for (int sl = 1; sl <= 5; sl++) {
            if (final(sl) <= need || behind(sl) <= y) {
                return false;
            }
        }
        // Slot 6 is an output: the maps must have read its line.
        return behind(6) > y;
    };
    auto WeaveDirectLine = [&](int y) {
        const uint8_t *conv[6] = {};
        // a supplies the field shown first: the even one with upper field first.
        const bool fromA = g.upperFieldFirst ? (y % 2 == 0) : (y % 2 == 1);
        uint8_t *last = g.history[5] + y * pitch + copyFrom;
        conv[5] = last;
        // History 5 takes frame 4's line (made straight into it) before any output overwrites
        // the slot it may sit in; an output that reads the old line reads a copy.
        if (g.keepLast) {
            for (int j = 0; j < g.weaveCount; j++) {
                if ((fromA ? g.weave[j].a : g.weave[j].b) == 5) {
                    std::memcpy(oldLast, last, spanBytes);
                    conv[5] = oldLast;
                    break;
                }
            }
        }
        for (int i = 0; i < 5; i++) {
            const int sl = i + 1;
            if (g.hd) {
                conv[i] = sourceRow(sl, y);
                continue;
            }
            if (isBar(y)) {
                conv[i] = black;
                continue;
            }
            const int acc = y * g.step;
            const int l = sourceLine(y);
            const int l1 = std::min(l + 1, g.sourceLines - 1);
            const int fraction = acc % g.divisor;
            if (fraction == 0 && !g.effects) {
                conv[i] = sourceRow(sl, l);
                continue;
            }
            uint8_t *out = i == 4 && g.keepLast ? last : made[i];
            k.lerpRow(out, sourceRow(sl, l), sourceRow(sl, l1), static_cast<int>(spanBytes),
                      fraction, g.divisor);
            const int effectPixels = std::min(n, g.effectWidth - x0);
            if (g.effects && effectPixels > 0) {
                const uint64_t line = static_cast<uint64_t>(i) * g.count + y;
                const uint32_t state = lc::CrtRandAdvance(
                    g.grainStart, g.grainPerLine * line + (g.grainPerLine ? x0 : 0));
                k.effectsRow(out, effectPixels, g.effectParams, state);
            }
            conv[i] = out;
        }
        if (g.keepLast && conv[4] != last) {
            std::memcpy(last, conv[4], spanBytes);
        }
        // Outputs from the last down: each reads lines of slots up to its own, which the outputs
        // after it have not overwritten yet.
        for (int j = g.weaveCount - 1; j >= 0; j--) {
            const PalWeaveStep &st = g.weave[j];
            uint8_t *dst = sourceRow(st.out, y);
            const uint8_t *src = conv[fromA ? st.a : st.b];
            if (src != dst) {
                std::memcpy(dst, src, spanBytes);
            }
        }
    };

    const int perRound = PairsPerRound(n, bpp, kSlotCount, 5);
    const bool yuv = p.yuv;
    LinesAhead ahead(f, kSlotCount, copyFrom, copyTo);
    // Per line, the five field rebuilds (each every other line), the filters and line
    // conversions of the five frames, and the weave.
    const int callsPerTwoLines = (g.deinterlace ? 5 : 0) + (blur ? 10 : 0) + (flicker ? 10 : 0)
                                 + (g.direct ? 2 : 12);
    auto busy = [&] {
        if (!maps.Done() || !weave.Done()) {
            return true;
        }
        for (int sl = 1; sl <= 5; sl++) {
            if (!fields[sl].Done() || !blurs[sl].lines.Done() || !flickers[sl].lines.Done()
                || !convert[sl - 1].Done()) {
                return true;
            }
        }
        return false;
    };
    while (busy()) {
        // A few line pairs of maps, then every other step as far as they let it go.
        const int stop = maps.next + perRound;
        maps.Advance([&](int) { return maps.next < stop; },
                     [&](int y) { MapLinePair(k, f, g.maps, y, x0, n, yuv); });
        const int read = maps.Line();
        if (!maps.Done()) {
            const int last = std::min(read + 2 * perRound, maps.first + 2 * maps.count);
            ahead.Range(read, last, (last - read) * callsPerTwoLines / 2);
        }
        for (int sl = 1; sl <= 5; sl++) {
            fields[sl].Advance([&](int y) { return read > y + 1; },
                               [&](int y) {
                                   ahead.Issue();
                                   FieldLine(k, f[sl], g.maps[sl], p, g.full, y, x0, n);
                               });
            const int fielded = fields[sl].Line();
            InPlaceLines &b = blurs[sl];
            b.lines.Advance([&](int y) { return fielded > y + 2 && read > y + 2; },
                            [&](int y) {
                                ahead.Issue();
                                b.Line(y, x0, n, [&](uint8_t *out) {
                                    BlurLine(k, f[sl], g.maps[sl], g.blurAmount, g.sensitivity, y,
                                             x0, n, out);
                                });
                            });
            const int blurred = b.Behind();
            InPlaceLines &fl = flickers[sl];
            fl.lines.Advance(
                [&](int y) { return fielded > y + 1 && blurred > y + 1 && read > y + 1; },
                [&](int y) {
                    ahead.Issue();
                    fl.Line(y, x0, n, [&](uint8_t *out) {
                        FlickerLine(k, f[sl], g.flickerLevel, y, x0, n, out);
                    });
                });
            const int ready = final(sl);
            const int i = sl - 1;
            uint8_t *dst = g.history[i];
            const uint8_t *src = f[sl].base;
            if (g.hd) {
                convert[i].Advance([&](int y) { return ready > y; },
                                   [&](int y) {
                                       std::memcpy(dst + y * pitch + copyFrom,
                                                   src + y * pitch + copyFrom, copyTo - copyFrom);
                                   });
                continue;
            }
            convert[i].Advance(
                [&](int y) {
                    return isBar(y) || !converted(y)
                           || ready > std::min(sourceLine(y) + 1, g.sourceLines - 1);
                },
                [&](int y) {
                    ahead.Issue();
                    uint8_t *row = dst + y * pitch;
                    if (isBar(y)) {
                        FrameView bar = BufferView(row + copyFrom, rowPixels, 1);
                        PaintBlackLines(bar, 0, 0);
                        return;
                    }
                    if (!converted(y)) {
                        return;
                    }
                    const int acc = (y - g.first) * g.step;
                    const int l = sourceLine(y);
                    const int l1 = std::min(l + 1, g.sourceLines - 1);
                    k.lerpRow(row + copyFrom, src + l * pitch + copyFrom,
                              src + l1 * pitch + copyFrom, static_cast<int>(copyTo - copyFrom),
                              acc % g.divisor, g.divisor);
                    const int effectPixels = std::min(n, g.effectWidth - x0);
                    if (g.effects && effectPixels > 0) {
                        const uint64_t line = static_cast<uint64_t>(i) * g.count + (y - g.first);
                        const uint32_t state = lc::CrtRandAdvance(
                            g.grainStart, g.grainPerLine * line + (g.grainPerLine ? x0 : 0));
                        k.effectsRow(row + copyFrom, effectPixels, g.effectParams, state);
                    }
                });
        }
        if (g.direct) {
            weave.Advance([&](int y) { return DirectLineReady(y); },
                          [&](int y) {
                              ahead.Issue();
                              WeaveDirectLine(y);
                          });
            continue;
        }
        // The weave: every output frame's line y at once, then history 5 takes frame 4's.
        weave.Advance(
            [&](int y) {
                for (int j = 0; j < g.weaveCount; j++) {
                    const PalWeaveStep &st = g.weave[j];
                    for (int hIndex : {st.a, st.b}) {
                        if (hIndex < 5 && convert[hIndex].Line() <= y) {
                            return false;
                        }
                    }
                    if (behind(st.out) <= y) {
                        return false;
                    }
                }
                return !g.keepLast || convert[4].Line() > y;
            },
            [&](int y) {
                const ptrdiff_t at = static_cast<ptrdiff_t>(y) * g.rowBytes + copyFrom;
                for (int j = 0; j < g.weaveCount; j++) {
                    const PalWeaveStep &st = g.weave[j];
                    // a supplies the field shown first: the even one with upper field first.
                    const bool fromA = g.upperFieldFirst ? (y % 2 == 0) : (y % 2 == 1);
                    std::memcpy(f[st.out].base + at, g.history[fromA ? st.a : st.b] + at,
                                copyTo - copyFrom);
                }
                if (g.keepLast) {
                    std::memcpy(g.history[5] + at, g.history[4] + at, copyTo - copyFrom);
                }
            });
    }
}

} // namespace

bool gGroupsByLines = true;

bool RebuildPulldownGroupByLines(uint8_t *const *slots, int pattern)
{
    const FrameStore &fs = gFrameStore;
    const DeinterlaceParams p = CurrentDeinterlaceParams();
    if (!gGroupsByLines || p.lineDetectorOn || p.showMotionMask || p.showLineMask) {
        return false;
    }
    PulldownGroup g;
    static_cast<GroupFrames &>(g) = SlotFrames(slots, p);
    g.pattern = pattern;
    const int width = static_cast<int>(fs.frameWidth);
    const int height = static_cast<int>(fs.frameHeight);
    RunColumnStripes(width, [&](const Stripe &s) { RebuildPulldownStripe(g, s); });
    // The four runs wrote no line values.
    SettleLineValues(width, height);
    return true;
}

bool ConvertPalGroupByLines(uint8_t *const *slots, int fullWeight, const PalWeaveStep *weave,
                            int weaveCount, bool keepLast)
{
    const FrameStore &fs = gFrameStore;
    const ConversionOptions &o = gConversionOptions;
    const DeinterlaceParams p = CurrentDeinterlaceParams();
    if (!gGroupsByLines
        || (o.deinterlace && (p.lineDetectorOn || p.showMotionMask || p.showLineMask))) {
        return false;
    }
    PalGroup g;
    static_cast<GroupFrames &>(g) = SlotFrames(slots, p);
    const int width = static_cast<int>(fs.frameWidth);
    const int height = static_cast<int>(fs.frameHeight);
    for (int j = 0; j < kHistoryFrameCount; j++) {
        g.history[j] = fs.historyFrames[j];
    }
    g.deinterlace = o.deinterlace != 0;
    g.full = fullWeight != 0;
    g.flickerLevel = std::clamp(o.flickerRemoval, 0, 4);
    g.hd = IsHdFrame(fs.sourceWidth, fs.sourceHeight);
    g.sourceLines = static_cast<int>(fs.sourceHeight);
    g.ntscLines = gEngineSettings.ntscOutputHeight;
    const bool n486 = g.ntscLines == 486;
    g.barTop = n486 ? 63 : 60;
    g.barEnd = (n486 ? 423 : 420) - 1;
    if (o.unsqueezeLetterbox) {
        g.first = g.barTop;
        g.count = g.barEnd + 1 - g.barTop;
        g.step = 8;
        g.divisor = 5;
    } else {
        g.first = 0;
        g.count = g.ntscLines;
        g.step = n486 ? 32 : 6;
        g.divisor = n486 ? 27 : 5;
    }
    g.bars = o.unsqueezeLetterbox || o.cropLetterbox;
    g.effects = !g.hd && (o.addGrain || o.redBoost);
    g.effectParams = CurrentEffectParams();
    g.grainStart = lc::CrtRandState();
    g.grainPerLine = o.addGrain ? static_cast<uint64_t>(std::max(width, 0)) : 0;
    g.effectWidth = width;
    g.weave = weave;
    g.weaveCount = weaveCount;
    g.keepLast = keepLast;
    g.upperFieldFirst = o.upperFieldFirst != 0;
    g.weaveLines = NtscSideHeight();
    g.direct = !o.unsqueezeLetterbox && (g.hd || g.sourceLines >= g.ntscLines)
               && g.rowBytes <= static_cast<size_t>(kChunkBytes);
    RunColumnStripes(width, [&](const Stripe &s) { ConvertPalStripe(g, s); });
    if (g.effects) {
        lc::CrtSrand(lc::CrtRandAdvance(g.grainStart, g.grainPerLine * 5 * g.count));
    }
    if (g.deinterlace) {
        SettleLineValues(width, height);
    }
    return true;
}
