#pragma once

#include <cstdint>

// The group operations line by line: every step of a group runs over a few lines at a time, each
// as far as the steps before it allow, so that the lines a step reads are still in the cache the
// step before left them in. The bytes are those of the steps run one after another over whole
// frames. Threads split the columns, which no step mixes.

// Tests: false runs every group step after step over whole frames, the reference of the above.
extern bool gGroupsByLines;

// RemovePulldownGroup's motion maps, field rebuild and blur (steps 2, 3 and the blur of step 5),
// with the slots and working size already set. Returns false, having done nothing, when the
// options ask for what only whole-frame runs do: the line detector or a mask display.
bool RebuildPulldownGroupByLines(uint8_t *const *slots, int pattern);

// One output frame of the PAL-to-NTSC weave: slot `out` from history frames a (the field shown
// first) and b.
struct PalWeaveStep
{
    int a;
    int b;
    int out;
};

// ConvertFrameGroup's steps 2 to 5 and 7 for a PAL-family source, with the slots and working size
// set and the cadence advanced: deinterlacing at full weight with `fullWeight`, the weave of
// `weaveCount` steps, then history frame 5 = history frame 4 when `keepLast`. Returns false, having
// done nothing, when deinterlacing asks for the line detector or a mask display.
bool ConvertPalGroupByLines(uint8_t *const *slots, int fullWeight, const PalWeaveStep *weave,
                            int weaveCount, bool keepLast);
