#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// The grow-only sound sample buffers through which every producer of output sound passes (the
// sound copier, the AVI reader's audio hand-off, the audio block output, the ring drain).
// Process-wide, empty at start, kept from movie to movie. Used on one thread at a time.

struct SoundBuffer
{
    Handle handle = nullptr; // storage of the current block; null before the first use
    char *data = nullptr;    // the handle's data, taken again after every allocation or read
    int32_t capacity = 0;    // bytes the handle is known to hold
    int32_t byteCount = 0;   // bytes of the current block
    int32_t sampleCount = 0; // sample frames of the current block (all channels of one instant)
};

// The second-track and interleave handles.
struct SoundScratchBuffer
{
    Handle handle = nullptr;
    char *data = nullptr;
    int32_t capacity = 0;
};

extern SoundBuffer gSoundBuffer;
extern SoundScratchBuffer gSoundBuffer2; // the source's second sound track
extern SoundScratchBuffer gSoundBuffer3; // interleaving of two mono tracks

// Makes gSoundBuffer hold n bytes and sets byteCount = n. Contents are not kept across a growth.
// On failure shows "Could not allocate sound buffer memory" and leaves the buffer without storage
// (null handle and data, capacity and byteCount 0) and returns false: nothing may be written then.
bool EnsureSoundBuffer(int32_t n);
// The same for the scratch handles; the handle, or null on failure.
Handle EnsureSoundBuffer2(int32_t n);
Handle EnsureSoundBuffer3(int32_t n);

// Take data and capacity again after a service grew or replaced a handle's storage.
void RefreshSoundBuffer();
void RefreshSoundScratchBuffer(SoundScratchBuffer &buffer);
