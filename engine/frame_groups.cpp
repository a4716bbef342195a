#include "engine/frame_groups.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/frame_store.h"
#include "engine/internal/group_pipelines.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"
#include "engine/picture_effects.h"

PalToNtscCadence gPalToNtscCadence;

namespace {

// The weave of one PAL group by cadence phase and drop.
constexpr PalWeaveStep kPhase0[6] = {{0, 0, 1}, {0, 1, 2}, {1, 2, 3},
                                     {2, 2, 4}, {3, 3, 5}, {4, 4, 6}};
constexpr PalWeaveStep kPhase0Drop[5] = {{0, 0, 1}, {1, 1, 2}, {2, 2, 3}, {2, 3, 4}, {3, 4, 5}};
constexpr PalWeaveStep kPhase1[6] = {{5, 0, 1}, {0, 1, 2}, {1, 1, 3},
                                     {2, 2, 4}, {3, 3, 5}, {3, 4, 6}};
constexpr PalWeaveStep kPhase1Drop[6] = {{5, 0, 1}, {0, 1, 2}, {1, 2, 3},
                                         {2, 3, 4}, {3, 3, 5}, {4, 4, 6}};

// Grain and red boost on lines [first, end) of a converted frame.
void LineEffects(const FrameView &f, int first, int end)
{
    const ConversionOptions &o = gConversionOptions;
    if (o.addGrain || o.redBoost) {
        ApplyPictureEffectsRows(f, first, end, CurrentEffectParams());
    }
}

// Output lines [k0, k1) of ConvertLines_c.
void ConvertLineRange(const EngineKernels &k, const FrameView &dst, const FrameView &src,
                      int firstLine, int step, int divisor, int k0, int k1)
{
    const int bytes = dst.width * dst.bytesPerPixel;
    const int lastSource = src.height - 1;
    for (int i = k0; i < k1; i++) {
        const int acc = i * step;
        const int l = std::min(acc / divisor, lastSource);
        const int l1 = std::min(l + 1, lastSource);
        k.lerpRow(dst.Row(firstLine + i), src.Row(l), src.Row(l1), bytes, acc % divisor, divisor);
    }
}

FrameView HistoryView(int index, int lines)
{
    return BufferView(gFrameStore.historyFrames[index], static_cast<int>(gFrameStore.rowPitch),
                      lines);
}

int ConvertPalGroup(uint8_t *const *slots, int first)
{
    const ConversionOptions &o = gConversionOptions;
    PalToNtscCadence &c = gPalToNtscCadence;
    // 1: slots.
    SetSlotFrames(slots, kSlotCount);
    // 6, worked out first (it does not look at the frames): every 500 counted frames the weave
    // shifts by one field.
    if (c.frameCount > c.dropThreshold) {
        c.dropThreshold += 500;
        c.dropDue = 1;
    }
    c.frameCount += 6;
    const PalWeaveStep *weave;
    int frames;
    bool keepLast;
    if (c.phase == 0) {
        weave = c.dropDue ? kPhase0Drop : kPhase0;
        frames = c.dropDue ? 5 : 6;
        keepLast = c.dropDue != 0;
        if (c.dropDue) {
            c.dropDue = 0;
            c.phase = 1;
        }
    } else {
        weave = c.dropDue ? kPhase1Drop : kPhase1;
        frames = 6;
        keepLast = c.dropDue == 0;
        if (c.dropDue) {
            c.dropDue = 0;
            c.phase = 0;
        }
    }
    // 2..5 and 7 line by line, unless the options need whole-frame runs.
    if (ConvertPalGroupByLines(slots, first, weave, frames, keepLast)) {
        return frames;
    }
    // 2: deinterlace the odd lines where they move.
    if (o.deinterlace) {
        MotionMapsOfGroup(5);
        for (int s = 1; s <= 5; s++) {
            DeinterlaceField(2, s, first);
        }
    }
    // 3, 4: blur and flicker.
    if (o.blurLinesOnMotion) {
        for (int s = 1; s <= 5; s++) {
            BlurHorizontalLines(s);
        }
    }
    if (o.flickerRemoval) {
        for (int s = 1; s <= 5; s++) {
            RemoveFlicker(s, o.flickerRemoval);
        }
    }
    // 5: NTSC line count into history frames 0..4.
    for (int i = 0; i < 5; i++) {
        ConvertLines576To480(i + 1, i, o.unsqueezeLetterbox, o.cropLetterbox);
    }
    // 7: weave, then keep the last converted frame for the next group's first field.
    for (int i = 0; i < frames; i++) {
        InterleaveFieldsToFrame(weave[i].a, weave[i].b, weave[i].out);
    }
    if (keepLast) {
        KeepLastGroupFrame();
    }
    return frames;
}

int ConvertNtscFrame(uint8_t *const *slots, int first)
{
    const ConversionOptions &o = gConversionOptions;
    SetSlotFrames(slots, 3);
    if (o.deinterlace) {
        MotionMap(0, 1, 2);
    }
    // The unprocessed frame is the previous frame of the next call.
    CopyFrame(slots[0], slots[1]);
    if (o.deinterlace) {
        DeinterlaceField(2, 1, first);
    }
    if (o.blurLinesOnMotion) {
        BlurHorizontalLines(1);
    }
    if (o.cropLetterbox) {
        CropToLetterbox(1);
    } else if (o.unsqueezeLetterbox) {
        SqueezeToLetterbox(1);
    }
    if (o.redBoost || o.addGrain) {
        ApplyPictureEffects(1);
    }
    return 1;
}

} // namespace

void ConvertLines_c(const FrameView &dst, const FrameView &src, int firstLine, int lineCount,
                    int step, int divisor)
{
    ConvertLineRange(kKernels_c, dst, src, firstLine, step, divisor, 0, lineCount);
}

void ConvertLines(const FrameView &dst, const FrameView &src, int firstLine, int lineCount,
                  int step, int divisor)
{
    const EngineKernels &k = Kernels();
    // Each output line reads two source lines.
    RunRowBands(lineCount, 3 * static_cast<size_t>(dst.width) * dst.bytesPerPixel,
                [&](int, int k0, int k1) {
                    ConvertLineRange(k, dst, src, firstLine, step, divisor, k0, k1);
                });
}

void InterleaveFields_c(const FrameView &dst, const uint8_t *even, const uint8_t *odd)
{
    RunRowBands(dst.height, 2 * static_cast<size_t>(dst.pitch), [&](int, int y0, int y1) {
        for (int y = y0; y < y1; y++) {
            const uint8_t *src = (y & 1) ? odd : even;
            std::memcpy(dst.Row(y), src + static_cast<ptrdiff_t>(y) * dst.pitch,
                        static_cast<size_t>(dst.pitch));
        }
    });
}

int NtscSideHeight()
{
    const FrameStore &fs = gFrameStore;
    return IsHdFrame(fs.sourceWidth, fs.sourceHeight) ? static_cast<int>(fs.sourceHeight)
                                                      : gEngineSettings.ntscOutputHeight;
}

int ConvertFrameGroup(uint8_t *const *slots, int width, int height, int first)
{
    gFrameStore.frameWidth = static_cast<uint32_t>(width);
    gFrameStore.frameHeight = static_cast<uint32_t>(height);
    if (gEngineSettings.sourceIsPal) {
        return ConvertPalGroup(slots, first);
    }
    return ConvertNtscFrame(slots, first);
}

int KeptGroupOutputs(int outputs, int sourceFrames)
{
    if (sourceFrames >= 5 || outputs <= 0) {
        return outputs;
    }
    return sourceFrames <= 0 ? 0 : (outputs * sourceFrames + 4) / 5;
}

void ConvertLines576To480(int srcSlot, int history, int squeeze, int crop)
{
    const FrameStore &fs = gFrameStore;
    const int n = gEngineSettings.ntscOutputHeight;
    const int sourceLines = static_cast<int>(fs.sourceHeight);
    const FrameView src =
        BufferView(SlotView(srcSlot).base, static_cast<int>(fs.rowPitch), sourceLines);
    // 1: HD frames keep their lines, in either pixel format.
    if (IsHdFrame(fs.sourceWidth, fs.sourceHeight)) {
        std::memcpy(fs.historyFrames[history], src.base, sourceLines * RowBytes());
        return;
    }
    const FrameView dst = HistoryView(history, n);
    FrameView effects = dst;
    effects.width = static_cast<int>(fs.frameWidth);
    // 2: the bars of the squeezed picture.
    const int top = n == 486 ? 63 : 60;
    const int end = n == 486 ? 423 : 420;
    if (squeeze) {
        // 3: three quarters of 576 lines into lines top..end - 1.
        ConvertLines(dst, src, top, end - top, 8, 5);
        LineEffects(effects, top, end);
    } else {
        // 4: 576 lines into all n.
        ConvertLines(dst, src, 0, n, n == 486 ? 32 : 6, n == 486 ? 27 : 5);
        LineEffects(effects, 0, n);
    }
    // 6: black bars.
    if (squeeze || crop) {
        PaintBlackLines(dst, 0, top);
        PaintBlackLines(dst, end - 1, n - 1);
    }
}

void ConvertLines480To576(uint8_t *dst, int history)
{
    FrameStore &fs = gFrameStore;
    const ConversionOptions &o = gConversionOptions;
    // The source is the history frame at the source's own height (480 or 486 lines).
    const int sourceLines = static_cast<int>(fs.sourceHeight);
    const bool from486 = sourceLines == 486;
    const FrameView src = HistoryView(history, sourceLines);
    const FrameView out = BufferView(dst, static_cast<int>(fs.rowPitch), 576);
    // 1-3: all 576 lines, or the unsqueezed picture between bars.
    int first = 0;
    int count = 576;
    int step = from486 ? 27 : 5;
    int divisor = from486 ? 32 : 6;
    if (o.unsqueezeLetterbox) {
        first = 72;
        count = 432;
        step = from486 ? 9 : 10;
        divisor = from486 ? 8 : 9;
    }
    ConvertLines(out, src, first, count, step, divisor);
    FrameView effects = out;
    effects.width = static_cast<int>(fs.sourceWidth);
    LineEffects(effects, first, first + count);
    // 4: the kernels now work at PAL height, over the frame's own width.
    fs.frameHeight = 576;
    fs.frameWidth = fs.sourceWidth;
    // 5: flicker.
    if (o.flickerRemoval) {
        RemoveFlickerBuffer(dst, o.flickerRemoval);
    }
    // 6: bars.
    if (o.unsqueezeLetterbox || o.cropLetterbox) {
        PaintBlackLines(out, 0, 72);
        PaintBlackLines(out, 503, 575);
    }
}

void InterleaveFieldsToFrame(int a, int b, int out)
{
    const FrameStore &fs = gFrameStore;
    uint8_t *dst = fs.yuvActive ? fs.yuvSlots[out] : fs.rgbSlots[out];
    FrameView v = BufferView(dst, static_cast<int>(fs.rowPitch), NtscSideHeight());
    const uint8_t *first = fs.historyFrames[a];
    const uint8_t *second = fs.historyFrames[b];
    // a supplies the field shown first: the upper (even) one with "Output upper field first".
    if (gConversionOptions.upperFieldFirst) {
        InterleaveFields_c(v, first, second);
    } else {
        InterleaveFields_c(v, second, first);
    }
}

void KeepLastGroupFrame()
{
    std::memcpy(gFrameStore.historyFrames[5], gFrameStore.historyFrames[4],
                static_cast<size_t>(NtscSideHeight()) * RowBytes());
}

void StoreHistoryFrame(int index, const uint8_t *src)
{
    std::memcpy(gFrameStore.historyFrames[index], src, gFrameStore.sourceHeight * RowBytes());
}

void ResetCadenceCounter()
{
    gPalToNtscCadence = PalToNtscCadence{};
}
