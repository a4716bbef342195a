#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sys/result.h"

// The Cindrell decoder: compressed DVCPRO HD frames to 24-bit BGR pictures, on all processors.

// Frame kinds; the same numbers as the DVCPRO HD values of the DV frame format.
inline constexpr int kCindrell1080i60 = 1; // 1280 coded, 1920 shown, 480000 bytes
inline constexpr int kCindrell720p60 = 2;  // 960 coded, 1280 shown, 240000 bytes
inline constexpr int kCindrell1080i50 = 3; // 1440 coded, 1920 shown, 576000 bytes
inline constexpr int kCindrell720p50 = 4;  // 960 coded, 1280 shown, 288000 bytes

// Per-kind facts; 0 for a kind outside 1..4.
int CindrellCodedWidth(int format);
int CindrellDisplayWidth(int format);
int CindrellLines(int format);
size_t CindrellFrameBytes(int format);

// Decode modes.
inline constexpr int kCindrellFast = 0; // playback: half resolution, no Stretch wave
inline constexpr int kCindrellFull = 1; // still frames and every conversion

// Builds the address and position tables, chooses the kernels and splits the work into one job
// per thread of the shared worker pool. May run on every movie open; waits for a frame being
// decoded on another thread.
void CindrellInit();

// Decodes one frame into output: abs(height) rows of width x 3 bytes padded to a multiple of 4,
// bytes blue, green, red; height > 0 stores the rows bottom-up, < 0 top-down. width is the coded
// width or the display width of the kind (the latter widens); abs(height) must be the kind's
// line count. workBuffer is a buffer of the output's size (every caller passes output itself).
// Only yuvOutput 0, fastPath 0, bitsPerPixel 24, decimation 1 and mirror 0 are handled.
// Fails without touching output for bad arguments or a source shorter than the kind's frame.
// The work runs on the shared worker pool; the result never depends on its thread count.
lc::Status CindrellDecodeFrame(uint8_t *output, int width, int height, const uint8_t *source,
                               size_t sourceBytes, uint8_t *workBuffer, int mode, int yuvOutput,
                               int fastPath, int format, int bitsPerPixel, int decimation,
                               int mirror);

// Decodes only the video segments stored in DIF sequence `sequence` of source (0 up to the kind's
// frame bytes / 12000), on the calling thread, as CindrellDecodeFrame decodes them with the same
// arguments and the fixed settings above: mode 0 writes their macroblocks into output, mode 1 into
// workBuffer, the work picture, with no Stretch. Checks its arguments as CindrellDecodeFrame does.
// A sequence costs a small part of a frame: the fuzz target decodes one per input.
lc::Status CindrellDecodeSequence(uint8_t *output, int width, int height, const uint8_t *source,
                                  size_t sourceBytes, uint8_t *workBuffer, int mode, int format,
                                  int sequence);
