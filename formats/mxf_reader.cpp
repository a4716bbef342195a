#include "formats/mxf_reader.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/dv_setup.h"
#include "formats/dv_setup_hooks.h"
#include "formats/formats_hooks.h"
#include "platform/media/image_compression.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

MxfClipState gMxfClipState;

namespace {

constexpr uint64_t kBerError = UINT64_MAX;
constexpr int kMaxBerBytes = 16;
// Descriptors hold a few hundred bytes; a larger one is not a camera card's.
constexpr uint64_t kMaxDescriptorBytes = 1 << 20;

constexpr uint8_t kCdciDescriptorKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                            0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, 0x28, 0x00};
constexpr uint8_t kAes3DescriptorKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                            0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, 0x47, 0x00};
constexpr uint8_t kDvDifElementKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                          0x0D, 0x01, 0x03, 0x01, 0x18, 0x01, 0x02, 0x01};
constexpr uint8_t kAes3ElementKey[16] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                         0x0D, 0x01, 0x03, 0x01, 0x16, 0x01, 0x04, 0x01};

// Edit rates of real clips, frames per second. A file's rational can say anything (4294967295/1
// does not fit an int once rounded), so other rates are refused before they are converted.
constexpr double kRealFrameRates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50,
                                      60000.0 / 1001, 60};

bool KeyIs(const uint8_t (&key)[16])
{
    return std::memcmp(gMxfClipState.key, key, 16) == 0;
}

// Reads exactly n bytes; false on a short read or an error.
bool ReadExactly(int fd, void *dst, size_t n)
{
    auto *p = static_cast<uint8_t *>(dst);
    while (n > 0) {
        const int64_t got = lc::FileRead(fd, p, n);
        if (got <= 0) {
            return false;
        }
        p += got;
        n -= size_t(got);
    }
    return true;
}

// The descriptor's items the reader keeps.
struct DescriptorValues
{
    bool haveDuration = false, haveHeight = false, haveWidth = false;
    bool haveQuantBits = false, haveRate = false, haveAspect = false;
    uint64_t duration = 0;
    uint32_t height = 0, width = 0, quantBits = 0;
    float frameRate = 0, aspect = 1.0f;
};

// Walks a descriptor's local set (2-byte tag, 2-byte length, value). Items cut off by the end of
// the set end the walk.
void ReadDescriptorItems(const uint8_t *data, size_t size, DescriptorValues *v)
{
    lc::ByteReader r(data, size);
    while (r.remaining() >= 4) {
        const uint16_t tag = r.u16be();
        const uint16_t length = r.u16be();
        if (length > r.remaining()) {
            return;
        }
        // The value big-endian in two 32-bit words; bytes past the eighth are not used.
        uint32_t words[2] = {0, 0};
        uint64_t whole = 0;
        const uint8_t *value = r.cursor();
        for (uint16_t i = 0; i < length && i < 8; ++i) {
            words[i / 4] = words[i / 4] << 8 | value[i];
            whole = whole << 8 | value[i];
        }
        (void)r.skip(length);
        switch (tag) {
        case 0x3001:
            v->haveRate = true;
            v->frameRate = words[1] == 0 ? 0.0f : float(words[0]) / float(words[1]);
            break;
        case 0x3002:
            v->haveDuration = true;
            v->duration = whole;
            break;
        case 0x3202:
            v->haveHeight = true;
            v->height = words[0];
            break;
        case 0x3203:
            v->haveWidth = true;
            v->width = words[0];
            break;
        case 0x320E:
            v->haveAspect = true;
            v->aspect = words[1] == 0 ? 1.0f : float(words[0]) / float(words[1]);
            break;
        case 0x3D01:
            v->haveQuantBits = true;
            v->quantBits = words[0];
            break;
        default:
            break;
        }
    }
}

// Removes fd from the recorded audio files, keeping their order.
void ForgetAudioFile(int fd)
{
    MxfClipState &s = gMxfClipState;
    for (int i = 0; i < s.audioFileCount; ++i) {
        if (s.audioFd[i] == fd) {
            for (int j = i + 1; j < s.audioFileCount; ++j) {
                s.audioFd[j - 1] = s.audioFd[j];
            }
            --s.audioFileCount;
            s.audioFd[s.audioFileCount] = -1;
            return;
        }
    }
}

} // namespace

bool MxfIsRealFrameRate(float framesPerSecond)
{
    for (double rate : kRealFrameRates) {
        if (std::fabs(double(framesPerSecond) - rate) < 0.01) {
            return true;
        }
    }
    return false;
}

bool MxfReadKey()
{
    MxfClipState &s = gMxfClipState;
    if (!ReadExactly(s.parseFd, s.key, sizeof s.key)) {
        return false;
    }
    return s.key[0] == 0x06 && s.key[1] == 0x0E;
}

uint64_t MxfReadBerLength()
{
    const int fd = gMxfClipState.parseFd;
    uint8_t b = 0;
    if (!ReadExactly(fd, &b, 1)) {
        gFormatsHooks.showError("Incomplete BER length in file ");
        return kBerError;
    }
    if (b < 0x80) {
        return b;
    }
    const int n = b & 0x7F;
    if (n > kMaxBerBytes) {
        gFormatsHooks.showError("BER length exceeds maximum bytes ");
        return kBerError;
    }
    uint8_t bytes[kMaxBerBytes];
    if (!ReadExactly(fd, bytes, size_t(n))) {
        gFormatsHooks.showError("Incomplete BER length in file ");
        return kBerError;
    }
    // A length that does not fit in 64 bits (or says "error") cannot be in a file.
    uint64_t length = 0;
    for (int i = 0; i < n; ++i) {
        if (length >> 56) {
            gFormatsHooks.showError("BER length exceeds maximum bytes ");
            return kBerError;
        }
        length = length << 8 | bytes[i];
    }
    if (length == kBerError) {
        gFormatsHooks.showError("BER length exceeds maximum bytes ");
    }
    return length;
}

int MxfOpen(const char *path, uint64_t *duration, int *height, int *width, int *quantBits,
            float *frameRate, int *frameBytes, float *aspect)
{
    MxfClipState &s = gMxfClipState;

    // 1. Read-write, else read-only.
    int fd = lc::FileOpen(path, lc::FileMode::ReadWrite);
    if (fd == lc::kNoFile) {
        fd = lc::FileOpen(path, lc::FileMode::Read);
    }
    if (fd == lc::kNoFile) {
        return MxfNoEssence;
    }
    s.parseFd = fd;
    const int64_t fileSize = lc::FileSize(fd);

    DescriptorValues v;
    bool audioFile = false;
    int result = MxfNoEssence;
    int outFrameBytes = 0;
    // 2. KLV triplets up to the first essence element.
    while (MxfReadKey()) {
        const uint64_t length = MxfReadBerLength();
        if (length == kBerError || length == 0) {
            break;
        }
        // 3. Classify the key.
        const bool cdci = KeyIs(kCdciDescriptorKey);
        const bool aes3 = KeyIs(kAes3DescriptorKey);
        const bool essence = KeyIs(kDvDifElementKey) || KeyIs(kAes3ElementKey);
        const int64_t here = lc::FileSeek(fd, 0, SEEK_CUR);
        if (here < 0) {
            break;
        }
        const uint64_t left = fileSize > here ? uint64_t(fileSize - here) : 0;
        if (cdci || aes3) {
            // 4. Descriptor: its items, read whole.
            audioFile = audioFile || aes3;
            if (length > left || length > kMaxDescriptorBytes) {
                break;
            }
            std::vector<uint8_t> value(static_cast<size_t>(length));
            if (!ReadExactly(fd, value.data(), value.size())) {
                break;
            }
            ReadDescriptorItems(value.data(), value.size(), &v);
            continue;
        }
        if (!essence) {
            // 5. Anything else is skipped; a value running past the end ends the file.
            if (length > left || lc::FileSeek(fd, int64_t(length), SEEK_CUR) < 0) {
                break;
            }
            continue;
        }
        // 6. The essence value; its frames follow back to back. Without a duration there is no
        // frame size.
        const uint64_t perFrame = v.duration == 0 ? 0 : length / v.duration;
        if (audioFile) {
            s.audioEssenceStart = here;
            s.audioEssenceLength = length;
            s.audioBytesPerFrame = perFrame > UINT32_MAX ? 0 : uint32_t(perFrame);
            // Files beyond the recorded ones stay open as the parse file only.
            if (s.audioFileCount < kMxfMaxAudioFiles) {
                s.audioFd[s.audioFileCount++] = fd;
            }
            outFrameBytes = perFrame > uint64_t(kDvFrameBufferBytes) ? 0 : int(perFrame);
            result = MxfAudioFile;
        } else {
            s.videoEssenceStart = here;
            s.videoFd = fd;
            s.videoEssenceLength = length;
            // A frame larger than the read buffer cannot be decoded: no frame size.
            const uint64_t rounded = perFrame / 1000 * 1000;
            s.frameBytes = rounded > uint64_t(kDvFrameBufferBytes) ? 0 : int(rounded);
            outFrameBytes = s.frameBytes;
            result = MxfVideoFile;
        }
        break;
    }

    // 7. A file without essence is closed again.
    if (result == MxfNoEssence) {
        lc::FileClose(fd);
        s.parseFd = -1;
    }

    // 8. Video files store the field height of SD and the half height of 1080 lines.
    if (!audioFile && v.haveWidth) {
        if (v.width == 1920) {
            v.height = 1080;
            v.haveHeight = true;
        } else if (v.width == 720) {
            v.height *= 2;
        }
    }

    // 9. The items found.
    if (v.haveDuration && duration) {
        *duration = v.duration;
    }
    if (v.haveHeight && height) {
        *height = int(v.height);
    }
    if (v.haveWidth && width) {
        *width = int(v.width);
    }
    if (v.haveQuantBits && quantBits) {
        *quantBits = int(v.quantBits);
    }
    // A video file's rate is used as frames per second: one that no clip has counts as absent
    // (0, a zero denominator, means unknown).
    if (v.haveRate && !audioFile && v.frameRate != 0 && !MxfIsRealFrameRate(v.frameRate)) {
        v.haveRate = false;
    }
    if (v.haveRate) {
        if (frameRate) {
            *frameRate = v.frameRate;
        }
        // A sound file's rate is its sample rate, not the clip's frame rate.
        if (!audioFile) {
            gFormatsHooks.setFrameRate(int(v.frameRate + 0.5f));
        }
    }
    if (v.haveAspect && aspect) {
        *aspect = v.aspect;
    }
    if (result != MxfNoEssence && frameBytes) {
        *frameBytes = outFrameBytes;
    }
    return result;
}

void MxfClose()
{
    MxfClipState &s = gMxfClipState;
    if (s.parseFd == -1) {
        return;
    }
    lc::FileClose(s.parseFd);
    // The handle number may be given out again: it is no longer the clip's.
    if (s.videoFd == s.parseFd) {
        s.videoFd = -1;
    }
    ForgetAudioFile(s.parseFd);
    s.parseFd = -1;
}

void MxfCloseAudio()
{
    MxfClipState &s = gMxfClipState;
    if (s.audioFileCount <= 0) {
        return;
    }
    const int fd = s.audioFd[s.audioFileCount - 1];
    lc::FileClose(fd);
    s.audioFd[--s.audioFileCount] = -1;
    if (s.parseFd == fd) {
        s.parseFd = -1;
    }
}

void MxfDecodeFrameAt(int frameIndex, int width, int height, uint8_t *output, int mode)
{
    const MxfClipState &s = gMxfClipState;
    const DvDecodeSetup &d = gDvDecodeSetup;
    if (!output || !d.frameBuffer || frameIndex < 0 || width <= 0 || height <= 0 || s.videoFd == -1
        || s.frameBytes <= 0 || s.frameBytes > kDvFrameBufferBytes) {
        return;
    }
    // 1. Frame frameIndex of the essence: one past its end is not read.
    const uint64_t frameBytes = uint64_t(s.frameBytes);
    if (uint64_t(frameIndex) >= s.videoEssenceLength / frameBytes) {
        return;
    }
    const int64_t at = s.videoEssenceStart + int64_t(frameBytes * uint64_t(frameIndex));
    if (lc::FileSeek(s.videoFd, at, SEEK_SET) != at
        || !ReadExactly(s.videoFd, d.frameBuffer, size_t(frameBytes))) {
        return;
    }

    // 2. By frame kind. The media layer's pictures are top-down; output rows go bottom-up.
    const int kind = d.decoderFormat;
    if (kind >= Dvhd1080i60 && kind <= Dvhd720p50) {
        // The decoder reads a whole frame of its kind: shorter frames are not this kind's.
        static constexpr int kHdFrameBytes[] = {480000, 240000, 576000, 288000};
        if (s.frameBytes >= kHdFrameBytes[kind - Dvhd1080i60]
            && gDvSetupHooks.cindrellDecodeFrame) {
            gDvSetupHooks.cindrellDecodeFrame(output, width, height, d.frameBuffer, output, mode, 0,
                                              0, kind, 24, 1, 0);
        }
        return;
    }
    if (kind < Dv25Ntsc || kind > Dv50Ntsc || !d.pixMap || !d.pixels) {
        return;
    }
    // The pixel buffer has the set-up's size; a larger picture cannot come out of it.
    const Rect &bounds = (**d.pixMap).bounds;
    if (width > bounds.right - bounds.left || height > bounds.bottom - bounds.top) {
        return;
    }
    const bool dv50 = kind == Dv50Pal || kind == Dv50Ntsc;
    ImageDescriptionHandle desc = dv50 ? d.dv50Codec : d.imageDescription;
    // The codec decodes the description's frame size: a frame of another size is not its own.
    if (!desc || (**desc).dataSize != s.frameBytes) {
        return;
    }
    SetGWorld(d.gworld, nullptr);
    const Rect dst{0, 0, int16_t(height), int16_t(width)};
    if (DecompressImage(reinterpret_cast<Ptr>(d.frameBuffer), desc, d.pixMap, nullptr, &dst,
                        srcCopy, nullptr)
        != noErr) {
        return;
    }
    const int rowBytes = GetPixRowBytes(d.pixMap);
    for (int y = 0; y < height; ++y) {
        const uint8_t *src = d.pixels + ptrdiff_t(y) * rowBytes;
        uint8_t *out = output + ptrdiff_t(height - 1 - y) * width * 3;
        for (int x = 0; x < width; ++x, out += 3) {
            if (dv50) {
                // A, R, G, B
                out[0] = src[4 * x + 3];
                out[1] = src[4 * x + 2];
                out[2] = src[4 * x + 1];
            } else {
                out[0] = src[3 * x + 2];
                out[1] = src[3 * x + 1];
                out[2] = src[3 * x];
            }
        }
    }
}
