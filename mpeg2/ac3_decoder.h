#pragma once

#include <cstdint>

// AC-3 decoding of the private-stream-1 sub-streams 0x80..0x87 of a program stream (tracks
// 0..7). Each track keeps its own sync state, partial frame and overlap buffers, so packets of
// different tracks may arrive interleaved. Decoding runs on one thread, one call at a time.

constexpr int kAc3Tracks = 8;
constexpr int kAc3SamplesPerFrame = 1536;  // stereo sample frames per AC-3 frame
constexpr int kAc3FrameOutputBytes = 6144; // 1536 frames x 2 channels x 2 bytes
constexpr int kAc3TrackOutputBytes = 8 * kAc3FrameOutputBytes; // a track's output buffer

// Clears every track's state, builds the tables (once per process) and seeds the C runtime
// generator (dither) with 0. Called at the first AC-3 packet of each decoder run, so that runs
// over one stream give the same sound; Ac3DecodeTrack calls it itself when it was never called.
void Ac3DecoderInit();

// Hand-off from the demultiplexer: decodes `length` payload bytes of track `track` (0..7).
// Every whole frame with a valid CRC appends 6144 bytes of 16-bit stereo samples (left,
// right, little-endian host order) to `out` at `outCount`. A frame is decoded only while
// `outCapacity - outCount` still holds 6144 bytes: decoding stops before the first byte that
// would need more room, and *consumed (when not null) tells how many input bytes were taken;
// call again with the rest after delivering the samples (with room for a frame, every call takes
// at least one byte or adds a frame). Bytes of a frame that has not ended
// stay collected for the next call. Returns the new output count; bad arguments (track out of
// range, negative sizes, null pointers with a non-zero size) return outCount and consume
// nothing.
int Ac3DecodeTrack(const uint8_t *bytes, int length, uint8_t *out, int outCount, int outCapacity,
                   int track, int *consumed);
