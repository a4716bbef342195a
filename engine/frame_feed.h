#pragma once

#include <cstdint>

// Frame feeding for pushed input (the MPEG-2 output stage): each driver takes one frame at a time
// into the sliding window of FrameStore::inputFrames and runs the group pipeline when a group is
// complete. Slots: 0 the frame before the group, 1..5 the group, 6 the first frame of the next
// group, 7 a copy of the group's last frame (the next slot 0), 8 a copy of the next group's first
// frame (the next slot 1) for the frame-group feed, whose PAL-to-NTSC weave overwrites slots 1..6.
// Frames are height x width x bytesPerPixel bytes, at most kFrameBufferBytes.

// The single-frame feed's process-wide values: neither is reset between movies, so the first-call
// behaviour happens once per run of the program.
struct SingleFrameFeedState
{
    int32_t firstCall = 1; // the next call is the first of the program's run
    int32_t callCount = 0; // calls so far
};

extern SingleFrameFeedState gSingleFrameFeed;

// ConvertFrameGroup on a copy of the seven slot pointers at sourceWidth x sourceHeight.
int ProcessFrameGroup(uint8_t *const *slots, int first);

// The buffer receives the processed frame of one call earlier (its own frame on the first call).
// Nothing happens when the frame store is not allocated or the frame does not fit its buffers.
void FeedSingleFrame(uint8_t *frame, int height, int width, int bytesPerPixel);

// frameNumber counts from 0. Returns 4 when the group before this frame was rebuilt (outList names
// the four output slots, in order), else 0; also 0 for a frame that does not fit or a negative
// number.
int FeedPulldownRemoval(const uint8_t *frame, int height, int width, int bytesPerPixel,
                        int *outList, int frameNumber);

// frameNumber counts from 1. Returns the number of output frames (slots 1..n) when the group
// before this frame ran, else 0; also 0 for a frame that does not fit or a number below 1.
int FeedFrameGroup(const uint8_t *frame, int height, int width, int bytesPerPixel, int frameNumber);

// The end of the stream, after frameCount frames were fed: the last group, whole or cut short,
// is run padded with its last frame (no frame follows it). Results as for the feeds, but only the
// output frames that stand for the frames fed (KeptGroupOutputs) are counted: the first of
// outList, or slots 1..n; 0 when no frame was fed.
int FinishPulldownRemoval(int height, int width, int bytesPerPixel, int *outList, int frameCount);
int FinishFrameGroup(int height, int width, int bytesPerPixel, int frameCount);
