#pragma once

#include <cstdint>

#include "dvdecoder/internal/pixel_kernels.h"

// Process-wide state of the decoder's driver. Written by CindrellInit and CindrellDecodeFrame
// under the decoder's lock; the worker threads read their own job only.

inline constexpr int kCindrellMaxThreads = 8; // jobs and contexts that exist
inline constexpr int kStretchRowBytes = 7684; // 1920 pixels of 4 bytes and a spare word

struct DecodeJob
{
    int32_t first; // segment numbers, inclusive
    int32_t last;
    int32_t channel;
    uint8_t *target;
    int32_t width;
    int32_t height; // absolute
    const uint8_t *source;
    int32_t yuvOutput, format, mode, fastPath, flip, decimation, widen, fullWidth, bitsPerPixel;
};

struct StretchJob
{
    int32_t first; // rows, inclusive
    int32_t last;
    uint8_t *work;
    uint8_t *output;
    int32_t yuvOutput, decimation, bytesPerPixel, mirror, mode, format, enable, widen;
    uint8_t *rowBuffer[3];
    int32_t width, height;
};

struct CindrellState
{
    int threadCount = 1; // Decode threads and Stretch threads per wave, 1..8
    // Chosen by CindrellInit; tests set the C forms to compare whole frames.
    const CindrellKernels *kernels = &CindrellKernelsBest();
    DecodeJob decodeJobs[kCindrellMaxThreads] = {};
    StretchJob stretchJobs[kCindrellMaxThreads] = {};
};

extern CindrellState gCindrellState;

// Inclusive range [*first, *last] of job k of n over `count` items starting at base.
void CindrellSplit(int k, int n, int count, int base, int *first, int *last);

// Job k of the frame in hand: its segments of every channel in turn (DecodeThreadProc for each).
void DecodeChannelsOfJob(int k);
void DecodeThreadProc(int k);
void SetupStretchJob(int k, uint8_t *output, uint8_t *workPicture, int height, int width,
                     int bytesPerPixel, int yuvOutput, int format, int decimation, int widen,
                     int enable, int mirror, int mode);
// Runs one wave of Stretch jobs on the worker pool.
void RunStretchThreads();
void StretchThreadProc(int k);
