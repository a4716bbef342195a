#pragma once

#include <cstdint>

namespace lc {

// The 15-bit generator of the Windows C runtime: state = state * 214013 + 2531011,
// result (state >> 16) & 0x7fff, state 1 at the start of each thread. The grain table depends
// on this range.
constexpr int kCrtRandMax = 0x7fff;
constexpr uint32_t kCrtRandMultiplier = 214013u;
constexpr uint32_t kCrtRandIncrement = 2531011u;

int CrtRand();
void CrtSrand(unsigned seed);

// The calling thread's state, so that work split across threads can draw the same sequence:
// each part starts at CrtRandAdvance(state, calls before it) and the caller's state is set to
// where the last part ended.
uint32_t CrtRandState();
// The state `steps` calls after `state`.
uint32_t CrtRandAdvance(uint32_t state, uint64_t steps);

// One call on an explicit state.
inline int CrtRandNext(uint32_t &state)
{
    state = state * kCrtRandMultiplier + kCrtRandIncrement;
    return int((state >> 16) & 0x7fff);
}

} // namespace lc
