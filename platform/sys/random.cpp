#include "platform/sys/random.h"

#include <cstdint>

namespace lc {

namespace {
thread_local uint32_t tState = 1;
}

int CrtRand()
{
    tState = tState * 214013u + 2531011u;
    return int((tState >> 16) & 0x7fff);
}

void CrtSrand(unsigned seed) { tState = seed; }

} // namespace lc
