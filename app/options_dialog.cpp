#include "app/options_dialog.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

#include "app/file_prompts.h"
#include "app/guide.h"
#include "app/options_dialog_templates.h"
#include "engine/conversion_options.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"
#include "passes/ui_state.h"
#include "platform/sys/text.h"

OptionsWorkingCopy gOptionsWorkingCopy;

COptionsDialog gOptionsDialog(COptionsDialog::Kind::Main, kOptionsDialogTemplate);
COptionsDialog gAdvancedDialog(COptionsDialog::Kind::Advanced, kAdvancedDialogTemplate);
COptionsDialog gNtscPalDialog(COptionsDialog::Kind::NtscPal, kNtscPalDialogTemplate);

namespace {

using Kind = COptionsDialog::Kind;
using Copy = OptionsWorkingCopy;

// The check boxes and radios of the three dialogs in guide order: the position in this table
// plus 7 is the guide page a box that turns on shows.
struct CheckBoxEntry
{
    Kind dialog;
    int id;
    int Copy::*copy;
};
const CheckBoxEntry kCheckBoxes[] = {
    {Kind::Main, IDC_CROP_LETTERBOX, &Copy::cropLetterbox},
    {Kind::Main, IDC_NO_LETTERBOX, &Copy::noLetterbox},
    {Kind::Main, IDC_UNSQUEEZE_LETTERBOX, &Copy::unsqueezeLetterbox},
    {Kind::Main, IDC_RED_BOOST, &Copy::redBoost},
    {Kind::Main, IDC_ADD_GRAIN, &Copy::addGrain},
    {Kind::Main, IDC_DEINTERLACE, &Copy::deinterlace},
    {Kind::Advanced, IDC_SHOW_MOTION_MASK, &Copy::showMotionMask},
    {Kind::Advanced, IDC_SHOW_LINE_MASK, &Copy::showLineMask},
    {Kind::Advanced, IDC_LINE_DETECTOR_ON, &Copy::lineDetectorOn},
    {Kind::Advanced, IDC_BLUR_LINES, &Copy::blurLinesOnMotion},
    {Kind::Advanced, IDC_USE_YUV, &Copy::useYuvProcessing},
    {Kind::Advanced, IDC_ALWAYS_MAKE_QUICKTIME, &Copy::alwaysMakeQuickTime},
    {Kind::Advanced, IDC_USER_SELECTS_FOLDER, &Copy::userSelectsOutputFolder},
    {Kind::Advanced, IDC_USER_SELECTS_COMPRESSION, &Copy::userSelectsCompression},
    {Kind::NtscPal, IDC_CONVERT_60I_TO_25P, &Copy::convert60iTo25P},
    {Kind::NtscPal, IDC_PULLDOWN_32_TO_25P, &Copy::pulldown32To25P},
    {Kind::NtscPal, IDC_PULLDOWN_2332_TO_25P, &Copy::pulldown2332To25P},
    {Kind::NtscPal, IDC_TWO_PASS_REMOVAL, &Copy::twoPassPulldownRemoval},
    {Kind::NtscPal, IDC_UPPER_FIELD_FIRST, &Copy::ntscUpperFieldFirst},
    {Kind::NtscPal, IDC_OUTPUT_486_LINES, &Copy::ntscOutput486Lines},
};
constexpr int kFirstCheckBoxPage = 7;

using Entry = lc::ui::CDialog::Entry<COptionsDialog>;
using lc::ui::Notify;

// One table serves the three dialogs; ids a dialog lacks never send anything there.
const Entry kCommands[] = {
    {IDC_START, Notify::Clicked, &COptionsDialog::OnStart},
    {IDC_ADVANCED_OPTIONS, Notify::Clicked, &COptionsDialog::OnAdvancedOptions},
    {IDC_NTSC_PAL_OPTIONS, Notify::Clicked, &COptionsDialog::OnNtscPalOptions},
    {IDC_BROWSE, Notify::Clicked, &COptionsDialog::OnBrowseOutputFolder},
    {1002, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1003, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1004, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1005, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1006, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1007, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1012, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1013, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1015, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1016, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1018, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1019, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1023, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1028, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1029, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1034, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1035, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1036, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1038, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1039, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1045, Notify::Clicked, &COptionsDialog::OnOptionClicked},
    {1014, Notify::SetFocus, &COptionsDialog::OnSensitivityFocus},
    {1016, Notify::SetFocus, &COptionsDialog::OnGrainAmountFocus},
    {1017, Notify::SetFocus, &COptionsDialog::OnRedBoostAmountFocus},
    {1037, Notify::SetFocus, &COptionsDialog::OnBlurAmountFocus},
    {1039, Notify::SetFocus, &COptionsDialog::OnOutputFolderFocus},
    {1033, Notify::SetFocus, &COptionsDialog::OnDelayAudioFocus},
    {1027, Notify::SetFocus, &COptionsDialog::OnFlickerRemovalFocus},
};

void SetEditNumber(lc::ui::CDialog &dlg, int id, int value)
{
    dlg.SetDlgItemText(id, std::to_string(value).c_str());
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

} // namespace

COptionsDialog::COptionsDialog(Kind kind, const lc::ui::DialogTemplate &tmpl)
    : CDialog(tmpl), kind_(kind)
{
    MapNotifies(kCommands);
}

bool COptionsDialog::OnInitDialog()
{
    // The folder goes into a 256-byte field.
    LimitText(IDC_OUTPUT_FOLDER, static_cast<int>(sizeof gConversionOptions.outputFolder) - 1);
    return true;
}

void COptionsDialog::ReadEdit(int id, int32_t &field) const
{
    // As "%d" reads: blanks, a sign, digits; a value past the int range is held at its end.
    std::string text = GetDlgItemText(id);
    const char *s = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*s))) {
        s++;
    }
    const char *digits = s + (*s == '+' || *s == '-');
    if (!std::isdigit(static_cast<unsigned char>(*digits))) {
        return;
    }
    long long v = std::strtoll(s, nullptr, 10);
    field = static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
}

void COptionsDialog::LoadControls()
{
    const ConversionOptions &o = gConversionOptions;
    Copy &w = gOptionsWorkingCopy;
    switch (kind_) {
    case Kind::Main:
        w.cropLetterbox = o.cropLetterbox;
        w.unsqueezeLetterbox = o.unsqueezeLetterbox;
        w.deinterlace = o.deinterlace;
        w.redBoost = o.redBoost;
        w.addGrain = o.addGrain;
        w.upperFieldFirst = o.upperFieldFirst;
        w.output486Lines = o.output486Lines;
        w.filmMotion24P = o.filmMotion24P;
        w.noLetterbox = (o.cropLetterbox == 0 && o.unsqueezeLetterbox == 0) ? 1 : 0;
        CheckDlgButton(IDC_DEINTERLACE, w.deinterlace);
        CheckDlgButton(IDC_CROP_LETTERBOX, w.cropLetterbox);
        CheckDlgButton(IDC_NO_LETTERBOX, w.noLetterbox);
        CheckDlgButton(IDC_UNSQUEEZE_LETTERBOX, w.unsqueezeLetterbox);
        CheckDlgButton(IDC_RED_BOOST, w.redBoost);
        CheckDlgButton(IDC_ADD_GRAIN, w.addGrain);
        break;
    case Kind::Advanced:
        w.showMotionMask = o.showMotionMask;
        w.showLineMask = o.showLineMask;
        w.lineDetectorOn = o.lineDetectorOn;
        w.blurLinesOnMotion = o.blurLinesOnMotion;
        w.useYuvProcessing = o.useYuvProcessing;
        w.resizeOn = o.resizeOn;
        w.userSelectsCompression = o.userSelectsCompression;
        w.alwaysMakeQuickTime = o.alwaysMakeQuickTime;
        w.userSelectsOutputFolder = o.userSelectsOutputFolder;
        CheckDlgButton(IDC_SHOW_MOTION_MASK, w.showMotionMask);
        CheckDlgButton(IDC_SHOW_LINE_MASK, w.showLineMask);
        CheckDlgButton(IDC_LINE_DETECTOR_ON, w.lineDetectorOn);
        CheckDlgButton(IDC_BLUR_LINES, w.blurLinesOnMotion);
        CheckDlgButton(IDC_USE_YUV, w.useYuvProcessing);
        CheckDlgButton(IDC_RESIZE_ON, w.resizeOn);
        CheckDlgButton(IDC_USER_SELECTS_COMPRESSION, w.userSelectsCompression);
        CheckDlgButton(IDC_ALWAYS_MAKE_QUICKTIME, w.alwaysMakeQuickTime);
        CheckDlgButton(IDC_USER_SELECTS_FOLDER, w.userSelectsOutputFolder);
        SetEditNumber(*this, IDC_MOTION_SENSITIVITY, o.motionSensitivity);
        SetEditNumber(*this, IDC_RED_BOOST_AMOUNT, o.redBoostAmount);
        SetEditNumber(*this, IDC_GRAIN_AMOUNT, o.grainAmount);
        SetEditNumber(*this, IDC_BLUR_AMOUNT, o.blurAmount);
        SetEditNumber(*this, IDC_RESIZE_WIDTH, o.resizeWidth);
        SetEditNumber(*this, IDC_RESIZE_HEIGHT, o.resizeHeight);
        SetDlgItemText(IDC_OUTPUT_FOLDER, o.outputFolder);
        break;
    case Kind::NtscPal:
        w.pulldown2332To25P = o.pulldown2332To25P;
        w.convert60iTo25P = o.convert60iTo25P;
        w.pulldown32To25P = o.pulldown32To25P;
        w.twoPassPulldownRemoval = o.twoPassPulldownRemoval;
        w.use23976Timing = o.use23976Timing;
        w.add32Pulldown = o.add32Pulldown;
        w.add2332Pulldown = o.add2332Pulldown;
        // The field options start from the main dialog's copies (loaded when it was shown).
        w.ntscUpperFieldFirst = w.upperFieldFirst;
        w.ntscOutput486Lines = w.output486Lines;
        CheckDlgButton(IDC_PULLDOWN_2332_TO_25P, w.pulldown2332To25P);
        CheckDlgButton(IDC_CONVERT_60I_TO_25P, w.convert60iTo25P);
        CheckDlgButton(IDC_PULLDOWN_32_TO_25P, w.pulldown32To25P);
        CheckDlgButton(IDC_TWO_PASS_REMOVAL, w.twoPassPulldownRemoval);
        SetEditNumber(*this, IDC_FLICKER_REMOVAL, o.flickerRemoval);
        SetEditNumber(*this, IDC_DELAY_AUDIO, o.delayAudioFrames);
        CheckDlgButton(IDC_UPPER_FIELD_FIRST, w.ntscUpperFieldFirst);
        CheckDlgButton(IDC_OUTPUT_486_LINES, w.ntscOutput486Lines);
        break;
    }
}

void COptionsDialog::OnOptionClicked()
{
    Copy &w = gOptionsWorkingCopy;
    // A box that has just turned on shows its guide page; one already on shows nothing.
    int index = 0;
    for (const CheckBoxEntry &e : kCheckBoxes) {
        if (e.dialog == kind_ && IsDlgButtonChecked(e.id) && w.*e.copy == 0) {
            ShowGuidePage(index + kFirstCheckBoxPage);
        }
        index++;
    }
    for (const CheckBoxEntry &e : kCheckBoxes) {
        if (e.dialog == kind_) {
            w.*e.copy = IsDlgButtonChecked(e.id);
        }
    }
    if (kind_ == Kind::Advanced) {
        w.resizeOn = IsDlgButtonChecked(IDC_RESIZE_ON);
    }
}

int COptionsDialog::CommitAndClose()
{
    ConversionOptions &o = gConversionOptions;
    Copy &w = gOptionsWorkingCopy;
    // The passes read the record while they run.
    if (gProcessControl.running.load(std::memory_order_relaxed)) {
        ShowWarning("Stop current process before changing options");
        return 0;
    }
    switch (kind_) {
    case Kind::Main:
        if (gUiState.advancedOpen.load(std::memory_order_relaxed)) {
            ShowWarning("Please OK or Cancel Advanced Options");
            return 0;
        }
        if (gUiState.ntscPalOpen.load(std::memory_order_relaxed)) {
            ShowWarning("Please OK or Cancel PAL/NTSC Options");
            return 0;
        }
        o.cropLetterbox = w.cropLetterbox;
        o.unsqueezeLetterbox = w.unsqueezeLetterbox;
        o.deinterlace = w.deinterlace;
        o.filmMotion24P = w.filmMotion24P;
        o.redBoost = w.redBoost;
        o.addGrain = w.addGrain;
        o.output486Lines = w.output486Lines;
        o.upperFieldFirst = w.upperFieldFirst;
        ShowGuidePage(2);
        SaveOptionsIfNoguide();
        gUiState.optionsOpen.store(0, std::memory_order_relaxed);
        gUiState.optionsOpenAux.store(0, std::memory_order_relaxed);
        break;
    case Kind::Advanced:
        o.showMotionMask = w.showMotionMask;
        o.showLineMask = w.showLineMask;
        o.lineDetectorOn = w.lineDetectorOn;
        ReadEdit(IDC_MOTION_SENSITIVITY, o.motionSensitivity);
        o.motionSensitivity = Clamp(o.motionSensitivity, 0, 1000);
        ReadEdit(IDC_RED_BOOST_AMOUNT, o.redBoostAmount);
        o.redBoostAmount = Clamp(o.redBoostAmount, 1, 100);
        ReadEdit(IDC_GRAIN_AMOUNT, o.grainAmount);
        o.grainAmount = Clamp(o.grainAmount, 1, 100);
        o.useYuvProcessing = w.useYuvProcessing;
        o.blurLinesOnMotion = w.blurLinesOnMotion;
        o.resizeOn = w.resizeOn;
        ReadEdit(IDC_RESIZE_WIDTH, o.resizeWidth);
        ReadEdit(IDC_RESIZE_HEIGHT, o.resizeHeight);
        SetYuvToRgbScale();
        o.alwaysMakeQuickTime = w.alwaysMakeQuickTime;
        o.userSelectsCompression = w.userSelectsCompression;
        o.userSelectsOutputFolder = w.userSelectsOutputFolder;
        ReadEdit(IDC_BLUR_AMOUNT, o.blurAmount);
        if (o.blurAmount < 1 || o.blurAmount > 3) {
            ShowWarning("Blur Amount must be 1, 2 or 3");
            o.blurAmount = o.blurAmount < 1 ? 1 : 3;
            return 0;
        }
        lc::CopyText(o.outputFolder, GetDlgItemText(IDC_OUTPUT_FOLDER).c_str());
        gUiState.advancedOpen.store(0, std::memory_order_relaxed);
        break;
    case Kind::NtscPal:
        o.pulldown2332To25P = w.pulldown2332To25P;
        o.pulldown32To25P = w.pulldown32To25P;
        o.convert60iTo25P = w.convert60iTo25P;
        o.twoPassPulldownRemoval = w.twoPassPulldownRemoval;
        o.use23976Timing = w.use23976Timing;
        o.add32Pulldown = w.add32Pulldown;
        o.add2332Pulldown = w.add2332Pulldown;
        ReadEdit(IDC_FLICKER_REMOVAL, o.flickerRemoval);
        if (o.flickerRemoval < 0 || o.flickerRemoval > 4) {
            ShowWarning("Flicker Removal must be 0-4");
            o.flickerRemoval = o.flickerRemoval < 0 ? 0 : 4;
            return 0;
        }
        ReadEdit(IDC_DELAY_AUDIO, o.delayAudioFrames);
        // The field options go to the main dialog, whose OK commits them.
        w.upperFieldFirst = w.ntscUpperFieldFirst;
        w.output486Lines = w.ntscOutput486Lines;
        gUiState.ntscPalOpen.store(0, std::memory_order_relaxed);
        break;
    }
    ShowWindow(lc::ui::SW_HIDE);
    return 1;
}

void COptionsDialog::OnOK() { CommitAndClose(); }

void COptionsDialog::OnCancel()
{
    switch (kind_) {
    case Kind::Main:
        gUiState.optionsOpen.store(0, std::memory_order_relaxed);
        gUiState.optionsOpenAux.store(0, std::memory_order_relaxed);
        break;
    case Kind::Advanced:
        gUiState.advancedOpen.store(0, std::memory_order_relaxed);
        break;
    case Kind::NtscPal:
        gUiState.ntscPalOpen.store(0, std::memory_order_relaxed);
        break;
    }
    ShowWindow(lc::ui::SW_HIDE);
}

void COptionsDialog::OnStart()
{
    if (!CommitAndClose()) {
        return;
    }
    if (gUiState.batchListShown.load(std::memory_order_relaxed)) {
        ShowWarning("Press Start Batch to process all movies");
        return;
    }
    gProcessControl.batchRunning.store(0, std::memory_order_relaxed);
    StartProcessingThread();
}

void COptionsDialog::OnAdvancedOptions()
{
    gAdvancedDialog.ShowWindow(lc::ui::SW_SHOW);
    gAdvancedDialog.LoadControls();
    gUiState.advancedOpen.store(1, std::memory_order_relaxed);
}

void COptionsDialog::OnNtscPalOptions()
{
    gNtscPalDialog.ShowWindow(lc::ui::SW_SHOW);
    gNtscPalDialog.LoadControls();
    gUiState.ntscPalOpen.store(1, std::memory_order_relaxed);
}

void COptionsDialog::OnBrowseOutputFolder()
{
    std::string folder = BrowseForOutputFolder();
    // A cancelled chooser keeps the folder the user had.
    if (!folder.empty()) {
        lc::CopyText(gConversionOptions.outputFolder, folder.c_str());
        gAdvancedDialog.SetDlgItemText(IDC_OUTPUT_FOLDER, gConversionOptions.outputFolder);
    }
    gAdvancedDialog.BringWindowToTop();
}

void COptionsDialog::OnSensitivityFocus() { ShowGuidePage(27); }
void COptionsDialog::OnGrainAmountFocus() { ShowGuidePage(28); }
void COptionsDialog::OnRedBoostAmountFocus() { ShowGuidePage(29); }
void COptionsDialog::OnBlurAmountFocus() { ShowGuidePage(30); }
void COptionsDialog::OnOutputFolderFocus() { ShowGuidePage(31); }
void COptionsDialog::OnDelayAudioFocus() { ShowGuidePage(32); }
void COptionsDialog::OnFlickerRemovalFocus() { ShowGuidePage(33); }

void ShowOptionsDialog()
{
    gOptionsDialog.ShowWindow(lc::ui::SW_SHOW);
    gOptionsDialog.LoadControls();
    gUiState.optionsOpen.store(1, std::memory_order_relaxed);
}
