#include "dvdecoder/cindrell.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "dvdecoder/cindrell_hooks.h"
#include "dvdecoder/internal/cindrell_context.h"
#include "dvdecoder/internal/cindrell_state.h"
#include "dvdecoder/internal/dif_tables.h"
#include "dvdecoder/internal/pixel_kernels.h"
#include "platform/sys/worker_pool.h"

CindrellHooks gCindrellHooks;
CindrellState gCindrellState;

namespace {

CindrellContext gContexts[kCindrellMaxThreads];
// The three row buffers of each Stretch job, whole cache lines each: the threads write them all
// the time.
constexpr int kRowBufferBytes = (kStretchRowBytes + kRowSlack + 63) & ~63;
alignas(64) uint8_t gRowBuffers[kCindrellMaxThreads][3][kRowBufferBytes];

// The contexts, jobs and tables are process-wide: one frame (or set-up) at a time, even when the
// player and a conversion both ask.
std::mutex gDecoderLock;

int Pitch(int width)
{
    return (width * 3 + 3) & ~3;
}

// Items a thread claims at a time: a few microseconds of work, so that the claims (each a
// locked instruction that waits for the thread's stores) cost little and the last claims of a
// frame end close together.
constexpr int kSegmentsPerClaim = 3;
constexpr int kRowsPerClaim = 4;

// One wave: body(k) for the n threads, on the persistent pool's threads (woken, never started
// per frame); returns when every one is done.
void RunWave(int n, void (*body)(int))
{
    lc::SharedWorkerPool().Run(n, [body](int k) { body(k); });
}

// Waits until every segment of the frame is in the work picture. The threads that get here
// have run out of segments to take, so every segment left is in a running thread's hands:
// a spin of some 40 microseconds (a claim of segments takes about 15), then a sleep. A thread
// that sleeps here must be woken before the frame's wave can end.
void WaitForSegments(FrameWork &f)
{
    for (int spin = 0; spin < 4096; ++spin) {
        if (f.segmentsDone.load(std::memory_order_acquire) == f.totalSegments) {
            return;
        }
        __builtin_ia32_pause();
    }
    for (;;) {
        const int32_t done = f.segmentsDone.load(std::memory_order_acquire);
        if (done == f.totalSegments) {
            return;
        }
        f.segmentsDone.wait(done, std::memory_order_acquire);
    }
}

} // namespace

void CindrellMessage(const char *text)
{
    if (gCindrellHooks.messageBox) {
        gCindrellHooks.messageBox(text, kCindrellCaption);
    }
}

namespace {

struct KindFacts
{
    int codedWidth, displayWidth, lines;
    size_t frameBytes;
};

// Indexed by frame kind; kind 0 and unknown kinds have none.
constexpr KindFacts kKinds[5] = {{0, 0, 0, 0},
                                 {1280, 1920, 1080, 480000},
                                 {960, 1280, 720, 240000},
                                 {1440, 1920, 1080, 576000},
                                 {960, 1280, 720, 288000}};

const KindFacts &Facts(int format)
{
    return kKinds[format >= 1 && format <= 4 ? format : 0];
}

} // namespace

int CindrellCodedWidth(int format)
{
    return Facts(format).codedWidth;
}
int CindrellDisplayWidth(int format)
{
    return Facts(format).displayWidth;
}
int CindrellLines(int format)
{
    return Facts(format).lines;
}
size_t CindrellFrameBytes(int format)
{
    return Facts(format).frameBytes;
}

void CindrellSplit(int k, int n, int count, int base, int *first, int *last)
{
    *first = base + k * count / n;
    *last = base + (k + 1) * count / n - 1;
}

void CindrellInit()
{
    std::lock_guard<std::mutex> lock(gDecoderLock);
    // 1. Address and position tables.
    BuildDifAddressTables();
    BuildPositionTables();
    // 2. x86-64 always has MMX, SSE and SSE2, so there is no processor to warn about; the
    // kernels are the best this one runs.
    gCindrellState.kernels = &CindrellKernelsBest();
    // 3. One job per thread of the pool (a thread per processor), as many as there are jobs at
    // most.
    gCindrellState.threadCount =
        std::clamp(lc::SharedWorkerPool().Threads(), 1, kCindrellMaxThreads);
}

namespace {

// What a frame's decoding is told by its arguments: orientation, widening, target, channels.
struct FramePlan
{
    int flip = 0;
    int widen = 0;
    int fullWidth = 0;
    uint8_t *target = nullptr;
    int channels[4] = {0, 1, 2, 3};
    int channelCount = 4;
};

lc::Status CheckDecodeArguments(uint8_t *output, int width, int height, const uint8_t *source,
                                size_t sourceBytes, uint8_t *workBuffer, int mode, int yuvOutput,
                                int fastPath, int format, int bitsPerPixel, int decimation,
                                int mirror)
{
    // The decoder writes by the kind's geometry, so a picture that does not hold it or a short
    // frame would be overrun.
    if (format < 1 || format > 4) {
        return lc::Fail(lc::Error::InvalidArgument, "DVCPRO HD frame kind");
    }
    if (sourceBytes < CindrellFrameBytes(format)) {
        return lc::Fail(lc::Error::BadData, "short DVCPRO HD frame", int64_t(sourceBytes));
    }
    if (!output || !source || !workBuffer || (mode != 0 && mode != 1) || yuvOutput != 0
        || fastPath != 0 || bitsPerPixel != 24 || decimation != 1 || mirror != 0) {
        return lc::Fail(lc::Error::InvalidArgument, "DVCPRO HD decode settings");
    }
    const int lines = std::abs(height);
    if (lines != CindrellLines(format) || width < CindrellCodedWidth(format)
        || width > CindrellDisplayWidth(format)) {
        return lc::Fail(lc::Error::InvalidArgument, "DVCPRO HD picture size");
    }
    return {};
}

FramePlan MakeFramePlan(uint8_t *output, int width, int height, const uint8_t *source,
                        uint8_t *workBuffer, int mode, int format)
{
    FramePlan plan;
    // 1.-2. Orientation and widening.
    plan.flip = height >= 1 ? 1 : 0;
    const bool display = width == CindrellDisplayWidth(format);
    plan.widen = mode == 1 && display ? 1 : 0;
    plan.fullWidth = mode == 0 && display ? 1 : 0;
    plan.target = mode == 1 ? workBuffer : output;
    // 3. Channels: 720-line frames carry one channel pair, told by bit 2 of the second byte.
    if (format == 2 || format == 4) {
        plan.channelCount = 2;
        if ((source[1] & 4) == 0) {
            plan.channels[0] = 2;
            plan.channels[1] = 3;
        }
    }
    return plan;
}

// The fields of a Decode job but its range and channel, for the settings the checks allow.
void FillDecodeJob(DecodeJob &job, const FramePlan &plan, int width, int lines,
                   const uint8_t *source, int format, int mode)
{
    job.target = plan.target;
    job.width = width;
    job.height = lines;
    job.source = source;
    job.yuvOutput = 0;
    job.format = format;
    job.mode = mode;
    job.fastPath = 0;
    job.flip = plan.flip;
    job.decimation = 1;
    job.widen = plan.widen;
    job.fullWidth = plan.fullWidth;
    job.bitsPerPixel = 24;
}

} // namespace

lc::Status CindrellDecodeFrame(uint8_t *output, int width, int height, const uint8_t *source,
                               size_t sourceBytes, uint8_t *workBuffer, int mode, int yuvOutput,
                               int fastPath, int format, int bitsPerPixel, int decimation,
                               int mirror)
{
    if (lc::Status ok =
            CheckDecodeArguments(output, width, height, source, sourceBytes, workBuffer, mode,
                                 yuvOutput, fastPath, format, bitsPerPixel, decimation, mirror);
        !ok) {
        return ok;
    }
    const int lines = std::abs(height);

    std::lock_guard<std::mutex> lock(gDecoderLock);
    const FramePlan plan = MakeFramePlan(output, width, height, source, workBuffer, mode, format);
    // 4. Split the segments of a channel over the threads.
    const int total = format == 3 ? 297 : 270;
    const int n = std::clamp(gCindrellState.threadCount, 1, kCindrellMaxThreads);
    FrameWork &f = gCindrellState.frame;
    f.channelCount = plan.channelCount;
    std::copy(plan.channels, plan.channels + 4, f.channels);
    f.twelfthSequence = format == 3;
    f.jobs = n;
    f.stretch = mode == 1;
    f.totalSegments = 0;
    for (int k = 0; k < n; ++k) {
        DecodeJob &job = gCindrellState.decodeJobs[k];
        FillDecodeJob(job, plan, width, lines, source, format, mode);
        CindrellSplit(k, n, total, 0, &job.first, &job.last);
        // 5.-6. Job k's segments of each channel in turn, then its part of the 12th sequence.
        int first12 = 0;
        int last12 = -1;
        if (f.twelfthSequence) {
            CindrellSplit(k, n, 27, 297, &first12, &last12);
        }
        JobItems &items = f.decodeItems[k];
        items.count = plan.channelCount * (job.last - job.first + 1) + (last12 - first12 + 1);
        items.next.store(0, std::memory_order_relaxed);
        f.totalSegments += items.count;
    }
    f.segmentsDone.store(0, std::memory_order_relaxed);
    // 7. Mode 1: the Stretch jobs, rows k*H/N .. (k+1)*H/N - 1.
    if (mode == 1) {
        for (int k = 0; k < n; ++k) {
            SetupStretchJob(k, output, workBuffer, lines, width, bitsPerPixel / 8, yuvOutput,
                            format, decimation, plan.widen, 1, mirror, mode);
            const StretchJob &job = gCindrellState.stretchJobs[k];
            JobItems &items = f.stretchItems[k];
            items.count = job.last - job.first + 1;
            items.next.store(0, std::memory_order_relaxed);
        }
    }
    // 5.-8. One wave for the frame: the channels' segments and the 12th sequence never share
    // pixels, so they need no wave each, and each thread goes on to its rows once the last
    // segment is in instead of the frame waking the threads again for a Stretch wave.
    RunWave(n, CindrellFrameThread);
    return {};
}

void DecodeJobItem(int j, int item, int k)
{
    const DecodeJob &job = gCindrellState.decodeJobs[j];
    const FrameWork &f = gCindrellState.frame;
    const int perChannel = job.last - job.first + 1;
    int channel = 0;
    int g = 0;
    if (item < f.channelCount * perChannel) {
        channel = f.channels[item / perChannel];
        g = job.first + item % perChannel;
    } else {
        int first12 = 0;
        int last12 = 0;
        CindrellSplit(j, f.jobs, 27, 297, &first12, &last12);
        g = first12 + item - f.channelCount * perChannel;
    }
    CindrellContext &context = gContexts[k];
    context.SetParams(job.flip, job.decimation, job.widen, job.fullWidth, job.bitsPerPixel);
    context.SetKernels(gCindrellState.kernels);
    if (job.mode == 1) {
        context.DecodeVideoSegment(channel, g / 27, g % 27, job.target, job.width, job.height,
                                   job.source, job.yuvOutput, job.format);
    } else {
        context.DecodeVideoSegmentFast(channel, g / 27, g % 27, job.target, job.width, job.height,
                                       job.source, job.yuvOutput, job.fastPath, job.format);
    }
}

void CindrellFrameThread(int k)
{
    FrameWork &f = gCindrellState.frame;
    // Decode: job k first, then what the others have left.
    int32_t decoded = 0;
    for (int step = 0; step < f.jobs; ++step) {
        const int j = (k + step) % f.jobs;
        JobItems &items = f.decodeItems[j];
        for (int i; (i = items.next.fetch_add(kSegmentsPerClaim, std::memory_order_relaxed))
                    < items.count;) {
            for (const int end = std::min(i + kSegmentsPerClaim, items.count); i < end; ++i) {
                DecodeJobItem(j, i, k);
                ++decoded;
            }
        }
    }
    if (f.segmentsDone.fetch_add(decoded, std::memory_order_acq_rel) + decoded == f.totalSegments) {
        f.segmentsDone.notify_all();
    }
    if (!f.stretch) {
        return;
    }
    WaitForSegments(f);
    StretchThreadProc(k);
}

lc::Status CindrellDecodeSequence(uint8_t *output, int width, int height, const uint8_t *source,
                                  size_t sourceBytes, uint8_t *workBuffer, int mode, int format,
                                  int sequence)
{
    if (lc::Status ok = CheckDecodeArguments(output, width, height, source, sourceBytes, workBuffer,
                                             mode, 0, 0, format, 24, 1, 0);
        !ok) {
        return ok;
    }
    const int sequenceBytes = kDifBlockBytes * kDifSequenceBlocks;
    if (sequence < 0 || size_t(sequence) >= CindrellFrameBytes(format) / sequenceBytes) {
        return lc::Fail(lc::Error::InvalidArgument, "DIF sequence number");
    }

    std::lock_guard<std::mutex> lock(gDecoderLock);
    const FramePlan plan = MakeFramePlan(output, width, height, source, workBuffer, mode, format);
    // Job 0 on this thread, one segment at a time: the segments the frame's waves would give it.
    DecodeJob &job = gCindrellState.decodeJobs[0];
    FillDecodeJob(job, plan, width, std::abs(height), source, format, mode);
    const int rows = format == 3 ? 11 : 10;
    for (int ci = 0; ci < plan.channelCount; ++ci) {
        job.channel = plan.channels[ci];
        // Row 11 is the 12th sequence of 1080i50 frames, in channel 0 only.
        const int lastRow = format == 3 && job.channel == 0 ? 11 : rows - 1;
        for (int g = 0; g < (lastRow + 1) * 27; ++g) {
            const DifAddress &first =
                gCindrellTables
                    .difAddressTable[format][DifAddressIndex(job.channel, g / 27, 0, g % 27)];
            // The five blocks of a segment are consecutive blocks of one sequence.
            if (first.offset / sequenceBytes == uint32_t(sequence)) {
                job.first = job.last = g;
                DecodeThreadProc(0);
            }
        }
    }
    return {};
}

void DecodeThreadProc(int k)
{
    const DecodeJob &job = gCindrellState.decodeJobs[k];
    CindrellContext &context = gContexts[k];
    context.SetParams(job.flip, job.decimation, job.widen, job.fullWidth, job.bitsPerPixel);
    context.SetKernels(gCindrellState.kernels);
    for (int g = job.first; g <= job.last; ++g) {
        if (job.mode == 1) {
            context.DecodeVideoSegment(job.channel, g / 27, g % 27, job.target, job.width,
                                       job.height, job.source, job.yuvOutput, job.format);
        } else {
            context.DecodeVideoSegmentFast(job.channel, g / 27, g % 27, job.target, job.width,
                                           job.height, job.source, job.yuvOutput, job.fastPath,
                                           job.format);
        }
    }
}

void SetupStretchJob(int k, uint8_t *output, uint8_t *workPicture, int height, int width,
                     int bytesPerPixel, int yuvOutput, int format, int decimation, int widen,
                     int enable, int mirror, int mode)
{
    StretchJob &job = gCindrellState.stretchJobs[k];
    const int n = std::clamp(gCindrellState.threadCount, 1, kCindrellMaxThreads);
    CindrellSplit(k, n, height, 0, &job.first, &job.last);
    job.work = workPicture;
    job.output = output;
    job.yuvOutput = yuvOutput;
    job.decimation = decimation;
    job.bytesPerPixel = bytesPerPixel;
    job.mirror = mirror;
    job.mode = mode;
    job.format = format;
    job.enable = enable;
    job.widen = widen;
    for (int i = 0; i < 3; ++i) {
        job.rowBuffer[i] = gRowBuffers[k][i];
    }
    job.width = width;
    job.height = height;
}

void StretchRow(int j, int r, int k)
{
    const StretchJob &job = gCindrellState.stretchJobs[j];
    const CindrellKernels &kernels = *gCindrellState.kernels;
    const int codedWidth = CindrellCodedWidth(job.format);
    const int pitch = Pitch(job.width);
    // Thread k works in the row buffers of its own job.
    uint8_t *const *buffers = gCindrellState.stretchJobs[k].rowBuffer;
    uint8_t *converted = buffers[0];
    uint8_t *sharpened = buffers[2];
    uint8_t *widened = buffers[1];
    const uint8_t *work = job.work + ptrdiff_t(r) * pitch;
    uint8_t *out = job.output + ptrdiff_t(r) * pitch;
    // Work and output are the same memory: the row is read whole before it is written.
    kernels.convertRow(converted, work, job.width, codedWidth);
    if (!job.widen) {
        kernels.packBgr(out, converted, codedWidth);
        return;
    }
    kernels.sharpenRow(sharpened, converted, codedWidth);
    if (job.format == 1) {
        kernels.widen2to3(widened, sharpened, codedWidth);
    } else {
        kernels.widen3to4(widened, sharpened, codedWidth, job.width);
    }
    kernels.packBgr(out, widened, job.width);
}

void StretchThreadProc(int k)
{
    FrameWork &f = gCindrellState.frame;
    // Job k's rows first, then what the others have left.
    for (int step = 0; step < f.jobs; ++step) {
        const int j = (k + step) % f.jobs;
        const StretchJob &job = gCindrellState.stretchJobs[j];
        if (!job.enable) {
            continue;
        }
        JobItems &items = f.stretchItems[j];
        for (int i;
             (i = items.next.fetch_add(kRowsPerClaim, std::memory_order_relaxed)) < items.count;) {
            for (const int end = std::min(i + kRowsPerClaim, items.count); i < end; ++i) {
                StretchRow(j, job.first + i, k);
            }
        }
    }
}
