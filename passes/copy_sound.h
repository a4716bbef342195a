#pragma once

#include <cstdint>

struct FormatsHooks;

// Sound copying: the next stretch of the source sound (read through the media layer) goes to the
// output, into the output sound media (QuickTime output) or as "01wb" chunks of the output AVI,
// merged from two mono tracks, checked for 48 kHz stereo 16-bit, put into the output's byte order
// and, for NTSC-family sources, retimed through audio ring 0. Runs on the processing thread or the
// MPEG-2 decoder thread, never on both at once.

// Appends one audio chunk to the output AVI: the AVI writer's AviWriteAudioChunk (tests put a
// recorder in its place); null writes nothing.
using AviAudioChunkWriter = void (*)(const char *chunkId, const void *data, uint32_t bytes);
extern AviAudioChunkWriter gWriteAviAudioChunk;

// Copies the next n sample frames of source sound to the output. 1 done or nothing to do, 0 failed
// (the passes report "CopySound Error"). Large requests are read in pieces that fit the ring.
int CopySound(int n);

// Sample frames of five source frames, the sound of one group: soundMediaRate x 5 / 25 for PAL
// sources (9600 at 48 kHz), soundMediaRate x 5 x ntscFrameUnits / 30000 for the NTSC family (8008
// at 29.97 frames/s, 8000 at 30).
int FiveFrameSoundFrames();

// Sample frames the end of a 25P pass asks for: the sound of up to 1000 more output frames,
// soundMediaRate x sampleDuration x 1000 / timeScale formed in 64 bits (1,920,000 at 48000 Hz);
// 0 when timeScale is 0.
int EndOfPassSoundFrames();

// At the end of every NTSC-family movie (not stopped): writes what is left in audio ring 0 to the
// output, after the last CopySound and AviReadRemainingAudio. 1 ok (or nothing to do), 0 failed.
int DrainRetimedSound();

// Points the sound services the file formats call (sound buffer, QuickTime sound track, rings)
// at this folder's functions. Called once at start-up.
void InstallSoundFormatsHooks(FormatsHooks &hooks);
