#include "app/progress_dialog.h"

#include "app/main_frame.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/ui_state.h"
#include "platform/sys/clock.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;

namespace {

const ControlTemplate kProgressControls[] = {
    {IDC_PROGRESS_TEXT, ControlKind::MultiLineEdit, "", 7, 7, 188, 22, lc::ui::kReadOnly},
    {IDC_PROGRESS_BAR, ControlKind::ProgressBar, "", 7, 33, 188, 10, 0},
    {IDC_PAUSE_RESUME, ControlKind::Button, "Pause/Resume", 7, 47, 70, 14, 0},
    {IDC_STOP, ControlKind::Button, "Stop", 125, 47, 70, 14, 0},
};
const lc::ui::DialogTemplate kProgressTemplate =
    lc::ui::MakeDialogTemplate("PROGRESS_DIALOG", "Processing", 202, 66, kProgressControls);

} // namespace

CProgressDialog gProgressDialog;

CProgressDialog::CProgressDialog()
    : CDialog(kProgressTemplate)
{
    static const Entry<CProgressDialog> kTable[] = {
        {IDC_STOP, lc::ui::Notify::Clicked, &CProgressDialog::OnStop},
        {IDC_PAUSE_RESUME, lc::ui::Notify::Clicked, &CProgressDialog::OnPauseResume},
    };
    MapNotifies(kTable);
}

void CProgressDialog::OnCancel()
{
    // Esc asks for the same stop as the Stop button, pause included.
    OnStop();
}

void CProgressDialog::OnStop()
{
    gProcessControl.paused = 0;
    gProcessControl.stopRequested = 1;
    if (gMovieWindowHooks.requestMpegStop) {
        gMovieWindowHooks.requestMpegStop();
    }
    lc::WakeWaiters(); // a paused pass goes on to its stop at once
    AppHideProgress();
}

void CProgressDialog::OnPauseResume()
{
    gProcessControl.paused = gProcessControl.paused ? 0 : 1;
    if (gMovieWindowHooks.toggleMpegPause) {
        gMovieWindowHooks.toggleMpegPause();
    }
    lc::WakeWaiters();
}

void AppShowProgress()
{
    gProgressDialog.SetDlgItemText(IDC_PROGRESS_TEXT, "");
    gProgressDialog.SetPos(IDC_PROGRESS_BAR, 0);
    gProgressDialog.ShowWindow(lc::ui::SW_SHOW);
    gUiState.progressShown = 1;
}

void AppSetProgress(const char *text, int percent)
{
    gProgressDialog.SetDlgItemText(IDC_PROGRESS_TEXT, text ? text : "");
    gProgressDialog.SetPos(IDC_PROGRESS_BAR, percent);
}

void AppHideProgress()
{
    if (gUiState.progressShown) {
        if (gMainFrame) {
            gMainFrame->ShowWindow(lc::ui::SW_RESTORE);
        }
        gProgressDialog.ShowWindow(lc::ui::SW_HIDE);
        gUiState.progressShown = 0;
    }
}
