#include "mpeg2/wav_writer.h"

#include <cmath>
#include <cstring>

#include "platform/sys/bytes.h"
#include "platform/sys/text.h"

namespace {

constexpr uint32_t kWavRate = 48000;
constexpr uint16_t kWavChannels = 2;
constexpr uint16_t kWavBits = 16;
constexpr uint32_t kRiffSizeBeyondData = 36; // header bytes after the RIFF size field
constexpr long kDataSizeOffset = 40;
constexpr long kRiffSizeOffset = 4;

bool WriteU32At(FILE *stream, long offset, uint32_t value)
{
    uint8_t b[4];
    lc::StoreU32le(b, value);
    return std::fseek(stream, offset, SEEK_SET) == 0 && std::fwrite(b, 4, 1, stream) == 1;
}

} // namespace

bool MakeTrackWavName(char *name, size_t capacity, const char *basePath, int trackIndex)
{
    if (!name || capacity == 0) {
        return false;
    }
    name[0] = 0;
    if (!basePath || trackIndex < 1 || trackIndex > 7) {
        return false;
    }
    if (!lc::FormatText(name, capacity, "%s-Track%d.wav", basePath, trackIndex + 1)) {
        name[0] = 0; // a cut name would create some other file
        return false;
    }
    return true;
}

FILE *OpenWavTrackFile(const char *name)
{
    if (!name || !name[0]) {
        return nullptr;
    }
    FILE *f = std::fopen(name, "wb");
    if (f && !WriteWavHeader(f)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

bool WriteWavHeader(FILE *stream)
{
    if (!stream) {
        return false;
    }
    uint8_t h[kWavHeaderBytes] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    lc::StoreU32le(h + 16, 16);
    lc::StoreU16le(h + 20, 1); // PCM
    lc::StoreU16le(h + 22, kWavChannels);
    lc::StoreU32le(h + 24, kWavRate);
    lc::StoreU32le(h + 28, kWavRate * kWavChannels * kWavBits / 8);
    lc::StoreU16le(h + 32, kWavChannels * kWavBits / 8);
    lc::StoreU16le(h + 34, kWavBits);
    std::memcpy(h + 36, "data", 4);
    return std::fwrite(h, sizeof h, 1, stream) == 1;
}

bool FixWavHeader(FILE *stream, uint32_t dataBytes)
{
    if (!stream) {
        return false;
    }
    uint32_t riff =
        dataBytes > UINT32_MAX - kRiffSizeBeyondData ? UINT32_MAX : dataBytes + kRiffSizeBeyondData;
    bool ok = WriteU32At(stream, kDataSizeOffset, dataBytes);
    ok = WriteU32At(stream, kRiffSizeOffset, riff) && ok;
    // Buffered write errors show up only at the close.
    ok = std::fclose(stream) == 0 && ok;
    return ok;
}

int16_t ClipToInt16(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 32767.0) {
        return 32767;
    }
    if (value <= -32768.0) {
        return -32768;
    }
    return int16_t(std::nearbyint(value));
}
