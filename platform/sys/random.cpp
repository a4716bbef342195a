#include "platform/sys/random.h"

namespace lc {

namespace {
thread_local uint32_t tState = 1;
}

int CrtRand()
{
    return CrtRandNext(tState);
}

void CrtSrand(unsigned seed)
{
    tState = seed;
}

uint32_t CrtRandState()
{
    return tState;
}

uint32_t CrtRandAdvance(uint32_t state, uint64_t steps)
{
    // Square-and-multiply on the affine map x -> a x + c (mod 2^32).
    uint32_t a = kCrtRandMultiplier;
    uint32_t c = kCrtRandIncrement;
    uint32_t accA = 1;
    uint32_t accC = 0;
    while (steps) {
        if (steps & 1) {
            accA *= a;
            accC = accC * a + c;
        }
        c = c * (a + 1);
        a *= a;
        steps >>= 1;
    }
    return accA * state + accC;
}

} // namespace lc
