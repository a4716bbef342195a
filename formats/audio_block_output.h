#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kAudioBlockTracks = 8;

// Bytes delivered to each track's destination since its last flush.
extern uint32_t gAudioTrackBytes[kAudioBlockTracks];

// Delivers decoded 16-bit stereo sound (4 bytes a frame) of one audio track: track 0 to the
// output movie (the AVI writer's "01wb" chunks, or the QuickTime sound track), tracks 1-7 to
// wavFile. NTSC-family sources are retimed through audio ring `track` first. bytes = 0 flushes
// the track: what its ring holds goes out, and the result is the track's total before it is
// reset to 0. Otherwise the result is the running total; 0 when adding to the QuickTime sound
// track failed or the track number is outside 0-7. A track above 0 without a file writes
// nothing.
uint32_t WriteAudioBlock(const int16_t *samples, uint32_t bytes, FILE *wavFile, int track);

// Clears the counters and the rings. Call at the start of every conversion that delivers sound
// through WriteAudioBlock, so nothing of an earlier movie is carried over.
void ResetAudioBlockOutput();
