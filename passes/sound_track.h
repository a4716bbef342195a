#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

// The output sound track of QuickTime output (begin, add samples, end), the arming of sound
// copying from a source whose sound the media layer reads, and the audio delay. Every output
// movie carries one track of 16-bit PCM; AVI output gets "01wb" chunks instead (copy_sound.h).
// One process-wide record, used on one thread at a time; not locked.

// Sound sample formats, told by the description's data format code.
constexpr OSType kSoundFormatSowt = 0x736f7774; // 'sowt' 16-bit little-endian PCM
constexpr OSType kSoundFormatTwos = 0x74776f73; // 'twos' 16-bit big-endian PCM
constexpr OSType kSoundFormatDvca = 0x64766361; // 'dvca' DV audio

struct SoundTrackState
{
    // --- the output track (QuickTime output) ---
    Track outputSoundTrack = nullptr;
    Media outputSoundMedia = nullptr;
    // Used for every block added; also filled by each source read of CopySound.
    SoundDescriptionHandle soundDescription = nullptr;
    int bytesPerFrame = 4; // bytes of one sample frame (4 for 16-bit stereo)
    int totalSamples = 0;  // sample frames added to the output sound media
    // > 0: bytes of source sound still to drop; < 0 (AVI output): silence still to insert.
    int64_t pendingSkipBytes = 0;

    // --- the source sound read by the media layer ---
    Media sourceSoundMedia = nullptr;
    TimeValue readTime = 0;           // media time (samples) of the next read
    int soundEnabled = 0;             // copying is armed for this movie
    int firstCall = 1;                // no block copied yet for this movie: errors are reported
    Track secondSoundTrack = nullptr; // a second mono track: the right channel
    SoundDescriptionHandle secondSoundDescription = nullptr; // filled by the second track's reads
    // Movies made for sound the output cannot take as stored (UsePlayedSound): the first and
    // the second track's. Owned here until the movie's processing ends.
    Movie playedSoundMovies[2] = {};
};

extern SoundTrackState gSoundTrackState;

// The largest silence written or added in one piece (10 s of 48 kHz 16-bit stereo): a long delay
// becomes several blocks rather than one huge allocation.
constexpr int32_t kMaxSilenceBlockBytes = 1920000;

// Clears the per-movie sound state: no second track, copying not armed, a fresh first call, no
// pending skip, no source media, the published channel count 0, and all audio rings reset.
// CMovieWindow::ProcessMovie calls it first, before the source set-up (the AVI reader's open
// publishes the channel count again) and before it looks for the movie's sound tracks.
void ResetMovieSound();

// The source's sound as the output takes it, 16-bit PCM as the movie plays it from movie time
// `from` (its first shown video sample): *soundTrack and SoundTrackState::secondSoundTrack stay
// when they can be read as stored, else become the tracks of movies made for them. False when the
// sound cannot be decoded: shown as an error, the movie ends.
bool UsePlayedSound(Track *soundTrack, TimeValue from);
// Disposes of the movies UsePlayedSound made; copying from them stops.
void ReleasePlayedSound();

// Any of the five modes that retime the sound (the three 25P modes and the two pulldown inserts);
// the processing thread sets one for every movie.
bool SoundRetimingModeSet();

// Sample rate check in whole hundreds of hertz: holds for 48000 to 48099.99 Hz.
bool Is48kRate(UnsignedFixed sampleRate);
// Sound of 48 kHz, 2 channels, 16 bits, as the retiming needs.
bool IsStereo48k16(const SoundDescription &desc);

// Bytes of the "Delay Audio" option (frames of 1/24 s, 2000 sample frames each) and of an MPEG-2
// source's audio offset (ms): delayFrames x bytesPerFrame x 2000 and offsetMs x bytesPerFrame x 48,
// in 64 bits (the option has no range). The offset is measured in source time: for NTSC-family
// sources, whose picture the 25P pass speeds up, it shrinks by 960 / ntscFrameUnits (whole
// sample frames).
int64_t AudioDelayBytes(int32_t delayFrames, int bytesPerFrame);
int64_t AudioOffsetBytes(int32_t offsetMs, int bytesPerFrame);

// Adds the block in gSoundBuffer to the output sound media after dropping pending skip bytes.
// 1 ok, 0 failed (shown through CheckQtError).
int AddSoundSamples();

// Arms sound copying from a source sound track read by the media layer. The movies are not read.
void BeginAviSoundFromQuickTime(Movie outputMovie, Movie sourceMovie, Track sourceSoundTrack);

// CMovieWindow::BeginSoundTrack: chooses the description (the armed source sound's own when
// BeginAviSoundFromQuickTime ran for this movie, else built), checks the sound can be retimed,
// creates the output sound track and media, opens media edits and applies the audio delay.
// 1 ok, 0 failed (shown).
int BeginOutputSoundTrack(Movie outputMovie);

// CMovieWindow::EndSoundTrack: closes media edits and inserts the whole sound media into the
// track (nothing when no sample was added). 1 ok, 0 failed (shown).
int EndOutputSoundTrack();
