#include "engine/x86/x86_kernels.h"

void FillPictureEffects_avx2(EngineKernels &) {}
