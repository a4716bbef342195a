#include "engine/frame_store.h"

#include "engine/conversion_options.h"
#include "engine/engine_hooks.h"
#include "engine/frame_groups.h"
#include "engine/picture_effects.h"
#include "platform/sys/large_buffer.h"

FrameStore gFrameStore;
EngineSettings gEngineSettings;
// A group streams a dozen frames and maps at once: on huge pages where the system has them.
FrameBufferAllocator gFrameBufferAllocator = lc::AllocateLargeZeroed;

namespace {

template <typename T> bool Take(T *&slot, size_t bytes)
{
    slot = static_cast<T *>(gFrameBufferAllocator(1, bytes));
    return slot != nullptr;
}

bool TakeAll()
{
    FrameStore &fs = gFrameStore;
    for (uint8_t *&f : fs.historyFrames) {
        if (!Take(f, kFrameBufferBytes)) {
            return false;
        }
    }
    for (uint8_t *&f : fs.inputFrames) {
        if (!Take(f, kFrameBufferBytes)) {
            return false;
        }
    }
    for (int32_t *&m : fs.motionMaps) {
        if (!Take(m, kMapBytes)) {
            return false;
        }
    }
    return Take(fs.noiseTable, kNoiseTableSize * sizeof(int32_t))
           && Take(fs.blurFrame, kFrameBufferBytes) && Take(fs.mixFrame, kFrameBufferBytes)
           && Take(fs.rgbOutFrame, kFrameBufferBytes) && Take(fs.lineMask, kMapBytes)
           && Take(fs.lineMaskSum, kMapBytes);
}

template <typename T> void Drop(T *&p)
{
    lc::FreeLargeZeroed(p);
    p = nullptr;
}

} // namespace

int AllocateFrameStore()
{
    if (gFrameStore.allocated) {
        return 1;
    }
    // The allocator zero-fills, which the motion and line maps rely on.
    if (!TakeAll()) {
        ReleaseFrameStore();
        EngineShowError("Cannot allocate enough memory to store frames");
        return 0;
    }
    gFrameStore.allocated = 1;
    return 1;
}

void ReleaseFrameStore()
{
    FrameStore &fs = gFrameStore;
    for (uint8_t *&f : fs.historyFrames) {
        Drop(f);
    }
    for (uint8_t *&f : fs.inputFrames) {
        Drop(f);
    }
    for (int32_t *&m : fs.motionMaps) {
        Drop(m);
    }
    Drop(fs.noiseTable);
    Drop(fs.blurFrame);
    Drop(fs.mixFrame);
    Drop(fs.rgbOutFrame);
    Drop(fs.lineMask);
    Drop(fs.lineMaskSum);
    for (int i = 0; i < kSlotCount; i++) {
        fs.rgbSlots[i] = nullptr;
        fs.yuvSlots[i] = nullptr;
    }
    fs.allocated = 0;
}

void UseYuvFrames()
{
    gFrameStore.yuvActive = 1;
    gFrameStore.bytesPerPixel = 2;
}

void UseRgbFrames()
{
    gFrameStore.yuvActive = 0;
    gFrameStore.bytesPerPixel = 3;
}

int ValidateFrameSize(int32_t height, int32_t width, int32_t rowBytes)
{
    FrameStore &fs = gFrameStore;
    fs.sourceWidth = static_cast<uint32_t>(width);
    fs.sourceHeight = static_cast<uint32_t>(height);
    if (gConversionOptions.addGrain) {
        BuildGrainTable();
    }
    ResetCadenceCounter();
    fs.rowPitch = rowBytes > 0 ? static_cast<uint32_t>(rowBytes) / fs.bytesPerPixel : 0;

    // The buffers and maps have fixed sizes: refuse what would not fit before any kernel runs.
    if (width <= 0 || height <= 0) {
        EngineShowError("Error: Movie has no picture");
        return 0;
    }
    if (fs.rowPitch < fs.sourceWidth) {
        EngineShowError("Error: Movie row bytes < width");
        return 0;
    }
    // An NTSC standard-definition frame may be converted to 576 lines in the same buffers.
    uint64_t lines = fs.sourceHeight;
    const bool hd = IsHdFrame(fs.sourceWidth, fs.sourceHeight);
    if (!gEngineSettings.sourceIsPal && !hd && lines < 576) {
        lines = 576;
    }
    if (lines * fs.rowPitch * fs.bytesPerPixel > kFrameBufferBytes) {
        EngineShowError("Error: Movie frame > 9216000 bytes");
        return 0;
    }
    if ((static_cast<uint64_t>(fs.sourceHeight) + 1) / 2 * fs.sourceWidth > kMapValues) {
        EngineShowError("Error: Movie too large for the motion maps (1920 x 1200)");
        return 0;
    }

    if (gEngineSettings.sourceIsPal) {
        if (hd || (width == 720 && height == 576)) {
            return 1;
        }
        if (height >= 576) {
            EngineShowWarning("Warning: Movie not 720 x 576 (PAL)");
            return 1;
        }
        EngineShowError("Error: PAL Movie height < 576");
        return 0;
    }
    if (hd || (width == 720 && (height == 486 || height == 480))) {
        return 1;
    }
    if (height >= 480) {
        EngineShowWarning("Warning: Movie not 720 x 480 or 720 x 486 (NTSC)");
        return 1;
    }
    EngineShowError("Error: NTSC Movie height < 480");
    return 0;
}

int OutputFrameHeight()
{
    const FrameStore &fs = gFrameStore;
    if (IsHdFrame(fs.sourceWidth, fs.sourceHeight)) {
        return static_cast<int>(fs.sourceHeight);
    }
    return gEngineSettings.sourceIsPal ? gEngineSettings.ntscOutputHeight : 576;
}

void SetSlotFrames(uint8_t *const *frames, int count)
{
    for (int i = 0; i < count; i++) {
        gFrameStore.rgbSlots[i] = frames[i];
        gFrameStore.yuvSlots[i] = frames[i];
    }
}

size_t RowBytes()
{
    return static_cast<size_t>(gFrameStore.rowPitch) * gFrameStore.bytesPerPixel;
}

FrameView BufferView(uint8_t *base, int width, int height)
{
    FrameView v;
    v.base = base;
    v.width = width;
    v.height = height;
    v.pitch = static_cast<ptrdiff_t>(RowBytes());
    v.bytesPerPixel = static_cast<int>(gFrameStore.bytesPerPixel);
    return v;
}

FrameView SlotView(int slot)
{
    const FrameStore &fs = gFrameStore;
    uint8_t *base = fs.yuvActive ? fs.yuvSlots[slot] : fs.rgbSlots[slot];
    return BufferView(base, static_cast<int>(fs.frameWidth), static_cast<int>(fs.frameHeight));
}

MapView MotionMapView(int slot)
{
    const FrameStore &fs = gFrameStore;
    MapView m;
    m.base = fs.motionMaps[slot];
    m.width = static_cast<int>(fs.frameWidth);
    m.rows = static_cast<int>(fs.frameHeight / 2);
    m.stride = static_cast<ptrdiff_t>(fs.frameWidth);
    return m;
}
