#pragma once

#include <cstdint>

#include "engine/frame_view.h"

// Letterbox, blur of horizontal lines on motion, flicker removal, grain and red boost. The slot
// operations work on FrameStore's slots at frameWidth x frameHeight.

// Per-pixel grain and red boost settings (ConversionOptions fields of the same names).
struct EffectParams
{
    bool addGrain = false;
    bool redBoost = false;
    int redBoostAmount = 7;
    const int32_t *noiseTable = nullptr; // needed with addGrain
    bool yuv = false;
    int redIndex = 0; // byte of red in an RGB pixel: 0 for R,G,B, 2 for B,G,R
};

EffectParams CurrentEffectParams();

// Black: RGB 0,0,0; YUV luminance 0 with colour difference 128.
void PaintBlackLines(const FrameView &f, int first, int last);
void CropToLetterbox_c(const FrameView &f);
// scratch holds a copy of f (f.height rows of f.pitch bytes).
void SqueezeToLetterbox_c(const FrameView &f, uint8_t *scratch);
// blurAmount 1..3 (any other value leaves the frame alone); mix is a work frame with f's pitch.
// The weight of each pixel comes from the frame's own motion map.
void BlurHorizontalLines_c(const FrameView &f, const MapView &motion, int blurAmount,
                           int motionSensitivity, uint8_t *mix);
// level is clamped to 0..4; work is a frame with f's pitch.
void RemoveFlicker_c(const FrameView &f, int level, uint8_t *work);
// Fills count entries: near-Gaussian, mean 0, standard deviation about grainAmount.
void BuildGrainTable_c(int32_t *table, int count, int grainAmount);
// Draws from this thread's C runtime generator, one number per pixel with grain on.
void ApplyGrainAndRedBoost_c(uint8_t *pixel, int column, const EffectParams &p);
// The same on an explicit generator state.
void GrainAndRedBoostPixel(uint8_t *pixel, int column, const EffectParams &p, uint32_t &state);
void ApplyPictureEffects_c(const FrameView &f, int firstLine, int endLine, const EffectParams &p);
// The same with the packed kernels across the installed threads; the numbers drawn and this
// thread's generator afterwards are those of ApplyPictureEffects_c.
void ApplyPictureEffectsRows(const FrameView &f, int firstLine, int endLine, const EffectParams &p);

void CropToLetterbox(int slot);
void SqueezeToLetterbox(int slot);
void BlurHorizontalLines(int slot);
// The blur of a frame with a given motion map, at the options' amount and sensitivity.
void BlurHorizontalLinesOf(const FrameView &f, const MapView &motion);
// Sets the working size to the source size and points positions 1..4 of the slot arrays at
// slots[outList[k]]. The frames of a 60i group were already blurred by RemovePulldownGroup, each
// with its own motion map, so this does not blur them a second time.
void BlurGroupLines(uint8_t *const *slots, const int *outList);
void RemoveFlicker(int slot, int level);
// The same filter on a frame by pointer: rowPitch pixels a row at frameHeight lines.
void RemoveFlickerBuffer(uint8_t *frame, int level);
void BuildGrainTable();
void ApplyGrainAndRedBoost(uint8_t *pixel, int column);
void ApplyPictureEffects(int slot);
