#include "engine/x86/x86_kernels.h"

void FillPixelFormats_avx2(EngineKernels &) {}
