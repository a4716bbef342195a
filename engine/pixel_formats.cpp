#include "engine/pixel_formats.h"

#include "engine/engine_hooks.h"
#include "engine/frame_store.h"
#include "engine/internal/kernels.h"
#include "engine/internal/row_bands.h"

namespace {

// Runs rows(r0, r1) over [0, count), split across the installed threads when `threads`; each row
// writes `width` 3-byte pixels.
template <typename Rows> void RunRows(int count, int width, bool threads, const Rows &rows)
{
    if (threads) {
        // A row reads at most four bytes a pixel.
        RunRowBands(count, static_cast<size_t>(width) * 7,
                    [&](int, int r0, int r1) { rows(r0, r1); });
    } else {
        rows(0, count);
    }
}

// Rows of width pixels read 3 bytes apart, written in reversed order and byte order.
void ReverseRows(const EngineKernels &k, uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch,
                 int rows, int width)
{
    const ptrdiff_t dstPitch = static_cast<ptrdiff_t>(width) * 3;
    RunRows(rows, width, true, [&](int r0, int r1) {
        for (int y = r0; y < r1; y++) {
            k.swapRgbRow(dst + (rows - 1 - y) * dstPitch, src + y * srcPitch, width);
        }
    });
}

void YuvRowsToBottomUpBgr(const EngineKernels &k, uint8_t *dst, const uint8_t *src,
                          ptrdiff_t srcPitch, int rows, int width, bool threads)
{
    const ptrdiff_t dstPitch = static_cast<ptrdiff_t>(width) * 3;
    RunRows(rows, width, threads, [&](int r0, int r1) {
        for (int y = r0; y < r1; y++) {
            k.yuvToBgrRow(dst + (rows - 1 - y) * dstPitch, src + y * srcPitch, width);
        }
    });
}

void FlipSwap(const EngineKernels &k, uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src,
              ptrdiff_t srcPitch, int rows, int width, int srcBytesPerPixel, bool threads)
{
    RunRows(rows, width, threads, [&](int r0, int r1) {
        for (int r = r0; r < r1; r++) {
            const uint8_t *s = src + (rows - 1 - r) * srcPitch;
            uint8_t *d = dst + r * dstPitch;
            if (srcBytesPerPixel == 3) {
                k.swapRgbRow(d, s, width);
            } else if (srcBytesPerPixel == 4) {
                k.swapRgbxRow(d, s, width);
            } else {
                for (int x = 0; x < width; x++, s += srcBytesPerPixel) {
                    d[3 * x] = s[2];
                    d[3 * x + 1] = s[1];
                    d[3 * x + 2] = s[0];
                }
            }
        }
    });
}

void ConvertForPreview(const uint8_t *src, ptrdiff_t srcPitch, int rows, int width)
{
    uint8_t *out = gFrameStore.rgbOutFrame;
    if (gFrameStore.yuvActive) {
        YuvRowsToBottomUpBgr(Kernels(), out, src, srcPitch, rows, width, true);
    } else {
        ReverseRows(Kernels(), out, src, srcPitch, rows, width);
    }
    ShowFrameInPreview(width, rows, out);
}

} // namespace

void FlipSwapRows_c(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                    int rows, int width, int srcBytesPerPixel)
{
    FlipSwap(kKernels_c, dst, dstPitch, src, srcPitch, rows, width, srcBytesPerPixel, false);
}

void Yuv422RowsToBottomUpBgr_c(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows,
                               int width)
{
    YuvRowsToBottomUpBgr(kKernels_c, dst, src, srcPitch, rows, width, false);
}

void Yuv422RowsToBottomUpBgr(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows,
                             int width)
{
    YuvRowsToBottomUpBgr(Kernels(), dst, src, srcPitch, rows, width, true);
}

int CopyFlipSwapRgb(uint8_t *dst, const uint8_t *src, int rows, int width, int srcBytesPerPixel)
{
    if (rows < 1) {
        return 0;
    }
    FlipSwap(Kernels(), dst, static_cast<ptrdiff_t>(width) * 3, src,
             static_cast<ptrdiff_t>(width) * srcBytesPerPixel, rows, width, srcBytesPerPixel, true);
    return 0;
}

int FrameRowsToBottomUpBgr(uint8_t *dst, const uint8_t *src, int rows, int width)
{
    ReverseRows(Kernels(), dst, src, static_cast<ptrdiff_t>(gFrameStore.bytesPerPixel) * width,
                rows, width);
    return 0;
}

int FrameToBottomUpBgr(uint8_t *dst, const uint8_t *src)
{
    ReverseRows(Kernels(), dst, src, static_cast<ptrdiff_t>(RowBytes()), OutputFrameHeight(),
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
