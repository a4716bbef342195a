#pragma once

#include <cstdint>

#include "engine/deinterlace.h"
#include "engine/frame_view.h"
#include "engine/internal/kernels.h"

// The line ranges and single lines of the motion detector, the deinterlacer, the blur and the
// flicker filter, for the group pipelines that interleave them line by line.

// Pixels a kernel works on at a time: every row of the frames the core meets, in buffers that sit
// on the stack whatever the width.
constexpr int kChunkPixels = 2048;

// The line pairs (y, y + 1) the motion detector visits: y = top, top + 2, .., `count` of them.
struct MotionPairs
{
    int top;
    int count;
};
MotionPairs MotionPairRange(int h, bool crop);

// The lines of a run: `count` lines from `first`, two apart.
struct RunLines
{
    int first;
    int count;
};
RunLines FieldLineRange(const DeinterlaceParams &p, int h, int field);
// Each line y of the range writes lines y and y + 1.
RunLines FromFrameLineRange(const DeinterlaceParams &p, int h);

// What the weights of columns [x0, ..) of line y are made from in runs without the line detector
// or a mask display: map row y / 2.
WeightRowInput MotionWeightInput(const MapView &map, const DeinterlaceParams &p, int y, int x0);
// The weights of columns [x0, x0 + n) of line y in such runs; 256 each with `full`.
void MotionWeights(const EngineKernels &k, const MapView &map, const DeinterlaceParams &p, int y,
                   int x0, int n, bool full, int16_t *w);
// The lineMask bookkeeping of deinterlacing runs that wrote no line values.
void SettleLineValues(int width, int height);

// Columns [x0, x0 + n) of line y of the blur and of the flicker filter into `out`, from the
// unfiltered lines around it.
void BlurLine(const EngineKernels &k, const FrameView &f, const MapView &motion, int amount,
              int sensitivity, int y, int x0, int n, uint8_t *out);
void FlickerLine(const EngineKernels &k, const FrameView &f, int level, int y, int x0, int n,
                 uint8_t *out);
