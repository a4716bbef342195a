#pragma once

#include <cstdint>

// Row kernels of the Stretch threads: work-picture rows (luminance bytes, then 16-bit Cr and Cb
// planes at byte offsets width and 2 x width) to BGR, sharpened and widened when asked.

// Converts the first codedWidth pixels of one work row of a picture `width` wide into BGR.
void ConvertRowToBgr_c(uint8_t *bgr, const uint8_t *work, int width, int codedWidth);
// 18/16 centre tap less the neighbours; the end pixels are copied.
void SharpenRow_c(uint8_t *dst, const uint8_t *src, int pixels);
// 1280 to 1920: three outputs per input pair.
void WidenRow2to3_c(uint8_t *dst, const uint8_t *src, int pixels);
// 960 to 1280 or 1440 to 1920: four outputs per input triple; outWidth = pixels * 4 / 3.
void WidenRow3to4_c(uint8_t *dst, const uint8_t *src, int pixels, int outWidth);
