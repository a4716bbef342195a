#include "mpeg2/yuv_to_rgb_scale.h"

#include "engine/conversion_options.h"

YuvToRgbCoefficients gYuvToRgbCoefficients;

namespace {

struct Scale
{
    uint32_t lumaOffset, lumaScale, cbToBlue, cbCrToGreen, crToRed;
    int32_t tvScale;
};

// Luma 1.1644 from 16..235; blue 2.0172; green -0.3917, -0.8130; red 1.5961.
constexpr Scale kTvScale = {0x00100010, 0x10002543, 0x408D, 0xF377E5FC, 0x3313, 1};
// Luma 1.0; blue 1.772; green -0.344, -0.714; red 1.402.
constexpr Scale kPcScale = {0, 0x10002000, 0x38B4, 0xF4FDE926, 0x2CDD, 0};

void Fill(uint32_t (&pair)[2], uint32_t word)
{
    pair[0] = word;
    pair[1] = word;
}

} // namespace

void SetYuvToRgbScale()
{
    const Scale &s = gConversionOptions.useYuvProcessing == 0 ? kTvScale : kPcScale;
    YuvToRgbCoefficients &c = gYuvToRgbCoefficients;
    Fill(c.lumaOffset, s.lumaOffset);
    Fill(c.lumaScale, s.lumaScale);
    Fill(c.cbToBlue, s.cbToBlue);
    Fill(c.cbCrToGreen, s.cbCrToGreen);
    Fill(c.crToRed, s.crToRed);
    c.tvScale = s.tvScale;
}

YuvToRgbFactors CurrentYuvToRgbFactors()
{
    const YuvToRgbCoefficients &k = gYuvToRgbCoefficients;
    auto low = [](uint32_t word) { return int16_t(word & 0xffff); };
    return {low(k.lumaOffset[0]),  low(k.lumaScale[0]),
            low(k.cbToBlue[0]),    int16_t(k.cbCrToGreen[0] >> 16),
            low(k.cbCrToGreen[0]), low(k.crToRed[0])};
}
