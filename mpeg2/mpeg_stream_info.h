#pragma once

#include <atomic>
#include <cstdint>

// What the decoder learned about the open stream. Written by the decoder thread, read by the
// processing thread and the passes once the thread has set it up.
struct MpegStreamInfo
{
    // --- sequence header and extension ---
    std::atomic<int> horizontalSize{0};
    std::atomic<int> verticalSize{0}; // with the width, what is HD (IsHdFrame)
    std::atomic<int> frameRateCode{0};
    std::atomic<int> progressiveSequence{0};
    std::atomic<int> chromaFormat{0}; // 1 4:2:0, 2 4:2:2, 3 4:4:4
    // frames/s, exact as the stream codes it (59.94 is 60000/1001); set only by a sequence
    // extension
    std::atomic<double> frameRate{0.0};

    // --- decoder geometry, from the first sequence header of a run's start-up ---
    std::atomic<int> codedWidth{0};  // 16 x macroblock columns
    std::atomic<int> codedHeight{0}; // 16 x macroblock rows

    // --- stream ---
    std::atomic<int> streamKind{0}; // 0 video elementary stream, 1 program stream, 2 transport
    std::atomic<int> audioKind{0};  // 0 none met, 1 AC-3, 2 LPCM, 3 MPEG audio, 4 DTS
    // The run's LPCM was not 48 kHz stereo of 16, 20 or 24 bits: none of it was taken.
    std::atomic<int> lpcmRefused{0};
};

extern MpegStreamInfo gMpegStreamInfo;

// Frame buffers are allocated once for the largest picture the system takes: 1920 x 1200 luma.
constexpr int kMpegMaxPlaneBytes = 1920 * 1200;
