#pragma once

#include <cstdint>

#include "engine/frame_view.h"

// Motion detector, line detector and the motion-adaptive deinterlacer. The slot operations work on
// FrameStore's slot arrays at frameWidth x frameHeight; each sits on a kernel over frame views.

// The options the weights depend on (ConversionOptions fields of the same names).
struct DeinterlaceParams
{
    int motionSensitivity = 50; // 0..1000; 50 is neutral
    bool lineDetectorOn = false;
    bool showMotionMask = false;
    bool showLineMask = false;
    bool cropLetterbox = false; // skip the letterbox bars
    bool yuv = false;
};

// What DeinterlaceWeight_c reads and writes for one slot.
struct WeightContext
{
    FrameView frame;      // the slot whose lines the line detector samples
    MapView motion;       // that slot's motion map
    int32_t *lineMask;    // previous run's line values, frame.width per row; a run ends by
                          // copying the first (height / 2) rows of lineMaskSum into it
    int32_t *lineMaskSum; // this run's line values, same layout
    DeinterlaceParams params;
};

DeinterlaceParams CurrentDeinterlaceParams();
WeightContext SlotWeightContext(int slot);

int AbsInt(int v);

// Weights are 0 (keep the pixel) .. 256 (replace it by the interpolation).
int DeinterlaceWeight_c(const WeightContext &c, int y, int x);
void MotionMapRgb_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop);
void MotionMapYuv_c(const MapView &map, const FrameView &prev, const FrameView &cur,
                    const FrameView &next, bool crop);
// field 1 rebuilds the even lines, field 2 the odd lines, of c.frame in place.
void DeinterlaceField_c(const WeightContext &c, int field, bool full);
// Writes a vertically filtered copy of c.frame into dst (same geometry).
void DeinterlaceFromFrame_c(const FrameView &dst, const WeightContext &c, bool full);

void MotionMapRgb(int prev, int cur, int next);
void MotionMapYuv(int prev, int cur, int next);
// The motion map of `cur` by the active pixel format.
void MotionMap(int prev, int cur, int next);
// MotionMap(i, i + 1, i + 2) for i < count, in one pass over the rows.
void MotionMapsOfGroup(int count);
int DeinterlaceWeight(int y, int x, int slot);
void DeinterlaceField(int field, int slot, int full);
void DeinterlaceFromFrame(int dst, int src, int full);
// Copies lines parity, parity + 2, .. below sourceHeight from frames[src] to frames[dst].
void CopyFieldLines(uint8_t *const *frames, int dst, int src, int parity);
void CopyFrame(uint8_t *dst, const uint8_t *src);
