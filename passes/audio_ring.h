#pragma once

#include <cstdint>

// The retiming rings. The 25P passes play 5 NTSC frames (29.97 frames/s) as 4 frames at 25
// frames/s, so the picture runs faster by 1001/960; the sound follows by being read with linear
// interpolation at a step of 1001/960 of an input frame per output frame. 50050 input sample
// frames give 48000 output frames and the output stays at 48000 Hz. A 30 frames/s source runs
// faster by 1000/960: its movies read the rings at a step of 1000.
//
// One process-wide record of static storage (8 x 2^20 x 4 bytes) so that no block allocates.
// Used on one thread at a time (the processing thread or the MPEG-2 decoder thread); not locked.

constexpr int kAudioRingStreams = 8;
constexpr uint32_t kAudioRingEntries = 1u << 20;  // stereo frames per stream
constexpr uint32_t kAudioRingUnitsPerEntry = 960; // read position units per entry
constexpr uint32_t kAudioRingReadStep = 1001;     // units advanced per output frame, 29.97
constexpr uint32_t kAudioRingPositionWrap = kAudioRingUnitsPerEntry * kAudioRingEntries;
constexpr uint32_t kRetimedBlockBytes = 192000; // one second of 48 kHz 16-bit stereo

struct AudioRingFrame
{
    int16_t left;
    int16_t right;
};

struct AudioRing
{
    AudioRingFrame frames[kAudioRingStreams][kAudioRingEntries];
    uint32_t writeIndex[kAudioRingStreams];   // entry the next written frame goes to
    uint32_t readPosition[kAudioRingStreams]; // in 1/960 of an entry, below kAudioRingPositionWrap
    int bigEndian;                            // 1: samples are byte-swapped on the way in and out
    // Units the read position advances per output frame: the source frame's length in 1/30000 s
    // (1001 at 29.97 frames/s, 1000 at 30). Set per movie; the rings' positions do not change.
    uint32_t readStep = kAudioRingReadStep;
};

extern AudioRing gAudioRing;

// Every write index and read position = 0; the samples and bigEndian stay.
void ResetAudioRings();

// Appends bytes / 4 stereo frames of source (native 16-bit pairs, or big-endian when
// gAudioRing.bigEndian is set). No check against the read position: callers keep at most
// AudioRingFreeFrames frames unread (FeedAudioRing does). A stream outside 0..7 is ignored.
void WriteAudioRing(const void *source, uint32_t bytes, int stream);

// Bytes of retimed output that can be read now (0 for a stream outside 0..7).
uint32_t AudioRingAvailableBytes(int stream);

// Frames that can be written without overwriting unread sound (one entry is kept for the
// interpolation's second sample).
uint32_t AudioRingFreeFrames(int stream);

// Produces bytes / 4 retimed stereo frames into destination. A stream outside 0..7 writes nothing.
void ReadAudioRingResampled(void *destination, uint32_t bytes, int stream);

void SwapBytes16(void *sample);
int16_t SwapSampleIfBigEndian(int16_t value);

// For i < bytes / 2: destination frame i = (left[i], right[i]). bytes is the size of one mono
// block.
void InterleaveStereo(void *destination, const void *left, const void *right, uint32_t bytes);

// Receives one retimed block, held in gSoundBuffer (byteCount bytes, sampleCount frames).
// Returns false when writing it failed.
using RetimedBlockSink = bool (*)(void *context);

// Hands every whole retimed block of the stream to the sink: while more than kRetimedBlockBytes
// can be read, one block of exactly kRetimedBlockBytes. sampleCount = bytes / bytesPerFrame when
// bytesPerFrame is above 0. False when the sound buffer could not grow or the sink failed.
bool ReleaseRetimedBlocks(int stream, int bytesPerFrame, RetimedBlockSink sink, void *context);

// Appends bytes of source to the stream in pieces that fit; when the ring is full, every whole
// block is handed to the sink first, so no unread sound is overwritten whatever the size. Blocks
// that can be read afterwards stay in the ring (ReleaseRetimedBlocks hands them out). The source
// may lie in gSoundBuffer. False when room could not be made (no sink, a failed sink or buffer).
bool FeedAudioRing(int stream, const void *source, uint32_t bytes, int bytesPerFrame,
                   RetimedBlockSink sink, void *context);

// Hands what is left of the stream (less than one entry stays) to the sink as one block. True when
// there was nothing to hand over.
bool DrainAudioRing(int stream, int bytesPerFrame, RetimedBlockSink sink, void *context);
