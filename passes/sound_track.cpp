#include "passes/sound_track.h"

#include <algorithm>
#include <cstring>

#include "engine/conversion_options.h"
#include "formats/source_audio_format.h"
#include "passes/audio_ring.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/sound_buffer.h"
#include "passes/source_kind.h"
#include "platform/media/movies.h"
#include "platform/media/played_sound.h"
#include "platform/sys/text.h"

SoundTrackState gSoundTrackState;

namespace {
const char kNoMemory[] = "Could not allocate memory\nPossible problem: system fault or memory "
                         "limitation.";
const char kReadError[] = "GetMediaSample (Sound) Error";

bool ThreeModes25P()
{
    const ConversionOptions &o = gConversionOptions;
    return o.pulldown32To25P || o.pulldown2332To25P || o.convert60iTo25P;
}

// An MPEG-2 source: neither open through the media layer nor read by the AVI/MXF reader.
bool SourceIsMpeg()
{
    return !gSourceKind.viaQuickTime && !gSourceKind.viaAviPlayer;
}

// A new description handle in place of the old one; false (shown) when none could be had.
bool NewSoundDescription(SoundDescriptionHandle &desc, int32_t size)
{
    DisposeHandle(reinterpret_cast<Handle>(desc));
    desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(size));
    if (!desc) {
        CheckQtError(MemError() != noErr ? int(MemError()) : int(memFullErr), kNoMemory);
        return false;
    }
    return true;
}

void BuildSoundDescription(SoundDescription &d, int rate, int channels, int bits)
{
    std::memset(&d, 0, sizeof d);
    d.descSize = int32_t(sizeof(SoundDescription));
    d.dataFormat = kSoundFormatSowt;
    d.dataRefIndex = 1;
    d.numChannels = int16_t(channels);
    d.sampleSize = int16_t(bits);
    d.sampleRate = UnsignedFixed(uint32_t(rate) << 16);
}

// Adds delayBytes of silence to the output sound media, in pieces that a buffer can hold.
void AddSilence(int64_t delayBytes)
{
    SoundTrackState &st = gSoundTrackState;
    while (delayBytes > 0) {
        int32_t piece = int32_t(std::min<int64_t>(delayBytes, kMaxSilenceBlockBytes));
        if (!EnsureSoundBuffer(piece)) {
            return;
        }
        std::memset(gSoundBuffer.data, 0, size_t(piece));
        gSoundBuffer.sampleCount = st.bytesPerFrame > 0 ? piece / st.bytesPerFrame : 0;
        (void)AddSoundSamples(); // a failure is shown; the delay is not checked further
        delayBytes -= piece;
    }
}

// The four characters of a format code in reading order.
void FormatCodeText(OSType code, char (&text)[5])
{
    for (int i = 0; i < 4; i++) {
        text[i] = char(code >> (24 - 8 * i));
    }
    text[4] = 0;
}
} // namespace

bool SoundRetimingModeSet()
{
    const ConversionOptions &o = gConversionOptions;
    return ThreeModes25P() || o.add32Pulldown || o.add2332Pulldown;
}

bool Is48kRate(UnsignedFixed sampleRate)
{
    return (sampleRate / 100) >> 16 == 480;
}

bool IsStereo48k16(const SoundDescription &desc)
{
    return Is48kRate(desc.sampleRate) && desc.numChannels == 2 && desc.sampleSize == 16;
}

int64_t AudioDelayBytes(int32_t delayFrames, int bytesPerFrame)
{
    return int64_t(delayFrames) * bytesPerFrame * 48000 / 24;
}

int64_t AudioOffsetBytes(int32_t offsetMs, int bytesPerFrame)
{
    // The 25P pass plays the source faster by the ring's ratio: the offset shrinks with it.
    int64_t frames = int64_t(offsetMs) * 48;
    if (gConversionState.sourceIsNtsc) {
        frames = frames * int64_t(kAudioRingUnitsPerEntry) / gConversionState.ntscFrameUnits;
    }
    return frames * bytesPerFrame;
}

void ResetMovieSound()
{
    SoundTrackState &st = gSoundTrackState;
    st.secondSoundTrack = nullptr;
    st.soundEnabled = 0;
    st.firstCall = 1;
    st.pendingSkipBytes = 0;
    st.sourceSoundMedia = nullptr;
    st.readTime = 0;
    st.totalSamples = 0;
    st.bytesPerFrame = 4;
    gSourceAudioFormat.channels = 0;
    gConversionState.audioOffsetMs = 0;
    ResetAudioRings();
    const ConversionState &cs = gConversionState;
    gAudioRing.readStep =
        cs.sourceIsNtsc && cs.ntscFrameUnits > 0 ? uint32_t(cs.ntscFrameUnits) : kAudioRingReadStep;
    ReleasePlayedSound();
}

void ReleasePlayedSound()
{
    SoundTrackState &st = gSoundTrackState;
    for (Movie &m : st.playedSoundMovies) {
        if (!m) {
            continue;
        }
        // Nothing may read the sound of a movie that is gone.
        for (long i = 1; i <= GetMovieTrackCount(m); ++i) {
            Track t = GetMovieIndTrack(m, i);
            if (GetTrackMedia(t) == st.sourceSoundMedia) {
                st.sourceSoundMedia = nullptr;
                st.soundEnabled = 0;
            }
            if (t == st.secondSoundTrack) {
                st.secondSoundTrack = nullptr;
            }
        }
        DisposeMovie(m);
        m = nullptr;
    }
}

bool UsePlayedSound(Track *soundTrack, TimeValue from)
{
    SoundTrackState &st = gSoundTrackState;
    ReleasePlayedSound();
    Track *tracks[2] = {soundTrack, &st.secondSoundTrack};
    // Two mono tracks stay a pair: both are made anew when either must be.
    bool convert = false;
    for (Track *t : tracks) {
        convert = convert || (*t && SoundNeedsConversion(*t, from));
    }
    if (!convert) {
        return true;
    }
    for (int i = 0; i < 2; ++i) {
        Track &t = *tracks[i];
        if (!t) {
            continue;
        }
        OSErr err = NewPlayedSoundMovie(t, from, &st.playedSoundMovies[i]);
        if (err != noErr) {
            SoundDescriptionHandle d = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(4));
            GetMediaSampleDescription(GetTrackMedia(t), 1,
                                      reinterpret_cast<SampleDescriptionHandle>(d));
            char code[5] = "????";
            if (d && GetMoviesError() == noErr) {
                FormatCodeText((**d).dataFormat, code);
            }
            DisposeHandle(reinterpret_cast<Handle>(d));
            char text[200];
            lc::FormatText(text, sizeof text,
                           "Sound format is %4s\nThe sound could not be decoded for the output "
                           "sound track, err# %d",
                           code, int(err));
            ShowError(text);
            ReleasePlayedSound();
            return false;
        }
        t = GetMovieIndTrackType(st.playedSoundMovies[i], 1, SoundMediaType, movieTrackMediaType);
    }
    return true;
}

int AddSoundSamples()
{
    SoundTrackState &st = gSoundTrackState;
    SoundBuffer &b = gSoundBuffer;
    int64_t p = st.pendingSkipBytes;
    OSErr err;
    if (p > 0) {
        // The whole block falls inside the bytes still to drop.
        if (p >= b.byteCount) {
            st.pendingSkipBytes = p - b.byteCount;
            return 1;
        }
        int32_t rest = b.byteCount - int32_t(p);
        long count = st.bytesPerFrame > 0 ? rest / st.bytesPerFrame : 0;
        err = AddMediaSample(st.outputSoundMedia, b.handle, long(p), (unsigned long)rest, 1,
                             reinterpret_cast<SampleDescriptionHandle>(st.soundDescription), count,
                             0, nullptr);
        if (err == noErr) {
            st.totalSamples += int(count);
            st.pendingSkipBytes = 0;
            return 1;
        }
    } else {
        err = AddMediaSample(st.outputSoundMedia, b.handle, 0, (unsigned long)b.byteCount, 1,
                             reinterpret_cast<SampleDescriptionHandle>(st.soundDescription),
                             b.sampleCount, 0, nullptr);
        if (err == noErr) {
            st.totalSamples += b.sampleCount;
            return 1;
        }
    }
    CheckQtError(err, "AddMediaSample (sound) Error\nOut of disk space?");
    return 0;
}

void BeginAviSoundFromQuickTime(Movie, Movie, Track sourceSoundTrack)
{
    SoundTrackState &st = gSoundTrackState;
    // 1-2. The source media and a description the first read fills.
    st.sourceSoundMedia = GetTrackMedia(sourceSoundTrack);
    if (!NewSoundDescription(st.soundDescription, 4)) {
        return;
    }
    // 3. Armed for this movie, with rings that hold nothing of an earlier one.
    ResetAudioRings();
    st.readTime = 0;
    st.soundEnabled = 1;
    st.firstCall = 1;
    if (!EnsureSoundBuffer(4)) {
        st.soundEnabled = 0;
        return;
    }
    // 4. The first samples tell the format.
    long size = 0;
    long count = 0;
    OSErr err =
        GetMediaSample(st.sourceSoundMedia, gSoundBuffer.handle, 0, &size, 0, nullptr, nullptr,
                       reinterpret_cast<SampleDescriptionHandle>(st.soundDescription), nullptr, 4,
                       &count, nullptr);
    RefreshSoundBuffer();
    gSoundBuffer.sampleCount = int32_t(count);
    if (CheckQtError(err, kReadError)) {
        st.soundEnabled = 0;
        return;
    }
    // 5. Bytes per frame; two mono tracks become stereo.
    if (count != 0) {
        st.bytesPerFrame = int(size / count);
    }
    if (st.secondSoundTrack) {
        st.bytesPerFrame = 4;
    }
    // 6. Publish the source format for the AVI writer's header.
    const SoundDescription &d = **st.soundDescription;
    gSourceAudioFormat.samplesPerSecond = int((d.sampleRate / 100) >> 16) * 100;
    gSourceAudioFormat.channels = st.secondSoundTrack ? 2 : d.numChannels;
    gSourceAudioFormat.bitsPerSample = d.sampleSize;
    // 7. The audio offset of an MPEG-2 source and the user's delay.
    int64_t offset =
        SourceIsMpeg() ? AudioOffsetBytes(gConversionState.audioOffsetMs, st.bytesPerFrame) : 0;
    st.pendingSkipBytes =
        offset - AudioDelayBytes(gConversionOptions.delayAudioFrames, st.bytesPerFrame);
}

int BeginOutputSoundTrack(Movie outputMovie)
{
    SoundTrackState &st = gSoundTrackState;
    ConversionState &cs = gConversionState;
    // 1. The description: the source's own when the media layer reads the sound, else built.
    if (st.sourceSoundMedia) {
        Media media = st.sourceSoundMedia;
        (void)GetMediaDuration(media);
        cs.soundMediaRate = GetMediaTimeScale(media);
        if (!NewSoundDescription(st.soundDescription, 4)) {
            return 0;
        }
        Handle scratch = NewHandle(4);
        long size = 0;
        long count = 0;
        GetMediaSample(media, scratch, 0, &size, 0, nullptr, nullptr,
                       reinterpret_cast<SampleDescriptionHandle>(st.soundDescription), nullptr, 2,
                       &count, nullptr);
        OSErr err = GetMoviesError();
        DisposeHandle(scratch);
        if (CheckQtError(err, kReadError)) {
            return 0;
        }
        if (count != 0) {
            st.bytesPerFrame = int(size / count);
        }
        if (st.secondSoundTrack) {
            st.bytesPerFrame *= 2;
        }
    } else {
        if (!NewSoundDescription(st.soundDescription, int32_t(sizeof(SoundDescription)))) {
            return 0;
        }
        bool type1Dv = gSourceKind.isAvi && gSourceKind.viaQuickTime && gSourceKind.isType1Dv;
        int rate = type1Dv ? gSourceAudioFormat.samplesPerSecond : 48000;
        int channels = type1Dv ? gSourceAudioFormat.channels : 2;
        int bits = type1Dv ? gSourceAudioFormat.bitsPerSample : 16;
        BuildSoundDescription(**st.soundDescription, rate, channels, bits);
        cs.soundMediaRate = rate;
        st.bytesPerFrame = channels * bits / 8;
    }
    st.totalSamples = 0;

    // 2. The retiming needs 48 kHz stereo 16-bit sound.
    if (SoundRetimingModeSet()) {
        SoundDescription &d = **st.soundDescription;
        if (gSourceKind.isAvi) {
            // The AVI's own sound, as its reader found it: the description above is built.
            const SourceAudioFormat &f = gSourceAudioFormat;
            if (f.samplesPerSecond / 100 != 480 || f.channels != 2 || f.bitsPerSample != 16
                || d.dataFormat != kSoundFormatSowt) {
                ShowError("AVI sound must be 48KHz Stereo,\n16-bits/sample");
                return 0;
            }
        } else {
            if (!IsStereo48k16(d)) {
                ShowError("Quicktime sound must be 48KHz Stereo,\n16-bits/sample");
                return 0;
            }
            if (cs.sourceIsNtsc && d.dataFormat != kSoundFormatSowt
                && d.dataFormat != kSoundFormatTwos) {
                char code[5];
                FormatCodeText(d.dataFormat, code);
                char text[200];
                lc::FormatText(text, sizeof text,
                               "Sound format is %4s\nFor NTSC to PAL conversion, Quicktime sound "
                               "must be\n16-bit uncompressed (Format = \"None\")",
                               code);
                ShowError(text);
                return 0;
            }
        }
        cs.soundMediaRate = 48000;
        d.sampleRate = UnsignedFixed(48000u << 16);
    }

    // 3-5. The output track, its media and the edits.
    st.outputSoundTrack = NewMovieTrack(outputMovie, 0, 0, 256);
    if (CheckQtError(GetMoviesError(), "NewMovieTrack Error")) {
        return 0;
    }
    st.outputSoundMedia =
        NewTrackMedia(st.outputSoundTrack, SoundMediaType, cs.soundMediaRate, nullptr, 0);
    if (CheckQtError(GetMoviesError(), "NewTrackMedia Error")) {
        return 0;
    }
    if (CheckQtError(BeginMediaEdits(st.outputSoundMedia), "BeginMediaEdits Error")) {
        return 0;
    }

    // 6. No retiming mode: no delay for sources read by the media layer or the AVI/MXF reader.
    st.pendingSkipBytes = 0;
    if (!ThreeModes25P() && (gSourceKind.viaQuickTime || gSourceKind.viaAviPlayer)) {
        return 1;
    }
    // 7-8. The delay: silence first, or source bytes to drop.
    int64_t delayBytes = AudioDelayBytes(gConversionOptions.delayAudioFrames, st.bytesPerFrame);
    if (SourceIsMpeg()) {
        delayBytes -= AudioOffsetBytes(cs.audioOffsetMs, st.bytesPerFrame);
    }
    if (delayBytes > 0) {
        AddSilence(delayBytes);
    } else if (delayBytes < 0) {
        st.pendingSkipBytes = -delayBytes;
    }
    return 1;
}

int EndOutputSoundTrack()
{
    SoundTrackState &st = gSoundTrackState;
    if (CheckQtError(EndMediaEdits(st.outputSoundMedia), "EndMediaEdits Error")) {
        return 0;
    }
    if (st.totalSamples != 0) {
        OSErr err = InsertMediaIntoTrack(st.outputSoundTrack, 0, 0, st.totalSamples, FixedOne);
        if (CheckQtError(err, "InsertMediaIntoTrack Error (Sound) \rOut of Disk space?")) {
            return 0;
        }
    }
    return 1;
}
