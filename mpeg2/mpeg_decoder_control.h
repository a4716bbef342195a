#pragma once

#include <atomic>
#include <cstdint>

// Control and status of the one MPEG-2 decoder thread. Written by the starters (player controls,
// progress dialog, processing thread) and polled by the decoder thread, or the other way round;
// nothing is locked. Plain flags use relaxed order.
struct MpegDecoderControl
{
    // --- set by the starter before the thread exists, cleared by the thread as its last act ---
    std::atomic<int> running{0};

    // --- set by the user interface, polled by the thread and the output stage ---
    std::atomic<int> stopRequested{0};
    std::atomic<int> paused{0};
    std::atomic<int> singleStep{0}; // one picture while paused; the output stage clears it
    std::atomic<int> seekGuard{0};  // 1 while a seek is creating its thread

    // --- how the next run starts ---
    std::atomic<int> locateMode{0};  // 0 from the start (open), 2 from seekPercent, 3 whole file
    std::atomic<int> seekPercent{0}; // 0..100 of the last seek; 0 = none
    std::atomic<int> showProgress{0};
    std::atomic<int64_t> startOffset{0}; // byte offset where decoding starts
    std::atomic<int64_t> endOffset{0}; // (length div 2048 - 1) x 2048: an I picture read there ends

    // --- decoder state seen by the others ---
    // 0 none; 1-5 and 10 recoverable picture errors; 90 a track file could not be created; 97 end
    // position reached; 98 end of data or fatal error; 99 user stop. 98 and above end the thread's
    // loop, 50 and above end the run at the next frame hand-over.
    std::atomic<int> faultCode{0};
    std::atomic<int> sequenceSeen{0};      // the first sequence header set up the frames
    std::atomic<int> pictureCount{0};      // pictures counted; 0 asks the next run to count
    std::atomic<int> processingMode{0};    // 0 preview; 4, 5, 6 or 9 while processing
    std::atomic<int> audioArmed{0};        // the run reached its first I picture
    std::atomic<int> restartFile{0};       // latest I picture of a whole-file run: file index
    std::atomic<int64_t> restartSector{0}; // and its 2048-byte sector
};

extern MpegDecoderControl gMpegDecoderControl;

// Fault codes of the decoder.
constexpr int kMpegFaultNoDctCode = 1;
constexpr int kMpegFaultMacroblockType = 2;
constexpr int kMpegFaultBlockPattern = 3;
constexpr int kMpegFaultAddressIncrement = 4;
constexpr int kMpegFaultMotionType = 5;
constexpr int kMpegFaultSliceOrMotionCode = 10;
constexpr int kMpegFaultRunEnds = 50; // this and above end the run at the next hand-over
constexpr int kMpegFaultTrackFile = 90;
constexpr int kMpegFaultEndPosition = 97;
constexpr int kMpegFaultEndOfData = 98;
constexpr int kMpegFaultUserStop = 99;

// Raises the fault code to `code` unless a graver one is pending, so a picture error met after
// the end of data or a failed track file never hides it.
void RaiseMpegFault(int code);
// Clears a pending recoverable code (below 50); graver codes stay.
void ClearRecoverableMpegFault();
