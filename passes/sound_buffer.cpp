#include "passes/sound_buffer.h"

#include "passes/process_control.h"

SoundBuffer gSoundBuffer;
SoundScratchBuffer gSoundBuffer2;
SoundScratchBuffer gSoundBuffer3;

namespace {
const char kAllocationFailed[] = "Could not allocate sound buffer memory";

// Grows one handle to n bytes; the old contents are not kept. On failure the record is left with
// no storage at all, so no caller can write through a stale pointer.
bool Grow(Handle &handle, char *&data, int32_t &capacity, int32_t n)
{
    if (handle && n >= 0 && n <= capacity) {
        return true;
    }
    DisposeHandle(handle);
    handle = nullptr;
    data = nullptr;
    capacity = 0;
    Handle h = n >= 0 ? NewHandle(n) : nullptr;
    if (!h) {
        ShowError(kAllocationFailed);
        return false;
    }
    handle = h;
    data = *h;
    capacity = n;
    return true;
}
} // namespace

bool EnsureSoundBuffer(int32_t n)
{
    SoundBuffer &b = gSoundBuffer;
    if (!Grow(b.handle, b.data, b.capacity, n)) {
        b.byteCount = 0;
        b.sampleCount = 0;
        return false;
    }
    b.byteCount = n;
    return true;
}

Handle EnsureSoundBuffer2(int32_t n)
{
    SoundScratchBuffer &b = gSoundBuffer2;
    return Grow(b.handle, b.data, b.capacity, n) ? b.handle : nullptr;
}

Handle EnsureSoundBuffer3(int32_t n)
{
    SoundScratchBuffer &b = gSoundBuffer3;
    return Grow(b.handle, b.data, b.capacity, n) ? b.handle : nullptr;
}

void RefreshSoundBuffer()
{
    SoundBuffer &b = gSoundBuffer;
    b.data = b.handle ? *b.handle : nullptr;
    b.capacity = b.handle ? GetHandleSize(b.handle) : 0;
}

void RefreshSoundScratchBuffer(SoundScratchBuffer &buffer)
{
    buffer.data = buffer.handle ? *buffer.handle : nullptr;
    buffer.capacity = buffer.handle ? GetHandleSize(buffer.handle) : 0;
}
