#include "mpeg2/yuv_to_rgb_scale.h"

#include "engine/conversion_options.h"

YuvToRgbCoefficients gYuvToRgbCoefficients;

namespace {

void Fill(uint32_t (&pair)[2], uint32_t word)
{
    pair[0] = word;
    pair[1] = word;
}

} // namespace

void SetYuvToRgbScale()
{
    YuvToRgbCoefficients &c = gYuvToRgbCoefficients;
    if (gConversionOptions.useYuvProcessing == 0) {
        Fill(c.lumaOffset, 0x00100010);
        Fill(c.lumaScale, 0x10002543); // 1.1644
        Fill(c.cbToBlue, 0x408D);      // 2.0172
        Fill(c.cbCrToGreen, 0xF377E5FC); // -0.3917, -0.8130
        Fill(c.crToRed, 0x3313);       // 1.5961
        c.tvScale = 1;
    } else {
        Fill(c.lumaOffset, 0);
        Fill(c.lumaScale, 0x10002000); // 1.0
        Fill(c.cbToBlue, 0x38B4);      // 1.772
        Fill(c.cbCrToGreen, 0xF4FDE926); // -0.344, -0.714
        Fill(c.crToRed, 0x2CDD);       // 1.402
        c.tvScale = 0;
    }
}
