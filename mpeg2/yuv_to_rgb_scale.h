#pragma once

#include <cstdint>

// Integer YUV-to-RGB factors of the MPEG-2 picture output: 16-bit fixed point with 13 fraction
// bits (8192 = 1.0). Each word is stored twice so that a pair fills 64 bits for the packed
// conversion. TV scale expands luma from 16..235 (RGB processing); PC scale takes it as is (YUV
// processing). BT.601 factors.
struct YuvToRgbCoefficients
{
    uint32_t lumaOffset[2]; // two 16-bit halves: 16, 16 (TV) or 0 (PC)
    uint32_t lumaScale[2];  // high half 0x1000, low half the luma factor
    uint32_t cbToBlue[2];
    uint32_t cbCrToGreen[2]; // high half Cb to green, low half Cr to green
    uint32_t crToRed[2];
    int32_t tvScale; // 1 TV scale, 0 PC scale
};

extern YuvToRgbCoefficients gYuvToRgbCoefficients;

// The same factors one by one, as the colour kernels take them.
struct YuvToRgbFactors
{
    int16_t lumaOffset;
    int16_t lumaScale;
    int16_t cbToBlue;
    int16_t cbToGreen;
    int16_t crToGreen;
    int16_t crToRed;
};

YuvToRgbFactors CurrentYuvToRgbFactors();

// Fills gYuvToRgbCoefficients from ConversionOptions::useYuvProcessing (0: TV scale, else PC).
void SetYuvToRgbScale();
