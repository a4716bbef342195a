#pragma once

#include <cstdint>

// Services of the conversion passes that the file formats call upward. The passes install them
// once at start-up, before any reader or writer runs; until then the defaults keep the formats
// usable on their own (players, tests, tools). Every pointer stays non-null: a caller that wants
// the default back stores the matching Default* function.
struct FormatsHooks
{
    // Message boxes. showError ends the current movie (it sets ProcessControl::errorShown);
    // showWarning lets the work go on. Default: a DebugTrace line.
    void (*showError)(const char *text);
    void (*showWarning)(const char *text);

    // ProcessControl::passesLeft (1 or 2): audio met by the reader is output only in the last
    // pass. Default 1. ProcessControl::stopRequested polled between audio chunks. Default 0.
    int (*passesLeft)();
    int (*stopRequested)();

    // ConversionState fields. Defaults: sourceIsNtsc 0, outputIsAvi 1, ntscOutputHeight 480,
    // uncompressedOutput 0; setFrameRate (rate / scale of the source, rounded) does nothing.
    int (*sourceIsNtsc)();
    int (*outputIsAvi)();
    int (*ntscOutputHeight)();
    int (*uncompressedOutput)();
    void (*setFrameRate)(int framesPerSecond);

    // SoundBuffer: make it hold `bytes` bytes and return its data (null when it could not grow;
    // the callee has told the user). The contents are not kept across a growth. Default: a
    // grow-only buffer of the formats' own.
    uint8_t *(*ensureSoundBuffer)(int bytes);
    // SoundBuffer::sampleCount of the current block (sample frames). Default: nothing.
    void (*setSoundSampleCount)(int sampleFrames);
    // AddSoundSamples: adds the current block to the QuickTime sound track; 1 ok, 0 failed.
    // Default: drops the block and returns 1.
    int (*addSoundSamples)();

    // The audio rings (eight stereo 16-bit streams retimed by 1001/960). Defaults: no ring
    // (nothing stored, 0 bytes available, silence read).
    void (*resetAudioRings)();
    void (*setAudioRingBigEndian)(int bigEndian);
    void (*writeAudioRing)(const int16_t *samples, uint32_t bytes, int stream);
    uint32_t (*audioRingAvailableBytes)(int stream);
    void (*readAudioRingResampled)(int16_t *dst, uint32_t bytes, int stream);
};

extern FormatsHooks gFormatsHooks;

void DefaultShowMessage(const char *text);
int DefaultPassesLeft();
int DefaultZero();
int DefaultOne();
int DefaultNtscOutputHeight();
void DefaultSetFrameRate(int framesPerSecond);
uint8_t *DefaultEnsureSoundBuffer(int bytes);
void DefaultSetSoundSampleCount(int sampleFrames);
void DefaultResetAudioRings();
void DefaultSetAudioRingBigEndian(int bigEndian);
void DefaultWriteAudioRing(const int16_t *samples, uint32_t bytes, int stream);
uint32_t DefaultAudioRingAvailableBytes(int stream);
void DefaultReadAudioRingResampled(int16_t *dst, uint32_t bytes, int stream);
