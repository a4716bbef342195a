#pragma once

#include <atomic>
#include <cstdint>

// Calls the MPEG-2 output stage makes upward into the passes and the user interface. The passes
// install them at start-up (InstallStreamOutputHooks); a null hook does nothing and reads 0
// (passesLeft reads 1, ntscOutputHeight 480).
struct OutputStageHooks
{
    // --- ProcessControl and ConversionState (processing thread, read between frames) ---
    int (*processRunning)() = nullptr; // ProcessControl::running
    int (*passesLeft)() = nullptr;     // ProcessControl::passesLeft
    int (*ntscOutputHeight)() = nullptr;
    void (*setNtscOutputHeight)(int lines) = nullptr;
    int (*audioSamplesPerFrame)() = nullptr; // 48 kHz samples per source picture
    // 48 kHz samples of one group's five source pictures; null: 5 x audioSamplesPerFrame.
    int (*groupSoundFrames)() = nullptr;

    // --- writers: frames are bottom-up B, G, R rows of width x 3 bytes ---
    int (*addCompressedFrame)(const uint8_t *frame, int width, int rows) = nullptr;
    int (*compressDvFrameToAvi)(const uint8_t *frame, int width, int rows) = nullptr;
    // The DV frames of one group (at most 6), in order: taken in at once (the frames may change
    // after the call) and compressed behind the caller; endDvFrameGroup waits for them and writes
    // them in order. Both null: compressDvFrameToAvi, frame by frame.
    void (*beginDvFrameGroup)(const uint8_t *const *frames, int count, int width,
                              int rows) = nullptr;
    void (*endDvFrameGroup)() = nullptr;
    int (*compressAviFrame)(const uint8_t *frame) = nullptr; // at the output size
    void (*endAviVideoCompression)() = nullptr;
    // Copies the next `frames` sample frames of sound to the output: 1 ok, 0 failed.
    int (*copySound)(int frames) = nullptr;
    void (*showError)(const char *text) = nullptr;

    // --- the preview window ---
    // Draws width x height bottom-up B, G, R pixels at the window's origin.
    void (*drawPreview)(const uint8_t *bottomUpBgr, int width, int height) = nullptr;
    // Moves the window to (left, top), left -1 keeping its left edge, and sizes it so that its
    // client area is clientWidth x clientHeight.
    void (*placePreviewWindow)(int left, int top, int clientWidth, int clientHeight) = nullptr;
};

extern OutputStageHooks gOutputStageHooks;

// What the stage reads and writes of the decoder's records (MpegStreamInfo, MpegDecoderControl,
// the preview frame number). Each pointer starts at a value of the stage's own, so the stage runs
// alone in tests; the decoder's start-up points them at its records.
struct OutputStageDecoderLink
{
    // --- the stream (written by the decoder thread before the first picture) ---
    std::atomic<int> *codedWidth;
    std::atomic<int> *codedHeight;
    std::atomic<int> *horizontalSize;
    std::atomic<int> *verticalSize;
    std::atomic<int> *chromaFormat; // 1 4:2:0, 2 4:2:2, 3 4:4:4

    // --- decoder control (user interface and processing thread write, the stage polls) ---
    std::atomic<int> *paused;
    std::atomic<int> *singleStep;
    std::atomic<int> *stopRequested;
    std::atomic<int> *faultCode; // 99: user stop
    std::atomic<int> *showProgress;
    std::atomic<int> *sequenceSeen;
    std::atomic<int> *processingMode;     // 0 preview; 4, 5, 6 or 9 while processing
    std::atomic<int> *previewFrameNumber; // 0 disables the preview

    // --- decoder-side calls; null does nothing ---
    void (*showProcessingProgress)() = nullptr;
    // End of a final pass: flushes what the sound retiming holds for each AC-3 track, fixes the
    // WAV headers of the track files and "decode.wav" and forgets them.
    void (*closeAudioTracks)() = nullptr;
};

extern OutputStageDecoderLink gOutputStageDecoder;
