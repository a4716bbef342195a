#pragma once

#include <cstdint>

#include "platform/media/media_types.h"

constexpr int32_t kNtscFrameUnits2997 = 1001;
constexpr int32_t kNtscFrameUnits30 = 1000;

// The per-movie settings the processing thread works out before it calls
// CMovieWindow::ProcessMovie, and those that ProcessMovie decides for the passes. Written by the
// processing thread (and by the open that runs before it); the passes and the MPEG-2 decoder
// thread read them only after the thread has set them, so the fields are plain.
struct ConversionState
{
    // --- source: set by the open and the readers ---
    int32_t frameRate = 0; // frames/s as an integer; the processing thread rounds it per movie
    // The source rate as a ratio, stored beside frameRate by the media-layer open (movie time
    // scale and the first frame's duration). The thread rounds frameRate from it (or from
    // SourceTiming for the own AVI reader), so 30000/1001 counts as 30 and not 29. 0: unknown.
    int32_t frameRateScale = 0;
    int32_t frameRateDuration = 0;
    int32_t sourceFrameCount = 0;     // media samples counted, the AVI reader's total, or pictures
    int32_t sourceSampleDuration = 0; // one source video sample, in the source media's units
    int32_t firstSampleTime = 0;      // media time of the first source video sample
    char sourceCodecText[5] = {};     // the source codec's four characters
    int32_t cindrellSource = 0;       // DVCPRO HD source decoded by the own decoder
    int32_t audioOffsetMs = 0;        // transport streams: video PTS - audio PTS, in ms

    // --- source rate: set by the processing thread ---
    // Length of one source frame in 1/30000 s for the NTSC family: 1001 at 29.97 frames/s, 1000
    // at 30. The sound of five source frames and the retiming ring's read step follow it.
    int32_t ntscFrameUnits = 1001;

    // --- per movie: set by the processing thread ---
    int32_t batchItemIndex = 0;     // 0 in a single run; the batch line number from 1
    int32_t sourceIsPal = 0;        // frameRate is 25
    int32_t sourceIsNtsc = 0;       // the complement of sourceIsPal
    int32_t ntscSd = 0;             // NTSC family, standard definition (IsHdFrame), per movie
    int32_t palSd = 0;              // PAL family, standard definition (IsHdFrame), per movie
    int32_t ntscOutputHeight = 0;   // 486 with "Output 486 Lines", else 480
    int32_t outputIsAvi = 0;        // 1 unless "Always Make Quicktime"
    int32_t dvAviOutput = 0;        // AVI output compressed to DV by the media layer
    int32_t uncompressedOutput = 0; // AVI output of raw 24-bit frames; 0 at the start of a run
    // Output folder + "/" + the source's name without extension, or the source path without
    // extension; the MPEG-2 WAV writers name their files after it.
    char outputBaseName[256] = {};

    // --- output: decided by ProcessMovie ---
    int32_t timeScale = 0;            // 2500 for NTSC-family sources, 2997 for PAL-family
    int32_t sampleDuration = 0;       // 100
    int32_t audioSamplesPerFrame = 0; // MPEG-2 sources: 48 kHz samples per source picture
    int32_t soundMediaRate = 0;       // 48000 when the source has sound
    OSType outputCodec = 0;           // four-character code of the output compressor
    // Standard compression chosen for the first movie of a run; kept for the rest of a batch.
    ComponentInstance stdCompressor = nullptr;
    int32_t outputCreated = 0; // this movie created its temporary output ("newmovie")
};

extern ConversionState gConversionState;
