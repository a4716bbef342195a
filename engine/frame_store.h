#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/frame_view.h"

// Every frame buffer holds the largest frame the core accepts: 1920 x 1600 at 3 bytes a pixel.
constexpr uint32_t kFrameBufferBytes = 9216000;
// Motion and line maps: 1920 x 600 signed 32-bit values.
constexpr uint32_t kMapValues = 1152000;
constexpr uint32_t kMapBytes = kMapValues * 4;
constexpr int kNoiseTableSize = 1048576;
constexpr int kSlotCount = 7;
constexpr int kInputFrameCount = 9;
constexpr int kHistoryFrameCount = 6;
// Widths from here up are HD (and set the 3:2 field parity).
constexpr uint32_t kHdMinWidth = 900;
// The most lines a standard-definition frame has: the PAL frame the line conversion reads.
constexpr uint32_t kSdMaxHeight = 576;

// The one rule of what is HD, for the core, the passes and the MPEG-2 output: HD frames keep
// their size and lines through the conversions; standard-definition frames (narrower than 900
// pixels, at most 576 lines) are converted between 576 and 480/486 lines, so a taller frame
// would lose its lower lines.
constexpr bool IsHdFrame(uint32_t width, uint32_t height)
{
    return width >= kHdMinWidth || height > kSdMaxHeight;
}

// The frame geometry, pixel format, slot arrays and preallocated buffers of the frame processing
// core. Used by one thread at a time (the processing thread, or the MPEG-2 decoder thread through
// its output stage); nothing is locked.
struct FrameStore
{
    uint32_t sourceHeight = 0;  // height of the frames handed to the core
    uint32_t sourceWidth = 0;   // width of the frames handed to the core
    uint32_t frameHeight = 576; // height the kernels work at
    uint32_t frameWidth = 720;  // width the kernels work at
    uint32_t rowPitch = 0;      // pixels; a row is rowPitch x bytesPerPixel bytes
    uint32_t bytesPerPixel = 3; // 3 RGB24, 2 YUV 4:2:2
    int32_t yuvActive = 0;
    // 1 when RGB frames hold blue, green, red (the bottom-up frames of the MPEG-2 output stage);
    // the colour effects then find red in the third byte.
    int32_t bgrOrder = 0;

    uint8_t *rgbSlots[kSlotCount] = {}; // the group's frame slots, as the RGB kernels see them
    uint8_t *yuvSlots[kSlotCount] = {}; // the same pointers, as the YUV kernels see them

    uint8_t *inputFrames[kInputFrameCount] = {};     // kFrameBufferBytes each
    uint8_t *historyFrames[kHistoryFrameCount] = {}; // kFrameBufferBytes each
    int32_t *motionMaps[kSlotCount] = {};            // kMapValues each, zeroed, one per slot
    int32_t *noiseTable = nullptr;                   // kNoiseTableSize grain values
    uint8_t *blurFrame = nullptr;                    // work frame of the blur and flicker filters
    uint8_t *mixFrame = nullptr;                     // work frame of the blur mixing
    uint8_t *rgbOutFrame = nullptr;                  // RGB24 output; scratch of the squeeze
    // Written by the deinterlacer alone. After every run lineMask holds the line values each
    // reader wants; lineMaskSum takes a run's values where its row bands meet and may lag behind
    // lineMask elsewhere until DeinterlaceWeight, on its own, writes into it.
    int32_t *lineMask = nullptr;    // line values of the previous deinterlacing run, zeroed
    int32_t *lineMaskSum = nullptr; // line values written by the current run, zeroed
    int32_t allocated = 0;
};

extern FrameStore gFrameStore;

// What the core reads of the caller's per-movie records. The passes fill it before the first frame
// of each movie (and `passesLeft` before each pass); the core never reads those records itself.
struct EngineSettings
{
    int32_t sourceIsPal = 0;        // frame rate rounds to 25
    int32_t sourceIsNtsc = 1;       // any other rate
    int32_t ntscOutputHeight = 480; // 480, or 486 with "Output 486 Lines"
    int32_t passesLeft = 1;         // 2 during the analysis pass of a two-pass pulldown run
};

extern EngineSettings gEngineSettings;

// The allocator of AllocateFrameStore, calloc-like (zeroed memory, nullptr on failure); tests
// replace it to make an allocation fail part-way.
using FrameBufferAllocator = void *(*)(size_t count, size_t size);
extern FrameBufferAllocator gFrameBufferAllocator;

// Allocates every buffer once for the life of the process. Returns 1, or 0 after the error
// "Cannot allocate enough memory to store frames"; a failure frees what it took, so a later call
// tries again from the start.
int AllocateFrameStore();
// Frees every buffer (the program's end, and tests).
void ReleaseFrameStore();

void UseYuvFrames();
void UseRgbFrames();

// Sets the source size and row pitch for a movie, rebuilds the grain table when grain is on,
// resets the PAL-to-NTSC cadence and checks the size for the source family. Returns 1 to go on,
// 0 when the movie cannot be processed (after an error message).
int ValidateFrameSize(int32_t height, int32_t width, int32_t rowBytes);

// The height of the frames a pass writes: HD frames keep their height; standard-definition frames
// have the NTSC height for a PAL-family source and 576 lines for an NTSC-family one.
int OutputFrameHeight();

// Points both slot arrays at `count` frames.
void SetSlotFrames(uint8_t *const *frames, int count);
// The slot of the active pixel format at frameWidth x frameHeight.
FrameView SlotView(int slot);
// A frame buffer with the current row pitch and pixel size.
FrameView BufferView(uint8_t *base, int width, int height);
MapView MotionMapView(int slot);
// Bytes of one frame row: rowPitch x bytesPerPixel.
size_t RowBytes();
