#include "engine/internal/kernels.h"

#include <atomic>

#include "engine/internal/row_bands.h"
#include "engine/x86/x86_kernels.h"
#include "platform/sys/cpu.h"

size_t gMinBandBytes = kMinBandBytes;

namespace {

EngineKernels MakeSse2()
{
    EngineKernels k = kKernels_c;
    FillDeinterlace_sse2(k);
    FillFrameGroups_sse2(k);
    FillPulldown_sse2(k);
    FillPictureEffects_sse2(k);
    FillPixelFormats_sse2(k);
    return k;
}

EngineKernels MakeAvx2()
{
    EngineKernels k = MakeSse2();
    FillDeinterlace_avx2(k);
    FillFrameGroups_avx2(k);
    FillPulldown_avx2(k);
    FillPictureEffects_avx2(k);
    FillPixelFormats_avx2(k);
    return k;
}

const EngineKernels *Sse2Table()
{
    static const EngineKernels k = MakeSse2();
    return &k;
}

const EngineKernels *Avx2Table()
{
    static const EngineKernels k = MakeAvx2();
    return &k;
}

KernelIsa BestIsa()
{
    return lc::CpuHasAvx2() ? KernelIsa::Avx2 : KernelIsa::Sse2;
}

// Chosen on first use; tests and benchmarks may switch between runs, never during one.
std::atomic<const EngineKernels *> gActive{nullptr};

} // namespace

const EngineKernels *KernelsFor(KernelIsa isa)
{
    switch (isa) {
    case KernelIsa::C:
        return &kKernels_c;
    case KernelIsa::Sse2:
        return Sse2Table();
    case KernelIsa::Avx2:
        return lc::CpuHasAvx2() ? Avx2Table() : nullptr;
    }
    return nullptr;
}

const EngineKernels &Kernels()
{
    const EngineKernels *k = gActive.load(std::memory_order_acquire);
    if (!k) {
        k = KernelsFor(BestIsa());
        gActive.store(k, std::memory_order_release);
    }
    return *k;
}

bool UseKernels(KernelIsa isa)
{
    const EngineKernels *k = KernelsFor(isa);
    if (!k) {
        return false;
    }
    gActive.store(k, std::memory_order_release);
    return true;
}

const char *KernelIsaName(KernelIsa isa)
{
    switch (isa) {
    case KernelIsa::C:
        return "c";
    case KernelIsa::Sse2:
        return "sse2";
    case KernelIsa::Avx2:
        return "avx2";
    }
    return "?";
}
