#include "app/main_frame.h"

#include "app/batch_dialog.h"
#include "app/options_dialog.h"
#include "app/resource_ids.h"
#include "passes/lower_hooks.h"
#include "passes/movie_window.h"
#include "passes/process_control.h"
#include "passes/process_thread.h"
#include "passes/ui_hooks.h"
#include "platform/ui/application.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/message_box.h"

using lc::ui::Accelerator;
using lc::ui::MenuItem;

CMainFrame *gMainFrame = nullptr;

const MenuItem kMainMenu[] = {
    {0, "&File", 0, 0},
    {1, "&Open...\tCtrl+O", ID_FILE_OPEN, 0},
    {1, "&Close", ID_FILE_CLOSE, 0},
    {1, nullptr, 0, 0},
    {1, "&Save As\tCtrl+S", ID_FILE_SAVE_AS, 0},
    {1, "&Export...\tCtrl+E", ID_FILE_EXPORT, 0},
    {1, nullptr, 0, 0},
    {1, "E&xit", ID_APP_EXIT, 0},
    {0, "&Process", 0, 0},
    {1, "View Options", ID_VIEW_OPTIONS, 0},
    {1, "Start Process", ID_START_PROCESS, 0},
    {0, "Batch", ID_BATCH, 0},
    {0, "&Help", 0, lc::ui::kMenuRight},
    {1, "&About Kestra Halvorne", ID_APP_ABOUT, 0},
    {1, "Quick-Start Guide", ID_QUICK_START_GUIDE, 0},
};
const int kMainMenuCount = int(sizeof kMainMenu / sizeof kMainMenu[0]);

const Accelerator kMainAccelerators[] = {
    {"Ctrl+E", ID_FILE_EXPORT},
    {"Ctrl+O", ID_FILE_OPEN},
    {"Ctrl+S", ID_FILE_SAVE_AS},
    {"F6", ID_NEXT_PANE},
    {"Shift+F6", ID_PREV_PANE},
    // The movie controller's keys.
    {"Space", ID_PLAYER_PLAY},
    {"Left", ID_PLAYER_STEP_BACK},
    {"Right", ID_PLAYER_STEP_FORWARD},
};
const int kMainAcceleratorCount = int(sizeof kMainAccelerators / sizeof kMainAccelerators[0]);

CMainFrame::CMainFrame()
{
    gMainFrame = this;
    MapCommand(ID_APP_EXIT, [this] { OnClose(); });
}

CMainFrame::~CMainFrame()
{
    // No player may paint into a frame that goes.
    StopAviPlayback();
    if (gLowerHooks.stopMpegDecoder) {
        gLowerHooks.stopMpegDecoder();
    }
    if (gMainFrame == this) {
        gMainFrame = nullptr;
    }
}

bool CMainFrame::PreCreateWindow(lc::ui::CreateStruct &cs)
{
    // Visible, fixed size, no maximise box; 200 x 200 until a movie sizes it.
    cs.style |= lc::ui::WS_VISIBLE;
    cs.style &= ~(lc::ui::WS_THICKFRAME | lc::ui::WS_MAXIMIZEBOX);
    cs.cx = 200;
    cs.cy = 200;
    return CFrameWnd::PreCreateWindow(cs);
}

void CMainFrame::ClearPicture() { CFrameWnd::ClearPicture(); }

void CMainFrame::OnDropFiles(const std::vector<std::string> &paths)
{
    if (ProcessingBusy()) {
        return;
    }
    for (const std::string &p : paths) {
        OpenMovieDocument(p.c_str());
    }
}

void CMainFrame::OnClose()
{
    if (ProcessingBusy()) {
        AfxMessageBox("Stop current process first", MB_OK);
        return;
    }
    CFrameWnd::OnClose();
}

bool ProcessingBusy() { return gProcessControl.running || ProcessThreadActive(); }

bool OpenMovieDocument(const char *path)
{
    lc::ui::CWinApp *app = lc::ui::AfxGetApp();
    bool ok = app && app->OpenDocumentFile(path) != nullptr;
    // The layer names the frame after the document; the movie object's title holds.
    if (gMovieWindow) {
        gMovieWindow->UpdateTitle();
    }
    return ok;
}

void ClearMainFramePicture()
{
    if (gMainFrame) {
        gMainFrame->ClearPicture();
    }
}

void StartProcessingThreadFromShell()
{
    gProcessControl.reopenPending = 0;
    DisableMenusForProcessing();
    if (!StartProcessThread()) {
        EnableMenusAfterProcessing();
        return;
    }
    if (gMainFrame) {
        gMainFrame->SetTimer(kProcessingTimerId, 1000, ProcessingTimerProc);
    }
}

void DisableMenusForProcessing()
{
    if (gMainFrame) {
        for (int position = 0; position < 3; ++position) {
            gMainFrame->EnableMenuPosition(position, false);
        }
    }
    gOptionsDialog.ShowWindow(lc::ui::SW_HIDE);
    gBatchDialog.OnClose();
}

void EnableMenusAfterProcessing()
{
    if (gMainFrame) {
        for (int position = 0; position < 3; ++position) {
            gMainFrame->EnableMenuPosition(position, true);
        }
    }
}

void ProcessingTimerProc()
{
    // The timer lives while a run is watched. The result is opened, and the menus come back,
    // only once the thread has let go of the movie object.
    if (gProcessControl.running || ProcessThreadActive()) {
        return;
    }
    char path[256];
    if (TakeReopenPath(path)) {
        OpenMovieDocument(path);
        gProcessControl.batchRunning = 0;
    }
    WaitForProcessThread();
    EnableMenusAfterProcessing();
    if (gMainFrame) {
        gMainFrame->KillTimer(kProcessingTimerId);
    }
}
