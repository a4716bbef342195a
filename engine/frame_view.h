#pragma once

#include <cstddef>
#include <cstdint>

// A frame as the kernels see it: top-down rows, `pitch` bytes apart, `width` pixels of
// `bytesPerPixel` bytes each that the kernel visits. RGB frames are 3 bytes a pixel, YUV 4:2:2
// frames 2 (luminance, then U on even columns and V on odd ones).
struct FrameView
{
    uint8_t *base = nullptr;
    int width = 0;
    int height = 0;
    ptrdiff_t pitch = 0; // bytes
    int bytesPerPixel = 3;

    uint8_t *Row(int y) const { return base + static_cast<ptrdiff_t>(y) * pitch; }
};

// A half-height map of signed 32-bit values: row r belongs to frame lines 2r and 2r + 1.
struct MapView
{
    int32_t *base = nullptr;
    int width = 0;
    int rows = 0;
    ptrdiff_t stride = 0; // values

    int32_t *Row(int r) const { return base + static_cast<ptrdiff_t>(r) * stride; }
};
