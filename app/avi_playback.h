#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "formats/avi_writer.h"
#include "platform/sys/thread.h"

namespace lc::ui {
class CFrameWnd;
class CWnd;
} // namespace lc::ui

// The AVI/MXF playback window: a playback thread reads one frame at a time with the AVI reader or
// the MXF reader, decompresses it, paints it at the top left corner of the picture window and
// paces itself to the movie's frame rate. The Player Controls start, pause, step and position it;
// the passes that read AVI sources use its decompressor and paint helpers.

// Largest frame side the player allocates for; larger sizes are refused as a failed allocation.
constexpr int kPlaybackMaxFrameSide = 8192;

// The video decompressor (the compressor interface's decompress side). Installed by the start-up
// code; the default decodes through the media layer's codec registry. Formats are
// BITMAPINFOHEADERs (the input one may be longer than 40 bytes); output is bottom-up 32-bit
// B,G,R,X of the output format's size.
struct PlaybackDecompressor
{
    // ICOpen ('VIDC', code, ICMODE_DECOMPRESS): null when no decompressor takes the code.
    void *(*open)(uint32_t code) = nullptr;
    // ICM_DECOMPRESS_BEGIN: 0 ok.
    int (*begin)(void *ic, const void *input, const AviBitmapHeader *output) = nullptr;
    // ICDecompress of one frame of input->biSizeImage bytes: 0 ok.
    int (*decompress)(void *ic, const void *input, const uint8_t *data,
                      const AviBitmapHeader *output, uint8_t *out) = nullptr;
    void (*end)(void *ic) = nullptr;   // ICM_DECOMPRESS_END
    void (*close)(void *ic) = nullptr; // ICClose
};

extern PlaybackDecompressor gPlaybackDecompressor;

// The media layer's codec registry as the decompressor.
PlaybackDecompressor MediaLayerDecompressor();
// The compressor layer's decompressors (the default of gPlaybackDecompressor): every AVI code
// it has, FFV1 and HuffYUV included.
PlaybackDecompressor VfwPlaybackDecompressor();

// The windows the player uses: the main frame, sized around the picture, and the window the
// pictures are painted into (the view filling the frame's client area). Set by the shell at
// start-up; with none set nothing is painted or sized.
void SetPlaybackWindows(lc::ui::CFrameWnd *mainFrame, lc::ui::CWnd *picture);
lc::ui::CFrameWnd *PlaybackMainFrame();
lc::ui::CWnd *PlaybackPictureWindow();

// Process-wide. The GUI thread sets the request flags, the playback thread polls them; each flag
// has one writer at a time.
struct AviPlayback
{
    // --- set by OpenMovieForPlayback (GUI thread) while no thread runs ---
    char fileName[256] = {};        // path of the movie open for playback; empty = none
    std::atomic<int> frameWidth{0}; // frame size being shown
    std::atomic<int> frameHeight{0};
    void *decompressor = nullptr;    // open only inside the thread or for a pass
    void *inputFormat = nullptr;     // malloc'd copy of the source's video format
    AviBitmapHeader outputFormat{};  // paint format: 32 bits for AVI, 24 for MXF
    uint8_t *decodedFrame = nullptr; // decompressed picture, bufferBytes
    uint8_t *readBuffer = nullptr;   // compressed frame as read, bufferBytes
    size_t bufferBytes = 0;          // width x height x 4 of the opened movie

    // --- playback thread ---
    std::atomic<int> frameIndex{0};    // frame shown now (0-based)
    std::atomic<int> threadRunning{0}; // set before the thread starts, cleared as its last act
    lc::Thread thread;                 // joined by StopAviPlayback and before a new start
    std::atomic<int> stopRequested{0}; // end after the frame in hand
    std::atomic<int> paused{0};        // wait after the frame in hand
    std::atomic<int> seekRequested{0}; // the next frame comes from PlayerState::sliderPercent
    std::atomic<int> restartBusy{0};   // RestartAviPlayback is at work
};

extern AviPlayback gAviPlayback;

// StopAviPlayback, then OpenMovieForPlayback (path).
void ReopenAviPlayback(const char *path);
// Prepares the movie (SourceKind::isMxf chooses the MXF reader) and shows its first frame.
void OpenMovieForPlayback(const char *path);
// "|>": pauses or resumes a running thread, else plays from frame 0.
void StartOrPauseAviPlayback();
// Slider or step: shows the asked frame.
void RestartAviPlayback();
// Ends the thread and waits for it without a time limit (the GUI thread keeps handling queued
// calls meanwhile).
void AviStopPlayback();
int IsAviPlaybackOpen();
void ClearPlaybackFileName();
// Sizes the main frame so that its client area is the frame size, keeping its left edge, top 0.
void AviResizePlaybackWindow();
// Installs the two functions above, PaintRgbFrame and the passes' decompressor into the passes'
// hooks (stopAviPlayback, resizePlaybackWindow, paintPlayerFrame, the three decompressor calls).
void InstallAviPlaybackHooks();

// For the passes: the decompressor of the compressed AVI the player opened, over the video
// format its open copied (inputFormat), decoding frames of the open's size into 32-bit
// bottom-up B,G,R,X. Installed into the passes' hooks by InstallAviPlaybackHooks.
void InstallPassDecompressor();
// Paints a bottom-up 24-bit frame into the picture window, refitting the main frame when the size
// differs from the frame painted last.
void PaintRgbFrame(const uint8_t *bits, int height, int width);
// Allocation for the MPEG-2 set-up; null on failure. Freed with FreePlaybackMemory.
void *AllocPlaybackMemory(size_t bytes);
void FreePlaybackMemory(void *block);
