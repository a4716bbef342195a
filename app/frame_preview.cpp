#include "app/frame_preview.h"

#include "app/main_frame.h"

CFramePreviewWnd *gFramePreview = nullptr;
int gPreviewWidth = 0;
int gPreviewHeight = 0;

namespace {
constexpr int kPreviewLeft = 360;
constexpr int kPreviewTop = 360;
} // namespace

bool CFramePreviewWnd::CreatePreview(lc::ui::CWnd *owner)
{
    // A new window has shown nothing yet: its first picture sizes it.
    if (!IsCreated()) {
        gPreviewWidth = 0;
        gPreviewHeight = 0;
    }
    lc::ui::CreateStruct cs;
    cs.x = kPreviewLeft;
    cs.y = kPreviewTop;
    cs.cx = 1080 - kPreviewLeft;
    cs.cy = 936 - kPreviewTop;
    cs.style = lc::ui::WS_OVERLAPPEDWINDOW & ~lc::ui::WS_VISIBLE;
    cs.owner = owner;
    return Create("Current Frame", cs, nullptr, 0, nullptr, 0);
}

void CFramePreviewWnd::ShowDib(int width, int height, const uint8_t *bits)
{
    if (width <= 0 || height <= 0 || !bits) {
        return;
    }
    if (width != gPreviewWidth || height != gPreviewHeight) {
        lc::ui::Rect window = GetWindowRect();
        lc::ui::Rect client = GetClientRect();
        MoveWindow(kPreviewLeft, kPreviewTop, width + window.Width() - client.Width(),
                   height + window.Height() - client.Height());
        gPreviewWidth = width;
        gPreviewHeight = height;
    }
    PaintBitmap(0, 0, width, height, 24, bits, width * 3);
}

void CreateFramePreviewWindow()
{
    if (!gFramePreview) {
        gFramePreview = new CFramePreviewWnd;
    }
    gFramePreview->CreatePreview(gMainFrame);
}

void AppShowFramePreview()
{
    if (gFramePreview) {
        gFramePreview->ShowWindow(lc::ui::SW_SHOW);
    }
}

void AppHideFramePreview()
{
    if (gMainFrame) {
        gMainFrame->ShowWindow(lc::ui::SW_RESTORE);
    }
    if (gFramePreview) {
        gFramePreview->ShowWindow(lc::ui::SW_HIDE);
    }
}

void AppShowFrameInPreview(int width, int height, const uint8_t *bottomUpBgr)
{
    if (gFramePreview) {
        gFramePreview->ShowDib(width, height, bottomUpBgr);
    }
}

bool AppFramePreviewBusy()
{
    return gFramePreview && gFramePreview->PicturePending();
}
