#pragma once

namespace lc {

// The 15-bit generator of the Windows C runtime: state = state * 214013 + 2531011,
// result (state >> 16) & 0x7fff, state 1 at the start of each thread. The grain table depends
// on this range.
constexpr int kCrtRandMax = 0x7fff;
int CrtRand();
void CrtSrand(unsigned seed);

} // namespace lc
