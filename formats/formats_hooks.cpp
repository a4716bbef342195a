#include "formats/formats_hooks.h"

#include <cstring>
#include <vector>

#include "platform/sys/debug_trace.h"

void DefaultShowMessage(const char *text)
{
    lc::DebugTrace("%s\n", text ? text : "");
}
int DefaultPassesLeft()
{
    return 1;
}
int DefaultZero()
{
    return 0;
}
int DefaultOne()
{
    return 1;
}
int DefaultNtscOutputHeight()
{
    return 480;
}
void DefaultSetFrameRate(int) {}

uint8_t *DefaultEnsureSoundBuffer(int bytes)
{
    static std::vector<uint8_t> buffer;
    if (bytes < 0) {
        return nullptr;
    }
    if (buffer.size() < size_t(bytes)) {
        buffer.assign(size_t(bytes), 0);
    }
    return buffer.data();
}

void DefaultSetSoundSampleCount(int) {}
void DefaultResetAudioRings() {}
void DefaultSetAudioRingBigEndian(int) {}
void DefaultWriteAudioRing(const int16_t *, uint32_t, int) {}
uint32_t DefaultAudioRingAvailableBytes(int)
{
    return 0;
}

void DefaultReadAudioRingResampled(int16_t *dst, uint32_t bytes, int)
{
    if (dst) {
        std::memset(dst, 0, bytes & ~3u);
    }
}

FormatsHooks gFormatsHooks = {
    DefaultShowMessage,
    DefaultShowMessage,
    DefaultPassesLeft,
    DefaultZero,
    DefaultZero,
    DefaultOne,
    DefaultNtscOutputHeight,
    DefaultZero,
    DefaultSetFrameRate,
    DefaultEnsureSoundBuffer,
    DefaultSetSoundSampleCount,
    DefaultOne,
    DefaultResetAudioRings,
    DefaultSetAudioRingBigEndian,
    DefaultWriteAudioRing,
    DefaultAudioRingAvailableBytes,
    DefaultReadAudioRingResampled,
};
