#pragma once

#include <cstdint>

// Integer separable 8 x 8 inverse DCT (Chen-Wang), in place on 16-bit coefficients; outputs are
// clamped to -256..255.
void IdctBlock(int16_t *block);
// Builds the output clamp table once; IdctBlock calls it itself when needed.
void InitIdctClipTable();
