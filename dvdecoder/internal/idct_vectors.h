#pragma once

#include <cstdint>

// The row constants of the packed inverse DCTs, per row: multipliers for the (x0,x2), (x4,x6),
// (x1,x3) and (x5,x7) pairs giving a0..a3 and b0..b3, and the row's rounder.
struct alignas(16) IdctRowVectors
{
    int16_t e02[8], e46[8], o13[8], o57[8];
    int32_t rounder[4];
};

extern const IdctRowVectors kIdctRowVectors[8];
