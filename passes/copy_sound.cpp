#include "passes/copy_sound.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "formats/avi_writer.h"
#include "formats/formats_hooks.h"
#include "passes/audio_ring.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/sound_buffer.h"
#include "passes/sound_track.h"
#include "platform/media/movies.h"
#include "platform/sys/debug_trace.h"

AviAudioChunkWriter gWriteAviAudioChunk = AviWriteAudioChunk;

namespace {
const char kReadError[] = "GetMediaSample (Sound) Error";
constexpr int kRingFrameBytes = 4; // the rings hold 16-bit stereo frames

void WriteAviChunk(const void *data, uint32_t bytes)
{
    if (gWriteAviAudioChunk && bytes > 0) {
        gWriteAviAudioChunk("01wb", data, bytes);
    }
}

// Silence still owed to the output AVI, written from one zeroed buffer in pieces; when the buffer
// cannot be had the silence is left out.
void WriteAviSilence(int64_t bytes)
{
    size_t piece = size_t(std::min<int64_t>(bytes, kMaxSilenceBlockBytes));
    void *zeros = std::calloc(piece, 1);
    if (!zeros) {
        return;
    }
    while (bytes > 0) {
        uint32_t n = uint32_t(std::min<int64_t>(bytes, int64_t(piece)));
        WriteAviChunk(zeros, n);
        bytes -= n;
    }
    std::free(zeros);
}

// Writes the block held in gSoundBuffer to the output: the QuickTime sound track, or "01wb"
// chunks after the pending silence and skip. context points to a bool: fail when the block could
// not be added (the drain); CopySound does not check.
bool WriteSoundBlock(void *context)
{
    SoundTrackState &st = gSoundTrackState;
    SoundBuffer &b = gSoundBuffer;
    if (b.sampleCount == 0) {
        return true;
    }
    if (!gConversionState.outputIsAvi) {
        int added = AddSoundSamples();
        return added || !(context && *static_cast<bool *>(context));
    }
    int64_t p = st.pendingSkipBytes;
    if (p < 0) {
        WriteAviSilence(-p);
        p = 0;
    }
    if (p < b.byteCount) {
        WriteAviChunk(b.data + p, uint32_t(b.byteCount - p));
        st.pendingSkipBytes = 0;
    } else {
        st.pendingSkipBytes = p - b.byteCount;
    }
    return true;
}

// The AVI reader's and the audio block output's ring 0 overflow: blocks go where the hand-off
// would send them.
bool HandOffBlock(void *)
{
    if (gConversionState.outputIsAvi) {
        WriteAviChunk(gSoundBuffer.data, uint32_t(gSoundBuffer.byteCount));
        return true;
    }
    return AddSoundSamples() != 0;
}

enum class Merge {
    Failed, // shown; CopySound fails
    Ended,  // the second track has no more sound
    Done,
    Skipped, // not two 16-bit mono tracks: the first track is used as it is
};

// Reads the second track at the same time and interleaves the two mono blocks into gSoundBuffer,
// over the shorter of the two counts.
Merge MergeSecondTrack(long maxSamples, long &size, long &count)
{
    SoundTrackState &st = gSoundTrackState;
    Handle h2 = EnsureSoundBuffer2(4);
    if (!h2) {
        return Merge::Failed;
    }
    if (!st.secondSoundDescription) {
        st.secondSoundDescription = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(4));
        if (!st.secondSoundDescription) {
            CheckQtError(memFullErr, "Could not allocate memory\nPossible problem: system fault "
                                     "or memory limitation.");
            return Merge::Failed;
        }
    }
    long size2 = 0;
    long count2 = 0;
    OSErr err = GetMediaSample(GetTrackMedia(st.secondSoundTrack), h2, 0, &size2, st.readTime,
                               nullptr, nullptr,
                               reinterpret_cast<SampleDescriptionHandle>(st.secondSoundDescription),
                               nullptr, maxSamples, &count2, nullptr);
    RefreshSoundScratchBuffer(gSoundBuffer2);
    if (err != noErr && st.firstCall) {
        CheckQtError(err, kReadError);
        return Merge::Failed;
    }
    if (err != noErr || count2 == 0) {
        st.soundEnabled = 0;
        return Merge::Ended;
    }
    SoundDescription &left = **st.soundDescription;
    const SoundDescription &right = **st.secondSoundDescription;
    if (left.numChannels != 1 || left.sampleSize != 16 || right.numChannels != 1
        || right.sampleSize != 16) {
        return Merge::Skipped;
    }
    count = std::min(count, count2);
    long monoBytes = std::min({count * 2, size, size2}) & ~1L;
    count = monoBytes / 2;
    if (!EnsureSoundBuffer3(int32_t(2 * monoBytes))) {
        return Merge::Failed;
    }
    InterleaveStereo(gSoundBuffer3.data, gSoundBuffer.data, gSoundBuffer2.data,
                     uint32_t(monoBytes));
    if (!EnsureSoundBuffer(int32_t(2 * monoBytes))) {
        return Merge::Failed;
    }
    std::memcpy(gSoundBuffer.data, gSoundBuffer3.data, size_t(2 * monoBytes));
    left.numChannels = 2;
    left.version = 0;
    st.bytesPerFrame = 4;
    size = 2 * monoBytes;
    gSoundBuffer.sampleCount = int32_t(count);
    return Merge::Done;
}

// One read of at most maxSamples frames and its way to the output. *got = frames read (0 at the
// end). 1 done, 0 failed.
int CopySoundPiece(long maxSamples, long *got)
{
    SoundTrackState &st = gSoundTrackState;
    const ConversionState &cs = gConversionState;
    *got = 0;
    // 2. Read the next frames of the source.
    if (!EnsureSoundBuffer(4)) {
        return 0;
    }
    long size = 0;
    long count = 0;
    OSErr err =
        GetMediaSample(st.sourceSoundMedia, gSoundBuffer.handle, 0, &size, st.readTime, nullptr,
                       nullptr, reinterpret_cast<SampleDescriptionHandle>(st.soundDescription),
                       nullptr, maxSamples, &count, nullptr);
    if (err != noErr && st.firstCall) {
        CheckQtError(err, kReadError);
        return 0;
    }
    // 3. Take the storage again: the read grew the handle.
    RefreshSoundBuffer();
    gSoundBuffer.byteCount = int32_t(std::min<long>(size, gSoundBuffer.capacity));
    gSoundBuffer.sampleCount = int32_t(count);
    if (count != 0) {
        st.bytesPerFrame = int(size / count);
    }
    // 4. The end of the source sound.
    if (err != noErr || count == 0) {
        st.soundEnabled = 0;
        return 1;
    }
    // 5. Two mono tracks become one stereo block.
    if (st.secondSoundTrack) {
        Merge m = MergeSecondTrack(maxSamples, size, count);
        if (m == Merge::Failed) {
            return 0;
        }
        if (m == Merge::Ended) {
            return 1;
        }
    }
    // 6. The next read follows this block.
    st.readTime += TimeValue(gSoundBuffer.sampleCount);
    *got = gSoundBuffer.sampleCount;
    SoundDescription &d = **st.soundDescription;
    // 7. The retiming needs 48 kHz stereo 16-bit sound.
    if (SoundRetimingModeSet() && !IsStereo48k16(d)) {
        if (st.firstCall) {
            ShowError("QT sound must be 48000/48048 Hz Stereo,\n16-bits/sample");
        }
        st.firstCall = 0;
        return 0;
    }
    // 8. AVI output is little-endian PCM.
    if (cs.outputIsAvi && d.dataFormat != kSoundFormatSowt) {
        if (d.dataFormat == kSoundFormatTwos) {
            for (int32_t i = 0; i + 1 < gSoundBuffer.byteCount; i += 2) {
                SwapBytes16(gSoundBuffer.data + i);
            }
        } else {
            if (st.firstCall) {
                ShowWarning(d.dataFormat == kSoundFormatDvca
                                ? "DV Audio format not presently supported, output soundtrack "
                                  "will be silent"
                                : "Unknown audio sample format, output soundtrack will be silent");
            }
            st.soundEnabled = 0;
            return 1;
        }
    }
    // 9. The output plays at the media rate.
    if (SoundRetimingModeSet()) {
        d.sampleRate = UnsignedFixed(uint32_t(cs.soundMediaRate) << 16);
    }
    // 10. NTSC-family sources: retimed through ring 0; every whole block leaves now.
    if (cs.sourceIsNtsc) {
        gAudioRing.bigEndian = !cs.outputIsAvi && d.dataFormat == kSoundFormatTwos ? 1 : 0;
        bool ok = FeedAudioRing(0, gSoundBuffer.data, uint32_t(gSoundBuffer.byteCount),
                                st.bytesPerFrame, WriteSoundBlock, nullptr)
                  && ReleaseRetimedBlocks(0, st.bytesPerFrame, WriteSoundBlock, nullptr);
        if (!ok) {
            lc::DebugTrace("CopySound: retimed sound could not be written\n");
        }
        gSoundBuffer.sampleCount = 0;
        st.firstCall = 0;
        return ok ? 1 : 0;
    }
    // 11. Other sources: the block as it is.
    WriteSoundBlock(nullptr);
    // 12.
    st.firstCall = 0;
    return 1;
}

uint8_t *HookEnsureSoundBuffer(int bytes)
{
    return EnsureSoundBuffer(bytes) ? reinterpret_cast<uint8_t *>(gSoundBuffer.data) : nullptr;
}
void HookSetSoundSampleCount(int sampleFrames)
{
    gSoundBuffer.sampleCount = sampleFrames;
}
int HookAddSoundSamples()
{
    return AddSoundSamples();
}
void HookSetAudioRingBigEndian(int bigEndian)
{
    gAudioRing.bigEndian = bigEndian ? 1 : 0;
}

// A chunk larger than the room left makes room by handing out ring 0's whole blocks first; other
// streams have no output here, so what does not fit is dropped rather than written over.
void HookWriteAudioRing(const int16_t *samples, uint32_t bytes, int stream)
{
    if (!FeedAudioRing(stream, samples, bytes, kRingFrameBytes,
                       stream == 0 ? HandOffBlock : nullptr, nullptr)) {
        lc::DebugTrace("audio ring %d: sound that does not fit was dropped\n", stream);
    }
}
void HookReadAudioRingResampled(int16_t *dst, uint32_t bytes, int stream)
{
    ReadAudioRingResampled(dst, bytes, stream);
}
} // namespace

int CopySound(int n)
{
    SoundTrackState &st = gSoundTrackState;
    if (!st.soundEnabled || n <= 0) {
        return 1;
    }
    // An NTSC-family read goes in pieces the ring can hold; a short read ends the call.
    long remaining = n;
    while (remaining > 0 && st.soundEnabled) {
        long piece = remaining;
        if (gConversionState.sourceIsNtsc) {
            piece = std::min<long>(piece, long(AudioRingFreeFrames(0)));
        }
        long got = 0;
        if (!CopySoundPiece(piece, &got)) {
            return 0;
        }
        if (got < piece) {
            break;
        }
        remaining -= got;
    }
    return 1;
}

int FiveFrameSoundFrames()
{
    const ConversionState &cs = gConversionState;
    int64_t frames = cs.sourceIsNtsc ? int64_t(cs.soundMediaRate) * 5 * cs.ntscFrameUnits / 30000
                                     : int64_t(cs.soundMediaRate) * 5 / 25;
    return int(std::clamp<int64_t>(frames, 0, INT_MAX));
}

int EndOfPassSoundFrames()
{
    const ConversionState &cs = gConversionState;
    if (cs.timeScale == 0) {
        return 0;
    }
    int64_t frames = int64_t(cs.soundMediaRate) * cs.sampleDuration * 1000 / cs.timeScale;
    return int(std::clamp<int64_t>(frames, 0, INT_MAX));
}

int DrainRetimedSound()
{
    if (!gConversionState.sourceIsNtsc) {
        return 1;
    }
    bool checkAdded = true;
    return DrainAudioRing(0, kRingFrameBytes, WriteSoundBlock, &checkAdded) ? 1 : 0;
}

void InstallSoundFormatsHooks(FormatsHooks &hooks)
{
    hooks.ensureSoundBuffer = HookEnsureSoundBuffer;
    hooks.setSoundSampleCount = HookSetSoundSampleCount;
    hooks.addSoundSamples = HookAddSoundSamples;
    hooks.resetAudioRings = ResetAudioRings;
    hooks.setAudioRingBigEndian = HookSetAudioRingBigEndian;
    hooks.writeAudioRing = HookWriteAudioRing;
    hooks.audioRingAvailableBytes = AudioRingAvailableBytes;
    hooks.readAudioRingResampled = HookReadAudioRingResampled;
}
