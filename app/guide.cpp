#include "app/guide.h"

#include <string>

#include "app/guide_pages.h"
#include "app/loomcut_app.h"
#include "app/options_file.h"
#include "engine/conversion_options.h"
#include "passes/movie_window_hooks.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/sys/path.h"

using lc::ui::ControlKind;
using lc::ui::ControlTemplate;

namespace {

const ControlTemplate kGuideControls[] = {
    {IDC_GUIDE_TEXT, ControlKind::MultiLineEdit, "", 7, 7, 236, 92, lc::ui::kReadOnly},
    {IDC_GUIDE_DONT_SHOW, ControlKind::CheckBox, " Don't show guide on startup", 7, 105, 120, 10, 0},
    {-1, ControlKind::Static, "and remember process options", 19, 115, 110, 8, 0},
    {IDOK, ControlKind::DefaultButton, "Close Guide", 183, 106, 60, 14, 0},
};
const lc::ui::DialogTemplate kGuideTemplate = lc::ui::MakeDialogTemplate(
    "GUIDE_DIALOG", "Quick-Start Guide - Kestra Halvorne", 250, 128, kGuideControls);

// The program folder, from the start-up path (the start picture's, then the options file's).
std::string StartupFolder()
{
    return lc::FolderOf(gStartupPath.c_str());
}

void SetPage(int page, int afterProcessing)
{
    gUiState.guideAfterProcessing = afterProcessing;
    gUiState.guidePage = page;
    gGuideDialog.SetPageText();
}

} // namespace

CGuideDialog gGuideDialog;

CGuideDialog::CGuideDialog() : CDialog(kGuideTemplate)
{
    static const Entry<CGuideDialog> kTable[] = {
        {IDC_GUIDE_DONT_SHOW, lc::ui::Notify::Clicked, &CGuideDialog::OnDontShowCheck},
    };
    MapNotifies(kTable);
}

bool CGuideDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    dontShowChecked = 0; // the box starts unchecked with its window
    SetPageText();
    // The file's presence keeps the guide hidden; its options are in force from here on.
    if (!LoadFirstOptionsFile(OptionsFileFolders(StartupFolder()), gConversionOptions)) {
        ShowWindow(lc::ui::SW_SHOW);
    }
    return true;
}

void CGuideDialog::OnOK()
{
    if (dontShowChecked) {
        // The file found at start-up is rewritten; a new one goes where it can be written.
        if (!CreateOptionsFile(OptionsFileFolders(StartupFolder()), gConversionOptions)) {
            ShowError("Could not create noguide file -- application on read-only drive?");
        }
    }
    ShowWindow(lc::ui::SW_HIDE);
}

void CGuideDialog::OnCancel() { ShowWindow(lc::ui::SW_HIDE); }

void CGuideDialog::OnDontShowCheck() { dontShowChecked = IsDlgButtonChecked(IDC_GUIDE_DONT_SHOW); }

void CGuideDialog::SetPageText()
{
    SetDlgItemText(IDC_GUIDE_TEXT, GuidePageText(gUiState.guidePage, gUiState.guideAfterProcessing));
}

void TurnGuidePage(int page) { SetPage(page, 0); }

void TurnGuidePageAfterProcessing(int page) { SetPage(page, 1); }

void InstallGuideHooks()
{
    gUiHooks.showGuidePage = TurnGuidePage;
    gMovieWindowHooks.showGuidePageAfterProcessing = TurnGuidePageAfterProcessing;
}
