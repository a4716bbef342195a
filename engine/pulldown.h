#pragma once

#include <cstdint>

#include "engine/frame_view.h"

// Pulldown detection and removal over a group of seven slots: slot 0 the last frame of the
// previous group, slots 1..5 the group, slot 6 the first frame of the next group.

struct PulldownDetector
{
    int64_t scores[5] = {};  // phase scores of the current group
    int64_t totals[5] = {};  // sums of scores over the analysis pass
    int32_t phase = 0;       // chosen phase 0..4, kept from group to group
    int32_t outputCount = 0; // 4 after a decision, 0 otherwise
};

extern PulldownDetector gPulldownDetector;

// Sum over the field's lines (parity, parity + 2, .. from line parity + 2) of the squared
// difference of two frames, each line sum shifted right by 8. yuv: luminance only.
int64_t FieldMatchScore32_c(const FrameView &a, const FrameView &b, int parity, bool yuv);
// Mismatch of frame `cur`'s fields with its neighbours. evenWithNext: the even field is compared
// with `next` and the odd field with `prev` (the mixed frame of bottom-field-first 2:3:3:2);
// otherwise the other way round (top field first).
int64_t FieldMatchScore2332_c(const FrameView &prev, const FrameView &cur, const FrameView &next,
                              bool evenWithNext, bool yuv);

// The slot adapters work at sourceWidth x sourceHeight with the current row pitch.
int64_t FieldMatchScore32(uint8_t *const *slots, int parity, int a, int b);
int64_t FieldMatchScore2332(uint8_t *const *slots, int i, bool evenWithNext);
// out[j] = FieldMatchScore2332(slots, first + j, evenWithNext) for j < count (at most 10), in one
// pass over the lines.
void FieldMatchScores2332(uint8_t *const *slots, int first, int count, bool evenWithNext,
                          int64_t *out);

// The field order the 3:2 scores look at: 1 (the odd field repeats) up to 900 pixels wide, 0 for
// wider frames; parityFlag 0 inverts it (the MPEG-2 feed's frames).
int PulldownFieldParity(int parityFlag);

// Scores the group (always in a one-pass run, in the analysis pass of a two-pass run), then, in
// the output pass, picks the phase, repairs the 3:2 frame and writes the four output slots.
// Returns 4, or 0 in the analysis pass (outList untouched).
int DetectPulldownPhase(uint8_t *const *slots, int *outList, int parityFlag);
void ResetPulldownScores();
// "Convert 60i to 25P": four progressive frames from five interlaced ones; outList = {1, 4, 3, 5}.
// pattern 2 up to 900 pixels wide (bottom field first), 1 for wider frames.
void RemovePulldownGroup(uint8_t *const *slots, int *outList, int pattern);
