#include "engine/pulldown.h"

#include <cstdint>
#include <limits>

#include "engine/conversion_options.h"
#include "engine/deinterlace.h"
#include "engine/frame_store.h"
#include "engine/internal/group_pipelines.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"
#include "engine/picture_effects.h"

PulldownDetector gPulldownDetector;

namespace {

// Each line sum is scaled down so that a frame's score stays small.
constexpr int kLineSumShift = 8;

int64_t LineDifference(const EngineKernels &k, const uint8_t *a, const uint8_t *b, int width,
                       bool yuv)
{
    return yuv ? k.sqDiffLuma(a, b, width) : k.sqDiffBytes(a, b, width * 3);
}

// Lines scored by both kinds: one per line pair from line 2 on.
int ScoredLineCount(int h)
{
    return h <= 4 ? 0 : (h - 5) / 2 + 1;
}

int64_t Score32Lines(const EngineKernels &k, const FrameView &a, const FrameView &b, int parity,
                     bool yuv, int k0, int k1)
{
    int64_t result = 0;
    for (int i = k0; i < k1; i++) {
        const int y = parity + 2 + 2 * i;
        result += LineDifference(k, a.Row(y), b.Row(y), a.width, yuv) >> kLineSumShift;
    }
    return result;
}

int64_t Score2332Lines(const EngineKernels &k, const FrameView &prev, const FrameView &cur,
                       const FrameView &next, bool evenWithNext, bool yuv, int k0, int k1)
{
    const FrameView &evenOther = evenWithNext ? next : prev;
    const FrameView &oddOther = evenWithNext ? prev : next;
    int64_t result = 0;
    for (int i = k0; i < k1; i++) {
        const int e = 2 + 2 * i;
        const int o = 3 + 2 * i;
        const int64_t sum = LineDifference(k, cur.Row(e), evenOther.Row(e), cur.width, yuv)
                            + LineDifference(k, oddOther.Row(o), cur.Row(o), cur.width, yuv);
        result += sum >> kLineSumShift;
    }
    return result;
}

FrameView SourceSlot(uint8_t *const *slots, int i)
{
    const FrameStore &fs = gFrameStore;
    return BufferView(slots[i], static_cast<int>(fs.sourceWidth),
                      static_cast<int>(fs.sourceHeight));
}

// One 3:2 score: the field of `parity` of slots a and b.
struct FieldPair
{
    int parity;
    int a;
    int b;
};

// The scores a group asks for at once: five phases, each with its other field.
constexpr int kMaxScores = 10;

// Scores of several pairs in one pass over the lines; each band's sums are added in band order.
template <typename Score> void ScoreInBands(int count, int64_t *out, const Score &score)
{
    const int lines = ScoredLineCount(static_cast<int>(gFrameStore.sourceHeight));
    int64_t partial[kMaxRowBands][kMaxScores] = {};
    // A line of each score reads a line of two frames.
    RunRowBands(lines, 2 * static_cast<size_t>(count) * RowBytes(), [&](int band, int k0, int k1) {
        for (int j = 0; j < count; j++) {
            partial[band][j] = score(j, k0, k1);
        }
    });
    for (int j = 0; j < count; j++) {
        out[j] = 0;
        for (const auto &p : partial) {
            out[j] += p[j];
        }
    }
}

void FieldMatchScores32(uint8_t *const *slots, const FieldPair *pairs, int count, int64_t *out)
{
    const EngineKernels &k = Kernels();
    const bool yuv = gFrameStore.yuvActive != 0;
    ScoreInBands(count, out, [&](int j, int k0, int k1) {
        return Score32Lines(k, SourceSlot(slots, pairs[j].a), SourceSlot(slots, pairs[j].b),
                            pairs[j].parity, yuv, k0, k1);
    });
}

} // namespace

int64_t FieldMatchScore32_c(const FrameView &a, const FrameView &b, int parity, bool yuv)
{
    return Score32Lines(kKernels_c, a, b, parity, yuv, 0, ScoredLineCount(a.height));
}

int64_t FieldMatchScore2332_c(const FrameView &prev, const FrameView &cur, const FrameView &next,
                              bool evenWithNext, bool yuv)
{
    return Score2332Lines(kKernels_c, prev, cur, next, evenWithNext, yuv, 0,
                          ScoredLineCount(cur.height));
}

int64_t FieldMatchScore32(uint8_t *const *slots, int parity, int a, int b)
{
    const FieldPair pair{parity, a, b};
    int64_t score = 0;
    FieldMatchScores32(slots, &pair, 1, &score);
    return score;
}

int64_t FieldMatchScore2332(uint8_t *const *slots, int i, bool evenWithNext)
{
    int64_t score = 0;
    FieldMatchScores2332(slots, i, 1, evenWithNext, &score);
    return score;
}

void FieldMatchScores2332(uint8_t *const *slots, int first, int count, bool evenWithNext,
                          int64_t *out)
{
    const EngineKernels &k = Kernels();
    const bool yuv = gFrameStore.yuvActive != 0;
    ScoreInBands(count, out, [&](int j, int k0, int k1) {
        const int i = first + j;
        return Score2332Lines(k, SourceSlot(slots, i - 1), SourceSlot(slots, i),
                              SourceSlot(slots, i + 1), evenWithNext, yuv, k0, k1);
    });
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
            FieldMatchScores2332(slots, 1, 5, p == 1, d.scores);
        } else {
            // Phase i: the field p of frames i and i + 1, and the other field, which repeats
            // two frames later.
            const int q = 1 - p;
            const FieldPair pairs[kMaxScores] = {{p, 0, 1}, {p, 1, 2}, {p, 2, 3}, {p, 3, 4},
                                                 {p, 4, 5}, {q, 2, 3}, {q, 3, 4}, {q, 4, 5},
                                                 {q, 5, 6}, {q, 1, 2}};
            int64_t s[kMaxScores];
            FieldMatchScores32(slots, pairs, kMaxScores, s);
            for (int i = 0; i < 5; i++) {
                d.scores[i] = s[i] + s[i + 5];
            }
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

    // 2, 3 and the blur of 5 line by line, unless the options need whole-frame runs.
    const bool byLines = RebuildPulldownGroupByLines(slots, pattern);
    if (!byLines) {
        // 2: motion maps of slots 1..5.
        MotionMapsOfGroup(5);

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

    // 5: blur each output frame once, with the motion map of its own slot (done above when line
    // by line); then the letterbox and the effects.
    for (int k = 0; k < 4; k++) {
        if (o.blurLinesOnMotion && !byLines) {
            BlurHorizontalLinesOf(SlotView(k), MotionMapView(outList[k]));
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
