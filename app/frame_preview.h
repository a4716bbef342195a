#pragma once

#include <cstdint>

#include "platform/ui/window.h"

// The "Current Frame" window that shows each processed frame.
class CFramePreviewWnd : public lc::ui::CFrameWnd
{
public:
    // Makes the window, hidden, at (360, 360)-(1080, 936), owned by the main frame.
    bool CreatePreview(lc::ui::CWnd *owner);
    // Draws a bottom-up B, G, R picture (rows width x 3 bytes) at the top left; a new size first
    // fits the window to the picture.
    void ShowDib(int width, int height, const uint8_t *bits);
    // The preview is not the main window: closing it only hides it.
    void OnClose() override { ShowWindow(lc::ui::SW_HIDE); }
};

// The preview window; null until start-up has made it.
extern CFramePreviewWnd *gFramePreview;

// Last size drawn; 0 at first.
extern int gPreviewWidth;
extern int gPreviewHeight;

void CreateFramePreviewWindow();
void AppShowFramePreview();
void AppHideFramePreview();
// The frame processing core's hand-over of each output frame.
void AppShowFrameInPreview(int width, int height, const uint8_t *bottomUpBgr);
// The preview has not yet shown the picture it was given last.
bool AppFramePreviewBusy();
