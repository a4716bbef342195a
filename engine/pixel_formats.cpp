#include "engine/pixel_formats.h"

#include "engine/engine_hooks.h"
#include "engine/frame_store.h"

namespace {

uint8_t ClampByte(int v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Rows of width pixels read 3 bytes apart, written in reversed order and byte order.
void ReverseRows(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows, int width)
{
    const ptrdiff_t dstPitch = static_cast<ptrdiff_t>(width) * 3;
    for (int y = 0; y < rows; y++) {
        const uint8_t *s = src + y * srcPitch;
        uint8_t *d = dst + (rows - 1 - y) * dstPitch;
        for (int x = 0; x < width; x++) {
            d[3 * x] = s[3 * x + 2];
            d[3 * x + 1] = s[3 * x + 1];
            d[3 * x + 2] = s[3 * x];
        }
    }
}

void ConvertForPreview(const uint8_t *src, ptrdiff_t srcPitch, int rows, int width)
{
    uint8_t *out = gFrameStore.rgbOutFrame;
    if (gFrameStore.yuvActive) {
        Yuv422RowsToBottomUpBgr_c(out, src, srcPitch, rows, width);
    } else {
        ReverseRows(out, src, srcPitch, rows, width);
    }
    ShowFrameInPreview(width, rows, out);
}

} // namespace

void FlipSwapRows_c(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                    int rows, int width, int srcBytesPerPixel)
{
    for (int r = 0; r < rows; r++) {
        const uint8_t *s = src + (rows - 1 - r) * srcPitch;
        uint8_t *d = dst + r * dstPitch;
        for (int x = 0; x < width; x++, s += srcBytesPerPixel) {
            d[3 * x] = s[2];
            d[3 * x + 1] = s[1];
            d[3 * x + 2] = s[0];
        }
    }
}

void Yuv422RowsToBottomUpBgr_c(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows,
                               int width)
{
    const ptrdiff_t dstPitch = static_cast<ptrdiff_t>(width) * 3;
    for (int y = 0; y < rows; y++) {
        const uint8_t *s = src + y * srcPitch;
        uint8_t *d = dst + (rows - 1 - y) * dstPitch;
        // Each pixel uses the latest U and V, so an even column has the V of the pair before.
        int u = 0;
        int v = 0;
        for (int x = 0; x < width; x++) {
            const int luma = s[2 * x];
            const int chroma = s[2 * x + 1] - 128;
            if (x & 1) {
                v = chroma;
            } else {
                u = chroma;
            }
            const int r = luma + ((359 * v) >> 8);
            const int g = luma - ((183 * v) >> 8) - ((11 * u) >> 5);
            const int b = luma + ((453 * u) >> 8);
            d[3 * x] = ClampByte(b);
            d[3 * x + 1] = ClampByte(g);
            d[3 * x + 2] = ClampByte(r);
        }
    }
}

int CopyFlipSwapRgb(uint8_t *dst, const uint8_t *src, int rows, int width, int srcBytesPerPixel)
{
    if (rows < 1) {
        return 0;
    }
    FlipSwapRows_c(dst, static_cast<ptrdiff_t>(width) * 3, src,
                   static_cast<ptrdiff_t>(width) * srcBytesPerPixel, rows, width, srcBytesPerPixel);
    return 0;
}

int FrameRowsToBottomUpBgr(uint8_t *dst, const uint8_t *src, int rows, int width)
{
    ReverseRows(dst, src, static_cast<ptrdiff_t>(gFrameStore.bytesPerPixel) * width, rows, width);
    return 0;
}

int FrameToBottomUpBgr(uint8_t *dst, const uint8_t *src)
{
    ReverseRows(dst, src, static_cast<ptrdiff_t>(RowBytes()), OutputFrameHeight(),
                static_cast<int>(gFrameStore.sourceWidth));
    return 0;
}

void OutputYuv422ToRgb(const uint8_t *src)
{
    const int width = static_cast<int>(gFrameStore.sourceWidth);
    ConvertForPreview(src, static_cast<ptrdiff_t>(gFrameStore.bytesPerPixel) * width,
                      OutputFrameHeight(), width);
}

void Yuv422ToRgb(const uint8_t *src, int rows, int width)
{
    ConvertForPreview(src, static_cast<ptrdiff_t>(gFrameStore.bytesPerPixel) * width, rows, width);
}
