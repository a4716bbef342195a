#include "engine/frame_feed.h"

#include <cstring>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/frame_store.h"
#include "engine/pulldown.h"

SingleFrameFeedState gSingleFrameFeed;

namespace {

// Bytes of one frame, or 0 when the store has no buffers or the frame would overrun them.
size_t FeedFrameBytes(int height, int width, int bytesPerPixel)
{
    if (!gFrameStore.allocated || height < 1 || width < 1 || bytesPerPixel < 1
        || bytesPerPixel > 4) {
        return 0;
    }
    const uint64_t bytes = uint64_t(height) * uint64_t(width) * uint64_t(bytesPerPixel);
    return bytes <= kFrameBufferBytes ? static_cast<size_t>(bytes) : 0;
}

void SetSourceSize(int height, int width)
{
    gFrameStore.sourceHeight = static_cast<uint32_t>(height);
    gFrameStore.sourceWidth = static_cast<uint32_t>(width);
}

void CopyToSlot(int slot, const uint8_t *frame, size_t bytes)
{
    std::memcpy(gFrameStore.inputFrames[slot], frame, bytes);
}

void CopySlot(int dst, int src, size_t bytes)
{
    std::memcpy(gFrameStore.inputFrames[dst], gFrameStore.inputFrames[src], bytes);
}

// Steps 1 and 2 of the two group feeds: frame n (from 0) into the window. keepNextFirst: the
// next group's first frame is also kept in slot 8, for feeds whose kernel overwrites slot 6.
void SlideGroupWindow(const uint8_t *frame, size_t bytes, int n, bool keepNextFirst)
{
    if (n < 6) {
        // The first group, with frame 0 also as its previous frame.
        CopyToSlot(n + 1, frame, bytes);
        if (n == 0) {
            CopyToSlot(0, frame, bytes);
        }
        if (n == 4) {
            CopyToSlot(7, frame, bytes);
        }
        if (n == 5 && keepNextFirst) {
            CopyToSlot(8, frame, bytes);
        }
        return;
    }
    // Later groups slide the window by five frames.
    switch (n % 5) {
    case 1:
        CopySlot(0, 7, bytes);
        CopySlot(1, keepNextFirst ? 8 : 6, bytes);
        CopyToSlot(2, frame, bytes);
        break;
    case 2:
    case 3:
        CopyToSlot(n % 5 + 1, frame, bytes);
        break;
    case 4:
        CopyToSlot(5, frame, bytes);
        CopyToSlot(7, frame, bytes);
        break;
    default:
        CopyToSlot(6, frame, bytes);
        if (keepNextFirst) {
            CopyToSlot(8, frame, bytes);
        }
        break;
    }
}

} // namespace

int ProcessFrameGroup(uint8_t *const *slots, int first)
{
    uint8_t *copy[kSlotCount];
    std::memcpy(copy, slots, sizeof copy);
    return ConvertFrameGroup(copy, static_cast<int>(gFrameStore.sourceWidth),
                             static_cast<int>(gFrameStore.sourceHeight), first);
}

void FeedSingleFrame(uint8_t *frame, int height, int width, int bytesPerPixel)
{
    const size_t bytes = FeedFrameBytes(height, width, bytesPerPixel);
    if (bytes == 0 || frame == nullptr) {
        return;
    }
    SetSourceSize(height, width);
    // 1: the window: previous frame, the frame being processed, the newest frame.
    if (gSingleFrameFeed.firstCall) {
        CopyToSlot(0, frame, bytes);
        CopyToSlot(1, frame, bytes);
        CopyToSlot(2, frame, bytes);
        gSingleFrameFeed.firstCall = 0;
    } else {
        CopySlot(1, 2, bytes);
        CopyToSlot(2, frame, bytes);
    }
    // 2: count the call; RGB at the frame's own width.
    gSingleFrameFeed.callCount++;
    gFrameStore.yuvActive = 0;
    gFrameStore.rowPitch = static_cast<uint32_t>(width);
    // 3: process slot 1 (full-weight deinterlacing on the first call).
    ConvertFrameGroup(gFrameStore.inputFrames, width, height, gSingleFrameFeed.callCount == 1);
    // 4: hand back the processed frame.
    std::memcpy(frame, gFrameStore.inputFrames[1], bytes);
}

namespace {

// Step 3 of the pulldown removal feed: the group in slots 1..5 is rebuilt.
int RunPulldownGroup(int *outList)
{
    gFrameStore.yuvActive = 0;
    gFrameStore.rowPitch = gFrameStore.sourceWidth;
    const ConversionOptions &o = gConversionOptions;
    if (!o.pulldown2332To25P && !o.pulldown32To25P) {
        RemovePulldownGroup(gFrameStore.inputFrames, outList, 2);
        return 4;
    }
    return DetectPulldownPhase(gFrameStore.inputFrames, outList, 0);
}

// Step 3 of the frame-group feed.
int RunFrameGroup(int height, int width, int bytesPerPixel)
{
    gFrameStore.yuvActive = 0;
    gFrameStore.rowPitch = static_cast<uint32_t>(width);
    gFrameStore.bytesPerPixel = static_cast<uint32_t>(bytesPerPixel);
    return ConvertFrameGroup(gFrameStore.inputFrames, width, height, 0);
}

// The end of the stream after frameCount frames: the last group, whole or cut short, is padded
// with its last frame up to slot 6, as no frame follows it. The source frames it holds (1..5);
// 0 when there is nothing to run.
int CloseLastGroup(size_t bytes, int frameCount, bool keepNextFirst)
{
    if (bytes == 0 || frameCount < 1) {
        return 0;
    }
    const int held = frameCount % 5 == 0 ? 5 : frameCount % 5;
    // A stream that ends on a group's first frame: the window has not slid to that group yet.
    if (held == 1 && frameCount > 5) {
        CopySlot(0, 7, bytes);
        CopySlot(1, keepNextFirst ? 8 : 6, bytes);
    }
    for (int s = held + 1; s <= 6; s++) {
        CopySlot(s, held, bytes);
    }
    return held;
}

} // namespace

int FeedPulldownRemoval(const uint8_t *frame, int height, int width, int bytesPerPixel,
                        int *outList, int frameNumber)
{
    const size_t bytes = FeedFrameBytes(height, width, bytesPerPixel);
    if (bytes == 0 || frame == nullptr || outList == nullptr || frameNumber < 0) {
        return 0;
    }
    SetSourceSize(height, width);
    const int n = frameNumber;
    // 1, 2: the window.
    SlideGroupWindow(frame, bytes, n, false);
    // 3: the group before this frame is complete.
    if (n % 5 != 0 || n == 0) {
        return 0;
    }
    return RunPulldownGroup(outList);
}

int FinishPulldownRemoval(int height, int width, int bytesPerPixel, int *outList, int frameCount)
{
    const int held =
        outList == nullptr
            ? 0
            : CloseLastGroup(FeedFrameBytes(height, width, bytesPerPixel), frameCount, false);
    if (held == 0) {
        return 0;
    }
    SetSourceSize(height, width);
    return KeptGroupOutputs(RunPulldownGroup(outList), held);
}

int FinishFrameGroup(int height, int width, int bytesPerPixel, int frameCount)
{
    const int held = CloseLastGroup(FeedFrameBytes(height, width, bytesPerPixel), frameCount, true);
    if (held == 0) {
        return 0;
    }
    SetSourceSize(height, width);
    return KeptGroupOutputs(RunFrameGroup(height, width, bytesPerPixel), held);
}

int FeedFrameGroup(const uint8_t *frame, int height, int width, int bytesPerPixel, int frameNumber)
{
    const size_t bytes = FeedFrameBytes(height, width, bytesPerPixel);
    if (bytes == 0 || frame == nullptr || frameNumber < 1) {
        return 0;
    }
    SetSourceSize(height, width);
    const int n = frameNumber - 1;
    // 1, 2: the window; slots 7 and 8 survive the weave.
    SlideGroupWindow(frame, bytes, n, true);
    // 3: run the group before this frame.
    if (n % 5 != 0 || n == 0) {
        return 0;
    }
    return RunFrameGroup(height, width, bytesPerPixel);
}
