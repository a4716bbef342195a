#include "passes/audio_ring.h"

#include <algorithm>
#include <cstring>

#include "passes/sound_buffer.h"

AudioRing gAudioRing = {};

namespace {
constexpr int32_t kUnits = int32_t(kAudioRingUnitsPerEntry);

bool ValidStream(int stream)
{
    return stream >= 0 && stream < kAudioRingStreams;
}

// The step of the current movie; a record cleared to zero reads at the 29.97 step.
uint32_t ReadStep()
{
    uint32_t step = gAudioRing.readStep;
    return step > 0 && step < kAudioRingPositionWrap ? step : kAudioRingReadStep;
}

// Entries written but not yet passed by the read position.
uint32_t UnreadFrames(int stream)
{
    uint32_t f = gAudioRing.readPosition[stream] / kAudioRingUnitsPerEntry;
    return (gAudioRing.writeIndex[stream] - f) & (kAudioRingEntries - 1);
}

bool InsideSoundBuffer(const void *p)
{
    auto at = reinterpret_cast<uintptr_t>(p);
    auto start = reinterpret_cast<uintptr_t>(gSoundBuffer.data);
    return gSoundBuffer.data && at >= start && at - start < uintptr_t(gSoundBuffer.capacity);
}

// One block of bytes read out of the ring into the sound buffer, handed to the sink.
bool ReleaseBlock(int stream, uint32_t bytes, int bytesPerFrame, RetimedBlockSink sink,
                  void *context)
{
    if (!EnsureSoundBuffer(int32_t(bytes))) {
        return false;
    }
    ReadAudioRingResampled(gSoundBuffer.data, bytes, stream);
    gSoundBuffer.sampleCount = bytesPerFrame > 0 ? int32_t(bytes / uint32_t(bytesPerFrame)) : 0;
    return sink(context);
}
} // namespace

void ResetAudioRings()
{
    for (int s = 0; s < kAudioRingStreams; s++) {
        gAudioRing.writeIndex[s] = 0;
        gAudioRing.readPosition[s] = 0;
    }
}

void SwapBytes16(void *sample)
{
    auto *b = static_cast<uint8_t *>(sample);
    std::swap(b[0], b[1]);
}

int16_t SwapSampleIfBigEndian(int16_t value)
{
    if (!gAudioRing.bigEndian) {
        return value;
    }
    uint16_t u = uint16_t(value);
    return int16_t(uint16_t(u << 8 | u >> 8));
}

void WriteAudioRing(const void *source, uint32_t bytes, int stream)
{
    if (!ValidStream(stream) || !source) {
        return;
    }
    const auto *src = static_cast<const uint8_t *>(source);
    uint32_t w = gAudioRing.writeIndex[stream];
    AudioRingFrame *ring = gAudioRing.frames[stream];
    for (uint32_t i = 0; i < bytes / 4; i++) {
        int16_t pair[2];
        std::memcpy(pair, src + size_t(i) * 4, 4); // the source need not be aligned
        ring[w].left = SwapSampleIfBigEndian(pair[0]);
        ring[w].right = SwapSampleIfBigEndian(pair[1]);
        w = (w + 1) & (kAudioRingEntries - 1);
    }
    gAudioRing.writeIndex[stream] = w;
}

uint32_t AudioRingAvailableBytes(int stream)
{
    if (!ValidStream(stream)) {
        return 0;
    }
    return UnreadFrames(stream) * kAudioRingUnitsPerEntry / ReadStep() * 4;
}

uint32_t AudioRingFreeFrames(int stream)
{
    if (!ValidStream(stream)) {
        return 0;
    }
    return kAudioRingEntries - 2 - UnreadFrames(stream);
}

void ReadAudioRingResampled(void *destination, uint32_t bytes, int stream)
{
    if (!ValidStream(stream) || !destination) {
        return;
    }
    auto *dst = static_cast<uint8_t *>(destination);
    const AudioRingFrame *ring = gAudioRing.frames[stream];
    uint32_t pos = gAudioRing.readPosition[stream];
    const uint32_t step = ReadStep();
    for (uint32_t k = 0; k < bytes / 4; k++) {
        uint32_t f = pos / kAudioRingUnitsPerEntry;
        int32_t r = int32_t(pos % kAudioRingUnitsPerEntry);
        const AudioRingFrame &a = ring[f];
        const AudioRingFrame &b = ring[(f + 1) & (kAudioRingEntries - 1)];
        int16_t out[2] = {
            SwapSampleIfBigEndian(int16_t(a.left + (b.left - a.left) * r / kUnits)),
            SwapSampleIfBigEndian(int16_t(a.right + (b.right - a.right) * r / kUnits)),
        };
        std::memcpy(dst + size_t(k) * 4, out, 4);
        pos += step;
        if (pos >= kAudioRingPositionWrap) {
            pos -= kAudioRingPositionWrap;
        }
    }
    gAudioRing.readPosition[stream] = pos;
}

void InterleaveStereo(void *destination, const void *left, const void *right, uint32_t bytes)
{
    auto *dst = static_cast<uint8_t *>(destination);
    const auto *l = static_cast<const uint8_t *>(left);
    const auto *r = static_cast<const uint8_t *>(right);
    for (uint32_t i = 0; i < bytes / 2; i++) {
        std::memcpy(dst + size_t(i) * 4, l + size_t(i) * 2, 2);
        std::memcpy(dst + size_t(i) * 4 + 2, r + size_t(i) * 2, 2);
    }
}

bool ReleaseRetimedBlocks(int stream, int bytesPerFrame, RetimedBlockSink sink, void *context)
{
    while (AudioRingAvailableBytes(stream) > kRetimedBlockBytes) {
        if (!ReleaseBlock(stream, kRetimedBlockBytes, bytesPerFrame, sink, context)) {
            return false;
        }
    }
    return true;
}

bool FeedAudioRing(int stream, const void *source, uint32_t bytes, int bytesPerFrame,
                   RetimedBlockSink sink, void *context)
{
    if (!ValidStream(stream) || !source) {
        return false;
    }
    bytes &= ~3u;
    const auto *src = static_cast<const uint8_t *>(source);
    // Releasing blocks reuses the sound buffer: a source held there is moved out of the way first.
    if (bytes / 4 > AudioRingFreeFrames(stream) && InsideSoundBuffer(src)) {
        if (!EnsureSoundBuffer3(int32_t(bytes))) {
            return false;
        }
        std::memcpy(gSoundBuffer3.data, src, bytes);
        src = reinterpret_cast<const uint8_t *>(gSoundBuffer3.data);
    }
    while (bytes > 0) {
        uint32_t piece = std::min(bytes / 4, AudioRingFreeFrames(stream)) * 4;
        if (piece == 0) {
            // Full: make room by handing out every whole block.
            if (!sink || AudioRingAvailableBytes(stream) <= kRetimedBlockBytes
                || !ReleaseRetimedBlocks(stream, bytesPerFrame, sink, context)) {
                return false;
            }
            continue;
        }
        WriteAudioRing(src, piece, stream);
        src += piece;
        bytes -= piece;
    }
    return true;
}

bool DrainAudioRing(int stream, int bytesPerFrame, RetimedBlockSink sink, void *context)
{
    uint32_t n = AudioRingAvailableBytes(stream);
    if (n == 0) {
        return true;
    }
    return ReleaseBlock(stream, n, bytesPerFrame, sink, context);
}
