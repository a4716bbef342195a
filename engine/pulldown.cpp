#include "engine/pulldown.h"

#include <cstdint>
#include <limits>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/frame_store.h"
#include "engine/picture_effects.h"

PulldownDetector gPulldownDetector;

namespace {

// Each line sum is scaled down so that a frame's score stays small.
constexpr int kLineSumShift = 8;

int64_t LineDifference(const uint8_t *a, const uint8_t *b, int width, bool yuv)
{
    int64_t sum = 0;
    if (yuv) {
        for (int x = 0; x < width; x++) {
            const int d = a[2 * x] - b[2 * x];
            sum += d * d;
        }
    } else {
        for (int i = 0; i < width * 3; i++) {
            const int d = a[i] - b[i];
            sum += d * d;
        }
    }
    return sum;
}

FrameView SourceSlot(uint8_t *const *slots, int i)
{
    const FrameStore &fs = gFrameStore;
    return BufferView(slots[i], static_cast<int>(fs.sourceWidth),
                      static_cast<int>(fs.sourceHeight));
}

} // namespace

int64_t FieldMatchScore32_c(const FrameView &a, const FrameView &b, int parity, bool yuv)
{
    const int h = a.height;
    if (h <= 4) {
        return 0;
    }
    int64_t result = 0;
    const int lines = (h - 5) / 2 + 1;
    for (int k = 0; k < lines; k++) {
        const int y = parity + 2 + 2 * k;
        result += LineDifference(a.Row(y), b.Row(y), a.width, yuv) >> kLineSumShift;
    }
    return result;
}

int64_t FieldMatchScore2332_c(const FrameView &prev, const FrameView &cur, const FrameView &next,
                              bool evenWithNext, bool yuv)
{
    const int h = cur.height;
    if (h <= 4) {
        return 0;
    }
    const FrameView &evenOther = evenWithNext ? next : prev;
    const FrameView &oddOther = evenWithNext ? prev : next;
    int64_t result = 0;
    for (int k = 0; k <= (h - 5) / 2; k++) {
        const int e = 2 + 2 * k;
        const int o = 3 + 2 * k;
        const int64_t sum = LineDifference(cur.Row(e), evenOther.Row(e), cur.width, yuv)
                            + LineDifference(oddOther.Row(o), cur.Row(o), cur.width, yuv);
        result += sum >> kLineSumShift;
    }
    return result;
}

int64_t FieldMatchScore32(uint8_t *const *slots, int parity, int a, int b)
{
    return FieldMatchScore32_c(SourceSlot(slots, a), SourceSlot(slots, b), parity,
                               gFrameStore.yuvActive != 0);
}

int64_t FieldMatchScore2332(uint8_t *const *slots, int i, bool evenWithNext)
{
    return FieldMatchScore2332_c(SourceSlot(slots, i - 1), SourceSlot(slots, i),
                                 SourceSlot(slots, i + 1), evenWithNext,
                                 gFrameStore.yuvActive != 0);
}

int PulldownFieldParity(int parityFlag)
{
    int p = gFrameStore.sourceWidth <= kHdMinWidth ? 1 : 0;
    if (parityFlag == 0) {
        p = 1 - p;
    }
    return p;
}

int DetectPulldownPhase(uint8_t *const *slots, int *outList, int parityFlag)
{
    PulldownDetector &d = gPulldownDetector;
    const ConversionOptions &o = gConversionOptions;
    const int passesLeft = gEngineSettings.passesLeft;
    // p is the field that repeats across a phase's frame pair; the other field is repaired.
    const int p = PulldownFieldParity(parityFlag);

    // 1: score the five phases.
    if (passesLeft == 2 || !o.twoPassPulldownRemoval) {
        if (o.pulldown2332To25P) {
            for (int i = 0; i < 5; i++) {
                d.scores[i] = FieldMatchScore2332(slots, i + 1, p == 1);
            }
        } else {
            for (int i = 0; i < 5; i++) {
                d.scores[i] = FieldMatchScore32(slots, p, i, i + 1);
            }
            // The other field of the cadence repeats two frames later.
            d.scores[4] += FieldMatchScore32(slots, 1 - p, 1, 2);
            d.scores[0] += FieldMatchScore32(slots, 1 - p, 2, 3);
            d.scores[1] += FieldMatchScore32(slots, 1 - p, 3, 4);
            d.scores[2] += FieldMatchScore32(slots, 1 - p, 4, 5);
            d.scores[3] += FieldMatchScore32(slots, 1 - p, 5, 6);
        }
        if (o.twoPassPulldownRemoval) {
            for (int j = 0; j < 5; j++) {
                d.totals[j] += d.scores[j];
            }
        }
    }

    // 2: the analysis pass produces no frames.
    d.outputCount = 0;
    if (passesLeft != 1) {
        return 0;
    }

    // 3: the lowest score; the lowest index wins ties.
    const int64_t *candidates = o.twoPassPulldownRemoval ? d.totals : d.scores;
    int64_t best = std::numeric_limits<int64_t>::max();
    for (int j = 0; j < 5; j++) {
        if (candidates[j] < best) {
            best = candidates[j];
            d.phase = j;
        }
    }

    // 4: 3:2 repair: the frame after the dropped one takes the dropped frame's other field.
    if (o.pulldown32To25P) {
        const int dst = d.phase == 4 ? 1 : d.phase + 2;
        const int src = d.phase == 4 ? 0 : d.phase + 1;
        CopyFieldLines(slots, dst, src, 1 - p);
    }

    // 5: the four kept slots in order.
    d.outputCount = 4;
    int n = 0;
    for (int s = 1; s <= 5; s++) {
        if (s != d.phase + 1) {
            outList[n++] = s;
        }
    }
    return 4;
}

void ResetPulldownScores()
{
    for (int64_t &t : gPulldownDetector.totals) {
        t = 0;
    }
}

void RemovePulldownGroup(uint8_t *const *slots, int *outList, int pattern)
{
    FrameStore &fs = gFrameStore;
    const ConversionOptions &o = gConversionOptions;
    // 1: slots and working size.
    SetSlotFrames(slots, kSlotCount);
    fs.frameWidth = fs.sourceWidth;
    fs.frameHeight = fs.sourceHeight;

    // 2: motion maps of slots 1..5.
    for (int i = 0; i < 5; i++) {
        MotionMap(i, i + 1, i + 2);
    }

    // 3: rebuild the fields by the pattern's field order.
    if (pattern == 2) {
        CopyFieldLines(slots, 4, 5, 1);
        DeinterlaceFromFrame(5, 4, 0);
        DeinterlaceField(1, 1, 0);
        DeinterlaceFromFrame(4, 2, 0);
        DeinterlaceField(2, 3, 0);
    } else {
        CopyFieldLines(slots, 4, 5, 0);
        DeinterlaceFromFrame(5, 4, 0);
        DeinterlaceField(2, 1, 0);
        DeinterlaceFromFrame(4, 2, 0);
        DeinterlaceField(1, 3, 0);
    }

    // 4: the output order.
    outList[0] = 1;
    outList[1] = 4;
    outList[2] = 3;
    outList[3] = 5;
    for (int k = 0; k < 4; k++) {
        fs.rgbSlots[k] = slots[outList[k]];
        fs.yuvSlots[k] = slots[outList[k]];
    }

    // 5: blur each output frame once, with the motion map of its own slot; then the letterbox
    // and the effects.
    for (int k = 0; k < 4; k++) {
        if (o.blurLinesOnMotion) {
            BlurHorizontalLines_c(SlotView(k), MotionMapView(outList[k]), o.blurAmount,
                                  o.motionSensitivity, fs.blurFrame, fs.mixFrame);
        }
        if (!gEngineSettings.sourceIsNtsc) {
            if (o.cropLetterbox) {
                CropToLetterbox(k);
            } else if (o.unsqueezeLetterbox) {
                SqueezeToLetterbox(k);
            }
            if (o.redBoost || o.addGrain) {
                ApplyPictureEffects(k);
            }
        }
    }
}
