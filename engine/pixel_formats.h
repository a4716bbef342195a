#pragma once

#include <cstddef>
#include <cstdint>

// Copies between the core's top-down frames (R,G,B or YUV 4:2:2) and the bottom-up B,G,R images
// of decoders, writers and the preview.

// Bottom-up B,G,R(,X) rows -> top-down R,G,B rows. srcPitch and dstPitch in bytes.
void FlipSwapRows_c(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                    int rows, int width, int srcBytesPerPixel);
// Top-down YUV 4:2:2 rows -> bottom-up B,G,R rows of width x 3 bytes.
void Yuv422RowsToBottomUpBgr_c(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows,
                               int width);
// The same with the packed kernels, split across the installed threads.
void Yuv422RowsToBottomUpBgr(uint8_t *dst, const uint8_t *src, ptrdiff_t srcPitch, int rows,
                             int width);

// Returns 0. Nothing is done when rows is below 1.
int CopyFlipSwapRgb(uint8_t *dst, const uint8_t *src, int rows, int width, int srcBytesPerPixel);
// Source rows bytesPerPixel x width bytes apart, 3 bytes a pixel read. Returns 0.
int FrameRowsToBottomUpBgr(uint8_t *dst, const uint8_t *src, int rows, int width);
// At the output size (sourceWidth x OutputFrameHeight()), source rows of the row pitch. Returns 0.
int FrameToBottomUpBgr(uint8_t *dst, const uint8_t *src);
// rgbOutFrame = the frame as bottom-up RGB24 at the output size; then shown in the preview.
void OutputYuv422ToRgb(const uint8_t *src);
void Yuv422ToRgb(const uint8_t *src, int rows, int width);
