#pragma once

#include <cstdint>

// The Chen-Wang factors: 2048 x sqrt(2) x cos(k x pi / 16); 181 / 256 stands for 1 / sqrt(2).
constexpr int kIdctW1 = 2841;
constexpr int kIdctW2 = 2676;
constexpr int kIdctW3 = 2408;
constexpr int kIdctW5 = 1609;
constexpr int kIdctW6 = 1108;
constexpr int kIdctW7 = 565;

// Integer separable 8 x 8 inverse DCT (Chen-Wang), in place on 16-bit coefficients; outputs are
// clamped to -256..255.
void IdctBlock(int16_t *block);
// Builds the output clamp table once; IdctBlock calls it itself when needed.
void InitIdctClipTable();

// The value every output of IdctBlock takes for a block whose only non-zero coefficient is the
// DC: the row pass makes the first row DC << 3 and the others 0, the column pass rounds each
// column's first value by 64 and clamps.
inline int IdctDcOnlyValue(int dc)
{
    const int v = (int16_t(dc * 8) + 32) >> 6;
    return v < -256 ? -256 : v > 255 ? 255 : v;
}
