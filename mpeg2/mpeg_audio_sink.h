#pragma once

#include <cstdint>
#include <cstdio>

// Where the demultiplexer hands the sound of a program stream: the AC-3 decoder and the WAV and
// movie sound writers, which are installed by their own code. Until then every call does nothing
// (decoding adds no samples, writing counts nothing).
constexpr int kMpegAudioTracks = 8;          // AC-3 sub-streams 0x80..0x87 = tracks 1..8
constexpr int kMpegTrackBufferBytes = 49152; // 8 AC-3 frames of 1536 stereo 16-bit samples

struct MpegAudioSink
{
    // Once per process, at the first AC-3 packet taken.
    void (*ac3DecoderInit)() = nullptr;
    // Sets the AC-3 output level back to 1.0; called whenever a file is opened.
    void (*resetAc3OutputLevel)() = nullptr;
    // Decodes payload bytes of track t (0..7); every whole frame appends its samples to
    // gMpegAudioTracks[t].samples at outCount. Returns the new count, never more than
    // kMpegTrackBufferBytes; *consumed tells how many bytes were taken (a full buffer stops the
    // decoder early: the caller delivers the samples and calls again with the rest).
    int (*ac3DecodeTrack)(const uint8_t *bytes, int length, int outCount, int track,
                          int *consumed) = nullptr;
    // 16-bit stereo samples of one track: track 0 to the output movie's sound, others to wavFile.
    // bytes 0 flushes. Returns the track's running byte count (the total before the reset for a
    // flush).
    uint32_t (*writeAudioBlock)(const int16_t *samples, uint32_t bytes, FILE *wavFile,
                                int track) = nullptr;
    void (*writeWavHeader)(FILE *file) = nullptr;                   // 44 bytes, sizes 0
    void (*fixWavHeader)(FILE *file, uint32_t dataBytes) = nullptr; // patches and closes
};

extern MpegAudioSink gMpegAudioSink;

// One audio track of the stream (AC-3 tracks 0..7, and one record for LPCM sub-stream 0xA0).
// Touched only by the decoder thread.
struct MpegAudioTrack
{
    int started = 0;         // a packet was taken in this run
    int open = 0;            // the track was first met in this run (its file made)
    FILE *wavFile = nullptr; // none for track 0, whose sound goes into the output movie
    char fileName[260] = {};
    // Positive: bytes of silence still to write; negative: decoded bytes still to drop.
    int64_t pending = 0;
    uint32_t totalBytes = 0;                                 // bytes written in this run
    alignas(16) uint8_t samples[kMpegTrackBufferBytes] = {}; // decoded 16-bit stereo
};

extern MpegAudioTrack gMpegAudioTracks[kMpegAudioTracks];
extern MpegAudioTrack gMpegPcmTrack; // LPCM sub-stream 0xA0, written as "decode.wav" too

// Clears the per-track state of every track for a new run (files must have been closed).
void ResetMpegAudioTracks();
