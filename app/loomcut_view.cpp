#include "app/loomcut_view.h"

#include <cstdlib>
#include <vector>

#include "app/avi_playback.h"
#include "app/batch_dialog.h"
#include "app/guide.h"
#include "app/main_frame.h"
#include "app/options_dialog.h"
#include "app/resource_ids.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/media/movie_controller.h"
#include "platform/media/movies.h"
#include "platform/sys/text.h"
#include "platform/ui/application.h"

namespace {

MovieWindowHandle ViewHandle(lc::ui::CWnd *wnd) { return static_cast<MovieWindowHandle>(wnd); }

// Control strip colours (B, G, R).
constexpr uint8_t kStripGrey[3] = {0xc8, 0xc8, 0xc8};
constexpr uint8_t kStripBar[3] = {0x90, 0x60, 0x30};
constexpr uint8_t kStripMark[3] = {0x20, 0x20, 0x20};
constexpr uint8_t kStripButton[3] = {0xe8, 0xe8, 0xe8};

void Put(uint8_t *px, const uint8_t (&bgr)[3])
{
    px[0] = bgr[0];
    px[1] = bgr[1];
    px[2] = bgr[2];
}

CMovieWindow *MakeMovieWindow() { return new CMovieWindow; }

} // namespace

CMovieWindow *(*gMakeMovieWindow)() = MakeMovieWindow;

CLoomcutView::CLoomcutView()
{
    gMovieWindow = gMakeMovieWindow();
    MapCommand(ID_FILE_CLOSE, [this] { OnFileClose(); });
    MapCommand(ID_FILE_SAVE_AS, [this] { OnFileSaveAs(); });
    MapCommand(ID_FILE_EXPORT, [this] { OnFileExport(); });
    MapCommand(ID_START_PROCESS, [this] { OnStartProcess(); });
    MapCommand(ID_QUICK_START_GUIDE, [this] { OnQuickStartGuide(); });
    MapCommand(ID_BATCH, [this] { OnBatch(); });
    MapCommand(ID_VIEW_OPTIONS, [] { ShowOptionsDialog(); });
    MapCommand(ID_PLAYER_PLAY, [this] { PlayerKey(kVkSpace); });
    MapCommand(ID_PLAYER_STEP_BACK, [this] { PlayerKey(kVkLeft); });
    MapCommand(ID_PLAYER_STEP_FORWARD, [this] { PlayerKey(kVkRight); });
}

CLoomcutView::~CLoomcutView()
{
    delete gMovieWindow;
    gMovieWindow = nullptr;
}

void CLoomcutView::OnCreate()
{
    if (lc::ui::CWinApp *app = lc::ui::AfxGetApp()) {
        lc::CopyText(gMovieWindow->appName, app->AppName().c_str());
    }
    MovieWindowCreateRecord record;
    gMovieWindow->AttachWindow(ViewHandle(this), &record);
    // The players paint into the view and size the frame around it.
    SetPlaybackWindows(GetParentFrame(), this);
    SetTimer(kPlayerTimerId, kPlayerTickMs, [this] { OnPlayerTick(); });
}

void CLoomcutView::OnDestroy()
{
    KillTimer(kPlayerTimerId);
    gMovieWindow->DetachWindow();
    SetPlaybackWindows(nullptr, nullptr);
}

void CLoomcutView::OnDraw()
{
    if (gProcessControl.batchRunning) {
        return;
    }
    if (Movie movie = gMovieWindow->GetMovie()) {
        UpdateMovie(movie);
    }
}

int CLoomcutView::OpenMovie()
{
    int opened = gMovieWindow->OpenMovie(m_path.c_str());
    int reopened = gProcessControl.openedAfterProcessing;
    gProcessControl.openedAfterProcessing = 0;
    if (opened == 0) {
        return 0;
    }
    if (gSourceKind.viaQuickTime) {
        gMovieWindow->FitWindow();
        DrawMovieFrame();
    }
    if (gUiState.ready) {
        ShowGuidePage(1);
        if (!gUiState.batchListShown && !reopened) {
            ShowOptionsDialog();
        }
    }
    return 1;
}

void CLoomcutView::OnFileClose()
{
    if (ProcessingBusy()) {
        return;
    }
    gMovieWindow->CloseMovie();
    drawnController_ = nullptr;
    if (GetDocument()) {
        GetDocument()->SetTitle("Untitled");
    }
    gMovieWindow->UpdateTitle();
}

void CLoomcutView::OnFileSaveAs()
{
    if (!ProcessingBusy()) {
        gMovieWindow->SaveAs();
        DrawMovieFrame();
    }
}

void CLoomcutView::OnFileExport()
{
    if (!ProcessingBusy()) {
        gMovieWindow->ExportMovie();
    }
}

void CLoomcutView::OnStartProcess()
{
    if (gUiState.batchListShown) {
        ShowWarning("Press Start Batch to process all movies");
        return;
    }
    gProcessControl.batchRunning = 0;
    gMovieWindow->StartProcess();
}

void CLoomcutView::OnQuickStartGuide() { gGuideDialog.ShowWindow(lc::ui::SW_SHOW); }

void CLoomcutView::OnBatch() { ShowBatchList(); }

void CLoomcutView::DrawMovieFrame()
{
    MovieController mc = gMovieWindow->controller;
    Movie movie = gMovieWindow->GetMovie();
    drawnController_ = mc;
    if (!mc || !movie) {
        return;
    }
    const Rect &box = gMovieWindow->movieBox;
    int w = box.right - box.left;
    int h = box.bottom - box.top;
    if (w <= 0 || h <= 0) {
        return;
    }
    int total = h + kControllerStripHeight;
    ptrdiff_t row = ptrdiff_t(w) * 3;
    std::vector<uint8_t> rgb(size_t(row) * size_t(h));
    if (MCGetFrameRGB(mc, rgb.data(), row, w, h) != noErr) {
        std::fill(rgb.begin(), rgb.end(), uint8_t(0));
    }
    TimeScale scale = 0;
    TimeValue now = MCGetCurrentTime(mc, &scale);
    drawnTime_ = now;

    // Bottom-up B, G, R: the strip takes the last rows of the picture, so the first rows here.
    std::vector<uint8_t> dib(size_t(row) * size_t(total));
    for (int y = 0; y < h; ++y) {
        const uint8_t *src = rgb.data() + size_t(y) * size_t(row);
        uint8_t *dst = dib.data() + size_t(total - 1 - y) * size_t(row);
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    // The strip: the play button (a triangle, or two bars while playing), then the slider with
    // the played part as a bar and a mark at the current position.
    Fixed rate = 0;
    MCDoAction(mc, mcActionGetPlayRate, &rate);
    int mark = MCGetSliderPosition(mc);
    for (int y = 0; y < kControllerStripHeight; ++y) {
        uint8_t *dst = dib.data() + size_t(kControllerStripHeight - 1 - y) * size_t(row);
        bool barRow = y >= 6 && y < 10;
        for (int x = 0; x < w; ++x) {
            const uint8_t(*colour)[3] = &kStripGrey;
            if (x < kControllerButtonWidth) {
                int bx = x - 4;
                int by = y - 3;
                bool ink =
                    rate != 0 ? by >= 0 && by < 10 && (bx == 1 || bx == 2 || bx == 6 || bx == 7)
                              : by >= 0 && by < 10 && bx >= 0 && bx <= 4 - std::abs(by * 2 - 9) / 2;
                colour = ink ? &kStripMark : &kStripButton;
            } else if (x == mark) {
                colour = &kStripMark;
            } else if (barRow && x < mark) {
                colour = &kStripBar;
            }
            Put(dst + 3 * x, *colour);
        }
    }
    PaintBitmap(0, 0, w, total, 24, dib.data(), int(row));
}

void CLoomcutView::OnPlayerTick()
{
    // During a run the movie belongs to the processing thread.
    if (ProcessingBusy() || !gMovieWindow->controller) {
        return;
    }
    gMovieWindow->IsPlayerEvent(ViewHandle(this), kWmTimer, 0, 0);
    TimeScale scale = 0;
    TimeValue now = MCGetCurrentTime(gMovieWindow->controller, &scale);
    if (now != drawnTime_ || drawnController_ != gMovieWindow->controller) {
        DrawMovieFrame();
    }
}

void CLoomcutView::OnLButtonDown(int x, int y)
{
    PlayerMouse(kWmLButtonDown, kMkLButton, x, y);
}

void CLoomcutView::OnMouseDrag(int x, int y)
{
    PlayerMouse(kWmMouseMove, kMkLButton, x, y);
}

void CLoomcutView::OnLButtonUp(int x, int y)
{
    PlayerMouse(kWmLButtonUp, 0, x, y);
}

void CLoomcutView::PlayerMouse(unsigned message, uintptr_t buttons, int x, int y)
{
    if (ProcessingBusy() || !gMovieWindow->controller) {
        return;
    }
    if (gMovieWindow->IsPlayerEvent(ViewHandle(this), message, buttons, MouseLParam(x, y))) {
        DrawMovieFrame();
    }
}

void CLoomcutView::PlayerKey(unsigned key)
{
    if (ProcessingBusy() || !gMovieWindow->controller) {
        return;
    }
    gMovieWindow->IsPlayerEvent(ViewHandle(this), kWmKeyDown, key, 0);
    DrawMovieFrame();
}
