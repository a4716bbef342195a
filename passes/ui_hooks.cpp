#include "passes/ui_hooks.h"

#include "passes/lower_hooks.h"
#include "passes/process_thread.h"

UiHooks gUiHooks;
LowerHooks gLowerHooks;

void ShowProgress()
{
    if (gUiHooks.showProgress) {
        gUiHooks.showProgress();
    }
}

void SetProgress(const char *text, int percent)
{
    if (gUiHooks.setProgress) {
        gUiHooks.setProgress(text, percent);
    }
}

void HideProgress()
{
    if (gUiHooks.hideProgress) {
        gUiHooks.hideProgress();
    }
}

void ShowGuidePage(int page)
{
    if (gUiHooks.showGuidePage) {
        gUiHooks.showGuidePage(page);
    }
}

void StartProcessingThread()
{
    if (gUiHooks.startProcessingThread) {
        gUiHooks.startProcessingThread();
    } else {
        StartProcessThread();
    }
}

void StopAviPlayback()
{
    if (gUiHooks.stopAviPlayback) {
        gUiHooks.stopAviPlayback();
    }
}

void ResizePlaybackWindow()
{
    if (gUiHooks.resizePlaybackWindow) {
        gUiHooks.resizePlaybackWindow();
    }
}

void PaintPlayerFrame(const uint8_t *bits, int height, int width)
{
    if (gUiHooks.paintPlayerFrame) {
        gUiHooks.paintPlayerFrame(bits, height, width);
    }
}
