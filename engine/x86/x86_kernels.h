#pragma once

#include "engine/internal/kernels.h"

// Each file of engine/x86 fills the entries it has packed versions of; the others keep what the
// table held (C under SSE2, SSE2 under AVX2).
void FillDeinterlace_sse2(EngineKernels &k);
void FillFrameGroups_sse2(EngineKernels &k);
void FillPulldown_sse2(EngineKernels &k);
void FillPictureEffects_sse2(EngineKernels &k);
void FillPixelFormats_sse2(EngineKernels &k);

void FillDeinterlace_avx2(EngineKernels &k);
void FillFrameGroups_avx2(EngineKernels &k);
void FillPulldown_avx2(EngineKernels &k);
void FillPictureEffects_avx2(EngineKernels &k);
void FillPixelFormats_avx2(EngineKernels &k);

// groupMotionRows from pixel x on, in C (the packed versions' last pixels).
void GroupMotionTail(int32_t *const *out, const uint8_t *const *line0, const uint8_t *const *line1,
                     int frames, int width, bool yuv, int x);
