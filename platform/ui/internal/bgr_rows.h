#pragma once

#include <cstdint>

namespace lc::ui::internal {

// One row of 3- or 4-byte B,G,R(,X) pixels to opaque 0xffRRGGBB values (the paint surface's
// format). The `_c` version is the reference of the packed one.
void BgrRowToRgb32_c(uint32_t *__restrict__ dst, const uint8_t *src, int width, int bytesPerPixel);
void BgrRowToRgb32_sse2(uint32_t *__restrict__ dst, const uint8_t *src, int width,
                        int bytesPerPixel);

} // namespace lc::ui::internal
