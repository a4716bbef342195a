#pragma once

#include <cstdint>

#include "engine/frame_view.h"

// PAL and NTSC frame-group conversion: the PAL-to-NTSC weave and the line-count converters.

struct PalToNtscCadence
{
    int32_t frameCount = 0;      // output frames counted, 6 per PAL group
    int32_t dropThreshold = 250; // raised by 500 at each drop
    int32_t dropDue = 0;         // 1 when this group's weave drops a field
    int32_t phase = 0;           // 1: the first output frame starts on the kept field
};

extern PalToNtscCadence gPalToNtscCadence;

// Linear interpolation between source lines: output line k of `dst` (from firstLine) reads source
// lines acc / divisor and the one below (clamped to the source), acc = k x step. Every byte is
// s0 + ((s1 - s0) x (acc mod divisor)) / divisor, truncating toward zero.
void ConvertLines_c(const FrameView &dst, const FrameView &src, int firstLine, int lineCount,
                    int step, int divisor);
// The same with the packed kernels, split across the installed threads.
void ConvertLines(const FrameView &dst, const FrameView &src, int firstLine, int lineCount,
                  int step, int divisor);
// Even lines from `even`, odd lines from `odd`, dst.height lines of dst.pitch bytes.
void InterleaveFields_c(const FrameView &dst, const uint8_t *even, const uint8_t *odd);

// PAL-family source: five 576-line frames in slots 1..5 become 6 (or 5) NTSC frames in slots 1..n.
// NTSC-family source: slot 1 is processed in place against slots 0 and 2; returns 1.
int ConvertFrameGroup(uint8_t *const *slots, int width, int height, int first);
// A movie's last group may hold fewer than five source frames; it is converted padded with its
// last frame, and of its `outputs` frames the first ones that cover its sourceFrames (1..5) are
// kept: outputs x sourceFrames / 5, rounded up, so no source frame is lost and the picture ends
// within one frame of the sound.
int KeptGroupOutputs(int outputs, int sourceFrames);
void ConvertLines576To480(int srcSlot, int history, int squeeze, int crop);
void ConvertLines480To576(uint8_t *dst, int history);
void InterleaveFieldsToFrame(int a, int b, int out);
void KeepLastGroupFrame();
// Copies a source frame (sourceHeight lines) into history frame `index`.
void StoreHistoryFrame(int index, const uint8_t *src);
void ResetCadenceCounter();
// Lines of the NTSC side: the NTSC output height, or the source height for frames too wide to be
// line-converted.
int NtscSideHeight();
