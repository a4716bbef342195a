#pragma once

#include "platform/media/media_types.h"

// The sound of a movie's track as the output takes it: 16-bit PCM that plays what the movie
// plays. Sound stored that way is read as it is; other sound is made into a movie of its own.

// Whether soundTrack's sound must go through NewPlayedSoundMovie to be played from movie time
// `from` (movie units): PCM of more than 16 bits or under a version-2 description, float PCM,
// compressed sound, or 16-bit 'sowt'/'twos' PCM that its edits do not play whole from its start
// at `from`. False for 16-bit PCM played as stored, and for sound this layer leaves to the
// callers' own checks: 'dvca', 'raw ', 'NONE' and PCM of fewer than 16 bits.
bool SoundNeedsConversion(Track soundTrack, TimeValue from);

// What soundTrack plays from movie time `from` on, as a new movie of one sound track of 16-bit
// little-endian PCM ('sowt', a version-0 description) whose data lie in an anonymous temporary
// file:
// - the track's edits are followed: an empty edit becomes silence, a media edit plays its part of
//   the media (at rate 1); silence after the last sound is left out;
// - PCM keeps its rate and channels: integers keep their top 16 bits, floats are scaled by 32768,
//   rounded and clipped;
// - compressed sound is decoded and resampled to 48000 Hz; mono stays mono, more channels are
//   mixed to stereo; a packet that fails to decode becomes silence of its length.
// The movie is the caller's (DisposeMovie). Results: noErr; noCodecErr when the sound cannot be
// decoded; paramErr for a null track or one without sound; ioErr, dskFulErr or memFullErr.
// *out is null unless noErr.
OSErr NewPlayedSoundMovie(Track soundTrack, TimeValue from, Movie *out);
