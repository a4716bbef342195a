#pragma once

#include <cstdint>

// Calls from the passes up into the application (progress dialog, guide, main frame, playback
// window). The application installs its functions into gUiHooks at start-up; a hook left null
// does nothing, so the passes run headless in tests. The application must not define functions
// of these names itself: it installs them here.
struct UiHooks
{
    void (*showProgress)() = nullptr; // show the dialog, text empty, bar 0
    void (*setProgress)(const char *text, int percent) = nullptr; // text and bar position 0..100
    void (*hideProgress)() = nullptr;                             // hide it when shown
    void (*showGuidePage)(int page) = nullptr; // page text of the quick-start guide
    // Greys the menus, starts the processing thread (StartProcessThread) and the 1-second timer.
    // Null: the thread is started alone.
    void (*startProcessingThread)() = nullptr;
    // Called on the processing thread as its very last act, once ProcessThreadActive is false:
    // the shell does the timer's work at once instead of at its next tick.
    void (*processingThreadEnded)() = nullptr;
    void (*stopAviPlayback)() = nullptr;      // stops the AVI/MXF playback thread and waits
    void (*resizePlaybackWindow)() = nullptr; // refits the AVI/MXF playback window
    // The AVI/MXF player's decompressor for a pass over the compressed AVI it opened: over the
    // source's video format as the open copied it, decoding frames of width x height (the source
    // size) into bottom-up B,G,R,X. open: 1 ready, 0 no decompressor for the movie or that size.
    int (*openVfwDecompressor)(int width, int height) = nullptr;
    int (*vfwDecompressFrame)(const uint8_t *data, int size, uint8_t *out) = nullptr; // 1 ok
    void (*closeVfwDecompressor)() = nullptr;
    // Paints a bottom-up B,G,R frame (rows of width x 3 bytes) into the playback window.
    void (*paintPlayerFrame)(const uint8_t *bits, int height, int width) = nullptr;
};

extern UiHooks gUiHooks;

void ShowProgress();
void SetProgress(const char *text, int percent);
void HideProgress();
void ShowGuidePage(int page);
void StartProcessingThread();
void StopAviPlayback();
void ResizePlaybackWindow();
void PaintPlayerFrame(const uint8_t *bits, int height, int width);
