#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// WAV track files of MPEG-2 program streams: 44-byte header, 48000 Hz, stereo, 16-bit PCM.

constexpr int kWavHeaderBytes = 44;
// The first linear PCM track; a bare name, so it lands in the current folder.
inline constexpr char kPcmWavName[] = "decode.wav";

// "%s-Track%d.wav" with the base path and trackIndex + 1 (AC-3 track indexes 1..7 give files 2
// to 8). False, with an empty name, when the index is outside 1..7 or the name does not fit.
bool MakeTrackWavName(char *name, size_t capacity, const char *basePath, int trackIndex);

// Creates (replacing) the file and writes its header with both sizes 0. Null when the file
// cannot be created or the header cannot be written (the file is then closed).
FILE *OpenWavTrackFile(const char *name);

// Writes the 44-byte header with both sizes 0 at the stream's position (its start). False when
// the write failed.
bool WriteWavHeader(FILE *stream);

// Patches the data size at offset 40 and the RIFF size (data + 36, at most 0xFFFFFFFF) at
// offset 4, then closes the stream. False when a seek, a write or the close failed; the stream
// is closed in every case. A null stream gives false.
bool FixWavHeader(FILE *stream, uint32_t dataBytes);

// Rounds to the nearest integer, ties to even, and clamps to -32768..32767; NaN gives 0.
int16_t ClipToInt16(double value);
