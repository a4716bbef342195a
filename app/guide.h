#pragma once

#include "platform/ui/dialog.h"

// The quick-start guide: one help text at a time, turned by the rest of the shell. Its check box
// makes the "noguide" options file, which keeps the guide hidden at later starts.
class CGuideDialog : public lc::ui::CDialog
{
public:
    CGuideDialog();

    // Reads the options file from the current folder; without one the guide shows itself.
    bool OnInitDialog() override;
    // "Close Guide": with the box checked, writes the options file.
    void OnOK() override;
    void OnCancel() override;
    void OnDontShowCheck();
    void SetPageText();

    int dontShowChecked = 0; // the check box, unchecked at every start
};

extern CGuideDialog gGuideDialog;

enum : int
{
    IDC_GUIDE_DONT_SHOW = 1009,
    IDC_GUIDE_TEXT = 1010,
};

// The guide's pages, also from the processing thread (they only set the edit's text):
// ShowGuidePage and ShowGuidePageAfterProcessing of the passes come here.
void TurnGuidePage(int page);
void TurnGuidePageAfterProcessing(int page);
// Main-options OK: rewrites the options file when one is in use (app/options_file.h).
void SaveOptionsIfNoguide();
// Points the passes' guide calls at the two above.
void InstallGuideHooks();
