#include "platform/sys/cpu.h"

namespace lc {

bool CpuHasAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    // Also checks that the system saves the AVX registers.
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

} // namespace lc
