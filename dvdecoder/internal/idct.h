#pragma once

#include <cstdint>

// 8x8 inverse DCT of Intel's AP-922, in place on 64 signed 16-bit coefficients in natural order
// (index 8*row + column). IdctC is the reference; IdctSse2 gives the same values faster and needs
// the block 16-byte aligned.
void IdctC(int16_t *block);
void IdctSse2(int16_t *block);
// count consecutive blocks (64 coefficients each); the AVX2 form takes two at a time.
void IdctBlocksC(int16_t *blocks, int count);
void IdctBlocksSse2(int16_t *blocks, int count);
void IdctBlocksAvx2(int16_t *blocks, int count);

// Row constants: even part (C4, C2, C6), odd part (C1, C3, C5, C7), for rows 0..7.
struct IdctRowConstants
{
    int16_t even[3];
    int16_t odd[4];
    int32_t rounder;
};
extern const IdctRowConstants kIdctRows[8];

// Column constants (16-bit fixed point).
inline constexpr int16_t kTan1 = 13036;    // tan(pi/16) * 2^16
inline constexpr int16_t kTan2 = 27146;    // tan(2pi/16) * 2^16
inline constexpr int16_t kTan3m1 = -21746; // tan(3pi/16) * 2^16 - 2^16
inline constexpr int16_t kCos4 = 23170;    // cos(pi/4) * 2^15
