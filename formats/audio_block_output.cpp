#include "formats/audio_block_output.h"

#include <algorithm>
#include <cstring>

#include "formats/avi_writer.h"
#include "formats/formats_hooks.h"

uint32_t gAudioTrackBytes[kAudioBlockTracks];

namespace {

constexpr uint32_t kRingBlockBytes = 192000; // one second of 48 kHz stereo
constexpr uint32_t kRingPieceBytes = 65536 * 4;
constexpr uint32_t kFrameBytes = 4; // 16-bit stereo

// One block to the track's destination; false when the QuickTime sound track refused it.
bool Deliver(const uint8_t *block, uint32_t n, FILE *wavFile, int track, bool inSoundBuffer)
{
    if (track > 0) {
        // A short write shows in the WAV file's size, which its writer fixes at the end.
        (void)std::fwrite(block, n, 1, wavFile);
        return true;
    }
    if (gFormatsHooks.outputIsAvi()) {
        AviWriteAudioChunk("01wb", block, n);
        return true;
    }
    if (!inSoundBuffer) {
        uint8_t *buf = gFormatsHooks.ensureSoundBuffer(int(n));
        if (!buf) {
            return false;
        }
        std::memcpy(buf, block, n);
    }
    gFormatsHooks.setSoundSampleCount(int(n / kFrameBytes));
    return gFormatsHooks.addSoundSamples() != 0;
}

// Takes n retimed bytes out of ring `track` and delivers them.
bool DeliverFromRing(uint32_t n, FILE *wavFile, int track)
{
    uint8_t *buf = gFormatsHooks.ensureSoundBuffer(int(n));
    if (!buf) {
        return false;
    }
    gFormatsHooks.readAudioRingResampled(reinterpret_cast<int16_t *>(buf), n, track);
    gAudioTrackBytes[track] += n;
    return Deliver(buf, n, wavFile, track, true);
}

} // namespace

uint32_t WriteAudioBlock(const int16_t *samples, uint32_t bytes, FILE *wavFile, int track)
{
    if (track < 0 || track >= kAudioBlockTracks) {
        return 0;
    }
    uint32_t &counter = gAudioTrackBytes[track];
    if (track > 0 && !wavFile) {
        // Nowhere to write; a flush still reports and clears.
        uint32_t total = counter;
        if (bytes == 0) {
            counter = 0;
        }
        return total;
    }
    if (gFormatsHooks.sourceIsNtsc()) {
        gFormatsHooks.setAudioRingBigEndian(0);
        if (bytes > 0 && samples) {
            // Fed in pieces, every whole block released, so the ring never overruns.
            uint32_t whole = bytes & ~(kFrameBytes - 1);
            const auto *src = reinterpret_cast<const uint8_t *>(samples);
            for (uint32_t done = 0; done < whole;) {
                uint32_t piece = std::min(kRingPieceBytes, whole - done);
                gFormatsHooks.writeAudioRing(reinterpret_cast<const int16_t *>(src + done), piece,
                                             track);
                done += piece;
                while (gFormatsHooks.audioRingAvailableBytes(track) > kRingBlockBytes) {
                    if (!DeliverFromRing(kRingBlockBytes, wavFile, track)) {
                        return 0;
                    }
                }
            }
        } else if (bytes == 0) {
            uint32_t n = gFormatsHooks.audioRingAvailableBytes(track);
            if (n > 0 && !DeliverFromRing(n, wavFile, track)) {
                return 0;
            }
        }
    } else if (bytes > 0 && samples) {
        counter += bytes;
        if (!Deliver(reinterpret_cast<const uint8_t *>(samples), bytes, wavFile, track, false)) {
            return 0;
        }
    }
    uint32_t total = counter;
    if (bytes == 0) {
        counter = 0;
    }
    return total;
}

void ResetAudioBlockOutput()
{
    std::memset(gAudioTrackBytes, 0, sizeof gAudioTrackBytes);
    gFormatsHooks.resetAudioRings();
}
