#include "engine/x86/x86_kernels.h"

void FillDeinterlace_avx2(EngineKernels &) {}
