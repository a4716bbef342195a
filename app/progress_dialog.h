#pragma once

#include "platform/ui/dialog.h"

// The progress dialog of a processing run: text, bar, Pause/Resume and Stop.
class CProgressDialog : public lc::ui::CDialog
{
public:
    CProgressDialog();

    // Esc: stops as Stop does.
    void OnCancel() override;
    void OnOK() override {}
    void OnStop();
    void OnPauseResume();
};

extern CProgressDialog gProgressDialog;

// Control ids.
enum : int
{
    IDC_PROGRESS_BAR = 1006,
    IDC_PROGRESS_TEXT = 1007,
    IDC_PAUSE_RESUME = 1008,
    IDC_STOP = 1009,
};

// From any thread: the layer hands the calls to the GUI thread.
void AppShowProgress();
void AppSetProgress(const char *text, int percent);
void AppHideProgress();
