#pragma once

#include <atomic>
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

// Claims the items of one job: its owner takes them in order, and a thread that has run out of
// work takes what is left, so that a thread the machine holds back delays no one. Each on its
// own cache line, as the threads take items from them all the time.
struct alignas(64) JobItems
{
    std::atomic<int32_t> next{0};
    int32_t count = 0;
};

// The frame in hand: what its Decode jobs cover and where its threads stand.
struct FrameWork
{
    int channels[4] = {0, 1, 2, 3};
    int channelCount = 4;
    bool twelfthSequence = false; // 1080i50: the 12th DIF sequence, as row 11 of channel 0
    int jobs = 1;
    bool stretch = false; // full decoding: the Stretch jobs follow the Decode jobs
    int32_t totalSegments = 0;
    JobItems decodeItems[kCindrellMaxThreads];
    JobItems stretchItems[kCindrellMaxThreads];
    alignas(64) std::atomic<int32_t> segmentsDone{0}; // published by each thread as it runs out
};

struct CindrellState
{
    int threadCount = 1; // Decode threads and Stretch threads per wave, 1..8
    // Chosen by CindrellInit; tests set the C forms to compare whole frames.
    const CindrellKernels *kernels = &CindrellKernelsBest();
    DecodeJob decodeJobs[kCindrellMaxThreads] = {};
    StretchJob stretchJobs[kCindrellMaxThreads] = {};
    FrameWork frame;
};

extern CindrellState gCindrellState;

// Inclusive range [*first, *last] of job k of n over `count` items starting at base.
void CindrellSplit(int k, int n, int count, int base, int *first, int *last);

// Thread k of the frame's one wave on the worker pool: the segments of Decode job k, then what
// other Decode jobs have left; in the full decoding, once every segment is in the work picture,
// the rows of Stretch job k and what other Stretch jobs have left. Thread k decodes with context
// k; the jobs' segments and rows are disjoint, so who does which never changes the picture.
void CindrellFrameThread(int k);
// Segment `item` of Decode job j (its channels' ranges in turn, then the 12th sequence's).
void DecodeJobItem(int j, int item, int k);
void DecodeThreadProc(int k);
void SetupStretchJob(int k, uint8_t *output, uint8_t *workPicture, int height, int width,
                     int bytesPerPixel, int yuvOutput, int format, int decimation, int widen,
                     int enable, int mirror, int mode);
// Row `row` of Stretch job j with thread k's row buffers.
void StretchRow(int j, int row, int k);
void StretchThreadProc(int k);
